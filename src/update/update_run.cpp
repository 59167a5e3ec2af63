#include "update/update_run.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "base/format_text.h"
#include "base/texts.h"
#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/path_text.h"
#include "update/commit.h"
#include "update/detection.h"
#include "update/entry_path.h"
#include "update/file_list.h"
#include "update/file_operations.h"
#include "update/space_check.h"

namespace gp {

namespace {

// Stage suffixes are ".new" and a list number of at most three digits.
constexpr int kMaxLists = 999;
constexpr size_t kSuffixSize = 8;
// The largest list the format can describe: 32,767 entries of 12 + 4 x 255 bytes.
constexpr int32_t kMaxListBytes = 2 + 32767 * (12 + 4 * 255);

const char* Caption(const RunContext& context) { return context.package.Text(kSlotMessageCaption); }

void ShowText(RunContext& context, const char* text) {
  context.host.MessageBox(nullptr, text, Caption(context), ui::kMbOk);
}

void ShowFailureText(RunContext& context) {
  ShowText(context, context.package.Text(kSlotFailureText));
}

// ".new" and the list number (at most three digits, checked before the passes start).
void FormatSuffix(int k, char* out) {
  char text[24];
  FormatInto(text, sizeof(text), ".new%d", k);
  std::memcpy(out, text, kSuffixSize - 1);
  out[kSuffixSize - 1] = '\0';
}

// buffer (kEntryPathBufferSize bytes) += suffix; false when the result would not fit.
bool AppendSuffix(char* buffer, const char* suffix) {
  const size_t have = std::strlen(buffer);
  const size_t add = std::strlen(suffix);
  if (have + add >= kEntryPathBufferSize) return false;
  std::memcpy(buffer + have, suffix, add + 1);
  return true;
}

// The disk path of one side of an entry into out; false when the path cannot be built.
bool EntryPath(PackageTables& package, int generation, const char* data_path, const char* name,
               char* out) {
  if (data_path[0] == '\0' || name[0] == '\0') return false;
  std::memset(out, 0, kEntryPathBufferSize);
  const size_t length = strnlen(data_path, kEntryPathBufferSize - 1);
  std::memcpy(out, data_path, length);
  return ResolveEntryPath(package, generation, out, name);
}

std::string WithSuffix(const char* path, const char* suffix) { return std::string(path) + suffix; }

// Whether an entry leaves its file as it was, under the same path, so that its stage file may
// be a second name of the old file (LinkUnchangedFile) rather than a copy. Not with backups:
// the backup and the new file would then be one file under two names.
bool MayLinkUnchanged(const PackageTables& package, const ListEntry& entry, bool old_resolved,
                      const char* old_path, const char* previous_suffix, const char* stage_path,
                      const char* current_suffix) {
  if (!old_resolved || entry.old_crc == 0 || entry.old_crc != entry.new_crc || package.Backup()) {
    return false;
  }
  const size_t old_length = std::strlen(old_path) - std::strlen(previous_suffix);
  const size_t stage_length = std::strlen(stage_path) - std::strlen(current_suffix);
  return old_length == stage_length && std::memcmp(old_path, stage_path, old_length) == 0;
}

void SetWait(RunContext& context) { context.host.SetWaitCursor(); }
void SetArrow(RunContext& context) { context.host.SetArrowCursor(); }

// Every list the run needs is there: checked before anything on disk changes.
bool ListsPresent(const WorkDocfileState& work_docfile, int generations) {
  DocfileAccess* access = work_docfile.access;
  if (access == nullptr) return false;
  for (int k = 1; k < generations; ++k) {
    char path[kListPathBufferSize];
    FormatListPath(k, path);
    if (access->StreamSize(path) < static_cast<int32_t>(format::kListCountSize)) return false;
  }
  return true;
}

}  // namespace

bool ReadWholeList(const WorkDocfileState& work_docfile, int k, std::vector<uint8_t>* block) {
  DocfileAccess* access = work_docfile.access;
  block->clear();
  if (access == nullptr) return false;
  char path[kListPathBufferSize];
  FormatListPath(k, path);
  const int32_t size = access->StreamSize(path);
  if (size < 0 || size > kMaxListBytes) return false;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!access->OpenStreamByPath(path)) return false;
  const uint32_t got = access->Read(bytes.data(), static_cast<uint32_t>(size));
  access->CloseStream();
  if (got != static_cast<uint32_t>(size)) return false;
  *block = std::move(bytes);
  return true;
}

