#include "platform_win32/dialog_template.h"

#include "base/byte_reader.h"

namespace gp::testing_win32 {

namespace {

constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDsShellFont = 0x48;
constexpr uint16_t kOrdinalMarker = 0xFFFF;

bool ReadString(ByteReader& r, std::u16string* out) {
  out->clear();
  for (;;) {
    uint16_t ch = 0;
    if (!r.ReadU16(&ch)) return false;
    if (ch == 0) return true;
    out->push_back(static_cast<char16_t>(ch));
  }
}

// A name or an ordinal: 0 for none, 0xFFFF followed by the ordinal, or a string.
bool ReadNameOrOrdinal(ByteReader& r, uint16_t* ordinal, std::u16string* name) {
  *ordinal = 0;
  name->clear();
  uint16_t first = 0;
  const size_t start = r.position();
  if (!r.ReadU16(&first)) return false;
  if (first == 0) return true;
  if (first == kOrdinalMarker) return r.ReadU16(ordinal);
  r.Seek(start);
  return ReadString(r, name);
}

bool AlignToDword(ByteReader& r) {
  const size_t pad = (4 - r.position() % 4) % 4;
  return r.Skip(pad) || r.empty();
}

int Signed16(uint16_t v) { return static_cast<int16_t>(v); }

bool ReadRect(ByteReader& r, int* x, int* y, int* cx, int* cy) {
  uint16_t v[4];
  for (auto& e : v) {
    if (!r.ReadU16(&e)) return false;
  }
  *x = Signed16(v[0]);
  *y = Signed16(v[1]);
  *cx = Signed16(v[2]);
  *cy = Signed16(v[3]);
  return true;
}

bool ReadItemTail(ByteReader& r, DialogItem* item) {
  uint16_t text_ordinal = 0;
  if (!ReadNameOrOrdinal(r, &item->class_atom, &item->class_name)) return false;
  if (!ReadNameOrOrdinal(r, &text_ordinal, &item->text)) return false;
  uint16_t extra = 0;
  if (!r.ReadU16(&extra)) return false;
  return r.Skip(extra);
}

}  // namespace

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* out) {
  *out = DialogTemplate();
  ByteReader r(data, size);
  uint16_t version = 0, signature = 0;
  if (!r.ReadU16(&version) || !r.ReadU16(&signature)) return false;
  out->extended = version == 1 && signature == 0xFFFF;
  uint16_t count = 0;
  if (out->extended) {
    uint32_t help = 0;
    if (!r.ReadU32(&help) || !r.ReadU32(&out->ex_style) || !r.ReadU32(&out->style)) return false;
  } else {
    r.Seek(0);
    if (!r.ReadU32(&out->style) || !r.ReadU32(&out->ex_style)) return false;
  }
  if (!r.ReadU16(&count) || !ReadRect(r, &out->x, &out->y, &out->cx, &out->cy)) return false;
  uint16_t ordinal = 0;
  std::u16string name;
  if (!ReadNameOrOrdinal(r, &ordinal, &name)) return false;  // menu
  if (!ReadNameOrOrdinal(r, &ordinal, &name)) return false;  // class
  if (!ReadString(r, &out->title)) return false;
  if ((out->style & kDsSetFont) != 0 || (out->style & kDsShellFont) == kDsShellFont) {
    if (!r.ReadU16(&out->font_points)) return false;
    if (out->extended) {
      uint16_t weight = 0;
      uint8_t italic = 0, charset = 0;
      if (!r.ReadU16(&weight) || !r.ReadU8(&italic) || !r.ReadU8(&charset)) return false;
    }
    if (!ReadString(r, &out->font_face)) return false;
  }
  for (uint16_t i = 0; i < count; ++i) {
    if (!AlignToDword(r)) return false;
    DialogItem item;
    if (out->extended) {
      uint32_t help = 0, id = 0;
      if (!r.ReadU32(&help) || !r.ReadU32(&item.ex_style) || !r.ReadU32(&item.style) ||
          !ReadRect(r, &item.x, &item.y, &item.cx, &item.cy) || !r.ReadU32(&id)) {
        return false;
      }
      item.id = static_cast<int32_t>(id);
    } else {
      uint16_t id = 0;
      if (!r.ReadU32(&item.style) || !r.ReadU32(&item.ex_style) ||
          !ReadRect(r, &item.x, &item.y, &item.cx, &item.cy) || !r.ReadU16(&id)) {
        return false;
      }
      item.id = static_cast<int16_t>(id);
    }
    if (!ReadItemTail(r, &item)) return false;
    out->items.push_back(item);
  }
  return true;
}

}  // namespace gp::testing_win32
