// The profile fit: pseudo-Voigt peaks with a shared straight background over one window, by
// Eigen's Levenberg-Marquardt, with the work it may spend counted; and the expected widths.
#include "pattern/steps.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace hv::pattern::detail {

namespace {

// Pseudo-Voigt peaks with a shared straight background over one window. Parameters:
// b0, b1, then per peak position, height, log(fwhm), logit(eta).
struct ProfileFunctor : Eigen::DenseFunctor<double> {
    const double* x;
    const double* y;
    const double* inv;  // 1 / sigma
    double centre;
    int peaks;
    long* budget;  // work left; the fit stops when it runs out
    // Where a peak may roam: beyond these it has left its window and the fit stops.
    double xMin = -HUGE_VAL, xMax = HUGE_VAL, logWMin = -HUGE_VAL, logWMax = HUGE_VAL;
    mutable int strayed = -1;  // the peak that left, if one did

    ProfileFunctor(const double* x_, const double* y_, const double* inv_, int m, int k, double c, long* b)
        : DenseFunctor<double>(2 + 4 * k, m), x(x_), y(y_), inv(inv_), centre(c), peaks(k), budget(b)
    {
    }

    // False when the budget is spent or a peak strays: Eigen's minimiser stops on a
    // negative return. A Jacobian costs the minimiser a QR decomposition as well.
    bool Spend(bool jacobian, const InputType& p) const
    {
        const long np = inputs();
        *budget -= static_cast<long>(values()) * (jacobian ? 2 * peaks + np * np : peaks);
        for (int k = 0; k < peaks; ++k) {
            const double pos = p[2 + 4 * k], logW = p[4 + 4 * k];
            if (!(pos >= xMin && pos <= xMax && logW >= logWMin && logW <= logWMax)) {
                strayed = k;
                return false;
            }
        }
        return *budget >= 0;
    }

    static double Eta(double u) { return 1 / (1 + std::exp(-u)); }

    int operator()(const InputType& p, ValueType& f) const
    {
        if (!Spend(false, p)) return -1;
        for (int i = 0; i < values(); ++i) {
            double model = p[0] + p[1] * (x[i] - centre);
            for (int k = 0; k < peaks; ++k) {
                const double* q = p.data() + 2 + 4 * k;
                const double fw = std::exp(q[2]), eta = Eta(q[3]);
                const double t = (x[i] - q[0]) / fw, s = 4 * t * t;
                model += q[1] * (eta / (1 + s) + (1 - eta) * std::exp(-kLn2 * s));
            }
            f[i] = (y[i] - model) * inv[i];
        }
        return 0;
    }

    int df(const InputType& p, JacobianType& j) const
    {
        if (!Spend(true, p)) return -1;
        for (int i = 0; i < values(); ++i) {
            const double wi = -inv[i];
            j(i, 0) = wi;
            j(i, 1) = wi * (x[i] - centre);
            for (int k = 0; k < peaks; ++k) {
                const double* q = p.data() + 2 + 4 * k;
                const double fw = std::exp(q[2]), eta = Eta(q[3]);
                const double t = (x[i] - q[0]) / fw, s = 4 * t * t;
                const double lor = 1 / (1 + s), gau = std::exp(-kLn2 * s);
                const double shape = eta * lor + (1 - eta) * gau;
                // d(shape)/ds, then s's dependence on position and log(fwhm).
                const double dShapeDs = -eta * lor * lor - (1 - eta) * kLn2 * gau;
                const double dsDx0 = -8 * t / fw, dsDlogW = -2 * s;
                const int c = 2 + 4 * k;
                j(i, c) = wi * q[1] * dShapeDs * dsDx0;
                j(i, c + 1) = wi * shape;
                j(i, c + 2) = wi * q[1] * dShapeDs * dsDlogW;
                j(i, c + 3) = wi * q[1] * (lor - gau) * eta * (1 - eta);
            }
        }
        return 0;
    }
};

}  // namespace

