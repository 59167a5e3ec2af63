#include "builder/project_file.h"

#include <fstream>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "builder/build_error.h"
#include "builder/release_tree.h"
#include "platform/platform.h"

namespace gp::builder {

namespace fs = std::filesystem;

namespace {

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  std::string Where(const toml::node& node, const std::string& key) const {
    const toml::source_position at = node.source().begin;
    return source_ + ":" + std::to_string(at.line) + ": '" + key + "'";
  }

  void CheckKeys(const toml::table& table, const std::set<std::string>& allowed,
                 const std::string& where) const {
    for (const auto& [key, node] : table) {
      const std::string name(key.str());
      if (allowed.count(name) == 0) {
        throw BuildError(source_ + ":" + std::to_string(key.source().begin.line) +
                         ": unknown key '" + name + "' " + where);
      }
      (void)node;
    }
  }

  // A text as code page 932; absent keys keep *out.
  void Text(const toml::table& table, const std::string& key, std::string* out) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return;
    const std::optional<std::string> value = node->value<std::string>();
    if (!value || !node->is_string()) throw BuildError(Where(*node, key) + " must be a text");
    if (!platform::Utf8ToCp932(*value, out)) {
      throw BuildError(Where(*node, key) + " has characters without a code page 932 (Shift-JIS) form");
    }
  }

  void Flag(const toml::table& table, const std::string& key, bool* out) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return;
    if (!node->is_boolean()) throw BuildError(Where(*node, key) + " must be true or false");
    *out = *node->value<bool>();
  }

  // A folder relative to base (or absolute); required.
  fs::path Folder(const toml::table& table, const std::string& key, const fs::path& base,
                  const std::string& where) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) throw BuildError(source_ + ": " + where + " needs '" + key + "'");
    if (!node->is_string()) throw BuildError(Where(*node, key) + " must be a text");
    const fs::path path = PathFromUtf8(*node->value<std::string>());
    return base.empty() ? path : base / path;
  }

  const toml::array* Array(const toml::table& table, const std::string& key) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return nullptr;
    const toml::array* array = node->as_array();
    if (array == nullptr || !array->is_array_of_tables()) {
      throw BuildError(Where(*node, key) + " must be an array of tables ([[" + key + "]])");
    }
    return array;
  }

 private:
  std::string source_;
};

}  // namespace

GeneratorInput ParseProject(std::string_view text, const fs::path& base, const std::string& source) {
  toml::table root;
  try {
    root = toml::parse(text, source);
  } catch (const toml::parse_error& e) {
    throw BuildError(source + ":" + std::to_string(e.source().begin.line) + ": " +
                     std::string(e.description()));
  }
  const Reader r(source);
  r.CheckKeys(root,
              {"caption", "comment", "default_folder", "file_removal", "backup", "folder_choice",
               "version_check", "restart", "texts", "generation"},
              "at the top level");
  GeneratorInput input;
  const OptionsTexts defaults = DefaultOptionsTexts();
  input.caption = defaults.caption;
  input.comment = defaults.project_comment;
  r.Text(root, "caption", &input.caption);
  r.Text(root, "comment", &input.comment);
  r.Text(root, "default_folder", &input.default_folder);
  r.Flag(root, "file_removal", &input.file_removal);
  r.Flag(root, "backup", &input.backup);
  r.Flag(root, "folder_choice", &input.folder_choice);
  r.Flag(root, "version_check", &input.version_check);
  r.Flag(root, "restart", &input.restart);

  // The options texts default to the defaults, the caption and the comment to the header's.
  input.options.caption = input.caption;
  input.options.project_comment = input.comment;
  if (const toml::node* node = root.get("texts")) {
    const toml::table* texts = node->as_table();
    if (texts == nullptr) throw BuildError(r.Where(*node, "texts") + " must be a table ([texts])");
    r.CheckKeys(*texts,
                {"project_comment", "failure", "completion", "missing_file", "up_to_date", "caption"},
                "in [texts]");
    r.Text(*texts, "project_comment", &input.options.project_comment);
    r.Text(*texts, "failure", &input.options.failure);
    r.Text(*texts, "completion", &input.options.completion);
    r.Text(*texts, "missing_file", &input.options.missing_file);
    r.Text(*texts, "up_to_date", &input.options.up_to_date);
    r.Text(*texts, "caption", &input.options.caption);
  }

  const toml::array* generations = r.Array(root, "generation");
  if (generations == nullptr || generations->empty()) {
    throw BuildError(source + ": no [[generation]] tables: a package needs its releases");
  }
  for (const toml::node& node : *generations) {
    const toml::table& table = *node.as_table();
    const std::string where = "[[generation]] " + std::to_string(input.releases.size() + 1);
    r.CheckKeys(table, {"name", "comment", "folder", "group"}, "in " + where);
    ReleaseInput release;
    release.folder = r.Folder(table, "folder", base, where);
    fs::path normal = release.folder.lexically_normal();
    if (!normal.has_filename()) normal = normal.parent_path();
    if (!platform::Utf8ToCp932(Utf8Of(normal.filename()), &release.name)) {
      release.name.clear();
    }
    r.Text(table, "name", &release.name);
    if (release.name.empty()) throw BuildError(source + ": " + where + " needs a 'name'");
    r.Text(table, "comment", &release.comment);
    if (const toml::array* groups = r.Array(table, "group")) {
      for (const toml::node& group_node : *groups) {
        const toml::table& g = *group_node.as_table();
        const std::string group_where = where + ", [[generation.group]] " +
                                        std::to_string(release.groups.size() + 1);
        r.CheckKeys(g, {"name", "comment", "default_folder", "source"}, "in " + group_where);
        GroupInput group;
        r.Text(g, "name", &group.name);
        r.Text(g, "comment", &group.comment);
        r.Text(g, "default_folder", &group.default_folder);
        group.source = r.Folder(g, "source", fs::path(), group_where);
        const std::string problem = CheckGroupName(group.name);
        if (!problem.empty()) {
          throw BuildError(source + ": " + group_where + ": the group name '" +
                           platform::Cp932ToUtf8Lossy(group.name) + "': " + problem);
        }
        release.groups.push_back(std::move(group));
      }
    }
    input.releases.push_back(std::move(release));
  }
  return input;
}

GeneratorInput ReadProjectFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw BuildError("cannot read the project file '" + Utf8Of(file) + "'");
  std::stringstream text;
  text << in.rdbuf();
  return ParseProject(text.str(), file.parent_path(), Utf8Of(file));
}

}  // namespace gp::builder