void RunUpdate(RunContext& context, ui::Window owner) {
  ui::Host& host = context.host;
  PackageTables& package = context.package;
  RunState& run = context.run;
  const int generations = package.generations ? package.generation_count : 0;

  // 1. The additional group folders of every generation.
  if (package.group_count != 0 && package.groups) {
    for (int g = 0; g < generations; ++g) {
      for (int j = 0; j < package.generations[g].entry_count; ++j) {
        const GroupCell* cell = package.Cell(g, j);
        if (cell == nullptr || cell->folder == nullptr || std::strlen(cell->folder) < 3) {
          ShowText(context, texts::kTextInvalidGroupPath);
          run.outcome = RunOutcome::kInvalidGroupFolder;
          return;
        }
      }
    }
  }
  // A package without a list, with more lists than stage suffixes can number, or with a list
  // missing cannot be run: refused before anything on disk changes.
  if (generations < 2 || generations - 1 > kMaxLists ||
      !ListsPresent(context.work_docfile, generations)) {
    ShowFailureText(context);
    run.outcome = RunOutcome::kRefused;
    return;
  }
  const int last = generations - 1;

  // A commit that a killed run left is finished (or undone) before the installed generation is
  // looked for; so are the stage files such a run left.
  if (RecoverInterruptedCommit(context) == RecoveryOutcome::kFailed) {
    ShowFailureText(context);
    run.outcome = RunOutcome::kFailed;
    return;
  }

  // 2. Detection.
  ui::Window status = host.CreateModeless(ui::kDialogStatus, owner);
  host.CenterOnScreen(status);
  host.Show(status);
  host.SetItemText(status, ui::kStatusText, texts::kTextCheckingVersion);
  host.Paint(status);
  SetWait(context);

  DetectionFaults faults;
  if (package.VersionCheck() && IsLatestInstalled(context, &faults)) {
    if (package.FileRemoval()) DeleteRemovedFiles(context, last);
    SetArrow(context);
    host.Destroy(status);
    ShowText(context, package.Text(kSlotUpToDateText));
    context.log.Line("installed generation: %s (the newest)", package.generations[last].name);
    run.outcome = RunOutcome::kUpToDate;
    return;
  }
  int first = 1;
  if (package.VersionCheck()) {
    first = FindInstalledGeneration(context, &faults);
    if (first == 0) {
      SetArrow(context);
      host.Destroy(status);
      // A list that cannot be read, or a path too long to build, is no verdict on the disk.
      if (faults.path_too_long) {
        ShowText(context, texts::kTextPathTooLong);
      } else if (faults.damaged_list) {
        ShowFailureText(context);
      } else {
        ShowText(context, texts::kTextNoInstalledVersion);
      }
      run.outcome = faults.path_too_long || faults.damaged_list ? RunOutcome::kFailed
                                                                : RunOutcome::kNoInstalledVersion;
      context.log.Line("no installed generation found%s",
                       faults.path_too_long  ? " (a path is too long)"
                       : faults.damaged_list ? " (a list is damaged)"
                                             : "");
      return;
    }
  }
  context.log.Line("installed generation: %s", package.generations[first - 1].name);
  SetArrow(context);
  host.Destroy(status);
  if (CheckSpaceForPasses(context, first, last) != SpaceCheck::kFits) {
    run.outcome = RunOutcome::kFailed;
    return;
  }

  // 3. The passes.
  ui::Window progress = host.CreateModeless(ui::kDialogProgress, owner);
  host.CenterOnScreen(progress);
  host.Show(progress);
  char previous[kSuffixSize] = "";
  char current[kSuffixSize];
  FormatSuffix(first, current);
  if (!ApplyList(context, progress, first, previous, current)) {
    host.Destroy(progress);
    run.outcome = RunOutcome::kFailed;
    return;
  }
  for (int k = first + 1; k <= last; ++k) {
    FormatSuffix(k - 1, previous);
    FormatSuffix(k, current);
    if (!ApplyList(context, progress, k, previous, current)) {
      host.Destroy(progress);
      run.outcome = RunOutcome::kFailed;
      return;
    }
  }

  // 4. The commit: all or nothing.
  SetWait(context);
  const bool committed = CommitUpdate(context, first, last, current);
  if (!committed) DeleteStageFiles(context, last, current);
  SetArrow(context);
  host.Destroy(progress);

  // 5. The end.
  if (!committed) {
    ShowFailureText(context);
    context.log.Line("outcome: failed at the commit; the installed files are unchanged");
    run.outcome = RunOutcome::kFailed;
    return;
  }
  ShowText(context, package.Text(kSlotCompletionText));
  context.log.Line("outcome: committed");
  run.run_completed = 1;
  run.outcome = RunOutcome::kCompleted;
}

