// The x86 branch filter of compact diffs (GPD3 and GPD4, format/compact.h). Machine code that
// moved keeps its calls and its references to data, but their 32-bit displacements are relative
// to the instruction, so every one of them changes when the code moves and its target does not.
// The filter turns those displacements into positions (displacement plus the position after
// it), which stay equal where the target did not move; the diff is taken between the filtered
// old and new files and the program turns the rebuilt bytes back.
//
// Fields converted, scanning a block front to back:
//   - E8 (call rel32): the four bytes after it, when the last is 00 or FF (a near target); the
//     position is that after the field;
//   - a one-byte opcode, or 0F and a second opcode byte, of the lists in x86_filter.cpp,
//     followed by a ModRM byte that addresses [rip + disp32] ((modrm & 0xC7) == 0x05): the
//     four bytes after the ModRM, likewise.
// Jumps (E9, 0F 8x) are left alone: they mostly stay within a function, which moves whole, so
// their displacements already stay equal. A field is converted modulo 2^25 and sign-extended
// from bit 24, so that its last byte stays 00 or FF and the inverse finds it again. After an
// opcode (and ModRM) that has a field the scan goes on after the field whether or not it was
// converted, and no later conversion changes a byte that a decision read (X86FilterBlock), so
// the inverse makes the same decisions. The scan restarts at every kX86FilterBlock boundary of
// the file (a field must lie within one block), so any block can be filtered alone: the program
// filters the old file's blocks as it reads them.
//
// The address prediction of GPD5 and GPD6 goes one step further, on the old side only: with the
// map of the diff's adds (codec/address_map.h) it writes into each address field of the old
// file the value the field will have in the filtered new file if its target moved as the add
// holding the target moved. A call to a function that moved elsewhere than its caller then
// differs by nothing. Nothing has to be turned back, so the old file is turned by one scan of
// its own (X86PredictBlock) that filters and predicts at once:
//   - E8 and the [rip + disp32] forms above (last byte 00 or FF): the filter's position v;
//     when the map holds v, its new position instead, modulo 2^25 and sign-extended from bit 24
//     like the filter's;
//   - E9 (jmp rel32) and 0F 80 to 0F 8F (jcc rel32), fields of displacements r (last byte 00 or
//     FF) relative to the position p after them: when the map holds both p + r and p, the field
//     becomes new(p + r) - new(p); otherwise it stays;
//   - after a field the scan goes on after it, as the filter's; blocks as the filter's. Where a
//     jump's field hides what the filter would take for a field, the old and the new file
//     disagree there, which costs a few difference bytes and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp::codec {

inline constexpr size_t kX86FilterBlock = 64u * 1024;

// Filter (encode) or unfilter (decode) the bytes of one block in place; position is the file
// offset of data[0], a multiple of kX86FilterBlock, and n at most kX86FilterBlock.
void X86FilterBlock(uint8_t* data, size_t n, uint64_t position, bool encode);

// Every block of a buffer that starts at file offset 0.
void X86FilterAll(uint8_t* data, size_t n, bool encode);

class AddressMap;

// The filter and the address prediction of one block of the old file, in place (position and n
// as for X86FilterBlock).
void X86PredictBlock(uint8_t* data, size_t n, uint64_t position, const AddressMap& map);

// Every block of an old file that starts at file offset 0.
void X86PredictAll(uint8_t* data, size_t n, const AddressMap& map);

}  // namespace gp::codec
