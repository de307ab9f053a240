#include "core/inverse.h"

#include "core/cell.h"
#include "core/eos.h"
#include "core/numbers.h"
#include "core/scales.h"
#include "core/units.h"
#include "engine/clsKolvane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace hv {

namespace {

// The pressure in kbar at relative volume change v, with the engine's own arithmetic
// (its single-precision van der Waals step included) but not narrowed at the end.
double PressureAt(const Standard& standard, double tCelsius, double v)
{
    const kolvane_model::Outcome out =
        kolvane_model::Evaluate(standard.code, tCelsius, v, true, kolvane_model::Nodes::Cached);
    return out.written ? out.p : kNone;
}

// The search stops at a tenth of the ambient volume (far beyond any pressure standard's
// use) and at a fivefold expansion.
constexpr double kLowest = -0.9;
constexpr double kHighest = 4.0;

// Relative volume change of the model's pressure minimum at this temperature, or kHighest
// when P keeps falling that far.
double MinimumOfPressure(const Standard& standard, double tCelsius)
{
    constexpr double step = 0.01;
    // Usually P still falls at the ambient volume and the minimum lies beyond it.
    double v = PressureAt(standard, tCelsius, step) < PressureAt(standard, tCelsius, 0) ? 0 : kLowest;
    double previous = PressureAt(standard, tCelsius, v);
    while (v + step <= kHighest) {
        const double next = PressureAt(standard, tCelsius, v + step);
        if (!(next < previous)) break;
        previous = next;
        v += step;
    }
    if (v + step > kHighest) return kHighest;
    // Golden-section search in the bracket around the lowest grid point.
    double lo = std::max(v - step, kLowest), hi = v + step;
    const double g = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double f1 = PressureAt(standard, tCelsius, x1), f2 = PressureAt(standard, tCelsius, x2);
    for (int i = 0; i < 60 && hi - lo > 1e-10; ++i) {
        if (f1 < f2) {
            hi = x2; x2 = x1; f2 = f1;
            x1 = hi - g * (hi - lo); f1 = PressureAt(standard, tCelsius, x1);
        } else {
            lo = x1; x1 = x2; f1 = f2;
            x2 = lo + g * (hi - lo); f2 = PressureAt(standard, tCelsius, x2);
        }
    }
    return (lo + hi) / 2;
}

std::string Gpa(double kbar)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.4g GPa", kbar / 10);
    return buffer;
}

std::string Ratio(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g", value);
    return buffer;
}

// A hexagonal cell's reflections: one per class of 6/mmm (h >= k >= 0, l >= 0), allowed by
// the lattice, with d >= a / sqrt(maxN), by falling d (then falling h, rising l).
void AddHexagonalRows(SpacingResult& out, const Standard& standard, int maxN, double wavelength)
{
    if (maxN < 1) return;
    const double dMin = out.a / std::sqrt(static_cast<double>(std::min(maxN, kMaxSquareSum)));
    const int hMax = static_cast<int>(out.a / dMin * 2 / std::sqrt(3.0)) + 1;
    const int lMax = static_cast<int>(out.c / dMin) + 1;
    for (int h = 0; h <= hMax; ++h) {
        for (int k = 0; k <= h; ++k) {
            for (int l = 0; l <= lMax; ++l) {
                const Hkl hkl{h, k, l};
                if (!Allowed(standard.lattice, hkl)) continue;
                const double d = Spacing(CrystalSystem::Hexagonal, out.a, out.c, hkl);
                if (!(d >= dMin)) continue;
                out.rows.push_back({hkl, 0, d, TwoTheta(d, wavelength)});
            }
        }
    }
    std::stable_sort(out.rows.begin(), out.rows.end(), [](const SpacingRow& x, const SpacingRow& y) {
        return x.d != y.d ? x.d > y.d : x.hkl.h != y.hkl.h ? x.hkl.h > y.hkl.h : x.hkl.l < y.hkl.l;
    });
}

void AddRows(SpacingResult& out, const Standard& standard, int maxN, double wavelength)
{
    if (standard.lattice == Lattice::Hexagonal) return AddHexagonalRows(out, standard, maxN, wavelength);
    for (const Hkl& hkl : Reflections(standard, maxN)) {
        SpacingRow row;
        row.hkl = hkl;
        row.n = SquareSum(hkl);
        row.d = Spacing(out.a, row.n);
        row.twoTheta = TwoTheta(row.d, wavelength);
        out.rows.push_back(row);
    }
}

