// From a pressure back to the lattice parameter and the peak positions: where the
// standard's reflections will sit at the pressure an experiment aims for.
#pragma once

#include "core/pressure.h"
#include "core/standards.h"

#include <string>
#include <vector>

namespace hv {

struct SpacingRow {
    Hkl hkl;
    int n = 0;
    double d = 0;              // angstrom
    double twoTheta = kNone;   // degrees; kNone without a wavelength or beyond 180 degrees
};

struct SpacingResult {
    Status status = Status::Error;
    std::string message;
    double a = kNone;          // lattice parameter, angstrom
    double c = kNone;          // hexagonal cells: c in angstrom, at the scale's ambient c/a
    double volume = kNone;     // cell volume, angstrom^3 per conventional cell
    double vRatio = kNone;     // V/V0
    std::vector<SpacingRow> rows;
};

// The lattice parameter that the model maps to pGpa at tCelsius, on the compressed side
// of the model's pressure minimum (CsCl's P(V) turns up again under strong tension), and
// every reflection up to h^2+k^2+l^2 = maxN with its spacing and, for a wavelength in
// angstrom, its 2-theta. A pressure the model cannot reach is an error; V/V0 outside 0.5-1.5
// a warning. A published scale inverts its equation of state in double precision and, like
// the fit, refuses V/V0 outside 0.3-2. A hexagonal standard gets a and c at its ambient c/a,
// V, and a row per reflection class (h >= k >= 0, l >= 0; n is 0) with d >= a / sqrt(maxN),
// by falling d.
SpacingResult SpacingsAt(const Standard& standard, float tCelsius, double pGpa, int maxN = 20,
                         double wavelength = kNone);

// 2-theta in degrees of spacing d at the wavelength, kNone where the reflection cannot occur.
double TwoTheta(double d, double wavelength);

// Spacing of the planes with h^2+k^2+l^2 = n in a cubic cell of edge a: a / sqrt(n), so n = 1
// gives a itself. The rows of SpacingsAt use it, and so does any caller that needs a single
// reflection, or one beyond the listed range, at the same lattice parameter.
double Spacing(double a, int n);

}  // namespace hv
