// Shared set-up of the update engine tests: a loaded package (header written by our own
// builder and parsed by the loader), its texts and root folders, a work docfile built from
// streams named by their docfile paths, and readers for the folder journal and file times.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "builder/header_writer.h"
#include "builder/list_writer.h"
#include "support/test_support.h"

namespace gp::test {

// The package texts the tests install (UTF-8 here, code page 932 in the program).
inline constexpr const char* kFailureTextUtf8 = "更新できませんでした。";
inline constexpr const char* kMissingTextUtf8 = "更新するファイルがありません。";
inline constexpr const char* kCaptionUtf8 = "テスト更新";

// "caption: text" as the transcript shows it.
std::string FailureLine();
std::string MissingLine();
std::string DiskFullLine();

// A header with the given generations (names "1世代", "2世代" ... unless given) and group
// columns; flags by name.
builder::HeaderDescription MakeHeader(int generations, uint32_t version_check = 1,
                               uint32_t file_removal = 0);

// Loads the header into the package tables (through the loader's parser), allocates and fills
// the texts and sets the destination folder (code page 932 path).
void InstallPackage(PackageTables& tables, const builder::HeaderDescription& desc,
                    const std::string& destination);

// Copies a code page 932 text into one of the 260-byte root folder buffers.
void SetRootFolder(char* buffer, const std::string& cp932);

// Writes a compound file holding the streams (docfile paths in code page 932, split at every
// backslash into storages and the stream) and makes it the work docfile.
void InstallWorkDocfile(WorkDocfileState& work_docfile, const TempDir& dir,
                        const std::map<std::string, std::vector<uint8_t>>& streams);

// The CRC of a file's bytes as the lists store it.
uint32_t Crc(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Bytes(const std::string& text);

// The records of the folder journal, in order.
std::vector<std::string> JournalRecords(FolderJournalState& journal);

// A file's last-write time as local calendar fields.
std::tm LocalWriteTime(const std::filesystem::path& path);

}  // namespace gp::test
