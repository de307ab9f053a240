// Integrated patterns in the page: the pattern library reads and fits, rows/pattern_rows writes
// the rows and peaks of "hivarnisse-calc pattern" byte for byte; this file converts.
#include "rows/batch.h"
#include "rows/pattern_rows.h"
#include "core/numbers.h"
#include "core/standards.h"
#include "core/units.h"
#include "pattern/hints.h"
#include "pattern/pattern.h"
#include "web/calculator.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using emscripten::val;

namespace {

namespace hp = hv::pattern;

val Doubles(const std::vector<double>& v)
{
    return val::global("Float64Array").new_(emscripten::typed_memory_view(v.size(), v.data()));
}

std::string Text(val object, const char* key)
{
    const val v = object[key];
    return v.isUndefined() || v.isNull() ? std::string() : v.as<std::string>();
}

// The page's fields, as the command's options: the same checks, named as the page names them.
// Empty on success, else why.
std::string ReadOptions(val fields, hp::Options& o, std::string& standardText, std::string& tText)
{
    std::string why;
    standardText = Text(fields, "standard");
    o.standard = hv::rows::ReadStandard(standardText, why);
    if (!o.standard) return why;
    tText = Text(fields, "temperature");
    if (!hv::ParseTemperature(tText, o.tCelsius, why)) return why;
    const auto number = [&why](const std::string& text, const char* name, double& value) {
        if (text.empty()) return true;
        if (!hv::ParseNumber(text, value, why)) {
            why = std::string(name) + ": " + why;
            return false;
        }
        return true;
    };
    const std::string sigmaT = Text(fields, "sigma_t"), wavelength = Text(fields, "wavelength"),
                      energy = Text(fields, "energy"), fixed = Text(fields, "two_theta_fixed"),
                      guess = Text(fields, "pressure_guess"), unit = Text(fields, "x_unit");
    if (!number(sigmaT, "sigma_T", o.sigmaT)) return why;
    if (!sigmaT.empty() && !(o.sigmaT >= 0)) return "sigma_T: must be 0 kelvin or more";
    if (!number(wavelength, "wavelength", o.wavelength)) return why;
    if (!wavelength.empty() && !(o.wavelength > 0)) return "wavelength: must be a positive number of angstrom";
    if (!number(energy, "energy", o.energy)) return why;
    if (!energy.empty() && !(o.energy > 0)) return "energy: must be a positive number of keV";
    if (!unit.empty()) {
        hv::XUnit u;
        if (!hv::ParseXUnit(unit, u)) return "x unit: " + hv::Quoted(unit) + " is not one of " + hv::XUnitChoices();
        o.unit = u;
    }
    if (!number(fixed, "detector angle", o.twoThetaFixed)) return why;
    if (!fixed.empty() && !(o.twoThetaFixed > 0 && o.twoThetaFixed < 180)) {
        return "detector angle: 2-theta must lie between 0 and 180 degrees";
    }
    if (o.unit && hv::NeedsFixedAngle(*o.unit) && fixed.empty()) {
        return "energy-dispersive spectra need the detector's angle 2-theta";
    }
    if (!number(guess, "pressure guess", o.pressureGuess)) return why;
    // "1" from the page's checkbox and from scripts: refine a constant offset of x.
    const std::string zero = Text(fields, "zero_shift");
    if (!zero.empty() && zero != "0" && zero != "1") return "zero shift: give 1 or 0, not " + hv::Quoted(zero);
    o.zeroShift = zero == "1";
    // From scripts: ranges as numbers, reflections as "200,220".
    const auto range = [&](const char* lo, const char* hi, const char* name, double& l, double& h) {
        const std::string a = Text(fields, lo), b = Text(fields, hi);
        if (a.empty() && b.empty()) return true;
        if (a.empty() || b.empty()) {
            why = std::string(name) + ": give both ends, the lower and the higher";
            return false;
        }
        if (!number(a, name, l) || !number(b, name, h)) return false;
        if (!(l < h)) {
            why = std::string(name) + " must be (lo, hi) with lo below hi";
            return false;
        }
        return true;
    };
    if (!range("pressure_lo", "pressure_hi", "pressure range", o.pressureLo, o.pressureHi)) return why;
    if (!guess.empty() && std::isfinite(o.pressureLo)) return "give a pressure guess or a pressure range, not both";
    if (!range("x_lo", "x_hi", "x range", o.xLo, o.xHi)) return why;
    std::string list = Text(fields, "reflections");
    for (std::size_t from = 0; !list.empty() && from <= list.size();) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        const auto r = hv::ParseReflection(std::string_view(list).substr(from, comma - from), *o.standard, why);
        if (!r) return "reflections: " + why;
        if (r->latticeParameter) return "reflections: lp is no reflection to fit";
        o.reflections.push_back(*r);
        from = comma + 1;
    }
    return {};
}