// A published scale: its equation of state inverted on the compressed branch.
SpacingResult PublishedSpacings(const Standard& standard, float tCelsius, double pGpa, int maxN, double wavelength)
{
    SpacingResult out;
    const eos::Params& p = *standard.eos;
    const double v = eos::VolumeAt(p, pGpa, static_cast<double>(tCelsius) + 273.15);
    if (std::isnan(v)) {
        out.message = std::string(standard.name) + " reaches no " + Gpa(pGpa * 10) + " at this temperature";
        return out;
    }
    out.vRatio = v / p.v0;
    const double lowest = LowestVRatio(standard);
    if (out.vRatio < lowest || out.vRatio > kHighestVRatio) {
        out.message = Gpa(pGpa * 10) + " puts " + std::string(standard.name) + " at V/V0 = " +
                      Ratio(out.vRatio) + ", outside " + Ratio(lowest) + "-" + Ratio(kHighestVRatio) +
                      ": out of the scale's reach";
        out.vRatio = kNone;
        return out;
    }
    out.volume = v;
    if (standard.lattice == Lattice::Hexagonal) {
        const double cOverA = standard.cOverA;
        out.a = std::cbrt(2 * v / (std::sqrt(3.0) * cOverA));
        out.c = out.a * cOverA;
    } else {
        out.a = std::cbrt(v);
    }
    out.status = Status::Ok;
    std::string warning;
    if (out.vRatio < 0.5 || out.vRatio > 1.5) warning = RangeWarning(out.vRatio);
    const std::string phase = PhaseWarning(standard, pGpa, tCelsius);
    if (!phase.empty()) warning += (warning.empty() ? "" : "; ") + phase;
    if (!warning.empty()) {
        out.status = Status::Warning;
        out.message = warning;
    }
    AddRows(out, standard, maxN, wavelength);
    return out;
}

}  // namespace

double TwoTheta(double d, double wavelength)
{
    return PositionOf(XUnit::TwoThetaDeg, d, {wavelength, kNone});
}

double Spacing(double a, int n)
{
    return a / std::sqrt(static_cast<double>(n));
}

SpacingResult SpacingsAt(const Standard& standard, float tCelsius, double pGpa, int maxN, double wavelength)
{
    SpacingResult out;
    std::string why;
    if (!CheckTemperature(tCelsius, why)) {
        out.message = why;
        return out;
    }
    if (!std::isfinite(pGpa)) {
        out.message = "the pressure must be a finite number";
        return out;
    }
    if (!std::isnan(wavelength) && !(wavelength > 0 && std::isfinite(wavelength))) {
        out.message = "the wavelength must be a positive number";
        return out;
    }
    if (IsPublished(standard)) return PublishedSpacings(standard, tCelsius, pGpa, maxN, wavelength);
    const double t = tCelsius;
    const double target = pGpa * 10;

    // P falls monotonically from the strongly compressed cell to the model's minimum.
    const double top = PressureAt(standard, t, kLowest);
    double lo = kLowest, hi = 0;
    const double ambient = PressureAt(standard, t, 0);
    if (std::isnan(top) || std::isnan(ambient)) {
        out.message = "the model gives no pressure at this temperature";
        return out;
    }
    if (target > top) {
        out.message = "above " + Gpa(top) + " the cell would shrink below a tenth of its volume: out of the model's reach";
        return out;
    }
    const bool fallingAtAmbient = PressureAt(standard, t, 0.01) < ambient;
    if (!fallingAtAmbient || target < ambient) {
        lo = fallingAtAmbient ? 0 : kLowest;
        hi = MinimumOfPressure(standard, t);
        const double bottom = PressureAt(standard, t, hi);
        if (std::isnan(bottom) || target < bottom) {
            out.message = "the model reaches no pressure below " + Gpa(bottom) + " at this temperature";
            return out;
        }
    }
    // Bisection: P(lo) >= target >= P(hi).
    for (int i = 0; i < 200 && hi - lo > 1e-15; ++i) {
        const double mid = (lo + hi) / 2;
        const double p = PressureAt(standard, t, mid);
        if (std::isnan(p) || p >= target) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const double v = (lo + hi) / 2;
    out.vRatio = 1 + v;
    out.a = static_cast<double>(standard.a0) * std::cbrt(out.vRatio);
    out.volume = out.a * out.a * out.a;
    out.status = Status::Ok;
    if (out.vRatio < 0.5 || out.vRatio > 1.5) {
        out.status = Status::Warning;
        out.message = RangeWarning(out.vRatio);
    }
    if (const std::string phase = PhaseWarning(standard, pGpa, tCelsius); !phase.empty()) {
        out.status = Status::Warning;
        out.message += (out.message.empty() ? "" : "; ") + phase;
    }
    AddRows(out, standard, maxN, wavelength);
    return out;
}

}  // namespace hv
