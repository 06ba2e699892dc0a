// Lengths written with their unit (see lengths.h).
#include "imaging/lengths.h"

#include "pictures/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <utility>

bool parseLength(const std::string& text, double& metres)
{
    // A decimal point whatever the locale.
    double number = 0;
    const char* end = pictures::readNumber(text.data(), text.data() + text.size(), number);
    if (!end || !std::isfinite(number) || !(number > 0)) return false;
    std::string unit(end, text.data() + text.size());
    while (!unit.empty() && unit.front() == ' ') unit.erase(unit.begin());
    // Divided by a power of ten, which a double holds exactly, "3nm" is the
    // double nearest 3e-9, as the same length written in metres would be.
    static const std::pair<const char*, double> units[] = {{"m", 1.0},   {"mm", 1e3}, {"um", 1e6},
                                                           {"\xC2\xB5m", 1e6}, {"\xCE\xBCm", 1e6},
                                                           {"nm", 1e9}, {"pm", 1e12}};
    for (const auto& [name, divisor] : units)
        if (unit == name) {
            metres = number / divisor;
            return std::isfinite(metres) && metres > 0;
        }
    return false;
}

bool parseLengthPair(const std::string& text, double& first, double& second)
{
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && parseLength(text.substr(0, colon), first) &&
           parseLength(text.substr(colon + 1), second);
}

std::string lengthText(double metres)
{
    static const std::pair<const char*, double> units[] = {{"m", 1.0}, {"mm", 1e-3}, {"um", 1e-6}, {"nm", 1e-9}};
    std::size_t k = 0;
    while (k + 1 < std::size(units) && metres < units[k].second) ++k;
    // %.4g's digits, with a decimal point whatever the locale.
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, metres / units[k].second, std::chars_format::general, 4);
    return std::string(text, written.ptr) + " " + units[k].first;
}

std::pair<double, double> cyclesOfWavelengths(double shortest, double longest, double dx, double dy,
                                              const std::string& sizeHint)
{
    if (!(dx > 0 && dy > 0))
        throw std::invalid_argument("a fit range in wavelengths needs the pixel size, which the picture does not give (" +
                                    sizeHint + " gives it)");
    const double pixel = std::sqrt(dx * dy);
    if (pixel / shortest > 0.5)
        throw std::invalid_argument("the fit range's shortest wavelength is shorter than two pixels of " +
                                    lengthText(pixel));
    return {pixel / longest, pixel / shortest};
}
