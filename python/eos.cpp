// A sample's equation of state in the Python module: fit_eos over the fit library, its result
// with the parameters, covariance, residuals and what the plots need, and the plots. The fit
// is the library's; this file converts arrays and arguments.
#include "python/record.h"
#include "samplefit/samplefit.h"

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "docstrings.h"

namespace py = pybind11;
using namespace pybind11::literals;
namespace ef = hv::samplefit;

namespace {

py::array_t<double> Doubles(const std::vector<double>& v)
{
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

// A one-dimensional float64 copy of an array argument, a scalar repeated n times.
std::vector<double> Vector(const char* name, const py::object& value, std::size_t n)
{
    const py::array_t<double, py::array::c_style | py::array::forcecast> a =
        py::module_::import("numpy").attr("asarray")(value, "dtype"_a = "float64");
    if (a.ndim() == 0 && n != SIZE_MAX) return std::vector<double>(n, *a.data());
    if (a.ndim() != 1) {
        throw py::value_error(std::string(name) + " must be one-dimensional, not of " + std::to_string(a.ndim()) +
                              " dimensions");
    }
    if (n != SIZE_MAX && static_cast<std::size_t>(a.size()) != n) {
        throw py::value_error(std::string(name) + " has " + std::to_string(a.size()) + " values for " +
                              std::to_string(n) + " points");
    }
    return std::vector<double>(a.data(), a.data() + a.size());
}

double Number(const char* name, const py::object& value)
{
    try {
        return py::float_(value).cast<double>();
    } catch (const py::error_already_set&) {
        throw py::type_error(std::string(name) + " must be a number");
    }
}

// What fit_eos returns; the attributes are documented on the class.
struct EosResult {
    py::object form, n_points, n_refined, refined, params, sigmas, covariance, correlation;
    py::object chi2, chi2_reduced, max_abs_residual_sigma;
    py::object p, sigma_p, v, sigma_v, t_c, p_fit, residual_p, sigma_eff, residual_sigma;
    py::object f, sigma_f, F, sigma_F, curve_v, curve_t_c, curve_p, curve_f, curve_F, ellipse_68, ellipse_95;
};

constexpr const char* kFields[] = {
    "form", "n_points", "n_refined", "refined", "params", "sigmas", "covariance", "correlation",
    "chi2", "chi2_reduced", "max_abs_residual_sigma",
    "p", "sigma_p", "v", "sigma_v", "t_c", "p_fit", "residual_p", "sigma_eff", "residual_sigma",
    "f", "sigma_f", "F", "sigma_F", "curve_v", "curve_t_c", "curve_p", "curve_f", "curve_F", "ellipse_68", "ellipse_95"};

std::vector<py::object EosResult::*> Members()
{
    return {&EosResult::form, &EosResult::n_points, &EosResult::n_refined, &EosResult::refined, &EosResult::params,
            &EosResult::sigmas, &EosResult::covariance, &EosResult::correlation, &EosResult::chi2,
            &EosResult::chi2_reduced, &EosResult::max_abs_residual_sigma, &EosResult::p, &EosResult::sigma_p,
            &EosResult::v, &EosResult::sigma_v, &EosResult::t_c, &EosResult::p_fit, &EosResult::residual_p,
            &EosResult::sigma_eff, &EosResult::residual_sigma, &EosResult::f, &EosResult::sigma_f, &EosResult::F,
            &EosResult::sigma_F, &EosResult::curve_v, &EosResult::curve_t_c, &EosResult::curve_p,
            &EosResult::curve_f, &EosResult::curve_F, &EosResult::ellipse_68, &EosResult::ellipse_95};
}

py::array_t<double> Points(const std::vector<ef::XY>& xy)
{
    py::array_t<double> a({static_cast<py::ssize_t>(xy.size()), py::ssize_t{2}});
    for (std::size_t i = 0; i < xy.size(); ++i) {
        a.mutable_at(static_cast<py::ssize_t>(i), 0) = xy[i].x;
        a.mutable_at(static_cast<py::ssize_t>(i), 1) = xy[i].y;
    }
    return a;
}

// The curves the plots draw, computed here so that plotting needs only matplotlib.
struct Curves {
    std::vector<double> v, temperatures, p, f, F;
    std::vector<ef::FfPoint> ff;
    std::vector<ef::XY> e68, e95;
};

Curves Compute(const std::vector<ef::Point>& pts, const ef::Result& r)
{
    Curves c;
    double lo = HUGE_VAL, hi = r.value[ef::kV0];
    std::set<double> ts;
    for (const ef::Point& q : pts) {
        lo = std::min(lo, q.v);
        hi = std::max(hi, q.v);
        ts.insert(std::isnan(q.tK) ? r.params.t0 : q.tK);
    }
    constexpr int kSteps = 200;
    for (int i = 0; i < kSteps; ++i) c.v.push_back(lo + (hi - lo) * i / (kSteps - 1));
    for (double t : ts) {
        c.temperatures.push_back(t);
        for (double v : c.v) c.p.push_back(hv::eos::Pressure(r.params, v, t));
    }
    c.ff = ef::FfPoints(pts, r.value[ef::kV0], ef::IsothermPressures(pts, r));
    for (double v : c.v) {
        const double f = (std::pow(r.value[ef::kV0] / v, 2.0 / 3) - 1) / 2;
        c.f.push_back(f);
        c.F.push_back(std::fabs(f) > 1e-6 ? hv::eos::IsothermPressure(r.params, v) / (3 * f * std::pow(1 + 2 * f, 2.5))
                                          : NAN);
    }
    c.e68 = ef::Ellipse(r, 2.30);
    c.e95 = ef::Ellipse(r, 6.18);
    return c;
}

EosResult FitEos(const py::object& p, const py::object& v, const py::object& sigmaP, const py::object& sigmaV,
                 const py::object& tC, const py::object& sigmaT, const std::string& form, const py::object& fix,
                 const py::object& theta0, const py::object& t0C, int z, int atoms)
{
    ef::Options o;
    if (!ef::ParseForm(form, o.form)) throw py::value_error("form must be one of 'BM2', 'BM3', 'BM4', 'Vinet'");
    if (!fix.is_none()) {
        for (const auto& item : py::dict(fix)) {
            int param = 0;
            const std::string name = py::str(item.first);
            if (!ef::ParseParam(name, param)) {
                throw py::value_error("fix: " + name + " is none of v0, k0, k0p, k0pp, gamma0, q");
            }
            o.fixed[static_cast<std::size_t>(param)] = Number(name.c_str(), py::reinterpret_borrow<py::object>(item.second));
        }
    }
    if (!theta0.is_none()) o.theta0 = Number("theta0", theta0);
    if (!t0C.is_none()) o.t0K = Number("t0_c", t0C) + 273.15;
    o.z = z;
    o.n = atoms;

    const std::vector<double> ps = Vector("p", p, SIZE_MAX);
    const std::size_t n = ps.size();
    const std::vector<double> vs = Vector("v", v, n);
    const std::vector<double> none(n, 0.0), noT(n, NAN);
    const std::vector<double> sp = sigmaP.is_none() ? none : Vector("sigma_p", sigmaP, n);
    const std::vector<double> sv = sigmaV.is_none() ? none : Vector("sigma_v", sigmaV, n);
    const std::vector<double> tc = tC.is_none() ? noT : Vector("t_c", tC, n);
    const std::vector<double> st = sigmaT.is_none() ? none : Vector("sigma_t", sigmaT, n);
    if (!sigmaT.is_none() && tC.is_none()) throw py::value_error("sigma_t needs t_c");
    std::vector<ef::Point> pts(n);
    for (std::size_t i = 0; i < n; ++i) {
        pts[i] = {ps[i], sp[i], vs[i], sv[i], tc[i] + 273.15, st[i], static_cast<int64_t>(i + 1)};
    }

    ef::Result r;
    Curves c;
    {
        py::gil_scoped_release unlocked;
        r = ef::Fit(pts, o);
        if (r.ok) c = Compute(pts, r);
    }
    // Rows are points here: "line 3" of a CSV is the third point.
    if (!r.ok) {
        std::string m = r.message;
        for (std::size_t at = m.find("line "); at != std::string::npos; at = m.find("line ", at + 1)) {
            m.replace(at, 5, "point ");
        }
        throw py::value_error(m);
    }

    EosResult e;
    e.form = py::str(std::string(ef::FormName(r.form)));
    e.n_points = py::int_(r.nPoints);
    e.n_refined = py::int_(r.nRefined);
    py::list refined;
    py::dict params, sigmas;
    std::vector<int> free;
    for (int j = 0; j < ef::kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        if (!r.has[ju]) continue;
        const std::string key(ef::ParamKey(j));
        params[key.c_str()] = r.value[ju];
        sigmas[key.c_str()] = r.refined[ju] ? r.sigma[ju] : NAN;
        if (r.refined[ju]) {
            refined.append(key);
            free.push_back(j);
        }
    }
    e.refined = py::tuple(refined);
    e.params = params;
    e.sigmas = sigmas;
    const auto k = static_cast<py::ssize_t>(free.size());
    py::array_t<double> cov({k, k}), cor({k, k});
    for (py::ssize_t a = 0; a < k; ++a) {
        for (py::ssize_t b = 0; b < k; ++b) {
            const auto ia = static_cast<std::size_t>(free[static_cast<std::size_t>(a)]);
            const auto ib = static_cast<std::size_t>(free[static_cast<std::size_t>(b)]);
            cov.mutable_at(a, b) = r.covariance[ia][ib];
            cor.mutable_at(a, b) = r.correlation[ia][ib];
        }
    }
    e.covariance = cov;
    e.correlation = cor;
    e.chi2 = py::float_(r.chi2);
    e.chi2_reduced = py::float_(r.chi2Reduced);
    e.max_abs_residual_sigma = py::float_(r.maxAbsResidualSigma);
    e.p = Doubles(ps);
    e.sigma_p = Doubles(sp);
    e.v = Doubles(vs);
    e.sigma_v = Doubles(sv);
    e.t_c = Doubles(tc);
    e.p_fit = Doubles(r.pModel);
    e.residual_p = Doubles(r.residualP);
    e.sigma_eff = Doubles(r.sigmaEff);
    e.residual_sigma = Doubles(r.residualSigma);
    std::vector<double> f, sf, F, sF;
    for (const ef::FfPoint& q : c.ff) {
        f.push_back(q.f);
        sf.push_back(q.sigmaf);
        F.push_back(q.F);
        sF.push_back(q.sigmaF);
    }
    e.f = Doubles(f);
    e.sigma_f = Doubles(sf);
    e.F = Doubles(F);
    e.sigma_F = Doubles(sF);
    e.curve_v = Doubles(c.v);
    std::vector<double> tcs;
    for (double t : c.temperatures) tcs.push_back(t - 273.15);
    e.curve_t_c = Doubles(tcs);
    e.curve_p = Doubles(c.p).attr("reshape")(static_cast<py::ssize_t>(c.temperatures.size()),
                                             static_cast<py::ssize_t>(c.v.size()));
    e.curve_f = Doubles(c.f);
    e.curve_F = Doubles(c.F);
    e.ellipse_68 = Points(c.e68);
    e.ellipse_95 = Points(c.e95);
    return e;
}

// result.plot(kind="pv", ax=None), in Python: it only calls matplotlib.
constexpr const char* kPlotSource = R"py(
def plot(self, kind="pv", ax=None):
    if kind not in ("pv", "ff", "ellipse"):
        raise ValueError("kind must be 'pv', 'ff' or 'ellipse'")
    try:
        import matplotlib
    except ImportError as e:
        raise ImportError("EosResult.plot needs matplotlib, which is not installed: "
                          "apt-get install python3-matplotlib, or pip install matplotlib") from e
    import numpy as np
    import matplotlib.pyplot as plt
    residual_ax = None
    if ax is None:
        if kind == "pv":
            fig, (ax, residual_ax) = plt.subplots(2, 1, sharex=True, figsize=(9, 7),
                                                  gridspec_kw={"height_ratios": [3, 1], "hspace": 0.08})
        else:
            fig, ax = plt.subplots(figsize=(9, 6))
    parts = []
    for key, value in self.params.items():
        s = self.sigmas[key]
        parts.append(f"{key} = {value:.6g}" + (f" ± {s:.2g}" if np.isfinite(s) else " (fixed)"))
    ax.set_title(f"{self.form}: " + ", ".join(parts), fontsize=10)
    if kind == "pv":
        ax.errorbar(self.v, self.p, xerr=self.sigma_v, yerr=self.sigma_p, fmt="o", ms=3, color="k",
                    ecolor="tab:blue", capsize=2, label="data")
        for t, p in zip(self.curve_t_c, self.curve_p):
            ax.plot(self.curve_v, p, color="tab:red", lw=1.2)
        ax.set_ylabel("P (GPa)")
        if residual_ax is not None:
            residual_ax.axhline(0, color="0.5", lw=0.8)
            residual_ax.errorbar(self.v, self.residual_p, yerr=self.sigma_eff, fmt="o", ms=3, color="k",
                                 ecolor="tab:blue", capsize=2)
            residual_ax.set_ylabel("P − fit (GPa)")
            residual_ax.set_xlabel("V")
        else:
            ax.set_xlabel("V")
    elif kind == "ff":
        ok = np.isfinite(self.F)
        ax.errorbar(self.f[ok], self.F[ok], xerr=self.sigma_f[ok], yerr=self.sigma_F[ok], fmt="o", ms=3,
                    color="k", ecolor="tab:blue", capsize=2)
        ax.plot(self.curve_f, self.curve_F, color="tab:red", lw=1.2)
        ax.set_xlabel("f = ((V0/V)^(2/3) − 1) / 2")
        ax.set_ylabel("F (GPa)")
    else:
        if len(self.ellipse_68) == 0:
            raise ValueError("no ellipse: K0 and K0' are not both refined")
        ax.plot(self.ellipse_95[:, 0], self.ellipse_95[:, 1], color="tab:blue", label="95.4 % (Δχ² = 6.18)")
        ax.plot(self.ellipse_68[:, 0], self.ellipse_68[:, 1], color="tab:red", label="68.3 % (Δχ² = 2.30)")
        ax.plot([self.params["k0"]], [self.params["k0p"]], "ko", ms=4)
        ax.set_xlabel("K0 (GPa)")
        ax.set_ylabel("K0'")
        ax.legend(fontsize=8)
    return ax
)py";

py::str Repr(const EosResult& r)
{
    std::string out = "hivarnisse.EosResult(form=" + py::repr(r.form).cast<std::string>();
    out += ", params=" + py::repr(r.params).cast<std::string>();
    out += ", sigmas=" + py::repr(r.sigmas).cast<std::string>();
    out += ", chi2_reduced=" + py::repr(r.chi2_reduced).cast<std::string>() + ")";
    return py::str(out);
}

}  // namespace

void RegisterEos(py::module_& m)
{
    py::class_<EosResult> cls(m, "EosResult", doc::kEosResult);
    hv::python::DefineRecord(cls, kFields, Members(), "EosResult");
    cls.def("__repr__", &Repr);
    hv::python::AttachPlot(cls, kPlotSource, doc::kEosPlot, "EosResult");

    m.def("fit_eos", &FitEos, doc::kFitEos, "p"_a, "v"_a, py::kw_only(), "sigma_p"_a = py::none(),
          "sigma_v"_a = py::none(), "t_c"_a = py::none(), "sigma_t"_a = py::none(), "form"_a = "BM3",
          "fix"_a = py::none(), "theta0"_a = py::none(), "t0_c"_a = py::none(), "z"_a = 1, "atoms"_a = 1);
}
