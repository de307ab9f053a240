// What the pictures show beside the fit: the F-f points and their line, and the K0-K0'
// confidence ellipses.
#include "samplefit/samplefit.h"

#include <cmath>
#include <numbers>

namespace hv::samplefit {

std::vector<FfPoint> FfPoints(std::span<const Point> points, double v0, std::span<const double> pressures)
{
    std::vector<FfPoint> out(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point& q = points[i];
        const double p = pressures.empty() ? q.p : pressures[i];
        FfPoint& o = out[i];
        o.f = (std::pow(v0 / q.v, 2.0 / 3) - 1) / 2;
        const double one = 1 + 2 * o.f;
        // df/dV = -(1 + 2f) / (3 V).
        o.sigmaf = one / (3 * q.v) * q.sigmaV;
        if (!(std::fabs(o.f) > 1e-9) || !(one > 0)) continue;
        const double g = 3 * o.f * std::pow(one, 2.5);
        o.F = p / g;
        // d ln g / df = 1/f + 5/(1 + 2f): V moves F through f only, P is measured on its own.
        const double dlng = (1 + 7 * o.f) / (o.f * one);
        const double fromP = q.sigmaP / g, fromV = o.F * dlng * o.sigmaf;
        o.sigmaF = std::sqrt(fromP * fromP + fromV * fromV);
    }
    return out;
}

Line FfLine(std::span<const FfPoint> points)
{
    bool weighted = true;
    int n = 0;
    for (const FfPoint& p : points) {
        if (std::isnan(p.F)) continue;
        ++n;
        if (!(p.sigmaF > 0)) weighted = false;
    }
    Line line;
    if (n < 2) return line;
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const FfPoint& p : points) {
        if (std::isnan(p.F)) continue;
        const double w = weighted ? 1 / (p.sigmaF * p.sigmaF) : 1;
        s += w;
        sx += w * p.f;
        sy += w * p.F;
        sxx += w * p.f * p.f;
        sxy += w * p.f * p.F;
    }
    const double det = s * sxx - sx * sx;
    if (!(det > 0)) return line;
    line.intercept = (sxx * sy - sx * sxy) / det;
    line.slope = (s * sxy - sx * sy) / det;
    if (weighted) {
        line.sigmaIntercept = std::sqrt(sxx / det);
        line.sigmaSlope = std::sqrt(s / det);
    }
    return line;
}

std::vector<XY> Ellipse(const Result& r, double deltaChi2, int count)
{
    std::vector<XY> out;
    if (!r.ok || !r.refined[kK0] || !r.refined[kK0p] || count < 3 || !(deltaChi2 > 0)) return out;
    const double a = r.covariance[kK0][kK0], b = r.covariance[kK0][kK0p], c = r.covariance[kK0p][kK0p];
    // Cholesky factor of the 2x2 block: the unit circle maps onto the ellipse.
    const double l11 = std::sqrt(a), l21 = b / l11, l22 = std::sqrt(std::max(0.0, c - l21 * l21));
    const double k = std::sqrt(deltaChi2);
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double t = 2 * std::numbers::pi * (i == count - 1 ? 0 : i) / (count - 1);
        const double u = std::cos(t), w = std::sin(t);
        out.push_back({r.value[kK0] + k * l11 * u, r.value[kK0p] + k * (l21 * u + l22 * w)});
    }
    return out;
}

}  // namespace hv::samplefit