// The quick look: half Lorentzian, the expected width, the predicted place, on a straight
// background; it spares the full fit the reflections that are not there, and starts those
// that are.
std::vector<QuickHeight> QuickHeights(const Work& w, std::size_t lo, std::size_t hi, const std::vector<Start>& starts)
{
    const int m = static_cast<int>(hi - lo), k = static_cast<int>(starts.size());
    std::vector<QuickHeight> out(starts.size());
    if (m < k + 4) return out;
    const double centre = 0.5 * (w.x[lo] + w.x[hi - 1]);
    Eigen::MatrixXd a(m, k + 2);
    Eigen::VectorXd b(m);
    for (int i = 0; i < m; ++i) {
        const std::size_t at = lo + static_cast<std::size_t>(i);
        const double inv = w.blind[at] ? 0 : 1 / std::sqrt(w.var[at]);  // a gap is no data
        a(i, 0) = inv;
        a(i, 1) = inv * (w.x[at] - centre);
        for (int j = 0; j < k; ++j) {
            const Start& st = starts[static_cast<std::size_t>(j)];
            const double t = (w.x[at] - st.position) / st.fwhm, q = 4 * t * t;
            a(i, 2 + j) = inv * (0.5 / (1 + q) + 0.5 * std::exp(-kLn2 * q));
        }
        b[i] = inv * w.y[at];
    }
    const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(a);
    if (qr.rank() < k + 2) return out;
    const Eigen::VectorXd h = qr.solve(b);
    const long seen = std::count(w.blind.begin() + static_cast<std::ptrdiff_t>(lo), w.blind.begin() + static_cast<std::ptrdiff_t>(hi), 0);
    if (seen < k + 4) return out;
    const double chi2 = (a * h - b).squaredNorm() / static_cast<double>(seen - k - 2);
    const Eigen::MatrixXd cov = (a.transpose() * a).inverse() * std::max(1.0, chi2);
    for (int j = 0; j < k; ++j) {
        out[static_cast<std::size_t>(j)].height = h[2 + j];
        out[static_cast<std::size_t>(j)].sigma = std::sqrt(cov(2 + j, 2 + j));
    }
    return out;
}

