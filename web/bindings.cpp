// The core as a WebAssembly module for the page (embind). Everything numeric happens in the
// core; this file converts arguments and packs results into JavaScript objects. web/api.js
// builds window.hivarnisse over these functions.
#include "rows/batch.h"
#include "rows/commands.h"
#include "rows/csv.h"
#include "rows/standards_table.h"
#include "core/convert.h"
#include "core/scales.h"
#include "core/cell.h"
#include "core/hexagonal_rows.h"
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"
#include "web/calculator.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cmath>
#include <string>
#include <vector>

using emscripten::val;

namespace {

const hv::Standard& StandardArg(const std::string& name)
{
    const hv::Standard* s = hv::FindStandardAnyCase(name);
    if (!s) {
        val::global("Error")
            .new_(std::string("unknown standard ") + hv::Quoted(name) + ": known are " + hv::AllStandardNames())
            .throw_();
    }
    return *s;
}

void ThrowError(const std::string& why)
{
    val::global("Error").new_(why).throw_();
}

// ---- The window's calculator ----

val Steps(const std::string& standardName)
{
    val out = val::array();
    for (int16_t n : hv::WindowSteps(standardName)) {
        val step = val::object();
        step.set("n", n);
        step.set("label", hv::ReflectionLabel(n, standardName));
        out.call<void>("push", step);
    }
    return out;
}

std::string AmbientText(const std::string& standardName)
{
    const hv::Standard* s = hv::FindStandard(standardName);
    return s ? hv::web::WindowText(s->a0, 7) : std::string();
}

val Calculate(const std::string& standardName, const std::string& temperature, int n, const std::string& value)
{
    const hv::web::Calculation c = hv::web::Calculate(standardName, temperature, n, value);
    static const char* const kFields[] = {"", "temperature", "value", "pressure"};
    val out = val::object();
    out.set("ok", c.ok);
    out.set("field", std::string(kFields[static_cast<int>(c.field)]));
    out.set("reason", c.reason);
    out.set("pressure", c.pressure);
    out.set("warning", c.warning);
    out.set("p_gpa", c.ok ? static_cast<double>(c.pGpa) : NAN);
    out.set("v_ratio", c.ok ? c.vRatio : NAN);
    return out;
}

// ---- As the Python module: one element of pressure(), fit(), spacing() ----

// The table of standards and scales, for the page's choosers and its list of references.
val StandardsTable()
{
    val out = val::array();
    for (const hv::Standard& s : hv::AllStandards()) {
        val row = val::object();
        row.set("name", std::string(s.name));
        row.set("material", std::string(s.material));
        row.set("scale", std::string(s.scale));
        row.set("default", s.isDefault);
        row.set("builtin", !hv::IsPublished(s));
        row.set("structure", hv::rows::StructureText(s));
        row.set("equation", hv::rows::EquationText(s));
        row.set("range", std::string(s.range));
        row.set("phase", std::string(s.phase));
        row.set("reference", std::string(s.reference));
        out.call<void>("push", row);
    }
    return out;
}

bool IsPublishedName(const std::string& name)
{
    return hv::IsPublished(StandardArg(name));
}

// A pressure on another scale of the same material, as Python's convert().
val ConvertPressure(double pGpa, double tC, const std::string& fromName, const std::string& toName)
{
    const hv::Standard& from = StandardArg(fromName);
    const hv::Standard& to = StandardArg(toName);
    const float t = static_cast<float>(tC);
    hv::Conversion c;
    if (std::string why; !hv::CheckTemperature(t, why)) {
        c.message = why;
    } else {
        c = hv::Convert(pGpa, t, from, to);
    }
    val out = val::object();
    out.set("p_gpa", c.pressure);
    out.set("volume", c.volume);
    out.set("from_standard", std::string(from.name));
    out.set("to_standard", std::string(to.name));
    out.set("status", std::string(hv::StatusName(c.status)));
    out.set("message", c.message);
    return out;
}

// p_gpa as the Python module gives it: a published scale's double, the built-in model's single.
val ResultObject(const hv::Result& r, const hv::Standard& standard)
{
    val out = val::object();
    out.set("p_gpa", hv::IsPublished(standard) ? (r.status == hv::Status::Error ? NAN : r.pressure)
                                               : static_cast<double>(r.pGpa));
    out.set("sigma_p_gpa", r.sigmaPGpa);
    out.set("a", r.a);
    out.set("sigma_a", r.sigmaA);
    out.set("v_ratio", r.vRatio);
    out.set("status", std::string(hv::StatusName(r.status)));
    out.set("message", r.message);
    return out;
}

// NaN for "not given", as the Python module takes None.
val PressureOne(const std::string& standardName, double tC, const std::string& hkl, double d, double sigmaD,
                double sigmaT)
{
    const hv::Standard& standard = StandardArg(standardName);
    // The window reads the temperature first, then the reflection, then d.
    hv::Result r;
    const float t = static_cast<float>(tC);
    std::string why;
    if (!hv::CheckTemperature(t, why)) {
        r.message = why;
    } else if (const auto refl = hv::ParseReflection(hkl, standard, why); !refl) {
        r.message = why;
    } else {
        const hv::Peak peak{*refl, d, sigmaD};
        r = hv::Fit(standard, t, {&peak, 1}, sigmaT);
    }
    return ResultObject(r, standard);
}

val FitPattern(const std::string& standardName, double tC, const std::vector<std::string>& hkl,
               const std::vector<double>& d, const std::vector<double>& sigmaD, double sigmaT)
{
    const hv::Standard& standard = StandardArg(standardName);
    const float t = static_cast<float>(tC);
    hv::Result r;
    std::vector<hv::Peak> peaks;
    std::string why;
    if (!hv::CheckTemperature(t, why)) {
        r.message = why;
    } else {
        for (std::size_t i = 0; i < hkl.size(); ++i) {
            const auto refl = hv::ParseReflection(hkl[i], standard, why);
            if (!refl) {
                r.message = "hkl[" + std::to_string(i) + "]: " + why;
                break;
            }
            peaks.push_back({*refl, d[i], sigmaD[i]});
        }
    }
    if (r.message.empty()) r = hv::Fit(standard, t, peaks, sigmaT);
    val out = ResultObject(r, standard);
    out.set("n_peaks", static_cast<int>(hkl.size()));
    return out;
}

val Spacing(const std::string& standardName, double tC, double pGpa, const std::vector<std::string>& hkl,
            bool listed, double wavelength, int maxN)
{
    const hv::Standard& standard = StandardArg(standardName);
    constexpr int kMaxListed = 10000;
    if (maxN < 1 || maxN > kMaxListed) ThrowError("max_n must lie between 1 and " + std::to_string(kMaxListed));
    std::vector<hv::Reflection> asked;
    std::string why;
    for (const std::string& text : hkl) {
        const auto refl = hv::ParseReflection(text, standard, why);
        if (!refl) ThrowError(why);
        asked.push_back(*refl);
    }
    hv::SpacingResult s = hv::SpacingsAt(standard, static_cast<float>(tC), pGpa, listed ? maxN : 0, wavelength);
    const bool hexagonal = hv::IsHexagonal(standard);
    if (s.status != hv::Status::Error && hexagonal && listed && !hv::AddHexagonalRows(standard, maxN, wavelength, s, why)) {
        ThrowError(why);
    }
    if (s.status == hv::Status::Error) ThrowError(s.message);
    val names = val::array(), ns = val::array(), ds = val::array(), twoThetas = val::array();
    const auto add = [&](const std::string& name, int n, double dv) {
        names.call<void>("push", name);
        ns.call<void>("push", n);
        ds.call<void>("push", dv);
        twoThetas.call<void>("push", hv::TwoTheta(dv, wavelength));
    };
    if (listed) {
        for (const hv::SpacingRow& row : s.rows) add(hv::HklText(row.hkl), row.n, row.d);
    } else {
        for (const hv::Reflection& refl : asked) {
            add(hv::ReflectionText(refl), refl.n,
                hexagonal ? hv::Spacing(hv::CrystalSystem::Hexagonal, s.a, s.c, refl.hkl) : hv::Spacing(s.a, refl.n));
        }
    }
    val out = val::object();
    out.set("hkl", names);
    out.set("n", ns);
    out.set("d", ds);
    if (!std::isnan(wavelength)) out.set("two_theta", twoThetas);
    out.set("a", s.a);
    if (hexagonal) out.set("c", s.c);
    out.set("volume", s.volume);
    out.set("v_ratio", s.vRatio);
    out.set("status", std::string(hv::StatusName(s.status)));
    out.set("message", s.message);
    return out;
}

// ---- The command-line program's answers, for the page's tables ----

val Answer(int code, const std::string& out, const std::string& err)
{
    val r = val::object();
    r.set("code", code);
    r.set("out", out);
    r.set("err", err);
    return r;
}

// peaks: a JavaScript array of "HKL:D[:SIGMA_D]".
val PressureCommand(const std::string& standard, const std::string& temperature, val peaks, const std::string& sigmaT)
{
    hv::rows::PressureRequest q;
    q.standard = standard;
    q.temperature = temperature;
    q.sigmaT = sigmaT;
    q.peaks = emscripten::vecFromJSArray<std::string>(peaks);
    std::string out, err;
    const int code = hv::rows::RunPressure(q, out, err);
    return Answer(code, out, err);
}

val SpacingCommand(const std::string& standard, const std::string& temperature, const std::string& pressure,
                   const std::string& wavelength, int maxN, bool csv)
{
    hv::rows::SpacingRequest q;
    q.standard = standard;
    q.temperature = temperature;
    q.pressure = pressure;
    q.wavelength = wavelength;
    q.maxN = maxN;
    q.csv = csv;
    std::string out, err;
    const int code = hv::rows::RunSpacing(q, out, err);
    return Answer(code, out, err);
}

// The wavelength in angstrom of a photon energy typed in keV, as text the spacing command
// reads back to the same double; empty when the energy is no positive number.
std::string WavelengthOfEnergyText(const std::string& keV)
{
    double e = 0;
    std::string why;
    if (!hv::ParseNumber(keV, e, why) || !(e > 0)) return {};
    return hv::Shortest(hv::WavelengthOfEnergy(e));
}

// ---- batch: the bytes of hivarnisse-calc batch ----

// Reports how far the reading has come, for the page's progress bar.
class ProgressSource final : public hv::rows::Source {
public:
    ProgressSource(std::string_view data, val progress) : data_(data), total_(data.size()), progress_(progress) {}
    long Read(char* buffer, std::size_t size) override
    {
        const long got = data_.Read(buffer, std::min<std::size_t>(size, 1 << 16));
        done_ += static_cast<std::size_t>(got);
        if (!progress_.isUndefined() && !progress_.isNull()) progress_(static_cast<double>(done_), static_cast<double>(total_));
        return got;
    }
    // The batch reads its input twice (the first pass only looks at the standards).
    bool Rewind() override
    {
        done_ = 0;
        return data_.Rewind();
    }

private:
    hv::rows::MemorySource data_;
    std::size_t done_ = 0, total_;
    val progress_;
};

val Batch(const std::string& csv, val progress)
{
    ProgressSource source(csv, progress);
    std::string out;
    const hv::rows::BatchSummary s =
        hv::rows::RunBatch(source, [&out](std::string_view text) { out.append(text); }, 1);
    val r = val::object();
    r.set("csv", out);
    r.set("exit_code", s.exitCode);
    r.set("error", s.error);
    r.set("rows", static_cast<double>(s.rows));
    r.set("errors", static_cast<double>(s.errors));
    return r;
}

}  // namespace

EMSCRIPTEN_BINDINGS(hivarnisse)
{
    emscripten::register_vector<std::string>("StringVector");
    emscripten::register_vector<double>("DoubleVector");
    emscripten::function("steps", &Steps);
    emscripten::function("ambientText", &AmbientText);
    emscripten::function("calculate", &Calculate);
    emscripten::function("pressureOne", &PressureOne);
    emscripten::function("fitPattern", &FitPattern);
    emscripten::function("spacing", &Spacing);
    emscripten::function("pressureCommand", &PressureCommand);
    emscripten::function("spacingCommand", &SpacingCommand);
    emscripten::function("wavelengthOfEnergy", &WavelengthOfEnergyText);
    emscripten::function("batch", &Batch);
    emscripten::function("standards", &StandardsTable);
    emscripten::function("isPublished", &IsPublishedName);
    emscripten::function("convert", &ConvertPressure);
}
