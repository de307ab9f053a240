#include "rows/commands.h"

#include "rows/batch.h"
#include "rows/fields.h"
#include "core/crystal.h"
#include "core/hexagonal_rows.h"
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace hv::rows {

namespace {

// A number for reading by eye.
std::string Digits(double value, int significant)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*g", significant, value);
    return buffer;
}

std::string PlusMinus(double value, double sigma, int significant)
{
    return Digits(value, significant) + (std::isnan(sigma) ? "" : " +/- " + Digits(sigma, 2));
}

std::string Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

// Standard and temperature, shared by both commands; false with why for exit status 2.
bool ReadCommon(const std::string& standardText, const std::string& temperature, const Standard*& standard,
                float& celsius, std::string& why)
{
    standard = ReadStandard(standardText, why);
    if (!standard) {
        why = "--standard: " + why;
        return false;
    }
    if (!ParseTemperature(temperature, celsius, why)) {
        why = "--temperature: " + why;
        return false;
    }
    return true;
}

void Pad(std::string& line, std::size_t width)
{
    if (line.size() < width) line.append(width - line.size(), ' ');
}

// What the peaks' numbers are, from the options; false with why for exit status 2.
bool ReadGeometry(const PressureRequest& q, XUnit& unit, Geometry& g, std::string& why)
{
    unit = XUnit::DAngstrom;
    g = {kNone, kNone};
    const bool lambda = !q.wavelength.empty(), energy = !q.energy.empty(), fixed = !q.twoThetaFixed.empty();
    if (q.twoTheta && q.energyDispersive) {
        why = "--two-theta and --energy-dispersive exclude each other: peaks are 2-theta angles or energies";
    } else if (lambda && energy) {
        why = "--wavelength and --energy both give the X-ray wavelength: give one of them";
    } else if ((lambda || energy) && !q.twoTheta) {
        why = std::string(lambda ? "--wavelength" : "--energy") + " goes with --two-theta (peaks in 2-theta)" +
              (q.energyDispersive ? "; energy-dispersive peaks need only --two-theta-fixed" : "");
    } else if (fixed && !q.energyDispersive) {
        why = "--two-theta-fixed goes with --energy-dispersive (peaks as energies in keV)";
    } else if (q.twoTheta && !lambda && !energy) {
        why = "--two-theta needs --wavelength (angstrom) or --energy (keV)";
    } else if (q.energyDispersive && !fixed) {
        why = "--energy-dispersive needs --two-theta-fixed, the detector's angle 2-theta in degrees";
    }
    if (!why.empty()) return false;
    const auto number = [&](const std::string& text, const char* option, double& value) {
        if (ParseNumber(text, value, why)) return true;
        why = std::string(option) + ": " + why;
        return false;
    };
    if (lambda && !number(q.wavelength, "--wavelength", g.wavelength)) return false;
    if (energy) {
        double keV = 0;
        if (!number(q.energy, "--energy", keV)) return false;
        if (!(keV > 0)) {
            why = "--energy: must be a positive number of keV";
            return false;
        }
        g.wavelength = WavelengthOfEnergy(keV);
    }
    if (fixed && !number(q.twoThetaFixed, "--two-theta-fixed", g.twoThetaFixed)) return false;
    unit = q.twoTheta ? XUnit::TwoThetaDeg : q.energyDispersive ? XUnit::EnergyKev : XUnit::DAngstrom;
    if (!CheckGeometry(unit, g, why)) {
        why = std::string(q.twoTheta ? (lambda ? "--wavelength: " : "--energy: ") : "--two-theta-fixed: ") + why;
        return false;
    }
    return true;
}

// The scales a request computes on: the standard named, or with "--scale all" every scale of
// its material, the default first; false with why for exit status 2.
bool ReadScales(const Standard& standard, const std::string& scale, std::vector<const Standard*>& out,
                std::string& why)
{
    const std::string text = Trimmed(scale);
    if (text.empty()) {
        out = {&standard};
        return true;
    }
    if (text != "all") {
        why = "--scale: " + Quoted(text) + " is not known: write --scale all for every scale of " +
              std::string(standard.material) + ", or name one scale as --standard " + std::string(standard.material) +
              ":SCALE";
        return false;
    }
    for (const Standard& s : AllStandards()) {
        if (s.material == standard.material) out.push_back(&s);
    }
    return true;
}

bool AnyPublished(const std::vector<const Standard*>& scales)
{
    return std::any_of(scales.begin(), scales.end(), [](const Standard* s) { return IsPublishedScale(*s); });
}

bool IsCubic(const Standard& standard)
{
    return !standard.structure || standard.structure->system == CrystalSystem::Cubic;
}

// P as the listing shows it: the built-in model's to the hundredth, as the window shows it; a
// published scale's to six digits.
std::string PressureText(const Standard& standard, const Result& r)
{
    if (!IsPublishedScale(standard)) {
        int32_t hundredths = 0;
        Hundredths(r.pGpa, hundredths);
        return PlusMinus(hundredths / 100.0, r.sigmaPGpa, 15);
    }
    return PlusMinus(r.pressure, r.sigmaPGpa, 6);
}

// The lines under the peaks for one scale.
void AppendAnswer(std::string& out, const Standard& standard, const Result& r)
{
    if (r.status == Status::Error) return;
    if (!std::isnan(r.a)) out += "a      = " + PlusMinus(r.a, r.sigmaA, 7) + " A\n";
    // A hexagonal cell's c and volume, refined with a; cubic listings stay as they were.
    if (!std::isnan(r.c)) {
        out += "c      = " + PlusMinus(r.c, r.sigmaC, 7) + " A\n";
        out += "V      = " + Digits(r.volume, 7) + " A^3\n";
    }
    out += "V/V0   = " + Digits(r.vRatio, 6) + "\n";
    out += "P      = " + PressureText(standard, r) + " GPa\n";
    if (r.status == Status::Warning) out += "warning: " + r.message + "\n";
}

// One line per scale, after the lattice parameter they share.
void AppendScaleTable(std::string& out, const std::vector<const Standard*>& scales, const std::vector<Result>& results)
{
    const auto first = std::find_if(results.begin(), results.end(), [](const Result& r) {
        return r.status != Status::Error && !std::isnan(r.a);
    });
    if (first != results.end()) out += "a      = " + PlusMinus(first->a, first->sigmaA, 7) + " A\n";
    out += "scale                 V/V0       P (GPa)\n";
    for (std::size_t k = 0; k < scales.size(); ++k) {
        const Result& r = results[k];
        std::string line(scales[k]->name);
        Pad(line, 22);
        if (r.status == Status::Error) {
            line += "-          error: " + r.message;
        } else {
            line += Digits(r.vRatio, 6);
            Pad(line, 33);
            line += PressureText(*scales[k], r);
            if (r.status == Status::Warning) line += "  warning: " + r.message;
        }
        out += line + '\n';
    }
}

// 0 when some scale gives a pressure, else 1 with the (first) reason.
int Exit(const std::vector<Result>& results, std::string& err)
{
    for (const Result& r : results) {
        if (r.status != Status::Error) return 0;
    }
    err = results.front().message;
    return 1;
}

// pressure --volume: the pressure of a cell volume in hand.
int PressureOfVolumeCommand(const PressureRequest& q, const std::vector<const Standard*>& scales, float celsius,
                            double sigmaT, std::string& out, std::string& err)
{
    std::string why;
    if (!q.peaks.empty()) {
        err = "give peaks or --volume, not both";
        return 2;
    }
    if (q.twoTheta || q.energyDispersive || !q.wavelength.empty() || !q.energy.empty() || !q.twoThetaFixed.empty()) {
        err = "--two-theta, --energy-dispersive and their options go with peaks, not with --volume";
        return 2;
    }
    if (q.volume.empty()) {
        err = "--sigma-volume goes with --volume";
        return 2;
    }
    double v = 0, sigmaV = kNone;
    if (!ParseNumber(q.volume, v, why) || !(v > 0)) {
        err = "--volume: " + (why.empty() ? "must be a positive number of A^3, the volume of the conventional cell" : why);
        return 2;
    }
    if (!q.sigmaVolume.empty() && (!ParseNumber(q.sigmaVolume, sigmaV, why) || sigmaV < 0)) {
        err = "--sigma-volume: " + (why.empty() ? "must be 0 A^3 or more" : why);
        return 2;
    }
    std::vector<Result> results;
    for (const Standard* s : scales) results.push_back(PressureOfVolume(*s, celsius, v, sigmaV, sigmaT));
    if (q.csv) {
        const bool scaleColumn = AnyPublished(scales);
        out = std::string(kVolumeHeader) + (scaleColumn ? ",scale," : ",") + std::string(kResultHeader) + '\n';
        for (std::size_t k = 0; k < scales.size(); ++k) {
            AppendField(out, q.volume);
            out += ',';
            AppendField(out, q.sigmaVolume);
            out += ',';
            AppendField(out, q.standard);
            out += ',';
            AppendField(out, q.temperature);
            if (scaleColumn) AppendScale(out, *scales[k]);
            AppendResult(out, results[k], *scales[k]);
            out += '\n';
        }
    } else {
        const Standard& standard = *scales.front();
        out = std::string(Trimmed(q.scale).empty() ? standard.name : standard.material) + " at " + Shortest(celsius) +
              " C, V = " + PlusMinus(v, sigmaV, 10) + " A^3" +
              (std::isnan(sigmaT) ? "" : ", sigma_T = " + Shortest(sigmaT) + " K") + "\n";
        if (Trimmed(q.scale).empty()) {
            AppendAnswer(out, standard, results.front());
        } else {
            AppendScaleTable(out, scales, results);
        }
    }
    return Exit(results, err);
}

}  // namespace

