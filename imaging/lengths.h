// Lengths written with their unit, as the front ends take a pixel size, a
// height scale or a wavelength: "0.5um", "0.5µm", "500nm", "2e-6 m".
#pragma once

#include <string>

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
