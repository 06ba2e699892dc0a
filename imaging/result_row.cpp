// A picture's row of results (see result_row.h).
#include "imaging/result_row.h"

#include "imaging/numbertext.h"

#include <cmath>

namespace {

// Fields appended in order; one not `shown` (the estimate failed, or has
// no such number) is empty and unknown.
class Row {
public:
    explicit Row(std::vector<RowField>& fields) : fields(fields) {}
    void text(const char* column, const std::string& value, bool shown = true)
    {
        if (shown) fields.push_back({column, value, false, 0, false});
        else empty(column);
    }
    void number(const char* column, double value, bool shown = true)
    {
        if (shown) fields.push_back({column, FloatToStr(value), true, value, false});
        else empty(column);
    }
    void whole(const char* column, long long value, bool shown = true)
    {
        if (shown) fields.push_back({column, std::to_string(value), true, static_cast<double>(value), false, true});
        else empty(column);
    }
    // NaN is unknown too.
    void known(const char* column, double value, bool shown) { number(column, value, shown && !std::isnan(value)); }
    // A size of 0 is unknown.
    void size(const char* column, double metres) { number(column, metres, metres > 0); }

private:
    void empty(const char* column) { fields.push_back({column, "", false, 0, true}); }

    std::vector<RowField>& fields;
};

}  // namespace

std::string rowHeader(const RowColumns& options)
{
    // The columns of a page with nothing done: the same names, in the same
    // order, as every row's.
    std::string header;
    for (const RowField& field : rowFields(PageAnalysis{}, options)) header += (header.empty() ? "" : ",") + field.column;
    return header;
}

std::vector<RowField> rowFields(const PageAnalysis& page, const RowColumns& options)
{
    std::vector<RowField> fields;
    Row row(fields);
    row.text("file", page.name);
    row.whole("width", page.width);
    row.whole("height", page.height);
    row.whole("padded_width", page.paddedWidth);
    row.whole("padded_height", page.paddedHeight);
    row.number("d1", page.d1);
    row.number("d2", page.d2);
    const PsdResult& psd = page.psd;
    if (options.psd) {
        // Not done: every field empty; done without a fit: the bins and the
        // flags that say why, no numbers.
        const bool done = page.psdDone, fitted = done && psd.fitted();
        row.number("psd_d", psd.dimension, fitted);
        row.number("psd_d_low", psd.dimensionLow, fitted);
        row.number("psd_d_high", psd.dimensionHigh, fitted);
        row.number("psd_beta", psd.beta, fitted);
        row.number("psd_r2", psd.r2, fitted);
        row.whole("psd_bins", psd.binsFitted, done);
        row.text("psd_flags", psdFlagsText(psd), done);
        row.number("psd_q_min", psd.fitMin, fitted);
        row.number("psd_q_max", psd.fitMax, fitted);
    }
    const WhittleResult& whittle = page.whittle;
    if (options.whittle) {
        const bool done = page.whittleDone;
        row.number("whittle_d", whittle.dimension, done);
        row.number("whittle_d_low", whittle.dimensionLow, done);
        row.number("whittle_d_high", whittle.dimensionHigh, done);
        row.number("aniso_ratio", whittle.anisoRatio, done);
        row.number("aniso_angle", whittle.anisoAngle, done);
        row.text("whittle_flags", whittleFlagsText(whittle), done);
    }
    const SurfaceParameters& p = page.params;
    if (options.params) {
        const bool done = page.paramsDone;
        row.known("sa", p.sa, done);
        row.known("sq", p.sq, done);
        row.known("ssk", p.ssk, done);
        row.known("sku", p.sku, done);
        row.known("sz", p.sz, done);
        row.known("sdq", p.sdq, done);
        row.known("sdr", p.sdr, done);
    }
    row.size("dx", page.dx);
    row.size("dy", page.dy);
    row.number("missing", page.missing);
    return fields;
}
