// The table of pressure standards and their published scales: for each (material, scale)
// pair its structure, its equation of state, the paper to cite, the range the paper states
// and a note on the phase it holds. hv::AllStandards() serves the rows; this header adds
// what a listing of them needs.
#pragma once

#include "core/crystal.h"
#include "core/eos.h"
#include "core/standards.h"

#include <string>
#include <string_view>

namespace hv {

// Ambient c/a of rhenium (a0 2.7609, c0 4.4583 angstrom give V0 29.43 angstrom^3). Each Re
// scale keeps its own V0 exactly and takes a0 from V0 and this ratio.
inline constexpr double kReCOverA = 1.6148;

// The equation of state in words and numbers, one line: "Vinet, V0 67.85 A^3, K0 167 GPa,
// K0' 6; Mie-Grueneisen-Debye theta0 170 K, gamma0 2.97, q 0.6; T0 300 K; Z 4, n 1".
std::string DescribeEos(const eos::Params& p);

// The built-in model's equation in words, for NaCl, KCl and CsCl on it.
inline constexpr std::string_view kBuiltInModel =
    "the ionic-lattice equation of state of NaCl, KCl and CsCl (built in)";

// The ambient cell volume of a standard in angstrom^3 per conventional cell: the scale's V0,
// or a0^3 of the built-in model's cell.
double AmbientVolume(const Standard& standard);

}  // namespace hv
