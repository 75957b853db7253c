// Formatting of the plan file's numbers.
#pragma once

#include <cstddef>
#include <string>

namespace tavrin {

// Appends `value` as C's "%g" writes it: 6 significant digits, fixed
// notation for decimal exponents -4..5, scientific otherwise, trailing
// zeros removed, "inf"/"-inf"/"nan"/"-nan" for the non-finite values.
void appendGeneral(std::string& out, double value);

// Appends a signed or unsigned whole number in decimal.
void appendInteger(std::string& out, long long value);

}  // namespace tavrin
