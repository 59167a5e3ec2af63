// Parts of the C++ runtime that the Windows package program brings along itself, smaller than
// libstdc++'s, because the program image travels inside every package.
//
// The program throws nothing and catches only std::bad_alloc (where a large allocation may
// fail). Everything else the standard library could throw at it (length_error, out_of_range,
// ...) would end it through std::terminate. libstdc++'s versions of the functions below build
// those exceptions with their message strings, which links the copy-on-write string, the
// exception classes and a random device (about 35 KB), and its terminate handler names the
// exception with its demangler (about 45 KB) on a standard error that a GUI program does not
// have. Defined here, these are linked instead: bad_alloc is thrown as before; every other
// case ends the program at once, as an uncaught exception did.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

#include "codec/crc32.h"

// zlib's inflate refers to its crc32 for gzip streams, which the program never inflates (a
// compact payload's pieces are raw deflate, checked with the program's own CRC). This
// definition is linked instead of zlib's, and with it none of zlib's 13 KB of CRC tables.
// Same function: the common CRC-32, inverted before and after the program's register update.
extern "C" unsigned long crc32(unsigned long crc, const unsigned char* data, unsigned int length) {
  if (data == nullptr) return 0;
  return ~gp::Crc32Update(~static_cast<uint32_t>(crc), data, length) & 0xFFFFFFFFu;
}

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_bad_exception() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }

}  // namespace std
