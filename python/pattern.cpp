// Integrated diffraction patterns in the Python module: read_pattern and fit_pattern over
// the pattern library, the result with its peak table and curves, and its plot. The reading
// and fitting are the library's; this file converts arrays and arguments.
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"
#include "pattern/pattern.h"
#include "python/arguments.h"
#include "python/record.h"

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "docstrings.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// Core and file messages may quote bytes cut anywhere: never let them fail to decode.
py::str Text(const std::string& text)
{
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

py::array_t<double> Doubles(const std::vector<double>& v)
{
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::object OptionalNumber(double v)
{
    return std::isnan(v) ? py::object(py::none()) : py::object(py::float_(v));
}

// A one-dimensional float64 copy of an array argument.
std::vector<double> Vector(const char* name, const py::object& value)
{
    const py::array_t<double, py::array::c_style | py::array::forcecast> a =
        py::module_::import("numpy").attr("asarray")(value, "dtype"_a = "float64");
    if (a.ndim() != 1) {
        throw py::value_error(std::string(name) + " must be one-dimensional, not of " + std::to_string(a.ndim()) +
                              " dimensions");
    }
    return std::vector<double>(a.data(), a.data() + a.size());
}

double Number(const char* name, const py::object& value)
{
    if (value.is_none()) return hv::kNone;
    try {
        return py::float_(value).cast<double>();
    } catch (const py::error_already_set&) {
        throw py::type_error(std::string(name) + " must be a number or None");
    }
}

double PositiveNumber(const char* name, const py::object& value, const char* unit)
{
    const double v = Number(name, value);
    if (!value.is_none() && !(v > 0 && std::isfinite(v))) {
        throw py::value_error(std::string(name) + " must be a positive number of " + unit);
    }
    return v;
}

// (lo, hi) with lo < hi, or None.
void Range(const char* name, const py::object& value, double& lo, double& hi)
{
    if (value.is_none()) return;
    const std::vector<double> v = Vector(name, value);
    if (v.size() != 2 || !(v[0] < v[1]) || !std::isfinite(v[0]) || !std::isfinite(v[1])) {
        throw py::value_error(std::string(name) + " must be (lo, hi) with lo below hi");
    }
    lo = v[0];
    hi = v[1];
}

// ---- read_pattern ----

py::object ReadPattern(const py::object& path)
{
    const std::string file = py::bytes(py::module_::import("os").attr("fsencode")(path));
    hv::pattern::ReadOutcome r;
    {
        py::gil_scoped_release unlocked;
        r = hv::pattern::ReadFile(file);
    }
    if (!r.ok) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) {
            PyErr_SetObject(PyExc_FileNotFoundError,
                            py::make_tuple(ENOENT, std::strerror(ENOENT), py::module_::import("os").attr("fsdecode")(path))
                                .ptr());
            throw py::error_already_set();
        }
        throw py::value_error(Text(r.error).cast<std::string>());
    }
    const hv::pattern::Pattern& p = r.pattern;
    const py::object sigma = p.sigma.empty() ? py::object(py::none()) : py::object(Doubles(p.sigma));
    const py::object unit = p.unit ? py::object(py::str(std::string(hv::XUnitName(*p.unit)))) : py::object(py::none());
    return py::module_::import("hivarnisse").attr("Pattern")(Doubles(p.x), Doubles(p.intensity), sigma, unit,
                                                             OptionalNumber(p.wavelength));
}

// ---- fit_pattern ----

// What fit_pattern returns; the attributes are documented on the class.
struct PatternResult {
    py::object standard, t_c, x_unit, x_unit_source, wavelength, wavelength_source;
    py::object n_peaks, a, sigma_a, v_ratio, p_gpa, sigma_p_gpa, status, message;
    py::object peaks, x, intensity, curve, background;
    py::object fom, strong_found, strong_expected, trend, sigma_trend, zero_shift, sigma_zero_shift;
    py::object c, sigma_c;
};

