// Outputs of the genpatch command that never leave a half-written file behind: a file is
// written under a temporary name beside its final one and renamed into place when complete; the
// temporary file is removed when the verb fails and, through an interrupt handler, when the
// user presses Ctrl-C (or the process is asked to terminate).
#pragma once

#include <filesystem>

namespace gp::cli {

// Makes SIGINT and SIGTERM remove every file registered with RemovedOnInterrupt before the
// process ends as the signal would end it. Called once by main.
void InstallInterruptCleanup();

// Registers a file to remove on an interrupt for as long as the object lives.
class RemovedOnInterrupt {
 public:
  explicit RemovedOnInterrupt(const std::filesystem::path& path);
  ~RemovedOnInterrupt();
  RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
  RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;

 private:
  int slot_ = -1;
};

// One output file. The constructor checks, before any work, that the folder the file goes in
// exists and that the file does not (unless force; a folder is never replaced), naming the
// user's path in the error (CliError, exit code 1). The data goes to temp(), beside the output;
// Commit renames it into place. Without a commit the temporary file is removed.
class OutputFile {
 public:
  OutputFile(const std::filesystem::path& path, bool force);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  const std::filesystem::path& temp() const { return temp_; }
  // A second scratch file beside the output (suffix appended to its name), removed with the
  // temporary file; for work files that must live on the output's volume.
  std::filesystem::path Scratch(const char* suffix) const;
  void Commit();

 private:
  std::filesystem::path path_;
  std::filesystem::path temp_;
  bool committed_ = false;
  RemovedOnInterrupt temp_cleanup_;
};

}  // namespace gp::cli
