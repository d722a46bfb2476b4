# Declarations of the stateless array functions that ferrule._core wraps (api/kernels.hpp).
from libc.stdint cimport int8_t, int64_t, uint8_t, uint32_t
from libcpp cimport bool
from libcpp.optional cimport optional
from libcpp.string cimport string
from libcpp.vector cimport vector


cdef extern from "core/families/registry.hpp" namespace "ferrule" nogil:
    cdef enum class FamilyId:
        YeoJohnson
        LogSinh
        SinhAsinh
        JonesPewsey

    cdef cppclass FamilyInfo:
        string key
        string title
        vector[string] transformationNames
        vector[string] positiveNames
        vector[double] start
        vector[double] lower
        vector[double] upper
        bool modelsRawValue
        bool boundedBelow
        string acceptedName
        double acceptedLow
        double acceptedHigh

    FamilyInfo familyInfo(FamilyId id) except +
    FamilyId kFamilies[4]


cdef extern from "api/family_bindings.hpp" namespace "ferrule" nogil:
    cdef cppclass FamilyBinding:
        const char* alias
        const char* kestrelClass
        const char* gridClass
        bool hasShift

    FamilyBinding familyBinding(FamilyId id) except +


cdef extern from "optim/fit_series.hpp" namespace "ferrule" nogil:
    cdef enum class Method:
        NelderMead
        DifferentialEvolution
        ShuffledComplexEvolution

    cdef cppclass FitResult:
        int count
        vector[double] params
        long long evaluations
        bool limitReached

    ctypedef bool (*MonitorPoll)(void* context, int64_t evaluations) noexcept

    cdef cppclass FitMonitor:
        MonitorPoll poll
        void* context
        int64_t every

    cdef cppclass FitSettings:
        Method method
        bool rescale
        double scale
        double shift
        bool isMap
        double left
        double right
        int maxConverge
        int maxEval
        optional[uint32_t] seed
        bool thorough
        FitMonitor monitor
        bool facts

    cdef cppclass StrategyReport:
        int runs
        long long polishEvaluations
        double polishGain
        bool polished

    cdef cppclass FitFacts:
        double logLik
        double logPosterior
        int64_t nLeft
        int64_t nRight
        int64_t distinctUncensored
        int64_t saturatedPairs
        int64_t decreasingSteps
        int64_t undefinedValues
        int64_t misplacedValues
        double spread
        double massBeyondRange
        double roundTripError
        uint32_t atLower
        uint32_t atUpper
        uint32_t outsideBox
        uint32_t constrained
        bool degenerateLimit
        double limitGain
        int limit

    cdef cppclass FitReport:
        FitResult result
        bool lowValues
        bool highValues
        bool noFiniteValue
        StrategyReport strategy
        FitFacts facts


cdef extern from "core/ridge_limit.hpp" namespace "ferrule" nogil:
    const double kLimitGap


cdef extern from "optim/default_method.hpp" namespace "ferrule" nogil:
    Method defaultMethod(FamilyId id) except +


cdef extern from "api/kernels.hpp" namespace "ferrule::kernels" nogil:
    cdef enum class Masses:
        Accurate
        Exact

    FamilyId familyByKey(const string& key) except +
    size_t parameterCount(FamilyId family)

    void forward(FamilyId family, const double* t, const double* x, double* out, size_t n,
                 int threads)
    void inverse(FamilyId family, const double* t, const double* y, double* out, size_t n,
                 int threads)
    void logJacobian(FamilyId family, const double* t, const double* x, double* out, size_t n,
                     int threads)
    void decode(FamilyId family, const double* q, double* natural)
    double logLikelihood(FamilyId family, const double* q, const double* data, size_t n,
                         double left, double right, bool isMap, Masses masses) except +
    void censoring(FamilyId family, const double* q, const double* data, size_t n,
                   double left, double right, int8_t* out)

    FitFacts factsAt(FamilyId family, const double* q, const double* data, size_t n,
                     double left, double right, bool isMap) except +

    void standardNormalCdf(const double* z, double* out, size_t n, int threads)
    void standardNormalLogCdf(const double* z, double* out, size_t n, int threads)
    void standardNormalQuantile(const double* p, double* out, size_t n)

    cdef cppclass SeriesFit:
        FitReport report
        vector[string] lines
        bool stopped

    SeriesFit fit(FamilyId family, vector[double] data, const FitSettings& settings,
                  Masses masses) except +

    cdef cppclass CellFit:
        SeriesFit fit
        double scale
        SeriesFit other
        double otherScale
        bool skipped

    cdef cppclass CellFits:
        vector[CellFit] cells
        size_t committed
        bool stopped

    ctypedef bool (*StopCheck)(void* context) noexcept

    CellFits fitCells(FamilyId family, const double* values, size_t ncells, size_t n,
                      const int64_t* lengths, const double* left, const double* right,
                      const uint8_t* skip,
                      const double* scale, const double* shift, const uint32_t* seeds,
                      const FitSettings& settings, int threads, StopCheck stop,
                      void* context, const double* otherScale) except +


cdef extern from "api/distribution_maps.hpp" namespace "ferrule::kernels" nogil:
    cdef cppclass DistributionModel:
        FamilyId family
        double t[2]
        double mu, sigma, scale, shift, left, right

    cdef cppclass ScoreRange:
        double bottom, top, logInside

    cdef enum class DistributionMap:
        ToNormal
        FromNormal
        Cdf
        Sf
        LogSf
        LogPdf
        Ppf

    ScoreRange scoreRange(const DistributionModel& model) except +
    void distributionMap(const DistributionModel& model, DistributionMap map, bool censor,
                         const double* values, double* out, size_t n, int threads) except +
