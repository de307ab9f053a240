// Cells of any crystal system the standards have: the spacing of a reflection, the volume,
// and the cell refined from fitted peaks by weighted least squares on 1/d^2, in which the
// cell's metric is linear (1/a^2 for cubic cells, 1/a^2 and 1/c^2 for hexagonal ones).
#pragma once

#include "core/crystal.h"
#include "core/standards.h"

#include <limits>
#include <span>
#include <string>

namespace hv {

// d in angstrom: cubic 1/d^2 = (h^2 + k^2 + l^2) / a^2, hexagonal
// 1/d^2 = 4/3 (h^2 + hk + k^2) / a^2 + l^2 / c^2 (c unused for cubic cells). NaN for 0 0 0 or
// a cell that is not positive.
double Spacing(CrystalSystem system, double a, double c, const Hkl& hkl);

// Volume of the conventional cell in angstrom^3: a^3, or sqrt(3)/2 a^2 c.
double CellVolume(CrystalSystem system, double a, double c);

// One fitted peak used for the cell: its reflection, spacing and standard uncertainty
// (NaN: not given).
struct CellPeak {
    Hkl hkl;
    double d = 0;
    double sigmaD = std::numeric_limits<double>::quiet_NaN();
};

struct CellFit {
    bool ok = false;
    std::string why;     // why not, when !ok
    int peaks = 0;
    int parameters = 0;  // 1 cubic, 2 hexagonal
    double a = std::numeric_limits<double>::quiet_NaN();
    double c = std::numeric_limits<double>::quiet_NaN();  // hexagonal; NaN for cubic cells
    double volume = std::numeric_limits<double>::quiet_NaN();
    // Standard uncertainties and covariances (angstrom, angstrom^3); NaN where not known.
    double sigmaA = std::numeric_limits<double>::quiet_NaN();
    double sigmaC = std::numeric_limits<double>::quiet_NaN();
    double sigmaV = std::numeric_limits<double>::quiet_NaN();
    double covAC = std::numeric_limits<double>::quiet_NaN();
    double covAV = std::numeric_limits<double>::quiet_NaN();
    double covCV = std::numeric_limits<double>::quiet_NaN();
    // Weighted sum of squared residuals over its degrees of freedom (peaks - parameters);
    // NaN when the peaks only just determine the cell.
    double reducedChi2 = std::numeric_limits<double>::quiet_NaN();
};

// The cell that best fits the peaks' 1/d^2.
//
// With every sigma_d given, each peak weighs 1/sigma_y^2, sigma_y = 2 sigma_d / d^3 being the
// uncertainty of y = 1/d^2. The covariance of the metric is the inverse of the normal matrix
// (the internal estimate), multiplied by the reduced chi-square when that exceeds 1 (the
// external estimate, from the scatter): the larger of the two, as the core's Fit takes it.
// With no sigma_d given every peak weighs the same and the covariance is the external one
// alone, unknown (NaN) when the peaks only just determine the cell.
//
// a = (1/a^2)^(-1/2), c likewise, and V carry that covariance to first order.
//
// Refused (ok false, why) when: a peak's d is not positive and finite, or its hkl is 0 0 0;
// some sigmas are given and others not, or a given one is not positive and finite; there
// are fewer peaks than parameters; the reflections do not determine the cell (hexagonal
// with only h k 0 or only 0 0 l); or the solution has no real cell (1/a^2 or 1/c^2 not
// positive).
CellFit RefineCell(CrystalSystem system, std::span<const CellPeak> peaks);

}  // namespace hv
