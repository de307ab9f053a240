// A sample's equation of state in the page: the fitting library reads, fits and writes the row
// and residuals of "hivarnisse-calc eos", rows/eos_rows reads its options and writes its
// summary; this file converts, and samples the curves the charts draw.
#include "core/eos.h"
#include "samplefit/samplefit.h"
#include "rows/eos_rows.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <span>
#include <string>
#include <vector>

using emscripten::val;

namespace {

namespace ef = hv::samplefit;

val Doubles(const std::vector<double>& v)
{
    // A typed array made from a view copies it: the vector may die with this call.
    return val::global("Float64Array").new_(emscripten::typed_memory_view(v.size(), v.data()));
}

std::string Text(val object, const char* key)
{
    const val v = object[key];
    return v.isUndefined() || v.isNull() ? std::string() : v.as<std::string>();
}

// lo..hi in count steps, ends included.
std::vector<double> Steps(double lo, double hi, std::size_t count)
{
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(count - 1);
    }
    return out;
}

void Widen(double& lo, double& hi, double by)
{
    const double span = hi > lo ? hi - lo : std::max(std::fabs(hi), 1.0);
    lo -= by * span;
    hi += by * span;
}

// The fitted isotherm at each temperature of the data, over the volumes shown: from the
// smallest volume less its sigma to V0 or the largest volume, whichever is further out.
val PvCurves(std::span<const ef::Point> points, const ef::Result& r)
{
    double lo = HUGE_VAL, hi = r.value[ef::kV0];
    std::set<double> temperatures;
    for (const ef::Point& q : points) {
        lo = std::min(lo, q.v - q.sigmaV);
        hi = std::max(hi, q.v + q.sigmaV);
        temperatures.insert(std::isnan(q.tK) ? r.params.t0 : q.tK);
    }
    Widen(lo, hi, 0.04);
    lo = std::max(lo, 1e-3 * hi);
    const std::vector<double> vs = Steps(lo, hi, 200);
    val curves = val::array();
    for (double t : temperatures) {
        std::vector<double> ps(vs.size());
        for (std::size_t i = 0; i < vs.size(); ++i) ps[i] = hv::eos::Pressure(r.params, vs[i], t);
        val c = val::object();
        c.set("t_k", t);
        c.set("v", Doubles(vs));
        c.set("p", Doubles(ps));
        curves.call<void>("push", c);
    }
    return curves;
}

// The F-f points (P-V-T points with their thermal pressure taken off), the weighted straight
// line through them and the fitted isotherm drawn on the same axes.
val FfChart(std::span<const ef::Point> points, const ef::Result& r)
{
    const std::vector<double> iso = ef::IsothermPressures(points, r);
    const double v0 = r.value[ef::kV0];
    const std::vector<ef::FfPoint> ff = ef::FfPoints(points, v0, iso);
    std::vector<double> f, sf, F, sF;
    double lo = 0, hi = 0;
    for (const ef::FfPoint& p : ff) {
        f.push_back(p.f);
        sf.push_back(p.sigmaf);
        F.push_back(p.F);
        sF.push_back(p.sigmaF);
        if (std::isfinite(p.f)) {
            lo = std::min(lo, p.f);
            hi = std::max(hi, p.f);
        }
    }
    Widen(lo, hi, 0.04);
    std::vector<double> fs = Steps(lo, hi, 150), Fs(fs.size());
    for (std::size_t i = 0; i < fs.size(); ++i) {
        const double v = v0 * std::pow(1 + 2 * fs[i], -1.5);
        const double g = 3 * fs[i] * std::pow(1 + 2 * fs[i], 2.5);
        // At f = 0 the quotient is 0/0; its limit is K0.
        Fs[i] = std::fabs(fs[i]) > 1e-6 ? hv::eos::IsothermPressure(r.params, v) / g : r.value[ef::kK0];
    }
    const ef::Line line = ef::FfLine(ff);
    val out = val::object();
    out.set("f", Doubles(f));
    out.set("sigma_f", Doubles(sf));
    out.set("F", Doubles(F));
    out.set("sigma_F", Doubles(sF));
    out.set("curve_f", Doubles(fs));
    out.set("curve_F", Doubles(Fs));
    out.set("f_lo", lo);
    out.set("f_hi", hi);
    out.set("intercept", line.intercept);
    out.set("slope", line.slope);
    out.set("sigma_intercept", line.sigmaIntercept);
    out.set("sigma_slope", line.sigmaSlope);
    return out;
}

val EllipseObject(const ef::Result& r, double deltaChi2)
{
    std::vector<double> x, y;
    for (const ef::XY& p : ef::Ellipse(r, deltaChi2)) {
        x.push_back(p.x);
        y.push_back(p.y);
    }
    val e = val::object();
    e.set("delta_chi2", deltaChi2);
    e.set("k0", Doubles(x));
    e.set("k0p", Doubles(y));
    return e;
}

