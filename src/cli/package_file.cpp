#include "cli/package_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "app/package_loader.h"
#include "base/endian.h"
#include "base/texts.h"
#include "builder/release_tree.h"
#include "cfb/byte_source.h"
#include "cfb/cfb_reader.h"
#include "cli/cli_error.h"
#include "cli/safe_output.h"
#include "codec/payload_expander.h"
#include "codec/compact_payload.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "format/pe_certificate.h"
#include "format/trailer.h"
#include "platform/platform.h"
#include "storage/owned_string.h"
#include "update/package_tables.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadRange(std::ifstream& in, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<uint64_t>(in.gcount()) != size) throw CliError("cannot read the package");
  return bytes;
}

// Loads the header into tables (emptied first); true when it parses.
bool LoadHeaderInto(PackageTables& p, const std::vector<uint8_t>& header) {
  p.Reset();
  AllocateTextBuffers(p);
  p.header_block.reset(new uint8_t[header.size() ? header.size() : 1]);
  std::copy(header.begin(), header.end(), p.header_block.get());
  p.header_length = static_cast<uint32_t>(header.size());
  const bool ok = ParseHeaderBlock(p) == HeaderStatus::kOk;
  return ok;
}

bool HeaderLoads(const std::vector<uint8_t>& header) {
  PackageTables scratch;
  return LoadHeaderInto(scratch, header);
}

class FileByteSource : public cfb::ByteSource {
 public:
  explicit FileByteSource(const fs::path& path) : in_(path, std::ios::binary) {
    std::error_code ec;
    size_ = fs::file_size(path, ec);
    if (ec) size_ = 0;
  }
  bool ok() const { return static_cast<bool>(in_); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in_.gcount()) == size;
  }

 private:
  std::ifstream in_;
  uint64_t size_ = 0;
};

std::string ToCp932(const std::u16string& name) {
  std::string out;
  if (!platform::Utf16ToCp932(name, &out)) out = "?";
  return out;
}

// Element names as the package program looks them up (see Cp932ToUtf16Lenient).
std::u16string ToUtf16(const std::string& cp932) { return platform::Cp932ToUtf16Lenient(cp932); }

void OpenReader(FileByteSource& source, cfb::CompoundFileReader& reader, const fs::path& path) {
  if (!source.ok()) throw CliError("cannot read " + path.string());
  const cfb::Status status = reader.Open(&source);
  if (status != cfb::Status::kOk) {
    throw CliError("the work docfile is not a valid compound file (" +
                   std::string(cfb::StatusName(status)) + ")");
  }
}

}  // namespace

std::string ProgramPath(const fs::path& host) {
  const std::u8string u = fs::absolute(host).u8string();
  std::string program;
  if (!platform::HostToProgramPath(std::string(u.begin(), u.end()), &program)) {
    throw CliError("the path " + host.string() + " has no form the package program can use");
  }
  return program;
}

std::string Utf8(const std::string& cp932) { return platform::Cp932ToUtf8Lossy(cp932); }

