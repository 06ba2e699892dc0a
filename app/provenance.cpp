// orvane-batch --json records (see provenance.h), written with nlohmann::json.
#include "app/provenance.h"

#include "analysis/whittle.h"
#include "imaging/result_row.h"

#include "pictures/files.h"

#include <nlohmann/json.hpp>

#include <cmath>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "unknown"
#endif

namespace {

// Keys in the order written: a record reads as its row does.
using json = nlohmann::ordered_json;

// JSON has no NaN or infinity: those are null.
// A file name as JSON text: UTF-8 as it is, each other byte as \xHH, as
// the messages show it, so that two names never become one.
std::string nameText(const std::string& name) { return displayFileName(name); }

json numberOrNull(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json lengthOrNull(double metres) { return metres > 0 ? json(metres) : json(nullptr); }

// Every option that shapes a row, with the defaults it ran with.
json optionsRecord(const BatchOptions& o)
{
    json psd = nullptr;
    if (o.psd) {
        psd = {{"window", o.psdOptions.window == PsdOptions::Window::hann ? "hann" : "none"},
               {"trend", "plane"},
               {"bins_per_octave", o.psdOptions.binsPerOctave}};
        if (o.longestWavelength > 0)
            psd["fit_range_wavelengths_m"] = {o.shortestWavelength, o.longestWavelength};
        else if (o.psdOptions.fitMin > 0)
            psd["fit_range_cycles_per_pixel"] = {o.psdOptions.fitMin, o.psdOptions.fitMax};
        else
            psd["fit_range"] = "default: from " + std::to_string(static_cast<int>(defaultFitCycles)) +
                               " / the shorter side up to where rounding noise reaches a fifth of the power, "
                               "at most " + std::to_string(defaultFitMax).substr(0, 3) + " cycles per pixel";
    }
    json whittle = nullptr;
    if (o.whittle) {
        const WhittleOptions w;
        whittle = {{"anisotropy", w.anisotropy}, {"noise", w.noise}, {"taper", w.taper},
                   {"lowest_cycles", w.lowestCycles}, {"max_iterations", w.maxIterations}};
    }
    json map = nullptr;
    if (!o.mapDir.empty()) map = {{"dir", o.mapDir}, {"window", o.mapWindow}, {"step", o.mapStep}};
    return {{"methods", "Metoda 1 and Metoda 2 on the 8-bit view"},
            {"psd", psd},
            {"whittle", whittle},
            {"map", map},
            {"params", o.params},
            {"pixel_size_m", o.pixelX > 0 ? json{o.pixelX, o.pixelY} : json(nullptr)},
            {"height_scale_m", lengthOrNull(o.heightScale)}};
}

json pointsOf(const FitPoints& fit)
{
    json points = json::array();
    for (int i = fit.first; i < fit.first + fit.count; ++i)
        points.push_back({{"i", i}, {"ln_threshold", numberOrNull(fit.x[i])}, {"ln_count", numberOrNull(fit.y[i])}});
    return points;
}

}  // namespace

std::string provenanceLine(const PageAnalysis& page, const BatchOptions& options)
{
    json row = json::object();
    for (const RowField& field : rowFields(page, rowColumns(options))) {
        if (field.number && field.whole)
            row[field.column] = static_cast<long long>(field.value);
        else if (field.number)
            row[field.column] = numberOrNull(field.value);
        else
            row[field.column] = field.text.empty() ? json(nullptr) : json(field.text);
    }
    json fits = {{"method1", pointsOf(page.points1)}, {"method2", pointsOf(page.points2)}};
    if (page.psdDone) {
        json bins = json::array();
        for (const PsdBin& b : page.psd.bins)
            bins.push_back({{"ln_q", b.lnQ}, {"ln_psd", numberOrNull(b.lnPsd)}, {"count", b.count}, {"fitted", b.fitted}});
        fits["psd"] = bins;
    }
    if (page.whittleDone) {
        json rings = json::array();
        for (const WhittleRing& r : page.whittle.rings)
            rings.push_back({{"ln_q", r.lnQ}, {"ln_data", numberOrNull(r.lnData)}, {"ln_model", numberOrNull(r.lnModel)},
                             {"count", r.count}});
        fits["whittle"] = rings;
    }
    json errors = json::array();
    for (const std::string& m : page.estimateFailures) errors.push_back(m);
    if (!page.psdError.empty()) errors.push_back("the spectral estimate failed: " + page.psdError);
    if (!page.whittleError.empty()) errors.push_back("the Whittle estimate failed: " + page.whittleError);
    if (!page.mapError.empty()) errors.push_back("the dimension map failed: " + page.mapError);
    if (!page.paramsError.empty()) errors.push_back("the surface parameters failed: " + page.paramsError);
    const json record = {
        {"program", "orvane-batch"},
        {"version", ORVANE_VERSION},
        {"file", nameText(page.name)},
        {"options", optionsRecord(options)},
        {"calibration",
         {{"dx_m", lengthOrNull(page.dx)},
          {"dy_m", lengthOrNull(page.dy)},
          {"height_unit", page.heightScale > 0 ? "m" : "as stored"},
          {"height_scale_m", lengthOrNull(page.heightScale)}}},
        {"row", row},
        {"fit_points", fits},
        {"errors", errors}};
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string failureLine(const std::string& name, const std::string& error, const BatchOptions& options)
{
    const json record = {{"program", "orvane-batch"}, {"version", ORVANE_VERSION},  {"file", nameText(name)},
                         {"options", optionsRecord(options)}, {"errors", {error}}};
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}