val Parameters(const ef::Result& r)
{
    val params = val::array();
    for (int j = 0; j < ef::kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        if (!r.has[ju]) continue;
        val p = val::object();
        p.set("key", std::string(ef::ParamKey(j)));
        p.set("label", std::string(ef::ParamLabel(j)));
        p.set("refined", r.refined[ju]);
        p.set("value", r.value[ju]);
        p.set("sigma", r.refined[ju] ? r.sigma[ju] : NAN);
        params.call<void>("push", p);
    }
    return params;
}

// The correlations among the refined parameters: labels and rows of the full square.
val Correlation(const ef::Result& r)
{
    val labels = val::array(), rows = val::array();
    for (int a = 0; a < ef::kParams; ++a) {
        if (!r.refined[static_cast<std::size_t>(a)]) continue;
        labels.call<void>("push", std::string(ef::ParamLabel(a)));
        std::vector<double> row;
        for (int b = 0; b < ef::kParams; ++b) {
            if (r.refined[static_cast<std::size_t>(b)]) {
                row.push_back(r.correlation[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)]);
            }
        }
        rows.call<void>("push", Doubles(row));
    }
    val c = val::object();
    c.set("labels", labels);
    c.set("rows", rows);
    return c;
}

// One fit as the page asks for it: the CSV text and the settings as the command's options
// ({form, fix: ["k0p=4", ...], t0, theta0, z, atoms}, all text). Unreadable settings or points
// are {error}; otherwise the command's row ("csv", header included) and, when the fit holds,
// its summary, its residual file and the numbers of the charts. A refused fit has ok false,
// its reason and no numbers.
val FitEos(const std::string& text, val fields)
{
    hv::rows::EosSettings s;
    s.form = Text(fields, "form");
    const val fix = fields["fix"];
    if (!fix.isUndefined() && !fix.isNull()) s.fix = emscripten::vecFromJSArray<std::string>(fix);
    s.t0 = Text(fields, "t0");
    s.theta0 = Text(fields, "theta0");
    s.z = Text(fields, "z");
    s.atoms = Text(fields, "atoms");
    ef::Options o;
    std::string why;
    val out = val::object();
    if (!hv::rows::ReadEosOptions(s, o, why)) {
        out.set("error", why);
        return out;
    }
    const ef::ReadOutcome read = ef::ReadPoints(text);
    if (!read.ok) {
        out.set("error", read.error);
        return out;
    }
    const ef::Result r = ef::Fit(read.points, o);
    out.set("csv", std::string(ef::kCsvHeader) + "\n" + ef::CsvRow(r, o.form, read.points.size()));
    out.set("ok", r.ok);
    out.set("message", r.message);
    out.set("form", std::string(ef::FormName(o.form)));
    out.set("n_points", static_cast<int>(read.points.size()));
    if (!r.ok) return out;

    out.set("summary", hv::rows::EosSummary(r, o));
    out.set("residuals", ef::ResidualRows(read.points, r));
    out.set("thermal", r.thermal);
    out.set("n_refined", r.nRefined);
    out.set("chi2", r.chi2);
    out.set("chi2_reduced", r.chi2Reduced);
    out.set("max_abs_residual_sigma", r.maxAbsResidualSigma);
    out.set("parameters", Parameters(r));
    out.set("correlation", Correlation(r));
    std::vector<double> v, sv, p, sp, t;
    for (const ef::Point& q : read.points) {
        v.push_back(q.v);
        sv.push_back(q.sigmaV);
        p.push_back(q.p);
        sp.push_back(q.sigmaP);
        t.push_back(q.tK);
    }
    val points = val::object();
    points.set("v", Doubles(v));
    points.set("sigma_v", Doubles(sv));
    points.set("p", Doubles(p));
    points.set("sigma_p", Doubles(sp));
    points.set("t_k", Doubles(t));
    points.set("p_fit", Doubles(r.pModel));
    points.set("residual_p", Doubles(r.residualP));
    points.set("sigma_eff", Doubles(r.sigmaEff));
    points.set("residual_sigma", Doubles(r.residualSigma));
    out.set("points", points);
    out.set("pv_curves", PvCurves(read.points, r));
    out.set("ff", FfChart(read.points, r));
    val ellipses = val::array();
    // 68.3 % and 95.4 % for two parameters; none unless K0 and K0' are both refined.
    if (r.refined[ef::kK0] && r.refined[ef::kK0p]) {
        ellipses.call<void>("push", EllipseObject(r, 2.30));
        ellipses.call<void>("push", EllipseObject(r, 6.18));
    }
    out.set("ellipses", ellipses);
    out.set("k0", r.value[ef::kK0]);
    out.set("k0p", r.value[ef::kK0p]);
    return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(hivarnisse_eos)
{
    emscripten::function("fitEos", &FitEos);
}
