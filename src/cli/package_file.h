// Reading a package as the genpatch command does: either layout (told apart by its trailer),
// its header, and its work docfile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "update/package_tables.h"

namespace gp::cli {

struct PackageFile {
  std::filesystem::path path;
  bool executable = false;  // program image + payload + header + 21-byte trailer
  bool compact = false;     // the compact format (format/compact.h), either form
  uint32_t payload_crc = 0;  // compact: the trailer's payload checksum
  uint64_t file_size = 0;
  uint64_t payload_offset = 0;
  uint64_t payload_length = 0;
  uint64_t header_offset = 0;
  std::vector<uint8_t> header;
  // A signed package executable: the certificate table after the package data (to the end).
  bool is_signed = false;
  uint64_t signature_size = 0;
};

// Reads the trailer and the header. A package executable and a package data file are told
// apart by which reading of the trailer gives a header that loads. A signed executable's
// package ends before its certificate table. Throws CliError.
PackageFile OpenPackage(const std::filesystem::path& path);

// Loads the header into tables.
void LoadTables(const PackageFile& package, PackageTables& tables);

// Writes the package's work docfile to out (expanding a compressed payload). Throws CliError
// when the payload is not valid.
void ExtractWorkDocfile(const PackageFile& package, const std::filesystem::path& out);

struct DocfileEntry {
  std::string path;  // backslash path, code page 932
  bool storage = false;
  uint64_t size = 0;
};

// Every storage and stream of a compound file, depth first. Throws CliError.
std::vector<DocfileEntry> ListDocfile(const std::filesystem::path& docfile, int* version);
// The bytes of one stream (backslash path, code page 932). Throws CliError.
std::vector<uint8_t> ReadDocfileStream(const std::filesystem::path& docfile,
                                       const std::string& path);

// A program path (code page 932) for a host path; throws CliError when there is none.
std::string ProgramPath(const std::filesystem::path& host);
// The temporary folder of the program (GENPATCH_TEMP_DIR, else TMPDIR, else /tmp; on Windows
// GetTempPath) as a host path; throws CliError when there is none.
std::filesystem::path ScratchFolder();
// Code page 932 to UTF-8 for printing.
std::string Utf8(const std::string& cp932);

}  // namespace gp::cli
