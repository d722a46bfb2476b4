#include "api/kernels.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "api/element_pieces.hpp"
#include "core/censored_likelihood.hpp"
#include "core/fit_facts.hpp"
#include "core/simd/vector_kernels.hpp"
#include "core/standard_normal.hpp"
#include "optim/ordered_cells.hpp"

namespace ferrule::kernels {

namespace {

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
    const simd::ParamMap map = simd::activeKernels().forward[static_cast<int>(family)];
    mapPieces(x, out, n, threads, [&](const double *in, double *o, std::size_t m) { map(t, in, o, m); });
}

void inverse(FamilyId family, const double *t, const double *y, double *out, std::size_t n, int threads) {
    const simd::ParamMap map = simd::activeKernels().inverse[static_cast<int>(family)];
    mapPieces(y, out, n, threads, [&](const double *in, double *o, std::size_t m) { map(t, in, o, m); });
}

void logJacobian(FamilyId family, const double *t, const double *x, double *out, std::size_t n, int threads) {
    const simd::ParamMap map = simd::activeKernels().logJacobian[static_cast<int>(family)];
    mapPieces(x, out, n, threads, [&](const double *in, double *o, std::size_t m) { map(t, in, o, m); });
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

FitFacts factsAt(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
                 bool isMap) {
    return withFamily(family, [&](auto kernel) {
        using F = decltype(kernel);
        const PreparedSeries series(Vector(data, data + n), left, right);
        return fitFacts<F, AccurateNormalMass>(series, q, isMap);
    });
}

void standardNormalCdf(const double *z, double *out, std::size_t n, int threads) {
    mapPieces(z, out, n, threads, simd::activeKernels().normalCdf);
}

void standardNormalLogCdf(const double *z, double *out, std::size_t n, int threads) {
    mapPieces(z, out, n, threads, simd::activeKernels().normalLogCdf);
}

void standardNormalQuantile(const double *p, double *out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = ferrule::standardNormalQuantile(p[i]);
    }
}

SeriesFit fit(FamilyId family, std::vector<double> data, const FitSettings &settings, Masses masses) {
    return withFamily(family, [&](auto kernel) {
        return withMasses(masses, [&](auto mass) {
            using F = decltype(kernel);
            CollectingSink sink;
            try {
                FitReport report = fitSeries<F, decltype(mass)>(std::move(data), settings, sink);
                return SeriesFit{std::move(report), std::move(sink.lines)};
            } catch (const FitStopped &) {
                return SeriesFit{FitReport{}, std::move(sink.lines), true};
            }
        });
    });
}

CellFits fitCells(FamilyId family, const double *values, std::size_t ncells, std::size_t n, const std::int64_t *lengths,
                  const double *left, const double *right, const std::uint8_t *skip, const double *scale,
                  const double *shift, const std::uint32_t *seeds, const FitSettings &settings, int threads,
                  StopCheck stop, void *context, const double *otherScale) {
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
            const double *series = values + i * n;
            cell.fit = fit(family, std::vector<double>(series, series + length), cellSettings);
            cell.scale = cellSettings.scale;
            if (otherScale != nullptr && !std::isnan(otherScale[i]) && otherScale[i] != cellSettings.scale) {
                FitSettings other = cellSettings;
                other.scale = otherScale[i];
                cell.other = fit(family, std::vector<double>(series, series + length), other);
                cell.otherScale = other.scale;
            }
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
