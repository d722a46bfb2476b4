// The normal distribution function and the censored branches shared by every family.
#pragma once

namespace ferrule {

// Phi(z) by Abramowitz & Stegun 7.1.26 for erf; accurate to about 1e-7.
double normalCdf(double z);

// Normal log density of y with mean mu and standard deviation sigma:
// -1/2 log(2 pi sigma^2) - (y - mu)^2 / (2 sigma^2).
double normalLogDensity(double y, double mu, double sigma);

// Log mass of a censored value: log Phi((tL - mu)/sigma) when y <= tL (left),
// otherwise log(1 - Phi((tR - mu)/sigma)) (right; NaN comparisons land here).
double censoredTerm(double y, double tL, double tR, double mu, double sigma);

} // namespace ferrule
