// A small JSON writer for the command's machine-readable output (UTF-8 strings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gp::cli {

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(const std::string& key);
  void String(const std::string& utf8);
  void Number(uint64_t value);
  void Bool(bool value);
  void Null();
  const std::string& text() const { return out_; }

 private:
  void Separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written yet
  bool after_key_ = false;
};

}  // namespace gp::cli
