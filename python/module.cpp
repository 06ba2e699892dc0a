// The Python extension _orvane: numpy arrays in and out of the same road
// that the window and orvane-batch run.  Work is done with the GIL released.
#include "imaging/file_analysis.h"
#include "imaging/lengths.h"
#include "imaging/result_row.h"
#include "imaging/road.h"
#include "pictures/files.h"
#include "imaging/numbertext.h"
#include "pictures/picture.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <complex>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <tuple>

namespace py = pybind11;

namespace {

// An image's samples as the road takes them.  8- and 16-bit unsigned
// integers keep their type; every value a float32 holds exactly (float16,
// float32, int8, int16) is taken as float32, as a picture file's would be;
// float64 and wider integers go on in double precision.
GreyRaster rasterOf(const py::array& image)
{
    const char kind = image.dtype().kind();
    if (kind == 'c') throw py::type_error("the image must hold real numbers, not complex ones");
    if (kind != 'u' && kind != 'i' && kind != 'f' && kind != 'b')
        throw py::type_error("the image must hold numbers, not values of type " +
                             py::str(image.dtype()).cast<std::string>());
    if (image.ndim() != 2) throw py::value_error("the image must be a 2-D array (rows, columns)");
    if (image.shape(0) < 1 || image.shape(1) < 1) throw py::value_error("the image has no pixels");
    // The size is checked before anything is copied.
    if (image.shape(0) > INT32_MAX || image.shape(1) > INT32_MAX ||
        static_cast<double>(image.shape(0)) * static_cast<double>(image.shape(1)) > static_cast<double>(maxPicturePixels))
        throw py::value_error("the image (" + std::to_string(image.shape(1)) + " x " + std::to_string(image.shape(0)) +
                              " pixels) is larger than can be analysed: at most " + std::to_string(maxPicturePixels) +
                              " pixels");
    GreyRaster raster;
    raster.height = static_cast<int>(image.shape(0));
    raster.width = static_cast<int>(image.shape(1));
    // The array's own type where a picture can hold it; float16 as float32,
    // booleans as 8-bit, and 64-bit integers as doubles (exact up to 2^53).
    auto as = [&](auto tag) {
        using T = decltype(tag);
        const auto values = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(image);
        if (!values) throw py::type_error("the image must hold numbers");
        raster.samples = Samples(std::vector<T>(values.data(), values.data() + values.size()));
    };
    const std::size_t size = image.dtype().itemsize();
    if (kind == 'b' || (kind == 'u' && size == 1)) as(std::uint8_t{});
    else if (kind == 'u' && size == 2) as(std::uint16_t{});
    else if (kind == 'u' && size == 4) as(std::uint32_t{});
    else if (kind == 'i' && size == 1) as(std::int8_t{});
    else if (kind == 'i' && size == 2) as(std::int16_t{});
    else if (kind == 'i' && size == 4) as(std::int32_t{});
    else if (kind == 'f' && size <= 4) as(float{});
    else as(double{});
    return raster;
}

// The centred spectrum of an image's 8-bit view, as the window computes it.
std::unique_ptr<matrix> eightBitSpectrum(const GreyRaster& raster)
{
    const std::vector<std::uint8_t> levels = eightBitView(raster);
    return centredSpectrum(levels.data(), raster.width, raster.height);
}

py::array samplesArray(const GreyRaster& r)
{
    const std::vector<py::ssize_t> shape{r.height, r.width};
    return r.samples.visit([&](const auto& samples) {
        using T = typename std::decay_t<decltype(samples)>::value_type;
        py::array_t<T> out(shape);
        std::copy(samples.begin(), samples.end(), out.mutable_data());
        return py::array(out);
    });
}

// `page` counts from 1, as file#page does; None for every page.
// The samples, and the first page's pixel size in metres (0 where the file
// gives none): (array, dx, dy).
py::tuple readImage(const std::string& path, py::object page)
{
    // Past any file's last page already (the package's wrapper holds larger ones here).
    const long long wanted = page.is_none() ? 0 : page.cast<long long>();
    std::vector<GreyRaster> all;
    int pages = 0;
    {
        py::gil_scoped_release free;
        const std::string bytes = readPictureFile(path);
        try {
            PictureReader reader(bytes);
            pages = reader.pages();
            if (wanted > pages) {
                // Said outside, with the GIL held.
            } else if (wanted > 0) {
                all.push_back(reader.decode(static_cast<int>(wanted - 1)));
            } else {
                for (int p = 0; p < pages; ++p) all.push_back(reader.decode(p));
            }
        } catch (const std::runtime_error& e) {
            throw unreadableFile(path, e.what());
        }
    }
    if (wanted > pages)
        throw py::index_error("\"" + displayFileName(path) + "\" holds " + std::to_string(pages) +
                              (pages == 1 ? " page" : " pages") + ", not page " + std::to_string(wanted));
    if (all.size() == 1) return py::make_tuple(samplesArray(all[0]), all[0].dx, all[0].dy);
    for (const GreyRaster& r : all)
        if (r.width != all[0].width || r.height != all[0].height || r.type() != all[0].type())
            throw py::value_error("the pages of \"" + displayFileName(path) +
                                  "\" differ in size or depth; read them one at a time with page=");
    py::list list;
    for (const GreyRaster& r : all) list.append(samplesArray(r));
    return py::make_tuple(py::module_::import("numpy").attr("stack")(list), all[0].dx, all[0].dy);
}

py::array spectrum(const py::array& image)
{
    const GreyRaster raster = rasterOf(image);
    std::unique_ptr<matrix> m;
    {
        py::gil_scoped_release free;
        m = eightBitSpectrum(raster);
    }
    py::array_t<std::complex<double>> out({m->getRows(), m->getCols() / 2});
    std::memcpy(static_cast<void*>(out.mutable_data()), m->getData(), sizeof(double) * m->getRows() * m->getCols());
    return out;
}

py::dict method(const py::array& image, Method which)
{
    const GreyRaster raster = rasterOf(image);
    FitPoints points;
    double slope = 0, d = 0;
    std::vector<std::string> failures;
    {
        py::gil_scoped_release free;
        const std::unique_ptr<matrix> m = eightBitSpectrum(raster);
        d = fractalDimension(*m, which, [&](const std::string& message) { failures.push_back(message); }, &points,
                             &slope);
    }
    py::array_t<double> x(points.count), y(points.count);
    std::memcpy(x.mutable_data(), points.x + points.first, sizeof(double) * points.count);
    std::memcpy(y.mutable_data(), points.y + points.first, sizeof(double) * points.count);
    py::dict r;
    r["d"] = d;
    r["slope"] = slope;
    r["ln_threshold"] = x;
    r["ln_count"] = y;
    r["first"] = points.first;
    r["failed"] = !failures.empty();
    return r;
}

// A fit range (q_min, q_max) from Python, checked as --psd-range is.
std::pair<double, double> fitRangeOf(py::object fitRange)
{
    std::pair<double, double> range;
    try {
        range = fitRange.cast<std::pair<double, double>>();
    } catch (const py::cast_error&) {
        throw py::type_error("the fit range must be a pair of numbers (q_min, q_max), not " +
                             py::repr(fitRange).cast<std::string>());
    }
    if (!validFitRange(range.first, range.second))
        throw py::value_error("the fit range must have 0 < q_min < q_max <= 0.5 cycles per pixel, not " +
                              py::repr(fitRange).cast<std::string>());
    return range;
}

PsdOptions psdOptions(const std::string& window, py::object fitRange)
{
    PsdOptions options;
    if (window == "none") options.window = PsdOptions::Window::none;
    else if (window != "hann") throw py::value_error("window must be \"hann\" or \"none\", not \"" + window + "\"");
    if (!fitRange.is_none()) std::tie(options.fitMin, options.fitMax) = fitRangeOf(fitRange);
    return options;
}

py::dict psdDict(const PsdResult& p)
{
    py::dict r;
    r["d"] = p.dimension;
    r["d_low"] = p.dimensionLow;
    r["d_high"] = p.dimensionHigh;
    r["beta"] = p.beta;
    r["hurst"] = p.hurst;
    r["slope_std_error"] = p.slopeStdError;
    r["intercept"] = p.intercept;
    r["r2"] = p.r2;
    r["bins_fitted"] = p.binsFitted;
    r["fit_range"] = py::make_tuple(p.fitMin, p.fitMax);
    r["flags"] = py::tuple(py::cast(p.flags));
    r["flags_text"] = psdFlagsText(p);
    r["note"] = p.note;
    const auto n = static_cast<py::ssize_t>(p.bins.size());
    py::array_t<double> lnQ(n), lnPsd(n);
    py::array_t<long long> count(n);
    py::array_t<bool> fitted(n);
    for (py::ssize_t i = 0; i < n; ++i) {
        lnQ.mutable_data()[i] = p.bins[static_cast<std::size_t>(i)].lnQ;
        lnPsd.mutable_data()[i] = p.bins[static_cast<std::size_t>(i)].lnPsd;
        count.mutable_data()[i] = p.bins[static_cast<std::size_t>(i)].count;
        fitted.mutable_data()[i] = p.bins[static_cast<std::size_t>(i)].fitted;
    }
    r["ln_q"] = lnQ;
    r["ln_psd"] = lnPsd;
    r["count"] = count;
    r["fitted"] = fitted;
    return r;
}

py::dict whittleDict(const WhittleResult& w)
{
    py::dict r;
    r["d"] = w.dimension;
    r["d_low"] = w.dimensionLow;
    r["d_high"] = w.dimensionHigh;
    r["hurst"] = w.hurst;
    r["hurst_std_error"] = w.hurstStdError;
    r["aniso_ratio"] = w.anisoRatio;
    r["aniso_angle"] = w.anisoAngle;
    r["variance"] = w.variance;
    r["crossover"] = w.crossover;
    r["noise"] = w.noise;
    r["iterations"] = w.iterations;
    r["converged"] = w.converged;
    r["frequencies"] = w.frequencies;
    r["flags"] = py::tuple(py::cast(w.flags));
    r["flags_text"] = whittleFlagsText(w);
    return r;
}

py::dict whittleDimensionOf(const py::array& image)
{
    const GreyRaster raster = rasterOf(image);
    WhittleResult result;
    {
        py::gil_scoped_release free;
        result = whittleDimension(raster);
    }
    return whittleDict(result);
}

py::array dimensionMapOf_(const py::array& image, int window, int step)
{
    const GreyRaster raster = rasterOf(image);
    DimensionMap map;
    {
        py::gil_scoped_release free;
        map = dimensionMapOf(raster, window, step);
    }
    py::array_t<double> out(std::vector<py::ssize_t>{map.rows, map.columns});
    std::copy(map.d.begin(), map.d.end(), out.mutable_data());
    return std::move(out);
}

py::dict psdDimensionOf(const py::array& image, const std::string& window, py::object fitRange)
{
    const PsdOptions options = psdOptions(window, fitRange);
    const GreyRaster raster = rasterOf(image);
    PsdResult result;
    {
        py::gil_scoped_release free;
        result = psdDimension(raster, options);
    }
    return psdDict(result);
}

py::dict parametersDict(const SurfaceParameters& p)
{
    py::dict r;
    r["sa"] = p.sa;
    r["sq"] = p.sq;
    r["ssk"] = p.ssk;
    r["sku"] = p.sku;
    r["sz"] = p.sz;
    r["sdq"] = p.sdq;
    r["sdr"] = p.sdr;
    return r;
}

// A pixel size in metres: None (unknown), one number, or (dx, dy); each
// positive and finite.
PixelSize pixelSizeOf(py::object size)
{
    PixelSize s;
    if (size.is_none()) return s;
    if (py::isinstance<py::sequence>(size) && !py::isinstance<py::str>(size)) {
        const py::sequence pair = size;
        if (pair.size() != 2) throw py::value_error("pixel_size must be one length in metres, or two (dx, dy)");
        s.dx = pair[0].cast<double>();
        s.dy = pair[1].cast<double>();
    } else {
        s.dx = s.dy = size.cast<double>();
    }
    if (!(s.dx > 0 && s.dy > 0) || !std::isfinite(s.dx) || !std::isfinite(s.dy))
        throw py::value_error("pixel_size must be positive lengths in metres");
    return s;
}

double heightScaleOf(py::object scale)
{
    if (scale.is_none()) return 0;
    const double h = scale.cast<double>();
    if (!(h > 0) || !std::isfinite(h)) throw py::value_error("height_scale must be a positive length in metres");
    return h;
}

py::dict surfaceParametersOf_(const py::array& image, py::object pixelSize, py::object heightScale)
{
    const PixelSize size = pixelSizeOf(pixelSize);
    const double scale = heightScaleOf(heightScale);
    const GreyRaster raster = rasterOf(image);
    SurfaceParameters result;
    {
        py::gil_scoped_release free;
        result = surfaceParametersOf(raster, size.dx, size.dy, scale);
    }
    return parametersDict(result);
}

// One file as the rows orvane-batch writes, one dict per page.
// A fit range as wavelengths in metres, (shortest, longest); None for none.
std::pair<double, double> wavelengthsOf(py::object range)
{
    if (range.is_none()) return {0, 0};
    const py::sequence pair = range;
    if (pair.size() != 2) throw py::value_error("psd_wavelengths must be (shortest, longest) in metres");
    const double shortest = pair[0].cast<double>(), longest = pair[1].cast<double>();
    if (!(shortest > 0 && shortest < longest) || !std::isfinite(longest))
        throw py::value_error("psd_wavelengths must be (shortest, longest) in metres, 0 < shortest < longest");
    return {shortest, longest};
}

// A file name as Python gives names of the system's bytes (os.fsdecode):
// bytes that are not UTF-8 as surrogates, so that every name is kept and
// os.fsencode gives its bytes back.
py::str fileNameText(const std::string& name)
{
    return py::reinterpret_steal<py::str>(PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

py::list analyseFileRows(const std::string& path, bool psd, const std::string& window, py::object fitRange,
                         bool whittle, bool params, py::object pixelSize, py::object heightScale,
                         py::object wavelengths)
{
    FileAnalysisOptions options;
    options.psd = psd;
    options.whittle = whittle;
    options.psdOptions = psdOptions(window, fitRange);
    std::tie(options.shortestWavelength, options.longestWavelength) = wavelengthsOf(wavelengths);
    options.params = params;
    const PixelSize size = pixelSizeOf(pixelSize);
    options.pixelX = size.dx;
    options.pixelY = size.dy;
    options.heightScale = heightScaleOf(heightScale);
    FileAnalysis file;
    {
        py::gil_scoped_release free;
        file = analyseFile(path, options);
    }
    py::list rows;
    if (!file.error.empty()) {
        py::dict row;
        row["file"] = fileNameText(path);
        row["error"] = file.error;
        rows.append(row);
    }
    for (const PageAnalysis& page : file.pages) {
        py::dict row;
        row["file"] = fileNameText(page.name);
        if (!page.error.empty()) {
            row["error"] = page.error;
            rows.append(row);
            continue;
        }
        // The CSV's columns, from the row orvane-batch writes: numbers as
        // numbers, what is not known left out (NaN in the frame).
        for (const RowField& field : rowFields(page, RowColumns{psd, whittle, params})) {
            if (field.column == "file" || field.unknown) continue;
            if (field.number) row[field.column.c_str()] = field.value;
            else row[field.column.c_str()] = field.text;
        }
        std::string notes;
        for (const std::string& m : page.estimateFailures) notes += (notes.empty() ? "" : "; ") + m;
        if (!page.psdError.empty()) notes += (notes.empty() ? "" : "; ") + ("the spectral estimate failed: " + page.psdError);
        if (!page.whittleError.empty())
            notes += (notes.empty() ? "" : "; ") + ("the Whittle estimate failed: " + page.whittleError);
        if (!page.paramsError.empty())
            notes += (notes.empty() ? "" : "; ") + ("the surface parameters failed: " + page.paramsError);
        if (!notes.empty()) row["error"] = notes;
        rows.append(row);
    }
    return rows;
}

}  // namespace

PYBIND11_MODULE(_orvane, m)
{
    m.doc() = "The C++ core of the orvane package; use the functions of orvane itself.";
    m.attr("__version__") = ORVANE_VERSION;
    m.def("read_image", &readImage, py::arg("path"), py::arg("page") = py::none());
    m.def("spectrum", &spectrum, py::arg("image"));
    m.def("method1", [](const py::array& image) { return method(image, Method::one); }, py::arg("image"));
    m.def("method2", [](const py::array& image) { return method(image, Method::two); }, py::arg("image"));
    m.def("psd_dimension", &psdDimensionOf, py::arg("image"), py::arg("window") = "hann",
          py::arg("fit_range") = py::none());
    m.def("whittle_dimension", &whittleDimensionOf, py::arg("image"));
    m.def("dimension_map", &dimensionMapOf_, py::arg("image"), py::arg("window"), py::arg("step"));
    m.def("analyse_file", &analyseFileRows, py::arg("path"), py::arg("psd") = true, py::arg("psd_window") = "hann",
          py::arg("psd_range") = py::none(), py::arg("whittle") = false, py::arg("params") = false,
          py::arg("pixel_size") = py::none(), py::arg("height_scale") = py::none(),
          py::arg("psd_wavelengths") = py::none());
    m.def("check_wavelengths", [](py::object range) { wavelengthsOf(range); }, py::arg("psd_wavelengths"));
    m.def("cycles_of_wavelengths", [](py::object range, double dx, double dy) {
        const auto [shortest, longest] = wavelengthsOf(range);
        return cyclesOfWavelengths(shortest, longest, dx, dy, "pixel_size");
    }, py::arg("wavelengths"), py::arg("dx"), py::arg("dy"));
    m.def("surface_parameters", &surfaceParametersOf_, py::arg("image"), py::arg("pixel_size") = py::none(),
          py::arg("height_scale") = py::none());
    m.def("check_fit_range", [](py::object range) { fitRangeOf(range); }, py::arg("fit_range"));
    m.def("format_number", [](double v) { return FloatToStr(v); }, py::arg("value"));
    m.def("available_cores", &availableCores);
    m.def("set_transform_threads", &setTransformThreads, py::arg("threads"));
    m.def("transform_threads", &transformThreadsSetting);
}
