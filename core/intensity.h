// The powder pattern a structure should show: every reflection class down to a spacing, with
// its multiplicity, |F|^2 from the atoms of the cell and its relative intensity. Absences
// follow from the structure factor, not from rules per lattice, so a new standard is only
// its structure.
#pragma once

#include "core/crystal.h"
#include "core/standards.h"

#include <limits>
#include <string>
#include <vector>

namespace hv {

// One class of symmetry-equivalent reflections (Laue class m-3m for cubic cells, 6/mmm for
// hexagonal ones, where hkl are the three Miller indices h k l of h k -(h+k) l).
struct ExpectedReflection {
    Hkl hkl;               // representative: cubic h >= k >= l >= 0, hexagonal h >= k >= 0, l >= 0
    int n = 0;             // h^2 + k^2 + l^2 for cubic cells, 0 for hexagonal ones
    int multiplicity = 0;  // members of the class
    double d = 0;          // spacing, angstrom
    double f2 = 0;         // |F|^2 of one member, Debye-Waller factor included, electrons^2
    double intensity = 0;  // m |F|^2 LP, the strongest listed = 100
    bool absent = false;   // |F|^2 below 1e-6 of what the cell's atoms give scattering in phase
};

// The classes with d >= dMin, by falling d; equal d by falling h, k, l (cubic: CsCl's 3 0 0
// before 2 2 1, as core/standards.h lists them). c is used only for hexagonal cells.
//
// The intensity is m |F|^2 LP with F = sum_j f_j(s) exp(2 pi i (h x_j + k y_j + l z_j))
// exp(-B s^2) over the structure's sites, s = 1/(2d), and for angle-dispersive data at a
// wavelength in angstrom the Lorentz-polarisation factor of an unpolarised beam,
// LP = (1 + cos^2 2theta) / (sin^2 theta cos theta). A NaN wavelength (energy-dispersive data,
// or none known) leaves LP out. At a wavelength only reflections that reach 2theta < 180
// degrees (d > lambda / 2) are listed.
//
// Absences (see ExpectedReflection::absent) are left out unless keepAbsences; they get
// intensity 0. The structure's sites must carry its Laue symmetry, as every conventional
// cell of a standard does: |F|^2 is computed once per class. Empty when CheckExpectedInput
// refuses the input.
std::vector<ExpectedReflection> ExpectedPattern(const Structure& structure, double a, double c, double dMin,
                                                double wavelength = std::numeric_limits<double>::quiet_NaN(),
                                                bool keepAbsences = false);

// Whether ExpectedPattern can work: every species in the form-factor table, coordinates
// finite, B finite and not negative, a (and c for hexagonal cells) positive, dMin at least
// 0.25 angstrom (where the form factors' fit ends) and at most 200 indices along an axis,
// a wavelength NaN or positive. False with why.
bool CheckExpectedInput(const Structure& structure, double a, double c, double dMin, double wavelength,
                        std::string& why);

// A cubic pattern keyed by n = h^2 + k^2 + l^2, as the rest of the program keys reflections:
// one row per n with the summed multiplicity and intensity of all present classes of that n
// (CsCl's 3 0 0 and 2 2 1 share n = 9), renormalised so the strongest row is 100, and the
// representative that core/standards.h's Reflections() lists first (the largest h); f2 is
// the multiplicity-weighted mean |F|^2 of the row's classes. Rows whose classes are all
// absent are left out. Empty for a hexagonal structure.
std::vector<ExpectedReflection> ExpectedByN(const Structure& structure, double a, double dMin,
                                            double wavelength = std::numeric_limits<double>::quiet_NaN());

}  // namespace hv
