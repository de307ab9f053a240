// Candidate peaks: the clear maxima of a lightly smoothed pattern, each with its prominence,
// width and how far in log d it may sit from a prediction. A powder ring makes a peak a few
// points wide; a single bright point (a single-crystal spot, a hot pixel) is no candidate.
#include "pattern/steps.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace hv::pattern::detail {

namespace {

// Whether the maximum of the smoothed pattern at i is one raw point: the highest raw point
// near i stands above base and neither raw neighbour reaches a third of its height, which a
// peak of 2.5 or more points per FWHM always does (about half its height).
bool Spike(const Work& w, std::size_t i, double base)
{
    const std::size_t n = w.y.size();
    const std::size_t lo = i >= 2 ? i - 2 : 0, hi = std::min(n - 1, i + 2);
    std::size_t top = lo;
    for (std::size_t k = lo; k <= hi; ++k) {
        if (w.y[k] > w.y[top]) top = k;
    }
    const double height = w.y[top] - base;
    if (!(height > 0)) return false;
    const double left = top > 0 ? w.y[top - 1] - base : 0, right = top + 1 < n ? w.y[top + 1] - base : 0;
    return left < height / 3 && right < height / 3;
}

}  // namespace

std::vector<Candidate> DetectPeaks(const Work& w, double zero)
{
    const std::size_t n = w.x.size();
    std::vector<Candidate> out;
    if (n < 7) return out;
    // Three-point running mean: enough to keep noise from making maxima,
    // narrow enough that a peak 2.5 points wide keeps its dip beside a taller neighbour.
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= kSmoothPoints / 2 ? i - kSmoothPoints / 2 : 0, hi = std::min(n - 1, i + kSmoothPoints / 2);
        double sum = 0;
        for (std::size_t k = lo; k <= hi; ++k) sum += w.y[k];
        s[i] = sum / static_cast<double>(hi - lo + 1);
    }
    const std::size_t reach = std::max<std::size_t>(10, n / 30);
    for (std::size_t i = 2; i + 2 < n; ++i) {
        if (!(s[i] > s[i - 1] && s[i] >= s[i + 1])) continue;
        // Prominence within reach: the lowest point on each side before a higher one.
        double leftMin = s[i], rightMin = s[i];
        std::size_t k = i;
        while (k > 0 && i - k < reach) {
            --k;
            if (s[k] > s[i]) break;
            leftMin = std::min(leftMin, s[k]);
        }
        k = i;
        while (k + 1 < n && k - i < reach) {
            ++k;
            if (s[k] > s[i]) break;
            rightMin = std::min(rightMin, s[k]);
        }
        const double base = std::max(leftMin, rightMin);
        const double prominence = s[i] - base;
        // The noise of the mean, at the top and at the base.
        const double noise = std::sqrt(w.var[i] / static_cast<double>(kSmoothPoints) * 2);
        const double significance = prominence / noise;
        if (!(significance >= kClearSigma)) continue;
        if (Spike(w, i, base)) continue;
        // Width at half the prominence, interpolated between points.
        const double half = base + prominence / 2;
        std::size_t l = i, r = i;
        while (l > 0 && i - l < reach && s[l] > half) --l;
        while (r + 1 < n && r - i < reach && s[r] > half) ++r;
        const auto cross = [&](std::size_t a, std::size_t b) {
            const double f = (s[a] - half) / (s[a] - s[b]);
            return w.x[a] + (std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.5) * (w.x[b] - w.x[a]);
        };
        const double xl = s[l] > half ? w.x[l] : cross(l + 1, l);
        const double xr = s[r] > half ? w.x[r] : cross(r - 1, r);
        // The top by a parabola through three points.
        const double den = s[i - 1] - 2 * s[i] + s[i + 1];
        double shift = den < 0 ? 0.5 * (s[i - 1] - s[i + 1]) / den : 0;
        shift = std::clamp(shift, -0.5, 0.5);
        Candidate c;
        c.x = w.x[i] + shift * (shift > 0 ? w.x[i + 1] - w.x[i] : w.x[i] - w.x[i - 1]);
        c.fwhm = std::max(xr - xl, w.step);
        c.prominence = prominence;
        c.d = SpacingAt(w.unit, c.x - zero, w.geometry);
        if (!(c.d > 0)) continue;
        c.logD = std::log(c.d);
        c.significance = significance;
        const double slope = SpacingSlope(w.unit, c.x - zero, w.geometry);
        c.tolLog = slope * (0.35 * c.fwhm + w.step) / c.d;
        if (!std::isfinite(c.tolLog) || !(c.tolLog > 0)) continue;
        out.push_back(c);
    }
    // The clearest ones, by rising d afterwards for the matching.
    std::sort(out.begin(), out.end(), [](const Candidate& a, const Candidate& b) { return a.significance > b.significance; });
    if (out.size() > kMaxCandidates) out.resize(kMaxCandidates);
    std::sort(out.begin(), out.end(), [](const Candidate& a, const Candidate& b) { return a.logD < b.logD; });
    return out;
}


}  // namespace hv::pattern::detail
