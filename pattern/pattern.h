// Integrated 1D diffraction patterns: reading the files integration programs write, and
// finding and fitting the pressure standard's reflections in them. Above the core: the
// fitted spacings go through the core's Fit, so a pattern's pressure is exactly the
// pressure of its peaks. Used by every face (command line, Python, the browser page).
//
// Standard library and Eigen only; no threads, no static state (call it from as many
// threads as you like, one pattern each), no exceptions but std::bad_alloc. Only ReadFile
// touches the file system.
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

// The format is told by content first (a GSAS "BANK" line: fxye; Fit2D's four header lines
// ending in the point count: chi; "'" comments: xye; "#" comments: xy), by the extension of
// name second; anything else is plain columns, whose non-numeric lines before the data are
// a header. Rows hold 2 (x, intensity) or 3 (x, intensity, sigma) numbers separated by
// blanks or commas. The last comment (or header) line before the data names the columns
// in .xy and plain files, and its first word, when it is a unit name ParseXUnit knows, the
// x unit. "Wavelength: 4.066e-11 m" (":" or "=", unit m, nm, pm or angstrom; a bare number
// below 1e-6 is metres) in a comment gives the wavelength. GSAS' x is read in centidegrees
// and given in degrees. Refused, with a message naming the file and, where there is one,
// the line: binary bytes, no rows of numbers, fewer than kMinPoints, x not strictly
// monotonic, NaN or infinite or out-of-range numbers, rows of other widths, a negative
// sigma, a point count the header promises and the file does not keep, more than
// kMaxFileBytes. name is only used for telling the format and for messages.
ReadOutcome ReadText(std::string_view bytes, std::string_view name);
// The same for a file; directories and files over kMaxFileBytes are refused unread.
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

// One predicted reflection and what its fit gave. Numbers NaN where there are none. One row
// per h^2+k^2+l^2: where several hkl share it (CsCl's 300 and 221), the listed one, or else
// the first that Reflections gives.
struct PeakRow {
    Reflection reflection;
    double predicted = kNone;       // where the searched lattice puts it, in the pattern's x unit
    double position = kNone;        // fitted, in the pattern's x unit
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
    std::vector<PeakRow> peaks;     // every predicted reflection inside the range, by position;
                                    // then listed reflections that are not, with a note
    // On the pattern's x, in its order: the fitted profiles plus background, and the local
    // linear backgrounds; NaN outside the fitted windows, empty when no lattice was found.
    std::vector<double> curve;
    std::vector<double> background;
};

// Finds the standard's lattice in the pattern, fits every predicted reflection, leaves out
// the insignificant and the outliers with a reason, and gives the used peaks to the core's
// Fit, so that result is exactly Fit(standard, tCelsius, used peaks, sigmaT).
//
// The search: candidate peaks (5 sigma of prominence) are detected once; lattice parameters
// between V/V0 0.5 and 1.1 (or those of the pressure range, or within max(2 GPa, 20 %) of the
// guess, through the core's inverse) are scored by how many of the standard's reflections
// inside the pattern fall on a candidate, so fixed ratios of d decide. Fewer than three
// explained peaks (two near a guess), or two different lattices explaining as many about as
// well, is an error, never a guess.
//
// The fit: each predicted reflection (neighbours whose windows of +-4 widths overlap, up to
// eight, together) gets a pseudo-Voigt (position, height, FWHM, mixing) on a linear
// background by Eigen's Levenberg-Marquardt, weighted by the pattern's sigma or else by
// counting statistics (variance proportional to the intensity; the factor, 1 for raw counts,
// estimated from the point-to-point scatter, so normalised intensities work too). sigma of
// the position comes from the covariance, times sqrt(reduced chi-square) above 1, and goes
// to d by SpacingSlope. A reflection is used when its height exceeds 5 of its sigma, its
// position lies within 2 widths of the prediction and its width is sane; of the used ones, an
// a_i more than 3 sigma from the weighted mean of the others leaves, worst first (the result
// is then a warning that names it). Fewer than two used reflections is an error. The work per
// pattern is bounded, whatever the input.
Outcome FitPattern(const Pattern& pattern, const Options& options);

}  // namespace hv::pattern
