// The location loops of the kestrel grid classes: a fit of every location that is not
// masked, or a series map of every location, on OpenMP threads, committed in location
// order (optim/ordered_cells.hpp). Console output and results are exactly those of a
// serial loop: each location's lines are collected while it is fitted and written to
// standard output when it is committed; an error or an interrupt leaves the prefix of
// locations a serial loop would have finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "api/transformation.hpp"
#include "optim/ordered_cells.hpp"

namespace ferrule {

// A read-only rows x cols x n array of doubles with arbitrary byte strides.
struct StridedCube {
    const char *data;
    std::ptrdiff_t strides[3];
    std::size_t shape[3];

    double at(std::size_t r, std::size_t c, std::size_t k) const {
        return *reinterpret_cast<const double *>(data + static_cast<std::ptrdiff_t>(r) * strides[0] +
                                                 static_cast<std::ptrdiff_t>(c) * strides[1] +
                                                 static_cast<std::ptrdiff_t>(k) * strides[2]);
    }

    std::vector<double> series(std::size_t r, std::size_t c) const {
        std::vector<double> out(shape[2]);
        for (std::size_t k = 0; k < shape[2]; ++k) {
            out[k] = at(r, c, k);
        }
        return out;
    }
};

// Asked on the calling thread before a location is committed; true stops the loop there.
using StopBeforeLocation = bool (*)(void *context);

// Fits every location v (row-major over the cube's first two axes) with skip[v] false,
// thresholds left[v] and right[v]. Shuffled complex evolution draws from the process-wide
// stream in location order, so it always runs on one thread. Returns the number of
// locations committed; rethrows the error of the first failed location after committing
// the ones before it.
template <class T>
std::size_t fitLocations(std::vector<T> &transforms, const StridedCube &values, const std::vector<double> &left,
                         const std::vector<double> &right, const std::vector<bool> &skip, FitSettings settings,
                         int threads, StopBeforeLocation stop, void *context) {
    struct Slot {
        FitReport report;
        CollectingSink lines;
        std::exception_ptr error;
    };
    const std::size_t count = transforms.size();
    const std::size_t cols = values.shape[1];
    std::vector<Slot> slots(count);
    if (settings.method == Method::ShuffledComplexEvolution) {
        threads = 1;
    }
    const auto work = [&](std::size_t v) {
        if (skip[v]) {
            return;
        }
        Slot &slot = slots[v];
        try {
            FitSettings located = settings;
            located.left = left[v];
            located.right = right[v];
            slot.report = transforms[v].fitReport(values.series(v / cols, v % cols), located, slot.lines);
        } catch (...) {
            slot.error = std::current_exception();
        }
    };
    std::exception_ptr error;
    const auto commit = [&](std::size_t v) {
        if (skip[v]) {
            return true;
        }
        if (stop != nullptr && stop(context)) {
            return false;
        }
        Slot &slot = slots[v];
        if (slot.error) {
            error = slot.error;
            return false;
        }
        StdoutSink console;
        for (const std::string &line : slot.lines.lines) {
            console.line(line);
        }
        transforms[v].store(slot.report);
        slot = Slot{}; // the location's results are in its object now
        return true;
    };
    const std::size_t committed = runOrderedCells(count, threads, work, commit);
    if (error) {
        std::rethrow_exception(error);
    }
    return committed;
}

// The element-wise maps of the grid series methods.
enum class SeriesMap { Transform, InverseTransform, Rescale, InverseRescale };

// out[v * n + k] = map of values[r, c, k] with the parameters of location v, for every
// location; `out` is C-contiguous rows x cols x n. Every element is independent, so the
// result is the same for any thread count; stop is asked between locations.
template <class T>
std::size_t mapLocations(const std::vector<T> &transforms, SeriesMap map, const StridedCube &values, double *out,
                         int threads, StopBeforeLocation stop, void *context) {
    const std::size_t cols = values.shape[1];
    const std::size_t n = values.shape[2];
    const auto work = [&](std::size_t v) {
        const T &t = transforms[v];
        double *row = out + v * n;
        const std::size_t r = v / cols;
        const std::size_t c = v % cols;
        for (std::size_t k = 0; k < n; ++k) {
            const double x = values.at(r, c, k);
            switch (map) {
            case SeriesMap::Transform:
                row[k] = t.transformOne(x);
                break;
            case SeriesMap::InverseTransform:
                row[k] = t.invTransformOne(x);
                break;
            case SeriesMap::Rescale:
                row[k] = t.rescaleOne(x);
                break;
            case SeriesMap::InverseRescale:
                row[k] = t.invRescaleOne(x);
                break;
            }
        }
    };
    const auto commit = [&](std::size_t) { return stop == nullptr || !stop(context); };
    return runOrderedCells(transforms.size(), threads, work, commit);
}

} // namespace ferrule