int RunPressure(const PressureRequest& q, std::string& out, std::string& err)
{
    const Standard* standard = nullptr;
    float celsius = 0;
    std::string why;
    if (!ReadCommon(q.standard, q.temperature, standard, celsius, why)) {
        err = why;
        return 2;
    }
    double sigmaT = kNone;
    if (!q.sigmaT.empty() && (!ParseNumber(q.sigmaT, sigmaT, why) || sigmaT < 0)) {
        err = "--sigma-t: " + (why.empty() ? "must be 0 kelvin or more" : why);
        return 2;
    }
    std::vector<const Standard*> scales;
    if (!ReadScales(*standard, q.scale, scales, why)) {
        err = why;
        return 2;
    }
    const bool byVolume = !q.volume.empty() || !q.sigmaVolume.empty();
    if (byVolume) return PressureOfVolumeCommand(q, scales, celsius, sigmaT, out, err);
    XUnit unit = XUnit::DAngstrom;
    Geometry geometry{kNone, kNone};
    if (!ReadGeometry(q, unit, geometry, why)) {
        err = why;
        return 2;
    }
    if (q.peaks.empty()) {
        err = "no peak given: add one or more HKL:D, as 200:2.75, or give --volume";
        return 2;
    }
    const bool measured = unit != XUnit::DAngstrom;
    std::vector<Peak> peaks(q.peaks.size());
    std::vector<double> positions(peaks.size()), sigmas(peaks.size(), kNone);
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        if (!ParsePeak(q.peaks[i], *standard, unit, geometry, peaks[i], why)) {
            err = why;
            return 2;
        }
        if (measured) {
            // The position as typed, for the listing: HKL:X[:SIGMA] has parsed already.
            const std::string_view rest = std::string_view(q.peaks[i]).substr(q.peaks[i].find(':') + 1);
            const std::size_t colon = rest.find(':');
            ParseNumber(rest.substr(0, colon), positions[i], why);
            if (colon != std::string_view::npos) ParseNumber(rest.substr(colon + 1), sigmas[i], why);
        }
    }
    std::vector<Result> results;
    for (const Standard* s : scales) results.push_back(Fit(*s, celsius, peaks, sigmaT));

    if (q.csv) {
        std::string label;
        for (const std::string& p : q.peaks) label += (label.empty() ? "" : " ") + p;
        const bool scaleColumn = AnyPublished(scales);
        out = std::string(kPatternHeader) + (scaleColumn ? ",scale" : "") + ',' +
              (measured ? std::string(kUsedHeader) + ',' : "") + std::string(kResultHeader) + '\n';
        for (std::size_t k = 0; k < scales.size(); ++k) {
            AppendField(out, label);
            out += ',';
            AppendField(out, q.standard);
            out += ',';
            AppendField(out, q.temperature);
            out += ',' + std::to_string(peaks.size());
            if (scaleColumn) AppendScale(out, *scales[k]);
            if (measured) AppendUsed(out, peaks);
            AppendResult(out, results[k], *scales[k]);
            out += '\n';
        }
    } else {
        out = std::string(Trimmed(q.scale).empty() ? standard->name : standard->material) + " at " + Shortest(celsius) +
              " C, " + std::to_string(peaks.size()) + (peaks.size() == 1 ? " peak" : " peaks") +
              (std::isnan(sigmaT) ? "" : ", sigma_T = " + Shortest(sigmaT) + " K");
        if (unit == XUnit::TwoThetaDeg) {
            out += ", 2-theta at lambda = " + Digits(geometry.wavelength, 8) + " A" +
                   (q.energy.empty() ? "" : " (" + Trimmed(q.energy) + " keV)");
        } else if (unit == XUnit::EnergyKev) {
            out += ", energies at 2-theta = " + Shortest(geometry.twoThetaFixed) + " deg";
        }
        out += "\n";
        // A lattice parameter per peak only where one spacing gives it: a cubic cell.
        const bool cubic = IsCubic(*standard);
        for (std::size_t i = 0; i < peaks.size(); ++i) {
            const Peak& p = peaks[i];
            std::string line = "  " + ReflectionText(p.reflection);
            Pad(line, 10);
            const double sa = p.sigmaD * std::sqrt(static_cast<double>(p.reflection.n));
            // A measured position first, as typed, then the d it gives: the arithmetic in the open.
            if (measured) {
                line += (unit == XUnit::EnergyKev ? "E = " : "2-theta = ") + Shortest(positions[i]) +
                        (std::isnan(sigmas[i]) ? "" : " +/- " + Shortest(sigmas[i])) +
                        (unit == XUnit::EnergyKev ? " keV" : " deg");
                Pad(line, 45);
            }
            if (!p.reflection.latticeParameter || measured) {
                line += "d = " + PlusMinus(static_cast<float>(p.d), p.sigmaD, 7) + " A";
                if (cubic) Pad(line, measured ? 73 : 36);
            }
            if (cubic) {
                line += "a = " + PlusMinus(LatticeParameter(static_cast<float>(p.d), p.reflection.n), sa, 7) + " A";
            }
            out += line + "\n";
        }
        if (Trimmed(q.scale).empty()) {
            AppendAnswer(out, *scales[0], results[0]);
        } else {
            AppendScaleTable(out, scales, results);
        }
    }
    return Exit(results, err);
}

