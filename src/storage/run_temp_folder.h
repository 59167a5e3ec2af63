// The temporary folder of one update run. Every temporary file of a run (the folder journal and
// the copied payload "DIF", the expanded work docfile "dif", the payload scratch file "pzw",
// the stream copies "tmp") is made in a folder of the run's own inside the system's temporary
// folder, named "~gp" and the process id (TEMP\~gp1234\DIF3A1.TMP): the names inside are
// those the system gives.
//
// A run that is killed leaves its folder behind. The next run removes every such folder whose
// process no longer exists: a folder whose id belongs to a live process (the run itself, or
// another program that happens to have the id now) is left alone, so a live program's files
// are never touched. Only the files directly inside are deleted, then the folder if it is
// empty; anything else in the temporary folder is never looked at.
#pragma once

#include <cstdint>
#include <string>

namespace gp {

class RunTempFolder {
 public:
  // Removes the folders of ended runs (unless remove_ended_runs is false: a run that must
  // change nothing but its own files), makes this run's folder and points
  // platform::TempFolder at it. When the folder cannot be made, temporary files go to the
  // system's temporary folder as before.
  explicit RunTempFolder(bool remove_ended_runs = true);
  // Deletes what is left in the folder, removes it and restores platform::TempFolder.
  ~RunTempFolder();
  RunTempFolder(const RunTempFolder&) = delete;
  RunTempFolder& operator=(const RunTempFolder&) = delete;

  // The folder (a program path ending with a backslash), or empty when none was made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The name of the run folder of a process ("~gp" and the id in decimal).
std::string RunTempFolderName(uint32_t process_id);
// Removes the run folders in temp_folder (a program path ending with a backslash) whose
// process no longer exists, and the files directly inside them. Returns how many were removed.
int RemoveEndedRunFolders(const std::string& temp_folder);

}  // namespace gp
