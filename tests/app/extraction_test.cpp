// Payload extraction: packages written by the package writer, in both layouts and every payload
// form, become an open work docfile with the options texts read; each failure shows its
// message and leaves on disk only what the program deletes at exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/extraction.h"
#include "app/package_loader.h"
#include "app/program.h"
#include "base/endian.h"
#include "base/texts.h"
#include "builder/package_writer.h"
#include "format/trailer.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "support/test_support.h"
#include "update/package_tables.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using builder::PackageLayout;
using builder::PayloadForm;

constexpr char kNotProduct[] =
    "解凍エラー!: ユキワリソウヨツバクローバーのファイルではありません。";

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> v(size);
  uint32_t x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>((x >> 16) % 7 == 0 ? x >> 24 : 'a' + (x >> 20) % 4);
  }
  return v;
}

class ExtractionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ReleasePackageTables(context());
    if (!context().work_docfile.path.empty()) RemoveWorkDocfile(context().work_docfile);
    ReplayFolderJournal(context().journal);
    ui_.Renew();
  }

  builder::PackageDescription Sample(PackageLayout layout, PayloadForm form) {
    builder::PackageDescription desc;
    desc.header.caption = "caption";
    desc.header.generations = {{"g0", "", {}}, {"g1", "", {}}};
    desc.options = builder::DefaultOptionsTexts();
    desc.options.caption = test::Cp932("新しい表題");
    desc.streams.push_back(builder::StreamFromBytes("1\\_\\big.bin", big_));
    desc.streams.push_back(builder::StreamFromBytes("1\\list.dat", {0, 0}));
    desc.layout = layout;
    desc.payload = form;
    desc.stub = dir_ / "stub.bin";
    test::WriteBytes(desc.stub, std::vector<uint8_t>(5000, 0xCC));
    return desc;
  }

  std::string Write(const builder::PackageDescription& desc, const std::string& name) {
    const std::string error = builder::WritePackage(desc, dir_ / name);
    EXPECT_EQ(error, "");
    return dir_.Program(name);
  }

  // Loads the header the way the program does for the layout, then extracts.
  bool LoadAndExtract(const std::string& package, PackageLayout layout) {
    if (layout == PackageLayout::kDataFile) {
      if (!LoadPackageHeader(context(), package.c_str())) return false;
      return ExtractPayload(context(), package.c_str());
    }
    AllocateTextBuffers(context().package);
    OpenFolderJournal(context().journal);
    if (!ReadPackageHeader(context(), package.c_str(), false)) return false;
    return ExtractPayloadFrom(context(), nullptr, package.c_str());
  }

  std::vector<uint8_t> ReadStream(const char* path) {
    DocfileAccess* access = context().work_docfile.access;
    EXPECT_NE(access, nullptr);
    if (!access) return {};
    const int32_t size = access->StreamSize(path);
    EXPECT_GE(size, 0) << path;
    if (size < 0) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    EXPECT_TRUE(access->OpenStreamByPath(path));
    EXPECT_EQ(access->Read(bytes.data(), static_cast<uint32_t>(size)), static_cast<uint32_t>(size));
    access->CloseStream();
    return bytes;
  }

  // Files in the temporary folder other than the folder journal.
  std::vector<std::string> TempFilesBesidesJournal() {
    std::vector<std::string> files = temp_.Files();
    std::string journal_name = context().journal.name;
    const size_t slash = journal_name.rfind('\\');
    if (slash != std::string::npos) journal_name = journal_name.substr(slash + 1);
    files.erase(std::remove(files.begin(), files.end(), journal_name), files.end());
    return files;
  }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::TempDir dir_;
  test::ScriptedRun ui_;
  std::vector<uint8_t> big_ = Pattern(70000, 7);
};

TEST_F(ExtractionTest, EveryLayoutAndPayloadFormRoundTrips) {
  struct Case {
    PackageLayout layout;
    PayloadForm form;
    uint32_t piece_size;
  };
  const Case cases[] = {
      {PackageLayout::kDataFile, PayloadForm::kCompressed, 8u << 20},
      {PackageLayout::kDataFile, PayloadForm::kUncompressed, 0},
      {PackageLayout::kExecutable, PayloadForm::kCompressed, 8u << 20},
      {PackageLayout::kExecutable, PayloadForm::kCompressed, 4096},  // several pieces
      {PackageLayout::kExecutable, PayloadForm::kUncompressed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << static_cast<int>(c.layout) << " form "
                                    << static_cast<int>(c.form) << " piece " << c.piece_size);
    ui_.Renew();
    ui_->Clear();
    builder::PackageDescription desc = Sample(c.layout, c.form);
    if (c.piece_size) desc.payload_options.piece_size = c.piece_size;
    const std::string package = Write(desc, "package.bin");
    const auto before = test::ReadBytes(dir_ / "package.bin");
    ASSERT_TRUE(LoadAndExtract(package, c.layout));
    EXPECT_TRUE(ui_->messages().empty());
    EXPECT_EQ(ReadStream("1\\_\\big.bin"), big_);
    EXPECT_EQ(test::Utf8(context().package.Text(kSlotMessageCaption)), "新しい表題");
    EXPECT_EQ(test::Utf8(context().package.Text(kSlotCompletionText)), "正常終了");
    const bool in_place =
        c.layout == PackageLayout::kDataFile && c.form == PayloadForm::kUncompressed;
    EXPECT_EQ(context().work_docfile.path.empty(), in_place);
    ReleasePackageTables(context());
    if (!context().work_docfile.path.empty()) RemoveWorkDocfile(context().work_docfile);
    ReplayFolderJournal(context().journal);
    EXPECT_TRUE(temp_.Files().empty()) << "every temporary file is gone at exit";
    EXPECT_EQ(test::ReadBytes(dir_ / "package.bin"), before) << "the package is never changed";
  }
}

