#include "format/path_component.h"

#include <cstdint>

#include "base/cp932.h"

namespace gp::format {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Checks every component of text, cut at each separator byte (by_characters false) or at each
// separator that is not the second byte of a double-byte character (true).
bool HasClimbingComponentCut(std::string_view text, bool by_characters) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (by_characters && IsCp932LeadByte(byte) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (IsSeparator(text[i])) {
      if (IsClimbingComponent(text.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return IsClimbingComponent(text.substr(start));
}

}  // namespace

bool IsClimbingComponent(std::string_view component) {
  int dots = 0;
  for (char c : component) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool HasClimbingComponent(std::string_view text) {
  return HasClimbingComponentCut(text, false) || HasClimbingComponentCut(text, true);
}

bool IsContainedPath(std::string_view text) {
  if (!text.empty() && IsSeparator(text[0])) return false;
  if (text.find(':') != std::string_view::npos) return false;
  return !HasClimbingComponent(text);
}

ComponentProblem CheckComponent(std::string_view component) {
  if (component.find(':') != std::string_view::npos) return ComponentProblem::kColon;
  if (HasClimbingComponent(component)) return ComponentProblem::kClimbing;
  for (size_t i = 0; i < component.size(); ++i) {
    const auto byte = static_cast<uint8_t>(component[i]);
    if (IsCp932LeadByte(byte) && i + 1 < component.size()) {
      ++i;
      continue;
    }
    if (IsForbiddenInWindowsName(byte) || byte == '/') {
      return ComponentProblem::kForbiddenCharacter;
    }
  }
  const char last = component.empty() ? '\0' : component.back();
  if (last == '.' || last == ' ') return ComponentProblem::kTrailingDotOrBlank;
  return ComponentProblem::kNone;
}

}  // namespace gp::format
