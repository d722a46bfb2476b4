// The names under which the bindings publish each family: the command line's short name and
// the classes of ferrule.kestrel. Facts of the bindings, not of the mathematics: the kernels
// in core/ never read them.
#pragma once

#include <stdexcept>

#include "core/families/registry.hpp"

namespace ferrule {

struct FamilyBinding {
    const char *alias;        // the command line's short name
    const char *kestrelClass; // single-location class of ferrule.kestrel
    const char *gridClass;    // grid class of ferrule.kestrel; empty when none
    bool hasShift;            // whether the kestrel classes take a shift
};

inline FamilyBinding familyBinding(FamilyId id) {
    switch (id) {
    case FamilyId::YeoJohnson:
        return {"yjt", "PyYJT", "PyYJTvectorized", true};
    case FamilyId::LogSinh:
        return {"logsinh", "PyLogSinh", "PyLogSinhvectorized", false};
    case FamilyId::SinhAsinh:
        return {"sinhasinh", "PySinhAsinh", "PySinhAsinhvectorized", true};
    case FamilyId::JonesPewsey:
        return {"jpt", "PyJPT", "", true};
    }
    throw std::invalid_argument("unknown family");
}

} // namespace ferrule
