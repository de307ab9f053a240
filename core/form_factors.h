// X-ray form factors of the atoms and ions the standards are made of, as the four Gaussians
// and constant of the International Tables. The table itself is generated once by
// core/form_factors_gen.py into core/form_factors.cpp.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace hv {

struct FormFactor {
    std::string_view species;  // "Na1+", "Cl1-", "O2-", "Au": element, then charge and sign for ions
    std::array<double, 4> a;   // electrons
    std::array<double, 4> b;   // angstrom^2
    double c;                  // electrons
};

// Every species of the table, ions first.
std::span<const FormFactor> FormFactors();

// By exact name, as core/crystal.h's Site names it; nullptr when the table lacks it.
const FormFactor* FindFormFactor(std::string_view species);

// f = sum a_i exp(-b_i s^2) + c in electrons, at s = sin(theta)/lambda = 1/(2d) in 1/angstrom.
// At s = 0 it is the species' electron count to within the fit's ~0.1.
double ScatteringFactor(const FormFactor& formFactor, double s);

}  // namespace hv
