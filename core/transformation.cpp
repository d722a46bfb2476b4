#include "core/transformation.hpp"

#include <limits>
#include <utility>

namespace ferrule {

namespace {
// What the censored terms of one value need: the decoded natural vector, the value and
// the transformed thresholds. Value and thresholds are rescaled when asked; the
// derivative of the rescaling itself (the factor scale) is not part of either result.
struct OneValue {
    Vector p;
    double y, x, tL, tR;
};

OneValue prepareValue(Transformation &t, const Vector &v, double x, double left, double right, bool doRescale) {
    Vector p = t.setParams(v);
    if (doRescale) {
        x = t.rescaleOne(x);
        left = t.rescaleOne(left);
        right = t.rescaleOne(right);
    }
    double tL = t.transformOne(left);
    double tR = t.transformOne(right);
    const double y = t.transformForCensoring(x, left, right, tL, tR);
    if (!(tL < y && y < tR) && Transformation::roundsOntoThreshold(x, y, left, right)) {
        tL = -std::numeric_limits<double>::infinity();
        tR = std::numeric_limits<double>::infinity();
    }
    return {std::move(p), y, x, tL, tR};
}
} // namespace

double Transformation::logDensity(const Vector &v, double x, double left, double right, bool doRescale) {
    const OneValue o = prepareValue(*this, v, x, left, right, doRescale);
    return censoredLogDensity(o.p, o.y, o.x, o.tL, o.tR);
}

double Transformation::logJacobian(const Vector &v, double x, double left, double right, bool doRescale) {
    const OneValue o = prepareValue(*this, v, x, left, right, doRescale);
    return censoredLogJacobian(o.p, o.y, o.x, o.tL, o.tR);
}

Vector Transformation::getScaleShift() const { return {scale, shift}; }

namespace {
// Batch operations: the argument is the caller's copy (or a moved-in vector), so it is
// mapped in place, in index order, and handed back without a second allocation.
template <class Map> Vector mapEach(Vector values, Map map) {
    for (double &value : values) {
        value = map(value);
    }
    return values;
}
} // namespace

Vector Transformation::rescaleMany(Vector values) const {
    return mapEach(std::move(values), [this](double x) { return rescaleOne(x); });
}

Vector Transformation::invRescaleMany(Vector values) const {
    return mapEach(std::move(values), [this](double y) { return invRescaleOne(y); });
}

Vector Transformation::transformMany(Vector values) const {
    return mapEach(std::move(values), [this](double x) { return transformOne(x); });
}

Vector Transformation::invTransformMany(Vector values) const {
    return mapEach(std::move(values), [this](double y) { return invTransformOne(y); });
}

} // namespace ferrule
