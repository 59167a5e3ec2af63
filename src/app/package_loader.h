// Loading the package: the trailer at the end of the program's own file (or of a package data
// file named on the command line), the header block, and the tables it describes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/pe_certificate.h"

namespace gp {

namespace platform {
class File;
}

struct PackageTables;
struct RunContext;

// Allocates the text buffers, opens the folder journal, then reads the trailer and the header
// of the package named by path (null or empty: the program's own file) into the context's
// tables. Shows the loader's messages through the context's host; true when the header was
// loaded.
bool LoadPackageHeader(RunContext& context, const char* path);

// Reads the trailer and header of file_path: the package data file layout (17-byte trailer)
// when named, else the package executable layout (21-byte trailer). Needs the text buffers.
bool ReadPackageHeader(RunContext& context, const char* file_path, bool named);

// Where the package in an open package executable of file_size bytes ends: the file's end, or
// before the certificate table of a signed one (see format/pe_certificate.h).
format::PackageEndStatus LocateExecutablePackageEnd(platform::File& file, uint64_t file_size,
                                                    format::PackageEnd* end);

enum class HeaderStatus {
  kOk,
  kInconsistent,  // a length, offset, size or count points outside the block or its buffers
};

// Fills the package tables from a header block that is already in tables.header_block
// (header_length bytes). Every record size, entry size, text length, generation table offset
// and entry count is checked against the block and the buffers first; an inconsistent header
// leaves the tables empty.
HeaderStatus ParseHeaderBlock(PackageTables& tables);

}  // namespace gp
