// A second evaluation of the equations of state for the tests, written from the equations
// alone in long double: the Debye integral and Speziale's Debye temperature by composite
// Simpson quadrature instead of series, the moduli left to the tests' finite differences.
#pragma once

#include "core/eos.h"

#include <algorithm>
#include <cmath>

namespace eos_reference {

using Real = long double;

// Composite Simpson's rule with n (even) intervals.
template <class F>
Real Simpson(F f, Real a, Real b, int n)
{
    const Real h = (b - a) / n;
    Real sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += f(a + i * h) * (i % 2 ? 4 : 2);
    return sum * h / 3;
}

// integral_0^x t^3 / (e^t - 1) dt; the integrand tends to t^2 at 0.
inline Real Debye3(Real x)
{
    const auto f = [](Real t) { return t == 0 ? Real(0) : t * t * t / std::expm1(t); };
    return Simpson(f, 0, x, 2 * static_cast<int>(std::ceil(1000 * std::max(Real(1), x))));
}

inline Real Isotherm(const hv::eos::Params& p, Real eta)
{
    using hv::eos::Isotherm;
    const Real x = std::cbrt(eta);
    if (p.isotherm == Isotherm::Vinet) {
        return 3 * p.k0 * (1 - x) / (x * x) * std::exp(Real(1.5) * (p.k0p - 1) * (1 - x));
    }
    const Real f = (1 / (x * x) - 1) / 2;
    const Real k0p = p.isotherm == Isotherm::BM2 ? 4 : p.k0p;
    Real bracket = 1 + Real(1.5) * (k0p - 4) * f;
    if (p.isotherm == Isotherm::BM4) {
        bracket += Real(1.5) * (Real(p.k0) * p.k0pp + k0p * (k0p - 7) + Real(143) / 9) * f * f;
    }
    return 3 * p.k0 * f * std::pow(1 + 2 * f, Real(2.5)) * bracket;
}

// gamma and theta at eta = V/V0.
inline void GammaTheta(const hv::eos::Params& p, Real eta, Real& gamma, Real& theta)
{
    using hv::eos::Thermal;
    const auto speziale = [&](Real e) { return p.gamma0 * std::exp(Real(p.q0) / p.q1 * (std::pow(e, Real(p.q1)) - 1)); };
    switch (p.thermal) {
    case Thermal::MieGruneisenDebye:
        gamma = p.gamma0 * std::pow(eta, Real(p.q));
        theta = p.theta0 * std::exp((p.gamma0 - gamma) / p.q);
        break;
    case Thermal::Tange:
        gamma = p.gamma0 * (1 + p.a * (std::pow(eta, Real(p.b)) - 1));
        theta = p.theta0 * std::pow(eta, -(1 - p.a) * Real(p.gamma0)) * std::exp(-(gamma - p.gamma0) / p.b);
        break;
    case Thermal::Speziale:
        // -integral_V0^V gamma/V dV = -integral_0^ln(eta) gamma(e^s) ds.
        gamma = speziale(eta);
        theta = p.theta0 * std::exp(-Simpson([&](Real s) { return speziale(std::exp(s)); }, 0, std::log(eta), 20000));
        break;
    default: gamma = theta = 0;
    }
}

// E / (9 n R) = T^4 / theta^3 D3(theta/T).
inline Real Energy(Real theta, Real t)
{
    return t * t * t * t / (theta * theta * theta) * Debye3(theta / t);
}

inline Real Pressure(const hv::eos::Params& p, Real eta, Real t)
{
    using hv::eos::Thermal;
    Real pressure = Isotherm(p, eta);
    if (p.thermal == Thermal::Linear) {
        pressure += (p.linA + p.linB * std::log(1 / eta)) * (t - p.t0);
    } else if (p.thermal != Thermal::None) {
        Real gamma = 0, theta = 0;
        GammaTheta(p, eta, gamma, theta);
        const Real vm = eta * p.v0 * Real(1e-30) * Real(6.02214076e23) / p.z;  // m^3 per mole
        pressure += gamma / vm * 9 * p.n * Real(8.31446261815324) * (Energy(theta, t) - Energy(theta, p.t0)) * Real(1e-9);
    }
    return pressure;
}

}  // namespace eos_reference
