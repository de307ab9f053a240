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
    bool zeroShift = false;              // refine a constant offset of x with the lattice
    // How the face that asks spells the options a message may suggest: the command's flags
    // unless it says otherwise, so that a Python or page user is told what to type there.
    struct Names {
        std::string pressureGuess = "--pressure-guess";
        std::string pressureRange = "--pressure-range";
        std::string zeroShift = "--zero-shift";
    } names;
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
    double expected = kNone;        // expected relative intensity, the strongest in range 100
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
    // How well the standard's expected pattern is explained: the share of the expected
    // intensity in range that used reflections carry (NaN for energy-dispersive spectra,
    // whose intensities the source spectrum sets), and how many of the (up to three)
    // strongest expected reflections in range are used.
    double fom = kNone;
    int strongFound = 0, strongExpected = 0;
    // The trend of a_i with position, as the constant offset of x (in the pattern's x unit)
    // that would make it, with its sigma; NaN below three used reflections.
    double trend = kNone, sigmaTrend = kNone;
    // The refined offset of x with --zero-shift (the fitted positions minus it are the true
    // ones); NaN otherwise.
    double zeroShift = kNone, sigmaZeroShift = kNone;
};

// Finds the standard's lattice in the pattern, fits every predicted reflection, leaves out
// the insignificant, the outliers and reflections that share a data peak with a reason, and
// gives the used peaks to the core's Fit, so that result is exactly Fit(standard, tCelsius,
// used peaks, sigmaT) (with zeroShift, of the spacings at the refined offset, sigma_a the
// larger of Fit's and the joint fit's of a and the offset).
//
// The search: candidate peaks (5 sigma of prominence; single-point spikes are none) are
// detected once; lattice parameters between V/V0 0.5 and the volume at -0.5 GPa at the
// temperature (or those of the pressure range, clamped to what the model reaches, or within
// max(2 GPa, 20 %) of the guess, through the core's inverse) are scored by how many of the
// standard's reflections inside the pattern fall on a candidate. A lattice is recognised only
// when its expected pattern (the structure's intensities: form factors, multiplicity,
// Debye-Waller, Lorentz-polarisation) is there: three or more explained peaks (two near a
// guess) of agreeing widths; none of its three strongest reflections in range absent where
// the explained peaks' scale puts it 25 sigma above the noise (unless it lies under another
// peak or in a detector gap); no two peaks more than 6 times stronger than the structure
// makes them (expected intensities below 5 % of the strongest counted as 5 %) of which one
// leads the pattern (0.8 times the strongest expected reflections' peaks: another lattice,
// as a metal's 111 where rock salt has a weak one; otherwise such peaks count as other
// phases' and hidden); and at least 30 % of the expected intensity explained. Energy-
// dispersive spectra: positions only, four or more explained and at least half of those in
// range. No recognised lattice, or two explaining as many about as well, is an error with
// the reason, never a guess; but when the whole pattern (below) refuses the best lattice, or
// one of two equally good, the next ones the search accepted (up to two) are fitted, and the
// first it accepts is the result, as a warning that says so.
//
// The fit: each predicted reflection (neighbours whose windows of +-4 widths overlap, up to
// eight, together, with up to four other clear peaks inside the window and clear of the
// reflections' places: other phases' tails would pull them) gets a pseudo-Voigt (position,
// height, FWHM, mixing) on a linear background by Eigen's Levenberg-Marquardt, weighted by
// the pattern's sigma or else by
// counting statistics (variance proportional to the intensity; the factor, 1 for raw counts,
// estimated from the point-to-point scatter, so normalised intensities work too). sigma of
// the position comes from the covariance, times sqrt(reduced chi-square) above 1, and goes
// to d by SpacingSlope. A reflection is used when its height exceeds 5 of its sigma, its
// position lies within 2 widths of the prediction, its width is sane and no other reflection
// sits on the same data peak; of the used ones, an a_i more than 3 sigma from the weighted
// mean of the others leaves, worst first.
//
// Status: ok needs three or more used reflections including the three strongest expected
// in range; two used (near a guess, with listed reflections, or with outliers left out),
// strong ones not used, outliers left out, a trend of a_i beyond 3 sigma (a zero or distance
// error), a pressure below 0 beyond 2 sigma (tension), used reflections that carry less than
// half the expected intensity in range, or used peaks that an fcc or bcc lattice of another
// a explains as well (on its places, heights within a factor 4 of its pattern, and every
// reflection it makes clear seen at a quarter of its height or more, or all but one where
// two more of its own are seen: rock salt's even reflections alone are bcc's at a/sqrt2),
// or matches a coincidence could make (the chance
// that the best of the lattices searched, one per candidate window of log a and zero offset
// tried, lands as many of the reflections in range on candidates, each with the share of
// log d the candidates' windows cover, is 1e-3 or more: a crowded pattern) make a warning
// that says which;
// fewer than two, or two of a lattice that three peaks recognised without a guess, is an
// error. A pressure from a coincidence is never given: the fitted reflections are refused
// (an error that says why) when a lattice of the searched range would put as many of them
// as closely (3 sigma of d) on the pattern's peaks, and (from three used) the pattern's own
// peaks drawn at random agree with the structure's intensities as well as they do, with a
// chance of 1e-2 or more (a warning from 1e-3; near a guess or with listed reflections
// refused only from 0.1), and, in a pattern
// crowded with other phases' peaks, when their intensities are not the structure's under
// texture (a chi-square of log intensity ratios, texture sd 0.6 and the fit's error, on a
// scale that allows the Debye-Waller B to differ by up to 4 A^2, absent reflections counted
// where they should show, chance below 1e-3) or when the fcc or bcc lattice above explains
// them too without a guess; outside a crowd those two are warnings. A refused lattice uses
// no reflection (its rows say so), explains nothing (fom 0) and has no trend.
//
// A hexagonal standard (Re) is searched over its volumes and c/a 1.59 to 1.62; its rows
// carry the hkl with n 0 and no a_i, the result a and c with their sigmas, and it needs
// three used reflections (ok from four); zeroShift is refused for it.
//
// The work per pattern is bounded: at most max(4e6, 1.5e6 x predicted reflections + 200 x
// points) units (a unit is one point of one profile evaluated, or its share of a QR step of
// the minimiser; a clean reflection needs some 50,000 to 100,000), with at most 400 values
// of h^2+k^2+l^2 predicted, 60 candidates, 48 lattices scored per search and 81 searches
// with zeroShift.
Outcome FitPattern(const Pattern& pattern, const Options& options);

// The reader's rules for arrays from elsewhere (equal lengths, at least kMinPoints, finite
// values, sigma 0 or more, x strictly rising or falling); FitPattern applies them too.
bool CheckPattern(const Pattern& pattern, std::string& why);

}  // namespace hv::pattern
