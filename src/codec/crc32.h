// The whole-file checksum: CRC-32 over the reflected table of polynomial 0xEDB88320, started
// from 0 and never inverted, so its values differ from the common CRC-32 of the same bytes
// ("abc" gives 0xCA6598D0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp {

// Runs the checksum over length bytes of data. A length of 0 or less returns crc unchanged.
uint32_t Crc32Update(uint32_t crc, const void* data, int64_t length);

// The checksum of a whole file: 0 when it cannot be opened or a read fails, 0xFFFFFFFF for an
// empty file. Reads in chunks of at most 4 MiB.
uint32_t FileCrc32(const char* path);

// Records crc as the checksum of the file at path as it is now (its stamp), for FileCrc32 to
// answer without reading it: for a file whose checksum was taken while it was written.
void RememberFileCrc(const char* path, uint32_t crc);

// True when the file exists and its checksum equals expected.
bool FileMatchesCrc(const char* path, uint32_t expected);

// The building blocks, exposed for tests and benchmarks. All give the same values as
// Crc32Update.
namespace crc32 {

// The byte-wise table: entry i is i run through eight shift-and-xor steps.
const uint32_t* Table();
// One byte at a time through the table.
uint32_t UpdateBytewise(uint32_t crc, const uint8_t* data, size_t size);
// Sixteen bytes at a time through sixteen tables; portable.
uint32_t UpdateSlicing16(uint32_t crc, const uint8_t* data, size_t size);
// Carry-less multiplication folding (x86 PCLMULQDQ); only call when ClmulAvailable().
bool ClmulAvailable();
uint32_t UpdateClmul(uint32_t crc, const uint8_t* data, size_t size);
// The same folding on 512-bit vectors (AVX-512 VPCLMULQDQ); only call when
// WideClmulAvailable().
bool WideClmulAvailable();
uint32_t UpdateClmulWide(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace crc32
}  // namespace gp