val Outcome(const hp::Outcome& out, const hp::Pattern& p)
{
    const hv::Result& r = out.result;
    val v = val::object();
    v.set("status", std::string(hv::StatusName(r.status)));
    v.set("message", r.message);
    v.set("n_peaks", r.peaks);
    v.set("a", r.a);
    v.set("sigma_a", r.sigmaA);
    v.set("v_ratio", r.vRatio);
    v.set("p_gpa", static_cast<double>(r.pGpa));
    v.set("sigma_p_gpa", r.sigmaPGpa);
    // For reading: P to 0.01 GPa as the window rounds it, sigma_P to two digits and a to seven,
    // as hivarnisse-calc pressure writes them.
    int32_t hundredths = 0;
    const bool shown = r.status != hv::Status::Error && hv::Hundredths(r.pGpa, hundredths);
    v.set("p_text", shown ? hv::web::WindowText(hundredths / 100.0, 15) : std::string());
    v.set("sigma_p_text", shown && !std::isnan(r.sigmaPGpa) ? hv::web::WindowText(r.sigmaPGpa, 2) : std::string());
    v.set("a_text", shown ? hv::web::WindowText(r.a, 7) : std::string());
    v.set("x_unit", std::string(hv::XUnitName(out.unit)));
    v.set("x_unit_source", out.unitSource);
    v.set("wavelength", out.wavelength);
    v.set("wavelength_source", out.wavelengthSource);
    v.set("x", Doubles(p.x));
    v.set("intensity", Doubles(p.intensity));
    v.set("curve", Doubles(out.curve));
    v.set("background", Doubles(out.background));
    v.set("fom", out.fom);
    v.set("strong_found", out.strongFound);
    v.set("strong_expected", out.strongExpected);
    v.set("trend", out.trend);
    v.set("sigma_trend", out.sigmaTrend);
    v.set("zero_shift", out.zeroShift);
    v.set("sigma_zero_shift", out.sigmaZeroShift);
    val peaks = val::array();
    for (const hp::PeakRow& row : out.peaks) {
        val k = val::object();
        k.set("hkl", hv::ReflectionText(row.reflection));
        k.set("n", row.reflection.n);
        k.set("predicted", row.predicted);
        k.set("position", row.position);
        k.set("sigma_position", row.sigmaPosition);
        k.set("fwhm", row.fwhm);
        k.set("eta", row.eta);
        k.set("height", row.height);
        k.set("d", row.d);
        k.set("sigma_d", row.sigmaD);
        k.set("a_i", row.aI);
        k.set("expected", row.expected);
        k.set("used", row.used);
        k.set("note", row.note);
        peaks.call<void>("push", k);
    }
    v.set("peaks", peaks);
    return v;
}

// One file as the page got it: its row and peak lines of the pattern command, and the
// numbers and curves for the charts. A file that cannot be read is a row with status error,
// as the command writes it; bad options are {error}.
val FitPatternFile(const std::string& name, const std::string& bytes, val fields)
{
    hp::Options o;
    std::string standardText, tText;
    if (std::string why = ReadOptions(fields, o, standardText, tText); !why.empty()) {
        val e = val::object();
        e.set("error", why);
        return e;
    }
    // Hints in the rows name the page's own fields.
    o.names = {"the Pressure guess field", "the Pressure range", "the zero-shift box"};
    const hp::ReadOutcome read = hp::ReadText(bytes, name);
    hp::Outcome out;
    if (read.ok) {
        out = hp::FitPattern(read.pattern, o);
        // x taken as 2-theta for what looks like a spectrum: the row says so, in the page's words.
        const std::string note = hp::AssumedUnitNote(out, o, out.unitSource == "assumed" && hp::HeaderNamesEnergy(bytes),
                                                     "x axis \"energy (keV)\"");
        if (!note.empty()) out.result.message += (out.result.message.empty() ? "" : "; ") + note;
    } else {
        out.result.message = read.error;
    }
    std::string row, peaks;
    hv::rows::AppendPatternRow(row, name, standardText, tText, out);
    hv::rows::AppendPeakRows(peaks, name, out);
    val v = Outcome(out, read.pattern);
    v.set("row", row);
    v.set("peaks_csv", peaks);
    v.set("file", name);
    return v;
}

// window.hivarnisse.pattern: a pattern in hand as arrays, the options as text (the page's api.js
// writes numbers so that they read back as the same doubles). Bad arguments are {error}.
val FitPatternArrays(const std::vector<double>& x, const std::vector<double>& intensity, const std::vector<double>& sigma,
                     val fields)
{
    hp::Options o;
    std::string standardText, tText;
    std::string why = ReadOptions(fields, o, standardText, tText);
    o.names = {"pressure_guess", "pressure_range", "zero_shift: true"};  // as scripts write them
    if (why.empty() && x.size() != intensity.size()) why = "x and intensity must have the same length";
    if (why.empty() && !sigma.empty() && sigma.size() != x.size()) why = "sigma must have the length of x";
    if (!why.empty()) {
        val e = val::object();
        e.set("error", why);
        return e;
    }
    hp::Pattern p;
    p.x = x;
    p.intensity = intensity;
    p.sigma = sigma;
    p.format = "columns";
    return Outcome(hp::FitPattern(p, o), p);
}

std::string PatternHeaders()
{
    return std::string(hv::rows::kPatternRowHeader) + '\n' + std::string(hv::rows::kPeakRowHeader) + '\n';
}

}  // namespace

EMSCRIPTEN_BINDINGS(hivarnisse_patterns)
{
    emscripten::function("fitPatternFile", &FitPatternFile);
    emscripten::function("fitPatternArrays", &FitPatternArrays);
    emscripten::function("patternHeaders", &PatternHeaders);
}
