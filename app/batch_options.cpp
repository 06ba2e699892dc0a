// orvane-batch's options, read with CLI11; the help text is our own.
#include "app/batch_options.h"

#include "pictures/numbers.h"

#include "imaging/lengths.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>

const char* const batchUsage =
    "Usage: orvane-batch [--points] [--spectrum DIR] [--plot DIR] [--jobs N]\n"
    "                    [--psd [--psd-window hann|none] [--psd-range QMIN:QMAX]]\n"
    "                    [--whittle] [--map DIR [--map-window N] [--map-step S]]\n"
    "                    [--params] [--pixel-size DX[:DY]] [--height-scale H]\n"
    "                    [--json FILE]\n"
    "                    FILE...\n"
    "       orvane-batch --version\n"
    "\n"
    "Estimates the fractal dimension of each picture file (BMP, PNG, TIFF, PGM,\n"
    "PPM, SDF, X3P or GWY) exactly as the Orvane window does (PoliczFFT, then\n"
    "Metoda 1 and Metoda 2) and writes CSV to standard output:\n"
    "\n"
    "  file,width,height,padded_width,padded_height,d1,d2,...,dx,dy,missing\n"
    "\n"
    "one row per file, in the order given; d1 and d2 are the texts the window shows\n"
    "in Edit1 and Edit2 (NAN where the estimate failed, INF or -INF for a slope of\n"
    "0); the options' columns follow, and last the pixel's size in metres, dx and\n"
    "dy (the file's, or --pixel-size's; empty when neither gives it).\n"
    "Each page of a TIFF stack is a row of its own, named file#page (from 1).  The\n"
    "methods see 16-bit and floating-point pictures with their own smallest and\n"
    "largest value mapped to grey levels 0 and 255; --psd sees the full depth.\n"
    "\n"
    "  --points        after the table, an empty line and a second CSV block with the\n"
    "                  points of both fits: file,method,i,ln_threshold,ln_count\n"
    "                  (method 1: i = 0..9, method 2: i = 1..8)\n"
    "  --spectrum DIR  also write each file's magnitude spectrum, as the window shows\n"
    "                  it, as an 8-bit grey BMP: DIR/<name>-spectrum.bmp.  DIR is\n"
    "                  made if need be.  Files that share a name get the folders\n"
    "                  that tell them apart in front (DIR/d1_x-spectrum.bmp), and\n"
    "                  one file named twice a number (DIR/x-2-spectrum.bmp).\n"
    "  --plot DIR      also write the log-log plots of the fits, Metoda 1, Metoda 2\n"
    "                  and with --psd or --whittle their estimates, as one SVG a\n"
    "                  file: DIR/<name>-plot.svg, named as the spectrum pictures are\n"
    "  --jobs N        analyse N files at once (default: the number of cores, fewer\n"
    "                  when the memory available would not hold that many of the\n"
    "                  largest picture given; a file that runs out of memory beside\n"
    "                  others is analysed again on its own)\n"
    "  --psd           also the calibrated dimension from the radially averaged power\n"
    "                  spectrum, in nine more columns of each row:\n"
    "                  psd_d,psd_d_low,psd_d_high,psd_beta,psd_r2,psd_bins,psd_flags,\n"
    "                  psd_q_min,psd_q_max\n"
    "                  (D = (8 - beta) / 2 for PSD ~ q^-beta; psd_d_low..psd_d_high\n"
    "                  is its 95 % confidence interval; psd_bins the radial bins\n"
    "                  fitted;\n"
    "                  psd_flags what the estimate says about itself, words joined\n"
    "                  by ';' (see the README); psd_q_min..psd_q_max the fit range\n"
    "                  used, in cycles per pixel).\n"
    "                  With --points the binned spectrum follows the fit points as\n"
    "                  method psd: i is the bin, ln_threshold ln q (q in cycles per\n"
    "                  pixel), ln_count ln PSD, and two more columns, psd_count (the\n"
    "                  frequencies in the bin) and psd_fitted (1 inside the fit\n"
    "                  range)\n"
    "  --whittle       also the dimension from a debiased Whittle likelihood fit of\n"
    "                  the whole 2-D periodogram, with the surface's anisotropy, in\n"
    "                  six more columns: whittle_d,whittle_d_low,whittle_d_high (D\n"
    "                  and its 95 % interval), aniso_ratio (how many times longer the\n"
    "                  features are along their long direction than across; 1 when\n"
    "                  isotropic), aniso_angle (that direction, degrees counter-\n"
    "                  clockwise from the rows with y up, 0 to 180) and whittle_flags\n"
    "  --map DIR       also a map of the local Whittle dimension of each picture: D\n"
    "                  of every window of N x N pixels (--map-window, default 64),\n"
    "                  S pixels apart (--map-step, default N / 2), as a 32-bit\n"
    "                  floating-point TIFF (DIR/<name>-map.tif, one sample a window,\n"
    "                  NaN where a window cannot be estimated) and a colour PNG with\n"
    "                  a scale bar from D = 2 to 3 (DIR/<name>-map.png)\n"
    "  --params        also the ISO 25178 height parameters above the least-squares\n"
    "                  plane, in seven more columns: sa,sq,ssk,sku,sz (in metres with\n"
    "                  --height-scale, else in the stored unit) and sdq,sdr (from\n"
    "                  each 2 x 2 cell's slopes, sdr in percent; empty without both\n"
    "                  the pixel size and --height-scale)\n"
    "  --pixel-size DX[:DY]\n"
    "                  the pixel's size for files that give none, with a unit:\n"
    "                  m, mm, um, nm or pm (0.5um, or 0.5um:0.4um along x and y)\n"
    "  --height-scale H\n"
    "                  the length of one stored height unit (a grey level), with a\n"
    "                  unit: 2nm\n"
    "  --json FILE     also write FILE as JSON Lines, one record a picture: the\n"
    "                  program's version, every option and default that shaped the\n"
    "                  result, the calibration, the row under the CSV's column names\n"
    "                  and the points of every fit (each record written with its\n"
    "                  row; FILE is checked before the run and replaced at its\n"
    "                  end, with the records of the files done if it is stopped)\n"
    "  --psd-window W  hann (the default) or none\n"
    "  --psd-range QMIN:QMAX\n"
    "                  the fit range in cycles per pixel (default: from 12 / the\n"
    "                  shorter side up to where rounding noise grows to a fifth of\n"
    "                  the power, at most 0.4); or as wavelengths with a unit,\n"
    "                  shortest first (4um:64um), for pictures whose pixel size is\n"
    "                  known\n"
    "  --help          show this text\n"
    "  --version       show the program's version (the one its records carry)\n"
    "\n"
    "Rows are written as they are done, in the order given.  A file that cannot be\n"
    "read, analysed or written gets one line on standard error and no row; the\n"
    "others go on.  A failed estimate (the window's \"PALANT!!!\", or a picture the\n"
    "spectral estimate cannot take, whose psd fields are then empty) is also\n"
    "reported on standard error.  Exit status: 0 when every file succeeded, 1 when\n"
    "any failed or the results could not be written, 2 for a usage error or a\n"
    "spectrum folder that cannot be used.\n";

