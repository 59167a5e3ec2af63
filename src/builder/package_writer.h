// Writes an update package: the work docfile (a compound file of storages and streams), its
// payload container, the header and the trailer, as a package executable (a given program
// image first) or a package data file. Same description, same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/header_writer.h"
#include "builder/options_writer.h"
#include "cfb/cfb_writer.h"
#include "codec/payload_writer.h"

namespace gp::builder {

// One stream of the work docfile, named by its backslash path (code page 932), for example
// "1\_\0.dif". Storages on the way are created as needed.
struct DocfileStream {
  std::string path;
  uint64_t size = 0;
  cfb::StreamSource source;  // pulls the bytes when the docfile is written
};

DocfileStream StreamFromBytes(std::string path, std::vector<uint8_t> bytes);

enum class PayloadForm {
  kCompressed,    // payload container with LZW pieces (stored pieces where that is smaller)
  kUncompressed,  // the work docfile itself
};

// Classic: LZW payload container, 21/17-byte trailer, classic diffs. Compact (ours): deflate
// payload, checksummed 32-byte trailer, compact diffs (format/compact.h).
enum class PackageFormat { kClassic, kCompact };

enum class PackageLayout {
  kExecutable,  // program image, payload, header, 21-byte trailer
  kDataFile,    // payload, header, 17-byte trailer
};

struct PackageDescription {
  HeaderDescription header;
  OptionsTexts options;
  std::vector<DocfileStream> streams;  // besides the options stream, which is added
  PackageLayout layout = PackageLayout::kExecutable;
  std::filesystem::path stub;  // the program image, for kExecutable
  PayloadForm payload = PayloadForm::kCompressed;
  PayloadWriterOptions payload_options;
  PackageFormat format = PackageFormat::kClassic;  // kCompact ignores payload and its options
};

struct PackageSizes {
  uint64_t docfile = 0;  // the work docfile
  uint64_t payload = 0;  // what the package carries of it
  uint64_t header = 0;
  uint64_t program = 0;  // the program image
  uint64_t total = 0;
};

// Writes the package to out. Returns an empty text on success, else what went wrong.
std::string WritePackage(const PackageDescription& desc, const std::filesystem::path& out,
                         PackageSizes* sizes = nullptr);

// The compound file version of desc's work docfile: 3 (512-byte sectors) for the classic format;
// the compact format takes 4 (4096-byte sectors) once its streams hold kLargeDocfileData bytes
// or more, where its sector table, one u32 per sector, would cost more than the padding of the
// larger sectors (an 8.5 MB docfile: 23 KB of deflated table in version 3, 3 KB in version 4).
inline constexpr uint64_t kLargeDocfileData = 256u * 1024;
int WorkDocfileVersion(const PackageDescription& desc);

// Writes only the work docfile of desc (options stream included) to out.
std::string WriteWorkDocfile(const PackageDescription& desc, const std::filesystem::path& out);

}  // namespace gp::builder
