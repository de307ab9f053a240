// The standard's expected pattern: which reflections it shows and how strongly, from the
// atoms of its conventional cell, so that absences and weak reflections follow from the
// structure. The intensity of one h^2+k^2+l^2 is I = sum over its signed hkl of |F|^2, times
// DW = exp(-2 B s^2) with s = 1/(2d), times LP = (1 + cos^2 2theta) / (sin^2 theta cos theta)
// for angle-dispersive data (none for energies or plain d); F = sum_j f_j(s) exp(2 pi i h.r_j).
#include "pattern/steps.h"

#include "core/crystal.h"
#include "core/units.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>
#include <vector>

namespace hv::pattern::detail {

namespace {

// Four-Gaussian X-ray form factors f(s) = sum a_i exp(-b_i s^2) + c of the neutral atoms,
// International Tables for Crystallography Vol. C, Table 6.1.1.4, as distributed in gemmi
// 0.5.7's IT92 table. A site's ion ("Na1+") takes its element's: the difference is a fraction
// of an electron at the angles that decide recognition.
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
    {"Mg", {5.4204, 2.1735, 1.2269, 2.3073}, {2.8275, 79.2611, 0.3808, 7.1937}, 0.8584},
    {"O", {3.0485, 2.2868, 1.5463, 0.867}, {13.2771, 5.7011, 0.3239, 32.9089}, 0.2508},
    {"Au", {16.8819, 18.5913, 25.5582, 5.86}, {0.4611, 8.6216, 1.4826, 36.3956}, 12.0658},
    {"Pt", {27.0059, 17.7639, 15.7131, 5.7837}, {1.51293, 8.81174, 0.424593, 38.6103}, 11.6883},
    {"Ne", {3.9553, 3.1125, 1.4546, 1.1251}, {8.4042, 3.4262, 0.2306, 21.7184}, 0.3515},
    {"Re", {28.7621, 15.7189, 14.5564, 5.44174}, {1.67191, 9.09227, 0.3505, 52.0861}, 10.472},
    {"Mo", {3.7025, 17.2356, 12.8876, 3.7429}, {0.2772, 1.0958, 11.004, 61.6584}, 4.3875},
    {"W", {29.0818, 15.43, 14.4327, 5.11982}, {1.72029, 9.2259, 0.321703, 57.056}, 9.8875},
};

const Gaussians* Find(std::string_view species)
{
    // "Na1+" -> "Na": the element is the leading letters.
    std::size_t n = 0;
    while (n < species.size() && ((species[n] >= 'A' && species[n] <= 'Z') || (species[n] >= 'a' && species[n] <= 'z'))) ++n;
    for (const Gaussians& g : kFormFactors) {
        if (g.element == species.substr(0, n)) return &g;
    }
    return nullptr;
}

double FormFactor(const Gaussians* g, double s2)
{
    if (!g) return 0;
    double f = g->c;
    for (std::size_t i = 0; i < 4; ++i) f += g->a[i] * std::exp(-g->b[i] * s2);
    return f;
}

// The distinct scatterers of a structure, at most kMaxSpecies, in the order of their first site.
std::vector<std::string_view> Species(const Structure& structure)
{
    std::vector<std::string_view> out;
    for (const Site& site : structure.sites) {
        if (std::find(out.begin(), out.end(), site.species) == out.end() && out.size() < kMaxSpecies) {
            out.push_back(site.species);
        }
    }
    return out;
}

std::size_t IndexOf(const std::vector<std::string_view>& species, std::string_view s)
{
    return static_cast<std::size_t>(std::find(species.begin(), species.end(), s) - species.begin());
}

}  // namespace

std::vector<Family> Families(const Standard& standard, int maxN)
{
    std::vector<Family> out;
    const std::vector<std::string_view> species =
        standard.structure ? Species(*standard.structure) : std::vector<std::string_view>{};
    constexpr double kTwoPi = 6.283185307179586;
    for (const Hkl& hkl : Reflections(standard, maxN)) {
        const int n = SquareSum(hkl);
        if (!out.empty() && out.back().n == n) continue;
        Family f;
        f.n = n;
        f.hkl = hkl;
        f.halfLogN = 0.5 * std::log(static_cast<double>(n));
        // Every signed hkl of this n the lattice allows, and the sum over them of |F|^2 =
        // sum over site pairs of f_j f_k cos(2 pi h.(r_j - r_k)), gathered by scatterer pair.
        for (int h = -static_cast<int>(std::sqrt(n)); h * h <= n; ++h) {
            for (int k = -static_cast<int>(std::sqrt(n - h * h)); h * h + k * k <= n; ++k) {
                const int rest = n - h * h - k * k;
                const int l = static_cast<int>(std::lround(std::sqrt(rest)));
                if (l * l != rest) continue;
                for (const int sl : {l, -l}) {
                    if (Allowed(standard.lattice, {h, k, sl})) {
                        ++f.multiplicity;
                        if (standard.structure) {
                            for (const Site& a : standard.structure->sites) {
                                for (const Site& b : standard.structure->sites) {
                                    const std::size_t p = IndexOf(species, a.species), q = IndexOf(species, b.species);
                                    if (p >= kMaxSpecies || q >= kMaxSpecies) continue;
                                    f.pairs[p * kMaxSpecies + q] +=
                                        std::cos(kTwoPi * (h * (a.x - b.x) + k * (a.y - b.y) + sl * (a.z - b.z)));
                                }
                            }
                        }
                    }
                    if (l == 0) break;
                }
            }
        }
        out.push_back(f);
    }
    return out;
}

double ExpectedIntensity(const Standard& standard, const Family& family, double d, const Work& w)
{
    const double s2 = 1 / (4 * d * d);
    double f2 = family.multiplicity;  // without a structure every reflection alike
    double bIso = 1.0;
    if (standard.structure) {
        const std::vector<std::string_view> species = Species(*standard.structure);
        std::array<double, kMaxSpecies> f{};
        for (std::size_t i = 0; i < species.size(); ++i) f[i] = FormFactor(Find(species[i]), s2);
        f2 = 0;
        for (std::size_t p = 0; p < species.size(); ++p) {
            for (std::size_t q = 0; q < species.size(); ++q) f2 += family.pairs[p * kMaxSpecies + q] * f[p] * f[q];
        }
        bIso = standard.structure->bIso;
    }
    double intensity = std::max(f2, 0.0) * std::exp(-2 * bIso * s2);
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
