// genpatch info and extract on packages written by the package writer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "base/endian.h"
#include "builder/package_writer.h"
#include "run_process.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

class CliInfoTest : public ::testing::Test {
 protected:
  test::ProcessResult Genpatch(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {GP_GENPATCH_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProcess(argv, {{"GENPATCH_TEMP_DIR", temp_.path().string()},
                                   {"TMPDIR", temp_.path().string()}});
  }

  builder::PackageDescription Sample() {
    builder::PackageDescription desc;
    desc.header.caption = test::Cp932("表示テスト");
    desc.header.comment = "comment";
    desc.header.default_folder = "C:\\App";
    desc.header.folder_choice = 1;
    desc.header.file_removal = 1;
    desc.header.group_count = 1;
    desc.header.generations = {{test::Cp932("1世代"), "first", {{"data", "dc", "C:\\Data"}}},
                               {test::Cp932("2世代"), "", {}}};
    desc.options = builder::DefaultOptionsTexts();
    desc.streams.push_back(builder::StreamFromBytes("1\\list.dat", {0, 0}));
    desc.streams.push_back(builder::StreamFromBytes(test::Cp932("1\\_\\ソフト.dif"),
                                                    std::vector<uint8_t>(5000, 'x')));
    desc.stub = dir_ / "stub.bin";
    test::WriteBytes(desc.stub, std::vector<uint8_t>(1234, 0));
    return desc;
  }

  test::TempDir temp_;
  test::TempDir dir_;
};

TEST_F(CliInfoTest, InfoShowsWhatTheWriterWrote) {
  for (auto layout : {builder::PackageLayout::kExecutable, builder::PackageLayout::kDataFile}) {
    builder::PackageDescription desc = Sample();
    desc.layout = layout;
    ASSERT_EQ(builder::WritePackage(desc, dir_ / "p.bin"), "");
    const auto r = Genpatch({"info", (dir_ / "p.bin").string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const bool exe = layout == builder::PackageLayout::kExecutable;
    EXPECT_NE(r.out.find(exe ? "layout:         package executable"
                             : "layout:         package data file"),
              std::string::npos)
        << r.out;
    for (const char* expected :
         {"file-removal=on backup=off folder-choice=on version-check=on restart=off",
          "caption:        表示テスト", "0. 1世代  -- first", "group data -> C:\\Data  -- dc",
          "1. 2世代", "failure text: 差分を実行出来ません。", "0\\DiffOption2.dat  ",
          // ソ ends in a 0x5C byte, which splits docfile paths: the writer names the storage
          // before it by the lone lead byte's replacement character.
          "1\\_\\・\\フト.dif  5000", "1\\list.dat  2"}) {
      EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }
    const auto j = Genpatch({"info", "--json", (dir_ / "p.bin").string()});
    EXPECT_EQ(j.exit_code, 0);
    EXPECT_NE(j.out.find("\"folder\":\"C:\\\\Data\""), std::string::npos) << j.out;
    EXPECT_NE(j.out.find(exe ? "\"layout\":\"executable\"" : "\"layout\":\"data-file\""),
              std::string::npos);
  }
  EXPECT_TRUE(fs::is_empty(temp_.path())) << "no scratch file is left";
}

TEST_F(CliInfoTest, ExtractWritesTheWorkDocfileAndRefusesNonPackages) {
  builder::PackageDescription desc = Sample();
  ASSERT_EQ(builder::WritePackage(desc, dir_ / "p.exe"), "");
  ASSERT_EQ(builder::WriteWorkDocfile(desc, dir_ / "expected.cfb"), "");
  const auto r = Genpatch({"extract", (dir_ / "p.exe").string(), (dir_ / "out.cfb").string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(test::ReadBytes(dir_ / "out.cfb"), test::ReadBytes(dir_ / "expected.cfb"));

  test::WriteBytes(dir_ / "junk.bin", std::vector<uint8_t>(100, 'j'));
  const auto bad = Genpatch({"extract", (dir_ / "junk.bin").string(), (dir_ / "x").string()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("not a package"), std::string::npos) << bad.err;
  const auto usage = Genpatch({"extract", (dir_ / "p.exe").string()});
  EXPECT_EQ(usage.exit_code, 2);

  // A package whose compressed payload is damaged: the header is shown, the payload refused.
  auto bytes = test::ReadBytes(dir_ / "p.exe");
  for (size_t i = 1234 + 60; i < 1234 + 120; ++i) bytes[i] = 0xFF;
  test::WriteBytes(dir_ / "damaged.exe", bytes);
  const auto damaged = Genpatch({"info", (dir_ / "damaged.exe").string()});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.out.find("work docfile:   not valid"), std::string::npos) << damaged.out;
}

// A package executable whose program image is a PE image, signed afterwards as Authenticode
// tools do it (zero padding to a multiple of 8, a certificate table, the security directory).
TEST_F(CliInfoTest, InfoReadsASignedPackageBeforeItsCertificateTable) {
  builder::PackageDescription desc = Sample();
  std::vector<uint8_t> image(1234, 0);
  image[0] = 'M';
  image[1] = 'Z';
  StoreU32(image.data() + 0x3C, 0x80);
  std::memcpy(image.data() + 0x80, "PE\0\0", 4);
  StoreU16(image.data() + 0x80 + 20, 240);   // optional header size
  StoreU16(image.data() + 0x80 + 24, 0x20B); // PE32+
  StoreU32(image.data() + 0x80 + 24 + 108, 16);
  test::WriteBytes(desc.stub, image);
  ASSERT_EQ(builder::WritePackage(desc, dir_ / "p.exe"), "");
  std::vector<uint8_t> file = test::ReadBytes(dir_ / "p.exe");
  while (file.size() % 8 != 0) file.push_back(0);
  const uint32_t table_offset = static_cast<uint32_t>(file.size());
  file.resize(file.size() + 24, 0x11);
  StoreU32(file.data() + 0x80 + 24 + 112 + 32, table_offset);
  StoreU32(file.data() + 0x80 + 24 + 112 + 36, 24);
  test::WriteBytes(dir_ / "signed.exe", file);

  const auto text = Genpatch({"info", (dir_ / "signed.exe").string()});
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("signed:         yes, certificate table 24 bytes\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("1\\list.dat  2"), std::string::npos) << text.out;  // the payload
  const auto json = Genpatch({"info", "--json", (dir_ / "signed.exe").string()});
  EXPECT_NE(json.out.find("\"signed\":true,\"signature_size\":24"), std::string::npos) << json.out;
  const auto unsigned_text = Genpatch({"info", (dir_ / "p.exe").string()});
  EXPECT_NE(unsigned_text.out.find("signed:         no\n"), std::string::npos) << unsigned_text.out;

  // A table that no longer ends the file.
  file.push_back(0);
  test::WriteBytes(dir_ / "damaged.exe", file);
  const auto damaged = Genpatch({"info", (dir_ / "damaged.exe").string()});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.err.find("is a damaged package"), std::string::npos) << damaged.err;
}

}  // namespace
}  // namespace gp
