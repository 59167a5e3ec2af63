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

}  // namespace

bool ParseSessionOption(const std::vector<std::string>& args, size_t* i, SessionOptions* o) {
  const std::string& a = args[*i];
  auto value = [&](const char* name) {
    if (*i + 1 >= args.size()) throw CliError(std::string(name) + " needs a value", kExitUsage);
    return args[++*i];
  };
  if (a == "--dest") {
    o->destination = builder::PathFromUtf8(value("--dest"));
  } else if (a == "--group") {
    o->groups.push_back(value("--group"));
  } else if (a == "--windows-dir") {
    o->windows_folder = builder::PathFromUtf8(value("--windows-dir"));
  } else if (a == "--system-dir") {
    o->system_folder = builder::PathFromUtf8(value("--system-dir"));
  } else if (a == "--answers") {
    o->answers = value("--answers");
  } else if (a == "--log") {
    o->log = builder::PathFromUtf8(value("--log"));
  } else {
    return false;
  }
  return true;
}

UpdateSession::UpdateSession() { host_.SetInteractive(false); }

UpdateSession::~UpdateSession() {
  ReleasePackageTables(context_);
  if (!context_.work_docfile.path.empty()) RemoveWorkDocfile(context_.work_docfile);
  ReplayFolderJournal(context_.journal);
  ReleaseTextBuffers(context_.package);
}

void UpdateSession::Open(const SessionOptions& options) {
  if (options.answers) host_.SetAnswers(*options.answers);
  if (options.windows_folder) platform::SetWindowsFolderOverride(HostText(*options.windows_folder));
  if (options.system_folder) platform::SetSystemFolderOverride(HostText(*options.system_folder));

  if (options.log) {
    const std::string log_path = ProgramPath(*options.log);
    if (!context_.log.Open(log_path.c_str())) {
      throw CliError("the log " + options.log->string() + " cannot be opened", kExitUsage);
    }
  }
  const PackageFile package = OpenPackage(options.package);
  const std::string program = ProgramPath(options.package);
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
    SetFolder(p.destination_folder.get(), ProgramPath(*options.destination), "the destination");
  }
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
