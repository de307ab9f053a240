// Finding the standard's lattice in a pattern and fitting its reflections.
//
// The search detects candidate peaks once, then scores lattice parameters against them:
// every candidate votes, for every reflection it could be, for the lattice parameter that
// would put that reflection there; a lattice counts the reflections it explains, so a set of
// peaks at the standard's fixed ratios of d decides, never one strong peak. The fit then
// takes each predicted reflection (neighbours whose windows overlap together) with a
// pseudo-Voigt on a local linear background, by Eigen's Levenberg-Marquardt.
#include "pattern/pattern.h"

#include "core/inverse.h"
#include "core/numbers.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace hv::pattern {

namespace {

constexpr double kLn2 = 0.69314718055994530942;

// Candidates and lattices: a peak counts as clear at this many sigma of its prominence, and
// a lattice needs this many clear peaks (two when the user's guess supplies the rest).
constexpr double kClearSigma = 5;
constexpr int kMinMatched = 3;
constexpr int kMinMatchedNearGuess = 2;
// A fitted reflection is used above this many sigma of its height.
constexpr double kSignificantSigma = 5;
// Below this many sigma at a quick look a reflection is not fitted in full.
constexpr double kQuickSigma = 3;
// Leave-one-out outlier rule for a_i.
constexpr double kOutlierSigma = 3;
// Bounds on the work one pattern can cause.
constexpr std::size_t kMaxCandidates = 40;
constexpr int kMaxSquareSumPredicted = 400;
constexpr std::size_t kMaxClusterPeaks = 8;
constexpr int kMaxRounds = static_cast<int>(kMaxClusterPeaks) + 1;
// Work one pattern may spend (profile evaluations, points x peaks, and the QR steps of the
// minimiser): about twenty times what a pattern of eight reflections needs, so that no
// input can keep the fitter busy for long.
constexpr long kWorkBudget = 4'000'000;

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

// The pattern as the fit sees it: rising x inside the range, every point with a spacing.
struct Work {
    std::vector<double> x, y, var, d;
    std::vector<std::size_t> index;  // into the caller's arrays
    double step = 0;                 // median point spacing
};

// ---- Candidate peaks ----

struct Candidate {
    double x = 0, d = 0, logD = 0;
    double fwhm = 0;
    double significance = 0;
    double tolLog = 0;  // how far in log d it may sit from a prediction and still be it
};

std::vector<Candidate> DetectPeaks(const Work& w, XUnit unit, const Geometry& g)
{
    const std::size_t n = w.x.size();
    std::vector<Candidate> out;
    if (n < 7) return out;
    // Five-point running mean: enough to keep noise from making maxima, narrow enough for
    // peaks a few points wide.
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= 2 ? i - 2 : 0, hi = std::min(n - 1, i + 2);
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
        // The noise of a five-point mean, at the top and at the base.
        const double noise = std::sqrt(w.var[i] / 5 * 2);
        const double significance = prominence / noise;
        if (!(significance >= kClearSigma)) continue;
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
        c.d = SpacingAt(unit, c.x, g);
        if (!(c.d > 0)) continue;
        c.logD = std::log(c.d);
        c.significance = significance;
        const double slope = SpacingSlope(unit, c.x, g);
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

// ---- The search ----

// One value of h^2+k^2+l^2 the standard shows; several hkl may share it.
struct Family {
    int n = 0;
    Hkl hkl;
    double halfLogN = 0;
};

std::vector<Family> Families(const Standard& standard, int maxN)
{
    std::vector<Family> out;
    for (const Hkl& hkl : Reflections(standard, maxN)) {
        const int n = SquareSum(hkl);
        if (!out.empty() && out.back().n == n) continue;
        out.push_back({n, hkl, 0.5 * std::log(static_cast<double>(n))});
    }
    return out;
}

struct Match {
    std::size_t family = 0, candidate = 0;
};

struct Lattice {
    double a = kNone;
    int matched = 0;
    double score = -1e300;
    std::vector<Match> matches;
};

// How well lattice parameter exp(logA) explains the candidates: one point per reflection
// in the pattern's d range that a clear candidate sits on, a little for its clarity, a
// quarter point off for each that no candidate shows.
Lattice Score(double logA, const std::vector<Family>& families, const std::vector<Candidate>& cands, double logDMin,
              double logDMax)
{
    Lattice l;
    l.a = std::exp(logA);
    l.score = 0;
    for (std::size_t f = 0; f < families.size(); ++f) {
        const double logD = logA - families[f].halfLogN;
        if (logD < logDMin || logD > logDMax) continue;
        // The nearest candidate on either side in log d.
        const auto it = std::lower_bound(cands.begin(), cands.end(), logD,
                                         [](const Candidate& c, double v) { return c.logD < v; });
        std::size_t best = cands.size();
        double bestOff = 1e300;
        for (auto k : {it - cands.begin() - 1, it - cands.begin()}) {
            if (k < 0 || static_cast<std::size_t>(k) >= cands.size()) continue;
            const Candidate& c = cands[static_cast<std::size_t>(k)];
            const double off = std::fabs(c.logD - logD) / c.tolLog;
            if (off <= 1 && off < bestOff) {
                bestOff = off;
                best = static_cast<std::size_t>(k);
            }
        }
        if (best == cands.size()) {
            l.score -= 0.25;
            continue;
        }
        ++l.matched;
        l.score += 1 + 0.05 * std::min(std::log10(cands[best].significance), 3.0);
        l.matches.push_back({f, best});
    }
    // A candidate claimed by two reflections counts once.
    for (std::size_t i = 1; i < l.matches.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (l.matches[j].candidate == l.matches[i].candidate) {
                l.matches.erase(l.matches.begin() + static_cast<std::ptrdiff_t>(i));
                --l.matched;
                l.score -= 1;
                --i;
                break;
            }
        }
    }
    return l;
}

// The lattice parameter a matched set of candidates implies, weighted by their tolerance.
double Refine(const Lattice& l, const std::vector<Family>& families, const std::vector<Candidate>& cands)
{
    double sw = 0, swa = 0;
    for (const Match& m : l.matches) {
        const Candidate& c = cands[m.candidate];
        const double wgt = 1 / (c.tolLog * c.tolLog);
        sw += wgt;
        swa += wgt * (c.logD + families[m.family].halfLogN);
    }
    return sw > 0 ? std::exp(swa / sw) : l.a;
}

struct SearchResult {
    bool ok = false;
    std::string why;
    Lattice lattice;
};

SearchResult Search(const std::vector<Candidate>& cands, const std::vector<Family>& families, double aLo, double aHi,
                    double dMin, double dMax, int minMatched, const Standard& standard)
{
    SearchResult out;
    const double logALo = std::log(aLo), logAHi = std::log(aHi);
    const double logDMin = std::log(dMin), logDMax = std::log(dMax);
    // Every candidate's vote for every reflection it could be.
    struct Vote {
        double logA, tol;
    };
    std::vector<Vote> votes;
    for (const Candidate& c : cands) {
        for (const Family& f : families) {
            const double logA = c.logD + f.halfLogN;
            if (logA >= logALo - c.tolLog && logA <= logAHi + c.tolLog) votes.push_back({logA, c.tolLog});
        }
    }
    std::sort(votes.begin(), votes.end(), [](const Vote& a, const Vote& b) { return a.logA < b.logA; });
    // Where the votes crowd, the lattice is scored in full; first where most agree.
    std::vector<std::pair<int, double>> crowds;
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < votes.size(); ++i) {
        const double t = votes[i].tol;
        while (votes[lo].logA < votes[i].logA - t) ++lo;
        while (hi < votes.size() && votes[hi].logA <= votes[i].logA + t) ++hi;
        crowds.emplace_back(static_cast<int>(hi - lo), votes[i].logA);
    }
    std::sort(crowds.begin(), crowds.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Lattice> tried;
    for (const auto& [count, logA0] : crowds) {
        if (count < minMatched || tried.size() >= 48) break;
        const double logA = std::clamp(logA0, logALo, logAHi);
        Lattice l = Score(logA, families, cands, logDMin, logDMax);
        if (l.matched == 0) continue;
        // Once more at the lattice its own matches imply.
        Lattice refined = Score(std::log(std::clamp(Refine(l, families, cands), aLo, aHi)), families, cands, logDMin,
                                logDMax);
        if (refined.score >= l.score) l = std::move(refined);
        l.a = Refine(l, families, cands);
        tried.push_back(std::move(l));
    }
    Lattice best;
    for (const Lattice& l : tried) {
        if (l.score > best.score) best = l;
    }
    // A rival explains as many peaks about as well with mostly other candidates.
    const auto shared = [](const Lattice& a, const Lattice& b) {
        int n = 0;
        for (const Match& x : a.matches) {
            for (const Match& y : b.matches) n += x.candidate == y.candidate;
        }
        return n;
    };
    const Lattice* rival = nullptr;
    for (const Lattice& l : tried) {
        if (l.matched == best.matched && l.score > best.score - 0.5 && 2 * shared(l, best) < l.matched &&
            (!rival || l.score > rival->score)) {
            rival = &l;
        }
    }
    const std::string range = "a " + Fixed(aLo, 4) + " to " + Fixed(aHi, 4) + " angstrom";
    if (best.matched < minMatched || !(best.a >= aLo * 0.999 && best.a <= aHi * 1.001)) {
        out.why = "no lattice of " + std::string(standard.name) + " with " + range + " explains " +
                  std::to_string(minMatched) + " or more clear peaks of the pattern";
        return out;
    }
    if (rival && best.matched >= minMatched) {
        out.why = "two lattices of " + std::string(standard.name) + " explain the peaks about equally well (a " +
                  Fixed(best.a, 4) + " or " + Fixed(rival->a, 4) + " angstrom): give a pressure guess or range";
        return out;
    }
    out.ok = true;
    out.lattice = std::move(best);
    return out;
}

// ---- The profile fit ----

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

struct PeakFit {
    bool ok = false;
    double position = kNone, sigmaPosition = kNone;
    double height = kNone, sigmaHeight = kNone;
    double fwhm = kNone, eta = kNone;
};

struct ClusterFit {
    bool ok = false;
    bool outOfWork = false;
    int strayed = -1;  // the peak that left its window
    double b0 = 0, b1 = 0, centre = 0;
    std::vector<PeakFit> peaks;
};

struct Start {
    double position, height, fwhm;
};

// Heights of fixed profiles (half Lorentzian, the expected width, the predicted place) on a
// straight background, by linear least squares: a quick look that spares the full fit the
// reflections that are not there, and a start for those that are.
struct QuickHeight {
    double height = 0, sigma = kNone;
};

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
        const double inv = 1 / std::sqrt(w.var[at]);
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
    const double chi2 = (a * h - b).squaredNorm() / (m - k - 2);
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
    for (int i = 0; i < m; ++i) inv[static_cast<std::size_t>(i)] = 1 / std::sqrt(w.var[lo + static_cast<std::size_t>(i)]);
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
    const double chi2 = res.squaredNorm() / (m - np);
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

// One predicted reflection on its way through the fit.
struct Slot {
    PeakRow row;
    double predicted = 0;    // position at the searched lattice
    double fwhm = 0;         // expected width
    double half = 0;         // half-width of its fit window
    bool active = true;      // still in its cluster's fit
    bool decided = false;    // its note is final
    PeakFit fit;
};

// The expected width at x, from the matched candidates: a straight line through them by
// least squares where two or more spread out, their median otherwise.
struct WidthModel {
    double c0 = 0, c1 = 0;
    double At(double x) const { return c0 + c1 * x; }
};

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

}  // namespace

