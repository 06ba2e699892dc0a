// Lengths written with their unit, as the front ends take a pixel size, a
// height scale or a wavelength: "0.5um", "0.5µm", "500nm", "2e-6 m".
#pragma once

#include <string>
#include <utility>

// The length in metres of `text`: a positive finite number followed by m,
// mm, um (or µm), nm or pm, spaces allowed between; false for anything
// else (a bare number included: its unit would be a guess).
bool parseLength(const std::string& text, double& metres);

// Two lengths written A:B (each as parseLength takes it); false unless both
// are.
bool parseLengthPair(const std::string& text, double& first, double& second);

// A length for messages: "0.5 um", "20 nm", "1.5 mm", "2 m" (four
// significant digits).
std::string lengthText(double metres);

// The fit range in cycles per pixel, (q_min, q_max), of wavelengths from
// `shortest` to `longest` metres on pixels of dx x dy metres (by the
// geometric mean of the sides).  Throws std::invalid_argument when the pixel
// size is unknown (0), saying that `sizeHint` gives it, or when the
// shortest wavelength is under two pixels.
std::pair<double, double> cyclesOfWavelengths(double shortest, double longest, double dx, double dy,
                                              const std::string& sizeHint);
