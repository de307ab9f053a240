// A sample's equation of state from measured pressures and volumes: weighted least squares
// over the isotherms (and the Mie-Grueneisen-Debye thermal pressure) of core/eos.h, with the
// uncertainties of both P and V (and T) as effective variances. Also what the pictures need:
// the F-f points with their uncertainties and the K0-K0' confidence ellipses. Reading the
// points from CSV is here too, so that every face reads the same columns the same way.
//
// Standard library and Eigen only; no threads, no static state, no exceptions but
// std::bad_alloc: fit as many data sets at once as there are cores.
#pragma once

#include "core/eos.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv::samplefit {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum class Form { BM2, BM3, BM4, Vinet };

// "BM2", "BM3", "BM4", "Vinet"; ParseForm takes any letter case.
std::string_view FormName(Form form);
bool ParseForm(std::string_view text, Form& form);

// The parameters, in this order everywhere (arrays, covariance rows and columns).
enum Param { kV0, kK0, kK0p, kK0pp, kGamma0, kQ, kParams };
// "V0", "K0", "K0'", "K0''", "gamma0", "q" for people; "v0", "k0", "k0p", "k0pp", "gamma0",
// "q" for columns and options. ParseParam takes either, in any letter case.
std::string_view ParamLabel(int param);
std::string_view ParamKey(int param);
bool ParseParam(std::string_view text, int& param);

// One measurement. A sigma of 0 means the quantity carries no uncertainty (a column the
// file does not have); a given sigma must be positive.
struct Point {
    double p = kNaN, sigmaP = 0;   // GPa
    double v = kNaN, sigmaV = 0;   // any volume unit, the same for every point and V0
    double tK = kNaN, sigmaT = 0;  // kelvin; NaN when the data have no temperatures
    int64_t line = 0;              // where it came from, for messages (the file's line or the index + 1)
};

