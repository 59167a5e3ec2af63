// The options stream of the work docfile ("0\DiffOption2.dat"): six texts, each a u8 length and
// that many code page 932 bytes: project comment, failure text, completion text, missing-file
// text, up-to-date text, message caption.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gp::builder {

inline constexpr char kOptionsStreamPath[] = "0\\DiffOption2.dat";

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
