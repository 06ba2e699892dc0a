// orvane-batch: the window's analysis road on many files, without a display.
#include "imaging/convert.h"
#include "imaging/road.h"
#include "toolkit/numbertext.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const usage =
    "Usage: orvane-batch [--points] [--spectrum DIR] [--jobs N] FILE...\n"
    "\n"
    "Estimates the fractal dimension of each BMP file exactly as the Orvane window\n"
    "does (PoliczFFT, then Metoda 1 and Metoda 2) and writes CSV to standard output:\n"
    "\n"
    "  file,width,height,padded_width,padded_height,d1,d2\n"
    "\n"
    "one row per file, in the order given; d1 and d2 are the texts the window shows\n"
    "in Edit1 and Edit2 (NAN where the estimate failed, INF or -INF for a slope of 0).\n"
    "\n"
    "  --points        after the table, an empty line and a second CSV block with the\n"
    "                  points of both fits: file,method,i,ln_threshold,ln_count\n"
    "                  (method 1: i = 0..9, method 2: i = 1..8)\n"
    "  --spectrum DIR  also write each file's magnitude spectrum, as the window shows\n"
    "                  it, as an 8-bit grey BMP: DIR/<name>-spectrum.bmp\n"
    "  --jobs N        analyse N files at once (default: the number of cores)\n"
    "  --help          show this text\n"
    "\n"
    "A file that cannot be read or analysed gets one line on standard error and no\n"
    "row; the others go on. A failed estimate (the window's \"PALANT!!!\") is also\n"
    "reported on standard error. Exit status: 0 when every file succeeded, 1 when\n"
    "any failed, 2 for a usage error.\n";

struct Options {
    bool points = false;
    std::string spectrumDir;
    int jobs = 0;
    std::vector<std::string> files;
};

struct Result {
    std::string row;         // empty when the file failed
    std::string points;      // the file's lines of the points block
    std::string errors;      // lines for standard error
    bool failed = false;
};

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string spectrumFileName(const std::string& dir, const std::string& file)
{
    std::string name = file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return dir + "/" + name + "-spectrum.bmp";
}

Result analyse(const std::string& file, const Options& options)
{
    Result result;
    auto fail = [&](const std::string& reason) {
        result.errors += "orvane-batch: " + file + ": " + reason + "\n";
        result.failed = true;
    };
    try {
        TBitmap bitmap;
        loadGreyBitmap(bitmap, file);
        const int width = bitmap.GetWidth();
        const int height = bitmap.GetHeight();
        const std::unique_ptr<matrix> spectrum = centredSpectrum(bitmap);

        std::string d[2];
        FitPoints points[2];
        for (int k = 0; k < 2; ++k) {
            const Method method = k == 0 ? Method::one : Method::two;
            const Notifier notify = [&, k](const std::string& message) {
                result.errors += "orvane-batch: " + file + ": " + message + " (the Metoda " + std::to_string(k + 1) +
                                 " estimate failed)\n";
            };
            d[k] = FloatToStr(fractalDimension(*spectrum, method, notify, &points[k]));
        }
        std::ostringstream row;
        row << csvField(file) << ',' << width << ',' << height << ',' << spectrum->getCols() / 2 << ','
            << spectrum->getRows() << ',' << d[0] << ',' << d[1] << '\n';
        result.row = row.str();
        for (int k = 0; k < 2; ++k)
            for (int i = points[k].first; i < points[k].first + points[k].count; ++i)
                result.points += csvField(file) + "," + std::to_string(k + 1) + "," + std::to_string(i) + "," +
                                 FloatToStr(points[k].x[i]) + "," + FloatToStr(points[k].y[i]) + "\n";

        if (!options.spectrumDir.empty()) {
            TBitmap shown;
            renderSpectrum(&shown, spectrumDisplayMode, spectrumDisplayScale, spectrum.get());
            try {
                shown.SaveToFile(spectrumFileName(options.spectrumDir, file));
            } catch (const std::exception& e) {
                fail(e.what());
            }
        }
    } catch (const std::bad_alloc&) {
        fail("not enough memory");
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return result;
}

// Parses the command line; returns false (after saying why) on a usage error.
bool parse(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--points") {
            options.points = true;
        } else if (arg == "--spectrum" || arg == "--jobs") {
            if (i + 1 >= argc) {
                std::cerr << "orvane-batch: " << arg << " needs a value\n";
                return false;
            }
            const std::string value = argv[++i];
            if (arg == "--spectrum") {
                options.spectrumDir = value;
            } else {
                char* end = nullptr;
                const long jobs = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || jobs < 1 || jobs > 1024) {
                    std::cerr << "orvane-batch: --jobs needs a whole number from 1 to 1024, not '" << value << "'\n";
                    return false;
                }
                options.jobs = static_cast<int>(jobs);
            }
        } else if (arg == "--") {
            for (++i; i < argc; ++i) options.files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "orvane-batch: unknown option " << arg << "\n";
            return false;
        } else {
            options.files.push_back(arg);
        }
    }
    if (!help && options.files.empty()) {
        std::cerr << "orvane-batch: no files given\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        std::cerr << "Try 'orvane-batch --help'.\n";
        return 2;
    }
    if (help) {
        std::cout << usage;
        return 0;
    }

    const int cores = availableCores();
    const int jobs = std::min<int>(options.jobs > 0 ? options.jobs : cores, static_cast<int>(options.files.size()));
    // Files share the cores; a lone file gets them all inside the transform.
    if (jobs > 1) setTransformThreads(1);

    std::vector<Result> results(options.files.size());
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < options.files.size();) results[i] = analyse(options.files[i], options);
    };
    std::vector<std::thread> threads;
    for (int j = 1; j < jobs; ++j) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();

    bool anyFailed = false;
    std::cout << "file,width,height,padded_width,padded_height,d1,d2\n";
    for (const Result& r : results) {
        std::cout << r.row;
        std::cerr << r.errors;
        anyFailed = anyFailed || r.failed;
    }
    if (options.points) {
        std::cout << "\nfile,method,i,ln_threshold,ln_count\n";
        for (const Result& r : results) std::cout << r.points;
    }
    std::cout.flush();
    return anyFailed ? 1 : 0;
}
