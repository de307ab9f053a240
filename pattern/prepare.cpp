// The points as the fit sees them: the unit and the geometry chosen, rising x inside the
// range, and every point's variance.
#include "pattern/steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace hv::pattern::detail {

Outcome Failed(Outcome o, std::string message)
{
    o.result = Result{};
    o.result.status = Status::Error;
    o.result.message = std::move(message);
    return o;
}

std::string Fixed(double v, int digits)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
    return buffer;
}

// Positions and widths in messages: six significant digits.
std::string Sig(double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return kNone;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}


double Work::Noise(double at) const
{
    const auto it = std::lower_bound(x.begin(), x.end(), at);
    const std::size_t i = std::min(static_cast<std::size_t>(it - x.begin()), x.size() - 1);
    // The candidates' running mean's noise at the top and at the base.
    return std::sqrt(var[i] / static_cast<double>(kSmoothPoints) * 2);
}

bool Work::Blind(double at) const
{
    const auto it = std::lower_bound(x.begin(), x.end(), at);
    const std::size_t i = std::min(static_cast<std::size_t>(it - x.begin()), x.size() - 1);
    return blind[i] || (i > 0 && blind[i - 1]);
}

std::vector<double> MeanOfThree(const std::vector<double>& y)
{
    const std::size_t m = y.size();
    std::vector<double> mean(m);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t a = i ? i - 1 : 0, b = std::min(m - 1, i + 1);
        double s = 0;
        for (std::size_t k = a; k <= b; ++k) s += y[k];
        mean[i] = s / static_cast<double>(b - a + 1);
    }
    return mean;
}

namespace {

// Single-crystal spikes (one or two points far above both points beside them, which no ring
// of 2.5 or more points per FWHM makes) drawn straight across, each point as uncertain as
// the spike was high: a spike beside a ring neither hides it from the search nor pulls its fit.
void DrawAcrossSpikes(Work& w)
{
    std::vector<double>& y = w.y;
    const std::size_t n = y.size();
    for (std::size_t i = 2; i + 4 < n; ++i) {
        for (const std::size_t width : {std::size_t{1}, std::size_t{2}}) {
            // Above the points two out, against the points right beside it.
            const double left = y[i - 1], right = y[i + width];
            const double base = std::min(y[i - 2], y[i + width + 1]);
            double low = y[i];
            for (std::size_t k = i; k < i + width; ++k) low = std::min(low, y[k]);
            const double rise = low - base, beside = std::max(left, right) - base;
            if (!(rise > kSpikeRatio * beside) || !(rise > kClearSigma * std::sqrt(w.var[i]))) continue;
            for (std::size_t k = i; k < i + width; ++k) {
                const double f = static_cast<double>(k - i + 1) / static_cast<double>(width + 1);
                const double spike = y[k];
                y[k] = left + f * (right - left);
                w.var[k] += (spike - y[k]) * (spike - y[k]);
            }
            i += width - 1;
            break;
        }
    }
}

}  // namespace

