// From measured spacings to a pressure with its uncertainty: the window's arithmetic, a fit
// of several reflections of one pattern, and first-order error propagation.
#pragma once

#include "core/standards.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace hv {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// ---- The window's path, one step each ----

// a = d * sqrt(n), d already narrowed to single as the window reads a typed number.
double LatticeParameter(float d, int n);
// (a^3 - a0^3) / a0^3 in double, narrowed to single; false when that leaves single range.
bool RelativeVolume(double a, float a0, float& vdiff);
// Whether the engine stored a pressure with this status (it leaves P alone for an unknown
// standard, below absolute zero, for non-finite values and when there is no volume).
bool EngineWrotePressure(int16_t status, float vdiff);
// kbar to GPa, narrowed to single.
float KbarToGpa(float kbar);

enum class Status { Ok, Warning, Error };
std::string_view StatusName(Status status);  // "ok", "warning", "error"

// Statuses 3 and 4: the pressure stands but lies outside the model's range.
std::string RangeWarning(double vRatio);

// ---- Fits ----

struct Peak {
    Reflection reflection;
    double d = 0;             // spacing as given (the lattice parameter for lp)
    double sigmaD = kNone;    // kNone: not given
};

struct Result {
    Status status = Status::Error;
    std::string message;      // why, for warnings and errors
    int peaks = 0;
    double a = kNone;         // fitted lattice parameter, angstrom
    double sigmaA = kNone;
    double vRatio = kNone;    // V/V0 as the engine saw it
    // The pressure in GPa. Faces print `pressure` for a published scale; for the built-in model
    // it is pGpa widened, and faces keep printing pGpa (today's bytes). pGpa is the window's
    // single-precision pressure, for a published scale `pressure` narrowed.
    float pGpa = std::numeric_limits<float>::quiet_NaN();
    double sigmaPGpa = kNone;
    double pressure = kNone;
    double volume = kNone;    // cell volume, angstrom^3 per conventional cell
    double sigmaV = kNone;    // from a hexagonal cell's refinement
    double c = kNone;         // hexagonal cells: refined c, angstrom
    double sigmaC = kNone;
};

// Lattice parameter and pressure of one pattern from its peaks at tCelsius. A hexagonal
// standard's peaks give a and c by the cell refinement (core/cell.h), then the pressure of
// the cell's volume (PressureOfVolume). For a cubic one: with every
// sigmaD given the peaks are weighted by 1/sigma_a^2 and sigma_a is the larger of the
// internal and external estimates; with none, the plain mean and the standard error of the
// mean (none for one peak). One peak gives the window's number exactly. sigmaT, in kelvin,
// enters the pressure's uncertainty, which needs sigma_a.
Result Fit(const Standard& standard, float tCelsius, std::span<const Peak> peaks, double sigmaT = kNone);

// The pressure of a lattice parameter already in hand, kept in double (the fit's last step).
// A cubic standard only: a hexagonal one is an error that asks for its cell refinement.
Result PressureOfLattice(const Standard& standard, float tCelsius, double a);

// The pressure of a cell volume in angstrom^3 per conventional cell, any standard (Re
// included), with sigma_P from the modulus (K/V sigma_V) and dP/dT sigma_T in quadrature;
// either sigma may be kNone (taken as 0; both kNone give no sigma_P).
Result PressureOfVolume(const Standard& standard, float tCelsius, double v, double sigmaV = kNone,
                        double sigmaT = kNone);

// V/V0 outside these bounds is far beyond any equation of state here (a typed 26.8 for 2.68,
// a spacing given for the wrong reflection): the fit refuses it.
constexpr double kLowestVRatio = 0.3;
constexpr double kHighestVRatio = 2.0;
// The lower bound for one standard: kLowestVRatio, or lower for a published scale so soft that
// it passes 0.3 below 500 GPa (Ne does near 95 GPa): there the V/V0 of 500 GPa at T0.
double LowestVRatio(const Standard& standard);

// What to say when the standard is used outside the phase its equation describes (NaCl and
// KCl in rock salt above their B1-B2 transitions, CsCl near ambient pressure above the
// temperature it turns rock salt); empty when it holds.
std::string PhaseWarning(const Standard& standard, double pGpa, double tCelsius);

// The pressure in GPa above which the standard's phase gives way to another at room
// temperature (NaCl and KCl in rock salt); NaN where none is known.
double PhaseTopGpa(const Standard& standard);

// ---- Derivatives of the model, in double precision, kbar per angstrom and per kelvin ----
// (a published scale: analytic, from its equation of state)
struct Slopes {
    bool ok = false;
    double dPda = kNone;
    double dPdT = kNone;
};
Slopes PressureSlopes(const Standard& standard, double tCelsius, double a);

// The model's smooth pressure in kbar at lattice parameter a (no single-precision steps);
// kNone where it has none.
double ModelPressure(const Standard& standard, double tCelsius, double a);

// Whether Fit takes this peak, checked on its own with Fit's rules and words (d positive and
// within single range, sigma_d positive when given): a front end that gathers a pattern's
// peaks from many input lines can then say which line is bad.
bool CheckPeak(const Peak& peak, std::string& why);

}  // namespace hv
