#include "rows/eos_rows.h"

#include "core/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hv::rows {

namespace {

namespace ef = hv::samplefit;

// "74.698 +/- 0.012": the value to the sigma's second significant digit.
std::string WithSigma(double value, double sigma)
{
    char buffer[96];
    if (!(sigma > 0) || !std::isfinite(sigma)) {
        std::snprintf(buffer, sizeof buffer, "%.8g", value);
        return buffer;
    }
    const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(sigma))), 0, 12);
    std::snprintf(buffer, sizeof buffer, "%.*f +/- %.*f", decimals, value, decimals, sigma);
    return buffer;
}

std::string Printf(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// A temperature as typed everywhere: Celsius, or kelvin with a trailing K; in kelvin.
bool Kelvin(std::string text, const char* option, double& k, std::string& why)
{
    const bool kelvin = !text.empty() && (text.back() == 'K' || text.back() == 'k');
    if (kelvin) text.pop_back();
    if (!ParseNumber(text, k, why)) {
        why = std::string(option) + ": " + why;
        return false;
    }
    if (!kelvin) k += 273.15;
    if (!(k > 0)) {
        why = std::string(option) + ": must be above absolute zero";
        return false;
    }
    return true;
}

bool Count(const std::string& text, const char* option, int& value, std::string& why)
{
    double v = 0;
    if (!ParseNumber(text, v, why) || v != std::floor(v) || v < 1 || v > 1000) {
        why = std::string(option) + ": must be a whole number from 1 to 1000";
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

}  // namespace

bool ReadEosOptions(const EosSettings& q, ef::Options& o, std::string& why)
{
    if (!ef::ParseForm(q.form, o.form)) {
        why = "--form: " + Quoted(q.form) + " is none of BM2, BM3, BM4, Vinet";
        return false;
    }
    for (const std::string& f : q.fix) {
        const auto eq = f.find('=');
        int param = 0;
        double value = 0;
        if (eq == std::string::npos || !ef::ParseParam(std::string_view(f).substr(0, eq), param)) {
            why = "--fix: " + Quoted(f) + " is not NAME=VALUE with NAME one of v0, k0, k0p, k0pp, gamma0, q";
            return false;
        }
        if (!ParseNumber(std::string_view(f).substr(eq + 1), value, why)) {
            why = "--fix " + Quoted(f) + ": " + why;
            return false;
        }
        o.fixed[static_cast<std::size_t>(param)] = value;
    }
    if (!q.t0.empty() && !Kelvin(q.t0, "--t0", o.t0K, why)) return false;
    if (!q.theta0.empty()) {
        std::string t = q.theta0;
        if (t.back() == 'K' || t.back() == 'k') t.pop_back();
        if (!ParseNumber(t, o.theta0, why) || !(o.theta0 > 0)) {
            why = "--theta0: must be a positive Debye temperature in kelvin";
            return false;
        }
    }
    if (!q.z.empty() && !Count(q.z, "--z", o.z, why)) return false;
    if (!q.atoms.empty() && !Count(q.atoms, "--atoms", o.n, why)) return false;
    if (q.theta0.empty() && (!q.t0.empty() || !q.z.empty() || !q.atoms.empty())) {
        why = "--t0, --z and --atoms belong to a P-V-T fit: give --theta0 too";
        return false;
    }
    return true;
}

std::string EosSummary(const ef::Result& r, const ef::Options& o)
{
    std::string s = std::string(ef::FormName(r.form)) + " equation of state from " + std::to_string(r.nPoints) +
                    " points, " + std::to_string(r.nRefined) + " refined parameters\n";
    if (r.thermal) {
        s += "  isotherm at T0 = " + Shortest(o.t0K) + " K, Mie-Grueneisen-Debye thermal pressure with theta0 = " +
             Shortest(o.theta0) + " K, Z = " + std::to_string(o.z) + ", " + std::to_string(o.n) +
             (o.n == 1 ? " atom" : " atoms") + " per formula unit\n";
    }
    for (int j = 0; j < ef::kParams; ++j) {
        const auto ju = static_cast<std::size_t>(j);
        if (!r.has[ju]) continue;
        char label[16];
        std::snprintf(label, sizeof label, "  %-8s", std::string(ef::ParamLabel(j)).c_str());
        s += label + (r.refined[ju] ? WithSigma(r.value[ju], r.sigma[ju]) : WithSigma(r.value[ju], ef::kNaN) + " (fixed)");
        s += "\n";
    }
    s += "chi2 = " + Printf("%.6g", r.chi2);
    if (std::isfinite(r.chi2Reduced)) {
        s += ", reduced " + Printf("%.4g", r.chi2Reduced) + " (" + std::to_string(r.nPoints - r.nRefined) +
             " degrees of freedom)";
    }
    s += "; largest |residual|/sigma " + Printf("%.3g", r.maxAbsResidualSigma) + "\n";
    if (r.nRefined > 1) {
        s += "correlations:\n        ";
        for (int j = 0; j < ef::kParams; ++j) {
            if (r.refined[static_cast<std::size_t>(j)]) {
                char h[16];
                std::snprintf(h, sizeof h, "%8s", std::string(ef::ParamLabel(j)).c_str());
                s += h;
            }
        }
        s += "\n";
        for (int a = 0; a < ef::kParams; ++a) {
            if (!r.refined[static_cast<std::size_t>(a)]) continue;
            char label[16];
            std::snprintf(label, sizeof label, "  %-6s", std::string(ef::ParamLabel(a)).c_str());
            s += label;
            for (int b = 0; b <= a; ++b) {
                if (r.refined[static_cast<std::size_t>(b)]) {
                    s += Printf("%8.3f", r.correlation[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)]);
                }
            }
            s += "\n";
        }
    }
    return s;
}

}  // namespace hv::rows
