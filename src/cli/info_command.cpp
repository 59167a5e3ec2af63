#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/package_file.h"
#include "cli/verb_parser.h"
#include "base/byte_reader.h"
#include "base/endian.h"
#include "format/data_stream.h"
#include "format/list_record.h"
#include "format/options_stream.h"
#include "platform/platform.h"
#include "update/package_tables.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kInfoDescription[] =
    "Shows what a package holds: its layout and sizes, whether a package executable is signed\n"
    "(and the size of its certificate table), the header flags by name, its texts,\n"
    "the generations with their additional groups and folders, the options texts, and every\n"
    "storage and stream of the work docfile with its size. PACKAGE is a package executable or\n"
    "a package data file.\n";

constexpr char kInfoFooter[] =
    "With --files, each list's files are shown by their path (main folder, or [GROUP], '+'\n"
    "Windows and '-' system folder) with what the step does: added, changed, removed or\n"
    "carried unchanged (named so that a run from an older release carries it along), the\n"
    "file's size after the step and the bytes the package carries for it.\n"
    "\n"
    "Exit codes: 0 shown; 1 not a package, or its payload is not valid (the header is still\n"
    "shown); 2 wrong usage.\n";

// A text of the package as info shows it.
struct InfoLine {
  const char* key;    // in JSON
  const char* label;  // in the text, before a colon
  std::string value;  // UTF-8
};

struct InfoOptions {
  std::string package;
  bool json = false;
  bool files = false;
};

// The options of info, one line each.
void DeclareOptions(CLI::App& app, InfoOptions& o) {
  app.add_option("PACKAGE", o.package, "the package")->required()->type_name("");
  app.add_flag("--json", o.json, "the same as one JSON object");
  app.add_flag("--files", o.files, "every file of each list with what the step does and its sizes");
}

// One entry of a list as --files shows it.
struct FileStep {
  std::string path;    // UTF-8, as the user knows it: subfolders and name, a group as [NAME]
  const char* action = "";  // added, changed, removed, carried
  uint64_t size = 0;   // the file's size after the step (0 when removed)
  uint64_t stream = 0; // the bytes the package carries for it
};

// The size of the file that a data stream makes: the blocks of a whole file, or the literal
// runs and copies of a diff. 0 when the stream is cut short.
uint64_t MadeSize(const std::vector<uint8_t>& stream, bool whole_file) {
  uint64_t size = 0;
  size_t at = format::kEntryHeaderSize;
  while (at + format::kCommandWordSize <= stream.size()) {
    const uint16_t word = LoadU16(stream.data() + at);
    at += format::kCommandWordSize;
    if (whole_file) {
      size += word;
      at += word;
      continue;
    }
    const format::CommandWord command = format::DecodeCommandWord(word);
    if (command.kind == format::CommandKind::kLiteral) {
      size += command.length;
      at += command.operand_size;
      continue;
    }
    if (at + command.operand_size > stream.size()) return 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    format::DecodeCopyOperands(command, stream.data() + at, &offset, &length);
    size += length;
    at += command.operand_size;
  }
  return at == stream.size() ? size : 0;
}

// The user's name of an entry: the data path's token (main folder, group, Windows or system
// folder) and subfolders, then the name.
std::string ShownPath(std::string_view data_path, std::string_view name) {
  while (!name.empty() && name.back() == '\0') name.remove_suffix(1);
  while (!data_path.empty() && data_path.back() == '\0') data_path.remove_suffix(1);
  const size_t first = data_path.find('\\');
  const size_t last = data_path.rfind('\\');
  const size_t second = first == std::string_view::npos ? first : data_path.find('\\', first + 1);
  if (second == std::string_view::npos) return Utf8(std::string(name));
  const std::string token(data_path.substr(first + 1, second - first - 1));
  const std::string folders(data_path.substr(second + 1, last - second));
  std::string prefix;
  if (token == "_") {
  } else if (!token.empty() && token[0] == '+') {
    prefix = "[Windows]\\";
  } else if (!token.empty() && token[0] == '-') {
    prefix = "[system]\\";
  } else {
    prefix = "[" + token + "]\\";
  }
  return Utf8(prefix + folders + std::string(name));
}

