#include "core/pressure.h"

#include "core/cell.h"
#include "core/eos.h"
#include "core/numbers.h"
#include "core/scales.h"
#include "engine/clsKolvane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

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

double Kelvin(double tCelsius)
{
    return tCelsius + 273.15;
}

// Adds a warning to a result that stands.
void Warn(Result& r, const std::string& why)
{
    if (why.empty()) return;
    r.status = Status::Warning;
    r.message += (r.message.empty() ? "" : "; ") + why;
}

std::string OutOfBounds(double vRatio, double lowest)
{
    return "V/V0 = " + Brief(vRatio) + " is outside " + Brief(lowest) + "-" + Brief(kHighestVRatio) +
           ", far beyond any equation of state's range: check the spacing and its reflection";
}

double LowestOf(const Standard& standard)
{
    if (!IsPublished(standard)) return kLowestVRatio;
    const double v = eos::VolumeAt(*standard.eos, 500, standard.eos->t0);
    return std::isnan(v) ? kLowestVRatio : std::min(kLowestVRatio, v / standard.eos->v0);
}

bool WithinBounds(double vRatio, double lowest)
{
    return vRatio >= lowest && vRatio <= kHighestVRatio;
}

// A published scale's pressure of a cell volume, in double precision throughout.
Result PublishedPressure(const Standard& standard, float tCelsius, double v)
{
    const eos::Params& p = *standard.eos;
    const double vRatio = v / p.v0;
    const double lowest = LowestVRatio(standard);
    if (!WithinBounds(vRatio, lowest)) return Failed(OutOfBounds(vRatio, lowest));
    const double tK = Kelvin(tCelsius);
    const double pressure = eos::Pressure(p, v, tK);
    if (!std::isfinite(pressure)) return Failed("no finite pressure for these values");
    Result r;
    r.status = Status::Ok;
    r.vRatio = vRatio;
    r.volume = v;
    r.pressure = pressure;
    r.pGpa = static_cast<float>(pressure);
    if (vRatio < 0.5 || vRatio > 1.5) Warn(r, RangeWarning(vRatio));
    if (!(eos::BulkModulus(p, v, tK) > 0)) {
        Warn(r, "the cell lies beyond the pressure minimum of " + std::string(standard.name) +
                    ": no stable state has this volume");
    }
    Warn(r, PhaseWarning(standard, pressure, tCelsius));
    return r;
}

std::string NeedsCell(const Standard& standard)
{
    return std::string(standard.name) + " is hexagonal: its pressure needs the cell refinement (a and c from "
                                        "the peaks), or give its cell volume";
}

}  // namespace

namespace {

// A hexagonal standard: a and c refined from the peaks' 1/d^2, then the pressure of the
// cell's volume with sigma_V from the refinement's covariance.
Result FitHexagonal(const Standard& standard, float tCelsius, std::span<const Peak> peaks, double sigmaT)
{
    const int n = static_cast<int>(peaks.size());
    std::vector<CellPeak> cell;
    cell.reserve(peaks.size());
    for (const Peak& p : peaks) {
        if (p.reflection.latticeParameter) {
            return Failed(std::string(standard.name) + " is hexagonal: give each peak's h k l, not lp", n);
        }
        cell.push_back({p.reflection.hkl, p.d, p.sigmaD});
    }
    const CellFit fit = RefineCell(CrystalSystem::Hexagonal, cell);
    if (!fit.ok) return Failed(fit.why, n);
    // Without sigma_V the pressure carries no sigma, as a cubic fit without sigma_a.
    Result r = PressureOfVolume(standard, tCelsius, fit.volume, fit.sigmaV, std::isnan(fit.sigmaV) ? kNone : sigmaT);
    r.peaks = n;
    if (r.status == Status::Error) return r;
    r.a = fit.a;
    r.sigmaA = fit.sigmaA;
    r.c = fit.c;
    r.sigmaC = fit.sigmaC;
    r.sigmaV = fit.sigmaV;
    return r;
}

}  // namespace

double LowestVRatio(const Standard& standard)
{
    // Once per row of the table; a copy of a row computes its own.
    static const std::vector<double> lowest = [] {
        std::vector<double> out;
        for (const Standard& s : AllStandards()) out.push_back(LowestOf(s));
        return out;
    }();
    const std::span<const Standard> all = AllStandards();
    if (&standard >= all.data() && &standard < all.data() + all.size()) {
        return lowest[static_cast<std::size_t>(&standard - all.data())];
    }
    return LowestOf(standard);
}

double PhaseTopGpa(const Standard& standard)
{
    // The B1-B2 transitions at room temperature: NaCl near 29-30 GPa, KCl near 2 GPa. These
    // are the well-known boundaries the B2 scales' papers start from.
    if (standard.material == "NaCl") return 30;
    if (standard.material == "KCl") return 2;
    return kNone;
}

