// The reflections of a hexagonal standard (Re) at a pressure. SpacingsAt gives its a, c and
// V but lists reflections only for cubic cells, whose order h^2+k^2+l^2 fixes; a hexagonal
// cell's order depends on c/a, so its rows come from the expected pattern of its structure.
#pragma once

#include "core/inverse.h"
#include "core/standards.h"

#include <string>

namespace hv {

// Fills s.rows of a hexagonal standard's SpacingsAt result with every reflection class its
// structure shows, by falling d (n 0, the representative h >= k >= 0, l >= 0), down to the
// spacing a cubic cell of the same volume reaches at h^2+k^2+l^2 = maxN, and with 2-theta at
// a wavelength in angstrom. False with why when the structure cannot be listed.
bool AddHexagonalRows(const Standard& standard, int maxN, double wavelength, SpacingResult& s, std::string& why);

// Whether a standard's cell is hexagonal.
bool IsHexagonal(const Standard& standard);

}  // namespace hv
