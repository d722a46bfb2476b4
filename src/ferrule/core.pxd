# Declarations of the transformation core, shared by every class of the extension.
# Anything that allocates (takes or returns a Vector by value, decodes a search vector,
# fits) translates escaping standard exceptions into Python ones (std::bad_alloc into
# MemoryError and so on).
from libcpp cimport bool
from libcpp.vector cimport vector


cdef extern from "api/transformation.hpp" namespace "ferrule" nogil:
    ctypedef vector[double] Vector

    cdef cppclass Transformation:
        double scale
        double shift
        Vector optimisedParams

        double transformOne(double x)
        double invTransformOne(double y)
        double logDensity(const Vector& v, double x, double left, double right,
                          bool doRescale) except +
        double logJacobian(const Vector& v, double x, double left, double right,
                           bool doRescale) except +
        int numTransParams()
        Vector getScaleShift() except +
        Vector getTransformationParams() except +
        Vector getDistributionParams() except +

        double rescaleOne(double x)
        double invRescaleOne(double y)
        Vector rescaleMany(Vector values) except +
        Vector invRescaleMany(Vector values) except +
        Vector transformMany(Vector values) except +
        Vector invTransformMany(Vector values) except +

        Vector optimParams(Vector data, bool doRescale, bool isMap,
                           double leftCensThresh, double rightCensThresh) except +
        Vector optimParamsDE(Vector data, bool doRescale, bool isMap,
                             double leftCensThresh, double rightCensThresh) except +
        Vector optimParamsSCE(Vector data, bool doRescale, bool isMap,
                              int maxConverge, int maxEval,
                              double leftCensThresh, double rightCensThresh) except +

    # The forward maps with explicit parameters, as transform_one takes them.
    double yeoJohnsonForward(double x, double lambda_)
    double logSinhForward(double x, double lambda_, double epsilon)
    double sinhAsinhForward(double x, double delta, double epsilon)

    cdef cppclass YeoJohnsonTransformation(Transformation):
        YeoJohnsonTransformation()
        YeoJohnsonTransformation(double lambda_, double scale, double shift)

    cdef cppclass LogSinhTransformation(Transformation):
        LogSinhTransformation()
        LogSinhTransformation(double lambda_, double epsilon, double scale,
                              double shift)

    cdef cppclass SinhAsinhTransformation(Transformation):
        SinhAsinhTransformation()
        SinhAsinhTransformation(double delta, double epsilon, double scale,
                                double shift)

    cdef cppclass JonesPewseyTransformation(Transformation):
        JonesPewseyTransformation()
        JonesPewseyTransformation(double delta, double epsilon, double scale,
                                  double shift)
