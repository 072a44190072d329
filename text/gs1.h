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

// Whether a code may be read as element strings at all. With symbology
// identifiers on, `identifier` is the code's (empty when it came without
// one), and only GS1's say so: ]C1 GS1-128, ]e0 GS1 DataBar, ]d2 GS1
// DataMatrix, ]Q3 GS1 QR, ]J1 GS1 DotCode. Without them, 8 or 12 to 14
// digits alone are the EAN-8, UPC-A, EAN-13 or ITF-14 they look like
// (a weighed item's 2112345678900 is no field 21).
bool Carries(std::optional<std::wstring_view> identifier, std::wstring_view code);

// The fields of a well-formed element string, in their order; nothing when
// an identifier is not one GS1 defines, or a field's data is not as long as
// GS1 says or not digits where it must be. A GS that leads the string (a
// scanner's FNC1) is skipped.
std::optional<std::vector<Field>> ReadFields(std::wstring_view code);

// Whether the last digit of `digits` is the GS1 check digit of the others
// (weights 3 and 1 from the right, as EAN-8, UPC-A, EAN-13 and GTIN-14 use);
// 8 digits that are not a right EAN-8 may be a UPC-E, right once expanded to
// its UPC-A.
bool CheckDigitIsRight(std::wstring_view digits);

}  // namespace gs1