TEST_F(ExtractionTest, StoredPieceIsCopiedUnchanged) {
  builder::PackageDescription desc = Sample(PackageLayout::kDataFile, PayloadForm::kUncompressed);
  ASSERT_EQ(builder::WriteWorkDocfile(desc, dir_ / "work.cfb"), "");
  const auto docfile = test::ReadBytes(dir_ / "work.cfb");
  // Container: magic, one piece with method 0.
  std::vector<uint8_t> payload(texts::kPayloadMagic, texts::kPayloadMagic + 32);
  payload.insert(payload.end(), {1, 0, 0, 0, 0});
  uint8_t length[4];
  StoreU32(length, static_cast<uint32_t>(docfile.size()));
  payload.insert(payload.end(), length, length + 4);
  payload.insert(payload.end(), docfile.begin(), docfile.end());
  const auto header = builder::WriteHeader(desc.header);
  std::vector<uint8_t> file = payload;
  file.insert(file.end(), header.begin(), header.end());
  const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(header.size()));
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "stored.dat", file);
  ASSERT_TRUE(LoadAndExtract(dir_.Program("stored.dat"), PackageLayout::kDataFile));
  EXPECT_EQ(ReadStream("1\\_\\big.bin"), big_);
  EXPECT_EQ(test::ReadBytes(dir_ / "stored.dat"), file);
}

TEST_F(ExtractionTest, RootFoldersAndStatusText) {
  const std::string package =
      Write(Sample(PackageLayout::kDataFile, PayloadForm::kCompressed), "p.dat");
  ASSERT_TRUE(LoadAndExtract(package, PackageLayout::kDataFile));
  char current[260];
  ASSERT_GT(platform::CurrentFolder(current, sizeof(current)), 0u);
  EXPECT_STREQ(context().package.destination_folder.get(), current);
  char windows[260];
  ASSERT_GT(platform::WindowsFolder(windows, sizeof(windows)), 0u);
  EXPECT_STREQ(context().package.windows_folder.get(), windows);
  char system[260];
  ASSERT_GT(platform::SystemFolder(system, sizeof(system)), 0u);
  EXPECT_STREQ(context().package.system_folder.get(), system);
  bool shown = false;
  for (const auto& t : ui_->window_texts()) {
    shown |= t.template_id == ui::kDialogStatus && t.control_id == ui::kStatusText &&
             test::Utf8(t.text) == "しばらくお待ちください。";
  }
  EXPECT_TRUE(shown);
  EXPECT_EQ(ui_->open_windows(), 0) << "the status window is destroyed";
}

TEST_F(ExtractionTest, OptionsTextsWithAndWithoutNulAndAtTheLimits) {
  for (bool with_nul : {false, true}) {
    SCOPED_TRACE(with_nul);
    ui_.Renew();
    builder::PackageDescription desc = Sample(PackageLayout::kDataFile, PayloadForm::kUncompressed);
    desc.options.with_nul = with_nul;
    desc.options.failure = "";
    desc.options.up_to_date = std::string(with_nul ? 254 : 255, 'u');
    ASSERT_TRUE(LoadAndExtract(Write(desc, "o.dat"), PackageLayout::kDataFile));
    EXPECT_STREQ(context().package.Text(kSlotFailureText), "");
    EXPECT_EQ(std::string(context().package.Text(kSlotUpToDateText)), desc.options.up_to_date);
    EXPECT_EQ(context().package.Text(kSlotUpToDateText)[255], '\0');
    EXPECT_EQ(test::Utf8(context().package.Text(kSlotMissingFileText)), "元ファイルがありません。");
    ReleasePackageTables(context());
    ReplayFolderJournal(context().journal);
  }
}

TEST_F(ExtractionTest, MissingProgramFileCannotBeExtracted) {
  AllocateTextBuffers(context().package);
  EXPECT_FALSE(ExtractPayloadFrom(context(), nullptr, dir_.Program("gone.exe").c_str()));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], "解凍エラー!: 自動解凍を実行できません。");
  EXPECT_TRUE(context().work_docfile.path.empty());
  EXPECT_TRUE(temp_.Files().empty()) << "nothing new";
}

