#include "tests/pattern_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace synth {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Pseudo-Voigt of unit height: a Lorentzian and a Gaussian of the same full width at half
// maximum, mixed.
double Profile(double dx, double fwhm, double eta)
{
    const double z = dx / (fwhm / 2);  // 1 at half maximum for both
    const double lorentz = 1 / (1 + z * z);
    const double gauss = std::pow(0.5, z * z);
    return eta * lorentz + (1 - eta) * gauss;
}

std::string Number(double v)
{
    char b[64];
    std::snprintf(b, sizeof b, "%.9g", v);
    return b;
}

}  // namespace

double BraggTwoTheta(double d, double wavelength)
{
    return 2 * std::asin(wavelength / (2 * d)) * 180 / kPi;
}

Generated Make(const Recipe& r)
{
    Generated g;
    // Reflections by h^2+k^2+l^2: rock salt wants h, k, l all even or all odd.
    for (int n = 1; n <= r.maxN; ++n) {
        int h0 = -1, k0 = 0, l0 = 0;
        for (int h = 0; h * h <= n && h0 < 0; ++h) {
            for (int k = 0; k <= h && h0 < 0; ++k) {
                for (int l = 0; l <= k; ++l) {
                    if (h * h + k * k + l * l != n) continue;
                    const bool even = h % 2 == 0 && k % 2 == 0 && l % 2 == 0;
                    const bool odd = h % 2 == 1 && k % 2 == 1 && l % 2 == 1;
                    if (r.cell == Cell::RockSalt && !even && !odd) continue;
                    h0 = h;
                    k0 = k;
                    l0 = l;
                    break;
                }
            }
        }
        if (h0 < 0) continue;
        Reflection f;
        f.h = h0;
        f.k = k0;
        f.l = l0;
        f.n = n;
        f.d = r.a / std::sqrt(static_cast<double>(n));
        if (r.wavelength > 2 * f.d) continue;
        f.twoTheta = BraggTwoTheta(f.d, r.wavelength) + r.jitter * std::sin(1.7 * n + static_cast<double>(r.seed));
        const bool strong = r.cell == Cell::Primitive || h0 % 2 == 0;
        f.height = (strong ? r.strong : r.weak) * std::exp(-r.fall / (f.d * f.d));
        const double t = std::tan(f.twoTheta / 2 * kPi / 180);
        f.fwhm = std::sqrt(r.u * t * t + r.v * t + r.w);
        if (f.twoTheta >= r.from && f.twoTheta <= r.to) g.reflections.push_back(f);
    }

    std::mt19937_64 random(r.seed);
    g.twoTheta.resize(static_cast<std::size_t>(r.points));
    g.counts.resize(static_cast<std::size_t>(r.points));
    const double step = (r.to - r.from) / (r.points - 1);
    for (int i = 0; i < r.points; ++i) {
        const double tt = r.from + i * step;
        double mean = r.flat + r.decay * std::exp(-(tt - r.from) / r.decayDegrees) + r.slope * (tt - r.from);
        for (const Reflection& f : g.reflections) {
            if (std::fabs(tt - f.twoTheta) < 60 * f.fwhm) mean += f.height * Profile(tt - f.twoTheta, f.fwhm, r.eta);
        }
        for (const Extra& e : r.extra) {
            const double t = std::tan(e.twoTheta / 2 * kPi / 180);
            const double fw = e.fwhm > 0 ? e.fwhm : std::sqrt(r.u * t * t + r.v * t + r.w);
            if (std::fabs(tt - e.twoTheta) < 60 * fw) mean += e.height * Profile(tt - e.twoTheta, fw, r.eta);
        }
        double c = mean;
        if (r.noise && mean > 0) c = static_cast<double>(std::poisson_distribution<long>(mean)(random));
        g.twoTheta[static_cast<std::size_t>(i)] = tt;
        g.counts[static_cast<std::size_t>(i)] = c;
    }
    return g;
}

std::string WriteXy(const Generated& g, double wavelength)
{
    std::string s = "# synthetic pattern\n# Wavelength: " + Number(wavelength * 1e-10) + " m\n# 2th_deg I\n";
    for (std::size_t i = 0; i < g.twoTheta.size(); ++i) s += Number(g.twoTheta[i]) + " " + Number(g.counts[i]) + "\n";
    return s;
}

std::string WriteChi(const Generated& g)
{
    std::string s = "synthetic pattern\n2-Theta Angle (Degrees)\nIntensity\n" + std::to_string(g.twoTheta.size()) + "\n";
    for (std::size_t i = 0; i < g.twoTheta.size(); ++i) {
        s += "  " + Number(g.twoTheta[i]) + "   " + Number(g.counts[i]) + "\n";
    }
    return s;
}

std::string WriteFxye(const Generated& g, double wavelength)
{
    const std::size_t n = g.twoTheta.size();
    std::string s = "synthetic pattern\n# Calibrated wavelength = " + Number(wavelength) + "\nBANK 1 " +
                    std::to_string(n) + " " + std::to_string(n) + " CONS " + Number(g.twoTheta[0] * 100) + " " +
                    Number((g.twoTheta[1] - g.twoTheta[0]) * 100) + " 0 0 FXYE\n";
    for (std::size_t i = 0; i < n; ++i) {
        s += Number(g.twoTheta[i] * 100) + " " + Number(g.counts[i]) + " " + Number(std::sqrt(std::max(g.counts[i], 1.0))) +
             "\n";
    }
    return s;
}

std::string WriteXye(const Generated& g)
{
    std::string s = "' synthetic pattern\n' 2-theta counts sigma\n";
    for (std::size_t i = 0; i < g.twoTheta.size(); ++i) {
        s += Number(g.twoTheta[i]) + " " + Number(g.counts[i]) + " " + Number(std::sqrt(std::max(g.counts[i], 1.0))) + "\n";
    }
    return s;
}

std::string WriteCsv(const Generated& g)
{
    std::string s = "two_theta,intensity\n";
    for (std::size_t i = 0; i < g.twoTheta.size(); ++i) s += Number(g.twoTheta[i]) + "," + Number(g.counts[i]) + "\n";
    return s;
}

}  // namespace synth
