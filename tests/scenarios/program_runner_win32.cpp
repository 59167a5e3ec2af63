#if defined(_WIN32)
#include "program_runner.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/desktop_win32.h"
#include "support/test_support.h"
#include "uidriver/ui_driver.h"

namespace gp::test {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWaitMs = 240000;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ReadText(const fs::path& path) {
  if (!fs::exists(path)) return std::string();
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

ProgramRun RunPackageProgram(const fs::path& package, const fs::path& working,
                             const fs::path& temp, const ProgramAnswers& answers,
                             const ExtraEnvironment& environment) {
  // Without a desktop that takes windows the program's dialogs never come: say so at once
  // instead of waiting for them.
  const std::string& desktop = DesktopProblem();
  if (!desktop.empty()) {
    ADD_FAILURE() << desktop;
    return ProgramRun{};
  }
  std::string line = "--timeout 180 --main " + std::string(answers.execute ? "execute" : "cancel");
  if (!answers.folder.empty()) line += " --folder " + Quoted(PathToUtf8(answers.folder));
  for (const GroupAnswer& g : answers.groups) {
    line += " --group " + Quoted(g.generation + "/" + g.group + "=" + PathToUtf8(g.folder));
  }
  for (const std::string& box : answers.boxes) line += " --answer " + box;
  // The program takes the rest of its command line verbatim as the file name: no quotes.
  line += " -- " + Quoted(uidriver::WindowsPathOf(GP_STUB_EXE)) + " " + PathToUtf8(package);
  const fs::path output = temp.parent_path() / (temp.filename().u8string() + u8".out");
  uidriver::Process driver;
  ProgramRun run;
  std::vector<std::pair<std::string, std::string>> env = {{"TMP", PathToUtf8(temp)},
                                                         {"TEMP", PathToUtf8(temp)}};
  env.insert(env.end(), environment.begin(), environment.end());
  if (!driver.Start(uidriver::WindowsPathOf(GP_UIDRIVER_EXE), line, env,
                    PathToUtf8(output), PathToUtf8(working))) {
    return run;
  }
  uint32_t code = 0;
  run.ended = driver.Wait(kWaitMs, &code);
  run.exit_code = static_cast<int>(code);
  if (code == 125) run.ended = false;  // uidriver could not do what it was told
  run.transcript = ReadText(output);
  fs::remove(output);
  return run;
}

}  // namespace gp::test
#endif
