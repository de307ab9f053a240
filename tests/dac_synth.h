// Diamond-anvil-cell patterns as a beamline gives them, for judging the recognition of a
// standard: strong curved backgrounds, a crowd of other phases (sample, medium, gasket),
// textured rings, single-crystal spikes, detector edges and gaps of exact zeros, and the
// standard itself at a known lattice parameter, or not at all.
//
// Written from the physics and independent of the pattern library: its own reflection
// lists (every hkl of the cell, grouped by spacing, so multiplicities and absences follow
// from the structure factor, summed atom by atom), its own profile and noise. Two facts come
// from the core: the lattice parameter at a pressure (hv::SpacingsAt), because that is the
// truth a recovered pressure must agree with, and the published form factors' coefficients
// (hv::FindFormFactor), because real crystals scatter with them; the generator evaluates
// them itself.
//
// Every random number comes from std::mt19937_64 through this file's own uniform, normal
// (Box-Muller) and Poisson draws, so a seed gives the same pattern on every platform.
#pragma once

#include "core/crystal.h"
#include "core/form_factors.h"
#include "core/standards.h"
#include "pattern/pattern.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace dacsynth {

// The file's random numbers: the 64-bit Mersenne twister, whose output every library
// gives alike, through draws written out here (the library's distributions differ).
class Random {
public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    double Uniform();                       // [0, 1), 53 bits
    double Uniform(double lo, double hi);   // [lo, hi)
    double LogUniform(double lo, double hi);
    double Normal();                        // mean 0, sd 1, by Box-Muller
    double Poisson(double mean);            // counts; a normal approximation above 50
    int Int(int lo, int hi);                // lo..hi inclusive

private:
    std::mt19937_64 engine_;  // its sequence is fixed by the standard library's definition
    bool haveSpare_ = false;
    double spare_ = 0;
};

// A scatterer: its electron count and how fast its form factor falls, f(s) = z exp(-b s^2)
// with s = sin(theta) / lambda = 1 / (2 d).
// An atom's or ion's X-ray form factor: the published four Gaussians where the species is
// a real one, else z electrons falling as exp(-b s^2) (the made-up atoms of mimic lattices).
struct Scatterer {
    double z = 0;
    double b = 0;  // angstrom^2
    const hv::FormFactor* published = nullptr;
    double At(double s2) const;  // f at s^2 = (sin(theta)/lambda)^2
};

struct Atom {
    Scatterer scatterer;
    double x = 0, y = 0, z = 0;  // fractional
};

enum class Cell { Cubic, Hexagonal, Orthorhombic };

struct Phase {
    std::string name;          // "Au", "Ne", "Re", "sample", "NaCl", ...
    Cell cell = Cell::Cubic;
    double a = 0, b = 0, c = 0;  // angstrom; b, c only where the cell has them
    std::vector<Atom> atoms;     // every atom of the conventional cell
    double bIso = 1.0;           // Debye-Waller B, angstrom^2
};

// One reflection of a phase: every hkl of one spacing together.
struct Line {
    int h = 0, k = 0, l = 0;  // one of them, the largest h first
    int n = 0;                // h^2+k^2+l^2 for cubic cells, else 0
    int multiplicity = 0;
    double d = 0;             // angstrom
    double twoTheta = 0;      // degrees
    double intensity = 0;     // m |F|^2 LP exp(-2 B s^2), before texture
};

// Every reflection of the phase with spacing at least dMin and a 2-theta, by falling d;
// those whose structure factor vanishes are left out (below 1e-6 of the strongest |F|^2).
std::vector<Line> Lines(const Phase& phase, double wavelength, double dMin);

// The structures of the standards and of the crowd, at cell edge a (c for hcp).
Phase RockSalt(const std::string& name, Scatterer cation, Scatterer anion, double a);
Phase CsClType(const std::string& name, Scatterer first, Scatterer second, double a);
Phase Fcc(const std::string& name, Scatterer atom, double a);
Phase Bcc(const std::string& name, Scatterer atom, double a);
Phase Hcp(const std::string& name, Scatterer atom, double a, double c);

