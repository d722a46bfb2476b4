#include "api/kernels.hpp"

#include <stdexcept>
#include <utility>

#include "core/censored_likelihood.hpp"
#include "core/standard_normal.hpp"
#include "optim/ordered_cells.hpp"

namespace ferrule::kernels {

namespace {

// Below this many elements a map runs on one thread: starting the others costs more.
constexpr std::size_t kParallelFrom = 1 << 15;

template <class Map> void mapElements(const double *in, double *out, std::size_t n, int threads, Map map) {
    const auto count = static_cast<long long>(n);
    if (threads > 1 && n >= kParallelFrom) {
#pragma omp parallel for schedule(static) num_threads(threads)
        for (long long i = 0; i < count; ++i) {
            out[i] = map(in[i]);
        }
    } else {
        for (long long i = 0; i < count; ++i) {
            out[i] = map(in[i]);
        }
    }
}

// Calls visit(Policy{}) with the likelihood policy that `masses` names.
template <class Visit> decltype(auto) withMasses(Masses masses, Visit &&visit) {
    if (masses == Masses::Exact) {
        return visit(ExactNormalMass{});
    }
    return visit(AccurateNormalMass{});
}

} // namespace

FamilyId familyByKey(const std::string &key) {
    for (const FamilyId id : kFamilies) {
        if (familyInfo(id).key == key) {
            return id;
        }
    }
    throw std::invalid_argument("unknown family '" + key + "'");
}

std::size_t parameterCount(FamilyId family) {
    return withFamily(family, [](auto kernel) { return decltype(kernel)::kParams; });
}

void forward(FamilyId family, const double *t, const double *x, double *out, std::size_t n, int threads) {
    withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const typename F::Params p = F::withTransformation(t);
        mapElements(x, out, n, threads, [&p](double v) { return F::forward(v, p); });
    });
}

void inverse(FamilyId family, const double *t, const double *y, double *out, std::size_t n, int threads) {
    withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const typename F::Params p = F::withTransformation(t);
        mapElements(y, out, n, threads, [&p](double v) { return F::inverse(v, p); });
    });
}

void logJacobian(FamilyId family, const double *t, const double *x, double *out, std::size_t n) {
    withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const typename F::Params p = F::withTransformation(t);
        mapElements(x, out, n, 1, [&p](double v) { return F::mapLogJacobian(v, p); });
    });
}

void decode(FamilyId family, const double *q, double *natural) {
    withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const auto values = F::natural(F::decode(q));
        std::copy(values.begin(), values.end(), natural);
    });
}

double logLikelihood(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
                     bool isMap, Masses masses) {
    return withFamily(family, [&](auto kernel) {
        return withMasses(masses, [&](auto mass) {
            using F = decltype(kernel);
            const PreparedSeries series(Vector(data, data + n), left, right);
            return CensoredLikelihood<F, decltype(mass)>(series, isMap).logLik(q);
        });
    });
}

void censoring(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
               std::int8_t *out) {
    withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const ValueTerm<F, AccurateNormalMass> at(F::decode(q), left, right);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<std::int8_t>(at.side(data[i]));
        }
    });
}

void standardNormalCdf(const double *z, double *out, std::size_t n) {
    mapElements(z, out, n, 1, [](double v) { return ferrule::standardNormalCdf(v); });
}

void standardNormalLogCdf(const double *z, double *out, std::size_t n) {
    mapElements(z, out, n, 1, [](double v) { return ferrule::standardNormalLogCdf(v); });
}

void standardNormalQuantile(const double *p, double *out, std::size_t n) {
    mapElements(p, out, n, 1, [](double v) { return ferrule::standardNormalQuantile(v); });
}

SeriesFit fit(FamilyId family, std::vector<double> data, const FitSettings &settings, Masses masses) {
    return withFamily(family, [&](auto kernel) {
        return withMasses(masses, [&](auto mass) {
            using F = decltype(kernel);
            CollectingSink sink;
            FitReport report = fitSeries<F, decltype(mass)>(std::move(data), settings, sink);
            return SeriesFit{std::move(report), std::move(sink.lines)};
        });
    });
}

CellFits fitCells(FamilyId family, const double *values, std::size_t ncells, std::size_t n, const std::int64_t *lengths,
                  const double *left, const double *right, const std::uint8_t *skip, const double *scale,
                  const double *shift, const std::uint32_t *seeds, const FitSettings &settings, int threads,
                  StopCheck stop, void *context) {
    CellFits out;
    out.cells.resize(ncells);
    const auto work = [&](std::size_t i) {
        CellFit &cell = out.cells[i];
        if (skip != nullptr && skip[i] != 0) {
            cell.skipped = true;
            return;
        }
        try {
            FitSettings cellSettings = settings;
            cellSettings.left = left[i];
            cellSettings.right = right[i];
            cellSettings.scale = scale != nullptr ? scale[i] : 1.0;
            cellSettings.shift = shift != nullptr ? shift[i] : 0.0;
            if (seeds != nullptr) {
                cellSettings.seed = seeds[i];
            }
            const std::size_t length = lengths != nullptr ? static_cast<std::size_t>(lengths[i]) : n;
            cell.fit = fit(family, std::vector<double>(values + i * n, values + i * n + length), cellSettings);
        } catch (...) {
            cell.error = std::current_exception();
        }
    };
    std::exception_ptr error;
    const auto commit = [&](std::size_t i) {
        if (stop != nullptr && stop(context)) {
            out.stopped = true;
            return false;
        }
        if (out.cells[i].error) {
            error = out.cells[i].error;
            return false;
        }
        return true;
    };
    out.committed = runOrderedCells(ncells, threads, work, commit);
    if (error) {
        std::rethrow_exception(error);
    }
    return out;
}

} // namespace ferrule::kernels
