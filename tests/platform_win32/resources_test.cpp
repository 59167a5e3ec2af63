// The program's resources read back from the module: every dialog template with its texts (as
// Unicode), ids, positions, sizes and styles; the icon group; the version block.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/texts.h"
#include "platform/platform.h"
#include "platform/win32/windows_support.h"
#include "platform_win32/dialog_template.h"
#include "ui/host.h"
#include "ui/resource_ids.h"

#include <commctrl.h>

namespace gp {
namespace {

using testing_win32::DialogItem;
using testing_win32::DialogTemplate;

constexpr char16_t kFont[] = u"ＭＳ Ｐゴシック";

enum class Kind { kLabel, kCentredLabel, kRightLabel, kButton, kDefaultButton, kEdit,
                  kReadOnlyEdit, kDropList, kGroupBox, kProgress };

struct Expected {
  Kind kind;
  int id;
  const char16_t* text;
  int x, y, cx, cy;
};

bool LoadTemplate(int id, DialogTemplate* out) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return false;
  return testing_win32::ParseDialogTemplate(static_cast<const uint8_t*>(data),
                                            SizeofResource(module, found), out);
}

std::u16string FromCp932(const char* cp932) {
  std::u16string out;
  EXPECT_TRUE(platform::Cp932ToUtf16(cp932, &out));
  return out;
}

// Styles every control of its kind must carry (and, for some kinds, must not).
void CheckKind(const DialogItem& item, Kind kind) {
  SCOPED_TRACE(testing::Message() << "control id " << item.id);
  EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<uint32_t>(WS_CHILD | WS_VISIBLE));
  const bool tab_stop = (item.style & WS_TABSTOP) != 0;
  switch (kind) {
    case Kind::kLabel:
    case Kind::kCentredLabel:
    case Kind::kRightLabel: {
      EXPECT_EQ(item.class_atom, 0x82);
      EXPECT_FALSE(tab_stop);
      const uint32_t align = item.style & 0x3;
      EXPECT_EQ(align, kind == Kind::kLabel          ? static_cast<uint32_t>(SS_LEFT)
                       : kind == Kind::kCentredLabel ? static_cast<uint32_t>(SS_CENTER)
                                                     : static_cast<uint32_t>(SS_RIGHT));
      if (kind != Kind::kLabel) {
        EXPECT_TRUE(item.style & SS_CENTERIMAGE);
      }
      break;
    }
    case Kind::kButton:
    case Kind::kDefaultButton:
      EXPECT_EQ(item.class_atom, 0x80);
      EXPECT_TRUE(tab_stop);
      EXPECT_EQ(item.style & 0xF, kind == Kind::kButton ? static_cast<uint32_t>(BS_PUSHBUTTON)
                                                        : static_cast<uint32_t>(BS_DEFPUSHBUTTON));
      break;
    case Kind::kGroupBox:
      EXPECT_EQ(item.class_atom, 0x80);
      EXPECT_EQ(item.style & 0xF, static_cast<uint32_t>(BS_GROUPBOX));
      EXPECT_FALSE(tab_stop);
      break;
    case Kind::kEdit:
      EXPECT_EQ(item.class_atom, 0x81);
      EXPECT_TRUE(tab_stop);
      EXPECT_TRUE(item.style & WS_BORDER);
      EXPECT_TRUE(item.style & ES_AUTOHSCROLL);
      EXPECT_FALSE(item.style & (ES_MULTILINE | ES_READONLY));
      break;
    case Kind::kReadOnlyEdit:
      EXPECT_EQ(item.class_atom, 0x81);
      EXPECT_TRUE(tab_stop);
      EXPECT_EQ(item.style & (WS_BORDER | ES_MULTILINE | ES_READONLY | WS_VSCROLL),
                static_cast<uint32_t>(WS_BORDER | ES_MULTILINE | ES_READONLY | WS_VSCROLL));
      break;
    case Kind::kDropList:
      EXPECT_EQ(item.class_atom, 0x85);
      EXPECT_TRUE(tab_stop);
      EXPECT_EQ(item.style & 0x3, static_cast<uint32_t>(CBS_DROPDOWNLIST));
      EXPECT_FALSE(item.style & CBS_SORT) << "a list index must equal the table index";
      EXPECT_TRUE(item.style & WS_VSCROLL);
      break;
    case Kind::kProgress: {
      std::u16string name = item.class_name;
      for (auto& c : name) c = static_cast<char16_t>(c < 0x80 ? std::tolower(c) : c);
      EXPECT_EQ(name, u"msctls_progress32");
      EXPECT_TRUE(item.style & PBS_SMOOTH);
      EXPECT_TRUE(item.style & WS_BORDER);
      break;
    }
  }
}

void CheckItems(const DialogTemplate& dialog, const std::vector<Expected>& expected) {
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const DialogItem& item = dialog.items[i];
    const Expected& want = expected[i];
    SCOPED_TRACE(testing::Message() << "item " << i << " (tab order position)");
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(item.text, std::u16string(want.text));
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    CheckKind(item, want.kind);
  }
}