PackageFile OpenPackage(const fs::path& path) {
  PackageFile package;
  package.path = path;
  std::error_code ec;
  package.file_size = fs::file_size(path, ec);
  if (ec) throw CliError("cannot read " + path.string() + ": " + ec.message());
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError("cannot read " + path.string());
  // A signed executable: the package ends before the certificate table.
  format::PackageEnd package_end;
  auto read_at = [&in](uint64_t offset, uint8_t* buffer, size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount()) == size;
  };
  switch (format::LocatePackageEnd(package.file_size, read_at, &package_end)) {
    case format::PackageEndStatus::kDamaged:
      throw CliError(path.string() +
                     " is a damaged package: its certificate table does not end the file right "
                     "after the package data");
    case format::PackageEndStatus::kSigned:
      package.is_signed = true;
      package.signature_size = package_end.table.size;
      break;
    case format::PackageEndStatus::kUnsigned:
      break;
  }
  const uint64_t end = package_end.end;
  // A compact package says so at its end; its header must match the trailer's checksum.
  {
    const uint64_t compact_tail = std::min<uint64_t>(end, format::kCompactTrailerSize);
    const auto tail = ReadRange(in, end - compact_tail, compact_tail);
    format::CompactLayout compact;
    const format::CompactTrailerStatus status =
        format::ReadCompactTrailer(tail, end, &compact);
    if (status == format::CompactTrailerStatus::kDamaged) {
      throw CliError(path.string() + " is a damaged compact package: its trailer does not fit");
    }
    if (status == format::CompactTrailerStatus::kOk) {
      auto header = ReadRange(in, compact.header_offset, compact.header_length);
      if (Crc32Update(0, header.data(), static_cast<int64_t>(header.size())) !=
              compact.header_crc ||
          !HeaderLoads(header)) {
        throw CliError(path.string() + " is a damaged compact package: its header is damaged");
      }
      package.compact = true;
      package.executable = compact.payload_offset != 0;
      package.header_offset = compact.header_offset;
      package.payload_offset = compact.payload_offset;
      package.payload_length = compact.payload_length;
      package.payload_crc = compact.payload_crc;
      package.header = std::move(header);
      return package;
    }
  }
  // Both readings of the trailer, from the last bytes of the package.
  const uint64_t tail_size = std::min<uint64_t>(end, format::kTrailerReadSize);
  const auto tail = tail_size < format::kDataFileTrailerSize
                        ? std::vector<uint8_t>()
                        : ReadRange(in, end - tail_size, tail_size);
  format::PackageLayout as_data;
  const format::TrailerStatus data_status =
      format::ReadTrailer(format::PackageForm::kDataFile, tail, end, &as_data);
  if (data_status == format::TrailerStatus::kTooSmall) {
    throw CliError(path.string() + " is not a package: it is too short for a trailer");
  }
  if (data_status == format::TrailerStatus::kBadMagic) {
    throw CliError(path.string() + " is not a package: it does not end with the package trailer");
  }

  // The executable reading: payload length at -21, header ending at -21.
  format::PackageLayout as_exe;
  if (format::ReadTrailer(format::PackageForm::kExecutable, tail, end, &as_exe) ==
      format::TrailerStatus::kOk) {
    auto header = ReadRange(in, as_exe.header_offset, as_exe.header_length);
    if (header.size() >= 4 && LoadU32(header.data()) == as_exe.header_length &&
        HeaderLoads(header)) {
      package.executable = true;
      package.header_offset = as_exe.header_offset;
      package.payload_offset = as_exe.payload_offset;
      package.payload_length = as_exe.payload_length;
      package.header = std::move(header);
      return package;
    }
  }
  // The data file reading: header ending at -17, payload from offset 0.
  if (data_status == format::TrailerStatus::kOk) {
    auto header = ReadRange(in, as_data.header_offset, as_data.header_length);
    if (HeaderLoads(header)) {
      package.executable = false;
      package.header_offset = as_data.header_offset;
      package.payload_offset = as_data.payload_offset;
      package.payload_length = as_data.payload_length;
      package.header = std::move(header);
      return package;
    }
  }
  throw CliError(path.string() + " is not a package: its header does not fit its file");
}

void LoadTables(const PackageFile& package, PackageTables& tables) {
  if (!LoadHeaderInto(tables, package.header)) throw CliError("the package header does not load");
}

