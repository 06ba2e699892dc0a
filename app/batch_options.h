// orvane-batch's command line: what it asks for, and its help text.
#pragma once

#include "analysis/matrix.h"
#include "imaging/result_row.h"

#include <string>
#include <vector>

struct BatchOptions {
    bool points = false;
    std::string spectrumDir;
    std::string plotDir;
    int jobs = 0;  // 0: as many as suit the cores and the memory
    bool psd = false;
    PsdOptions psdOptions;
    double shortestWavelength = 0, longestWavelength = 0;  // --psd-range in lengths, metres
    bool params = false;
    double pixelX = 0, pixelY = 0;  // --pixel-size, metres (0: not given)
    double heightScale = 0;         // --height-scale, metres a stored unit (0: not given)
    bool whittle = false;
    std::string mapDir;
    int mapWindow = 64, mapStep = 0;  // 0: half the window
    std::string jsonFile;           // --json: the records' file (empty: none)
    std::vector<std::string> files;
    bool help = false;
    bool version = false;
};

extern const char* const batchUsage;

// Reads the command line into `options`; on a usage error says why on
// standard error and returns false.
bool parseBatchOptions(int argc, char** argv, BatchOptions& options);

// The estimates whose columns the rows hold.
inline RowColumns rowColumns(const BatchOptions& options) { return {options.psd, options.whittle, options.params}; }