TEST(ResourceDialogs, StatusWindowHasOneCentredTextAndNoCaption) {
  DialogTemplate d;
  ASSERT_TRUE(LoadTemplate(ui::kDialogStatus, &d));
  EXPECT_FALSE(d.extended);
  EXPECT_EQ(d.style & (WS_POPUP | DS_MODALFRAME), static_cast<uint32_t>(WS_POPUP | DS_MODALFRAME));
  EXPECT_EQ(d.style & WS_CAPTION, 0u);
  EXPECT_EQ(d.style & WS_VISIBLE, 0u) << "created hidden";
  EXPECT_EQ(d.title, u"");
  EXPECT_EQ(d.cx, 154);
  EXPECT_EQ(d.cy, 19);
  EXPECT_EQ(d.font_points, 9);
  EXPECT_EQ(d.font_face, kFont);
  CheckItems(d, {{Kind::kCentredLabel, ui::kStatusText, u"", 6, 6, 143, 9}});
}

TEST(ResourceDialogs, ProgressDialogHasStepCounterAndSmoothBar) {
  DialogTemplate d;
  ASSERT_TRUE(LoadTemplate(ui::kDialogProgress, &d));
  EXPECT_FALSE(d.extended);
  EXPECT_EQ(d.style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
            static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME));
  EXPECT_EQ(d.style & WS_SYSMENU, 0u);
  EXPECT_EQ(d.style & WS_VISIBLE, 0u);
  EXPECT_EQ(d.title, u"ｱｯﾌﾟﾃﾞｰﾄしています...");
  EXPECT_EQ(d.title, FromCp932(texts::kTextProgressCaption));
  EXPECT_EQ(d.cx, 202);
  EXPECT_EQ(d.cy, 39);
  EXPECT_EQ(d.font_points, 9);
  EXPECT_EQ(d.font_face, kFont);
  CheckItems(d, {
                    {Kind::kCentredLabel, ui::kProgressStep, u"", 9, 3, 85, 12},
                    {Kind::kRightLabel, ui::kProgressCounter, u"", 102, 3, 93, 12},
                    {Kind::kProgress, ui::kProgressBar, u"", 7, 19, 188, 12},
                });
}

TEST(ResourceDialogs, MainDialogTemplateMatchesItsLayout) {
  DialogTemplate d;
  ASSERT_TRUE(LoadTemplate(ui::kDialogMain, &d));
  EXPECT_TRUE(d.extended);
  const uint32_t want = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
  EXPECT_EQ(d.style & want, want);
  EXPECT_TRUE(d.ex_style & WS_EX_APPWINDOW);
  EXPECT_EQ(d.title, u"ユキワリソウヨツバクローバー");
  EXPECT_EQ(d.title, FromCp932(texts::kTextMainDialogTitle));
  EXPECT_EQ(d.cx, 183);
  EXPECT_EQ(d.cy, 75);
  EXPECT_EQ(d.font_points, 9);
  EXPECT_EQ(d.font_face, kFont);
  EXPECT_EQ(d.font_face, FromCp932(texts::kTextDialogFont));
  CheckItems(d, {
                    {Kind::kLabel, -1, u"アップデート先フォルダ", 8, 9, 71, 10},
                    {Kind::kButton, ui::kMainBrowse, u"参照(&B)...", 85, 6, 36, 14},
                    {Kind::kEdit, ui::kMainFolderEdit, u"", 8, 27, 168, 14},
                    {Kind::kButton, ui::kMainProperties, u"プロパティ", 9, 53, 50, 14},
                    {Kind::kDefaultButton, ui::kMainExecute, u"実行", 66, 53, 50, 14},
                    {Kind::kButton, 2, u"キャンセル", 123, 53, 50, 14},
                });
  EXPECT_EQ(d.items[0].text, FromCp932(texts::kTextDestinationFolderLabel));
  EXPECT_EQ(d.items[1].text, FromCp932(texts::kTextBrowseButton));
  EXPECT_EQ(d.items[5].text, FromCp932(texts::kTextCancelButton));
}