int RunSpacing(const SpacingRequest& q, std::string& out, std::string& err)
{
    const Standard* standard = nullptr;
    float celsius = 0;
    std::string why;
    if (!ReadCommon(q.standard, q.temperature, standard, celsius, why)) {
        err = why;
        return 2;
    }
    double gpa = 0, wavelength = kNone;
    if (!ParseNumber(q.pressure, gpa, why)) {
        err = "--pressure: " + why;
        return 2;
    }
    if (!q.wavelength.empty() && (!ParseNumber(q.wavelength, wavelength, why) || !(wavelength > 0))) {
        err = "--wavelength: " + (why.empty() ? "must be a positive number of angstrom" : why);
        return 2;
    }
    SpacingResult s = SpacingsAt(*standard, celsius, gpa, q.maxN, wavelength);
    if (s.status == Status::Error) {
        err = s.message;
        return 1;
    }
    const bool cubic = !IsHexagonal(*standard);
    if (!cubic && !AddHexagonalRows(*standard, q.maxN, wavelength, s, why)) {
        err = why;
        return 1;
    }
    const bool angles = !std::isnan(wavelength);
    // d as the shortest text of the single a user would type: read back, it gives the pressure asked for.
    if (q.csv) {
        out = angles ? "hkl,n,d,two_theta\n" : "hkl,n,d\n";
        for (const SpacingRow& row : s.rows) {
            out += HklText(row.hkl) + ',' + (cubic ? std::to_string(row.n) : "") + ',' +
                   Shortest(static_cast<float>(row.d));
            if (angles) out += ',' + (std::isnan(row.twoTheta) ? "" : Shortest(static_cast<float>(row.twoTheta)));
            out += '\n';
        }
        if (s.status == Status::Warning) err = "warning: " + s.message;
        return 0;
    }
    out = std::string(standard->name) + " at " + Shortest(celsius) + " C and " + Shortest(gpa) +
          " GPa: a = " + Digits(s.a, 7) + " A, " + (cubic ? "" : "c = " + Digits(s.c, 7) + " A, ") +
          "V/V0 = " + Digits(s.vRatio, 6) +
          // The built-in model's line stays as it always was.
          (IsPublishedScale(*standard) ? ", V = " + Digits(s.volume, 7) + " A^3" : "") + "\n";
    if (s.status == Status::Warning) out += "warning: " + s.message + "\n";
    out += angles ? "hkl       n      d (A)      2-theta (deg)\n" : "hkl       n      d (A)\n";
    for (const SpacingRow& row : s.rows) {
        std::string line = HklText(row.hkl);
        Pad(line, 10);
        line += cubic ? std::to_string(row.n) : "-";
        Pad(line, 17);
        line += Shortest(static_cast<float>(row.d));
        if (angles) {
            Pad(line, 28);
            line += std::isnan(row.twoTheta) ? "-" : Digits(row.twoTheta, 6);
        }
        out += line + '\n';
    }
    return 0;
}

}  // namespace hv::rows
