#include "format/commit_journal.h"

#include <cstring>

#include "base/byte_reader.h"
#include "base/endian.h"

namespace gp::format {

namespace {

bool ValidPath(const std::string& path) {
  return !path.empty() && path.size() <= kJournalMaxPath &&
         std::memchr(path.data(), 0, path.size()) == nullptr;
}

bool ValidKindAndFlags(uint8_t kind, uint8_t flags) {
  if (kind == kJournalKindSetAside) {
    return (flags & ~(kJournalKeepBackup | kJournalRemoveEmptyFolder)) == 0;
  }
  return (kind == kJournalKindMoveIn || kind == kJournalKindStamp) && flags == 0;
}

bool ValidStep(const JournalStep& step) {
  if (!ValidKindAndFlags(step.kind, step.flags) || !ValidPath(step.from)) return false;
  if (step.kind != kJournalKindStamp) return ValidPath(step.to);
  JournalStampBytes bytes;
  return ParseJournalStamp(step.to, &bytes);
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string JournalStampText(const JournalStampBytes& bytes) {
  std::string text;
  for (const uint8_t byte : bytes) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 15];
  }
  return text;
}

bool ParseJournalStamp(const std::string& text, JournalStampBytes* bytes) {
  if (text.size() != 2 * kJournalStampBytes) return false;
  for (size_t i = 0; i < kJournalStampBytes; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    (*bytes)[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool EncodeCommitJournal(const CommitJournal& journal, std::vector<uint8_t>* out) {
  out->clear();
  if (journal.steps.size() > kJournalMaxSteps) return false;
  std::vector<uint8_t> bytes(kJournalHeaderSize);
  std::memcpy(bytes.data(), kJournalMagic, kJournalMagicSize);
  bool stamps = false;
  for (const JournalStep& step : journal.steps) stamps |= step.kind == kJournalKindStamp;
  StoreU16(bytes.data() + 8, stamps ? kJournalVersionWithStamps : kJournalVersion);
  StoreU16(bytes.data() + 10, 0);
  StoreU32(bytes.data() + 12, static_cast<uint32_t>(journal.steps.size()));
  for (const JournalStep& step : journal.steps) {
    if (!ValidStep(step)) return false;
    uint8_t head[kJournalStepHeaderSize];
    head[0] = step.kind;
    head[1] = step.flags;
    StoreU16(head + 2, static_cast<uint16_t>(step.from.size()));
    StoreU16(head + 4, static_cast<uint16_t>(step.to.size()));
    bytes.insert(bytes.end(), head, head + sizeof head);
    bytes.insert(bytes.end(), step.from.begin(), step.from.end());
    bytes.insert(bytes.end(), step.to.begin(), step.to.end());
  }
  *out = std::move(bytes);
  return true;
}

void AppendJournalChecksum(std::vector<uint8_t>* bytes, uint32_t checksum) {
  uint8_t tail[kJournalChecksumSize];
  StoreU32(tail, checksum);
  bytes->insert(bytes->end(), tail, tail + sizeof tail);
}

JournalStatus DecodeCommitJournal(std::span<const uint8_t> bytes, uint32_t body_checksum,
                                  CommitJournal* journal) {
  if (bytes.size() < kJournalHeaderSize + kJournalChecksumSize) return JournalStatus::kTooShort;
  const size_t body_size = bytes.size() - kJournalChecksumSize;
  if (LoadU32(bytes.data() + body_size) != body_checksum) return JournalStatus::kBadChecksum;
  ByteReader reader(bytes.data(), body_size);
  const uint8_t* magic = nullptr;
  if (!reader.ReadView(kJournalMagicSize, &magic) ||
      std::memcmp(magic, kJournalMagic, kJournalMagicSize) != 0) {
    return JournalStatus::kBadMagic;
  }
  uint16_t version = 0;
  uint16_t reserved = 0;
  uint32_t count = 0;
  if (!reader.ReadU16(&version) || !reader.ReadU16(&reserved) ||
      (version != kJournalVersion && version != kJournalVersionWithStamps) || reserved != 0) {
    return JournalStatus::kBadVersion;
  }
  // Every step takes at least its header and two bytes of paths.
  if (!reader.ReadU32(&count) || count > kJournalMaxSteps ||
      count > reader.remaining() / (kJournalStepHeaderSize + 2)) {
    return JournalStatus::kBadStep;
  }
  CommitJournal read;
  read.steps.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    JournalStep step;
    uint16_t from_size = 0;
    uint16_t to_size = 0;
    const uint8_t* from = nullptr;
    const uint8_t* to = nullptr;
    if (!reader.ReadU8(&step.kind) || !reader.ReadU8(&step.flags) ||
        !reader.ReadU16(&from_size) || !reader.ReadU16(&to_size) ||
        !reader.ReadView(from_size, &from) || !reader.ReadView(to_size, &to) ||
        (step.kind == kJournalKindStamp && version != kJournalVersionWithStamps)) {
      return JournalStatus::kBadStep;
    }
    step.from.assign(reinterpret_cast<const char*>(from), from_size);
    step.to.assign(reinterpret_cast<const char*>(to), to_size);
    if (!ValidStep(step)) return JournalStatus::kBadStep;
    read.steps.push_back(std::move(step));
  }
  if (!reader.empty()) return JournalStatus::kTrailingBytes;
  *journal = std::move(read);
  return JournalStatus::kOk;
}

}  // namespace gp::format
