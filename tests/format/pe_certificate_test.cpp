// Where a package executable's data end when it carries an Authenticode certificate table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/endian.h"
#include "format/pe_certificate.h"
#include "format/trailer.h"

namespace gp::format {
namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr size_t kImageSize = 0x400;

// A program image with the PE headers the reader looks at (PE32+ or PE32), an empty security
// directory, and zeros for the rest.
std::vector<uint8_t> Image(bool plus = true) {
  std::vector<uint8_t> image(kImageSize, 0);
  image[0] = 'M';
  image[1] = 'Z';
  StoreU32(image.data() + 0x3C, kPeOffset);
  std::memcpy(image.data() + kPeOffset, "PE\0\0", 4);
  const size_t optional = kPeOffset + 24;
  StoreU16(image.data() + kPeOffset + 4 + 16, plus ? 240 : 224);
  StoreU16(image.data() + optional, plus ? 0x20B : 0x10B);
  StoreU32(image.data() + optional + (plus ? 108 : 92), 16);
  return image;
}

size_t SecurityDirectory(const std::vector<uint8_t>& file) {
  const bool plus = LoadU16(file.data() + kPeOffset + 24) == 0x20B;
  return kPeOffset + 24 + (plus ? 112 : 96) + 8 * 4;
}

// Image, payload and header bytes, and the executable trailer: an unsigned package.
std::vector<uint8_t> Package(size_t data_size, bool plus = true) {
  std::vector<uint8_t> file = Image(plus);
  for (size_t i = 0; i < data_size; ++i) file.push_back(static_cast<uint8_t>(i % 251 + 1));
  const auto trailer = ExecutableTrailer(static_cast<uint32_t>(data_size - 10), 10);
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

// Signs as the tools do: zero padding to a multiple of 8, then the table, then the directory.
std::vector<uint8_t> Sign(std::vector<uint8_t> file, uint32_t table_size = 1200) {
  while (file.size() % 8 != 0) file.push_back(0);
  const uint64_t offset = file.size();
  for (uint32_t i = 0; i < table_size; ++i) file.push_back(static_cast<uint8_t>(0xA0 + i % 7));
  StoreU32(file.data() + SecurityDirectory(file), static_cast<uint32_t>(offset));
  StoreU32(file.data() + SecurityDirectory(file) + 4, table_size);
  return file;
}

PackageEndStatus Locate(const std::vector<uint8_t>& file, PackageEnd* end) {
  auto read_at = [&file](uint64_t offset, uint8_t* buffer, size_t size) {
    if (offset > file.size() || size > file.size() - offset) return false;
    std::memcpy(buffer, file.data() + offset, size);
    return true;
  };
  return LocatePackageEnd(file.size(), read_at, end);
}

TEST(PeCertificate, UnsignedFilesEndAtTheirEnd) {
  PackageEnd end;
  const std::vector<uint8_t> unsigned_package = Package(100);
  EXPECT_EQ(Locate(unsigned_package, &end), PackageEndStatus::kUnsigned);
  EXPECT_EQ(end.end, unsigned_package.size());
  // No PE image at all (a data file), and a file shorter than a DOS header.
  std::vector<uint8_t> data_file(unsigned_package.begin() + kImageSize, unsigned_package.end());
  EXPECT_EQ(Locate(data_file, &end), PackageEndStatus::kUnsigned);
  EXPECT_EQ(end.end, data_file.size());
  EXPECT_EQ(Locate({'M', 'Z'}, &end), PackageEndStatus::kUnsigned);
  // A PE signature outside the file's start, or too few data directories: not read.
  std::vector<uint8_t> far = Sign(Package(100));
  StoreU32(far.data() + 0x3C, 0xFFFFFFF0u);
  EXPECT_EQ(Locate(far, &end), PackageEndStatus::kUnsigned);
  std::vector<uint8_t> few = Sign(Package(100));
  StoreU32(few.data() + kPeOffset + 24 + 108, 4);
  EXPECT_EQ(Locate(few, &end), PackageEndStatus::kUnsigned);
}

TEST(PeCertificate, EmptySecurityDirectoryIsUnsigned) {
  std::vector<uint8_t> file = Sign(Package(100));
  StoreU32(file.data() + SecurityDirectory(file) + 4, 0);
  PackageEnd end;
  EXPECT_EQ(Locate(file, &end), PackageEndStatus::kUnsigned);
  EXPECT_EQ(end.end, file.size());
}

TEST(PeCertificate, TableAfterEveryPaddingFromNoneToSeven) {
  for (bool plus : {true, false}) {
    for (size_t data = 100; data < 108; ++data) {
      const std::vector<uint8_t> unsigned_package = Package(data, plus);
      const std::vector<uint8_t> file = Sign(unsigned_package, 1000 + data);
      PackageEnd end;
      ASSERT_EQ(Locate(file, &end), PackageEndStatus::kSigned) << data << " " << plus;
      EXPECT_EQ(end.end, unsigned_package.size());
      EXPECT_EQ(end.table.size, 1000 + data);
      EXPECT_EQ(end.table.offset + end.table.size, file.size());
      // The trailer reads at the package's end as it did before signing.
      PackageLayout layout;
      EXPECT_EQ(ReadTrailer(PackageForm::kExecutable,
                            std::span<const uint8_t>(file.data(), end.end), end.end, &layout),
                TrailerStatus::kOk);
      EXPECT_EQ(layout.payload_offset, kImageSize);
    }
  }
}

TEST(PeCertificate, TableNotEndingTheFileIsDamage) {
  const std::vector<uint8_t> signed_package = Sign(Package(100));
  const size_t directory = SecurityDirectory(signed_package);
  const uint32_t offset = LoadU32(signed_package.data() + directory);
  const uint32_t size = LoadU32(signed_package.data() + directory + 4);
  struct Case {
    const char* what;
    uint32_t offset;
    uint32_t size;
  };
  for (const Case& c : {Case{"past the end", offset, size + 1},
                        Case{"beyond the file", 0xFFFFFF00u, 0x100},
                        Case{"not at the end", offset, size - 8},
                        Case{"overlapping the trailer", offset - 8, size + 8},
                        Case{"overlapping the data", offset - 64, size + 64},
                        Case{"shorter than an entry", offset + size - 4, 4}}) {
    std::vector<uint8_t> file = signed_package;
    StoreU32(file.data() + directory, c.offset);
    StoreU32(file.data() + directory + 4, c.size);
    PackageEnd end;
    EXPECT_EQ(Locate(file, &end), PackageEndStatus::kDamaged) << c.what;
  }
}

TEST(PeCertificate, PaddingMustBeAtMostSevenZeros) {
  const std::vector<uint8_t> unsigned_package = Package(100);
  {
    std::vector<uint8_t> padded = unsigned_package;
    padded.insert(padded.end(), 8, 0);  // eight zero bytes before the tool's own padding
    PackageEnd end;
    EXPECT_EQ(Locate(Sign(padded), &end), PackageEndStatus::kDamaged);
  }
  {
    std::vector<uint8_t> padded = unsigned_package;
    padded.push_back(1);  // a nonzero byte between the trailer and the table
    PackageEnd end;
    EXPECT_EQ(Locate(Sign(padded), &end), PackageEndStatus::kDamaged);
  }
  // No trailer before the table at all: a signed program that is no package.
  PackageEnd end;
  EXPECT_EQ(Locate(Sign(Image()), &end), PackageEndStatus::kDamaged);
}

}  // namespace
}  // namespace gp::format
