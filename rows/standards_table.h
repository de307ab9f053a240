// The table of standards and scales as the faces list it: every (material, scale) pair with
// its structure, equation of state, valid range, phase and the paper to cite. Plain string
// work over the core's table, so that the command line and the page list the same words.
#pragma once

#include "core/standards.h"

#include <string>
#include <string_view>

namespace hv::rows {

// One block per material: its structure, then each scale (the default marked) with its
// equation and parameters, range, phase and reference in full.
std::string StandardsListing();

constexpr std::string_view kStandardsHeader = "standard,material,scale,default,structure,equation,range,phase,reference";

// The header above and one CSV row per (material, scale) pair, in the order of AllStandards().
std::string StandardsCsv();

// The structure in words: "fcc, Z 4, n 1", "rock salt" where the table gives no Z and n.
std::string StructureText(const Standard& standard);

// The equation of state in words and numbers, or the built-in model's name.
std::string EquationText(const Standard& standard);

}  // namespace hv::rows