struct Options {
    Form form = Form::BM3;
    // A value fixes that parameter; BM2's K0' is always 4. Parameters the form does not have
    // must not be fixed.
    std::array<std::optional<double>, kParams> fixed{};
    // Starting values where wanted (NaN: guessed from the data).
    std::array<double, kParams> start{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    // P-V-T: with theta0 (K) the isotherm is at t0K and an MGD thermal pressure is added,
    // with gamma0 and q refined unless fixed; z formula units per cell of n atoms each turn
    // the volumes (cubic angstrom per cell) into molar volumes. Without theta0 all points
    // must share one temperature (or have none).
    double theta0 = kNaN;
    double t0K = 300;
    int z = 1, n = 1;
};

struct Result {
    bool ok = false;
    std::string message;  // why not, when not ok; otherwise empty
    Form form = Form::BM3;
    bool thermal = false;  // gamma0 and q belong to the fit
    std::array<bool, kParams> has{};      // the form (and the thermal part) has this parameter
    std::array<bool, kParams> refined{};  // refined rather than fixed
    std::array<double, kParams> value{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    std::array<double, kParams> sigma{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};  // NaN unless refined
    // Covariance and correlation of the refined parameters, indexed by Param; NaN elsewhere.
    std::array<std::array<double, kParams>, kParams> covariance{};
    std::array<std::array<double, kParams>, kParams> correlation{};
    double chi2 = kNaN, chi2Reduced = kNaN;  // reduced: NaN with as many points as parameters
    double maxAbsResidualSigma = kNaN;
    int nPoints = 0, nRefined = 0;
    int iterations = 0;  // rounds of new effective-variance weights
    // Per point, in input order.
    std::vector<double> pModel, residualP, sigmaEff, residualSigma;
    eos::Params params;  // the fitted equation of state, for curves and inverses
};

// The fit. Refused (ok false, a message naming the line where a point is at fault):
// no points, a non-finite P or V, V <= 0, a sigma <= 0 where given, no uncertainty at all
// on a point, temperatures on some points only, at or below 0 K, several temperatures
// without theta0, theta0 with one temperature, fewer points than refined parameters.
// A fit that does not converge or leaves parameters undetermined is refused too: a refused
// fit has no numbers.
//
// Weights: sigma_eff^2 = sigma_P^2 + (K(V)/V sigma_V)^2 + (dP/dT sigma_T)^2 from the current
// parameters, held for one Levenberg-Marquardt minimisation, then recomputed until the
// parameters stop changing. The covariance is (J^T W J)^-1 at the solution, multiplied by the
// reduced chi-square when that is above 1 (the scatter says the sigmas were too small), never
// shrunk below it (scatter smaller than the sigmas is chance, not better data).
Result Fit(std::span<const Point> points, const Options& options);

// The F-f plot of data against a V0: Eulerian strain f = ((V0/V)^(2/3) - 1)/2 and normalised
// stress F = P / (3 f (1 + 2f)^(5/2)), with sigma_F from sigma_P and sigma_V to first order
// (sigma_V through both P's slope and f). NaN F where f is too close to 0 to divide by.
struct FfPoint {
    double f = kNaN, sigmaf = kNaN;  // sigma of f from sigma_V
    double F = kNaN, sigmaF = kNaN;    // GPa
};
// pressures: P reduced to the isotherm (for P-V-T: P minus the thermal pressure), or the
// points' own P when empty.
std::vector<FfPoint> FfPoints(std::span<const Point> points, double v0, std::span<const double> pressures = {});

// A straight line F = intercept + slope f by weighted least squares over the points with F;
// for BM3 intercept = K0, slope = (3/2) K0 (K0' - 4). NaN with fewer than two points.
struct Line {
    double intercept = kNaN, slope = kNaN, sigmaIntercept = kNaN, sigmaSlope = kNaN;
};
Line FfLine(std::span<const FfPoint> points);

// Points of the K0-K0' confidence ellipse where chi-square has grown by deltaChi2 (2.30 for
// 68.3 %, 6.18 for 95.4 % with two parameters), from their 2x2 covariance block; closed (the
// last point repeats the first). Empty unless both are refined.
struct XY {
    double x = kNaN, y = kNaN;
};
std::vector<XY> Ellipse(const Result& result, double deltaChi2, int count = 181);

// Reading a CSV (comma or tab) with a header naming, in any order and any letter case,
// p_gpa, sigma_p_gpa, v (or volume), sigma_v, and optionally t_c (degrees Celsius, or kelvin
// with a trailing K) and sigma_t (kelvin). Other columns are passed over, so the pattern
// command's rows with added v and sigma_v columns read as they are. Missing sigma columns
// mean no uncertainty. Refused with a message naming the line: a missing column, an empty
// or unreadable number.
struct ReadOutcome {
    bool ok = false;
    std::string error;
    std::vector<Point> points;
    bool hasTemperature = false;
    bool inHeader = false;  // the error is the header's (a missing or doubled column)
};
ReadOutcome ReadPoints(std::string_view text);

// What every face writes of a fit, byte for byte alike: the header and the one row of
// parameters (numbers as the shortest text that reads back the same, empty where the form
// has no such parameter or it is fixed (sigma) or the fit failed), ...
constexpr std::string_view kCsvHeader =
    "form,n_points,v0,sigma_v0,k0,sigma_k0,k0p,sigma_k0p,k0pp,sigma_k0pp,gamma0,sigma_gamma0,q,sigma_q,"
    "chi2,chi2_reduced,max_abs_residual_sigma,status,message";
std::string CsvRow(const Result& result, Form form, std::size_t points);
// ... and the header and one row per point: its line, residual and F-f values.
constexpr std::string_view kResidualHeader =
    "line,v,p_gpa,p_fit_gpa,residual_gpa,sigma_eff_gpa,residual_sigma,f,sigma_f,F_gpa,sigma_F_gpa";
std::string ResidualRows(std::span<const Point> points, const Result& result);
// The points' pressures on the isotherm: for P-V-T the thermal pressure taken off.
std::vector<double> IsothermPressures(std::span<const Point> points, const Result& result);

}  // namespace hv::samplefit
