#include "generator_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/extraction.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "update/package_tables.h"
#include "update/update_run.h"

namespace gp::test {

namespace fs = std::filesystem;

bool StreamBytes(const builder::GeneratedPackage& package, const std::string& path,
                 std::vector<uint8_t>* bytes) {
  for (const builder::DocfileStream& s : package.desc.streams) {
    if (s.path != path) continue;
    bytes->assign(s.size, 0);
    return s.size == 0 || s.source(0, bytes->data(), bytes->size());
  }
  return false;
}

std::vector<Entry> ReadList(const builder::GeneratedPackage& package, int k) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(StreamBytes(package, std::to_string(k) + "\\list.dat", &bytes)) << "list " << k;
  std::vector<Entry> out;
  FileListWalker walker;
  if (!walker.Begin(bytes.data(), bytes.size())) {
    ADD_FAILURE() << "list " << k << " is cut short";
    return out;
  }
  ListEntry e;
  while (walker.Next(&e)) {
    out.push_back({e.old_crc, e.new_crc, Utf8(e.old_data_path), Utf8(e.new_data_path),
                   Utf8(e.old_name), Utf8(e.new_name)});
  }
  EXPECT_FALSE(walker.failed());
  EXPECT_EQ(out.size(), walker.count());
  return out;
}

const Entry* FindEntry(const std::vector<Entry>& list, const std::string& name) {
  for (const Entry& e : list) {
    if (e.new_name == name || (e.new_name.empty() && e.old_name == name)) return &e;
  }
  return nullptr;
}

RunResult RunPackage(const fs::path& package, const fs::path& destination,
                     const std::map<std::string, fs::path>& groups) {
  ScriptedRun ui;
  TempFolderScope temp;
  RunResult result;
  const std::string program = ProgramPath(package);
  RunContext& context = ui.context();
  if (!LoadPackageHeader(context, program.c_str()) || !ExtractPayload(context, program.c_str())) {
    ADD_FAILURE() << "the package does not load";
  } else {
    PackageTables& p = context.package;
    const std::string dest = ProgramPath(destination);
    std::snprintf(p.destination_folder.get(), 260, "%s", dest.c_str());
    for (int g = 0; g < p.generation_count; ++g) {
      for (int j = 0; j < p.group_count; ++j) {
        GroupCell* cell = p.Cell(g, j);
        if (cell == nullptr || cell->name == nullptr || cell->folder == nullptr) continue;
        const auto it = groups.find(Utf8(cell->name));
        if (it != groups.end()) std::snprintf(cell->folder, 260, "%s", ProgramPath(it->second).c_str());
      }
    }
    RunUpdate(context, nullptr);
    result.outcome = context.run.outcome;
  }
  result.transcript = ui.Transcript();
  ReleasePackageTables(context);
  if (!context.work_docfile.path.empty()) RemoveWorkDocfile(context.work_docfile);
  ReplayFolderJournal(context.journal);
  return result;
}

}  // namespace gp::test
