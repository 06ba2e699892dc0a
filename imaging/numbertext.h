#pragma once

#include <string>

// A double in the general number format with 15 significant digits, the
// shortest such text: '.' as decimal separator whatever the locale, an
// exponent as E-6 or E20 where the plain form would be too long, and "INF",
// "-INF" and "NAN" for the values that are not numbers.
std::string FloatToStr(double value);
