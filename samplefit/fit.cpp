// The weighted fit of an equation of state to P-V(-T) points by Eigen's Levenberg-Marquardt,
// with effective-variance weights recomputed from the parameters until they settle.
#include "samplefit/samplefit.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace hv::samplefit {

namespace {

constexpr int kMaxRounds = 60;       // rounds of new weights before the fit counts as not converging
constexpr double kSettled = 1e-7;    // a round moving every parameter less than this many sigmas ends the fit
constexpr double kHuge = 1e50;       // the residual of a point the trial parameters cannot compute

std::string AtLine(int64_t line) { return "line " + std::to_string(line); }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The equation of state of a parameter vector.
struct Model {
    eos::Params base;
    std::array<double, kParams> value{};

    eos::Params Params() const
    {
        eos::Params p = base;
        p.v0 = value[kV0];
        p.k0 = value[kK0];
        p.k0p = value[kK0p];
        p.k0pp = value[kK0pp];
        if (p.thermal != eos::Thermal::None) {
            p.gamma0 = value[kGamma0];
            p.q = value[kQ];
        }
        return p;
    }
};

// Weighted residuals (P_i - P(V_i, T_i)) / sigma_eff_i over the refined parameters, with the
// weights held fixed. The Jacobian by forward differences while iterating; Central() for the
// covariance at the end.
struct Functor : Eigen::DenseFunctor<double> {
    std::span<const Point> points;
    const std::vector<double>* sigmaEff;
    Model* model;
    std::vector<int> free;  // Param of each unknown

    Functor(std::span<const Point> pts, const std::vector<double>* s, Model* m, std::vector<int> f)
        : DenseFunctor<double>(static_cast<int>(f.size()), static_cast<int>(pts.size())),
          points(pts), sigmaEff(s), model(m), free(std::move(f))
    {
    }

    void Set(const InputType& x) const
    {
        for (std::size_t j = 0; j < free.size(); ++j) model->value[static_cast<std::size_t>(free[j])] = x[static_cast<int>(j)];
    }

    void Residuals(const eos::Params& p, ValueType& r) const
    {
        for (std::size_t i = 0; i < points.size(); ++i) {
            const double d = (points[i].p - eos::Pressure(p, points[i].v, points[i].tK)) / (*sigmaEff)[i];
            r[static_cast<int>(i)] = std::isfinite(d) ? d : kHuge;
        }
    }

    int operator()(const InputType& x, ValueType& r) const
    {
        Set(x);
        Residuals(model->Params(), r);
        return 0;
    }

    static double Step(double value) { return 1e-7 * std::max(std::fabs(value), 1e-3); }

    int df(const InputType& x, JacobianType& jac) const
    {
        ValueType r0(values()), r1(values());
        (*this)(x, r0);
        for (int j = 0; j < inputs(); ++j) {
            InputType y = x;
            const double h = Step(x[j]);
            y[j] += h;
            (*this)(y, r1);
            jac.col(j) = (r1 - r0) / (y[j] - x[j]);
        }
        Set(x);
        return 0;
    }

    void Central(const InputType& x, JacobianType& jac) const
    {
        ValueType lo(values()), hi(values());
        for (int j = 0; j < inputs(); ++j) {
            InputType a = x, b = x;
            const double h = 1e-5 * std::max(std::fabs(x[j]), 1e-3);  // central differences err as h^2
            a[j] -= h;
            b[j] += h;
            (*this)(a, lo);
            (*this)(b, hi);
            jac.col(j) = (hi - lo) / (b[j] - a[j]);
        }
        Set(x);
    }
};

Result Refuse(Result& out, std::string why)
{
    out.ok = false;
    out.message = std::move(why);
    return out;
}

// sigma_eff of every point from the current parameters.
bool EffectiveSigmas(std::span<const Point> points, const eos::Params& p, std::vector<double>& s)
{
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point& q = points[i];
        double var = q.sigmaP * q.sigmaP;
        if (q.sigmaV > 0) {
            const double k = eos::BulkModulus(p, q.v, q.tK) / q.v * q.sigmaV;
            var += k * k;
        }
        if (q.sigmaT > 0) {
            const double t = eos::ThermalSlope(p, q.v, q.tK) * q.sigmaT;
            var += t * t;
        }
        s[i] = std::sqrt(var);
        if (!(s[i] > 0) || !std::isfinite(s[i])) return false;
    }
    return true;
}