// The scatterers this file knows, with their electron counts and its own falls.
// Also as the standards' structures name them ("Na1+", "O2-"); z 0 for an unknown name.
Scatterer Ion(const std::string& name);  // "Na+", "K+", "Cs+", "Cl-", "Mg2+", "O2-", "Au", "Pt", "Fe", "Re", "Ne", "Ar", "W", "Mo"

// Whether this file can make the standard's pattern: the standard names its structure and
// this file knows the scatterers of its atoms.
bool Knows(const hv::Standard& standard);

// The standard's phase at lattice parameter a (and c for a hexagonal cell): the atoms its
// structure names, with this file's own scatterers.
Phase StandardPhase(const hv::Standard& standard, double a, double c = 0);

// 2-theta in degrees of spacing d; NaN beyond 180 degrees.
double BraggTwoTheta(double d, double wavelength);

// Pseudo-Voigt of unit height with full width fwhm at half maximum and mixing eta.
double PseudoVoigt(double dx, double fwhm, double eta);

struct Recipe {
    const hv::Standard* standard = nullptr;  // the standard a search will ask for
    bool positive = true;                    // false: the same pattern without the standard
    uint64_t seed = 1;
    // Chosen from the seed where NaN: the pressure (uniform over the standard's range), the
    // temperature, the wavelength (0.2-0.62 angstrom).
    double pGpa = hv::kNone;
    double tCelsius = hv::kNone;
    double wavelength = hv::kNone;
    // Strength of the standard's strongest line over the counting noise of the background
    // under it (height / sqrt(background)); NaN: log-uniform 25-400.
    double signal = hv::kNone;
};

struct Truth {
    const hv::Standard* standard = nullptr;  // the recipe's
    bool present = false;   // the standard is in the pattern
    double a = hv::kNone;   // angstrom, the lattice parameter it was injected at (also for negatives)
    double c = hv::kNone;   // angstrom, hexagonal cells only
    double tCelsius = 25;
    double pGpa = hv::kNone;
    std::vector<std::string> crowd;  // the other phases, by name, with their cells
    int crowdLines = 0;              // other phases' lines inside the pattern
    bool mimic = false;              // a crowd lattice shares the standard's d-ratios in its range
    std::vector<Line> standardLines; // the standard's lines inside the pattern, texture included
    // Of those, the ones anyone could see: 5 times the background's noise high, outside the
    // detector's gaps, and no other phase's line a quarter as high within two widths.
    int clearLines = 0;
};

struct Made {
    hv::pattern::Pattern pattern;  // x 2-theta in degrees, intensity in counts, wavelength set
    Truth truth;
};

// The standard's pressure range for the generated patterns, where its phase stands: NaCl
// 0-30 GPa, KCl 0-2 GPa (their rock-salt phases), CsCl 0-40 GPa, NaCl-B2 30-100, KCl-B2
// 2-50, Ne 5-100 (solid), every other 0-100; below V/V0 0.55 a pressure is drawn again,
// lower.
struct PressureRange {
    double lo = 0, hi = 0;
};
PressureRange Pressures(const hv::Standard& standard);

// One pattern: 2-theta from d 4.4-5.5 down to 0.85-1.3 angstrom in 2,000-5,000 points;
// widths 2.5-6 points per FWHM growing with angle; a background of level 200-5,000 counts with
// a slope, a low-angle fall and 1-3 amorphous humps several degrees wide; the standard's
// lines (texture lognormal, sd 0.5); a pressure medium (Ne, Ar or none), a gasket (Re, Fe,
// W), a sample (Au, Pt or a low-symmetry cell) and in a third of the patterns a lattice that
// shares the standard's d-ratios but not its strongest reflections, 20-60 lines in all;
// 0-4 single-crystal spikes one or two points wide; Poisson counts; zeros at either edge in
// half the patterns and 0-2 gaps of 5-30 points. A negative draws the same numbers and
// leaves the standard out, so it is its positive without the standard.
Made Make(const Recipe& recipe);

// The pattern as .xy text with its wavelength in a comment, for timing the reader.
std::string WriteXy(const hv::pattern::Pattern& pattern);

}  // namespace dacsynth