constexpr const char* kFields[] = {"standard",   "t_c",       "x_unit",      "x_unit_source", "wavelength",
                                   "wavelength_source", "n_peaks", "a",        "sigma_a",       "v_ratio",
                                   "p_gpa",      "sigma_p_gpa", "status",    "message",       "peaks",
                                   "x",          "intensity", "curve",       "background",    "fom",
                                   "strong_found", "strong_expected", "trend", "sigma_trend", "zero_shift",
                                   "sigma_zero_shift", "c",   "sigma_c"};

std::vector<py::object PatternResult::*> Members()
{
    return {&PatternResult::standard,   &PatternResult::t_c,         &PatternResult::x_unit,
            &PatternResult::x_unit_source, &PatternResult::wavelength, &PatternResult::wavelength_source,
            &PatternResult::n_peaks,    &PatternResult::a,           &PatternResult::sigma_a,
            &PatternResult::v_ratio,    &PatternResult::p_gpa,       &PatternResult::sigma_p_gpa,
            &PatternResult::status,     &PatternResult::message,     &PatternResult::peaks,
            &PatternResult::x,          &PatternResult::intensity,   &PatternResult::curve,
            &PatternResult::background, &PatternResult::fom,         &PatternResult::strong_found,
            &PatternResult::strong_expected, &PatternResult::trend,  &PatternResult::sigma_trend,
            &PatternResult::zero_shift, &PatternResult::sigma_zero_shift, &PatternResult::c,
            &PatternResult::sigma_c};
}

std::vector<hv::Reflection> ReflectionsArg(const py::object& value, const hv::Standard& standard)
{
    std::vector<hv::Reflection> out;
    if (value.is_none()) return out;
    std::vector<std::string> texts;
    if (hv::python::IsWholeNumber(value)) {
        texts.push_back(py::str(value).cast<std::string>());
    } else if (py::isinstance<py::str>(value)) {
        // "200,220,222" as on the command line.
        std::string all = value.cast<std::string>();
        std::size_t from = 0;
        for (std::size_t comma; (comma = all.find(',', from)) != std::string::npos; from = comma + 1) {
            texts.push_back(all.substr(from, comma - from));
        }
        texts.push_back(all.substr(from));
    } else {
        for (const py::handle item : value) {
            if (hv::python::IsWholeNumber(item)) {
                texts.push_back(py::str(item).cast<std::string>());
                continue;
            }
            if (!py::isinstance<py::str>(item)) throw py::type_error("reflections must be strings, as \"200\", or whole numbers");
            texts.push_back(item.cast<std::string>());
        }
    }
    for (const std::string& t : texts) {
        std::string why;
        const auto r = hv::ParseReflection(t, standard, why);
        if (!r) throw py::value_error("reflections: " + why);
        if (r->latticeParameter) throw py::value_error("reflections: lp is no reflection to fit");
        out.push_back(*r);
    }
    if (out.empty()) throw py::value_error("reflections: none given; None fits every predicted one");
    return out;
}

// The checks a file's reader makes, for arrays that come from elsewhere.
void CheckArrays(const hv::pattern::Pattern& p)
{
    if (std::string why; !hv::pattern::CheckPattern(p, why)) throw py::value_error(why);
}

