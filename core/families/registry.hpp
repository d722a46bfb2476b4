// The four families in one place: which kernel each key names, and the mathematical facts
// every layer reads (names, parameter names, start point and box, conventions). How the
// bindings publish a family lives with them (api/family_bindings.hpp), the optimiser a fit
// runs by default with the fits (optim/default_method.hpp).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "core/families/jones_pewsey.hpp"
#include "core/families/log_sinh.hpp"
#include "core/families/sinh_asinh.hpp"
#include "core/families/yeo_johnson.hpp"

namespace ferrule {

enum class FamilyId { YeoJohnson, LogSinh, SinhAsinh, JonesPewsey };

inline constexpr FamilyId kFamilies[] = {FamilyId::YeoJohnson, FamilyId::LogSinh, FamilyId::SinhAsinh,
                                         FamilyId::JonesPewsey};

// Calls visit(Kernel{}) with the kernel type of the family: the one switch over families.
template <class Visit> decltype(auto) withFamily(FamilyId id, Visit &&visit) {
    switch (id) {
    case FamilyId::YeoJohnson:
        return visit(YeoJohnson{});
    case FamilyId::LogSinh:
        return visit(LogSinh{});
    case FamilyId::SinhAsinh:
        return visit(SinhAsinh{});
    case FamilyId::JonesPewsey:
        return visit(JonesPewsey{});
    }
    throw std::invalid_argument("unknown family");
}

struct FamilyInfo {
    std::string key;
    std::string title;
    std::vector<std::string> transformationNames;
    std::vector<std::string> positiveNames;  // transformation parameters that must be above zero
    std::vector<double> start, lower, upper; // search start point and box
    bool modelsRawValue;                     // Jones-Pewsey: T((x - mu)/sigma) is standard normal
    bool boundedBelow;                       // defined only above a point its parameters set
    // The range of one parameter outside which the likelihood refuses a point; no name: none.
    std::string acceptedName;
    double acceptedLow, acceptedHigh;
};

// The parameter range a family's likelihood enforces beyond its search box.
struct AcceptedRange {
    const char *name;
    double low, high;
};

inline AcceptedRange acceptedRange(FamilyId id) {
    if (id == FamilyId::LogSinh) {
        return {"epsilon", LogSinh::kEpsilonLow, LogSinh::kEpsilonHigh};
    }
    return {"", 0.0, 0.0};
}

inline FamilyInfo familyInfo(FamilyId id) {
    const AcceptedRange range = acceptedRange(id);
    return withFamily(id, [&](auto kernel) {
        using F = decltype(kernel);
        return FamilyInfo{F::key,
                          F::title,
                          {F::transformationNames.begin(), F::transformationNames.end()},
                          {F::positiveNames.begin(), F::positiveNames.end()},
                          {F::start.begin(), F::start.end()},
                          {F::lower.begin(), F::lower.end()},
                          {F::upper.begin(), F::upper.end()},
                          F::modelsRawValue,
                          F::boundedBelow,
                          range.name,
                          range.low,
                          range.high};
    });
}

} // namespace ferrule
