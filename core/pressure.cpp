#include "core/pressure.h"

#include "core/numbers.h"
#include "engine/clsKolvane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hv {

namespace {

Result Failed(std::string why, int peaks = 0)
{
    Result r;
    r.status = Status::Error;
    r.message = std::move(why);
    r.peaks = peaks;
    return r;
}

// sqrt(x^2 + y^2) without overflow, from correctly rounded operations only: the same bits
// with every C library (std::hypot differs in the last bit between glibc and the
// WebAssembly build's musl).
double Quadrature(double x, double y)
{
    const double m = std::max(std::fabs(x), std::fabs(y));
    if (m == 0 || !std::isfinite(m)) return m;
    const double u = x / m, v = y / m;
    return m * std::sqrt(u * u + v * v);
}

// Formats a ratio or a length for a message.
std::string Brief(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g", value);
    return buffer;
}

}  // namespace

double LatticeParameter(float d, int n)
{
    return static_cast<double>(d) * std::sqrt(static_cast<double>(n));
}

bool RelativeVolume(double a, float a0, float& vdiff)
{
    const double ref3 = std::pow(static_cast<double>(a0), 3);
    const double relative = (std::pow(a, 3) - ref3) / ref3;
    const float single = static_cast<float>(relative);
    if (!std::isfinite(relative) || !std::isfinite(single)) {
        return false;
    }
    vdiff = single;
    return true;
}

bool EngineWrotePressure(int16_t status, float vdiff)
{
    switch (status) {
    case clsKolvane::OK:
    case clsKolvane::KCL_USED:
    case clsKolvane::VOLUME_HIGH: return true;
    case clsKolvane::VOLUME_LOW: return vdiff > -1.0f;
    default: return false;
    }
}

float KbarToGpa(float kbar)
{
    return static_cast<float>(static_cast<double>(kbar) / 10);
}

std::string_view StatusName(Status status)
{
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Warning: return "warning";
    case Status::Error: return "error";
    }
    return "error";
}

std::string RangeWarning(double vRatio)
{
    return "V/V0 = " + Brief(vRatio) + (vRatio < 0.5 ? " is below 0.5" : " is above 1.5") +
           ": outside the range of the equation of state";
}

double ModelPressure(const Standard& standard, double tCelsius, double a)
{
    const double ref3 = std::pow(static_cast<double>(standard.a0), 3);
    const double vdiff = (std::pow(a, 3) - ref3) / ref3;
    const kolvane_model::Outcome out =
        kolvane_model::Evaluate(standard.code, tCelsius, vdiff, false, kolvane_model::Nodes::Cached);
    return out.written ? out.p : kNone;
}

Slopes PressureSlopes(const Standard& standard, double tCelsius, double a)
{
    // Central differences of the smooth double-precision model. Steps near the cube root of
    // the rounding error balance truncation against cancellation: about ten good digits.
    Slopes s;
    const double ha = 1e-5 * a;
    const double pa = ModelPressure(standard, tCelsius, a + ha);
    const double ma = ModelPressure(standard, tCelsius, a - ha);
    const double kelvin = tCelsius + 273.15;
    double ht = std::max(1e-3, 1e-5 * kelvin);
    // Close to absolute zero, step forward only: below it the model has no pressure.
    const bool forward = kelvin <= ht;
    if (forward) ht = std::max(kelvin, 1e-9);
    const double pt = ModelPressure(standard, tCelsius + ht, a);
    const double mt = ModelPressure(standard, forward ? tCelsius : tCelsius - ht, a);
    if (std::isnan(pa) || std::isnan(ma) || std::isnan(pt) || std::isnan(mt)) {
        return s;
    }
    s.dPda = (pa - ma) / (2 * ha);
    s.dPdT = forward ? (pt - mt) / ht : (pt - mt) / (2 * ht);
    s.ok = std::isfinite(s.dPda) && std::isfinite(s.dPdT);
    return s;
}