py::dict PeakTable(const std::vector<hv::pattern::PeakRow>& peaks)
{
    const py::ssize_t n = static_cast<py::ssize_t>(peaks.size());
    py::list hkl, note;
    py::array_t<int64_t> count(n);
    py::array_t<bool> used(n);
    std::vector<std::vector<double>> columns(10, std::vector<double>(peaks.size()));
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const hv::pattern::PeakRow& p = peaks[i];
        hkl.append(hv::ReflectionText(p.reflection));
        note.append(Text(p.note));
        count.mutable_at(static_cast<py::ssize_t>(i)) = p.reflection.n;
        used.mutable_at(static_cast<py::ssize_t>(i)) = p.used;
        const double values[] = {p.position, p.sigmaPosition, p.fwhm, p.eta,       p.height,
                                 p.d,        p.sigmaD,        p.aI,   p.predicted, p.expected};
        for (std::size_t k = 0; k < 10; ++k) columns[k][i] = values[k];
    }
    const py::module_ np = py::module_::import("numpy");
    py::dict t;
    t["hkl"] = np.attr("array")(hkl, "dtype"_a = "U");
    t["n"] = count;
    const char* names[] = {"position", "sigma_position", "fwhm", "eta", "height", "d", "sigma_d", "a_i", "predicted",
                           "i_expected"};
    for (std::size_t k = 0; k < 10; ++k) t[names[k]] = Doubles(columns[k]);
    t["used"] = used;
    t["note"] = np.attr("array")(note, "dtype"_a = "object");
    if (n == 0) t["hkl"] = np.attr("empty")(0, "dtype"_a = "U1");
    return t;
}

PatternResult FitPattern(const std::string& standardName, const py::object& tC, const py::object& x,
                         const py::object& intensity, const py::object& sigma, const std::string& xUnit,
                         const py::object& wavelength, const py::object& energy, const py::object& twoThetaFixed,
                         const py::object& sigmaT, const py::object& pressureGuess, const py::object& pressureRange,
                         const py::object& xRange, const py::object& reflections, bool zeroShift)
{
    const hv::Standard* standard = hv::FindStandardAnyCase(standardName);
    if (!standard) {
        throw py::value_error("unknown standard " + hv::Quoted(standardName) + ": known are " + hv::AllStandardNames());
    }
    hv::pattern::Options o;
    o.standard = standard;
    o.tCelsius = static_cast<float>(Number("t_c", hv::python::TemperatureArg(tC)));
    hv::XUnit unit;
    if (!hv::ParseXUnit(xUnit, unit)) {
        throw py::value_error("x_unit " + hv::Quoted(xUnit) + " is not one of " + hv::XUnitChoices());
    }
    o.unit = unit;
    if (!wavelength.is_none() && !energy.is_none()) throw py::value_error("give wavelength or energy, not both");
    o.wavelength = PositiveNumber("wavelength", wavelength, "angstrom");
    o.energy = PositiveNumber("energy", energy, "keV");
    o.twoThetaFixed = Number("two_theta_fixed", twoThetaFixed);
    if (!twoThetaFixed.is_none() && !(o.twoThetaFixed > 0 && o.twoThetaFixed < 180)) {
        throw py::value_error("two_theta_fixed must lie between 0 and 180 degrees");
    }
    o.sigmaT = Number("sigma_t", sigmaT);
    if (!sigmaT.is_none() && !(o.sigmaT >= 0)) throw py::value_error("sigma_t must be 0 kelvin or more");
    if (!pressureGuess.is_none() && !pressureRange.is_none()) {
        throw py::value_error("give pressure_guess or pressure_range, not both");
    }
    o.pressureGuess = Number("pressure_guess", pressureGuess);
    if (!pressureGuess.is_none() && !std::isfinite(o.pressureGuess)) throw py::value_error("pressure_guess must be finite");
    Range("pressure_range", pressureRange, o.pressureLo, o.pressureHi);
    Range("x_range", xRange, o.xLo, o.xHi);
    o.reflections = ReflectionsArg(reflections, *standard);
    o.zeroShift = zeroShift;
    o.names = {"pressure_guess", "pressure_range", "zero_shift=True"};  // hints in messages, as Python writes them

    hv::pattern::Pattern p;
    p.x = Vector("x", x);
    p.intensity = Vector("intensity", intensity);
    if (!sigma.is_none()) p.sigma = Vector("sigma", sigma);
    CheckArrays(p);

    hv::pattern::Outcome out;
    std::string why;
    if (!hv::CheckTemperature(o.tCelsius, why)) {
        // As fit(): an input the model cannot take is an error result, not an exception.
        out.unit = unit;
        out.unitSource = "user";
        out.result.message = why;
    } else {
        py::gil_scoped_release unlocked;
        out = hv::pattern::FitPattern(p, o);
    }

    PatternResult r;
    const hv::Result& res = out.result;
    const bool numbers = res.status != hv::Status::Error;
    r.standard = py::str(std::string(standard->name));
    r.t_c = py::float_(o.tCelsius);
    r.x_unit = py::str(std::string(hv::XUnitName(out.unit)));
    r.x_unit_source = py::str(out.unitSource);
    r.wavelength = py::float_(out.wavelength);
    r.wavelength_source = py::str(out.wavelengthSource);
    long used = 0;
    for (const auto& peak : out.peaks) used += peak.used;
    r.n_peaks = py::int_(used);
    r.a = py::float_(numbers ? res.a : hv::kNone);
    r.sigma_a = py::float_(numbers ? res.sigmaA : hv::kNone);
    r.c = py::float_(numbers ? res.c : hv::kNone);
    r.sigma_c = py::float_(numbers ? res.sigmaC : hv::kNone);
    r.v_ratio = py::float_(numbers ? res.vRatio : hv::kNone);
    r.p_gpa = py::module_::import("numpy").attr("float32")(numbers ? res.pGpa : NAN);
    r.sigma_p_gpa = py::float_(numbers ? res.sigmaPGpa : hv::kNone);
    r.status = py::str(std::string(hv::StatusName(res.status)));
    r.message = Text(res.message);
    r.peaks = PeakTable(out.peaks);
    r.x = Doubles(p.x);
    r.intensity = Doubles(p.intensity);
    r.fom = py::float_(out.fom);
    r.strong_found = py::int_(out.strongFound);
    r.strong_expected = py::int_(out.strongExpected);
    r.trend = py::float_(out.trend);
    r.sigma_trend = py::float_(out.sigmaTrend);
    r.zero_shift = py::float_(out.zeroShift);
    r.sigma_zero_shift = py::float_(out.sigmaZeroShift);
    const std::vector<double> none(p.x.size(), hv::kNone);
    r.curve = Doubles(out.curve.size() == p.x.size() ? out.curve : none);
    r.background = Doubles(out.background.size() == p.x.size() ? out.background : none);
    return r;
}