TEST_F(ExtractionTest, ZeroBytePayloadIsNotAPackage) {
  builder::PackageDescription desc = Sample(PackageLayout::kExecutable, PayloadForm::kUncompressed);
  const auto header = builder::WriteHeader(desc.header);
  std::vector<uint8_t> file(3000, 0xCC);
  file.insert(file.end(), header.begin(), header.end());
  const auto trailer = format::ExecutableTrailer(0, static_cast<uint32_t>(header.size()));
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "empty.exe", file);
  EXPECT_FALSE(LoadAndExtract(dir_.Program("empty.exe"), PackageLayout::kExecutable));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], kNotProduct);
  EXPECT_FALSE(context().work_docfile.path.empty()) << "the empty copy stays until exit";
  EXPECT_EQ(context().work_docfile.access, nullptr);
}

TEST_F(ExtractionTest, PayloadLengthBeyondTheFileIsRefused) {
  const std::string package =
      Write(Sample(PackageLayout::kExecutable, PayloadForm::kCompressed), "p.exe");
  auto bytes = test::ReadBytes(dir_ / "p.exe");
  StoreU32(&bytes[bytes.size() - 21], 0x7FFFFFF0u);
  test::WriteBytes(dir_ / "p.exe", bytes);
  EXPECT_FALSE(LoadAndExtract(package, PackageLayout::kExecutable));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], kNotProduct);
}

TEST_F(ExtractionTest, CorruptCompressedDataFileLeavesItUnchanged) {
  const std::string package =
      Write(Sample(PackageLayout::kDataFile, PayloadForm::kCompressed), "p.dat");
  auto bytes = test::ReadBytes(dir_ / "p.dat");
  // Inside the first piece's code stream: the decoder meets a code it cannot have.
  for (size_t i = 60; i < 90; ++i) bytes[i] = 0xFF;
  test::WriteBytes(dir_ / "p.dat", bytes);
  ASSERT_TRUE(LoadPackageHeader(context(), package.c_str()));
  EXPECT_FALSE(ExtractPayload(context(), package.c_str()));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], kNotProduct);
  EXPECT_EQ(test::ReadBytes(dir_ / "p.dat"), bytes);
  EXPECT_TRUE(TempFilesBesidesJournal().empty()) << "no scratch or output file remains";
}

TEST_F(ExtractionTest, PayloadThatIsNoCompoundFileIsRefused) {
  builder::PackageDescription desc = Sample(PackageLayout::kExecutable, PayloadForm::kUncompressed);
  const auto header = builder::WriteHeader(desc.header);
  std::vector<uint8_t> file(3000, 0xCC);
  const auto junk = Pattern(4096, 3);
  file.insert(file.end(), junk.begin(), junk.end());
  file.insert(file.end(), header.begin(), header.end());
  const auto trailer = format::ExecutableTrailer(4096, static_cast<uint32_t>(header.size()));
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "junk.exe", file);
  EXPECT_FALSE(LoadAndExtract(dir_.Program("junk.exe"), PackageLayout::kExecutable));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], kNotProduct);
  EXPECT_EQ(context().work_docfile.access, nullptr) << "the access object is destroyed";
}

TEST_F(ExtractionTest, DocfileWithoutOptionsStreamIsNotAPackage) {
  builder::PackageDescription desc = Sample(PackageLayout::kDataFile, PayloadForm::kUncompressed);
  // A docfile whose options live under another name.
  cfb::CompoundFileWriter writer;
  int storage = 0;
  ASSERT_EQ(writer.AddStorage(cfb::CompoundFileWriter::kRoot, u"0", &storage), cfb::Status::kOk);
  ASSERT_EQ(writer.AddStreamBytes(storage, u"Other.dat", {1, 2, 3}), cfb::Status::kOk);
  std::vector<uint8_t> docfile;
  ASSERT_EQ(writer.WriteToVector(&docfile), cfb::Status::kOk);
  const auto header = builder::WriteHeader(desc.header);
  std::vector<uint8_t> file = docfile;
  file.insert(file.end(), header.begin(), header.end());
  const auto trailer = format::DataFileTrailer(static_cast<uint32_t>(header.size()));
  file.insert(file.end(), trailer.begin(), trailer.end());
  test::WriteBytes(dir_ / "noopt.dat", file);
  EXPECT_FALSE(LoadAndExtract(dir_.Program("noopt.dat"), PackageLayout::kDataFile));
  ASSERT_EQ(ui_.Transcript().size(), 1u);
  EXPECT_EQ(ui_.Transcript()[0], kNotProduct);
  EXPECT_EQ(context().work_docfile.access, nullptr);
  EXPECT_TRUE(fs::exists(dir_ / "noopt.dat")) << "a package data file is never deleted";
}

}  // namespace
}  // namespace gp