Outcome FitPattern(const Pattern& pattern, const Options& options)
{
    Outcome o;
    if (!options.standard) return Failed(std::move(o), "no standard given");
    const Standard& standard = *options.standard;
    std::string why;
    if (!CheckTemperature(options.tCelsius, why)) return Failed(std::move(o), why);

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
    if (userWavelength && userEnergy) return Failed(std::move(o), "give the wavelength or the energy, not both");
    if (userWavelength && !(options.wavelength > 0 && std::isfinite(options.wavelength))) {
        return Failed(std::move(o), "the wavelength must be a positive number of angstrom");
    }
    if (userEnergy && !(options.energy > 0 && std::isfinite(options.energy))) {
        return Failed(std::move(o), "the energy must be a positive number of keV");
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
    const Geometry geometry{o.wavelength, options.twoThetaFixed};
    if (!CheckGeometry(o.unit, geometry, why)) return Failed(std::move(o), why);
    if (!std::isnan(options.sigmaT) && !(options.sigmaT >= 0 && std::isfinite(options.sigmaT))) {
        return Failed(std::move(o), "sigma_t must be a number of kelvin, 0 or more");
    }

    // The arrays as any caller may hand them over, not only the reader.
    const std::size_t n = pattern.x.size();
    if (pattern.intensity.size() != n || (!pattern.sigma.empty() && pattern.sigma.size() != n)) {
        return Failed(std::move(o), "x, intensity and sigma differ in length");
    }
    if (n < kMinPoints) {
        return Failed(std::move(o), std::to_string(n) + " points; a pattern needs at least " + std::to_string(kMinPoints));
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(pattern.x[i]) || !std::isfinite(pattern.intensity[i]) ||
            (!pattern.sigma.empty() && !std::isfinite(pattern.sigma[i]))) {
            return Failed(std::move(o), "point " + std::to_string(i + 1) + " is not finite");
        }
        if (!pattern.sigma.empty() && pattern.sigma[i] < 0) {
            return Failed(std::move(o), "point " + std::to_string(i + 1) + " has a negative sigma");
        }
    }
    const bool rising = pattern.x[1] > pattern.x[0];
    for (std::size_t i = 1; i < n; ++i) {
        if (!(rising ? pattern.x[i] > pattern.x[i - 1] : pattern.x[i] < pattern.x[i - 1])) {
            return Failed(std::move(o), "x must rise or fall strictly (point " + std::to_string(i + 1) + ")");
        }
    }
    const bool lo = !std::isnan(options.xLo), hi = !std::isnan(options.xHi);
    if ((lo && !std::isfinite(options.xLo)) || (hi && !std::isfinite(options.xHi)) ||
        (lo && hi && !(options.xLo < options.xHi))) {
        return Failed(std::move(o), "the range must run from a lower to a higher position");
    }

    // Rising x inside the range, points without a spacing (2-theta 0, q 0) left aside.
    Work w;
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
        return Failed(std::move(o), std::to_string(m) + " points with a spacing inside the range; at least " +
                                        std::to_string(kMinPoints) + " are needed");
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
    std::vector<double> mean3(m);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t a = i ? i - 1 : 0, b = std::min(m - 1, i + 1);
        double s = 0;
        for (std::size_t k = a; k <= b; ++k) s += w.y[k];
        mean3[i] = s / static_cast<double>(b - a + 1);
    }
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

    // The lattice parameters to search.
    const double a0 = static_cast<double>(standard.a0);
    double aLo = a0 * std::cbrt(0.5), aHi = a0 * std::cbrt(1.1);
    int minMatched = kMinMatched;
    const bool guess = !std::isnan(options.pressureGuess);
    const bool range = !std::isnan(options.pressureLo) || !std::isnan(options.pressureHi);
    if (guess && range) return Failed(std::move(o), "give a pressure guess or a pressure range, not both");
    const auto latticeAt = [&](double p, double& a) {
        const SpacingResult s = SpacingsAt(standard, options.tCelsius, p, 1);
        if (s.status == Status::Error || !(s.a > 0)) {
            why = s.message.empty() ? "the model has no lattice at " + Sig(p) + " GPa" : s.message;
            return false;
        }
        a = s.a;
        return true;
    };
    if (guess) {
        if (!std::isfinite(options.pressureGuess)) return Failed(std::move(o), "the pressure guess is not a number");
        double ag = 0;
        if (!latticeAt(options.pressureGuess, ag)) return Failed(std::move(o), "pressure guess: " + why);
        // Within a few GPa of the guess (a fifth of it at high pressure).
        const double spread = std::max(2.0, 0.2 * std::fabs(options.pressureGuess));
        double a1 = 0, a2 = 0;
        aLo = latticeAt(options.pressureGuess + spread, a1) ? a1 : ag * 0.98;
        aHi = latticeAt(options.pressureGuess - spread, a2) ? a2 : ag * 1.02;
        aLo = std::min(aLo, ag * 0.995);
        aHi = std::max(aHi, ag * 1.005);
        minMatched = kMinMatchedNearGuess;
    } else if (range) {
        if (!std::isfinite(options.pressureLo) || !std::isfinite(options.pressureHi) ||
            !(options.pressureLo < options.pressureHi)) {
            return Failed(std::move(o), "the pressure range must run from a lower to a higher pressure in GPa");
        }
        if (!latticeAt(options.pressureHi, aLo) || !latticeAt(options.pressureLo, aHi)) {
            return Failed(std::move(o), "pressure range: " + why);
        }
        if (!(aLo < aHi)) std::swap(aLo, aHi);
    }

    // The pattern's spacings and the reflections that can fall inside them.
    const double dMin = std::min(w.d.front(), w.d.back()), dMax = std::max(w.d.front(), w.d.back());
    const double nTop = std::min(static_cast<double>(kMaxSquareSumPredicted), std::floor(aHi * aHi / (dMin * dMin)));
    const std::vector<Family> families = Families(standard, static_cast<int>(std::max(1.0, nTop)));

    const std::vector<Candidate> cands = DetectPeaks(w, o.unit, geometry);
    const SearchResult found = Search(cands, families, aLo, aHi, dMin, dMax, minMatched, standard);
    if (!found.ok) return Failed(std::move(o), found.why);
    const double aSearch = found.lattice.a;

    std::vector<std::pair<double, double>> widthPoints;
    for (const Match& mt : found.lattice.matches) widthPoints.emplace_back(cands[mt.candidate].x, cands[mt.candidate].fwhm);
    const WidthModel widths = WidthsOf(widthPoints, w.step);
    double widest = 0;
    for (const auto& wp : widthPoints) widest = std::max(widest, 3 * wp.second);

    // Every predicted reflection in the range, or the listed ones.
    std::vector<Slot> slots;
    std::vector<PeakRow> outside;
    const auto addSlot = [&](const Reflection& r) {
        const double d = Spacing(aSearch, r.n);
        const double x = PositionOf(o.unit, d, geometry);
        Slot s;
        s.row.reflection = r;
        s.row.predicted = x;
        if (!(x >= w.x.front() && x <= w.x.back())) {
            s.row.note = "outside the pattern's range";
            outside.push_back(s.row);
            return;
        }
        s.predicted = x;
        s.fwhm = std::clamp(widths.At(x), 2 * w.step, std::max(2 * w.step, std::min(widest, (w.x.back() - w.x.front()) / 20)));
        s.half = 4 * s.fwhm;
        slots.push_back(s);
    };
    if (options.reflections.empty()) {
        for (const Family& f : families) {
            const double d = Spacing(aSearch, f.n);
            if (d < dMin || d > dMax) continue;
            addSlot(Reflection{f.hkl, f.n, false});
        }
    } else {
        std::vector<int> seen;
        for (const Reflection& r : options.reflections) {
            // Listed twice, or as another hkl of the same h^2+k^2+l^2: one peak, one row.
            if (std::find(seen.begin(), seen.end(), r.n) != seen.end()) continue;
            seen.push_back(r.n);
            if (r.latticeParameter || r.n <= 0 || r.n > kMaxSquareSum) {
                PeakRow row;
                row.reflection = r;
                row.note = "not a reflection";
                outside.push_back(row);
                continue;
            }
            addSlot(r);
        }
    }
    std::sort(slots.begin(), slots.end(), [](const Slot& a, const Slot& b) { return a.predicted < b.predicted; });

    // Clusters of reflections whose windows overlap, fitted together.
    o.curve.assign(n, kNone);
    o.background.assign(n, kNone);
    long budget = kWorkBudget;
    for (std::size_t first = 0; first < slots.size();) {
        std::size_t last = first + 1;
        while (last < slots.size() && last - first < kMaxClusterPeaks &&
               slots[last].predicted - slots[last].half < slots[last - 1].predicted + slots[last - 1].half) {
            ++last;
        }
        const double left = slots[first].predicted - slots[first].half;
        const double right = slots[last - 1].predicted + slots[last - 1].half;
        const std::size_t iLo = static_cast<std::size_t>(std::lower_bound(w.x.begin(), w.x.end(), left) - w.x.begin());
        const std::size_t iHi = static_cast<std::size_t>(std::upper_bound(w.x.begin(), w.x.end(), right) - w.x.begin());

        ClusterFit fit;
        std::vector<std::size_t> fitted;  // the slots of the last fit, in its order
        for (int round = 0; round < kMaxRounds; ++round) {
            std::vector<Start> starts;
            std::vector<std::size_t> members;
            for (std::size_t s = first; s < last; ++s) {
                if (!slots[s].active) continue;
                const std::size_t at = static_cast<std::size_t>(
                    std::lower_bound(w.x.begin(), w.x.end(), slots[s].predicted) - w.x.begin());
                const std::size_t i = std::min(at, m - 1);
                const double bg = std::min({mean3[i], w.y[iLo < m ? iLo : m - 1], w.y[iHi > 0 ? iHi - 1 : 0]});
                starts.push_back({slots[s].predicted, std::max(mean3[i] - bg, 0.0), slots[s].fwhm});
                members.push_back(s);
            }
            if (round == 0) {
                // Reflections that a quick look finds well below significance skip the full fit.
                const std::vector<QuickHeight> quick = QuickHeights(w, iLo, iHi, starts);
                std::vector<Start> kept;
                std::vector<std::size_t> keptMembers;
                for (std::size_t j = 0; j < members.size(); ++j) {
                    const QuickHeight& q = quick[j];
                    if (q.sigma > 0 && !(q.height > kQuickSigma * q.sigma)) {
                        Slot& sl = slots[members[j]];
                        sl.row.note = "not significant: height " + Fixed(q.height / q.sigma, 1) + " sigma";
                        sl.active = false;
                        sl.decided = true;
                        continue;
                    }
                    if (q.sigma > 0) starts[j].height = q.height;
                    kept.push_back(starts[j]);
                    keptMembers.push_back(members[j]);
                }
                starts = std::move(kept);
                members = std::move(keptMembers);
            }
            if (members.empty()) break;
            fit = FitCluster(w, iLo, iHi, starts, budget);
            fitted = members;
            if (fit.strayed >= 0) {
                // The one that ran off goes; the others are fitted again without it.
                Slot& sl = slots[members[static_cast<std::size_t>(fit.strayed)]];
                sl.row.note = "the fit ran off its window";
                sl.active = false;
                sl.decided = true;
                fit = ClusterFit{};
                continue;
            }
            if (!fit.ok) {
                for (std::size_t s : members) {
                    slots[s].row.note = fit.outOfWork ? "not fitted: the pattern needs more work than one fit may take"
                                                      : "the fit did not converge";
                    slots[s].active = false;
                    slots[s].decided = true;
                }
                break;
            }
            // Judge every peak; a bad one leaves the cluster and the rest are fitted again
            // without it, so that it cannot take a share of a neighbour.
            bool dropped = false;
            for (std::size_t j = 0; j < members.size(); ++j) {
                Slot& s = slots[members[j]];
                const PeakFit& f = fit.peaks[j];
                s.fit = f;
                std::string note;
                if (!f.ok) {
                    note = "the fit gives no uncertainty";
                } else if (!(f.height > kSignificantSigma * f.sigmaHeight)) {
                    note = "not significant: height " + Fixed(f.height / f.sigmaHeight, 1) + " sigma";
                } else if (std::fabs(f.position - s.predicted) > s.half / 2) {
                    note = "position " + Sig(f.position) + " outside its window " + Sig(s.predicted - s.half / 2) + " to " +
                           Sig(s.predicted + s.half / 2);
                } else if (f.fwhm < 0.7 * w.step || f.fwhm > 3 * s.fwhm) {
                    note = "width " + Sig(f.fwhm) + " not a peak's (about " + Sig(s.fwhm) + " expected)";
                }
                if (!note.empty()) {
                    s.row.note = note;
                    s.active = false;
                    s.decided = true;
                    dropped = true;
                }
            }
            if (!dropped) break;
        }
        // Drawn as fitted: the final fit's peaks over its background.
        if (fit.ok) {
            for (std::size_t i = iLo; i < iHi && i < m; ++i) {
                const double bg = fit.b0 + fit.b1 * (w.x[i] - fit.centre);
                double total = bg;
                for (std::size_t j = 0; j < fitted.size() && j < fit.peaks.size(); ++j) {
                    if (slots[fitted[j]].active) total += Shape(w.x[i], fit.peaks[j]);
                }
                o.background[w.index[i]] = bg;
                o.curve[w.index[i]] = total;
            }
        }
        first = last;
    }

    // Numbers of every fitted row; spacings of the active ones.
    for (Slot& s : slots) {
        PeakRow& r = s.row;
        const PeakFit& f = s.fit;
        if (!std::isnan(f.position)) {
            r.position = f.position;
            r.sigmaPosition = f.sigmaPosition;
            r.fwhm = f.fwhm;
            r.eta = f.eta;
            r.height = f.height;
            r.d = SpacingAt(o.unit, f.position, geometry);
            r.sigmaD = SpacingSlope(o.unit, f.position, geometry) * f.sigmaPosition;
            r.aI = r.d * std::sqrt(static_cast<double>(r.reflection.n));
        }
        if (!s.active) continue;
        Peak peak{r.reflection, r.d, r.sigmaD};
        if (!CheckPeak(peak, why) || !(r.sigmaD > 0) || !std::isfinite(r.sigmaD)) {
            r.note = CheckPeak(peak, why) ? "no uncertainty of d" : why;
            s.active = false;
            continue;
        }
        r.used = true;
    }

    // Outliers of a_i: the worst one, more than three sigma from the weighted mean of the
    // rest, leaves, and the rest are judged again. Where five or more reflections all scatter
    // beyond their sigma (a profile the pseudo-Voigt does not quite match), "three sigma"
    // stretches by that common scatter, measured robustly, so that only the odd one goes.
    std::vector<std::string> leftOut;
    double scatter = 1;
    {
        std::vector<double> a, r;
        for (const Slot& s : slots) {
            if (s.row.used) a.push_back(s.row.aI);
        }
        if (a.size() >= 5) {
            const double mid = Median(a);
            for (const Slot& s : slots) {
                if (!s.row.used) continue;
                r.push_back(std::fabs(s.row.aI - mid) / (s.row.sigmaD * std::sqrt(static_cast<double>(s.row.reflection.n))));
            }
            scatter = std::max(1.0, 1.4826 * Median(r));
        }
    }
    for (;;) {
        std::vector<Slot*> used;
        for (Slot& s : slots) {
            if (s.row.used) used.push_back(&s);
        }
        if (used.size() < 3) break;
        double sw = 0, swa = 0;
        for (const Slot* s : used) {
            const double sa = s->row.sigmaD * std::sqrt(static_cast<double>(s->row.reflection.n));
            sw += 1 / (sa * sa);
            swa += s->row.aI / (sa * sa);
        }
        Slot* worst = nullptr;
        double worstZ = kOutlierSigma * scatter, worstMean = 0;
        for (Slot* s : used) {
            const double sa = s->row.sigmaD * std::sqrt(static_cast<double>(s->row.reflection.n));
            const double wi = 1 / (sa * sa);
            const double restW = sw - wi;
            if (!(restW > 0)) continue;
            const double restMean = (swa - wi * s->row.aI) / restW;
            const double z = std::fabs(s->row.aI - restMean) / std::sqrt(sa * sa + 1 / restW);
            if (z > worstZ) {
                worstZ = z;
                worst = s;
                worstMean = restMean;
            }
        }
        if (!worst) break;
        worst->row.used = false;
        worst->row.note = "outlier: a_i " + Fixed(worst->row.aI, 5) + " is " + Fixed(worstZ, 1) +
                          " sigma from the others' " + Fixed(worstMean, 5);
        leftOut.push_back(ReflectionText(worst->row.reflection));
    }

    for (Slot& s : slots) o.peaks.push_back(std::move(s.row));
    for (PeakRow& r : outside) o.peaks.push_back(std::move(r));

    std::vector<Peak> usedPeaks;
    for (const PeakRow& r : o.peaks) {
        if (r.used) usedPeaks.push_back({r.reflection, r.d, r.sigmaD});
    }
    if (usedPeaks.size() < 2) {
        o.result = Result{};
        o.result.peaks = static_cast<int>(usedPeaks.size());
        o.result.message = std::to_string(usedPeaks.size()) + (usedPeaks.size() == 1 ? " reflection" : " reflections") +
                           " of " + std::string(standard.name) + " fitted well enough; at least two are needed";
        return o;
    }
    o.result = Fit(standard, options.tCelsius, usedPeaks, options.sigmaT);
    if (o.result.status != Status::Error && !leftOut.empty()) {
        std::string list;
        for (const std::string& t : leftOut) list += (list.empty() ? "" : ", ") + t;
        const std::string note = "left out as outliers: " + list;
        o.result.message = o.result.message.empty() ? note : o.result.message + "; " + note;
        o.result.status = Status::Warning;
    }
    return o;
}

}  // namespace hv::pattern
