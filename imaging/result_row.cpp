// A picture's row of results (see row_fields.h).
#include "imaging/result_row.h"

#include "imaging/numbertext.h"

#include <cmath>

namespace {

class Row {
public:
    explicit Row(std::vector<RowField>& fields) : fields(fields) {}
    void text(const char* column, const std::string& value) { fields.push_back({column, value, false, 0, false}); }
    void number(const char* column, double value)
    {
        fields.push_back({column, FloatToStr(value), true, value, false});
    }
    void whole(const char* column, long long value)
    {
        fields.push_back({column, std::to_string(value), true, static_cast<double>(value), false});
    }
    // NaN is unknown: an empty field.
    void known(const char* column, double value)
    {
        if (std::isnan(value)) empty({column});
        else number(column, value);
    }
    // A size of 0 is unknown.
    void size(const char* column, double metres)
    {
        if (metres > 0) number(column, metres);
        else empty({column});
    }
    void empty(std::initializer_list<const char*> columns)
    {
        for (const char* c : columns) fields.push_back({c, "", false, 0, true});
    }

private:
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
    if (options.psd && page.psdDone && !psd.fitted()) {
        // no numbers, and why
        row.empty({"psd_d", "psd_d_low", "psd_d_high", "psd_beta", "psd_r2"});
        row.whole("psd_bins", psd.binsFitted);
        row.text("psd_flags", psdFlagsText(psd));
        row.empty({"psd_q_min", "psd_q_max"});
    } else if (options.psd && page.psdDone) {
        row.number("psd_d", psd.dimension);
        row.number("psd_d_low", psd.dimensionLow);
        row.number("psd_d_high", psd.dimensionHigh);
        row.number("psd_beta", psd.beta);
        row.number("psd_r2", psd.r2);
        row.whole("psd_bins", psd.binsFitted);
        row.text("psd_flags", psdFlagsText(psd));
        row.number("psd_q_min", psd.fitMin);
        row.number("psd_q_max", psd.fitMax);
    } else if (options.psd) {
        // the estimate failed: empty fields
        row.empty({"psd_d", "psd_d_low", "psd_d_high", "psd_beta", "psd_r2", "psd_bins", "psd_flags", "psd_q_min",
                   "psd_q_max"});
    }
    const WhittleResult& whittle = page.whittle;
    if (options.whittle && page.whittleDone) {
        row.number("whittle_d", whittle.dimension);
        row.number("whittle_d_low", whittle.dimensionLow);
        row.number("whittle_d_high", whittle.dimensionHigh);
        row.number("aniso_ratio", whittle.anisoRatio);
        row.number("aniso_angle", whittle.anisoAngle);
        row.text("whittle_flags", whittleFlagsText(whittle));
    } else if (options.whittle) {
        row.empty({"whittle_d", "whittle_d_low", "whittle_d_high", "aniso_ratio", "aniso_angle", "whittle_flags"});
    }
    const SurfaceParameters& p = page.params;
    if (options.params && page.paramsDone) {
        row.known("sa", p.sa);
        row.known("sq", p.sq);
        row.known("ssk", p.ssk);
        row.known("sku", p.sku);
        row.known("sz", p.sz);
        row.known("sdq", p.sdq);
        row.known("sdr", p.sdr);
    } else if (options.params) {
        row.empty({"sa", "sq", "ssk", "sku", "sz", "sdq", "sdr"});
    }
    row.size("dx", page.dx);
    row.size("dy", page.dy);
    row.number("missing", page.missing);
    return fields;
}