std::string Prepare(const Pattern& pattern, const Options& options, Outcome& o, Work& w)
{
    std::string why;
    // The unit and the geometry: what the user says wins over the file.
    if (options.unit) {
        o.unit = *options.unit;
        o.unitSource = "user";
    } else if (pattern.unit) {
        o.unit = *pattern.unit;
        o.unitSource = "file";
    } else {
        o.unit = XUnit::TwoThetaDeg;
        o.unitSource = "assumed";
    }
    const bool userWavelength = !std::isnan(options.wavelength), userEnergy = !std::isnan(options.energy);
    if (userWavelength && userEnergy) return "give the wavelength or the energy, not both";
    if (userWavelength && !(options.wavelength > 0 && std::isfinite(options.wavelength))) {
        return "the wavelength must be a positive number of angstrom";
    }
    if (userEnergy && !(options.energy > 0 && std::isfinite(options.energy))) {
        return "the energy must be a positive number of keV";
    }
    if (NeedsWavelength(o.unit)) {
        if (userWavelength) {
            o.wavelength = options.wavelength;
            o.wavelengthSource = "user";
        } else if (userEnergy) {
            o.wavelength = WavelengthOfEnergy(options.energy);
            o.wavelengthSource = "energy";
        } else if (!std::isnan(pattern.wavelength)) {
            o.wavelength = pattern.wavelength;
            o.wavelengthSource = "file";
        }
    }
    w.unit = o.unit;
    w.geometry = Geometry{o.wavelength, options.twoThetaFixed};
    const Geometry& geometry = w.geometry;
    if (!CheckGeometry(o.unit, geometry, why)) return why;
    if (!std::isnan(options.sigmaT) && !(options.sigmaT >= 0 && std::isfinite(options.sigmaT))) {
        return "sigma_t must be a number of kelvin, 0 or more";
    }

    // The arrays as any caller may hand them over, not only the reader.
    if (!CheckPattern(pattern, why)) return why;
    const std::size_t n = pattern.x.size();
    const bool rising = pattern.x[1] > pattern.x[0];
    const bool lo = !std::isnan(options.xLo), hi = !std::isnan(options.xHi);
    if ((lo && !std::isfinite(options.xLo)) || (hi && !std::isfinite(options.xHi)) ||
        (lo && hi && !(options.xLo < options.xHi))) {
        return "the range must run from a lower to a higher position";
    }

    // Rising x inside the range, points without a spacing (2-theta 0, q 0) left aside.
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = rising ? k : n - 1 - k;
        const double x = pattern.x[i];
        if ((lo && x < options.xLo) || (hi && x > options.xHi)) continue;
        const double d = SpacingAt(o.unit, x, geometry);
        if (!(d > 0) || !std::isfinite(d)) continue;
        w.x.push_back(x);
        w.y.push_back(pattern.intensity[i]);
        w.d.push_back(d);
        w.index.push_back(i);
    }
    const std::size_t m = w.x.size();
    if (m < kMinPoints) {
        return std::to_string(m) + " points with a spacing inside the range; at least " + std::to_string(kMinPoints) +
               " are needed";
    }
    {
        std::vector<double> steps(m - 1);
        for (std::size_t i = 1; i < m; ++i) steps[i - 1] = w.x[i] - w.x[i - 1];
        w.step = Median(std::move(steps));
    }

    // Variances: the file's sigma, else counting statistics. The counts' scale (1 for raw
    // counts, other for normalised intensities) comes from the point-to-point scatter of
    // second differences, which a smooth profile hardly has: var = g * max(I, g), with I
    // averaged over three points so that a weight does not follow its own point's noise.
    w.var.resize(m);
    std::vector<double> mean3 = MeanOfThree(w.y);
    bool haveSigma = !pattern.sigma.empty();
    double smallest = std::numeric_limits<double>::infinity();
    if (haveSigma) {
        for (std::size_t i = 0; i < m; ++i) {
            const double s = pattern.sigma[w.index[i]];
            if (s > 0) smallest = std::min(smallest, s);
        }
        haveSigma = std::isfinite(smallest);
    }
    if (haveSigma) {
        // A zero sigma (an empty channel) gets the smallest one the file gives.
        for (std::size_t i = 0; i < m; ++i) {
            const double s = std::max(pattern.sigma[w.index[i]], smallest);
            w.var[i] = s * s;
        }
    } else {
        std::vector<double> scaled, plain;
        for (std::size_t i = 1; i + 1 < m; ++i) {
            const double dd = std::fabs(w.y[i + 1] - 2 * w.y[i] + w.y[i - 1]);
            plain.push_back(dd);
            if (mean3[i] > 0) scaled.push_back(dd / std::sqrt(6 * mean3[i]));
        }
        double g = 1.4826 * Median(scaled);
        g *= g;
        const double ymax = *std::max_element(w.y.begin(), w.y.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
        if (scaled.size() >= m / 2 && g > 0 && std::isfinite(g)) {
            for (std::size_t i = 0; i < m; ++i) w.var[i] = g * std::max(mean3[i], g);
        } else {
            // Not counts (background subtracted, or no scatter at all): one noise level for all.
            double s = 1.4826 * Median(plain) / std::sqrt(6.0);
            s = std::max({s, 1e-9 * std::fabs(ymax), 1e-300});
            for (std::size_t i = 0; i < m; ++i) w.var[i] = s * s;
        }
        for (double& v : w.var) {
            if (!(v > 0) || !std::isfinite(v)) v = 1;
        }
    }

    DrawAcrossSpikes(w);
    w.mean3 = MeanOfThree(w.y);
    // Runs of five or more exact zeros are no measurement (a detector gap, the edge of the
    // image): nothing there counts as present or absent.
    w.blind.assign(m, 0);
    for (std::size_t i = 0; i < m;) {
        std::size_t j = i;
        while (j < m && w.y[j] == 0) ++j;
        if (j - i >= 5) std::fill(w.blind.begin() + static_cast<std::ptrdiff_t>(i), w.blind.begin() + static_cast<std::ptrdiff_t>(j), 1);
        i = j > i ? j : i + 1;
    }
    w.intensitiesKnown = o.unit != XUnit::EnergyKev;
    return {};
}

}  // namespace hv::pattern::detail
