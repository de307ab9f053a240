// What a standard is made of, for the pattern it should show: its crystal system and the
// atoms of its conventional cell. The standards' table names one per standard; the expected
// intensities, the spacings of non-cubic cells and the refinement of a cell from fitted
// peaks all work from it.
#pragma once

#include <span>
#include <string_view>

namespace hv {

enum class CrystalSystem { Cubic, Hexagonal };

// One atom of the conventional cell: its scatterer, named as the form-factor table names it
// ("Na1+", "Cl1-", "Au", "Mg2+", "O2-"), and its fractional coordinates.
struct Site {
    std::string_view species;
    double x = 0, y = 0, z = 0;
};

struct Structure {
    std::string_view name;       // "rock salt", "CsCl type", "fcc", "bcc", "hcp"
    CrystalSystem system = CrystalSystem::Cubic;
    std::span<const Site> sites; // every atom of the conventional cell, centring translations applied
    double bIso = 1.0;           // isotropic Debye-Waller B in angstrom^2, for the expected intensities
};

}  // namespace hv
