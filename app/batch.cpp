// orvane-batch: the window's analysis road on many files, without a display.
#include "app/memory.h"
#include "app/ordered_run.h"
#include "app/output_names.h"
#include "imaging/convert.h"
#include "imaging/road.h"
#include "toolkit/numbertext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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
    "                  it, as an 8-bit grey BMP: DIR/<name>-spectrum.bmp.  DIR is\n"
    "                  made if need be.  Files that share a name get the folders\n"
    "                  that tell them apart in front (DIR/d1_x-spectrum.bmp), and\n"
    "                  one file named twice a number (DIR/x-2-spectrum.bmp).\n"
    "  --jobs N        analyse N files at once (default: the number of cores, fewer\n"
    "                  when the memory available would not hold that many of the\n"
    "                  largest picture given; a file that runs out of memory beside\n"
    "                  others is analysed again on its own)\n"
    "  --help          show this text\n"
    "\n"
    "Rows are written as they are done, in the order given.  A file that cannot be\n"
    "read, analysed or written gets one line on standard error and no row; the\n"
    "others go on.  A failed estimate (the window's \"PALANT!!!\") is also\n"
    "reported on standard error.  Exit status: 0 when every file succeeded, 1 when\n"
    "any failed or the results could not be written, 2 for a usage error or a\n"
    "spectrum folder that cannot be used.\n";

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
    bool outOfMemory = false;
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

// `spectrumFile`: where the spectrum picture goes, empty for none.
Result analyse(const std::string& file, const std::string& spectrumFile)
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

        if (!spectrumFile.empty()) {
            TBitmap shown;
            renderSpectrum(&shown, spectrumDisplayMode, spectrumDisplayScale, spectrum.get());
            shown.SaveToFile(spectrumFile);
        }
    } catch (const std::bad_alloc&) {
        fail("not enough memory");
        result.outOfMemory = true;
    } catch (const std::exception& e) {
        fail(e.what());
    }
    // A file counts whole or not at all: no row for a file whose picture
    // could not be written.
    if (result.failed) {
        result.row.clear();
        result.points.clear();
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
                if (value.empty()) {
                    std::cerr << "orvane-batch: --spectrum needs a folder name\n";
                    return false;
                }
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

// Standard output and error as the system gives them, every write checked.
class Output {
public:
    // Writes and flushes; false (after saying why on standard error) when
    // the text could not be written.
    bool write(const std::string& text)
    {
        if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return true;
        const int error = errno;
        clearProgress();
        std::cerr << "orvane-batch: cannot write the results to standard output: "
                  << std::system_category().message(error) << "\n";
        return false;
    }

    void error(const std::string& lines)
    {
        if (lines.empty()) return;
        clearProgress();
        std::cerr << lines << std::flush;
    }

    // "3 of 5 files" on standard error while it is a terminal, overwritten
    // in place and never mixed into the results.
    void progress(std::size_t done, std::size_t total)
    {
        if (!terminal) return;
        std::cerr << "\r\033[Korvane-batch: " << done << " of " << total << " files done" << std::flush;
        shown = true;
    }

    void clearProgress()
    {
        if (shown) std::cerr << "\r\033[K" << std::flush;
        shown = false;
    }

private:
    bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool shown = false;
};

// A standard stream that was closed is opened on /dev/null, so that no file
// opened later takes its number: results written to a closed standard output
// then fail visibly instead of landing in a picture file.
void keepStandardStreamsTaken()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        const int opened = ::open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

// Makes the spectrum folder (with its parents) if need be and checks that
// pictures can be written there; false after saying why.
bool prepareFolder(const std::string& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (!error && !std::filesystem::is_directory(dir, error)) error = std::make_error_code(std::errc::not_a_directory);
    if (!error && ::access(dir.c_str(), W_OK | X_OK) != 0) error = std::error_code(errno, std::system_category());
    if (!error) return true;
    std::cerr << "orvane-batch: cannot write spectrum pictures to '" << dir << "': " << error.message() << "\n";
    return false;
}

// Files analysed at once when --jobs is not given: one per core, but no more
// than the memory available holds for the largest picture given.
int defaultJobs(const std::vector<std::string>& files)
{
    std::uint64_t largest = 0;
    for (const std::string& file : files) {
        TPictureSize size{};
        if (ReadPictureSize(file, size)) largest = std::max(largest, analysisBytes(size.width, size.height));
    }
    // Each job also has its thread's stack and allocator arena.
    constexpr std::uint64_t perJob = 64u << 20;
    const std::uint64_t fits = availableMemory() / (largest + perJob);
    return static_cast<int>(std::clamp<std::uint64_t>(fits, 1, static_cast<std::uint64_t>(availableCores())));
}

}  // namespace

int main(int argc, char** argv)
{
    keepStandardStreamsTaken();
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        std::cerr << "Try 'orvane-batch --help'.\n";
        return 2;
    }
    Output out;
    if (help) return out.write(usage) ? 0 : 1;
    if (!options.spectrumDir.empty() && !prepareFolder(options.spectrumDir)) return 2;

    const std::vector<std::string>& files = options.files;
    std::vector<std::string> spectrumFiles(files.size());
    if (!options.spectrumDir.empty()) {
        const std::vector<std::string> stems = distinctStems(files);
        for (std::size_t i = 0; i < files.size(); ++i)
            spectrumFiles[i] = options.spectrumDir + "/" + stems[i] + "-spectrum.bmp";
    }

    const int jobs = std::min<int>(options.jobs > 0 ? options.jobs : defaultJobs(files), static_cast<int>(files.size()));
    // Files share the cores; a lone file gets them all inside the transform.
    if (jobs > 1) setTransformThreads(1);

    if (!out.write("file,width,height,padded_width,padded_height,d1,d2\n")) return 1;
    std::vector<Result> results(files.size());
    bool anyFailed = false;
    bool written = true;
    OrderedRun run;
    run.tasks = files.size();
    run.threads = jobs;
    run.run = [&](std::size_t i, bool alone) {
        if (alone && jobs > 1) setTransformThreads(0);
        results[i] = analyse(files[i], spectrumFiles[i]);
        if (alone && jobs > 1) setTransformThreads(1);
        return results[i].outOfMemory && !alone ? TaskEnd::outOfMemory : TaskEnd::done;
    };
    run.emit = [&](std::size_t i) {
        Result& r = results[i];
        out.error(r.errors);
        anyFailed = anyFailed || r.failed;
        written = out.write(r.row);
        out.progress(i + 1, files.size());
        r.row.clear();
        r.errors.clear();
        return written;
    };
    runOrdered(run);
    out.clearProgress();
    if (!written) return 1;

    if (options.points) {
        std::string block = "\nfile,method,i,ln_threshold,ln_count\n";
        for (const Result& r : results) block += r.points;
        if (!out.write(block)) return 1;
    }
    return anyFailed ? 1 : 0;
}
