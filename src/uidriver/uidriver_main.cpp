// uidriver: runs a package program unattended. It starts the program, handles the main dialog
// (and the properties dialog when group folders are given), answers the message boxes in order,
// prints each of them as "caption: text" (UTF-8, one line each), and ends with the program's
// exit code.
//
//   uidriver [--answer ok|retry|cancel|yes|no]... [--main execute|cancel] [--folder PATH]
//            [--group GENERATION/GROUP=PATH]... [--timeout SECONDS] -- PROGRAM [ARGUMENTS]
//
// ARGUMENTS reach the program exactly as written on uidriver's own command line. Once the
// answers run out, a box gets OK, Cancel (Retry/Cancel) or No (Yes/No). A program still running
// after the timeout (default 300 s) is ended. Exit code 125 when uidriver itself cannot do what
// it was told or the time ran out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "uidriver/session.h"
#include "uidriver/ui_driver.h"

namespace gp::uidriver {
namespace {

struct Options {
  SessionOptions session;
  std::string program;
  std::string arguments;  // verbatim
};

void Complain(const std::string& text) {
  std::fputs(("uidriver: " + text + "\n").c_str(), stderr);
}

constexpr char kUsage[] =
    "usage: uidriver [--answer ok|retry|cancel|yes|no]... [--main execute|cancel] "
    "[--folder PATH] [--group GENERATION/GROUP=PATH]... [--timeout SECONDS] "
    "-- PROGRAM [ARGUMENTS]";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One word of a command line with where it begins and ends in the line.
struct Word {
  std::string text;  // without its quotes
  size_t begin = 0;
  size_t end = 0;
};

// Splits the words after the program name: blanks separate, double quotes group (and are
// dropped), backslashes are taken literally except before a quote.
std::vector<Word> SplitCommandLine(const std::string& line) {
  size_t i = 0;
  // The program name: quoted up to the next quote, else up to the first blank.
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', 1);
    i = close == std::string::npos ? line.size() : close + 1;
  }
  while (i < line.size() && !IsBlank(line[i])) ++i;
  std::vector<Word> words;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    Word word;
    word.begin = i;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        word.text.push_back('"');
        i += 2;
      } else if (line[i] == '"') {
        quoted = !quoted;
        ++i;
      } else {
        word.text.push_back(line[i++]);
      }
    }
    word.end = i;
    words.push_back(word);
  }
  return words;
}

bool ParseOptions(const std::string& line, Options* options) {
  const std::vector<Word> words = SplitCommandLine(line);
  size_t i = 0;
  auto value = [&](const std::string& name, std::string* out) {
    if (i + 1 >= words.size()) {
      Complain(name + " needs a value");
      return false;
    }
    *out = words[++i].text;
    return true;
  };
  for (; i < words.size(); ++i) {
    const std::string& w = words[i].text;
    std::string v;
    if (w == "--") {
      if (i + 1 >= words.size()) {
        Complain("no program after --");
        return false;
      }
      options->program = words[i + 1].text;
      size_t rest = words[i + 1].end;
      while (rest < line.size() && IsBlank(line[rest])) ++rest;
      options->arguments = line.substr(rest);
      return true;
    }
    if (w == "--help" || w == "-h") {
      WriteOutput(std::string(kUsage) + "\n");
      std::exit(0);
    }
    if (w == "--answer") {
      int id = 0;
      if (!value(w, &v)) return false;
      if (!AnswerId(v, &id)) {
        Complain("unknown answer '" + v + "' (ok, retry, cancel, yes, no)");
        return false;
      }
      options->session.answers.push_back(id);
    } else if (w == "--main") {
      if (!value(w, &v)) return false;
      if (v != "execute" && v != "cancel") {
        Complain("--main takes execute or cancel");
        return false;
      }
      options->session.execute = v == "execute";
    } else if (w == "--folder") {
      if (!value(w, &options->session.folder)) return false;
      options->session.has_folder = true;
    } else if (w == "--group") {
      if (!value(w, &v)) return false;
      const size_t slash = v.find('/');
      const size_t equals = slash == std::string::npos ? slash : v.find('=', slash);
      if (equals == std::string::npos) {
        Complain("'" + v + "' is not of the form GENERATION/GROUP=PATH");
        return false;
      }
      options->session.groups.push_back(
          {v.substr(0, slash), v.substr(slash + 1, equals - slash - 1), v.substr(equals + 1)});
    } else if (w == "--timeout") {
      if (!value(w, &v)) return false;
      char* end = nullptr;
      const unsigned long seconds = std::strtoul(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || seconds == 0 || seconds > 86400) {
        Complain("--timeout takes a number of seconds from 1 to 86400");
        return false;
      }
      options->session.timeout_ms = static_cast<uint32_t>(seconds * 1000);
    } else {
      Complain("unknown option '" + w + "'");
      return false;
    }
  }
  Complain(kUsage);
  return false;
}

}  // namespace
}  // namespace gp::uidriver

int main() {
  gp::uidriver::Options options;
  if (!gp::uidriver::ParseOptions(gp::uidriver::OwnCommandLine(), &options)) {
    return gp::uidriver::kDriverFailure;
  }
  options.session.on_message = [](int, const std::string& line) {
    gp::uidriver::WriteOutput(line);
  };
  const gp::uidriver::SessionResult result =
      gp::uidriver::RunSession(options.program, options.arguments, std::move(options.session));
  return gp::uidriver::DriverExitCode(result);
}
