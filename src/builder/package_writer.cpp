#include "builder/package_writer.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

#include "builder/release_tree.h"
#include "cfb/entry_names.h"
#include "codec/compact_payload_writer.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "format/trailer.h"
#include "platform/platform.h"

namespace gp::builder {

namespace fs = std::filesystem;

namespace {

std::string ProgramPathOf(const fs::path& host) {
  std::string program;
  if (!platform::HostToProgramPath(Utf8Of(host), &program)) return {};
  return program;
}

// Splits a docfile path at every backslash byte, as the program's storage access does.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool CopyFileBytes(std::ifstream& in, std::ofstream& out, uint64_t* copied) {
  std::vector<char> buffer(1 << 20);
  *copied = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize n = in.gcount();
    if (n <= 0) break;
    out.write(buffer.data(), n);
    if (!out) return false;
    *copied += static_cast<uint64_t>(n);
  }
  return !in.bad();
}

// A temporary file beside the output, removed when the object goes away.
struct ScratchFile {
  explicit ScratchFile(fs::path p) : path(std::move(p)) {}
  ~ScratchFile() {
    std::error_code ec;
    fs::remove(path, ec);
  }
  fs::path path;
};

}  // namespace

DocfileStream StreamFromBytes(std::string path, std::vector<uint8_t> bytes) {
  auto data = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  DocfileStream s;
  s.path = std::move(path);
  s.size = data->size();
  s.source = [data](uint64_t offset, uint8_t* out, size_t size) {
    if (offset > data->size() || size > data->size() - offset) return false;
    std::copy(data->begin() + static_cast<std::ptrdiff_t>(offset),
              data->begin() + static_cast<std::ptrdiff_t>(offset + size), out);
    return true;
  };
  return s;
}

int WorkDocfileVersion(const PackageDescription& desc) {
  if (desc.format != PackageFormat::kCompact) return 3;
  uint64_t data = 0;
  for (const DocfileStream& stream : desc.streams) data += stream.size;
  return data >= kLargeDocfileData ? 4 : 3;
}

std::string WriteWorkDocfile(const PackageDescription& desc, const fs::path& out) {
  cfb::CompoundFileWriter writer(WorkDocfileVersion(desc));
  // Storage path -> id. Keyed by the element names as the compound file compares them, so that
  // two code page 932 paths that name the same storage (a lone lead byte left by a split at a
  // 0x5C trail byte becomes U+30FB; case does not count) share it.
  std::map<std::u16string, int> storages;
  auto add = [&](const DocfileStream& stream) -> std::string {
    const std::vector<std::string> parts = SplitPath(stream.path);
    int parent = cfb::CompoundFileWriter::kRoot;
    std::u16string prefix;
    for (size_t i = 0; i < parts.size(); ++i) {
      std::u16string name;
      name = platform::Cp932ToUtf16Lenient(parts[i]);
      if (parts[i].empty()) {
        return "the docfile path '" + platform::Cp932ToUtf8Lossy(stream.path) +
               "' has an empty or invalid component";
      }
      if (i + 1 == parts.size()) {
        const cfb::Status status = writer.AddStream(parent, name, stream.size, stream.source);
        if (status != cfb::Status::kOk) {
          return "cannot add the stream '" + platform::Cp932ToUtf8Lossy(stream.path) +
                 "': " + cfb::StatusName(status);
        }
        break;
      }
      for (char16_t unit : name) prefix += cfb::UpperCaseUnit(unit);
      prefix += u'\\';
      auto it = storages.find(prefix);
      if (it == storages.end()) {
        int id = 0;
        const cfb::Status status = writer.AddStorage(parent, name, &id);
        if (status != cfb::Status::kOk) {
          return "cannot add the storage '" + platform::Cp932ToUtf8Lossy(parts[i]) +
                 "': " + cfb::StatusName(status);
        }
        it = storages.emplace(prefix, id).first;
      }
      parent = it->second;
    }
    return std::string();
  };

  std::string error = CheckOptionsTexts(desc.options);
  if (!error.empty()) return error;
  if (!(error = add(StreamFromBytes(format::kOptionsStreamPath, WriteOptionsStream(desc.options))))
           .empty()) {
    return error;
  }
  for (const DocfileStream& stream : desc.streams) {
    if (!(error = add(stream)).empty()) return error;
  }
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) return "cannot create " + out.string();
  const cfb::Status status = writer.Write([&](const uint8_t* data, size_t size) {
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file);
  });
  file.close();
  if (status != cfb::Status::kOk) {
    return std::string("cannot write the work docfile: ") + cfb::StatusName(status);
  }
  if (!file) return "cannot write " + out.string();
  return std::string();
}

