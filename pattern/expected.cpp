// The standard's expected pattern: which reflections it shows and how strongly, from the
// atoms of its conventional cell, so that absences and weak reflections follow from the
// structure. The intensity of one h^2+k^2+l^2 is I = sum over its signed hkl of |F|^2, times
// DW = exp(-2 B s^2) with s = 1/(2d), times LP = (1 + cos^2 2theta) / (sin^2 theta cos theta)
// for angle-dispersive data (none for energies or plain d); F = sum_j f_j(s) exp(2 pi i h.r_j).
#include "pattern/steps.h"

#include "core/crystal.h"
#include "core/form_factors.h"
#include "core/units.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>
#include <vector>

namespace hv::pattern::detail {

namespace {

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
        for (std::size_t i = 0; i < species.size(); ++i) {
            const FormFactor* ff = FindFormFactor(species[i]);
            f[i] = ff ? ScatteringFactor(*ff, std::sqrt(s2)) : 0;
        }
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
