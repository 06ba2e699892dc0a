// Loading orvane-batch's drawing module from beside the program.
#include "app/drawing.h"

#include "pictures/files.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>

namespace {

// The folder of the running program, with its closing slash; empty when the
// system cannot tell.
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string program(path, static_cast<std::size_t>(n));
    const auto slash = program.find_last_of('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

}  // namespace

DrawingModule::DrawingModule(int& argc, char** argv)
{
    const std::string path = programFolder() + "orvane-batch-drawing.so";
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        throw std::runtime_error("plots and maps are drawn by " + path + ", which cannot be loaded: " +
                                 (why ? why : "unknown reason") + " (Qt 6's Gui and Svg libraries are needed for them)");
    }
    using Entry = const BatchDrawing* (*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(handle, "orvaneBatchDrawing"));
    if (!entry) {
        ::dlclose(handle);
        throw std::runtime_error(path + " is not orvane-batch's drawing module");
    }
    drawing = entry();
    drawing->start(argc, argv);
}

DrawingModule::~DrawingModule()
{
    drawing->finish();
    // Left loaded: Qt's libraries register handlers that run at exit.
}

namespace {

// Writes a plot's bytes, the failure naming the file.
template <class Make>
void writePlot(const std::string& path, Make&& make)
{
    try {
        writeFileAtomically(path, make());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot write the plot to \"" + displayFileName(path) + "\": " + e.what());
    }
}

}  // namespace

void DrawingModule::savePlotsSvg(const std::vector<PlotData>& plots, int width, int height,
                                 const std::string& path) const
{
    writePlot(path, [&] { return drawing->plotsSvg(plots, width, height); });
}

void DrawingModule::saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values,
                                     double low, double high) const
{
    // The map's writer (imaging/road.h) names the file.
    writeFileAtomically(path, drawing->colourMapPng(columns, rows, values, low, high));
}
