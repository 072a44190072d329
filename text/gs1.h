#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// GS1 element strings, as GS1-128, GS1 DataMatrix and GS1 QR codes and the
// Russian marking codes carry them: an application identifier (2 to 4
// digits) and its data, one after another; data of a variable length ends
// at a group separator (GS, 0x1D) unless it is the last.
namespace gs1 {

struct Field {
  std::wstring identifier;  // "01", "21", "3103"...
  std::wstring data;
};

// The fields of a well-formed element string, in their order; nothing when
// an identifier is not one GS1 defines, a fixed-length field is short or
// not digits, or a variable one is longer than it may be. A GS that leads
// the string (a scanner's FNC1) is skipped.
std::optional<std::vector<Field>> ReadFields(std::wstring_view code);

// Whether the last digit of `digits` is the GS1 check digit of the others
// (weights 3 and 1 from the right, as EAN-8, UPC-A, EAN-13 and GTIN-14 use).
bool CheckDigitIsRight(std::wstring_view digits);

}  // namespace gs1
