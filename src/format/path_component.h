// What a name or a folder inside a package may be. Names and subfolders are code page 932 texts
// whose components are cut at '\' and '/'; a double-byte character may end in 0x5C, so every
// rule that must keep a name inside its folder reads the text both ways: cut at every 0x5C byte
// (as data paths and storages are cut) and cut only at backslash characters (as Windows reads a
// path). The generator refuses what the update engine would refuse, and more.
#pragma once

#include <string_view>

namespace gp::format {

// Only dots and blanks, with at least two dots ("..", "...", ".. "): a file system may take it
// for the parent folder.
bool IsClimbingComponent(std::string_view component);

// True when a component of text, under either cut, is a climbing one.
bool HasClimbingComponent(std::string_view text);

// True when a relative name or subfolder path (which may end with a separator) stays inside the
// folder it is put in: not absolute (no leading '\' or '/'), no ':' (drive letters, alternate
// streams; 0x3A is never the second byte of a character), no climbing component. The rule the
// update engine applies to every name and subfolder part of a list entry.
bool IsContainedPath(std::string_view text);

// Why one component (a file name, or one folder between backslash characters) cannot be put
// into a package; the generator's rule, stricter than IsContainedPath.
enum class ComponentProblem {
  kNone,
  kColon,                // contains ':'
  kClimbing,             // reads as a parent folder under either cut
  kForbiddenCharacter,   // a character that Windows refuses in names, or '/'
  kTrailingDotOrBlank,   // Windows drops a dot or blank at the end of a name
};
ComponentProblem CheckComponent(std::string_view component);

}  // namespace gp::format
