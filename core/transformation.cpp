#include "core/transformation.hpp"

namespace ferrule {

// Both views rescale value and thresholds when asked; the derivative of the
// rescaling itself (the factor scale) is not part of either result.
double Transformation::logDensity(const Vector &v, double x, double left, double right, bool doRescale) {
    const Vector p = setParams(v);
    if (doRescale) {
        x = rescaleOne(x);
        left = rescaleOne(left);
        right = rescaleOne(right);
    }
    const double tL = transformOne(left);
    const double tR = transformOne(right);
    return censoredLogDensity(p, transformForCensoring(x, left, right, tL, tR), x, tL, tR);
}

double Transformation::logJacobian(const Vector &v, double x, double left, double right, bool doRescale) {
    const Vector p = setParams(v);
    if (doRescale) {
        x = rescaleOne(x);
        left = rescaleOne(left);
        right = rescaleOne(right);
    }
    const double tL = transformOne(left);
    const double tR = transformOne(right);
    return censoredLogJacobian(p, transformForCensoring(x, left, right, tL, tR), x, tL, tR);
}

Vector Transformation::getScaleShift() const { return {scale, shift}; }

namespace {
// Batch operations: a fresh result of the input's length, filled in index order.
template <class Map> Vector mapEach(const Vector &values, Map map) {
    Vector out(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        out[i] = map(values[i]);
    }
    return out;
}
} // namespace

Vector Transformation::rescaleMany(Vector values) const {
    return mapEach(values, [this](double x) { return rescaleOne(x); });
}

Vector Transformation::invRescaleMany(Vector values) const {
    return mapEach(values, [this](double y) { return invRescaleOne(y); });
}

Vector Transformation::transformMany(Vector values) const {
    return mapEach(values, [this](double x) { return transformOne(x); });
}

Vector Transformation::invTransformMany(Vector values) const {
    return mapEach(values, [this](double y) { return invTransformOne(y); });
}

} // namespace ferrule
