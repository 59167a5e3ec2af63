// The project file: every setting reaches the generator's input in code page 932, folders are
// taken relative to the project file, and mistakes are reported with their line.
#include <gtest/gtest.h>

#include "builder/build_error.h"
#include "builder/project_file.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

constexpr char kProject[] = R"(
caption = "サンプルの更新"
comment = "サンプル アプリ"
default_folder = 'C:\Program Files\Sample'
file_removal = false
backup = true
folder_choice = false
version_check = false
restart = true

[texts]
failure = "更新できません。"
completion = "完了しました。"
missing_file = "元のファイルがありません。"
up_to_date = "最新です。"

[[generation]]
name = "1.0"
comment = "最初の版"
folder = "releases/1.0"

[[generation]]
folder = "releases/1.1/"

  [[generation.group]]
  name = "データ"
  comment = "表のファイル"
  default_folder = 'D:\Data'
  source = "data"
)";

std::string ErrorOf(const std::string& text) {
  try {
    builder::ParseProject(text, "/base", "p.toml");
  } catch (const builder::BuildError& e) {
    return e.what();
  }
  return std::string();
}

TEST(ProjectFileTest, EverySettingReachesTheInput) {
  const builder::GeneratorInput in = builder::ParseProject(kProject, "/base", "p.toml");
  EXPECT_EQ(test::Utf8(in.caption), "サンプルの更新");
  EXPECT_EQ(test::Utf8(in.comment), "サンプル アプリ");
  EXPECT_EQ(in.default_folder, "C:\\Program Files\\Sample");
  EXPECT_FALSE(in.file_removal);
  EXPECT_TRUE(in.backup);
  EXPECT_FALSE(in.folder_choice);
  EXPECT_FALSE(in.version_check);
  EXPECT_TRUE(in.restart);
  EXPECT_EQ(test::Utf8(in.options.failure), "更新できません。");
  EXPECT_EQ(test::Utf8(in.options.completion), "完了しました。");
  EXPECT_EQ(test::Utf8(in.options.missing_file), "元のファイルがありません。");
  EXPECT_EQ(test::Utf8(in.options.up_to_date), "最新です。");
  EXPECT_EQ(in.options.caption, in.caption) << "the message caption follows the header's";
  EXPECT_EQ(in.options.project_comment, in.comment);
  ASSERT_EQ(in.releases.size(), 2u);
  EXPECT_EQ(in.releases[0].name, "1.0");
  EXPECT_EQ(test::Utf8(in.releases[0].comment), "最初の版");
  EXPECT_EQ(in.releases[0].folder, fs::path("/base/releases/1.0"));
  EXPECT_EQ(in.releases[1].name, "1.1") << "named after its folder";
  ASSERT_EQ(in.releases[1].groups.size(), 1u);
  const builder::GroupInput& g = in.releases[1].groups[0];
  EXPECT_EQ(test::Utf8(g.name), "データ");
  EXPECT_EQ(test::Utf8(g.comment), "表のファイル");
  EXPECT_EQ(g.default_folder, "D:\\Data");
  EXPECT_EQ(g.source, fs::path("data"));
}

TEST(ProjectFileTest, DefaultsWhenLeftOut) {
  const builder::GeneratorInput in =
      builder::ParseProject("[[generation]]\nfolder = 'a'\n[[generation]]\nfolder = 'b'\n", "", "p");
  const builder::OptionsTexts defaults = builder::DefaultOptionsTexts();
  EXPECT_TRUE(in.file_removal);
  EXPECT_FALSE(in.backup);
  EXPECT_TRUE(in.folder_choice);
  EXPECT_TRUE(in.version_check);
  EXPECT_FALSE(in.restart);
  EXPECT_EQ(in.options.failure, defaults.failure);
  EXPECT_EQ(in.options.caption, defaults.caption);
  EXPECT_EQ(in.releases[0].folder, fs::path("a"));
}

TEST(ProjectFileTest, MistakesNameTheirLine) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"caption = \"x\"\ncolour = 1\n", "p.toml:2: unknown key 'colour'"},
      {"backup = \"yes\"\n", "p.toml:1: 'backup' must be true or false"},
      {"caption = \"x\n", "p.toml:1"},
      {"caption = \"😀\"\n", "code page 932"},
      {"caption = \"x\"\n", "no [[generation]]"},
      {"[[generation]]\nname = 'a'\n", "needs 'folder'"},
      {"[[generation]]\nfolder = 'a'\n[[generation.group]]\nname = '_x'\nsource = 's'\n",
       "'_', '+' or '-'"},
      {"[[generation]]\nfolder = 'a'\n[[generation.group]]\nname = '表'\nsource = 's'\n", "0x5C"},
      {"[texts]\nfailur = 'x'\n[[generation]]\nfolder = 'a'\n", "unknown key 'failur' in [texts]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string error = ErrorOf(c.text);
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace gp
