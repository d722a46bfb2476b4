// Transformation: the abstract base of the four normalising transformations.
//
// One object describes one location: a monotone map of a scalar value with one or
// two transformation parameters, the location mu and scale sigma of the normal
// distribution the transformed values are fitted to, and the rescaling constants
// scale and shift that take raw values into the range the map is applied in.
//
// Two parameter vectors appear throughout:
//   search vector   the box-bounded coordinates the optimisers move in (startParams,
//                   lowerBounds, upperBounds, setParams, optimisedParams);
//   natural vector  transformation parameters, then mu, then sigma (setParams result,
//                   getDistributionParams).
// Both have numTransParams() + 2 entries.
#pragma once

#include <vector>

namespace ferrule {

using Vector = std::vector<double>;

// mu and sigma hold this value until a fit or a decoded search vector sets them.
inline constexpr double kUnsetParam = -9999.0;

class Transformation {
public:
    double scale;           // multiplicative rescaling constant
    double shift;           // additive rescaling constant, applied before scale
    Vector optimisedParams; // search vector of the last fit; empty until one has run

    // ---- virtual interface (order is part of the design) ----
    virtual double transformOne(double x) const = 0;
    virtual double invTransformOne(double y) const = 0;
    // Censored log-likelihood term of one value after decoding v into this object.
    virtual double logDensity(const Vector &v, double x, double left, double right, bool doRescale);
    // Log Jacobian at one value after decoding v; 0 when the value is censored.
    virtual double logJacobian(const Vector &v, double x, double left, double right, bool doRescale);
    virtual int numTransParams() const = 0;
    virtual Vector startParams() const = 0;
    virtual Vector lowerBounds() const = 0;
    virtual Vector upperBounds() const = 0;
    // Decodes a search vector, stores the natural parameters and returns them.
    virtual Vector setParams(const Vector &q) = 0;
    virtual double logPrior() const = 0;
    virtual Vector getScaleShift() const;
    virtual Vector getTransformationParams() const = 0;
    virtual Vector getDistributionParams() const = 0;
    // y = T(x), tL and tR the transformed thresholds; p the natural vector. Uncensored
    // when tL < y < tR; otherwise left-censored when y <= tL, else right-censored, and a
    // censored value's term depends on its side alone, not on y or x (negLogLik relies
    // on this).
    virtual double censoredLogDensity(const Vector &p, double y, double x, double tL, double tR) const = 0;
    virtual double censoredLogJacobian(const Vector &p, double y, double x, double tL, double tR) const = 0;

    // ---- rescaling and batch operations ----
    double rescaleOne(double x) const { return (x + shift) * scale; }
    double invRescaleOne(double y) const { return y / scale - shift; }
    Vector rescaleMany(Vector values) const;
    Vector invRescaleMany(Vector values) const;
    Vector transformMany(Vector values) const;
    Vector invTransformMany(Vector values) const;

    // Transformed value for the censoring tests. A value beyond a threshold where the map
    // is undefined (log-sinh with lambda x + epsilon < 0 gives NaN) is censored at that
    // threshold, as the fits announce, instead of falling through to the right-censored
    // branch as NaN; everywhere else this is transformOne(x).
    double transformForCensoring(double x, double left, double right, double tL, double tR) const {
        const double y = transformOne(x);
        if (y != y) {
            if (x < left) {
                return tL;
            }
            if (x > right) {
                return tR;
            }
        }
        return y;
    }

    // A value strictly between the thresholds is never censored, even when its transform
    // rounds onto (or past) a transformed threshold: Yeo-Johnson with lambda < 0 maps +inf
    // to the finite -1/lambda, onto which large values round. Its term is then the
    // uncensored one at its y. A NaN y keeps the censoring rules.
    static bool roundsOntoThreshold(double x, double y, double left, double right) {
        return left < x && x < right && y == y;
    }

    // ---- fitting objective (likelihood.cpp) ----
    // -(sum of censored terms + log prior when isMap), terms summed in index order.
    double negLogLik(const Vector &v, const Vector &data, double left, double right, bool isMap);
    double logLik(const Vector &v, const Vector &data, double left, double right, bool isMap);

    // ---- fitting entry points (optim/fitting.cpp); each returns the best search vector ----
    Vector optimParams(Vector data, bool doRescale, bool isMap, double leftCensThresh, double rightCensThresh);
    Vector optimParamsDE(Vector data, bool doRescale, bool isMap, double leftCensThresh, double rightCensThresh);
    Vector optimParamsSCE(Vector data, bool doRescale, bool isMap, int maxConverge, int maxEval, double leftCensThresh,
                          double rightCensThresh);

protected:
    Transformation(double scale, double shift) : scale(scale), shift(shift) {}
    // Objects are values and are never destroyed through a base pointer.
    ~Transformation() = default;
    Transformation(const Transformation &) = default;
    Transformation &operator=(const Transformation &) = default;
};

} // namespace ferrule
