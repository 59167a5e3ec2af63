#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/package_file.h"
#include "format/options_stream.h"
#include "platform/platform.h"
#include "update/package_tables.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kInfoHelp[] =
    "usage: genpatch info PACKAGE [--json]\n"
    "\n"
    "Shows what a package holds: its layout and sizes, the header flags by name, its texts,\n"
    "the generations with their additional groups and folders, the options texts, and every\n"
    "storage and stream of the work docfile with its size. PACKAGE is a package executable or\n"
    "a package data file.\n"
    "\n"
    "  --json   the same as one JSON object\n"
    "\n"
    "Exit codes: 0 shown; 1 not a package, or its payload is not valid (the header is still\n"
    "shown); 2 wrong usage.\n";

const char* const kOptionNames[6] = {"project comment", "failure text", "completion text",
                                     "missing-file text", "up-to-date text", "caption"};

// The texts of the options stream; false when the stream is cut short.
bool ParseOptions(const std::vector<uint8_t>& stream, std::string texts[6]) {
  std::string_view views[format::kOptionsTextCount];
  if (!format::ParseOptionsStream(stream, views)) return false;
  for (size_t i = 0; i < format::kOptionsTextCount; ++i) texts[i] = std::string(views[i]);
  return true;
}

struct Flag {
  const char* name;
  bool on;
  uint32_t word;
};

}  // namespace