bool ApplyList(RunContext& context, ui::Window dialog, int k, const char* previous_suffix,
               const char* current_suffix) {
  ui::Host& host = context.host;
  PackageTables& package = context.package;
  RunState& run = context.run;

  std::vector<uint8_t> block;
  FileListWalker walker;
  bool result =
      ReadWholeList(context.work_docfile, k, &block) && walker.Begin(block.data(), block.size());
  if (!result) ShowFailureText(context);

  if (result) {
    char step[2 * kListStringBufferSize + 8];
    FormatInto(step, sizeof(step), texts::kTextStepFormat, package.generations[k - 1].name,
               package.generations[k].name);
    host.SetItemText(dialog, ui::kProgressStep, step);
    host.SetProgressPosition(dialog, ui::kProgressBar, 0);
    host.Paint(dialog);
  }

  const uint32_t count = result ? walker.count() : 0;
  ListEntry entry;
  for (uint32_t i = 1; result && i <= count; ++i) {
    char counter[64];
    FormatInto(counter, sizeof(counter), texts::kTextFileCounterFormat, static_cast<int>(i),
               static_cast<int>(count));
    host.SetItemText(dialog, ui::kProgressCounter, counter);
    host.SetProgressPosition(dialog, ui::kProgressBar, static_cast<int>(100 * i / count));
    host.Paint(dialog);

    if (!walker.Next(&entry)) {  // the list ends inside its entries
      ShowFailureText(context);
      result = false;
      break;
    }
    char old_path[kEntryPathBufferSize] = {};
    char stage_path[kEntryPathBufferSize] = {};
    bool old_resolved = false;
    if (entry.old_name[0] != '\0') {
      if (!EntryPath(package, k - 1, entry.old_data_path, entry.old_name, old_path) ||
          (previous_suffix[0] != '\0' && !AppendSuffix(old_path, previous_suffix))) {
        ShowFailureText(context);
        result = false;
        break;
      }
      old_resolved = true;
    }
    if (entry.new_crc != 0) {
      // The step leaves a file: it must name where, inside its folder.
      if (!EntryPath(package, k, entry.new_data_path, entry.new_name, stage_path) ||
          !AppendSuffix(stage_path, current_suffix)) {
        ShowFailureText(context);
        result = false;
        break;
      }
      if (MayLinkUnchanged(package, entry, old_resolved, old_path, previous_suffix, stage_path,
                           current_suffix)) {
        std::array<uint8_t, 12> header;
        if (LinkUnchangedFile(context, old_path, entry.new_data_path, stage_path, entry.old_crc,
                              &header)) {
          run.linked_stages[stage_path] = run.linked_headers.size();
          run.linked_headers.push_back(header);
          context.log.Line("list %d: %s unchanged, linked as %s", k, old_path, stage_path);
          continue;
        }
      }
      WrittenFile written;
      if (!ApplyFileEntry(context, old_path, entry.new_data_path, stage_path, entry.old_crc,
                          &written)) {
        result = false;
        break;
      }
      // What was built must be what the list says; a copy or a skip made without the version
      // check is its tolerance, not a build.
      if (written.built) {
        const bool verified = written.crc == entry.new_crc;
        context.log.Line("list %d: wrote %s, CRC %08X, %s %08X", k, stage_path,
                         static_cast<unsigned>(written.crc),
                         verified ? "verified against" : "does not match the list's",
                         static_cast<unsigned>(entry.new_crc));
        if (!verified) {
          ShowFailureText(context);
          result = false;
          break;
        }
        RememberFileCrc(stage_path, written.crc);
      } else {
        context.log.Line("list %d: %s not built (no matching old file)", k, stage_path);
      }
    } else if (previous_suffix[0] == '\0') {
      // A removal of an installed file is the commit's, with the other changes to installed
      // files.
    } else if (package.FileRemoval() && old_resolved && FileExists(old_path)) {
      run.last_check_failed = static_cast<uint32_t>(CheckFileAccess(context, old_path));
      if (run.last_check_failed == 0) {
        ForceDeleteFile(old_path);
        RemoveFolderIfEmpty(old_path);
      }
    }
  }
  block.clear();
  SetWait(context);
  if (previous_suffix[0] != '\0') DeleteStageFiles(context, k - 1, previous_suffix);
  if (!result) DeleteStageFiles(context, k, current_suffix);
  SetArrow(context);
  return result;
}