// Starting values: V0 and K0 from the slope of P against ln V (K ~ K0 + K0' P at the mean
// pressure), V0 from the lowest pressure's volume.
void Guess(std::span<const Point> points, Model& m, const Options& o)
{
    double sx = 0, sy = 0, sxx = 0, sxy = 0, pMin = HUGE_VAL, vAtMin = kNaN;
    const double n = static_cast<double>(points.size());
    for (const Point& q : points) {
        const double x = std::log(q.v);
        sx += x;
        sy += q.p;
        sxx += x * x;
        sxy += x * q.p;
        if (q.p < pMin) {
            pMin = q.p;
            vAtMin = q.v;
        }
    }
    const double den = n * sxx - sx * sx;
    const double kMean = den > 0 ? -(n * sxy - sx * sy) / den : kNaN;
    const double pMean = sy / n;
    double k0 = kMean - m.value[kK0p] * pMean;
    if (!(k0 > 0.05 * kMean)) k0 = 0.05 * kMean;
    if (!(k0 > 0)) k0 = 100;
    if (std::isnan(o.start[kK0]) && !o.fixed[kK0]) m.value[kK0] = k0;
    const double k = m.value[kK0];
    if (std::isnan(o.start[kV0]) && !o.fixed[kV0]) {
        // Murnaghan's V(P) from the lowest point back to P = 0.
        const double kp = m.value[kK0p];
        m.value[kV0] = vAtMin * std::pow(1 + kp * pMin / k, 1 / kp);
        if (!(m.value[kV0] > 0) || !std::isfinite(m.value[kV0])) m.value[kV0] = vAtMin;
    }
    if (std::isnan(o.start[kK0pp]) && !o.fixed[kK0pp]) {
        const double kp = m.value[kK0p];
        m.value[kK0pp] = -(kp * (kp - 7) + 143.0 / 9) / m.value[kK0];
    }
}

// Checks every point; empty when they are fine.
std::string CheckPoints(std::span<const Point> points)
{
    const bool withT = !points.empty() && !std::isnan(points[0].tK);
    for (const Point& q : points) {
        const std::string at = AtLine(q.line);
        if (!std::isfinite(q.p)) return at + ": the pressure is not a finite number";
        if (!std::isfinite(q.v)) return at + ": the volume is not a finite number";
        if (!(q.v > 0)) return at + ": the volume must be positive";
        if (std::isnan(q.sigmaP) || q.sigmaP < 0 || !std::isfinite(q.sigmaP)) return at + ": sigma_P must be positive";
        if (std::isnan(q.sigmaV) || q.sigmaV < 0 || !std::isfinite(q.sigmaV)) return at + ": sigma_V must be positive";
        if (std::isnan(q.sigmaT) || q.sigmaT < 0 || !std::isfinite(q.sigmaT)) return at + ": sigma_T must be positive";
        if (!(q.sigmaP > 0) && !(q.sigmaV > 0)) return at + ": the point has neither sigma_P nor sigma_V";
        if (withT != !std::isnan(q.tK)) return at + ": a temperature on some points only";
        if (withT && !(q.tK > 0 && std::isfinite(q.tK))) return at + ": the temperature must be above 0 K";
    }
    return {};
}

}  // namespace

std::string_view FormName(Form form)
{
    switch (form) {
    case Form::BM2: return "BM2";
    case Form::BM3: return "BM3";
    case Form::BM4: return "BM4";
    case Form::Vinet: return "Vinet";
    }
    return "?";
}

bool ParseForm(std::string_view text, Form& form)
{
    for (Form f : {Form::BM2, Form::BM3, Form::BM4, Form::Vinet}) {
        if (EqualNoCase(text, FormName(f))) {
            form = f;
            return true;
        }
    }
    return false;
}

std::string_view ParamLabel(int param)
{
    static constexpr std::string_view kLabels[kParams] = {"V0", "K0", "K0'", "K0''", "gamma0", "q"};
    return param >= 0 && param < kParams ? kLabels[param] : "?";
}

std::string_view ParamKey(int param)
{
    static constexpr std::string_view kKeys[kParams] = {"v0", "k0", "k0p", "k0pp", "gamma0", "q"};
    return param >= 0 && param < kParams ? kKeys[param] : "?";
}

bool ParseParam(std::string_view text, int& param)
{
    for (int j = 0; j < kParams; ++j) {
        if (EqualNoCase(text, ParamKey(j)) || EqualNoCase(text, ParamLabel(j))) {
            param = j;
            return true;
        }
    }
    return false;
}

