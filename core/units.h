// Peak positions as instruments give them and the spacing d they stand for: 2-theta at a
// wavelength, momentum transfer q, and photon energy at a fixed detector angle. Every face
// converts through these, so a position means the same d everywhere.
#pragma once

#include "core/pressure.h"

#include <string>
#include <string_view>

namespace hv {

// h c in keV angstrom (CODATA 2018, exact by the SI definitions): lambda = hc / E.
constexpr double kHcKevAngstrom = 12.398419843320026;

enum class XUnit {
    TwoThetaDeg,   // 2-theta in degrees, needs the wavelength
    TwoThetaRad,   // 2-theta in radians, needs the wavelength
    QPerAngstrom,  // q = 4 pi sin(theta) / lambda = 2 pi / d, in 1/angstrom
    QPerNm,        // the same in 1/nm
    DAngstrom,     // d itself
    EnergyKev,     // photon energy in keV, needs the fixed detector angle 2-theta
};

// What fixes the geometry of a position: the wavelength in angstrom for 2-theta, the
// detector's fixed 2-theta in degrees for energies. NaN where not given.
struct Geometry {
    double wavelength;
    double twoThetaFixed;
};

// Whether a position in this unit needs the wavelength or the fixed angle.
bool NeedsWavelength(XUnit unit);
bool NeedsFixedAngle(XUnit unit);

// "2theta", "2theta_rad", "q_A", "q_nm", "d", "kev": the names a user types and the results
// report. ParseXUnit also takes the column names of integration programs' files
// ("2th_deg", "2th_rad", "q_A^-1", "q_nm^-1", "d_A") and letter case is ignored.
std::string_view XUnitName(XUnit unit);
bool ParseXUnit(std::string_view text, XUnit& unit);
// "2theta|2theta_rad|q_A|q_nm|d|kev", for messages and help.
std::string XUnitChoices();

// Wavelength in angstrom of a photon energy in keV, and back.
double WavelengthOfEnergy(double keV);

// The spacing in angstrom at position x: d = lambda / (2 sin(theta)), d = 2 pi / q,
// d = hc / (2 E sin(theta)). NaN where the position has no spacing (a missing or bad
// wavelength or angle, 2-theta outside (0, 180] degrees, x not positive).
double SpacingAt(XUnit unit, double x, const Geometry& geometry);

// |dd/dx| at x, to carry a position's standard uncertainty to d to first order; NaN where
// SpacingAt has no value.
double SpacingSlope(XUnit unit, double x, const Geometry& geometry);

// The position at which spacing d appears, the inverse of SpacingAt; NaN where it cannot
// (2-theta beyond 180 degrees: lambda > 2 d).
double PositionOf(XUnit unit, double d, const Geometry& geometry);

// Checks the geometry a unit needs; false with why ("2-theta needs the wavelength").
bool CheckGeometry(XUnit unit, const Geometry& geometry, std::string& why);

// The peak of a reflection measured at position x with standard uncertainty sigmaX (kNone:
// not given), both in the unit's own measure: d = SpacingAt, sigma_d = SpacingSlope * sigmaX
// to first order. False with why, in the same words for every face: the geometry, a position
// without a spacing, a sigma that is not positive, or a d that Fit would refuse (CheckPeak).
bool PeakAt(const Reflection& reflection, XUnit unit, double x, double sigmaX, const Geometry& geometry, Peak& peak,
            std::string& why);

}  // namespace hv