int InfoCommand(const Args& args) {
  bool json = false;
  std::string path;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      platform::WriteStdout(kInfoHelp);
      return kExitOk;
    }
    if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      throw CliError("info: unknown option " + a + "\n\n" + kInfoHelp, kExitUsage);
    } else if (path.empty()) {
      path = a;
    } else {
      throw CliError(std::string("info: one package at a time\n\n") + kInfoHelp, kExitUsage);
    }
  }
  if (path.empty()) throw CliError(std::string("info: no package named\n\n") + kInfoHelp, kExitUsage);

  const PackageFile package = OpenPackage(path);
  PackageTables p;
  LoadTables(package, p);
  const Flag flags[] = {{"file-removal", p.FileRemoval(), p.option_words[1]},
                        {"backup", p.Backup(), p.option_words[2]},
                        {"folder-choice", p.FolderChoice(), p.option_words[3]},
                        {"version-check", p.VersionCheck(), p.option_words[4]},
                        {"restart", p.Restart(), p.option_words[6]}};

  // The work docfile, for the options and the stream list.
  std::string docfile_error;
  std::vector<DocfileEntry> entries;
  int version = 0;
  std::string options[6];
  bool have_options = false;
  const fs::path scratch = fs::temp_directory_path() /
                           ("genpatch-info-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                            ".cfb");
  try {
    ExtractWorkDocfile(package, scratch);
    entries = ListDocfile(scratch, &version);
    have_options = ParseOptions(ReadDocfileStream(scratch, format::kOptionsStreamPath), options);
    if (!have_options) docfile_error = "the options stream is cut short";
  } catch (const CliError& e) {
    docfile_error = e.what();
  }
  std::error_code ec;
  fs::remove(scratch, ec);

  const std::string layout = package.executable ? "package executable" : "package data file";
  if (json) {
    JsonWriter w;
    w.BeginObject();
    w.Key("package");
    w.String(path);
    w.Key("layout");
    w.String(package.executable ? "executable" : "data-file");
    w.Key("format");
    w.String(package.compact ? "compact" : "classic");
    w.Key("file_size");
    w.Number(package.file_size);
    w.Key("program_size");
    w.Number(package.executable ? package.payload_offset : 0);
    w.Key("payload_size");
    w.Number(package.payload_length);
    w.Key("header_size");
    w.Number(package.header.size());
    w.Key("flags");
    w.BeginObject();
    for (const Flag& f : flags) {
      w.Key(f.name);
      w.Bool(f.on);
    }
    w.EndObject();
    w.Key("option_words");
    w.BeginArray();
    for (uint32_t word : p.option_words) w.Number(word);
    w.EndArray();
    w.Key("project_comment");
    w.String(Utf8(p.Text(kSlotProjectComment)));
    w.Key("caption");
    w.String(Utf8(p.Text(kSlotMessageCaption)));
    w.Key("default_folder");
    w.String(Utf8(p.Text(kSlotDefaultFolder)));
    w.Key("group_count");
    w.Number(static_cast<uint64_t>(p.group_count));
    w.Key("generations");
    w.BeginArray();
    for (int g = 0; g < p.generation_count; ++g) {
      w.BeginObject();
      w.Key("name");
      w.String(Utf8(p.generations[g].name));
      w.Key("comment");
      w.String(Utf8(p.generations[g].comment));
      w.Key("groups");
      w.BeginArray();
      for (int k = 0; k < p.generations[g].entry_count; ++k) {
        const GroupCell* cell = const_cast<PackageTables&>(p).Cell(g, k);
        w.BeginObject();
        w.Key("name");
        w.String(Utf8(cell->name ? cell->name : ""));
        w.Key("comment");
        w.String(Utf8(cell->comment ? cell->comment : ""));
        w.Key("folder");
        w.String(Utf8(cell->folder ? cell->folder : ""));
        w.EndObject();
      }
      w.EndArray();
      w.EndObject();
    }
    w.EndArray();
    w.Key("options");
    if (have_options) {
      w.BeginObject();
      const char* keys[6] = {"project_comment", "failure",    "completion",
                             "missing_file",    "up_to_date", "caption"};
      for (int i = 0; i < 6; ++i) {
        w.Key(keys[i]);
        w.String(Utf8(options[i]));
      }
      w.EndObject();
    } else {
      w.Null();
    }
    w.Key("work_docfile");
    if (docfile_error.empty()) {
      w.BeginObject();
      w.Key("version");
      w.Number(static_cast<uint64_t>(version));
      w.Key("entries");
      w.BeginArray();
      for (const DocfileEntry& e : entries) {
        w.BeginObject();
        w.Key("path");
        w.String(Utf8(e.path));
        w.Key("type");
        w.String(e.storage ? "storage" : "stream");
        if (!e.storage) {
          w.Key("size");
          w.Number(e.size);
        }
        w.EndObject();
      }
      w.EndArray();
      w.EndObject();
    } else {
      w.Null();
      w.Key("error");
      w.String(docfile_error);
    }
    w.EndObject();
    platform::WriteStdout(w.text() + "\n");
  } else {
    std::string out;
    out += "package:        " + path + "\n";
    out += "layout:         " + layout + ", " + std::to_string(package.file_size) + " bytes";
    if (package.executable) out += " (program image " + std::to_string(package.payload_offset) + ")";
    out += "\n";
    out += std::string("format:         ") + (package.compact ? "compact" : "classic") + "\n";
    out += "payload:        " + std::to_string(package.payload_length) + " bytes\n";
    out += "header:         " + std::to_string(package.header.size()) + " bytes\n";
    out += "flags:         ";
    for (const Flag& f : flags) out += std::string(" ") + f.name + "=" + (f.on ? "on" : "off");
    out += "\n";
    out += "caption:        " + Utf8(p.Text(kSlotMessageCaption)) + "\n";
    out += "comment:        " + Utf8(p.Text(kSlotProjectComment)) + "\n";
    out += "default folder: " + Utf8(p.Text(kSlotDefaultFolder)) + "\n";
    out += "generations:    " + std::to_string(p.generation_count) + " (additional groups: " +
           std::to_string(p.group_count) + ")\n";
    for (int g = 0; g < p.generation_count; ++g) {
      out += "  " + std::to_string(g) + ". " + Utf8(p.generations[g].name);
      if (p.generations[g].comment[0]) out += "  -- " + Utf8(p.generations[g].comment);
      out += "\n";
      for (int k = 0; k < p.generations[g].entry_count; ++k) {
        const GroupCell* cell = const_cast<PackageTables&>(p).Cell(g, k);
        out += "       group " + Utf8(cell->name ? cell->name : "") + " -> " +
               Utf8(cell->folder ? cell->folder : "");
        if (cell->comment) out += "  -- " + Utf8(cell->comment);
        out += "\n";
      }
    }
    if (have_options) {
      out += "options:\n";
      for (int i = 0; i < 6; ++i) {
        out += std::string("  ") + kOptionNames[i] + ": " + Utf8(options[i]) + "\n";
      }
    }
    if (docfile_error.empty()) {
      out += "work docfile:   version " + std::to_string(version) + "\n";
      for (const DocfileEntry& e : entries) {
        out += "  " + Utf8(e.path) + (e.storage ? "\\" : "  " + std::to_string(e.size)) + "\n";
      }
    } else {
      out += "work docfile:   not valid: " + docfile_error + "\n";
    }
    platform::WriteStdout(out);
  }
  return docfile_error.empty() ? kExitOk : kExitFailure;
}

}  // namespace gp::cli
