// Transformation: the stateful object of one location that ferrule.kestrel wraps.
//
// It holds a family's natural parameters (transformation parameters, mu, sigma), the
// rescaling constants scale and shift, and the search vector of the last fit, and answers
// with the stateless kernels of core/ and the fitting of optim/. Decoding a search vector
// (setParams, logDensity, logJacobian, negLogLik) leaves the object holding its natural
// parameters; a fit stores its best search vector and their decoding. Fits print their
// lines to the process's standard output and shuffled complex evolution draws from the
// process-wide engine.
//
// Two parameter vectors appear throughout:
//   search vector   the box coordinates the optimisers move in (startParams, lowerBounds,
//                   upperBounds, setParams, optimisedParams);
//   natural vector  transformation parameters, then mu, then sigma (setParams result,
//                   getDistributionParams).
// Both have numTransParams() + 2 entries.
#pragma once

#include <vector>

#include "core/censored_likelihood.hpp"
#include "core/families/registry.hpp"
#include "optim/fit_series.hpp"

namespace ferrule {

class Transformation {
public:
    double scale;           // multiplicative rescaling constant
    double shift;           // additive rescaling constant, applied before scale
    Vector optimisedParams; // search vector of the last fit; empty until one has run

    virtual double transformOne(double x) const = 0;
    virtual double invTransformOne(double y) const = 0;
    // Censored log-likelihood term of one value after decoding v into this object; the
    // value and both thresholds rescaled first when doRescale (the factor scale itself is
    // not part of the result).
    virtual double logDensity(const Vector &v, double x, double left, double right, bool doRescale) = 0;
    // Log Jacobian at one value after decoding v; 0 when the value is censored.
    virtual double logJacobian(const Vector &v, double x, double left, double right, bool doRescale) = 0;
    virtual int numTransParams() const = 0;
    virtual Vector startParams() const = 0;
    virtual Vector lowerBounds() const = 0;
    virtual Vector upperBounds() const = 0;
    // Decodes a search vector, stores the natural parameters and returns them.
    virtual Vector setParams(const Vector &q) = 0;
    virtual double logPrior() const = 0;
    Vector getScaleShift() const { return {scale, shift}; }
    virtual Vector getTransformationParams() const = 0;
    virtual Vector getDistributionParams() const = 0;

    // ---- rescaling and batch operations: element by element, order kept ----
    double rescaleOne(double x) const { return (x + shift) * scale; }
    double invRescaleOne(double y) const { return y / scale - shift; }
    Vector rescaleMany(Vector values) const;
    Vector invRescaleMany(Vector values) const;
    virtual Vector transformMany(Vector values) const = 0;
    virtual Vector invTransformMany(Vector values) const = 0;

    // ---- fitting objective: -(sum of censored terms + log prior when isMap) ----
    virtual double negLogLik(const Vector &v, const Vector &data, double left, double right, bool isMap) = 0;
    double logLik(const Vector &v, const Vector &data, double left, double right, bool isMap) {
        return -negLogLik(v, data, left, right, isMap);
    }

    // ---- fitting entry points; each prints its lines and returns the best search vector ----
    Vector optimParams(Vector data, bool doRescale, bool isMap, double leftCensThresh, double rightCensThresh);
    Vector optimParamsDE(Vector data, bool doRescale, bool isMap, double leftCensThresh, double rightCensThresh);
    Vector optimParamsSCE(Vector data, bool doRescale, bool isMap, int maxConverge, int maxEval, double leftCensThresh,
                          double rightCensThresh);

