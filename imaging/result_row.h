// A picture's row of results, each field under its CSV column name: what
// orvane-batch writes as CSV and, with --json, as the row of its record, and
// what Python's analyse_files puts in its frame.
#pragma once

#include "imaging/file_analysis.h"

#include <string>
#include <vector>

struct RowField {
    std::string column;
    std::string text;      // as the CSV writes it (empty: unknown, or the estimate failed)
    bool number = false;   // text is a number, value its value
    double value = 0;
    bool unknown = false;  // no value: the estimate failed, or the file does not say
    bool whole = false;    // a count (a size, a number of bins): written without a fraction
};

// Which estimates' columns a row holds.
struct RowColumns {
    bool psd = false, whittle = false, params = false;
};

// The CSV's header columns, without the line break.
std::string rowHeader(const RowColumns& columns);

// A page's fields in the header's order.
std::vector<RowField> rowFields(const PageAnalysis& page, const RowColumns& columns);
