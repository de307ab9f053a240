#include "core/intensity.h"

#include "core/form_factors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <span>

namespace hv {

namespace {

constexpr double kMinSpacing = 0.25;    // angstrom: s = 2, where the four-Gaussian fit ends
constexpr double kMaxIndexRatio = 200;  // a / dMin: bounds the classes to some 10^5
constexpr double kAbsentShare = 1e-6;   // of |F|^2 with every atom in phase

// The distinct form factors of a structure, and each site's index among them, so that a
// class evaluates each species once.
struct Scatterers {
    std::vector<const FormFactor*> factors;
    std::vector<int> ofSite;
};

Scatterers Gather(const Structure& structure)
{
    Scatterers out;
    for (const Site& site : structure.sites) {
        const FormFactor* f = FindFormFactor(site.species);
        auto it = std::find(out.factors.begin(), out.factors.end(), f);
        if (it == out.factors.end()) it = out.factors.insert(out.factors.end(), f);
        out.ofSite.push_back(static_cast<int>(it - out.factors.begin()));
    }
    return out;
}

// Permutations and sign changes of (h, k, l): distinct orderings of the magnitudes times
// the sign choices of the nonzero ones. 100: 6, 110: 12, 111: 8, 210: 24, 211: 24, 321: 48.
int CubicMultiplicity(const Hkl& hkl)
{
    const int h = hkl.h, k = hkl.k, l = hkl.l;  // h >= k >= l >= 0
    const int orderings = (h == k && k == l) ? 1 : (h == k || k == l) ? 3 : 6;
    const int nonzero = (h != 0) + (k != 0) + (l != 0);
    return orderings * (1 << nonzero);
}

// 6/mmm on h k i l: the twelve in-plane operations give 1 (00l), 6 (h00, hh0) or 12, the
// mirror through the plane doubles every l != 0.
int HexagonalMultiplicity(const Hkl& hkl)
{
    const int h = hkl.h, k = hkl.k;  // h >= k >= 0
    const int inPlane = h == 0 ? 1 : (k == 0 || k == h) ? 6 : 12;
    return inPlane * (hkl.l != 0 ? 2 : 1);
}

struct Candidate {
    Hkl hkl;
    double invD2;  // 1/d^2; equal for classes of equal d, computed the same way
};

std::vector<Candidate> Classes(CrystalSystem system, double a, double c, double dMin)
{
    std::vector<Candidate> out;
    const double limit = 1 / (dMin * dMin);
    if (system == CrystalSystem::Cubic) {
        const double a2 = a * a;
        const int hMax = static_cast<int>(std::floor(a / dMin));
        for (int h = 1; h <= hMax; ++h) {
            for (int k = 0; k <= h; ++k) {
                for (int l = 0; l <= k; ++l) {
                    const double invD2 = (h * h + k * k + l * l) / a2;
                    if (invD2 > limit) break;
                    out.push_back({{h, k, l}, invD2});
                }
            }
        }
    } else {
        const double a2 = a * a, c2 = c * c;
        const int hMax = static_cast<int>(std::floor(a * std::sqrt(3.0) / (2 * dMin))) + 1;
        const int lMax = static_cast<int>(std::floor(c / dMin));
        for (int h = 0; h <= hMax; ++h) {
            for (int k = 0; k <= h; ++k) {
                for (int l = (h == 0 ? 1 : 0); l <= lMax; ++l) {
                    const double invD2 = 4.0 / 3.0 * (h * h + h * k + k * k) / a2 + l * l / c2;
                    if (invD2 > limit) break;
                    out.push_back({{h, k, l}, invD2});
                }
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const Candidate& x, const Candidate& y) {
        if (x.invD2 != y.invD2) return x.invD2 < y.invD2;
        if (x.hkl.h != y.hkl.h) return x.hkl.h > y.hkl.h;
        if (x.hkl.k != y.hkl.k) return x.hkl.k > y.hkl.k;
        return x.hkl.l > y.hkl.l;
    });
    return out;
}

// exp(2 pi i t) with t first reduced to [0, 1), so that half and whole cells give exact signs.
void Phase(double t, double& re, double& im)
{
    t -= std::floor(t);
    const double angle = 2 * std::numbers::pi * t;
    re = std::cos(angle);
    im = std::sin(angle);
}

// exp(2 pi i m x) of every site for m = 0..mMax along each axis, so that a class's phase is
// three products instead of a sine and cosine per site.
class PhaseTables {
public:
    PhaseTables(std::span<const Site> sites, int mMax) : stride_(static_cast<std::size_t>(mMax) + 1)
    {
        table_.resize(sites.size() * 3 * stride_ * 2);
        for (std::size_t j = 0; j < sites.size(); ++j) {
            const double coordinate[3] = {sites[j].x, sites[j].y, sites[j].z};
            for (std::size_t axis = 0; axis < 3; ++axis) {
                for (std::size_t m = 0; m < stride_; ++m) {
                    double* entry = &table_[((j * 3 + axis) * stride_ + m) * 2];
                    Phase(static_cast<double>(m) * coordinate[axis], entry[0], entry[1]);
                }
            }
        }
    }

    // exp(2 pi i m x) of site j along axis, m of either sign (the conjugate for m < 0).
    void Get(std::size_t j, std::size_t axis, int m, double& re, double& im) const
    {
        const double* entry = &table_[((j * 3 + axis) * stride_ + static_cast<std::size_t>(std::abs(m))) * 2];
        re = entry[0];
        im = m < 0 ? -entry[1] : entry[1];
    }

private:
    std::size_t stride_;
    std::vector<double> table_;
};

}  // namespace

bool CheckExpectedInput(const Structure& structure, double a, double c, double dMin, double wavelength,
                        std::string& why)
{
    if (structure.sites.empty()) {
        why = "the structure has no atoms";
        return false;
    }
    for (const Site& site : structure.sites) {
        if (FindFormFactor(site.species) == nullptr) {
            why = "no X-ray form factor for \"" + std::string(site.species) + "\"";
            return false;
        }
        if (!std::isfinite(site.x) || !std::isfinite(site.y) || !std::isfinite(site.z)) {
            why = "an atom's coordinates are not finite";
            return false;
        }
    }
    if (!std::isfinite(structure.bIso) || structure.bIso < 0) {
        why = "the Debye-Waller B must be finite and not negative";
        return false;
    }
    const bool hexagonal = structure.system == CrystalSystem::Hexagonal;
    if (!(std::isfinite(a) && a > 0) || (hexagonal && !(std::isfinite(c) && c > 0))) {
        why = hexagonal ? "a and c must be positive" : "a must be positive";
        return false;
    }
    if (!(std::isfinite(dMin) && dMin >= kMinSpacing)) {
        why = "the smallest spacing must be at least 0.25 angstrom, where the form factors end";
        return false;
    }
    if (std::max(a, hexagonal ? c : a) / dMin > kMaxIndexRatio) {
        why = "the cell is over 200 times the smallest spacing";
        return false;
    }
    if (!std::isnan(wavelength) && !(std::isfinite(wavelength) && wavelength > 0)) {
        why = "the wavelength must be positive";
        return false;
    }
    return true;
}

std::vector<ExpectedReflection> ExpectedPattern(const Structure& structure, double a, double c, double dMin,
                                                double wavelength, bool keepAbsences)
{
    std::string why;
    if (!CheckExpectedInput(structure, a, c, dMin, wavelength, why)) return {};
    const bool cubic = structure.system == CrystalSystem::Cubic;
    const bool withLp = !std::isnan(wavelength);
    // Beyond 2theta = 180 degrees nothing diffracts; at it LP has no value.
    if (withLp) dMin = std::max(dMin, wavelength / 2 * (1 + 1e-12));

    const Scatterers scatterers = Gather(structure);
    const std::vector<Candidate> classes = Classes(structure.system, a, c, dMin);
    int mMax = 0;
    for (const Candidate& cand : classes) mMax = std::max({mMax, cand.hkl.h, cand.hkl.k, cand.hkl.l});
    const PhaseTables phases(structure.sites, mMax);
    std::vector<double> f(scatterers.factors.size());
    std::vector<ExpectedReflection> out;
    out.reserve(classes.size());
    double strongest = 0;
    for (const Candidate& cand : classes) {
        const double s2 = cand.invD2 / 4;
        const double s = std::sqrt(s2);
        for (std::size_t i = 0; i < f.size(); ++i) f[i] = ScatteringFactor(*scatterers.factors[i], s);

        double re = 0, im = 0, inPhase = 0;
        const Hkl& hkl = cand.hkl;
        for (std::size_t j = 0; j < structure.sites.size(); ++j) {
            const double fj = f[static_cast<std::size_t>(scatterers.ofSite[j])];
            double hr = 0, hi = 0, kr = 0, ki = 0, lr = 0, li = 0;
            phases.Get(j, 0, hkl.h, hr, hi);
            phases.Get(j, 1, hkl.k, kr, ki);
            phases.Get(j, 2, hkl.l, lr, li);
            const double hkr = hr * kr - hi * ki, hki = hr * ki + hi * kr;
            re += fj * (hkr * lr - hki * li);
            im += fj * (hkr * li + hki * lr);
            inPhase += std::abs(fj);
        }
        const double debyeWaller = std::exp(-2 * structure.bIso * s2);
        ExpectedReflection r;
        r.hkl = hkl;
        r.n = cubic ? hkl.h * hkl.h + hkl.k * hkl.k + hkl.l * hkl.l : 0;
        r.multiplicity = cubic ? CubicMultiplicity(hkl) : HexagonalMultiplicity(hkl);
        r.d = 1 / std::sqrt(cand.invD2);
        r.f2 = (re * re + im * im) * debyeWaller;
        r.absent = r.f2 < kAbsentShare * inPhase * inPhase * debyeWaller;
        if (r.absent && !keepAbsences) continue;
        if (!r.absent) {
            double lp = 1;
            if (withLp) {
                const double sinTheta2 = wavelength * wavelength * s2;
                const double cos2Theta = 1 - 2 * sinTheta2;
                lp = (1 + cos2Theta * cos2Theta) / (sinTheta2 * std::sqrt(1 - sinTheta2));
            }
            r.intensity = r.multiplicity * r.f2 * lp;
            strongest = std::max(strongest, r.intensity);
        }
        out.push_back(r);
    }
    if (strongest > 0) {
        for (ExpectedReflection& r : out) r.intensity *= 100 / strongest;
    }
    return out;
}

std::vector<ExpectedReflection> ExpectedByN(const Structure& structure, double a, double dMin, double wavelength)
{
    if (structure.system != CrystalSystem::Cubic) return {};
    std::vector<ExpectedReflection> rows;
    double strongest = 0;
    // Classes come by rising n, the largest h of each n first: that one names the row.
    const double noC = std::numeric_limits<double>::quiet_NaN();
    for (const ExpectedReflection& r : ExpectedPattern(structure, a, noC, dMin, wavelength)) {
        if (rows.empty() || rows.back().n != r.n) {
            rows.push_back(r);
            rows.back().f2 = r.f2 * r.multiplicity;
        } else {
            ExpectedReflection& row = rows.back();
            row.multiplicity += r.multiplicity;
            row.intensity += r.intensity;
            row.f2 += r.f2 * r.multiplicity;
        }
        strongest = std::max(strongest, rows.back().intensity);
    }
    for (ExpectedReflection& row : rows) {
        row.f2 /= row.multiplicity;
        row.intensity *= 100 / strongest;
    }
    return rows;
}

}  // namespace hv
