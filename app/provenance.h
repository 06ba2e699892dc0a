// orvane-batch --json: one JSON record a picture, enough to redo its
// analysis: the program and its version, every option and default that
// shaped the result, the picture's calibration, its row under the CSV's
// column names, and the points its fits went through.
#pragma once

#include "app/batch_options.h"
#include "imaging/file_analysis.h"

#include <string>

// The record of one page, one line of JSON with its line break.
std::string provenanceLine(const PageAnalysis& page, const BatchOptions& options);

// The record of a file or page that could not be read or analysed: its name
// and why.
std::string failureLine(const std::string& name, const std::string& error, const BatchOptions& options);
