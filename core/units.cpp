#include "core/units.h"

#include "core/numbers.h"

#include <array>
#include <cctype>
#include <cmath>
#include <numbers>

namespace hv {

namespace {

constexpr double kDegree = std::numbers::pi / 180;

struct Name {
    std::string_view text;
    XUnit unit;
};

// The names results report first, then those files use.
constexpr std::array<Name, 11> kNames = {{
    {"2theta", XUnit::TwoThetaDeg},
    {"2theta_rad", XUnit::TwoThetaRad},
    {"q_A", XUnit::QPerAngstrom},
    {"q_nm", XUnit::QPerNm},
    {"d", XUnit::DAngstrom},
    {"kev", XUnit::EnergyKev},
    {"2th_deg", XUnit::TwoThetaDeg},
    {"2th_rad", XUnit::TwoThetaRad},
    {"q_A^-1", XUnit::QPerAngstrom},
    {"q_nm^-1", XUnit::QPerNm},
    {"d_A", XUnit::DAngstrom},
}};

bool SameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool Positive(double v)
{
    return v > 0 && std::isfinite(v);
}

// sin(theta) of a 2-theta position, NaN outside (0, 180] degrees.
double SinTheta(XUnit unit, double x)
{
    const double twoTheta = unit == XUnit::TwoThetaRad ? x : x * kDegree;
    if (!(twoTheta > 0 && twoTheta <= std::numbers::pi)) return NAN;
    return std::sin(twoTheta / 2);
}

double FixedSin(const Geometry& g)
{
    return SinTheta(XUnit::TwoThetaDeg, g.twoThetaFixed);
}

}  // namespace

bool NeedsWavelength(XUnit unit)
{
    return unit == XUnit::TwoThetaDeg || unit == XUnit::TwoThetaRad;
}

bool NeedsFixedAngle(XUnit unit)
{
    return unit == XUnit::EnergyKev;
}

std::string_view XUnitName(XUnit unit)
{
    for (const Name& n : kNames) {
        if (n.unit == unit) return n.text;
    }
    return "?";
}

bool ParseXUnit(std::string_view text, XUnit& unit)
{
    for (const Name& n : kNames) {
        if (SameLetters(n.text, text)) {
            unit = n.unit;
            return true;
        }
    }
    return false;
}

std::string XUnitChoices()
{
    std::string out;
    for (std::size_t i = 0; i < 6; ++i) {
        if (i) out += '|';
        out += kNames[i].text;
    }
    return out;
}

double WavelengthOfEnergy(double keV)
{
    return Positive(keV) ? kHcKevAngstrom / keV : NAN;
}

double SpacingAt(XUnit unit, double x, const Geometry& g)
{
    switch (unit) {
    case XUnit::TwoThetaDeg:
    case XUnit::TwoThetaRad:
        return Positive(g.wavelength) ? g.wavelength / (2 * SinTheta(unit, x)) : NAN;
    case XUnit::QPerAngstrom: return Positive(x) ? 2 * std::numbers::pi / x : NAN;
    case XUnit::QPerNm: return Positive(x) ? 2 * std::numbers::pi / (x / 10) : NAN;
    case XUnit::DAngstrom: return Positive(x) ? x : NAN;
    case XUnit::EnergyKev: return Positive(x) ? kHcKevAngstrom / (2 * x * FixedSin(g)) : NAN;
    }
    return NAN;
}

double SpacingSlope(XUnit unit, double x, const Geometry& g)
{
    const double d = SpacingAt(unit, x, g);
    if (std::isnan(d)) return NAN;
    switch (unit) {
    case XUnit::TwoThetaDeg:
    case XUnit::TwoThetaRad: {
        // d = lambda / (2 sin(t / 2)): |dd/dt| = d cot(t / 2) / 2, t in radians.
        const double perRadian = unit == XUnit::TwoThetaRad ? 1 : kDegree;
        const double halfAngle = (unit == XUnit::TwoThetaRad ? x : x * kDegree) / 2;
        return d / std::tan(halfAngle) / 2 * perRadian;
    }
    // d = c / x for q and energy: |dd/dx| = d / x.
    case XUnit::QPerAngstrom:
    case XUnit::QPerNm:
    case XUnit::EnergyKev: return d / x;
    case XUnit::DAngstrom: return 1;
    }
    return NAN;
}

double PositionOf(XUnit unit, double d, const Geometry& g)
{
    if (!Positive(d)) return NAN;
    switch (unit) {
    case XUnit::TwoThetaDeg:
    case XUnit::TwoThetaRad: {
        if (!Positive(g.wavelength)) return NAN;
        const double s = g.wavelength / (2 * d);
        if (!(s <= 1)) return NAN;
        const double twoTheta = 2 * std::asin(s);
        return unit == XUnit::TwoThetaRad ? twoTheta : twoTheta * 180 / std::numbers::pi;
    }
    case XUnit::QPerAngstrom: return 2 * std::numbers::pi / d;
    case XUnit::QPerNm: return 10 * (2 * std::numbers::pi / d);
    case XUnit::DAngstrom: return d;
    case XUnit::EnergyKev: {
        const double s = FixedSin(g);
        return std::isnan(s) ? NAN : kHcKevAngstrom / (2 * d * s);
    }
    }
    return NAN;
}

bool CheckGeometry(XUnit unit, const Geometry& g, std::string& why)
{
    if (NeedsWavelength(unit) && !Positive(g.wavelength)) {
        why = std::isnan(g.wavelength) ? "2-theta needs a wavelength (angstrom) or an X-ray energy (keV)"
                                       : "the wavelength must be a positive number of angstrom";
        return false;
    }
    if (NeedsFixedAngle(unit) && std::isnan(FixedSin(g))) {
        why = std::isnan(g.twoThetaFixed) ? "energies need the detector's fixed 2-theta (degrees)"
                                          : "the fixed 2-theta must lie above 0 and at most 180 degrees";
        return false;
    }
    return true;
}

namespace {

// What the position is called in messages, and its measure.
const char* PositionWords(XUnit unit)
{
    switch (unit) {
    case XUnit::TwoThetaDeg: return "2-theta must lie above 0 and at most 180 degrees";
    case XUnit::TwoThetaRad: return "2-theta must lie above 0 and at most pi radians";
    case XUnit::QPerAngstrom:
    case XUnit::QPerNm: return "q must be a positive number";
    case XUnit::EnergyKev: return "the energy must be a positive number of keV";
    case XUnit::DAngstrom: return "d must be a positive number";
    }
    return "";
}

const char* SigmaWords(XUnit unit)
{
    switch (unit) {
    case XUnit::TwoThetaDeg:
    case XUnit::TwoThetaRad: return "the sigma of 2-theta must be a positive number";
    case XUnit::QPerAngstrom:
    case XUnit::QPerNm: return "the sigma of q must be a positive number";
    case XUnit::EnergyKev: return "the sigma of the energy must be a positive number";
    case XUnit::DAngstrom: return "sigma_d must be a positive number";
    }
    return "";
}

}  // namespace

bool PeakAt(const Reflection& reflection, XUnit unit, double x, double sigmaX, const Geometry& g, Peak& peak,
            std::string& why)
{
    if (unit == XUnit::DAngstrom) {
        // d itself: exactly what the faces read as d.
        const Peak p{reflection, x, sigmaX};
        if (!CheckPeak(p, why)) return false;
        peak = p;
        return true;
    }
    if (!CheckGeometry(unit, g, why)) return false;
    const double d = SpacingAt(unit, x, g);
    if (std::isnan(d)) {
        why = PositionWords(unit);
        return false;
    }
    if (!std::isnan(sigmaX) && !Positive(sigmaX)) {
        why = SigmaWords(unit);
        return false;
    }
    const Peak p{reflection, d, std::isnan(sigmaX) ? kNone : SpacingSlope(unit, x, g) * sigmaX};
    if (!CheckPeak(p, why)) {
        // The position was fine, the spacing it gives is not (2-theta 1e-40 degrees).
        why = "that position gives d = " + Shortest(d) + " A: " + why;
        return false;
    }
    peak = p;
    return true;
}

}  // namespace hv
