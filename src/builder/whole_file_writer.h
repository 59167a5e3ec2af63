// Whole-file streams (layout in format/data_stream.h): the 12-byte entry header, then the file's
// content in blocks, each a u16 length n and n bytes. Every block but the last holds 32,767
// bytes, the size of the program's transfer buffer; an empty file has no block.
//
// The stream can be produced piece by piece at any offset (FillWholeFileStream), so a file of
// hundreds of megabytes goes into a compound file without ever being held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "format/data_stream.h"

namespace gp::builder {

// Fills out with exactly size bytes of the file's content starting at offset; false on failure.
using ContentSource = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;

// The stream's size for a file of content_size bytes.
uint64_t WholeFileStreamSize(uint64_t content_size);

// Writes size bytes of the stream, starting at stream offset `offset`, into out. The range must
// lie inside the stream. False when the content source fails.
bool FillWholeFileStream(const format::EntryHeader& header, uint64_t content_size,
                         const ContentSource& content, uint64_t offset, uint8_t* out, size_t size);

// The whole stream for content held in memory.
std::vector<uint8_t> WriteWholeFileStream(const format::EntryHeader& header,
                                          const uint8_t* content, size_t content_size);

}  // namespace gp::builder
