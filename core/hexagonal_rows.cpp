#include "core/hexagonal_rows.h"

#include "core/crystal.h"
#include "core/intensity.h"

#include <algorithm>
#include <cmath>

namespace hv {

bool IsHexagonal(const Standard& standard)
{
    return standard.structure && standard.structure->system == CrystalSystem::Hexagonal;
}

bool AddHexagonalRows(const Standard& standard, int maxN, double wavelength, SpacingResult& s, std::string& why)
{
    if (!IsHexagonal(standard)) {
        why = std::string(standard.name) + " is not hexagonal";
        return false;
    }
    s.rows.clear();
    if (maxN < 1) return true;
    // The expected pattern's form factors end at 0.25 angstrom.
    const double dMin = std::max(0.25, std::cbrt(s.volume) / std::sqrt(static_cast<double>(maxN)));
    if (!CheckExpectedInput(*standard.structure, s.a, s.c, dMin, wavelength, why)) return false;
    for (const ExpectedReflection& e : ExpectedPattern(*standard.structure, s.a, s.c, dMin, wavelength)) {
        s.rows.push_back({e.hkl, e.n, e.d, TwoTheta(e.d, wavelength)});
    }
    return true;
}

}  // namespace hv