void DeleteStageFiles(RunContext& context, int k, const char* suffix) {
  PackageTables& package = context.package;
  std::vector<uint8_t> block;
  FileListWalker walker;
  if (!ReadWholeList(context.work_docfile, k, &block) ||
      !walker.Begin(block.data(), block.size())) {
    return;
  }
  ListEntry entry;
  char path[kEntryPathBufferSize];
  while (walker.Next(&entry)) {
    if (!EntryPath(package, k, entry.new_data_path, entry.new_name, path)) continue;
    if (!AppendSuffix(path, suffix)) continue;
    if (FileExists(path)) ForceDeleteFile(path);
  }
}

namespace {

// The steps of a commit, gathered list by list: files to set aside (each once, whatever the
// case of its name), and stage files to move in.
class CommitPlan {
 public:
  // False when the file is set aside already.
  bool SetAside(const char* path, uint8_t flags) {
    if (!aside_.emplace(platform::UpperCaseCp932(path), asides_.size()).second) return false;
    asides_.push_back({format::kJournalKindSetAside, flags, path, WithSuffix(path, kAsideSuffix)});
    return true;
  }
  void MoveIn(const std::string& stage, const char* target) {
    targets_.emplace(platform::UpperCaseCp932(target), moves_.size());
    moves_.push_back({format::kJournalKindMoveIn, 0, stage, target});
  }
  void Stamp(const char* target, const format::JournalStampBytes& header) {
    stamps_.push_back({format::kJournalKindStamp, 0, target, format::JournalStampText(header)});
  }
  bool IsTarget(const char* path) const {
    return targets_.count(platform::UpperCaseCp932(path)) != 0;
  }
  const std::vector<format::JournalStep>& moves() const { return moves_; }
  // The asides first, then the moves, then the stamps.
  format::CommitJournal Steps() const {
    format::CommitJournal journal;
    journal.steps = asides_;
    journal.steps.insert(journal.steps.end(), moves_.begin(), moves_.end());
    journal.steps.insert(journal.steps.end(), stamps_.begin(), stamps_.end());
    return journal;
  }

 private:
  std::vector<format::JournalStep> asides_;
  std::vector<format::JournalStep> moves_;
  std::vector<format::JournalStep> stamps_;
  std::map<std::string, size_t> aside_;
  std::map<std::string, size_t> targets_;
};

}  // namespace

