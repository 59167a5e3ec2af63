// A test hook of the platform layer, not part of its interface: with GENPATCH_FAULT_AT=N in
// the environment the process ends itself abruptly just before its Nth file-system change (a
// delete, a rename or move, a folder created or removed, an open that creates or truncates a
// file for writing), as a crash or a power cut would end it there. With
// GENPATCH_FAULT_TRACE=FILE each change appends one line "NUMBER KIND PATH" (UTF-8) to FILE, so
// a test can count the changes of a run. Both are read once, at the first change; without
// them a change costs one test of a flag.
#pragma once

namespace gp::platform::fault {

enum class Change { kDelete, kRename, kMakeFolder, kRemoveFolder, kCreate };

// Called by the platform layer just before it changes the file system at path (a program
// path, code page 932).
void BeforeChange(Change kind, const char* path);
// True when either variable is set: for a caller that must look before it knows whether a call
// changes anything.
bool Active();

// Each implementation (posix/fault_hook.cpp, win32/fault_hook.cpp):
// ends this process at once, without unwinding, flushing or running exit handlers ...
[[noreturn]] void EndProcessAbruptly();
// ... and appends text to the file named by a host path (UTF-8), creating it when missing.
void AppendToTrace(const char* host_file, const char* text, unsigned size);

}  // namespace gp::platform::fault
