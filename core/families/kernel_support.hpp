// What every family kernel shares: the value of mu and sigma before anything sets them.
//
// A family kernel is a struct of static functions of explicit parameters (no state):
//   Params                       the natural parameters: transformation parameters, mu, sigma
//   decode(q)                    search vector -> Params
//   forward(x, p), inverse(y, p) the map T and its inverse
//   mapLogJacobian(x, p)         log T'(x)
//   termLogJacobian(x, p)        the log Jacobian in an uncensored likelihood term
//   terms(p)                     what an uncensored term needs at p (constants of p computed once)
//   uncensoredTerm(y, x, terms)  the likelihood term of an uncensored value, y = T(x)
//   outOfRange(p)                parameters the likelihood refuses (every term kOutOfRangeTerm)
//   logPrior(p)                  log prior density of the transformation parameters
//   atDegenerateLimit(p, q, lo)  whether p is the family's degenerate limit on data whose
//                                smallest uncensored value is lo (the facts of a fit)
//   start, lower, upper          start point and search box of the optimisers
// plus names for the registry.
#pragma once

namespace ferrule {

// mu and sigma hold this value until a fit or a decoded search vector sets them.
inline constexpr double kUnsetParam = -9999.0;

// The likelihood term of every value when a family refuses its parameters.
inline constexpr double kOutOfRangeTerm = -1e20;

// A search coordinate within this fraction of its box's width of a bound sits on it.
inline constexpr double kBoxEdgeFraction = 1e-6;

} // namespace ferrule