TEST(ResourceDialogs, PropertiesDialogTemplateMatchesItsLayout) {
  DialogTemplate d;
  ASSERT_TRUE(LoadTemplate(ui::kDialogProperties, &d));
  EXPECT_FALSE(d.extended);
  const uint32_t want = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  EXPECT_EQ(d.style & want, want);
  EXPECT_EQ(d.title, u"プロパティ");
  EXPECT_EQ(d.cx, 202);
  EXPECT_EQ(d.cy, 215);
  EXPECT_EQ(d.font_points, 9);
  EXPECT_EQ(d.font_face, kFont);
  CheckItems(d, {
                    {Kind::kDefaultButton, 1, u"OK", 46, 198, 50, 14},
                    {Kind::kButton, 2, u"ｷｬﾝｾﾙ", 105, 198, 50, 14},
                    {Kind::kLabel, -1, u"世代の名前", 6, 43, 36, 10},
                    {Kind::kLabel, -1, u"グループの名前", 13, 100, 48, 10},
                    {Kind::kLabel, -1, u"アップデート先フォルダ", 19, 158, 72, 10},
                    {Kind::kButton, ui::kPropBrowse, u"参照(&B)...", 94, 155, 33, 14},
                    {Kind::kEdit, ui::kPropFolderEdit, u"", 17, 171, 170, 14},
                    {Kind::kDropList, ui::kPropGenerations, u"", 43, 41, 60, 73},
                    {Kind::kDropList, ui::kPropGroups, u"", 63, 97, 60, 73},
                    {Kind::kReadOnlyEdit, ui::kPropGenerationComment, u"", 39, 67, 156, 25},
                    {Kind::kReadOnlyEdit, ui::kPropGroupComment, u"", 43, 123, 145, 25},
                    {Kind::kReadOnlyEdit, ui::kPropProjectComment, u"", 58, 4, 140, 32},
                    {Kind::kLabel, -1, u"差分プロジェクト\n      コメント ", 5, 11, 49, 18},
                    {Kind::kGroupBox, -1, u"世代のプロパティ", 4, 57, 194, 137},
                    {Kind::kLabel, -1, u"コメント", 13, 75, 23, 11},
                    {Kind::kGroupBox, -1, u"グループのプロパティ", 10, 114, 182, 76},
                    {Kind::kLabel, -1, u"コメント", 18, 125, 23, 11},
                });
  // The texts the program itself uses for these controls are the same characters.
  EXPECT_EQ(d.title, FromCp932(texts::kTextPropertiesTitle));
  EXPECT_EQ(d.items[1].text, FromCp932(texts::kTextPropertiesCancel));
  EXPECT_EQ(d.items[2].text, FromCp932(texts::kTextGenerationNameLabel));
  EXPECT_EQ(d.items[3].text, FromCp932(texts::kTextGroupNameLabel));
  EXPECT_EQ(d.items[12].text, FromCp932(texts::kTextProjectCommentLabel));
  EXPECT_EQ(d.items[13].text, FromCp932(texts::kTextGenerationFrame));
  EXPECT_EQ(d.items[15].text, FromCp932(texts::kTextGroupFrame));
  EXPECT_EQ(d.items[16].text, FromCp932(texts::kTextCommentLabel));
}

TEST(ResourceDialogs, TemplateParserRefusesTruncatedTemplates) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(ui::kDialogProperties),
                              MAKEINTRESOURCEW(5));
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  testing_win32::DialogTemplate d;
  ASSERT_TRUE(testing_win32::ParseDialogTemplate(data, size, &d));
  // Every cut inside the last item's fixed fields or strings is noticed.
  for (size_t cut = size - 40; cut < size - 2; ++cut) {
    EXPECT_FALSE(testing_win32::ParseDialogTemplate(data, cut, &d)) << "cut at " << cut;
  }
}

// ---------------------------------------------------------------------------------------------

struct IconEntry {
  int width, height, colours, bits;
};

TEST(ResourceIcon, GroupHoldsSixteenColourImagesOfBothSizes) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(ui::kIconMain), MAKEINTRESOURCEW(14));
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  ByteReader r(data, size);
  uint16_t reserved = 0, type = 0, count = 0;
  ASSERT_TRUE(r.ReadU16(&reserved) && r.ReadU16(&type) && r.ReadU16(&count));
  EXPECT_EQ(type, 1);
  ASSERT_EQ(count, 2);
  std::vector<IconEntry> entries;
  for (int i = 0; i < count; ++i) {
    uint8_t w = 0, h = 0, colours = 0, pad = 0;
    uint16_t planes = 0, bits = 0, id = 0;
    uint32_t bytes = 0;
    ASSERT_TRUE(r.ReadU8(&w) && r.ReadU8(&h) && r.ReadU8(&colours) && r.ReadU8(&pad) &&
                r.ReadU16(&planes) && r.ReadU16(&bits) && r.ReadU32(&bytes) && r.ReadU16(&id));
    entries.push_back({w, h, colours, bits});
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)), nullptr);
  }
  EXPECT_EQ(entries[0].width, 32);
  EXPECT_EQ(entries[0].height, 32);
  EXPECT_EQ(entries[1].width, 16);
  EXPECT_EQ(entries[1].height, 16);
  for (const auto& e : entries) {
    EXPECT_EQ(e.colours, 16);
    EXPECT_EQ(e.bits, 4);
  }
  for (int size_px : {32, 16}) {
    HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(ui::kIconMain), IMAGE_ICON, size_px,
                             size_px, 0);
    EXPECT_NE(icon, nullptr) << size_px;
    if (icon) DestroyIcon(static_cast<HICON>(icon));
  }
}

TEST(ResourceVersion, VersionBlockCarriesFixedInfoAndNames) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  ASSERT_GT(size, 0u);
  // The fixed part begins with its signature 0xFEEF04BD (little-endian).
  const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  EXPECT_NE(bytes.find(std::string(reinterpret_cast<const char*>(signature), 4)),
            std::string::npos);
  const std::u16string name = u"genpatch-stub.exe";
  const std::string name_bytes(reinterpret_cast<const char*>(name.data()), name.size() * 2);
  EXPECT_NE(bytes.find(name_bytes), std::string::npos);
}

}  // namespace
}  // namespace gp