    // A fit in two halves, for loops that fit many locations at once: fitReport runs the
    // fit with this object's scale and shift and sends its lines to sink, changing nothing;
    // store keeps its result as a fit does.
    virtual FitReport fitReport(Vector data, FitSettings settings, MessageSink &sink) const = 0;
    void store(const FitReport &report) {
        setParams(report.result.params);
        optimisedParams = report.result.params;
    }

protected:
    Transformation(double scale, double shift) : scale(scale), shift(shift) {}
    // Objects are values and are never destroyed through a base pointer.
    ~Transformation() = default;
    Transformation(const Transformation &) = default;
    Transformation &operator=(const Transformation &) = default;

private:
    Vector fitAndStore(Vector data, FitSettings settings);
};

// The object of one family F (a kernel of core/families/): every operation calls the
// kernel directly, so batch maps and the likelihood loop make no virtual call per value.
template <class F> class FamilyTransformation : public Transformation {
public:
    using Kernel = F;
    using Params = typename F::Params;

    double transformOne(double x) const override { return F::forward(x, params_); }
    double invTransformOne(double y) const override { return F::inverse(y, params_); }
    double logDensity(const Vector &v, double x, double left, double right, bool doRescale) override;
    double logJacobian(const Vector &v, double x, double left, double right, bool doRescale) override;
    int numTransParams() const override { return static_cast<int>(F::kTransParams); }
    Vector startParams() const override { return {F::start.begin(), F::start.end()}; }
    Vector lowerBounds() const override { return {F::lower.begin(), F::lower.end()}; }
    Vector upperBounds() const override { return {F::upper.begin(), F::upper.end()}; }
    Vector setParams(const Vector &q) override;
    double logPrior() const override { return F::logPrior(params_); }
    Vector getTransformationParams() const override;
    Vector getDistributionParams() const override;
    Vector transformMany(Vector values) const override;
    Vector invTransformMany(Vector values) const override;
    double negLogLik(const Vector &v, const Vector &data, double left, double right, bool isMap) override;
    FitReport fitReport(Vector data, FitSettings settings, MessageSink &sink) const override;

    const Params &params() const { return params_; }

protected:
    FamilyTransformation(const Params &params, double scale, double shift)
        : Transformation(scale, shift), params_(params) {}

private:
    // Decodes v into this object, then places the (optionally rescaled) thresholds.
    ValueTerm<F, ExactNormalMass> decodeAt(const Vector &v, double left, double right, bool doRescale);

    Params params_;
};

extern template class FamilyTransformation<YeoJohnson>;
extern template class FamilyTransformation<LogSinh>;
extern template class FamilyTransformation<SinhAsinh>;
extern template class FamilyTransformation<JonesPewsey>;

class YeoJohnsonTransformation final : public FamilyTransformation<YeoJohnson> {
public:
    explicit YeoJohnsonTransformation(double lambda = 1.0, double scale = 1.0, double shift = 0.0)
        : FamilyTransformation({lambda, kUnsetParam, kUnsetParam}, scale, shift) {}
};

class LogSinhTransformation final : public FamilyTransformation<LogSinh> {
public:
    explicit LogSinhTransformation(double lambda = 1.0, double epsilon = 0.0, double scale = 1.0, double shift = 0.0)
        : FamilyTransformation({lambda, epsilon, kUnsetParam, kUnsetParam}, scale, shift) {}
};

class SinhAsinhTransformation final : public FamilyTransformation<SinhAsinh> {
public:
    explicit SinhAsinhTransformation(double delta = 1.0, double epsilon = 0.0, double scale = 1.0, double shift = 0.0)
        : FamilyTransformation({delta, epsilon, kUnsetParam, kUnsetParam}, scale, shift) {}
};

class JonesPewseyTransformation final : public FamilyTransformation<JonesPewsey> {
public:
    explicit JonesPewseyTransformation(double delta = 1.0, double epsilon = 0.0, double scale = 1.0, double shift = 0.0)
        : FamilyTransformation({delta, epsilon, kUnsetParam, kUnsetParam}, scale, shift) {}
};

// The forward maps with explicit parameters, as transform_one takes them.
inline double yeoJohnsonForward(double x, double lambda) { return YeoJohnson::forward(x, lambda); }
inline double logSinhForward(double x, double lambda, double epsilon) { return LogSinh::forward(x, lambda, epsilon); }
inline double sinhAsinhForward(double x, double delta, double epsilon) { return SinhAsinh::forward(x, delta, epsilon); }

} // namespace ferrule
