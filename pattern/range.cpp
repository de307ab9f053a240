// The lattice parameters a search may take: from V/V0 0.5 up to the volume at about -0.5 GPa at
// the temperature, or near a pressure guess, or within a pressure range clamped to what the
// model allows.
#include "pattern/steps.h"

#include "core/inverse.h"
#include "core/numbers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace hv::pattern::detail {

namespace {

// The lattice parameter the model gives at p GPa, or false with why.
bool LatticeAt(const Standard& standard, float tCelsius, double p, double& a, std::string& why)
{
    const SpacingResult s = SpacingsAt(standard, tCelsius, p, 1);
    if (s.status == Status::Error || !(s.a > 0)) {
        why = s.message.empty() ? "the model has no lattice at " + Sig(p) + " GPa" : s.message;
        return false;
    }
    a = s.a;
    return true;
}

// The reachable end of [from, to] nearest to from, where from is not reachable and to is.
double ReachableEnd(const Standard& standard, float tCelsius, double from, double to)
{
    double a = 0;
    std::string why;
    for (int i = 0; i < 40 && std::fabs(to - from) > 1e-3; ++i) {
        const double mid = 0.5 * (from + to);
        (LatticeAt(standard, tCelsius, mid, a, why) ? to : from) = mid;
    }
    return to;
}

}  // namespace

Range RangeOf(const Standard& standard, const Options& options)
{
    Range r;
    const double a0 = static_cast<double>(standard.a0);
    std::string why;
    const float t = options.tCelsius;
    r.search.guessName = options.names.pressureGuess;
    const bool guess = !std::isnan(options.pressureGuess);
    const bool range = !std::isnan(options.pressureLo) || !std::isnan(options.pressureHi);
    if (guess && range) {
        r.why = "give a pressure guess or a pressure range, not both";
        return r;
    }
    if (guess) {
        if (!std::isfinite(options.pressureGuess)) {
            r.why = "the pressure guess is not a number";
            return r;
        }
        double ag = 0;
        if (!LatticeAt(standard, t, options.pressureGuess, ag, why)) {
            r.why = "pressure guess: " + why;
            return r;
        }
        // Within a few GPa of the guess (a fifth of it at high pressure).
        const double spread = std::max(2.0, 0.2 * std::fabs(options.pressureGuess));
        double a1 = 0, a2 = 0;
        r.search.aLo = LatticeAt(standard, t, options.pressureGuess + spread, a1, why) ? a1 : ag * 0.98;
        r.search.aHi = LatticeAt(standard, t, options.pressureGuess - spread, a2, why) ? a2 : ag * 1.02;
        r.search.aLo = std::min(r.search.aLo, ag * 0.995);
        r.search.aHi = std::max(r.search.aHi, ag * 1.005);
        r.search.minMatched = kMinMatchedNearGuess;
        r.search.nearGuess = true;
        return r;
    }
    if (range) {
        double lo = options.pressureLo, hi = options.pressureHi;
        if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) {
            r.why = "the pressure range must run from a lower to a higher pressure in GPa";
            return r;
        }
        double a = 0;
        const bool loOk = LatticeAt(standard, t, lo, a, why), hiOk = LatticeAt(standard, t, hi, a, why);
        if (!loOk && !hiOk) {
            r.why = "pressure range: " + why;
            return r;
        }
        // Narrowed to what the model reaches, and said.
        if (!loOk) lo = ReachableEnd(standard, t, lo, hi);
        if (!hiOk) hi = ReachableEnd(standard, t, hi, lo);
        if (!loOk || !hiOk) {
            r.note = "pressure range clamped to " + Fixed(lo, 2) + " to " + Fixed(hi, 2) + " GPa, what the model of " +
                     std::string(standard.name) + " reaches at " + Fixed(t, 0) + " C";
        }
        if (!LatticeAt(standard, t, hi, r.search.aLo, why) || !LatticeAt(standard, t, lo, r.search.aHi, why)) {
            r.why = "pressure range: " + why;
            return r;
        }
        if (!(r.search.aLo < r.search.aHi)) std::swap(r.search.aLo, r.search.aHi);
        return r;
    }
    // What a standard in a cell can be: V/V0 0.5 up to the volume at -0.5 GPa at the
    // temperature, thermal expansion included.
    r.search.aLo = a0 * std::cbrt(0.5);
    r.search.aHi = a0 * std::cbrt(1.1);
    for (const double p : {-0.5, -0.25, 0.0}) {
        double a = 0;
        if (LatticeAt(standard, t, p, a, why)) {
            r.search.aHi = a;
            break;
        }
    }
    // A phase that gives way to another under pressure (rock-salt NaCl near 30 GPa, KCl near
    // 2 GPa) is searched a quarter past its end (at least 1 GPa: transitions lag), no further:
    // beyond, its lattice can only be another phase's peaks.
    if (const double top = PhaseTopGpa(standard); std::isfinite(top)) {
        const double end = top + std::max(1.0, 0.25 * top);
        double a = 0;
        if (LatticeAt(standard, t, end, a, why) && a > r.search.aLo) {
            r.search.aLo = a;
            r.limit = "searched up to " + Fixed(end, 1) + " GPa, past which " + std::string(standard.name) +
                      " is another phase (" + options.names.pressureRange + " searches further)";
        }
    }
    return r;
}

}  // namespace hv::pattern::detail