ClusterFit FitCluster(const Work& w, std::size_t lo, std::size_t hi, const std::vector<Start>& starts, long& budget)
{
    ClusterFit out;
    const int m = static_cast<int>(hi - lo);
    const int k = static_cast<int>(starts.size());
    const int np = 2 + 4 * k;
    if (m < np + 3) return out;
    std::vector<double> inv(static_cast<std::size_t>(m));
    int seen = 0;  // points with data: a gap inside the window weighs nothing
    for (int i = 0; i < m; ++i) {
        const std::size_t at = lo + static_cast<std::size_t>(i);
        inv[static_cast<std::size_t>(i)] = w.blind[at] ? 0 : 1 / std::sqrt(w.var[at]);
        seen += !w.blind[at];
    }
    if (seen < np + 3) return out;
    out.centre = 0.5 * (w.x[lo] + w.x[hi - 1]);
    // The background first guessed through the means of the window's two ends.
    const std::size_t edge = std::max<std::size_t>(1, static_cast<std::size_t>(m) / 10);
    double yl = 0, yr = 0, xl = 0, xr = 0;
    for (std::size_t i = 0; i < edge; ++i) {
        yl += w.y[lo + i];
        xl += w.x[lo + i];
        yr += w.y[hi - 1 - i];
        xr += w.x[hi - 1 - i];
    }
    yl /= static_cast<double>(edge);
    yr /= static_cast<double>(edge);
    xl /= static_cast<double>(edge);
    xr /= static_cast<double>(edge);
    Eigen::VectorXd p(np);
    p[1] = xr > xl ? (yr - yl) / (xr - xl) : 0;
    p[0] = yl + p[1] * (out.centre - xl);
    for (int j = 0; j < k; ++j) {
        const Start& s = starts[static_cast<std::size_t>(j)];
        p[2 + 4 * j] = s.position;
        p[3 + 4 * j] = s.height;
        p[4 + 4 * j] = std::log(s.fwhm);
        p[5 + 4 * j] = 0;
    }
    ProfileFunctor functor(w.x.data() + lo, w.y.data() + lo, inv.data(), m, k, out.centre, &budget);
    const double span = w.x[hi - 1] - w.x[lo];
    functor.xMin = w.x[lo] - span / 2;
    functor.xMax = w.x[hi - 1] + span / 2;
    functor.logWMin = std::log(w.step / 10);
    functor.logWMax = std::log(2 * span);
    Eigen::LevenbergMarquardt<ProfileFunctor> lm(functor);
    lm.setMaxfev(40 * (np + 1));
    const auto status = lm.minimize(p);
    if (status == Eigen::LevenbergMarquardtSpace::UserAsked) {
        out.strayed = functor.strayed;
        out.outOfWork = out.strayed < 0;
        return out;
    }
    if (status == Eigen::LevenbergMarquardtSpace::ImproperInputParameters || !p.allFinite()) return out;

    // Covariance from the Jacobian at the minimum, scaled by the reduced chi-square above 1.
    Eigen::MatrixXd jac(m, np);
    Eigen::VectorXd res(m);
    long spare = std::numeric_limits<long>::max() / 2;
    ProfileFunctor final(w.x.data() + lo, w.y.data() + lo, inv.data(), m, k, out.centre, &spare);
    final.df(p, jac);
    final(p, res);
    const double chi2 = res.squaredNorm() / (seen - np);
    const Eigen::MatrixXd jtj = jac.transpose() * jac;
    const Eigen::MatrixXd cov = jtj.completeOrthogonalDecomposition().pseudoInverse() * std::max(1.0, chi2);
    out.ok = std::isfinite(chi2);
    out.b0 = p[0];
    out.b1 = p[1];
    for (int j = 0; j < k; ++j) {
        PeakFit f;
        const int c = 2 + 4 * j;
        f.position = p[c];
        f.height = p[c + 1];
        f.fwhm = std::exp(p[c + 2]);
        f.eta = ProfileFunctor::Eta(p[c + 3]);
        f.sigmaPosition = std::sqrt(cov(c, c));
        f.sigmaHeight = std::sqrt(cov(c + 1, c + 1));
        f.ok = std::isfinite(f.position) && std::isfinite(f.height) && std::isfinite(f.fwhm) &&
               std::isfinite(f.sigmaPosition) && f.sigmaPosition > 0 && std::isfinite(f.sigmaHeight);
        out.peaks.push_back(f);
    }
    return out;
}

double Shape(double x, const PeakFit& f)
{
    const double t = (x - f.position) / f.fwhm, s = 4 * t * t;
    return f.height * (f.eta / (1 + s) + (1 - f.eta) * std::exp(-kLn2 * s));
}

// The expected width at x, from the matched candidates: a straight line through them by
// least squares where two or more spread out, their median otherwise.
WidthModel WidthsOf(const std::vector<std::pair<double, double>>& points, double step)
{
    WidthModel m;
    std::vector<double> widths;
    for (const auto& p : points) widths.push_back(p.second);
    m.c0 = std::max(Median(widths), 2 * step);
    if (points.size() >= 3) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        const double k = static_cast<double>(points.size());
        for (const auto& [x, y] : points) {
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double den = k * sxx - sx * sx;
        if (den > 0) {
            const double c1 = (k * sxy - sx * sy) / den, c0 = (sy - c1 * sx) / k;
            // Only a line that stays positive across the points replaces the median.
            bool positive = true;
            for (const auto& p : points) positive = positive && c0 + c1 * p.first > step;
            if (positive && std::isfinite(c0) && std::isfinite(c1)) {
                m.c0 = c0;
                m.c1 = c1;
            }
        }
    }
    return m;
}

}  // namespace hv::pattern::detail
