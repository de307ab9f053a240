#include "rows/commands.h"

#include "rows/batch.h"
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"

#include <cmath>
#include <cstdio>

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
    XUnit unit = XUnit::DAngstrom;
    Geometry geometry{kNone, kNone};
    if (!ReadGeometry(q, unit, geometry, why)) {
        err = why;
        return 2;
    }
    if (q.peaks.empty()) {
        err = "no peak given: add one or more HKL:D, as 200:2.75";
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
    const Result r = Fit(*standard, celsius, peaks, sigmaT);

    if (q.csv) {
        std::string label;
        for (const std::string& p : q.peaks) label += (label.empty() ? "" : " ") + p;
        out = std::string(kPatternHeader) + ',' + (measured ? std::string(kUsedHeader) + ',' : "") +
              std::string(kResultHeader) + '\n';
        AppendField(out, label);
        out += ',';
        AppendField(out, q.standard);
        out += ',';
        AppendField(out, q.temperature);
        out += ',' + std::to_string(peaks.size());
        if (measured) AppendUsed(out, peaks);
        AppendResult(out, r);
        out += '\n';
    } else {
        out = std::string(standard->name) + " at " + Shortest(celsius) + " C, " + std::to_string(peaks.size()) +
              (peaks.size() == 1 ? " peak" : " peaks") +
              (std::isnan(sigmaT) ? "" : ", sigma_T = " + Shortest(sigmaT) + " K");
        if (unit == XUnit::TwoThetaDeg) {
            out += ", 2-theta at lambda = " + Digits(geometry.wavelength, 8) + " A" +
                   (q.energy.empty() ? "" : " (" + Trimmed(q.energy) + " keV)");
        } else if (unit == XUnit::EnergyKev) {
            out += ", energies at 2-theta = " + Shortest(geometry.twoThetaFixed) + " deg";
        }
        out += "\n";
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
                Pad(line, measured ? 73 : 36);
            }
            out += line + "a = " + PlusMinus(LatticeParameter(static_cast<float>(p.d), p.reflection.n), sa, 7) +
                   " A\n";
        }
        if (r.status != Status::Error) {
            int32_t hundredths = 0;
            Hundredths(r.pGpa, hundredths);
            out += "a      = " + PlusMinus(r.a, r.sigmaA, 7) + " A\n";
            out += "V/V0   = " + Digits(r.vRatio, 6) + "\n";
            out += "P      = " + PlusMinus(hundredths / 100.0, r.sigmaPGpa, 15) + " GPa\n";
            if (r.status == Status::Warning) out += "warning: " + r.message + "\n";
        }
    }
    if (r.status == Status::Error) {
        err = r.message;
        return 1;
    }
    return 0;
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
    const SpacingResult s = SpacingsAt(*standard, celsius, gpa, q.maxN, wavelength);
    if (s.status == Status::Error) {
        err = s.message;
        return 1;
    }
    const bool angles = !std::isnan(wavelength);
    // d as the shortest text of the single a user would type: read back, it gives the pressure asked for.
    if (q.csv) {
        out = angles ? "hkl,n,d,two_theta\n" : "hkl,n,d\n";
        for (const SpacingRow& row : s.rows) {
            out += HklText(row.hkl) + ',' + std::to_string(row.n) + ',' + Shortest(static_cast<float>(row.d));
            if (angles) out += ',' + (std::isnan(row.twoTheta) ? "" : Shortest(static_cast<float>(row.twoTheta)));
            out += '\n';
        }
        if (s.status == Status::Warning) err = "warning: " + s.message;
        return 0;
    }
    out = std::string(standard->name) + " at " + Shortest(celsius) + " C and " + Shortest(gpa) +
          " GPa: a = " + Digits(s.a, 7) + " A, V/V0 = " + Digits(s.vRatio, 6) + "\n";
    if (s.status == Status::Warning) out += "warning: " + s.message + "\n";
    out += angles ? "hkl       n      d (A)      2-theta (deg)\n" : "hkl       n      d (A)\n";
    for (const SpacingRow& row : s.rows) {
        std::string line = HklText(row.hkl);
        Pad(line, 10);
        line += std::to_string(row.n);
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
