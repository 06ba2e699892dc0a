// Local dimension maps (see dimension_map.h).
#include "analysis/dimension_map.h"

#include "analysis/fourier.h"
#include "analysis/psd_stages.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

template <class T>
DimensionMap dimensionMap(const T* values, int W, int H, int window, int step, const WhittleOptions& options)
{
    if (window < 16 || window > W || window > H)
        throw std::invalid_argument("the map's window of " + std::to_string(window) +
                                    " pixels must be at least 16 and fit in the " + std::to_string(W) + " x " +
                                    std::to_string(H) + " picture");
    if (step < 1) throw std::invalid_argument("the map's step must be at least one pixel");
    DimensionMap map;
    map.window = window;
    map.step = step;
    map.columns = (W - window) / step + 1;
    map.rows = (H - window) / step + 1;
    map.d.assign(static_cast<std::size_t>(map.columns) * static_cast<std::size_t>(map.rows), NAN);
    // Each thread takes the next window; each window's transforms keep to
    // its own thread.
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        try {
            std::vector<T> part(static_cast<std::size_t>(window) * static_cast<std::size_t>(window));
            for (std::size_t cell = next++; cell < map.d.size(); cell = next++) {
                const std::size_t x0 = (cell % static_cast<std::size_t>(map.columns)) * static_cast<std::size_t>(step);
                const std::size_t y0 = (cell / static_cast<std::size_t>(map.columns)) * static_cast<std::size_t>(step);
                for (int y = 0; y < window; ++y)
                    for (int x = 0; x < window; ++x)
                        part[static_cast<std::size_t>(y) * window + x] = values[(y0 + y) * static_cast<std::size_t>(W) + x0 + x];
                try {
                    map.d[cell] = estimateWhittleDimension(part.data(), window, window, options).dimension;
                } catch (const std::invalid_argument&) {
                    // a flat window, or one holding a value that is not finite: NaN
                }
            }
        } catch (...) {
            // Anything else (memory) ends the map, once every thread has stopped.
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) failure = std::current_exception();
            next = map.d.size();
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < availableCores(); ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads; the caller's does the rest
        }
    }
    work();
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
    return map;
}

#define ORVANE_MAP_TYPE(T) \
    template DimensionMap dimensionMap(const T*, int, int, int, int, const WhittleOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_MAP_TYPE)
#undef ORVANE_MAP_TYPE
