#include "builder/options_writer.h"

#include "platform/platform.h"

namespace gp::builder {

namespace {

const std::string* Fields(const OptionsTexts& t, int i) {
  const std::string* fields[format::kOptionsTextCount] = {
      &t.project_comment, &t.failure, &t.completion, &t.missing_file, &t.up_to_date, &t.caption};
  return fields[i];
}

std::string Cp932(const char* utf8) {
  std::string out;
  platform::Utf8ToCp932(utf8, &out);
  return out;
}

}  // namespace

OptionsTexts DefaultOptionsTexts() {
  OptionsTexts t;
  t.project_comment = Cp932("アップデート");
  t.failure = Cp932("差分を実行出来ません。");
  t.completion = Cp932("正常終了");
  t.missing_file = Cp932("元ファイルがありません。");
  t.up_to_date = Cp932("既に最新版になっています。");
  t.caption = Cp932("アップデート");
  return t;
}

std::string CheckOptionsTexts(const OptionsTexts& texts) {
  static const char* const kNames[format::kOptionsTextCount] = {
      "project comment", "failure text", "completion text", "missing-file text", "up-to-date text",
      "caption"};
  for (int i = 0; i < static_cast<int>(format::kOptionsTextCount); ++i) {
    const size_t stored = Fields(texts, i)->size() + (texts.with_nul ? 1 : 0);
    if (stored > format::kOptionsTextMax) {
      return std::string("the ") + kNames[i] + " is " + std::to_string(Fields(texts, i)->size()) +
             " bytes; at most " + std::to_string(texts.with_nul ? 254 : 255) + " fit";
    }
    if (Fields(texts, i)->find('\0') != std::string::npos) {
      return std::string("the ") + kNames[i] + " contains a NUL byte";
    }
  }
  return std::string();
}

std::vector<uint8_t> WriteOptionsStream(const OptionsTexts& texts) {
  std::vector<uint8_t> out;
  for (int i = 0; i < static_cast<int>(format::kOptionsTextCount); ++i) {
    const std::string& text = *Fields(texts, i);
    out.push_back(static_cast<uint8_t>(text.size() + (texts.with_nul ? 1 : 0)));
    out.insert(out.end(), text.begin(), text.end());
    if (texts.with_nul) out.push_back(0);
  }
  return out;
}

}  // namespace gp::builder