py::str Repr(const PatternResult& r)
{
    std::string out = "hivarnisse.PatternResult(";
    const char* shown[] = {"status", "message", "p_gpa", "sigma_p_gpa", "a", "sigma_a", "n_peaks"};
    const auto members = Members();
    bool first = true;
    for (const char* name : shown) {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (std::string_view(kFields[i]) != name) continue;
            const py::object& v = r.*members[i];
            const py::object value = std::string_view(name) == "p_gpa" ? py::float_(v) : v;
            out += (first ? "" : ", ") + std::string(name) + "=" + py::repr(value).cast<std::string>();
            first = false;
        }
    }
    return py::str(out + ")");
}

// result.plot(ax=None), in Python: it only calls matplotlib.
constexpr const char* kPlotSource = R"py(
def plot(self, ax=None):
    try:
        import matplotlib
    except ImportError as e:
        raise ImportError("PatternResult.plot needs matplotlib, which is not installed: "
                          "apt-get install python3-matplotlib, or pip install matplotlib") from e
    import numpy as np
    residual_ax = None
    if ax is None:
        import matplotlib.pyplot as plt
        fig, (ax, residual_ax) = plt.subplots(2, 1, sharex=True, figsize=(10, 7),
                                              gridspec_kw={"height_ratios": [3, 1], "hspace": 0.08})
    names = {"2theta": "2θ (degrees)", "2theta_rad": "2θ (radians)", "q_A": "q (Å⁻¹)",
             "q_nm": "q (nm⁻¹)", "d": "d (Å)", "kev": "E (keV)"}
    ax.plot(self.x, self.intensity, color="0.35", lw=0.8, label="data")
    ax.plot(self.x, self.background, "--", color="tab:blue", lw=1, label="background")
    ax.plot(self.x, self.curve, color="tab:red", lw=1.2, label="fit")
    peaks = self.peaks
    # Where the lattice puts each reflection; a spoiled one's fitted position may lie off it.
    position = np.where(np.isfinite(peaks["predicted"]), peaks["predicted"], peaks["position"])
    ticks = ax.get_xaxis_transform()
    for used, colour, label in ((True, "tab:green", "used"), (False, "tab:orange", "left out")):
        chosen = (peaks["used"] == used) & np.isfinite(position)
        if chosen.any():
            ax.vlines(position[chosen], 0, 0.04, transform=ticks, colors=colour, lw=2,
                      linestyles="solid" if used else "dashed", label=label)
        for x, hkl in zip(position[chosen], peaks["hkl"][chosen]):
            ax.text(x, 0.05, hkl, transform=ticks, rotation=90, ha="center", va="bottom",
                    fontsize=8, color=colour)
    if self.status == "error":
        title = f"{self.standard}, T = {self.t_c:g} °C: no pressure ({self.message})"
    else:
        title = f"{self.standard}, T = {self.t_c:g} °C, P = {float(self.p_gpa):.3f}"
        if np.isfinite(self.sigma_p_gpa):
            title += f" ± {self.sigma_p_gpa:.3f}"
        title += f" GPa ({self.n_peaks} reflections)"
        if self.status == "warning":
            title += f"\nwarning: {self.message}"
    ax.set_title(title, fontsize=10)
    ax.set_ylabel("intensity")
    ax.legend(loc="upper right", fontsize=8)
    xlabel = names.get(self.x_unit, self.x_unit)
    if residual_ax is not None:
        residual_ax.axhline(0, color="0.5", lw=0.8)
        residual_ax.plot(self.x, self.intensity - self.curve, color="tab:red", lw=0.8)
        residual_ax.set_ylabel("residual")
        residual_ax.set_xlabel(xlabel)
    else:
        ax.set_xlabel(xlabel)
    return ax
)py";

}  // namespace

