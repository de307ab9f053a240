// Synthetic diffraction patterns of a cubic standard with known lattice parameter, for the
// pattern tests and the benchmark. Written from the physics, not from the library: its own
// Bragg angles, reflection list, profile and noise, so that a fit that agrees with it is
// right for a reason of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

enum class Cell { RockSalt, Primitive };

// A peak of another phase: at a 2-theta in degrees, its height in counts.
struct Extra {
    double twoTheta = 0;
    double height = 0;
    double fwhm = 0;  // degrees; 0: the standard's width at that angle
};

struct Recipe {
    Cell cell = Cell::RockSalt;
    double a = 5.64;              // angstrom
    double wavelength = 0.4133;   // angstrom
    double from = 5, to = 20;     // 2-theta range, degrees
    int points = 3000;
    int maxN = 60;                // reflections up to h^2+k^2+l^2
    // Profile: FWHM^2 = U tan^2(theta) + V tan(theta) + W (degrees^2), mixing eta.
    double u = 0.1, v = -0.002, w = 0.0012;
    double eta = 0.4;
    // Heights: strong (all even) and weak (all odd) rock-salt reflections, falling with angle.
    double strong = 20000, weak = 4000;
    double fall = 0.3;            // exp(-fall / d^2)
    // Background in counts: a constant, a decay from the low-angle side, a gentle slope.
    double flat = 300, decay = 600, decayDegrees = 6, slope = 5;
    std::vector<Extra> extra;
    // Each reflection moved off its Bragg angle by up to this many degrees, as strain or a
    // profile asymmetry the fit does not model would.
    double jitter = 0;
    bool noise = true;
    uint64_t seed = 1;
};

struct Reflection {
    int h = 0, k = 0, l = 0, n = 0;
    double d = 0, twoTheta = 0, height = 0, fwhm = 0;
};

struct Generated {
    std::vector<double> twoTheta, counts;
    std::vector<Reflection> reflections;  // those inside the range, one per h^2+k^2+l^2
};

Generated Make(const Recipe& r);

// 2-theta in degrees of spacing d: Bragg's law, lambda = 2 d sin(theta).
double BraggTwoTheta(double d, double wavelength);

// The same pattern in the files integration programs write.
std::string WriteXy(const Generated& g, double wavelength);    // # Wavelength in metres, 2th_deg
std::string WriteChi(const Generated& g);                      // Fit2D
std::string WriteFxye(const Generated& g, double wavelength);  // GSAS, centidegrees, sigma
std::string WriteXye(const Generated& g);                      // Topas, sigma
std::string WriteCsv(const Generated& g);                      // plain columns

}  // namespace synth
