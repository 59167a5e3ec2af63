// The options stream of the work docfile (layout in format/options_stream.h): the texts a
// package gets, and their writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/options_stream.h"

namespace gp::builder {

struct OptionsTexts {
  std::string project_comment;
  std::string failure;
  std::string completion;
  std::string missing_file;
  std::string up_to_date;
  std::string caption;
  // Store each text's terminating NUL inside its length (readers accept both forms).
  bool with_nul = false;
};

// The texts a package gets when its author names none (code page 932).
OptionsTexts DefaultOptionsTexts();

// Empty when the texts fit (each at most 255 bytes with any NUL counted), else what is wrong.
std::string CheckOptionsTexts(const OptionsTexts& texts);
std::vector<uint8_t> WriteOptionsStream(const OptionsTexts& texts);

}  // namespace gp::builder