// Every entry of every list. Throws CliError when a list is missing or damaged.
std::vector<std::vector<FileStep>> ReadFileSteps(const fs::path& docfile, int lists) {
  std::vector<std::vector<FileStep>> out;
  for (int k = 1; k <= lists; ++k) {
    const std::vector<uint8_t> list = ReadDocfileStream(docfile, std::to_string(k) + "\\list.dat");
    ByteReader reader(list.data(), list.size());
    uint32_t count = 0;
    if (!format::ReadListCount(reader, &count)) throw CliError("list " + std::to_string(k) + " is cut short");
    std::vector<FileStep> steps;
    for (uint32_t i = 0; i < count; ++i) {
      format::ListRecord r;
      if (!format::ReadListRecord(reader, &r)) {
        throw CliError("list " + std::to_string(k) + " is cut short");
      }
      FileStep step;
      if (r.new_crc == 0) {
        step.action = "removed";
        step.path = ShownPath(r.old_data_path, r.old_name);
      } else {
        step.action = r.old_crc == 0 ? "added" : r.old_crc == r.new_crc ? "carried" : "changed";
        step.path = ShownPath(r.new_data_path, r.new_name);
        std::string stream_path(r.new_data_path);
        while (!stream_path.empty() && stream_path.back() == '\0') stream_path.pop_back();
        const std::vector<uint8_t> stream = ReadDocfileStream(docfile, stream_path);
        step.stream = stream.size();
        step.size = MadeSize(stream, r.old_crc == 0);
      }
      steps.push_back(std::move(step));
    }
    out.push_back(std::move(steps));
  }
  return out;
}

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
  VerbParser parser("info", kInfoDescription, kInfoFooter);
  InfoOptions o;
  DeclareOptions(parser.app(), o);
  if (!parser.Parse(args)) return kExitOk;
  const std::string& path = o.package;
  const bool json = o.json;

  const PackageFile package = OpenPackage(builder::PathFromUtf8(path));
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
  std::vector<std::vector<FileStep>> file_steps;
  const fs::path scratch = ScratchFolder() /
                           ("genpatch-info-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                            ".cfb");
  try {
    ExtractWorkDocfile(package, scratch);
    entries = ListDocfile(scratch, &version);
    have_options = ParseOptions(ReadDocfileStream(scratch, format::kOptionsStreamPath), options);
    if (!have_options) docfile_error = "the options stream is cut short";
    if (o.files && p.generation_count > 1) file_steps = ReadFileSteps(scratch, p.generation_count - 1);
  } catch (const CliError& e) {
    docfile_error = e.what();
  }
  std::error_code ec;
  fs::remove(scratch, ec);

  // Texts of the package, one entry each: a line "label: value" and a JSON key.
  const std::vector<InfoLine> lines = {
      {"caption", "caption", Utf8(p.Text(kSlotMessageCaption))},
      {"project_comment", "comment", Utf8(p.Text(kSlotProjectComment))},
      {"default_folder", "default folder", Utf8(p.Text(kSlotDefaultFolder))},
  };
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
    w.Key("signed");
    w.Bool(package.is_signed);
    w.Key("signature_size");
    w.Number(package.signature_size);
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
    for (const InfoLine& line : lines) {
      w.Key(line.key);
      w.String(line.value);
    }
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
    if (o.files) {
      w.Key("lists");
      w.BeginArray();
      for (size_t k = 0; k < file_steps.size(); ++k) {
        w.BeginObject();
        w.Key("list");
        w.Number(k + 1);
        w.Key("files");
        w.BeginArray();
        for (const FileStep& f : file_steps[k]) {
          w.BeginObject();
          w.Key("path");
          w.String(f.path);
          w.Key("action");
          w.String(f.action);
          w.Key("size");
          w.Number(f.size);
          w.Key("package_bytes");
          w.Number(f.stream);
          w.EndObject();
        }
        w.EndArray();
        w.EndObject();
      }
      w.EndArray();
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
    if (package.executable) {
      out += package.is_signed ? "signed:         yes, certificate table " +
                                     std::to_string(package.signature_size) + " bytes\n"
                               : std::string("signed:         no\n");
    }
    out += "flags:         ";
    for (const Flag& f : flags) out += std::string(" ") + f.name + "=" + (f.on ? "on" : "off");
    out += "\n";
    for (const InfoLine& line : lines) {
      const std::string label = std::string(line.label) + ":";
      out += label + std::string(label.size() < 16 ? 16 - label.size() : 1, ' ') + line.value + "\n";
    }
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
    for (size_t k = 0; k < file_steps.size(); ++k) {
      out += "list " + std::to_string(k + 1) + ": " + Utf8(p.generations[k].name) + " -> " +
             Utf8(p.generations[k + 1].name) + "\n";
      for (const FileStep& f : file_steps[k]) {
        out += "  " + std::string(f.action) + std::string(9 - std::string_view(f.action).size(), ' ') + f.path;
        if (f.stream != 0) {
          out += "  " + std::to_string(f.size) + " bytes (" + std::to_string(f.stream) + " in the package)";
        }
        out += "\n";
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
