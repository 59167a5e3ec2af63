#include "update/commit.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "base/format_text.h"
#include "base/texts.h"
#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/path_text.h"
#include "ui/host.h"
#include "update/entry_path.h"
#include "update/file_operations.h"
#include "update/package_tables.h"
#include "update/run_context.h"
#include "update/update_run.h"

namespace gp {

namespace {

using format::CommitJournal;
using format::JournalStep;

// A journal of the largest list is a few tens of MiB; anything longer is not ours.
constexpr uint64_t kMaxJournalBytes = 64u * 1024u * 1024u;

bool IsAside(const JournalStep& step) { return step.kind == format::kJournalKindSetAside; }
bool IsMove(const JournalStep& step) { return step.kind == format::kJournalKindMoveIn; }

std::string Key(const std::string& path) { return platform::UpperCaseCp932(path); }

// For each target of a move step (by the case-insensitive key), that step.
std::map<std::string, const JournalStep*> MovesByTarget(const CommitJournal& journal) {
  std::map<std::string, const JournalStep*> moves;
  for (const JournalStep& step : journal.steps) {
    if (IsMove(step)) moves.emplace(Key(step.to), &step);
  }
  return moves;
}

// For each file set aside (by the case-insensitive key), that step.
std::map<std::string, const JournalStep*> AsidesByFile(const CommitJournal& journal) {
  std::map<std::string, const JournalStep*> asides;
  for (const JournalStep& step : journal.steps) {
    if (IsAside(step)) asides.emplace(Key(step.from), &step);
  }
  return asides;
}

bool Rename(RunContext& context, const std::string& from, const std::string& to) {
  const bool done = platform::RenameFile(from.c_str(), to.c_str());
  context.log.Line("commit: %s %s -> %s", done ? "renamed" : "could not rename", from.c_str(),
                   to.c_str());
  return done;
}

// The case-insensitive key of the folder that holds the file at path ("" for none).
std::string FolderKey(const std::string& path) {
  const char* slash = FindLastBackslash(path.c_str());
  if (slash == nullptr) return std::string();
  return Key(path.substr(0, static_cast<size_t>(slash - path.c_str())));
}

// Files moved in as second names of unchanged files get their entries' times and attributes;
// aside files become backups or go; folders left empty go; every step's file is accounted for.
void Finish(RunContext& context, const CommitJournal& journal) {
  for (const JournalStep& step : journal.steps) {
    format::JournalStampBytes header;
    if (step.kind != format::kJournalKindStamp || !FileExists(step.from.c_str()) ||
        !format::ParseJournalStamp(step.to, &header)) {
      continue;
    }
    const bool stamped = StampFile(step.from.c_str(), header);
    context.log.Line("commit: %s %s", stamped ? "stamped" : "could not stamp", step.from.c_str());
  }
  // Each folder that a retired file leaves is cleaned once, after all of them are gone: a
  // walk per file would go through the same folder (and all below it) again for every file.
  std::map<std::string, const JournalStep*> folders_to_clean;  // one retired file of each
  for (const JournalStep& step : journal.steps) {
    if (!IsAside(step)) continue;
    if (FileExists(step.to.c_str())) {
      const std::string backup = step.from + kBackupSuffix;
      if ((step.flags & format::kJournalKeepBackup) != 0 && !FileExists(backup.c_str())) {
        Rename(context, step.to, backup);
      } else {
        const bool deleted = ForceDeleteFile(step.to.c_str());
        context.log.Line("commit: %s %s", deleted ? "deleted" : "could not delete",
                         step.to.c_str());
      }
    }
    if ((step.flags & format::kJournalRemoveEmptyFolder) != 0) {
      folders_to_clean.emplace(FolderKey(step.from), &step);
    }
  }
  for (const auto& [key, step] : folders_to_clean) RemoveFolderIfEmpty(step->from.c_str());
}

// Whether the move step has been carried out, judged from the disk: its stage file is gone and
// its target is there, and the target is not the old file still waiting to be set aside.
bool MoveDone(const JournalStep& move, const std::map<std::string, const JournalStep*>& asides) {
  if (FileExists(move.from.c_str()) || !FileExists(move.to.c_str())) return false;
  const auto aside = asides.find(Key(move.to));
  return aside == asides.end() || FileExists(aside->second->to.c_str());
}

// Carries out every step not yet done, then the finish. False at the first step that cannot be
// done (nothing after it is tried).
bool RollForward(RunContext& context, const CommitJournal& journal) {
  const auto moves = MovesByTarget(journal);
  for (const JournalStep& step : journal.steps) {
    if (!IsAside(step)) continue;
    if (FileExists(step.to.c_str()) || !FileExists(step.from.c_str())) continue;
    // The file is there: still the old one, unless the new one has already taken its place.
    const auto move = moves.find(Key(step.from));
    if (move != moves.end() && !FileExists(move->second->from.c_str())) continue;
    if (!Rename(context, step.from, step.to)) return false;
  }
  for (const JournalStep& step : journal.steps) {
    if (!IsMove(step)) continue;
    const bool staged = FileExists(step.from.c_str());
    const bool placed = FileExists(step.to.c_str());
    if (!staged && placed) continue;
    if (!staged || placed) {
      context.log.Line("commit: cannot move %s to %s", step.from.c_str(), step.to.c_str());
      return false;
    }
    if (!Rename(context, step.from, step.to)) return false;
  }
  Finish(context, journal);
  return true;
}

// Undoes the moves and puts the aside files back, in reverse order; the stage files of the
// commit are deleted. False when some file could not be put back.
bool RollBack(RunContext& context, const CommitJournal& journal) {
  const auto asides = AsidesByFile(journal);
  bool whole = true;
  for (auto step = journal.steps.rbegin(); step != journal.steps.rend(); ++step) {
    if (!IsMove(*step)) continue;
    if (MoveDone(*step, asides)) {
      const bool deleted = ForceDeleteFile(step->to.c_str());
      context.log.Line("commit: %s %s", deleted ? "took back" : "could not take back",
                       step->to.c_str());
      whole = whole && deleted;
    }
  }
  for (auto step = journal.steps.rbegin(); step != journal.steps.rend(); ++step) {
    if (!IsAside(*step) || !FileExists(step->to.c_str())) continue;
    if (FileExists(step->from.c_str()) || !Rename(context, step->to, step->from)) whole = false;
  }
  for (const JournalStep& step : journal.steps) {
    if (IsMove(step) && FileExists(step.from.c_str())) ForceDeleteFile(step.from.c_str());
  }
  return whole;
}

bool WriteJournal(RunContext& context, const std::string& path, const CommitJournal& journal) {
  std::vector<uint8_t> bytes;
  if (!SealCommitJournal(journal, &bytes)) return false;
  const std::string temp = path + kCommitJournalTempSuffix;
  platform::File file;
  bool written = file.Open(temp.c_str(), platform::kAccessWrite, platform::kShareNone,
                           platform::Disposition::kCreateAlways) &&
                 platform::WriteAll(file, bytes.data(), bytes.size()) && file.Flush();
  file.Close();
  written = written && platform::RenameFile(temp.c_str(), path.c_str());
  if (!written) ForceDeleteFile(temp.c_str());
  context.log.Line("commit: %s %s (%u steps)", written ? "journal written" : "could not write journal",
                   path.c_str(), static_cast<unsigned>(journal.steps.size()));
  return written;
}

// The journal at path: kOk and journal filled, or why not.
format::JournalStatus ReadJournal(const std::string& path, CommitJournal* journal) {
  platform::File file;
  uint64_t size = 0;
  if (!file.Open(path.c_str(), platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting) ||
      !file.Size(&size) || size > kMaxJournalBytes) {
    return format::JournalStatus::kTooShort;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return format::JournalStatus::kTooShort;
  }
  if (!platform::ReadExact(file, bytes.data(), bytes.size())) {
    return format::JournalStatus::kTooShort;
  }
  const size_t body = bytes.size() >= format::kJournalChecksumSize
                          ? bytes.size() - format::kJournalChecksumSize
                          : 0;
  return format::DecodeCommitJournal(bytes, Crc32Update(0, bytes.data(), static_cast<int64_t>(body)),
                                     journal);
}

void DeleteLeftoverStageFiles(RunContext& context) {
  const PackageTables& package = context.package;
  if (package.generations == nullptr) return;
  for (int k = 1; k < package.generation_count && k <= 999; ++k) {
    char suffix[24];
    FormatInto(suffix, sizeof suffix, ".new%d", k);
    DeleteStageFiles(context, k, suffix);
  }
}

}  // namespace

bool CommitJournalPath(const PackageTables& package, std::string* path) {
  const char* folder = package.destination_folder.get();
  if (folder == nullptr || folder[0] == '\0') return false;
  std::string text(folder);
  // A folder given with its final backslash (a drive's root folder) keeps it; the test steps
  // over double-byte characters, whose second byte may be 0x5C.
  const char* last = FindLastBackslash(folder);
  if (last == nullptr || last[1] != '\0') text += '\\';
  *path = text + kCommitJournalName;
  return true;
}

bool SealCommitJournal(const CommitJournal& journal, std::vector<uint8_t>* bytes) {
  if (!format::EncodeCommitJournal(journal, bytes)) return false;
  format::AppendJournalChecksum(bytes,
                                Crc32Update(0, bytes->data(), static_cast<int64_t>(bytes->size())));
  return true;
}

bool CheckCommitAccess(RunContext& context, const CommitJournal& plan) {
  for (const JournalStep& step : plan.steps) {
    if (!IsAside(step)) continue;
    context.run.last_check_failed = static_cast<uint32_t>(CheckFileAccess(context, step.from.c_str()));
    if (context.run.last_check_failed != 0) {
      context.log.Line("commit: %s stays in use; nothing is committed", step.from.c_str());
      return false;
    }
  }
  return true;
}

// Completes the flush of every stage file that the commit moves in, all of them started while
// they were written, so that the disk has them before the journal names them.
static bool FinishStageFlushes(RunContext& context, const CommitJournal& plan) {
  std::vector<std::string> stage_files;
  for (const JournalStep& step : plan.steps) {
    if (step.kind == format::kJournalKindMoveIn) stage_files.push_back(step.from);
  }
  std::string failed;
  bool disk_full = false;
  if (platform::FinishFlushes(stage_files.data(), stage_files.size(), &failed, &disk_full)) {
    return true;
  }
  context.log.Line("commit: %s cannot be flushed to the disk%s; nothing is committed",
                   failed.c_str(), disk_full ? " (the disk is full)" : "");
  return false;
}

bool CarryOutCommit(RunContext& context, const CommitJournal& plan) {
  if (plan.steps.empty()) return true;
  if (!FinishStageFlushes(context, plan)) return false;
  std::string path;
  if (!CommitJournalPath(context.package, &path) || FileExists(path.c_str()) ||
      !WriteJournal(context, path, plan)) {
    return false;
  }
  for (const JournalStep& step : plan.steps) {
    if ((!IsAside(step) && !IsMove(step)) || Rename(context, step.from, step.to)) continue;
    const bool restored = RollBack(context, plan);
    if (restored) ForceDeleteFile(path.c_str());
    context.log.Line("commit: rolled back%s", restored ? "" : " in part; the journal stays");
    return false;
  }
  Finish(context, plan);
  ForceDeleteFile(path.c_str());
  context.log.Line("commit: done, journal deleted");
  return true;
}

RecoveryOutcome RecoverInterruptedCommit(RunContext& context) {
  RecoveryOutcome outcome = RecoveryOutcome::kNone;
  std::string path;
  if (CommitJournalPath(context.package, &path)) {
    const std::string temp = path + kCommitJournalTempSuffix;
    if (FileExists(temp.c_str())) {
      ForceDeleteFile(temp.c_str());
      context.log.Line("recovery: deleted the unfinished journal %s", temp.c_str());
    }
    if (FileExists(path.c_str())) {
      CommitJournal journal;
      const format::JournalStatus status = ReadJournal(path, &journal);
      if (status != format::JournalStatus::kOk) {
        ForceDeleteFile(path.c_str());
        context.log.Line("recovery: %s is damaged (%d) and was deleted", path.c_str(),
                         static_cast<int>(status));
      } else {
        context.log.Line("recovery: found %s (%u steps)", path.c_str(),
                         static_cast<unsigned>(journal.steps.size()));
        if (RollForward(context, journal)) {
          outcome = RecoveryOutcome::kCompleted;
        } else {
          outcome = RollBack(context, journal) ? RecoveryOutcome::kRolledBack
                                               : RecoveryOutcome::kFailed;
        }
        if (outcome != RecoveryOutcome::kFailed) ForceDeleteFile(path.c_str());
        context.log.Line("recovery: %s",
                         outcome == RecoveryOutcome::kCompleted    ? "commit completed"
                         : outcome == RecoveryOutcome::kRolledBack ? "commit rolled back"
                                                                   : "failed; the journal stays");
      }
    }
  }
  DeleteLeftoverStageFiles(context);
  const char* text = outcome == RecoveryOutcome::kCompleted    ? texts::kTextCommitCompleted
                     : outcome == RecoveryOutcome::kRolledBack ? texts::kTextCommitRolledBack
                                                               : nullptr;
  if (text != nullptr) {
    context.host.MessageBox(nullptr, text, context.package.Text(kSlotMessageCaption), ui::kMbOk);
  }
  return outcome;
}

}  // namespace gp