namespace {

// "QMIN:QMAX" with 0 < QMIN < QMAX <= 0.5; false for anything else.  Read
// with a decimal point whatever the locale.
bool parseRange(const std::string& text, double& low, double& high)
{
    const auto colon = text.find(':');
    return colon != std::string::npos && pictures::parseNumber(text.substr(0, colon), low) &&
           pictures::parseNumber(text.substr(colon + 1), high) && validFitRange(low, high);
}

std::string folderName(const std::string& dir) { return dir.empty() ? "needs a folder name" : ""; }

}  // namespace

bool parseBatchOptions(int argc, char** argv, BatchOptions& options)
{
    CLI::App app("orvane-batch");
    app.set_help_flag();
    app.add_flag("-h,--help", options.help);
    app.add_flag("--version", options.version);
    app.add_flag("--points", options.points);
    app.add_option("--spectrum", options.spectrumDir)->check(folderName);
    app.add_option("--plot", options.plotDir)->check(folderName);
    app.add_option("--jobs", options.jobs)->check(CLI::Range(1, 1024));
    app.add_flag("--psd", options.psd);
    app.add_flag("--whittle", options.whittle);
    app.add_option("--map", options.mapDir)->check(folderName);
    app.add_option("--map-window", options.mapWindow)->check(CLI::Range(16, 1 << 15));
    app.add_option("--map-step", options.mapStep)->check(CLI::Range(1, 1 << 15));
    std::string window, range;
    app.add_option("--psd-window", window)->check(CLI::IsMember({"hann", "none"}));
    app.add_option("--psd-range", range)->check([](const std::string& text) {
        double low, high;
        return parseRange(text, low, high) || (parseLengthPair(text, low, high) && low < high)
                   ? std::string()
                   : "needs QMIN:QMAX with 0 < QMIN < QMAX <= 0.5 cycles per pixel, or two wavelengths with a unit, "
                     "shortest first (4um:64um), not '" + text + "'";
    });
    app.add_flag("--params", options.params);
    app.add_option("--json", options.jsonFile)->check([](const std::string& name) {
        return name.empty() ? "needs a file name" : "";
    });
    std::string pixel, heightScale;
    app.add_option("--pixel-size", pixel)->check([](const std::string& text) {
        double x, y;
        return parseLength(text, x) || parseLengthPair(text, x, y)
                   ? std::string()
                   : "needs a length with a unit (0.5um), or two (0.5um:0.4um), not '" + text + "'";
    });
    app.add_option("--height-scale", heightScale)->check([](const std::string& text) {
        double h;
        return parseLength(text, h) ? std::string() : "needs a length with a unit (2nm), not '" + text + "'";
    });
    app.add_option("files", options.files);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::cerr << "orvane-batch: " << e.what() << "\n";
        return false;
    }
    if (!window.empty() || !range.empty()) options.psd = true;
    if (options.mapStep == 0) options.mapStep = std::max(1, options.mapWindow / 2);
    if (window == "none") options.psdOptions.window = PsdOptions::Window::none;
    if (!range.empty() && !parseRange(range, options.psdOptions.fitMin, options.psdOptions.fitMax))
        parseLengthPair(range, options.shortestWavelength, options.longestWavelength);
    if (!pixel.empty() && !parseLength(pixel, options.pixelX)) parseLengthPair(pixel, options.pixelX, options.pixelY);
    else if (!pixel.empty()) options.pixelY = options.pixelX;
    if (!heightScale.empty()) parseLength(heightScale, options.heightScale);
    if (!options.help && !options.version && options.files.empty()) {
        std::cerr << "orvane-batch: no files given\n";
        return false;
    }
    return true;
}
