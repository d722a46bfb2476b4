#include "api/transformation.hpp"

#include <stdexcept>
#include <string>
#include <utility>

namespace ferrule {

namespace {
// The argument is the caller's copy (or a moved-in vector): it is mapped in place, in
// index order, and handed back without a second allocation.
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

Vector Transformation::fitAndStore(Vector data, FitSettings settings) {
    StdoutSink sink;
    const FitReport report = fitReport(std::move(data), settings, sink);
    store(report);
    return report.result.params;
}

namespace {
// The settings the three entry points share; the object's scale and shift come in later.
FitSettings entrySettings(Method method, bool doRescale, bool isMap, double left, double right) {
    FitSettings settings;
    settings.method = method;
    settings.rescale = doRescale;
    settings.isMap = isMap;
    settings.left = left;
    settings.right = right;
    return settings;
}
} // namespace

Vector Transformation::optimParams(Vector data, bool doRescale, bool isMap, double leftCensThresh,
                                   double rightCensThresh) {
    return fitAndStore(std::move(data),
                       entrySettings(Method::NelderMead, doRescale, isMap, leftCensThresh, rightCensThresh));
}

Vector Transformation::optimParamsDE(Vector data, bool doRescale, bool isMap, double leftCensThresh,
                                     double rightCensThresh) {
    return fitAndStore(std::move(data),
                       entrySettings(Method::DifferentialEvolution, doRescale, isMap, leftCensThresh, rightCensThresh));
}

Vector Transformation::optimParamsSCE(Vector data, bool doRescale, bool isMap, int maxConverge, int maxEval,
                                      double leftCensThresh, double rightCensThresh) {
    FitSettings settings =
        entrySettings(Method::ShuffledComplexEvolution, doRescale, isMap, leftCensThresh, rightCensThresh);
    settings.maxConverge = maxConverge;
    settings.maxEval = maxEval;
    return fitAndStore(std::move(data), settings);
}

template <class F>
ValueTerm<F, ExactNormalMass> FamilyTransformation<F>::decodeAt(const Vector &v, double left, double right,
                                                                bool doRescale) {
    setParams(v);
    if (doRescale) {
        left = rescaleOne(left);
        right = rescaleOne(right);
    }
    return ValueTerm<F, ExactNormalMass>(params_, left, right);
}

template <class F>
double FamilyTransformation<F>::logDensity(const Vector &v, double x, double left, double right, bool doRescale) {
    const ValueTerm<F, ExactNormalMass> at = decodeAt(v, left, right, doRescale);
    if (F::outOfRange(params_)) {
        return kOutOfRangeTerm;
    }
    return at.term(doRescale ? rescaleOne(x) : x);
}

template <class F>
double FamilyTransformation<F>::logJacobian(const Vector &v, double x, double left, double right, bool doRescale) {
    const ValueTerm<F, ExactNormalMass> at = decodeAt(v, left, right, doRescale);
    return at.logJacobian(doRescale ? rescaleOne(x) : x);
}

template <class F> Vector FamilyTransformation<F>::setParams(const Vector &q) {
    if (q.size() < F::kParams) {
        throw std::invalid_argument(std::string(F::title) + " search vector needs " + std::to_string(F::kParams) +
                                    " entries");
    }
    params_ = F::decode(q.data());
    return getDistributionParams();
}

template <class F> Vector FamilyTransformation<F>::getTransformationParams() const {
    const auto t = F::transformation(params_);
    return {t.begin(), t.end()};
}

template <class F> Vector FamilyTransformation<F>::getDistributionParams() const {
    const auto p = F::natural(params_);
    return {p.begin(), p.end()};
}

template <class F> Vector FamilyTransformation<F>::transformMany(Vector values) const {
    return mapEach(std::move(values), [this](double x) { return F::forward(x, params_); });
}

template <class F> Vector FamilyTransformation<F>::invTransformMany(Vector values) const {
    return mapEach(std::move(values), [this](double y) { return F::inverse(y, params_); });
}

template <class F>
double FamilyTransformation<F>::negLogLik(const Vector &v, const Vector &data, double left, double right, bool isMap) {
    setParams(v);
    const PreparedSeries series(data, left, right);
    return -CensoredLikelihood<F, ExactNormalMass>(series, isMap).logLikAt(params_);
}

template <class F>
FitReport FamilyTransformation<F>::fitReport(Vector data, FitSettings settings, MessageSink &sink) const {
    settings.scale = scale;
    settings.shift = shift;
    return fitSeries<F, ExactNormalMass>(std::move(data), settings, sink);
}

template class FamilyTransformation<YeoJohnson>;
template class FamilyTransformation<LogSinh>;
template class FamilyTransformation<SinhAsinh>;
template class FamilyTransformation<JonesPewsey>;

} // namespace ferrule
