// Integrated 1D diffraction patterns: reading the files integration programs write, and
// finding and fitting the pressure standard's reflections in them. Above the core: the
// fitted spacings go through the core's Fit, so a pattern's pressure is exactly the
// pressure of its peaks. Used by every face (command line, Python, the browser page).
#pragma once

#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::pattern {

// A pattern as a file gives it.
struct Pattern {
    std::vector<double> x;           // positions, strictly monotonic, in the file's unit
    std::vector<double> intensity;
    std::vector<double> sigma;       // the file's standard uncertainties; empty when it has none
    std::optional<XUnit> unit;       // the x unit the file names, if it names one
    double wavelength = kNone;       // angstrom, when the file gives one
    std::string format;              // "xy", "chi", "fxye", "xye" or "columns"
};

// Files larger than this are refused without being read whole.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;
// Fewer points than this are no pattern to fit.
constexpr std::size_t kMinPoints = 20;

struct ReadOutcome {
    bool ok = false;
    std::string error;  // names the file and, where it helps, the line
    Pattern pattern;
};

// The format is told by content first, by the extension of name second. name is only used
// for that and for messages.
ReadOutcome ReadText(std::string_view bytes, std::string_view name);
ReadOutcome ReadFile(const std::string& path);

// What the user says; NaN / nullopt / empty where not said.
struct Options {
    const Standard* standard = nullptr;
    float tCelsius = 25;
    double sigmaT = kNone;               // kelvin
    std::optional<XUnit> unit;           // wins over the file's
    double wavelength = kNone;           // angstrom; wins over the file's
    double energy = kNone;               // keV, another way to give the wavelength
    double twoThetaFixed = kNone;        // degrees, for energy-dispersive spectra
    double pressureGuess = kNone;        // GPa: search near it
    double pressureLo = kNone, pressureHi = kNone;  // GPa: search within
    double xLo = kNone, xHi = kNone;     // fit only inside, in the pattern's x unit
    std::vector<Reflection> reflections; // fit only these; empty: every predicted one
};

// One predicted reflection and what its fit gave. Numbers NaN where there are none.
struct PeakRow {
    Reflection reflection;
    double position = kNone;        // in the pattern's x unit
    double sigmaPosition = kNone;
    double fwhm = kNone;            // in the pattern's x unit
    double eta = kNone;             // pseudo-Voigt mixing, 0 Gaussian to 1 Lorentzian
    double height = kNone;
    double d = kNone, sigmaD = kNone;
    double aI = kNone;              // d * sqrt(h^2+k^2+l^2)
    bool used = false;
    std::string note;               // why not used; empty when used
};

struct Outcome {
    Result result;                  // the core's: status, message, a, sigma_a, V/V0, P, sigma_P
    XUnit unit = XUnit::TwoThetaDeg;  // the x unit used
    std::string unitSource;         // "file", "user" or "assumed"
    double wavelength = kNone;      // angstrom, the one used
    std::string wavelengthSource;   // "file", "user", "energy" or empty when none was needed
    std::vector<PeakRow> peaks;     // every predicted reflection inside the range, by position
    std::vector<double> curve;      // fitted profile plus background on the pattern's x, NaN outside the fitted windows
    std::vector<double> background; // local linear backgrounds, NaN outside the fitted windows
};

// Finds the standard's lattice in the pattern (or near the guess), fits every predicted
// reflection, leaves out the insignificant and the outliers with a reason, and gives the
// used peaks to the core's Fit.
Outcome FitPattern(const Pattern& pattern, const Options& options);

}  // namespace hv::pattern
