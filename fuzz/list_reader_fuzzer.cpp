// File lists from a package: the in-memory walker of the passes, the disk paths built from
// every entry, and detection reading the same bytes field by field from a work docfile. No
// read may leave the list or its buffers, and no disk path may leave its base folder.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/package_loader.h"
#include "builder/header_writer.h"
#include "cfb/cfb_writer.h"
#include "format/header_layout.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "ui/scripted_host.h"
#include "update/detection.h"
#include "update/entry_path.h"
#include "update/file_list.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path folder;
  std::string program_folder;
  std::string docfile;
  bool ready = false;
  gp::ui::ScriptedHost host;  // nothing here shows a message
  gp::RunContext context{host};

  Scratch() {
    std::random_device seed;
    folder = fs::temp_directory_path() / ("gp-list-fuzz-" + std::to_string(seed()));
    std::error_code ec;
    fs::create_directories(folder / "dest", ec);
    std::string program;
    if (!gp::platform::HostToProgramPath(folder.string(), &program)) {
      return;
    }
    program_folder = program;
    docfile = (folder / "work.cfb").string();
    ready = !ec;
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

// True when a byte-wise reading of the text has a ".." component or a ':'.
bool Climbs(const std::string& text) {
  if (text.find(':') != std::string::npos) return true;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\\' || text[i] == '/') {
      if (text.compare(start, i - start, "..") == 0) return true;
      start = i + 1;
    }
  }
  return false;
}

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

void InstallPackage(gp::PackageTables& p, const std::string& dest) {
  gp::builder::HeaderDescription desc;
  desc.caption = "c";
  desc.group_count = 2;
  desc.generations = {{"g0", "", {{"data", "", dest + "\\g0"}, {"X", "", dest}}},
                      {"g1", "", {{"DATA", "", dest + "\\g1"}}},
                      {"g2", "", {}}};
  p.Reset();
  if (!gp::AllocateTextBuffers(p)) return;
  const std::vector<uint8_t> header = gp::builder::WriteHeader(desc);
  p.header_block.reset(new uint8_t[header.size()]);
  std::memcpy(p.header_block.get(), header.data(), header.size());
  p.header_length = static_cast<uint32_t>(header.size());
  gp::ParseHeaderBlock(p);
  // File removal: removal entries are checked too.
  p.option_words[(gp::layout::kFileRemovalFlag - gp::layout::kOptionWordsStart) / 4] = 1;
  for (char* folder : {p.destination_folder.get(), p.windows_folder.get(), p.system_folder.get()}) {
    std::snprintf(folder, 260, "%s", dest.c_str());
  }
}

bool WriteDocfile(const std::string& path, const uint8_t* data, size_t size) {
  gp::cfb::CompoundFileWriter writer;
  for (const char16_t* storage : {u"1", u"2"}) {
    int id = 0;
    if (writer.AddStorage(gp::cfb::CompoundFileWriter::kRoot, storage, &id) !=
            gp::cfb::Status::kOk ||
        writer.AddStreamBytes(id, u"list.dat", std::vector<uint8_t>(data, data + size)) !=
            gp::cfb::Status::kOk) {
      return false;
    }
  }
  std::vector<uint8_t> bytes;
  if (writer.WriteToVector(&bytes) != gp::cfb::Status::kOk) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  Scratch& scratch = TheScratch();
  if (!scratch.ready) return 0;
  const std::string dest = scratch.program_folder + "\\dest";
  gp::RunContext& context = scratch.context;
  InstallPackage(context.package, dest);

  // The passes: the whole list in memory.
  std::vector<uint8_t> copy(data, data + size);
  gp::FileListWalker walker;
  if (walker.Begin(copy.data(), copy.size())) {
    gp::ListEntry entry;
    while (walker.Next(&entry)) {
      for (int g = 0; g < 3; ++g) {
        char old_path[gp::kEntryPathBufferSize];
        char new_path[gp::kEntryPathBufferSize];
        std::memcpy(old_path, entry.old_data_path, sizeof old_path);
        std::memcpy(new_path, entry.new_data_path, sizeof new_path);
        for (auto [path, name] :
             {std::pair{old_path, entry.old_name}, std::pair{new_path, entry.new_name}}) {
          if (gp::ResolveEntryPath(context.package, g, path, name)) {
            // Every disk path lies below the folder it belongs to.
            const std::string disk(path);
            if (disk.size() >= gp::kEntryPathBufferSize ||
                disk.compare(0, dest.size(), dest) != 0 || Climbs(disk.substr(dest.size()))) {
              __builtin_trap();
            }
          }
        }
      }
    }
  }

  // Detection: the same bytes as lists 1 and 2, read field by field.
  if (WriteDocfile(scratch.docfile, data, size)) {
    std::string program_docfile;
    if (gp::platform::HostToProgramPath(scratch.docfile, &program_docfile)) {
      auto* access = new gp::DocfileAccess();
      context.work_docfile.access = access;
      if (access->OpenDocfile(program_docfile.c_str())) {
        gp::IsLatestInstalled(context);
        gp::FindInstalledGeneration(context);
        if (access->has_stream()) __builtin_trap();
      }
      context.work_docfile.DestroyAccess();
    }
  }
  context.package.Reset();
  return 0;
}
