// Sinh-arcsinh map T(x) = sinh(delta asinh(x) + epsilon) and its two families:
//   SinhAsinhTransformation    T(x) is normal with mean mu and sd sigma;
//   JonesPewseyTransformation  x follows the sinh-arcsinh distribution with location
//                              mu and scale sigma, i.e. T((x - mu)/sigma) is standard normal.
// Search vector {delta/(1+delta), eps/sqrt(1+eps^2), mu/sqrt(1+mu^2), sigma/(sigma+delta)}.
//
// Both families derive directly from Transformation; one class template holds every
// shared operation and only the two likelihood terms depend on the density kind.
#pragma once

#include "core/transformation.hpp"

namespace ferrule {

// Forward map with explicit parameters; transformOne calls this with the stored ones.
double sinhAsinhForward(double x, double delta, double epsilon);

enum class SinhAsinhDensity {
    TransformedNormal, // normal density of T(x) times the Jacobian of T
    JonesPewsey,       // sinh-arcsinh density of the standardised raw value
};

template <SinhAsinhDensity Kind> class SinhAsinhFamily final : public Transformation {
public:
    double delta;
    double epsilon;
    double mu = kUnsetParam;
    double sigma = kUnsetParam;

    explicit SinhAsinhFamily(double delta = 1.0, double epsilon = 0.0, double scale = 1.0, double shift = 0.0)
        : Transformation(scale, shift), delta(delta), epsilon(epsilon) {}

    double transformOne(double x) const override;
    double invTransformOne(double y) const override;
    int numTransParams() const override { return 2; }
    Vector startParams() const override;
    Vector lowerBounds() const override;
    Vector upperBounds() const override;
    Vector setParams(const Vector &q) override;
    double logPrior() const override;
    Vector getTransformationParams() const override;
    Vector getDistributionParams() const override;
    double censoredLogDensity(const Vector &p, double y, double x, double tL, double tR) const override;
    double censoredLogJacobian(const Vector &p, double y, double x, double tL, double tR) const override;
};

extern template class SinhAsinhFamily<SinhAsinhDensity::TransformedNormal>;
extern template class SinhAsinhFamily<SinhAsinhDensity::JonesPewsey>;

using SinhAsinhTransformation = SinhAsinhFamily<SinhAsinhDensity::TransformedNormal>;
using JonesPewseyTransformation = SinhAsinhFamily<SinhAsinhDensity::JonesPewsey>;

} // namespace ferrule