Result Fit(std::span<const Point> given, const Options& o)
{
    std::span<const Point> points = given;
    Result out;
    out.form = o.form;
    out.nPoints = static_cast<int>(points.size());
    for (auto& row : out.covariance) row.fill(kNaN);
    for (auto& row : out.correlation) row.fill(kNaN);
    if (points.empty()) return Refuse(out, "no points to fit");
    if (std::string why = CheckPoints(points); !why.empty()) return Refuse(out, why);

    // Temperatures: one (or none) for an isotherm, several with theta0 for P-V-T.
    out.thermal = !std::isnan(o.theta0);
    const bool withT = !std::isnan(points[0].tK);
    const Point* other = nullptr;
    for (const Point& q : points) {
        if (withT && q.tK != points[0].tK) {
            other = &q;
            break;
        }
    }
    if (out.thermal) {
        if (!(o.theta0 > 0) || !std::isfinite(o.theta0)) return Refuse(out, "theta0 must be a positive temperature");
        if (!(o.t0K > 0) || !std::isfinite(o.t0K)) return Refuse(out, "T0 must be above 0 K");
        if (o.z < 1 || o.n < 1) return Refuse(out, "Z and the atoms per formula unit must be at least 1");
        if (!withT) return Refuse(out, "a P-V-T fit needs temperatures (a t_c column)");
        if (!other) {
            return Refuse(out, "a P-V-T fit needs several temperatures; every point, " + AtLine(points.front().line) +
                                   " to " + AtLine(points.back().line) + ", is at the same one");
        }
    } else if (other) {
        return Refuse(out, AtLine(other->line) + ": its temperature differs from " + AtLine(points[0].line) +
                               "'s; fitting points at several temperatures needs theta0 (a P-V-T fit)");
    }

    Model m;
    switch (o.form) {
    case Form::BM2: m.base.isotherm = eos::Isotherm::BM2; break;
    case Form::BM3: m.base.isotherm = eos::Isotherm::BM3; break;
    case Form::BM4: m.base.isotherm = eos::Isotherm::BM4; break;
    case Form::Vinet: m.base.isotherm = eos::Isotherm::Vinet; break;
    }
    if (out.thermal) {
        m.base.thermal = eos::Thermal::MieGruneisenDebye;
        m.base.t0 = o.t0K;
        m.base.theta0 = o.theta0;
        m.base.z = o.z;
        m.base.n = o.n;
    } else {
        m.base.thermal = eos::Thermal::None;
        m.base.t0 = withT ? points[0].tK : 300;
    }

    out.has = {true, true, true, o.form == Form::BM4, out.thermal, out.thermal};
    for (int j = 0; j < kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        if (o.fixed[ju] && !out.has[ju]) {
            return Refuse(out, std::string(ParamLabel(j)) + " is not a parameter of this fit");
        }
        if (o.fixed[ju] && !std::isfinite(*o.fixed[ju])) return Refuse(out, std::string(ParamLabel(j)) + " must be finite");
        out.refined[ju] = out.has[ju] && !o.fixed[ju];
    }
    if (o.form == Form::BM2) {
        if (o.fixed[kK0p] && *o.fixed[kK0p] != 4) return Refuse(out, "BM2 has K0' = 4; fit BM3 for another K0'");
        out.refined[kK0p] = false;
    }
    if (o.fixed[kV0] && !(*o.fixed[kV0] > 0)) return Refuse(out, "V0 must be positive");
    if (o.fixed[kK0] && !(*o.fixed[kK0] > 0)) return Refuse(out, "K0 must be positive");

    // BM4's K0'' is poorly determined far from V0: start it from the BM3 solution, where the
    // f^2 term vanishes, rather than from guesses.
    Options from = o;
    if (o.form == Form::BM4 && !o.fixed[kK0pp] && std::isnan(o.start[kK0pp])) {
        Options bm3 = o;
        bm3.form = Form::BM3;
        const Result r3 = Fit(given, bm3);
        if (r3.ok) {
            for (int j : {kV0, kK0, kK0p, kGamma0, kQ}) {
                if (std::isnan(from.start[static_cast<std::size_t>(j)]) && r3.refined[static_cast<std::size_t>(j)]) {
                    from.start[static_cast<std::size_t>(j)] = r3.value[static_cast<std::size_t>(j)];
                }
            }
        }
    }
    const std::array<double, kParams> defaults{kNaN, kNaN, 4, kNaN, 1.5, 1};
    for (std::size_t j = 0; j < kParams; ++j) {
        m.value[j] = o.fixed[j] ? *o.fixed[j] : (!std::isnan(from.start[j]) ? from.start[j] : defaults[j]);
    }
    if (o.form == Form::BM2) m.value[kK0p] = 4;
    // Points without a temperature are at the isotherm's own.
    std::vector<Point> at;
    if (!withT) {
        at.assign(given.begin(), given.end());
        for (Point& q : at) q.tK = m.base.t0;
        points = at;
    }
    Guess(points, m, from);

    std::vector<int> free;
    for (int j = 0; j < kParams; ++j) {
        if (out.refined[static_cast<std::size_t>(j)]) free.push_back(j);
    }
    out.nRefined = static_cast<int>(free.size());
    const int np = out.nRefined;
    if (out.nPoints < np) {
        return Refuse(out, std::to_string(out.nPoints) + " points cannot determine " + std::to_string(np) +
                               " refined parameters; fix some or add points");
    }

    std::vector<double> sigma(points.size());
    Eigen::VectorXd x(np);
    for (int j = 0; j < np; ++j) x[j] = m.value[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])];
    Eigen::MatrixXd jac(out.nPoints, np);
    Eigen::MatrixXd cov;
    bool settled = false;

    // The solution is where new weights no longer move it: no parameter by more than a small
    // fraction of its sigma.
    for (int round = 0; round < kMaxRounds && !settled; ++round) {
        out.iterations = round + 1;
        if (!EffectiveSigmas(points, m.Params(), sigma)) {
            return Refuse(out, "the effective uncertainties cannot be computed at the trial parameters");
        }
        if (np == 0) {
            settled = true;
            break;
        }
        Functor functor(points, &sigma, &m, free);
        Eigen::LevenbergMarquardt<Functor> lm(functor);
        lm.setMaxfev(200 * (np + 1));
        lm.setXtol(1e-13);
        lm.setFtol(1e-13);
        const Eigen::VectorXd before = x;
        const auto status = lm.minimize(x);
        functor.Set(x);
        if (status == Eigen::LevenbergMarquardtSpace::ImproperInputParameters ||
            status == Eigen::LevenbergMarquardtSpace::TooManyFunctionEvaluation || !x.allFinite()) {
            return Refuse(out, status == Eigen::LevenbergMarquardtSpace::TooManyFunctionEvaluation
                                   ? "the fit did not converge: the least squares ran out of steps"
                                   : "the fit did not converge: the parameters left the numbers");
        }
        functor.Central(x, jac);
        const Eigen::MatrixXd jtj = jac.transpose() * jac;
        Eigen::LDLT<Eigen::MatrixXd> ldlt(jtj);
        if (ldlt.info() != Eigen::Success || !(ldlt.vectorD().array() > 1e-300 * jtj.diagonal().maxCoeff()).all()) {
            return Refuse(out, "the data do not determine every refined parameter; fix some");
        }
        cov = ldlt.solve(Eigen::MatrixXd::Identity(np, np));
        settled = true;
        for (int j = 0; j < np; ++j) {
            const double s = std::sqrt(cov(j, j));
            if (!(std::fabs(x[j] - before[j]) <= kSettled * s)) settled = false;
        }
        if (!cov.allFinite()) return Refuse(out, "the data do not determine every refined parameter; fix some");
    }
    if (!settled) return Refuse(out, "the fit did not converge: the weights kept moving the parameters");

    // Final residuals with the weights the parameters give.
    const eos::Params p = m.Params();
    if (!EffectiveSigmas(points, p, sigma)) return Refuse(out, "the effective uncertainties cannot be computed");
    out.pModel.resize(points.size());
    out.residualP.resize(points.size());
    out.residualSigma.resize(points.size());
    out.sigmaEff = sigma;
    double chi2 = 0, worst = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        out.pModel[i] = eos::Pressure(p, points[i].v, points[i].tK);
        out.residualP[i] = points[i].p - out.pModel[i];
        out.residualSigma[i] = out.residualP[i] / sigma[i];
        chi2 += out.residualSigma[i] * out.residualSigma[i];
        worst = std::max(worst, std::fabs(out.residualSigma[i]));
    }
    if (!std::isfinite(chi2)) return Refuse(out, "the fitted equation of state gives no pressure at some points");
    out.chi2 = chi2;
    const int dof = out.nPoints - np;
    out.chi2Reduced = dof > 0 ? chi2 / dof : kNaN;
    out.maxAbsResidualSigma = worst;
    const double scale = dof > 0 ? std::max(1.0, out.chi2Reduced) : 1.0;

    out.value = m.value;
    for (int j = 0; j < kParams; ++j) {
        if (!out.has[static_cast<std::size_t>(j)]) out.value[static_cast<std::size_t>(j)] = kNaN;
    }
    for (int a = 0; a < np; ++a) {
        const auto ia = static_cast<std::size_t>(free[static_cast<std::size_t>(a)]);
        for (int b = 0; b < np; ++b) {
            const auto ib = static_cast<std::size_t>(free[static_cast<std::size_t>(b)]);
            out.covariance[ia][ib] = cov(a, b) * scale;
            out.correlation[ia][ib] = cov(a, b) / std::sqrt(cov(a, a) * cov(b, b));
        }
        out.sigma[ia] = std::sqrt(out.covariance[ia][ia]);
    }
    out.params = p;
    out.ok = true;
    return out;
}

}  // namespace hv::samplefit