std::string WritePackage(const PackageDescription& desc, const fs::path& out, PackageSizes* sizes) {
  PackageSizes local;
  PackageSizes& s = sizes ? *sizes : local;
  s = PackageSizes();
  std::string error = CheckHeader(desc.header);
  if (!error.empty()) return error;

  ScratchFile docfile(fs::path(out).concat(".docfile.tmp"));
  ScratchFile payload(fs::path(out).concat(".payload.tmp"));
  if (!(error = WriteWorkDocfile(desc, docfile.path)).empty()) return error;
  std::error_code ec;
  s.docfile = fs::file_size(docfile.path, ec);

  fs::path payload_path = docfile.path;
  const bool compact = desc.format == PackageFormat::kCompact;
  uint32_t payload_crc = 0;
  if (compact) {
    uint64_t payload_size = 0;
    if (!WriteCompactPayloadFile(docfile.path, payload.path,
                                 &payload_size, &payload_crc)) {
      return "cannot compress the work docfile into " + payload.path.string();
    }
    payload_path = payload.path;
  } else if (desc.payload == PayloadForm::kCompressed) {
    const std::string in = ProgramPathOf(docfile.path);
    const std::string to = ProgramPathOf(payload.path);
    if (in.empty() || to.empty() ||
        !WritePayloadFromFile(in.c_str(), to.c_str(), desc.payload_options)) {
      return "cannot compress the work docfile into " + payload.path.string();
    }
    payload_path = payload.path;
  }
  s.payload = fs::file_size(payload_path, ec);
  if (!compact && s.payload > 0xFFFFFFFFull) return "the payload is larger than 4 GiB";

  const std::vector<uint8_t> header = WriteHeader(desc.header);
  s.header = header.size();
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) return "cannot create " + out.string();
  uint64_t copied = 0;
  if (desc.layout == PackageLayout::kExecutable) {
    std::ifstream stub(desc.stub, std::ios::binary);
    if (!stub) return "cannot read the program image " + desc.stub.string();
    if (!CopyFileBytes(stub, file, &copied)) return "cannot write " + out.string();
    s.program = copied;
  }
  std::ifstream in(payload_path, std::ios::binary);
  if (!in || !CopyFileBytes(in, file, &copied) || copied != s.payload) {
    return "cannot write " + out.string();
  }
  file.write(reinterpret_cast<const char*>(header.data()),
             static_cast<std::streamsize>(header.size()));
  const std::vector<uint8_t> trailer =
      compact ? format::CompactTrailer(s.payload, static_cast<uint32_t>(header.size()), payload_crc,
                                       Crc32Update(0, header.data(),
                                                   static_cast<int64_t>(header.size())))
      : desc.layout == PackageLayout::kExecutable
          ? format::ExecutableTrailer(static_cast<uint32_t>(s.payload),
                                      static_cast<uint32_t>(header.size()))
          : format::DataFileTrailer(static_cast<uint32_t>(header.size()));
  file.write(reinterpret_cast<const char*>(trailer.data()),
             static_cast<std::streamsize>(trailer.size()));
  file.close();
  if (!file) return "cannot write " + out.string();
  s.total = s.program + s.payload + s.header + trailer.size();
  if (desc.layout == PackageLayout::kExecutable) {
    // A package executable is a program: it can be run where the host keeps such a bit.
    fs::permissions(out, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
  }
  return std::string();
}

}  // namespace gp::builder
