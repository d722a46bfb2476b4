// Yeo-Johnson power transformation; search vector {lambda, mu, log sigma}.
#pragma once

#include "core/transformation.hpp"

namespace ferrule {

// Forward map with an explicit power; transformOne calls this with the stored lambda.
double yeoJohnsonForward(double x, double lambda);

class YeoJohnsonTransformation final : public Transformation {
public:
    double lambda;
    double mu = kUnsetParam;
    double sigma = kUnsetParam;

    explicit YeoJohnsonTransformation(double lambda = 1.0, double scale = 1.0, double shift = 0.0)
        : Transformation(scale, shift), lambda(lambda) {}

    double transformOne(double x) const override;
    double invTransformOne(double y) const override;
    int numTransParams() const override { return 1; }
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

} // namespace ferrule