void RegisterPattern(py::module_& m)
{
    const py::module_ collections = py::module_::import("collections");
    py::object pattern = collections.attr("namedtuple")("Pattern", py::make_tuple("x", "intensity", "sigma", "x_unit",
                                                                                  "wavelength"),
                                                        "module"_a = "hivarnisse");
    pattern.attr("__doc__") = doc::kPattern;
    m.attr("Pattern") = pattern;

    py::class_<PatternResult> cls(m, "PatternResult", doc::kPatternResult);
    const auto members = Members();
    hv::python::DefineRecord(cls, kFields, members, "PatternResult");
    cls.def("__repr__", &Repr);
    cls.def("as_dict", [](const PatternResult& r) {
        py::dict d;
        const auto members = Members();
        for (std::size_t i = 0; i < members.size(); ++i) d[kFields[i]] = r.*members[i];
        return d;
    }, doc::kPatternAsDict);
    hv::python::AttachPlot(cls, kPlotSource, doc::kPlot, "PatternResult");

    m.def("read_pattern", &ReadPattern, doc::kReadPattern, "path"_a);
    m.def("fit_pattern", &FitPattern, doc::kFitPattern, "standard"_a, "t_c"_a, "x"_a, "intensity"_a, py::kw_only(),
          "sigma"_a = py::none(), "x_unit"_a = "2theta", "wavelength"_a = py::none(), "energy"_a = py::none(),
          "two_theta_fixed"_a = py::none(), "sigma_t"_a = py::none(), "pressure_guess"_a = py::none(),
          "pressure_range"_a = py::none(), "x_range"_a = py::none(), "reflections"_a = py::none(),
          "zero_shift"_a = false);
}
