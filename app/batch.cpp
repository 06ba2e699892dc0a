// orvane-batch: the window's analysis road on many files, without a display.
#include "app/batch_options.h"
#include "app/drawing.h"
#include "app/memory.h"
#include "app/ordered_run.h"
#include "app/output_names.h"
#include "app/provenance.h"
#include "imaging/result_row.h"
#include "imaging/file_analysis.h"
#include "imaging/road.h"
#include "pictures/atomic_file.h"
#include "pictures/files.h"
#include "imaging/numbertext.h"
#include "pictures/picture.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <csignal>
#include <malloc.h>
#include <memory>
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
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

namespace {

struct Result {
    std::string row;         // empty when the file failed
    std::string json;        // the file's records for --json
    std::string points;      // the file's lines of the points block
    std::string errors;      // lines for standard error
    bool failed = false;      // the exit status tells
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

std::string fitPointLines(const std::string& name, int method, const FitPoints& fit, const std::string& tail)
{
    std::string lines;
    for (int i = fit.first; i < fit.first + fit.count; ++i)
        lines += csvField(name) + "," + std::to_string(method) + "," + std::to_string(i) + "," + FloatToStr(fit.x[i]) +
                 "," + FloatToStr(fit.y[i]) + tail;
    return lines;
}

// A file's rows, points and messages as text.
Result format(const FileAnalysis& file, const std::string& path, const BatchOptions& options)
{
    Result result;
    auto fail = [&](const std::string& name, const std::string& reason) {
        result.errors += "orvane-batch: " + name + ": " + reason + "\n";
        result.failed = true;
    };
    if (!file.error.empty()) fail(path, file.error);
    if (!file.error.empty() && !options.jsonFile.empty()) result.json += failureLine(path, file.error, options);
    for (const PageAnalysis& page : file.pages) {
        if (!page.error.empty()) {
            fail(page.name, page.error);
            if (!options.jsonFile.empty()) result.json += failureLine(page.name, page.error, options);
            continue;
        }
        if (!options.jsonFile.empty()) result.json += provenanceLine(page, options);
        for (const std::string& message : page.estimateFailures)
            result.errors += "orvane-batch: " + page.name + ": " + message + "\n";
        std::string row;
        for (const RowField& field : rowFields(page, rowColumns(options)))
            row += (field.column == "file" ? csvField(field.text) : "," + field.text);
        result.row += row + "\n";
        const PsdResult& psd = page.psd;
        // With --psd the points block has two more columns, empty for the methods.
        const std::string tail = options.psd ? ",,\n" : "\n";
        result.points += fitPointLines(page.name, 1, page.points1, tail) + fitPointLines(page.name, 2, page.points2, tail);
        for (std::size_t i = 0; page.psdDone && i < psd.bins.size(); ++i)
            result.points += csvField(page.name) + ",psd," + std::to_string(i) + "," + FloatToStr(psd.bins[i].lnQ) +
                             "," + FloatToStr(psd.bins[i].lnPsd) + "," + std::to_string(psd.bins[i].count) + "," +
                             (psd.bins[i].fitted ? "1" : "0") + "\n";
        if (!page.psdError.empty()) fail(page.name, "the spectral estimate failed: " + page.psdError);
        if (!page.whittleError.empty()) fail(page.name, "the Whittle estimate failed: " + page.whittleError);
        if (!page.mapError.empty()) fail(page.name, "the dimension map failed: " + page.mapError);
        if (!page.paramsError.empty()) fail(page.name, "the surface parameters failed: " + page.paramsError);
    }
    return result;
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

// The line that says the records file cannot be written, and why.
std::string recordsFailure(const std::string& path, const std::string& why)
{
    return "orvane-batch: cannot write the records to \"" + displayFileName(path) + "\": " + why + "\n";
}

// Makes an output folder (with its parents) if need be and checks that
// files can be written there; false after saying why.
bool prepareFolder(const std::string& dir, const std::string& what)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (!error && !std::filesystem::is_directory(dir, error)) error = std::make_error_code(std::errc::not_a_directory);
    if (!error && ::access(dir.c_str(), W_OK | X_OK) != 0) error = std::error_code(errno, std::system_category());
    if (!error) return true;
    std::cerr << "orvane-batch: cannot write " << what << " to '" << dir << "': " << error.message() << "\n";
    return false;
}

// Files analysed at once when --jobs is not given: one per core, but no more
// than the memory available holds for the largest picture given, with the
// estimates asked for.  A file whose header does not tell its size is taken
// as a picture of one double for every 8 bytes of the file.
int defaultJobs(const std::vector<std::string>& files, bool whittle)
{
    std::uint64_t largest = 0;
    for (const std::string& file : files) {
        long long width = 0, height = 0;
        struct stat info {};
        if (!readPictureSize(file, width, height) && ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            width = height = static_cast<long long>(std::ceil(std::sqrt(static_cast<double>(info.st_size) / 8)));
        if (width > 0 && height > 0) largest = std::max(largest, analysisBytes(width, height, whittle));
    }
    // Each job also has its thread's stack and allocator arena.
    constexpr std::uint64_t perJob = 64u << 20;
    const std::uint64_t fits = availableMemory() / (largest + perJob);
    return static_cast<int>(std::clamp<std::uint64_t>(fits, 1, static_cast<std::uint64_t>(availableCores())));
}

}  // namespace

namespace {

// The signal that asked the run to stop (SIGINT, SIGTERM or SIGHUP), 0
// while none has.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void askToStop(int signal)
{
    if (stopSignal != 0) {
        // Asked twice: stop at once, as without a handler, leaving no
        // temporary file and the records of the files done in place.
        settleTemporaryFilesNow();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    stopSignal = signal;
}

// Ctrl-C, kill and a closed terminal: no new file starts, the files in hand
// finish (so that their outputs are whole and no temporary file is left),
// their rows and records are written, and the run ends with 128 + the
// signal's number.  System calls the signal interrupts carry on.  A reader
// that goes away (`| head`) is a failed write, said and ended like any
// other, not a silent death by SIGPIPE.
void stopOnSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller ignores (nohup, a background job) stays ignored.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Pictures come one after another at the same sizes: memory freed by one
    // stays with the process for the next, instead of going back to the
    // system and coming back as fresh pages to fault in and clear.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // One allocator arena for every thread: memory a job frees is there for
    // the next, whichever thread runs it.  With an arena for each thread, a
    // file retried alone after running out of memory met the memory the
    // other jobs' threads had freed still held in theirs, and failed again.
    // The analysis allocates few, large blocks, so the threads seldom wait.
    mallopt(M_ARENA_MAX, 1);
    keepStandardStreamsTaken();
    stopOnSignals();
    BatchOptions options;
    if (!parseBatchOptions(argc, argv, options)) {
        std::cerr << "Try 'orvane-batch --help'.\n";
        return 2;
    }
    Output out;
    if (options.help) return out.write(batchUsage) ? 0 : 1;
    if (options.version) return out.write(std::string("orvane-batch ") + ORVANE_VERSION + "\n") ? 0 : 1;
    if (!options.spectrumDir.empty() && !prepareFolder(options.spectrumDir, "spectrum pictures")) return 2;
    if (!options.plotDir.empty() && !prepareFolder(options.plotDir, "plots")) return 2;
    if (!options.mapDir.empty() && !prepareFolder(options.mapDir, "maps")) return 2;
    // The records go to their file as rows are written, and it is put in
    // place at the end, whatever ends the run.
    std::unique_ptr<AtomicFile> records;
    if (!options.jsonFile.empty()) {
        try {
            records = std::make_unique<AtomicFile>(options.jsonFile, AtomicFile::OnStop::keep);
        } catch (const std::runtime_error& e) {
            std::cerr << recordsFailure(options.jsonFile, e.what());
            return 2;
        }
    }
    std::unique_ptr<DrawingModule> drawing;
    if (!options.plotDir.empty() || !options.mapDir.empty()) {
        try {
            drawing = std::make_unique<DrawingModule>(argc, argv);
        } catch (const std::runtime_error& e) {
            std::cerr << "orvane-batch: " << e.what() << "\n";
            return 2;
        }
    }

    const std::vector<std::string>& files = options.files;
    // Per-file outputs share one set of distinct names.
    const std::vector<std::string> stems = distinctStems(files);
    auto stem = [&](const std::string& dir, std::size_t i) { return dir.empty() ? dir : dir + "/" + stems[i]; };

    const int jobs = std::min<int>(options.jobs > 0 ? options.jobs : defaultJobs(files, options.whittle), static_cast<int>(files.size()));
    // Files share the cores; a lone file gets them all inside the transform.
    if (jobs > 1) setTransformThreads(1);

    if (!out.write(rowHeader(rowColumns(options)) + "\n")) return 1;
    std::vector<Result> results(files.size());
    bool anyFailed = false;
    bool written = true;
    OrderedRun run;
    run.tasks = files.size();
    run.threads = jobs;
    run.run = [&](std::size_t i, bool alone) {
        if (alone && jobs > 1) {
            setTransformThreads(0);
            // What the others freed goes back to the system first, so that
            // a file retried after running out of memory finds it.
            malloc_trim(0);
        }
        FileAnalysisOptions analysis;
        analysis.psd = options.psd;
        analysis.psdOptions = options.psdOptions;
        analysis.whittle = options.whittle;
        analysis.shortestWavelength = options.shortestWavelength;
        analysis.longestWavelength = options.longestWavelength;
        analysis.params = options.params;
        analysis.pixelX = options.pixelX;
        analysis.pixelY = options.pixelY;
        analysis.heightScale = options.heightScale;
        analysis.mapStem = stem(options.mapDir, i);
        analysis.mapWindow = options.mapWindow;
        analysis.mapStep = options.mapStep;
        analysis.spectrumStem = stem(options.spectrumDir, i);
        analysis.plotStem = stem(options.plotDir, i);
        analysis.interrupted = [] { return stopSignal != 0; };
        if (drawing) {
            const DrawingModule* module = drawing.get();
            analysis.savePlots = [module](const std::vector<PlotData>& plots, int width, int height,
                                          const std::string& path) { module->savePlotsSvg(plots, width, height, path); };
            analysis.saveColourMap = [module](const std::string& path, int columns, int rows,
                                              const std::vector<double>& values, double low, double high) {
                module->saveColourMapPng(path, columns, rows, values, low, high);
            };
        }
        const FileAnalysis file = analyseFile(files[i], analysis);
        results[i] = format(file, files[i], options);
        if (alone && jobs > 1) setTransformThreads(1);
        return file.outOfMemory() && !alone ? TaskEnd::outOfMemory : TaskEnd::done;
    };
    std::size_t emitted = 0;
    bool recorded = true;
    run.emit = [&](std::size_t i) {
        ++emitted;
        Result& r = results[i];
        out.error(r.errors);
        anyFailed = anyFailed || r.failed;
        // The record first: a row seen on the screen has its record kept.
        if (records) {
            try {
                records->append(r.json);
            } catch (const std::runtime_error& e) {
                out.error(recordsFailure(options.jsonFile, e.what()));
                recorded = false;
            }
        }
        written = out.write(r.row);
        out.progress(i + 1, files.size());
        r.json.clear();
        r.row.clear();
        r.errors.clear();
        return written && recorded;
    };
    run.interrupted = [] { return stopSignal != 0; };
    runOrdered(run);
    out.clearProgress();
    // The records of every file done are kept, also when the results could
    // not be written to standard output.
    if (records && recorded) {
        try {
            records->commit();
        } catch (const std::runtime_error& e) {
            out.error(recordsFailure(options.jsonFile, e.what()));
            recorded = false;
        }
    }
    if (!written || !recorded) return 1;
    if (stopSignal != 0) {
        const char* by = stopSignal == SIGINT ? "an interrupt (SIGINT)" : stopSignal == SIGHUP ? "a hang-up (SIGHUP)" : "SIGTERM";
        out.error("orvane-batch: stopped by " + std::string(by) + " after " + std::to_string(emitted) + " of " +
                  std::to_string(files.size()) + " files\n");
    }

    if (options.points) {
        std::string block = std::string("\nfile,method,i,ln_threshold,ln_count") +
                            (options.psd ? ",psd_count,psd_fitted\n" : "\n");
        for (const Result& r : results) block += r.points;
        if (!out.write(block)) return 1;
    }
    if (stopSignal != 0) return 128 + stopSignal;
    return anyFailed ? 1 : 0;
}
