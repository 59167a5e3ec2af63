// Element names of a compound file: the order of siblings in a storage's tree and the rules for
// names that may be stored.
#pragma once

#include <string_view>

namespace gp::cfb {

// Upper case of one UTF-16 unit as the compound file orders names: simple (one unit to one
// unit) upper-casing for Latin, Greek, Cyrillic, Armenian and full-width Latin letters; every
// other unit is its own upper case.
char16_t UpperCaseUnit(char16_t c);

// Sibling order: a shorter name is less; names of equal length compare unit by unit after
// upper-casing. Returns <0, 0 or >0. Names that compare 0 are the same element.
int CompareNames(std::u16string_view a, std::u16string_view b);

// True for a name that a compound file can hold: 1 to 31 units, none of them NUL, '/', '\',
// ':' or '!'.
bool IsValidName(std::u16string_view name);

}  // namespace gp::cfb
