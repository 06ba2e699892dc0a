// A picture's row of results, each field under its CSV column name: what
// orvane-batch writes as CSV and, with --json, as the row of its record.
#pragma once

#include "app/batch_options.h"
#include "imaging/file_analysis.h"

#include <string>
#include <vector>

struct RowField {
    std::string column;
    std::string text;      // as the CSV writes it (empty: unknown, or the estimate failed)
    bool number = false;   // text is a number, value its value
    double value = 0;
};

// The CSV's header columns for these options, without the line break.
std::string rowHeader(const BatchOptions& options);

// A page's fields in the header's order.
std::vector<RowField> rowFields(const PageAnalysis& page, const BatchOptions& options);
