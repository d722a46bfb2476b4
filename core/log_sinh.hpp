// Log-sinh transformation y = (1/lambda) log(sinh(lambda x + epsilon));
// search vector {log lambda, log epsilon, mu/sigma, log sigma}.
#pragma once

#include "core/transformation.hpp"

namespace ferrule {

// Forward map with explicit parameters; transformOne calls this with the stored ones.
double logSinhForward(double x, double lambda, double epsilon);

class LogSinhTransformation final : public Transformation {
public:
    double lambda;
    double epsilon;
    double mu = kUnsetParam;
    double sigma = kUnsetParam;

    explicit LogSinhTransformation(double lambda = 1.0, double epsilon = 0.0, double scale = 1.0, double shift = 0.0)
        : Transformation(scale, shift), lambda(lambda), epsilon(epsilon) {}

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

} // namespace ferrule
