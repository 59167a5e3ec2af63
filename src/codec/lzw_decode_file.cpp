// The decoder's file output.
#include <algorithm>

#include "codec/lzw_decoder.h"
#include "platform/platform.h"

namespace gp {

namespace {

// Largest single write handed to the platform (a whole number of 4 KiB pages).
constexpr uint32_t kMaxWrite = 0x40000000u;

class FileSink : public LzwSink {
 public:
  explicit FileSink(const char* path) : path_(path) {}

  bool Begin() override {
    return path_ != nullptr &&
           file_.Open(path_, platform::kAccessWrite, platform::kShareWrite,
                      platform::Disposition::kCreateAlways);
  }

  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const auto n = static_cast<uint32_t>(std::min<size_t>(size, kMaxWrite));
      uint32_t done = 0;
      if (!file_.Write(data, n, &done) || done != n) return false;
      data += n;
      size -= n;
    }
    return true;
  }

 private:
  const char* path_;
  platform::File file_;
};

}  // namespace

int LzwDecode(const uint8_t* blocks, size_t size, int32_t declared_size,
              const char* output_path, size_t flush_size) {
  FileSink sink(output_path);
  return LzwDecodeToSink(blocks, size, declared_size, &sink, flush_size);
}

}  // namespace gp