std::string PhaseWarning(const Standard& standard, double pGpa, double tCelsius)
{
    // CsCl turns from its own structure to rock salt at 743 K (about 470 C) at ambient pressure.
    const double top = PhaseTopGpa(standard);
    if (standard.material == "NaCl" && pGpa > top) {
        return "NaCl is B2 (CsCl type) above about 30 GPa at room temperature: use NaCl-B2";
    }
    if (standard.material == "KCl" && pGpa > top) {
        return "KCl is B2 (CsCl type) above about 2 GPa: use KCl-B2";
    }
    if (standard.material == "CsCl" && tCelsius > 470 && pGpa < 1) {
        return "CsCl takes the rock-salt structure above about 470 C near ambient pressure";
    }
    return {};
}

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
    if (IsPublished(standard)) {
        if (standard.lattice == Lattice::Hexagonal) return kNone;
        const double p = eos::Pressure(*standard.eos, a * a * a, Kelvin(tCelsius));
        return std::isfinite(p) ? p * 10 : kNone;
    }
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
    if (IsPublished(standard)) {
        if (standard.lattice == Lattice::Hexagonal) return s;
        // dP/da = dP/dV 3a^2 = -3K/a.
        const double v = a * a * a, tK = Kelvin(tCelsius);
        s.dPda = -30 * eos::BulkModulus(*standard.eos, v, tK) / a;
        s.dPdT = 10 * eos::ThermalSlope(*standard.eos, v, tK);
        s.ok = std::isfinite(s.dPda) && std::isfinite(s.dPdT);
        return s;
    }
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
    if (IsPublished(standard)) {
        if (standard.lattice == Lattice::Hexagonal) return Failed(NeedsCell(standard));
        Result r = PublishedPressure(standard, tCelsius, a * a * a);
        if (r.status != Status::Error) r.a = a;
        return r;
    }
    float vdiff = 0;
    if (!RelativeVolume(a, standard.a0, vdiff)) return Failed("lattice parameter too large");
    const double vRatio = 1.0 + static_cast<double>(vdiff);
    if (vRatio <= 0) return Failed("spacing too small: the cell has no volume");
    if (!WithinBounds(vRatio, kLowestVRatio)) return Failed(OutOfBounds(vRatio, kLowestVRatio));

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
    r.vRatio = vRatio;
    r.pGpa = KbarToGpa(kbar);
    int32_t hundredths = 0;
    if (!Hundredths(r.pGpa, hundredths)) {
        // The window cannot show it either.
        return Failed("pressure too large to show");
    }
    r.pressure = r.pGpa;
    r.volume = a * a * a;
    if (status == clsKolvane::VOLUME_LOW || status == clsKolvane::VOLUME_HIGH) {
        r.status = Status::Warning;
        r.message = RangeWarning(r.vRatio);
    } else {
        r.status = Status::Ok;
    }
    Warn(r, PhaseWarning(standard, r.pressure, tCelsius));
    return r;
}

Result PressureOfVolume(const Standard& standard, float tCelsius, double v, double sigmaV, double sigmaT)
{
    std::string why;
    if (!CheckTemperature(tCelsius, why)) return Failed(why);
    if (!(v > 0) || !std::isfinite(v)) return Failed("the volume must be a positive number");
    const auto badSigma = [](double sigma) { return !std::isnan(sigma) && !(sigma >= 0 && std::isfinite(sigma)); };
    if (badSigma(sigmaV)) return Failed("sigma_v must be a number of cubic angstrom, 0 or more");
    if (badSigma(sigmaT)) return Failed("sigma_t must be a number of kelvin, 0 or more");
    const double a = std::cbrt(v);
    Result r;
    if (IsPublished(standard)) {
        r = PublishedPressure(standard, tCelsius, v);
        if (standard.lattice != Lattice::Hexagonal && r.status != Status::Error) r.a = a;
    } else {
        r = PressureOfLattice(standard, tCelsius, a);
    }
    if (r.status == Status::Error || (std::isnan(sigmaV) && std::isnan(sigmaT))) return r;
    const double sv = std::isnan(sigmaV) ? 0 : sigmaV, st = std::isnan(sigmaT) ? 0 : sigmaT;
    double dPdV = kNone, dPdT = kNone;  // GPa per angstrom^3 and per kelvin
    if (IsPublished(standard)) {
        const double tK = Kelvin(tCelsius);
        dPdV = -eos::BulkModulus(*standard.eos, v, tK) / v;
        dPdT = eos::ThermalSlope(*standard.eos, v, tK);
    } else {
        const Slopes s = PressureSlopes(standard, tCelsius, a);
        if (s.ok) {
            dPdV = s.dPda / (3 * a * a) / 10;
            dPdT = s.dPdT / 10;
        }
    }
    if (std::isfinite(dPdV) && std::isfinite(dPdT)) r.sigmaPGpa = Quadrature(dPdV * sv, dPdT * st);
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
    // Narrowed first for the built-in model, as the window reads a typed spacing; a published
    // scale keeps the double. Recomputed rather than stored, so that a fit of any size
    // allocates nothing.
    const bool narrowed = !IsPublished(standard);
    const auto latticeOf = [narrowed](const Peak& p) {
        return narrowed ? LatticeParameter(static_cast<float>(p.d), p.reflection.n)
                        : p.d * std::sqrt(static_cast<double>(p.reflection.n));
    };
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
    if (standard.lattice == Lattice::Hexagonal) return FitHexagonal(standard, tCelsius, peaks, sigmaT);

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
