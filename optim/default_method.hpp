// The optimiser a fit of each family runs unless told otherwise.
#pragma once

#include <stdexcept>

#include "core/families/registry.hpp"
#include "optim/run_method.hpp"

namespace ferrule {

// Nelder-Mead for Yeo-Johnson: its start point is the identity and its parameters are
// unbounded. The box searches for the others: only they keep the parameters in the box.
inline Method defaultMethod(FamilyId id) {
    switch (id) {
    case FamilyId::YeoJohnson:
        return Method::NelderMead;
    case FamilyId::LogSinh:
    case FamilyId::SinhAsinh:
    case FamilyId::JonesPewsey:
        return Method::ShuffledComplexEvolution;
    }
    throw std::invalid_argument("unknown family");
}

} // namespace ferrule