bool CommitUpdate(RunContext& context, int s, int last, const char* suffix) {
  PackageTables& package = context.package;
  std::vector<uint8_t> block;
  FileListWalker walker;
  ListEntry entry;
  char old_path[kEntryPathBufferSize];
  char new_path[kEntryPathBufferSize];
  CommitPlan plan;

  // The stage files of the last list and their targets.
  if (!ReadWholeList(context.work_docfile, last, &block) ||
      !walker.Begin(block.data(), block.size())) {
    return false;
  }
  while (walker.Next(&entry)) {
    if (entry.new_name[0] == '\0') continue;
    if (!EntryPath(package, last, entry.new_data_path, entry.new_name, new_path)) continue;
    const std::string stage = WithSuffix(new_path, suffix);
    if (!FileExists(stage.c_str())) continue;
    plan.MoveIn(stage, new_path);
    // A stage file that is the unchanged old file under a second name gets its entry's time
    // and attributes once it is in place.
    const auto linked = context.run.linked_stages.find(stage);
    if (linked != context.run.linked_stages.end()) {
      plan.Stamp(new_path, context.run.linked_headers[linked->second]);
    }
  }

  // The installed files of the first list: retired (deleted, or kept as a backup where the
  // old and new names are the same) and removed. A removed file that the newest generation has
  // again is replaced, like the others, without a backup.
  if (!ReadWholeList(context.work_docfile, s, &block) ||
      !walker.Begin(block.data(), block.size())) {
    return false;
  }
  while (walker.Next(&entry)) {
    if (entry.old_data_path[0] == '\0') continue;
    if (!EntryPath(package, s - 1, entry.old_data_path, entry.old_name, old_path)) continue;
    if (!FileExists(old_path)) continue;
    if (entry.new_crc == 0) {
      if (!package.FileRemoval()) continue;
      plan.SetAside(old_path, plan.IsTarget(old_path) ? 0 : format::kJournalRemoveEmptyFolder);
      continue;
    }
    if (entry.new_data_path[0] == '\0' ||
        !EntryPath(package, s, entry.new_data_path, entry.new_name, new_path)) {
      continue;
    }
    if (package.Backup()) {
      if (ComparePathsNoCase(old_path, new_path) == 0) {
        plan.SetAside(old_path, format::kJournalKeepBackup);
      }
    } else {
      plan.SetAside(old_path, format::kJournalRemoveEmptyFolder);
    }
  }

  // A target that is still there (not retired above) is kept as a backup unless one exists.
  for (const format::JournalStep& move : plan.moves()) {
    if (FileExists(move.to.c_str())) plan.SetAside(move.to.c_str(), format::kJournalKeepBackup);
  }

  const format::CommitJournal steps = plan.Steps();
  context.log.Line("commit: %u steps planned", static_cast<unsigned>(steps.steps.size()));
  return CheckCommitAccess(context, steps) && CarryOutCommit(context, steps);
}

void DeleteRemovedFiles(RunContext& context, int last) {
  PackageTables& package = context.package;
  std::vector<uint8_t> block;
  FileListWalker walker;
  if (!ReadWholeList(context.work_docfile, last, &block) ||
      !walker.Begin(block.data(), block.size())) {
    return;
  }
  ListEntry entry;
  char path[kEntryPathBufferSize];
  while (walker.Next(&entry)) {
    if (entry.new_name[0] != '\0') continue;
    if (!EntryPath(package, last - 1, entry.old_data_path, entry.old_name, path)) continue;
    if (FileExists(path)) ForceDeleteFile(path);
  }
}

int CheckFileAccess(RunContext& context, const char* path) {
  RunState& run = context.run;
  if (!platform::PathExists(path)) return 0;
  for (;;) {
    if (platform::CanOpenExclusiveForWrite(path)) return 0;
    if (run.last_check_failed != 0) break;
    std::string text = "'";
    text += path;
    text += "'";
    text += texts::kTextInUseTail;
    const int answer = context.host.MessageBox(nullptr, text.c_str(), Caption(context),
                                               ui::kMbRetryCancel | ui::kMbIconStop);
    if (answer != ui::kIdRetry) break;
  }
  run.in_use = 1;
  return 1;
}

void RemoveFolderIfEmpty(const char* path) {
  if (path == nullptr) return;
  const char* slash = FindLastBackslash(path);
  if (slash == nullptr || slash == path) return;
  const std::string folder(path, slash);
  // A bare drive ("C:") names the drive's current directory, not a folder of ours.
  if (folder.size() == 2 && folder[1] == ':') return;
  RemoveEmptyFolders(folder.c_str());
}

}  // namespace gp