Result PressureOfLattice(const Standard& standard, float tCelsius, double a)
{
    std::string why;
    if (!CheckTemperature(tCelsius, why)) return Failed(why);
    if (!(a > 0) || !std::isfinite(a)) return Failed("the lattice parameter must be a positive number");
    float vdiff = 0;
    if (!RelativeVolume(a, standard.a0, vdiff)) return Failed("lattice parameter too large");

    // Kolvane's pressure and status to the bit, with the quadrature's roots formed once.
    float kbar = 0;
    int16_t status = 0;
    kolvane_model::FastKolvane(standard.code, tCelsius, vdiff, kbar, status);
    if (!EngineWrotePressure(status, vdiff)) {
        switch (status) {
        case clsKolvane::DEBYE_REFUSED: return Failed("temperature below absolute zero");
        case clsKolvane::VOLUME_LOW: return Failed("spacing too small: the cell has no volume");
        default: return Failed("no finite pressure for these values");
        }
    }
    Result r;
    r.a = a;
    r.vRatio = 1.0 + static_cast<double>(vdiff);
    r.pGpa = KbarToGpa(kbar);
    int32_t hundredths = 0;
    if (!Hundredths(r.pGpa, hundredths)) {
        // The window cannot show it either.
        return Failed("pressure too large to show");
    }
    if (status == clsKolvane::VOLUME_LOW || status == clsKolvane::VOLUME_HIGH) {
        r.status = Status::Warning;
        r.message = RangeWarning(r.vRatio);
    } else {
        r.status = Status::Ok;
    }
    return r;
}

Result Fit(const Standard& standard, float tCelsius, std::span<const Peak> peaks, double sigmaT)
{
    const int n = static_cast<int>(peaks.size());
    if (n == 0) return Failed("no peaks");
    if (!std::isnan(sigmaT) && !(sigmaT >= 0 && std::isfinite(sigmaT))) {
        return Failed("sigma_t must be a number of kelvin, 0 or more", n);
    }
    const auto which = [&](const Peak& p) {
        return peaks.size() > 1 ? " (" + ReflectionText(p.reflection) + ")" : std::string();
    };
    // Narrowed first, as the window reads a typed spacing; recomputed rather than stored, so
    // that a fit of any size allocates nothing.
    const auto latticeOf = [](const Peak& p) { return LatticeParameter(static_cast<float>(p.d), p.reflection.n); };
    const auto sigmaOf = [](const Peak& p) { return p.sigmaD * std::sqrt(static_cast<double>(p.reflection.n)); };
    int withSigma = 0;
    for (const Peak& p : peaks) {
        std::string why;
        if (!CheckPeak(p, why)) return Failed(why + which(p), n);
        withSigma += !std::isnan(p.sigmaD);
    }
    if (withSigma != 0 && withSigma != n) {
        return Failed("give sigma_d for every peak of a pattern or for none", n);
    }

    // Means taken as offsets from the first peak: equal values come out exactly, so one peak
    // gives the window's lattice parameter to the bit.
    const double first = latticeOf(peaks[0]);
    double mean = first;
    double sigmaA = kNone;
    if (withSigma == n) {
        double sw = 0, swd = 0;
        for (const Peak& p : peaks) {
            const double sa = sigmaOf(p);
            const double w = 1 / (sa * sa);
            sw += w;
            swd += w * (latticeOf(p) - first);
        }
        if (!std::isfinite(sw) || !(sw > 0)) return Failed("sigma_d out of range", n);
        mean = first + swd / sw;
        sigmaA = 1 / std::sqrt(sw);
        if (n >= 2) {
            double chi = 0;
            for (const Peak& p : peaks) {
                const double dev = latticeOf(p) - mean, sa = sigmaOf(p);
                chi += dev * dev / (sa * sa);
            }
            sigmaA = std::max(sigmaA, std::sqrt(chi / ((n - 1) * sw)));
        }
    } else if (n >= 2) {
        double sum = 0;
        for (const Peak& p : peaks) sum += latticeOf(p) - first;
        mean = first + sum / n;
        double ss = 0;
        for (const Peak& p : peaks) ss += (latticeOf(p) - mean) * (latticeOf(p) - mean);
        sigmaA = std::sqrt(ss / (n - 1)) / std::sqrt(static_cast<double>(n));
    }

    Result r = PressureOfLattice(standard, tCelsius, mean);
    r.peaks = n;
    if (r.status == Status::Error) return r;
    r.sigmaA = sigmaA;
    if (!std::isnan(sigmaA)) {
        const Slopes s = PressureSlopes(standard, tCelsius, mean);
        if (s.ok) {
            const double st = std::isnan(sigmaT) ? 0 : sigmaT;
            r.sigmaPGpa = Quadrature(s.dPda * sigmaA, s.dPdT * st) / 10;
        }
    }
    return r;
}

bool CheckPeak(const Peak& peak, std::string& why)
{
    if (!(peak.d > 0) || !std::isfinite(peak.d)) {
        why = "d must be a positive number";
        return false;
    }
    const float d = static_cast<float>(peak.d);
    if (!std::isfinite(d) || !(d > 0)) {
        why = "d out of range";
        return false;
    }
    if (!std::isnan(peak.sigmaD) && (!(peak.sigmaD > 0) || !std::isfinite(peak.sigmaD))) {
        why = "sigma_d must be a positive number";
        return false;
    }
    return true;
}

}  // namespace hv
