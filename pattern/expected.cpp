// The standard's expected pattern: which reflections it shows and how strongly, from its
// two sites (rock salt: cation at 0 0 0, anion at 1/2 1/2 1/2, face-centred; CsCl type: 0 0 0
// and 1/2 1/2 1/2), so that absences and weak reflections follow from the structure. The
// intensity is I = m |F|^2 DW LP, with F = 4 (f_A +- f_B) in rock salt and f_A +- f_B in the
// CsCl type (in phase for all-even hkl, h+k+l even), m the number of signed hkl of that
// h^2+k^2+l^2, DW = exp(-2 B s^2) with s = 1/(2d), and LP = (1 + cos^2 2theta) /
// (sin^2 theta cos theta) for angle-dispersive data (none for energies or plain d).
#include "pattern/steps.h"

#include "core/units.h"

#include <array>
#include <cmath>
#include <string_view>
#include <vector>

namespace hv::pattern::detail {

namespace {

// Four-Gaussian X-ray form factors f(s) = sum a_i exp(-b_i s^2) + c of the neutral atoms,
// International Tables for Crystallography Vol. C, Table 6.1.1.4, as distributed in gemmi
// 0.5.7's IT92 table. Neutral atoms stand in for the ions here: the difference is a tenth of
// an electron's share at the angles that matter for recognition.
struct Gaussians {
    std::string_view element;
    std::array<double, 4> a, b;
    double c;
};

constexpr Gaussians kFormFactors[] = {
    {"Na", {4.7626, 3.1736, 1.2674, 1.1128}, {3.285, 8.8422, 0.3136, 129.424}, 0.676},
    {"K", {8.2186, 7.4398, 1.0519, 0.8659}, {12.7949, 0.7748, 213.187, 41.6841}, 1.4228},
    {"Cs", {20.3892, 19.1062, 10.662, 1.4953}, {3.569, 0.3107, 24.3879, 213.904}, 3.3352},
    {"Cl", {11.4604, 7.1964, 6.2556, 1.6455}, {0.0104, 1.1662, 18.5194, 47.7784}, -9.5574},
};

// Isotropic Debye-Waller B in angstrom^2: a typical room-temperature value for the salts.
constexpr double kB = 1.0;

double FormFactor(std::string_view element, double s2)
{
    for (const Gaussians& g : kFormFactors) {
        if (g.element != element) continue;
        double f = g.c;
        for (std::size_t i = 0; i < 4; ++i) f += g.a[i] * std::exp(-g.b[i] * s2);
        return f;
    }
    return 0;
}

std::string_view Cation(const Standard& standard)
{
    if (standard.name == "NaCl") return "Na";
    if (standard.name == "KCl") return "K";
    if (standard.name == "CsCl") return "Cs";
    return {};
}

}  // namespace

std::vector<Family> Families(const Standard& standard, int maxN)
{
    std::vector<Family> out;
    for (const Hkl& hkl : Reflections(standard, maxN)) {
        const int n = SquareSum(hkl);
        if (!out.empty() && out.back().n == n) continue;
        Family f;
        f.n = n;
        f.hkl = hkl;
        f.halfLogN = 0.5 * std::log(static_cast<double>(n));
        // Every signed hkl of this n that the lattice allows. Rock salt's all-odd hkl have n
        // of 3 mod 8 and its all-even ones n of 0 mod 4; in the CsCl type h+k+l has n's parity.
        int count = 0;
        for (int h = -static_cast<int>(std::sqrt(n)); h * h <= n; ++h) {
            for (int k = -static_cast<int>(std::sqrt(n - h * h)); h * h + k * k <= n; ++k) {
                const int rest = n - h * h - k * k;
                const int l = static_cast<int>(std::lround(std::sqrt(rest)));
                if (l * l != rest) continue;
                for (const int sl : {l, -l}) {
                    if (Allowed(standard.lattice, {h, k, sl})) ++count;
                    if (l == 0) break;
                }
            }
        }
        f.multiplicity = count;
        f.inPhase = standard.lattice == hv::Lattice::RockSalt ? hkl.h % 2 == 0 : n % 2 == 0;
        out.push_back(f);
    }
    return out;
}

double ExpectedIntensity(const Standard& standard, const Family& family, double d, const Work& w)
{
    const double s2 = 1 / (4 * d * d);
    const double fa = FormFactor(Cation(standard), s2), fb = FormFactor("Cl", s2);
    const double f = family.inPhase ? fa + fb : fa - fb;
    double intensity = family.multiplicity * f * f * std::exp(-2 * kB * s2);
    double wavelength = w.geometry.wavelength;
    if (w.unit == XUnit::DAngstrom) wavelength = kNone;
    if (w.intensitiesKnown && std::isfinite(wavelength) && wavelength < 2 * d) {
        const double sinT = wavelength / (2 * d), cosT = std::sqrt(1 - sinT * sinT);
        const double cos2T = 1 - 2 * sinT * sinT;
        intensity *= (1 + cos2T * cos2T) / (sinT * sinT * cosT);
    }
    return intensity;
}

}  // namespace hv::pattern::detail