void ExtractWorkDocfile(const PackageFile& package, const fs::path& out) {
  if (package.compact) {
    OwnedString expanded;
    if (!ExpandCompactPayload(ProgramPath(package.path).c_str(), package.payload_offset,
                              package.payload_length, package.payload_crc, &expanded)) {
      throw CliError("the payload is damaged: a checksum or a compressed piece does not match");
    }
    std::string host;
    if (!platform::ProgramToHostPath(expanded.c_str(), &host)) {
      throw CliError("cannot find the expanded payload");
    }
    const fs::path docfile(std::u8string(host.begin(), host.end()));
    std::error_code ec;
    fs::rename(docfile, out, ec);
    if (ec) {
      fs::copy_file(docfile, out, fs::copy_options::overwrite_existing, ec);
      std::error_code ignored;
      fs::remove(docfile, ignored);
      if (ec) throw CliError("cannot write " + out.string() + ": " + ec.message());
    }
    int version = 0;
    ListDocfile(out, &version);  // throws when it is not a compound file
    return;
  }
  // The payload is copied next to the output, then expanded there when it is compressed.
  const fs::path copy = fs::path(out).concat(".payload.tmp");
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove(p, ec);
    }
  } remove_copy{copy};
  const RemovedOnInterrupt copy_cleanup(copy);
  {
    std::ifstream in(package.path, std::ios::binary);
    std::ofstream to(copy, std::ios::binary | std::ios::trunc);
    if (!in || !to) throw CliError("cannot write " + copy.string());
    in.seekg(static_cast<std::streamoff>(package.payload_offset));
    std::vector<char> buffer(1 << 20);
    uint64_t remaining = package.payload_length;
    while (remaining > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
      in.read(buffer.data(), static_cast<std::streamsize>(n));
      if (static_cast<size_t>(in.gcount()) != n) throw CliError("cannot read the payload");
      to.write(buffer.data(), static_cast<std::streamsize>(n));
      remaining -= n;
    }
    if (!to) throw CliError("cannot write " + copy.string());
  }
  std::vector<uint8_t> head(32, 0);
  {
    std::ifstream in(copy, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), 32);
    if (in.gcount() != 32) head.assign(32, 0);
  }
  fs::path docfile = copy;
  OwnedString expanded;
  if (std::memcmp(head.data(), texts::kPayloadMagic, 32) == 0) {
    if (ExpandPayload(ProgramPath(copy).c_str(), &expanded, 1) == 0) {
      throw CliError("the payload is not valid: its compressed data does not decode");
    }
    std::string host;
    if (!platform::ProgramToHostPath(expanded.c_str(), &host)) {
      throw CliError("cannot find the expanded payload");
    }
    docfile = builder::PathFromUtf8(host);
  }
  struct RemoveExpanded {
    fs::path p;
    bool active;
    ~RemoveExpanded() {
      std::error_code ec;
      if (active) fs::remove(p, ec);
    }
  } remove_expanded{docfile, !expanded.empty()};
  {
    int version = 0;
    ListDocfile(docfile, &version);  // throws when it is not a compound file
  }
  std::error_code ec;
  fs::copy_file(docfile, out, fs::copy_options::overwrite_existing, ec);
  if (ec) throw CliError("cannot write " + out.string() + ": " + ec.message());
}

std::vector<DocfileEntry> ListDocfile(const fs::path& docfile, int* version) {
  FileByteSource source(docfile);
  cfb::CompoundFileReader reader;
  OpenReader(source, reader, docfile);
  *version = reader.version();
  std::vector<cfb::TreeItem> items;
  const cfb::Status status = reader.WalkTree(&items);
  if (status != cfb::Status::kOk) {
    throw CliError("the work docfile's directory is damaged (" +
                   std::string(cfb::StatusName(status)) + ")");
  }
  std::vector<DocfileEntry> entries;
  std::vector<std::string> paths(reader.entry_count());
  for (const cfb::TreeItem& item : items) {
    if (item.depth == 0) continue;
    cfb::EntryInfo info;
    if (reader.GetEntry(item.entry, &info) != cfb::Status::kOk) continue;
    const std::string name = ToCp932(info.name);
    const std::string parent = item.parent < paths.size() ? paths[item.parent] : std::string();
    const std::string path = parent.empty() ? name : parent + "\\" + name;
    if (item.entry < paths.size()) paths[item.entry] = path;
    DocfileEntry entry;
    entry.path = path;
    entry.storage = info.type != cfb::EntryType::kStream;
    entry.size = info.size;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<uint8_t> ReadDocfileStream(const fs::path& docfile, const std::string& path) {
  FileByteSource source(docfile);
  cfb::CompoundFileReader reader;
  OpenReader(source, reader, docfile);
  uint32_t entry = 0;  // the root
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('\\', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos
                                                                            : slash - start);
    uint32_t child = 0;
    if (reader.FindChild(entry, ToUtf16(part), &child) != cfb::Status::kOk) {
      throw CliError("the work docfile has no stream " + Utf8(path));
    }
    entry = child;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  cfb::StreamReader stream;
  if (reader.OpenStream(entry, &stream) != cfb::Status::kOk) {
    throw CliError(Utf8(path) + " is not a readable stream");
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.size()));
  size_t done = 0;
  if (stream.Read(bytes.data(), bytes.size(), &done) != cfb::Status::kOk || done != bytes.size()) {
    throw CliError("cannot read the stream " + Utf8(path));
  }
  return bytes;
}

fs::path ScratchFolder() {
  char folder[1024] = {};
  const uint32_t n = platform::TempFolder(folder, sizeof folder);
  std::string host;
  if (n == 0 || n >= sizeof folder || !platform::ProgramToHostPath(folder, &host)) {
    throw CliError("there is no temporary folder");
  }
  return fs::path(std::u8string(host.begin(), host.end()));
}

}  // namespace gp::cli
