// Numbers written as text in files and on command lines, read the same
// whatever the process's locale: always a decimal point, never a comma, so
// that a Polish or German desktop reads "2.5e-09" as 2.5e-09 and not as 2.
#pragma once

#include <string>

namespace pictures {

// Reads one number starting at `first` (spaces and tabs before it skipped):
// an optional sign, digits with an optional decimal point, an optional
// exponent, or inf / nan.  Returns where the number ends, or nullptr when
// none starts there or it lies beyond a double's range.
const char* readNumber(const char* first, const char* last, double& value);

// The whole of `text` as one number, spaces around it allowed; false when
// it is not a number or anything follows it.
bool parseNumber(const std::string& text, double& value);

}  // namespace pictures
