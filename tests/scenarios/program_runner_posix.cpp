#if !defined(_WIN32)
#include "program_runner.h"

#include <map>
#include <sstream>

#include "run_process.h"
#include "support/test_support.h"

namespace gp::test {

namespace fs = std::filesystem;

ProgramRun RunPackageProgram(const fs::path& package, const fs::path& working,
                             const fs::path& temp, const ProgramAnswers& answers,
                             const ExtraEnvironment& environment) {
  std::string list;
  auto add = [&list](const std::string& item) {
    if (!list.empty()) list += ",";
    list += item;
  };
  if (!answers.folder.empty()) add("folder=" + PathToUtf8(answers.folder));
  for (const GroupAnswer& g : answers.groups) {
    add("group=" + g.generation + "/" + g.group + "=" + PathToUtf8(g.folder));
  }
  if (answers.main_dialog) add(answers.execute ? "execute" : "cancel");
  for (const std::string& box : answers.boxes) add(box);
  std::map<std::string, std::string> env = {{"GENPATCH_TEMP_DIR", temp.string()},
                                            {"GENPATCH_ANSWERS", list}};
  for (const auto& [name, value] : environment) env[name] = value;
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" \"$2\"", working.string(), GP_STUB_PATH,
       package.string()},
      env);
  ProgramRun run;
  run.ended = r.exit_code >= 0;
  run.exit_code = r.exit_code;
  // Without a terminal the progress goes to stderr too, one "progress: " line a step.
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("progress: ", 0) != 0) run.transcript += line + "\n";
  }
  return run;
}

}  // namespace gp::test
#endif
