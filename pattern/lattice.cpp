// The lattice of the fitted reflections beyond their mean: the trend of a_i with position,
// which a constant error of x (a zero error of 2-theta, a drifted calibration) makes, and
// the fit of a together with such an offset.
#include "pattern/steps.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace hv::pattern::detail {

namespace {

// (dd/dx) / d at x, signed: d falls with 2-theta, q and energy and is x itself in d.
double RelativeSlope(const Work& w, double x)
{
    const double d = SpacingAt(w.unit, x, w.geometry);
    const double slope = SpacingSlope(w.unit, x, w.geometry);
    return (w.unit == XUnit::DAngstrom ? slope : -slope) / d;
}

}  // namespace

Trend TrendOf(const std::vector<PeakRow>& rows, const Work& w)
{
    // a_i = a (1 + u_i delta) to first order when every x is off by delta: the slope of a_i
    // against a u_i is delta itself.
    std::vector<double> v, y, wt;
    double sumA = 0;
    for (const PeakRow& r : rows) {
        if (!r.used) continue;
        const double sa = SigmaOfAI(r);
        v.push_back(RelativeSlope(w, r.position));
        y.push_back(r.aI);
        wt.push_back(1 / (sa * sa));
        sumA += r.aI;
    }
    const std::size_t n = y.size();
    Trend t;
    if (n < 3) return t;
    const double a = sumA / static_cast<double>(n);
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = a * v[i];
        s += wt[i];
        sx += wt[i] * xi;
        sy += wt[i] * y[i];
        sxx += wt[i] * xi * xi;
        sxy += wt[i] * xi * y[i];
    }
    const double den = s * sxx - sx * sx;
    if (!(den > 0) || !std::isfinite(den)) return t;
    const double slope = (s * sxy - sx * sy) / den, icpt = (sxx * sy - sx * sxy) / den;
    double chi2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = y[i] - icpt - slope * a * v[i];
        chi2 += wt[i] * r * r;
    }
    const double scale = n > 2 ? std::max(1.0, chi2 / static_cast<double>(n - 2)) : 1.0;
    t.offset = slope;
    t.sigma = std::sqrt(s / den * scale);
    return t;
}

ZeroFit FitWithZero(const std::vector<PeakRow>& rows, const Work& w, double zeroStart)
{
    struct Obs {
        double x, sigma, rootN;
    };
    std::vector<Obs> obs;
    for (const PeakRow& r : rows) {
        if (r.used) obs.push_back({r.position, r.sigmaPosition, std::sqrt(static_cast<double>(r.reflection.n))});
    }
    ZeroFit out;
    const std::size_t n = obs.size();
    if (n < 3) return out;
    double a = 0;
    for (const Obs& o : obs) a += SpacingAt(w.unit, o.x - zeroStart, w.geometry) * o.rootN;
    a /= static_cast<double>(n);
    double z = zeroStart;
    double j11 = 0, j12 = 0, j22 = 0, chi2 = 0;
    // Gauss-Newton on x_i = X(a / sqrt(n_i)) + z; it converges in a few steps from the
    // search's lattice.
    for (int iteration = 0; iteration < 30; ++iteration) {
        j11 = j12 = j22 = chi2 = 0;
        double g1 = 0, g2 = 0;
        for (const Obs& o : obs) {
            const double d = a / o.rootN;
            const double x = PositionOf(w.unit, d, w.geometry) + z;
            const double dxdd = 1 / (RelativeSlope(w, x - z) * d);  // dx/dd
            const double ja = dxdd / o.rootN, wt = 1 / (o.sigma * o.sigma), r = o.x - x;
            if (!std::isfinite(x) || !std::isfinite(ja)) return out;
            j11 += wt * ja * ja;
            j12 += wt * ja;
            j22 += wt;
            g1 += wt * ja * r;
            g2 += wt * r;
            chi2 += wt * r * r;
        }
        const double det = j11 * j22 - j12 * j12;
        if (!(det > 0)) return out;
        const double da = (j22 * g1 - j12 * g2) / det, dz = (j11 * g2 - j12 * g1) / det;
        a += da;
        z += dz;
        if (std::fabs(da) < 1e-12 * a && std::fabs(dz) < 1e-9 * (w.step + std::fabs(z))) break;
    }
    const double det = j11 * j22 - j12 * j12;
    const double scale = std::max(1.0, chi2 / static_cast<double>(n - 2));
    out.a = a;
    out.zero = z;
    out.sigmaA = std::sqrt(j22 / det * scale);
    out.sigmaZero = std::sqrt(j11 / det * scale);
    out.ok = std::isfinite(out.a) && out.a > 0 && std::isfinite(out.zero) && std::isfinite(out.sigmaA);
    return out;
}

void Spacings(std::vector<Slot>& slots, const Work& w, double zero)
{
    for (Slot& s : slots) {
        PeakRow& r = s.row;
        const PeakFit& f = s.fit;
        if (!std::isnan(f.position)) {
            r.position = f.position;
            r.sigmaPosition = f.sigmaPosition;
            r.fwhm = f.fwhm;
            r.eta = f.eta;
            r.height = f.height;
            r.d = SpacingAt(w.unit, f.position - zero, w.geometry);
            r.sigmaD = SpacingSlope(w.unit, f.position - zero, w.geometry) * f.sigmaPosition;
            // a_i means nothing for a hexagonal cell's two edges (n 0) and stays NaN there.
            if (r.reflection.n > 0) r.aI = r.d * std::sqrt(static_cast<double>(r.reflection.n));
        }
        if (!s.active) continue;
        std::string why;
        Peak peak{r.reflection, r.d, r.sigmaD};
        if (!CheckPeak(peak, why) || !(r.sigmaD > 0) || !std::isfinite(r.sigmaD)) {
            r.note = CheckPeak(peak, why) ? "no uncertainty of d" : why;
            r.used = false;
            s.active = false;
            continue;
        }
        r.used = true;
    }
}


}  // namespace hv::pattern::detail
