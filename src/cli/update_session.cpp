#include "cli/update_session.h"

#include <cstring>

#include "app/extraction.h"
#include "format/header_layout.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "update/entry_path.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

std::string HostText(const fs::path& p) {
  const std::u8string u = fs::absolute(p).u8string();
  return std::string(u.begin(), u.end());
}

void SetFolder(char* buffer, const std::string& program, const std::string& what) {
  if (program.size() >= 256) throw CliError(what + " is 256 bytes or longer", kExitUsage);
  std::memset(buffer, 0, layout::kPathBufferSize);
  std::memcpy(buffer, program.data(), program.size());
}

// True when a Windows path names its folder from a root: a drive letter ("C:..."), or a
// leading backslash (the current drive's root, or "\\\\server\\share").
bool IsRootedFolder(const char* folder) {
  const size_t n = std::strlen(folder);
  if (n >= 2 && folder[1] == ':') return true;
  return n >= 1 && (folder[0] == '\\' || folder[0] == '/');
}

// Group folders that the package gives relative are taken inside the destination folder.
void ResolveRelativeGroupFolders(PackageTables& p) {
  std::string destination = p.destination_folder.get();
  if (!destination.empty() && destination.back() != '\\') destination += '\\';
  for (int g = 0; g < p.generation_count; ++g) {
    for (int k = 0; k < p.generations[g].entry_count; ++k) {
      GroupCell* cell = p.Cell(g, k);
      if (cell == nullptr || cell->folder == nullptr || cell->folder[0] == 0 || IsRootedFolder(cell->folder)) {
        continue;
      }
      SetFolder(cell->folder, destination + cell->folder, "the folder of group " + Utf8(cell->name ? cell->name : ""));
    }
  }
}

}  // namespace

void DeclareSessionOptions(CLI::App& app, SessionOptions& o, bool with_answers) {
  app.add_option("PACKAGE", o.package, "the package")->required()->type_name("");
  app.add_option("-d,--dest", o.destination, "the destination folder (default: the current directory)")
      ->type_name("DIR");
  app.add_option("-g,--group", o.groups,
                 "a group's folder (GEN/NAME=DIR: in one generation)")
      ->type_name("NAME=DIR")->allow_extra_args(false);
  app.add_option("--windows-dir", o.windows_folder, "the Windows folder ('+' paths); default GENPATCH_WINDOWS_DIR")
      ->type_name("DIR");
  app.add_option("--system-dir", o.system_folder, "the system folder ('-' paths); default GENPATCH_SYSTEM_DIR")
      ->type_name("DIR");
  app.add_option("--log", o.log, "append one UTF-8 line per step of the run to FILE")->type_name("FILE");
  if (with_answers) {
    app.add_option("--answers", o.answers,
                   "answers to the update's questions, comma-separated: ok, retry, cancel, yes, no "
                   "(default GENPATCH_ANSWERS)")->type_name("LIST");
  }
}

UpdateSession::UpdateSession(bool tidy) : temp_folder_(tidy) { host_.SetInteractive(false); }

UpdateSession::~UpdateSession() {
  ReleasePackageTables(context_);
  if (!context_.work_docfile.path.empty()) RemoveWorkDocfile(context_.work_docfile);
  ReplayFolderJournal(context_.journal);
  ReleaseTextBuffers(context_.package);
}

void UpdateSession::Open(const SessionOptions& options) {
  if (options.answers) host_.SetAnswers(*options.answers);
  if (options.windows_folder) platform::SetWindowsFolderOverride(HostText(builder::PathFromUtf8(*options.windows_folder)));
  if (options.system_folder) platform::SetSystemFolderOverride(HostText(builder::PathFromUtf8(*options.system_folder)));

  if (options.log) {
    const std::string log_path = ProgramPath(builder::PathFromUtf8(*options.log));
    if (!context_.log.Open(log_path.c_str())) {
      throw CliError("the log " + *options.log + " cannot be opened", kExitUsage);
    }
  }
  const PackageFile package = OpenPackage(builder::PathFromUtf8(options.package));
  const std::string program = ProgramPath(builder::PathFromUtf8(options.package));
  LogRunStart(context_, program.c_str(), !package.executable);
  PackageTables& p = context_.package;
  p.Reset();
  AllocateTextBuffers(p);
  OpenFolderJournal(context_.journal);
  if (!ReadPackageHeader(context_, program.c_str(), !package.executable)) {
    throw CliError("the package header cannot be loaded");
  }
  const bool extracted = package.executable ? ExtractPayloadFrom(context_, nullptr, program.c_str())
                                            : ExtractPayload(context_, program.c_str());
  if (!extracted) throw CliError("the payload cannot be extracted");

  if (options.destination) {
    std::error_code ec;
    const fs::path destination = builder::PathFromUtf8(*options.destination);
    if (!fs::is_directory(destination, ec)) {
      throw CliError("the destination folder " + builder::DisplayPath(destination) + " does not exist");
    }
    SetFolder(p.destination_folder.get(), ProgramPath(destination), "the destination");
  }
  ResolveRelativeGroupFolders(p);
  for (const std::string& desc : options.groups) {
    const size_t equals = desc.find('=');
    if (equals == std::string::npos) {
      throw CliError("--group takes NAME=DIR or GENERATION/NAME=DIR, not " + desc, kExitUsage);
    }
    std::string name = desc.substr(0, equals);
    std::string generation;
    const size_t slash = name.find('/');
    if (slash != std::string::npos) {
      generation = name.substr(0, slash);
      name = name.substr(slash + 1);
    }
    std::string name932;
    std::string generation932;
    if (!platform::Utf8ToCp932(name, &name932) || !platform::Utf8ToCp932(generation, &generation932)) {
      throw CliError("--group " + desc + ": the name has no code page 932 form", kExitUsage);
    }
    const std::string folder = ProgramPath(builder::PathFromUtf8(desc.substr(equals + 1)));
    bool found = false;
    for (int g = 0; g < p.generation_count; ++g) {
      if (!generation.empty() && ComparePathsNoCase(p.generations[g].name, generation932.c_str()) != 0) {
        continue;
      }
      for (int k = 0; k < p.generations[g].entry_count; ++k) {
        GroupCell* cell = p.Cell(g, k);
        if (cell && cell->name && cell->folder &&
            ComparePathsNoCase(cell->name, name932.c_str()) == 0) {
          SetFolder(cell->folder, folder, "the folder of group " + name);
          found = true;
        }
      }
    }
    if (!found) throw CliError("the package has no group " + name, kExitUsage);
  }
}

}  // namespace gp::cli
