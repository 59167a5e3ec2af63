// The commit journal "~genpatch.commit": the steps of one commit of an update run, written to
// the destination folder before the commit changes anything, so that a run that finds it can
// finish the commit (or undo it). All numbers little-endian:
//
//   0   8 bytes  magic "GPCOMMIT"
//   8   u16      version: 1, or 2 when the journal has stamp steps
//   10  u16      reserved, 0
//   12  u32      step count S (at most kJournalMaxSteps)
//   16  S steps, back to back:
//         0  u8   kind: 1 set aside (from: an installed file, to: its aside name),
//                       2 move in   (from: a stage file,     to: its target)
//                       3 stamp     (from: a target moved in, to: the 24 hex digits of the
//                                    12-byte entry header whose time and attributes it gets;
//                                    version 2 only, after every move)
//         1  u8   flags: bit 0 keep a ".old" backup of the aside file, bit 1 remove the folder
//                 of the file when it is left empty (set-aside steps only; 0 for the others)
//         2  u16  F, the length of from (1 to kJournalMaxPath)
//         4  u16  T, the length of to   (1 to kJournalMaxPath)
//         6  F bytes from, then T bytes to (code page 932 program paths, no terminator, no NUL)
//   end u32      checksum: CRC-32 (codec/crc32.h, started from 0) over every byte before it
//
// The checksum is computed by the caller (this layer does no arithmetic beyond the layout): the
// encoder leaves it out, AppendJournalChecksum adds it, and the decoder is handed the checksum
// of the bytes before the last four to compare with the stored one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gp::format {

inline constexpr char kJournalMagic[] = "GPCOMMIT";
inline constexpr size_t kJournalMagicSize = sizeof(kJournalMagic) - 1;  // 8, no NUL
inline constexpr uint16_t kJournalVersion = 1;
inline constexpr uint16_t kJournalVersionWithStamps = 2;
inline constexpr size_t kJournalHeaderSize = 16;
inline constexpr size_t kJournalStepHeaderSize = 6;
inline constexpr size_t kJournalChecksumSize = 4;
inline constexpr size_t kJournalMaxPath = 1024;
// Two steps per entry of the largest list, and some to spare.
inline constexpr uint32_t kJournalMaxSteps = 131072;

inline constexpr uint8_t kJournalKindSetAside = 1;
inline constexpr uint8_t kJournalKindMoveIn = 2;
inline constexpr uint8_t kJournalKindStamp = 3;
inline constexpr size_t kJournalStampBytes = 12;
inline constexpr uint8_t kJournalKeepBackup = 0x01;
inline constexpr uint8_t kJournalRemoveEmptyFolder = 0x02;

struct JournalStep {
  uint8_t kind = kJournalKindSetAside;
  uint8_t flags = 0;
  std::string from;
  std::string to;
};

struct CommitJournal {
  std::vector<JournalStep> steps;
};

// A stamp step's to: the 12 bytes as 24 upper-case hex digits, and back (false unless the text
// is exactly that).
using JournalStampBytes = std::array<uint8_t, kJournalStampBytes>;
std::string JournalStampText(const JournalStampBytes& bytes);
bool ParseJournalStamp(const std::string& text, JournalStampBytes* bytes);

// The journal's bytes without the checksum into out. False (out cleared) when a step breaks
// the bounds above: an unknown kind or flag, an empty path, a path too long or holding a NUL,
// too many steps.
bool EncodeCommitJournal(const CommitJournal& journal, std::vector<uint8_t>* out);
// Appends the checksum of the bytes encoded.
void AppendJournalChecksum(std::vector<uint8_t>* bytes, uint32_t checksum);

// In the order the checks are made; the reading stops at the first that fails.
enum class JournalStatus {
  kOk,
  kTooShort,       // shorter than a header and a checksum
  kBadChecksum,    // the stored checksum is not body_checksum
  kBadMagic,
  kBadVersion,
  kBadStep,        // a step runs past the end or breaks the bounds of the encoder
  kTrailingBytes,  // bytes between the last step and the checksum
};

// Reads a whole journal. body_checksum is the checksum of bytes[0, size - 4) (unused when the
// bytes are too short). journal is filled only on kOk.
JournalStatus DecodeCommitJournal(std::span<const uint8_t> bytes, uint32_t body_checksum,
                                  CommitJournal* journal);

}  // namespace gp::format
