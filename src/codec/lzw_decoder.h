// The LZW decoder of compressed payload pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp {

// Results of LzwDecode. There is no code 2.
enum LzwResult : int {
  kLzwDone = 0,            // the end code was reached
  kLzwOutputFailed = 1,    // the output cannot be created, or a write to it failed
  kLzwBadBlock = 3,        // a block was needed and there is none: a length of 0, with the top
                           // bit set, above 256, or running past the end of the data
  kLzwBadCode = 4,         // a code greater than the next free code
  kLzwNoPreviousCode = 5,  // the next free code as the first code after a clear
  kLzwNoMemory = 6,        // the decoder's buffers cannot be allocated
};

// Receives, in order, the decoded bytes that reach the output.
class LzwSink {
 public:
  virtual ~LzwSink() = default;
  // Called once the decoder's memory is in place, before any byte; false ends decoding with
  // kLzwOutputFailed.
  virtual bool Begin() { return true; }
  // False ends decoding with kLzwOutputFailed.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Output reaches the file only in whole chunks: min(declared, 256) bytes each, except that
// once all chunks but the last of the declared size are written, the chunk size becomes the
// last chunk's size (declared mod 256, or 256 when that is 0) and stays so. Returns how many
// of the first `produced` decoded bytes that rule has written. Nothing is ever written for a
// declared size of 0 or less.
uint64_t LzwWrittenLength(int32_t declared_size, uint64_t produced);

// How many bytes the decoder gathers before it hands them to the output at once.
inline constexpr size_t kLzwDefaultFlushSize = 1u << 20;

// Decodes the block sequence in [blocks, blocks + size) into sink. A negative declared size
// gives kLzwNoMemory (no output buffer of that size exists); the sink then receives nothing.
int LzwDecodeToSink(const uint8_t* blocks, size_t size, int32_t declared_size, LzwSink* sink,
                    size_t flush_size = kLzwDefaultFlushSize);

// Decodes into the file output_path, created anew (replacing any file of that name).
int LzwDecode(const uint8_t* blocks, size_t size, int32_t declared_size,
              const char* output_path, size_t flush_size = kLzwDefaultFlushSize);

}  // namespace gp
