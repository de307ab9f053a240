#include "core/eos.h"

#include <cmath>

namespace hv::eos {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDebyeLimit = kPi * kPi * kPi * kPi / 15;

bool Finite(double x)
{
    return std::isfinite(x);
}

bool Positive(double x)
{
    return x > 0 && std::isfinite(x);
}

// Bernoulli numbers B_2 .. B_30 as exact fractions, for the small-x series of the Debye
// integral: t/(e^t - 1) = 1 - t/2 + sum_j B_2j t^2j / (2j)!.
constexpr double kBernoulliNum[] = {1, -1, 1, -1, 5, -691, 7, -3617, 43867, -174611, 854513, -236364091,
                                    8553103, -23749461029.0, 8615841276005.0};
constexpr double kBernoulliDen[] = {6, 30, 42, 30, 66, 2730, 6, 510, 798, 330, 138, 2730, 6, 870, 14322};

// B_2j / (2j)! for j = 1 .. 15.
struct SeriesCoefficients {
    double c[15] = {};
    constexpr SeriesCoefficients()
    {
        double factorial = 1;
        for (int j = 1; j <= 15; ++j) {
            factorial *= (2 * j - 1) * (2 * j);
            c[j - 1] = kBernoulliNum[j - 1] / kBernoulliDen[j - 1] / factorial;
        }
    }
};
constexpr SeriesCoefficients kSeries;

// D3(x) / x^3, kept finite as x -> 0 (1/3 - x/8 + ...), where theta underflows under extreme
// expansion.
double DebyeRatio(double x)
{
    if (x > 2) return DebyeIntegral3(x) / (x * x * x);
    const double x2 = x * x;
    double sum = 0, power = x2;
    for (int j = 1; j <= 15; ++j) {
        sum += kSeries.c[j - 1] * power / (2 * j + 3);
        power *= x2;
    }
    return 1.0 / 3 - x / 8 + sum;
}

// Thermal energy per mole of formula units over 9 n R, and its derivatives: E/(9nR) =
// T^4/theta^3 D3(theta/T) = T D3(x)/x^3 with x = theta/T.
struct Debye {
    double energy = 0;       // E / (9 n R), K
    double thetaDTheta = 0;  // theta d(E / 9nR) / d theta, K
    double dT = 0;           // d(E / 9nR) / dT, the heat capacity over 9nR
};

Debye DebyeEnergy(double theta, double tK)
{
    const double x = theta / tK;
    const double r3 = DebyeRatio(x);
    // x/(e^x - 1) without loss at small x; beyond exp's range it is 0.
    const double xOverEm1 = x == 0 ? 1.0 : x / std::expm1(x);
    Debye out;
    out.energy = tK * r3;
    out.thetaDTheta = tK * (xOverEm1 - 3 * r3);
    out.dT = 4 * r3 - xOverEm1;
    return out;
}

// The exponential integral's difference Ei(u) - Ei(u0) for 0 < u, u0, from its series
// gamma + ln u + sum u^k / (k k!): the constant cancels, the logarithms are given as one.
double EiDifference(double logRatio, double u, double u0)
{
    double sum = logRatio;
    double tu = 1, tu0 = 1;
    for (int k = 1; k < 1000; ++k) {  // the terms peak near k = u, at most 600
        tu *= u / k;
        tu0 *= u0 / k;
        const double term = (tu - tu0) / k;
        sum += term;
        // Only an absolute error matters: the sum lands in an exponent.
        if (k > u && k > u0 && (tu + tu0) / k <= 1e-17 * (1 + std::fabs(sum))) break;
    }
    return sum;
}

// Grueneisen parameter, Debye temperature and d gamma / d ln V at eta = V/V0.
struct Grueneisen {
    double gamma = kNaN;
    double theta = kNaN;
    double dGammaDLnV = kNaN;
};

Grueneisen GrueneisenAt(const Params& p, double eta)
{
    Grueneisen g;
    switch (p.thermal) {
    case Thermal::MieGruneisenDebye:
        g.gamma = p.gamma0 * std::pow(eta, p.q);
        g.theta = p.theta0 * std::exp((p.gamma0 - g.gamma) / p.q);
        g.dGammaDLnV = p.q * g.gamma;
        break;
    case Thermal::Tange: {
        const double etaB = std::pow(eta, p.b);
        g.gamma = p.gamma0 * (1 + p.a * (etaB - 1));
        g.theta = p.theta0 * std::pow(eta, -(1 - p.a) * p.gamma0) * std::exp(-(g.gamma - p.gamma0) / p.b);
        g.dGammaDLnV = p.gamma0 * p.a * p.b * etaB;
        break;
    }
    case Thermal::Speziale: {
        // ln(theta/theta0) = -integral gamma d ln V; with u = (q0/q1) eta^q1 the integrand is
        // gamma0 e^(-q0/q1) e^u / (q1 u) du, whose integral is the exponential integral.
        const double etaQ1 = std::pow(eta, p.q1);
        const double u0 = p.q0 / p.q1;
        const double u = u0 * etaQ1;
        g.gamma = p.gamma0 * std::exp(u - u0);
        if (u > 600) break;  // far beyond any expansion the form was made for
        const double lnRatio = -p.gamma0 / p.q1 * std::exp(-u0) * EiDifference(p.q1 * std::log(eta), u, u0);
        g.theta = p.theta0 * std::exp(lnRatio);
        g.dGammaDLnV = g.gamma * p.q0 * etaQ1;
        break;
    }
    case Thermal::None:
    case Thermal::Linear: break;
    }
    return g;
}

bool Usable(const Params& p, double v)
{
    return Positive(v) && Valid(p);
}

// -V dP/dV of the isotherm, GPa.
double IsothermModulus(const Params& p, double v)
{
    const double eta = v / p.v0;
    if (p.isotherm == Isotherm::Vinet) {
        const double x = std::cbrt(eta);
        const double h = 1.5 * (p.k0p - 1);
        return p.k0 / (x * x) * std::exp(h * (1 - x)) * (1 + (1 - x) * (1 + h * x));
    }
    const double c = std::cbrt(eta);
    const double s = 1 / (c * c);  // 1 + 2f
    const double f = (s - 1) / 2;
    const double k0p = p.isotherm == Isotherm::BM2 ? 4.0 : p.k0p;
    const double a1 = 1.5 * (k0p - 4);
    const double a2 = p.isotherm == Isotherm::BM4 ? 1.5 * (p.k0 * p.k0pp + k0p * (k0p - 7) + 143.0 / 9) : 0.0;
    const double g = 1 + a1 * f + a2 * f * f;
    const double dg = a1 + 2 * a2 * f;
    return p.k0 * s * s * std::sqrt(s) * ((1 + 7 * f) * g + f * s * dg);
}

// Thermal pressure and its derivatives at (v, tK) for the Debye-type forms.
struct ThermalParts {
    double p = 0, k = 0, slope = 0;  // GPa, -V dP/dV in GPa, dP/dT in GPa/K
};

ThermalParts DebyeThermal(const Params& p, double v, double tK)
{
    ThermalParts out;
    const double eta = v / p.v0;
    const Grueneisen g = GrueneisenAt(p, eta);
    if (!std::isfinite(g.theta) || !(g.theta >= 0)) return {kNaN, kNaN, kNaN};
    // Molar volume in m^3: angstrom^3 are 1e-30 m^3; pascals to GPa.
    const double vm = v * 1e-30 * kAvogadro / p.z;
    const double scale = 9 * p.n * kGasConstant / vm * 1e-9;  // GPa per kelvin of E/(9nR) per unit gamma
    const Debye hot = DebyeEnergy(g.theta, tK);
    const Debye ref = DebyeEnergy(g.theta, p.t0);
    const double de = hot.energy - ref.energy;
    const double deTheta = hot.thetaDTheta - ref.thetaDTheta;
    out.p = g.gamma * scale * de;
    out.slope = g.gamma * scale * hot.dT;
    // d/d ln V of gamma E / V_m, with d ln theta / d ln V = -gamma for every one of these forms.
    const double dPdLnV = scale * (g.dGammaDLnV * de - g.gamma * de - g.gamma * g.gamma * deTheta);
    out.k = -dPdLnV;
    return out;
}

ThermalParts Thermals(const Params& p, double v, double tK)
{
    switch (p.thermal) {
    case Thermal::None: return {};
    case Thermal::Linear: {
        const double dt = tK - p.t0;
        const double slope = p.linA + p.linB * std::log(p.v0 / v);
        return {slope * dt, p.linB * dt, slope};
    }
    case Thermal::MieGruneisenDebye:
    case Thermal::Tange:
    case Thermal::Speziale: return DebyeThermal(p, v, tK);
    }
    return {kNaN, kNaN, kNaN};
}

}  // namespace

bool Valid(const Params& p)
{
    if (!Positive(p.v0) || !Positive(p.k0) || !Finite(p.k0p) || !Positive(p.t0)) return false;
    if (p.isotherm == Isotherm::BM4 && !Finite(p.k0pp)) return false;
    switch (p.thermal) {
    case Thermal::None: return true;
    case Thermal::Linear: return Finite(p.linA) && Finite(p.linB);
    case Thermal::MieGruneisenDebye:
        return Positive(p.theta0) && Finite(p.gamma0) && Finite(p.q) && p.q != 0 && p.z > 0 && p.n > 0;
    case Thermal::Tange:
        return Positive(p.theta0) && Finite(p.gamma0) && Finite(p.a) && Finite(p.b) && p.b != 0 && p.z > 0 &&
               p.n > 0;
    case Thermal::Speziale:
        return Positive(p.theta0) && Finite(p.gamma0) && Positive(p.q0) && Positive(p.q1) && p.z > 0 && p.n > 0;
    }
    return false;
}

double DebyeIntegral3(double x)
{
    if (!(x >= 0)) return kNaN;
    if (x == 0) return 0;
    if (x <= 2) {
        // x^3/3 - x^4/8 + sum_j B_2j/(2j)! x^(2j+3)/(2j+3): the terms fall by (x/2pi)^2 at least.
        const double x2 = x * x;
        double sum = 0;
        double power = x2 * x2 * x;  // x^5
        for (int j = 1; j <= 15; ++j) {
            sum += kSeries.c[j - 1] * power / (2 * j + 3);
            power *= x2;
        }
        return x2 * x * (1.0 / 3 - x / 8) + sum;
    }
    // pi^4/15 minus the tail integral_x^inf, which is sum_k e^(-kx) (x^3/k + 3x^2/k^2 + 6x/k^3 + 6/k^4).
    const double q = std::exp(-x);
    if (q == 0) return kDebyeLimit;
    double tail = 0, qk = 1;
    for (int k = 1; k < 60; ++k) {
        qk *= q;
        const double r = 1.0 / k;
        const double term = qk * r * (x * x * x + r * (3 * x * x + r * (6 * x + r * 6)));
        tail += term;
        if (term < 1e-18 * kDebyeLimit) break;
    }
    return kDebyeLimit - tail;
}

double IsothermPressure(const Params& p, double v)
{
    if (!Usable(p, v)) return kNaN;
    const double eta = v / p.v0;
    if (p.isotherm == Isotherm::Vinet) {
        const double x = std::cbrt(eta);
        return 3 * p.k0 * (1 - x) / (x * x) * std::exp(1.5 * (p.k0p - 1) * (1 - x));
    }
    const double c = std::cbrt(eta);
    const double s = 1 / (c * c);  // 1 + 2f
    const double f = (s - 1) / 2;
    const double k0p = p.isotherm == Isotherm::BM2 ? 4.0 : p.k0p;
    double g = 1 + 1.5 * (k0p - 4) * f;
    if (p.isotherm == Isotherm::BM4) g += 1.5 * (p.k0 * p.k0pp + k0p * (k0p - 7) + 143.0 / 9) * f * f;
    return 3 * p.k0 * f * s * s * std::sqrt(s) * g;
}

double ThermalPressure(const Params& p, double v, double tK)
{
    if (!Usable(p, v) || !Positive(tK)) return kNaN;
    return Thermals(p, v, tK).p;
}

double Pressure(const Params& p, double v, double tK)
{
    if (!Usable(p, v) || !Positive(tK)) return kNaN;
    return IsothermPressure(p, v) + Thermals(p, v, tK).p;
}

double BulkModulus(const Params& p, double v, double tK)
{
    if (!Usable(p, v) || !Positive(tK)) return kNaN;
    return IsothermModulus(p, v) + Thermals(p, v, tK).k;
}

double ThermalSlope(const Params& p, double v, double tK)
{
    if (!Usable(p, v) || !Positive(tK)) return kNaN;
    return Thermals(p, v, tK).slope;
}

double Gruneisen(const Params& p, double v)
{
    if (!Usable(p, v)) return kNaN;
    return GrueneisenAt(p, v / p.v0).gamma;
}

double DebyeTemperature(const Params& p, double v)
{
    if (!Usable(p, v)) return kNaN;
    return GrueneisenAt(p, v / p.v0).theta;
}

double VolumeAt(const Params& p, double pGpa, double tK)
{
    if (!Valid(p) || !Positive(tK) || !Finite(pGpa)) return kNaN;
    struct Point {
        double v, f, k;  // volume, P - pGpa, -V dP/dV
    };
    const auto at = [&](double v) {
        const ThermalParts th = Thermals(p, v, tK);
        return Point{v, IsothermPressure(p, v) + th.p - pGpa, IsothermModulus(p, v) + th.k};
    };

    // Damped Newton steps in ln V from V0 (dP/d ln V = -K), at most 10 % each, on the branch
    // where the pressure falls with volume. Where it stops falling, the branch turns: the
    // pressure at the turn decides whether the branch reaches pGpa at all.
    Point cur = at(p.v0);
    if (!Finite(cur.f) || !(cur.k > 0)) return kNaN;
    Point lo{}, hi{};
    bool bracketed = false;
    for (int i = 0; i < 2000 && !bracketed; ++i) {
        if (cur.f == 0) return cur.v;
        const double next = cur.v * std::fmin(std::fmax(std::exp(cur.f / cur.k), 0.9), 1 / 0.9);
        if (std::fabs(next - cur.v) <= 2e-16 * cur.v) return next;
        const Point np = at(next);
        if (!Finite(np.f) || !Finite(np.k)) return kNaN;
        if (!(np.k > 0)) {
            // The turn lies between the two: where the modulus vanishes, by bisection.
            double a = cur.v, b = next;
            for (int j = 0; j < 200 && std::fabs(b - a) > 1e-15 * a; ++j) {
                const double m = 0.5 * (a + b);
                (at(m).k > 0 ? a : b) = m;
            }
            const Point turn = at(a);
            if (!Finite(turn.f) || (turn.f < 0) == (cur.f < 0)) return kNaN;
            lo = cur;
            hi = turn;
            bracketed = true;
        } else if ((np.f < 0) != (cur.f < 0) || np.f == 0) {
            lo = cur;
            hi = np;
            bracketed = true;
        } else {
            cur = np;
        }
    }
    if (!bracketed) return kNaN;
    if (hi.f == 0) return hi.v;

    // Newton inside the bracket, bisection where Newton would leave it.
    double a = lo.v, fa = lo.f, b = hi.v;
    Point x = std::fabs(lo.f) < std::fabs(hi.f) ? lo : hi;
    for (int i = 0; i < 200; ++i) {
        double next = x.v * std::exp(x.f / x.k);
        const double low = std::fmin(a, b), high = std::fmax(a, b);
        if (!(x.k > 0) || !(next > low && next < high)) next = 0.5 * (a + b);
        if (std::fabs(next - x.v) <= 2e-16 * x.v || std::fabs(b - a) <= 4e-16 * x.v) return next;
        x = at(next);
        if (!Finite(x.f)) return kNaN;
        if (x.f == 0) return x.v;
        if ((x.f < 0) == (fa < 0)) {
            a = x.v;
            fa = x.f;
        } else {
            b = x.v;
        }
    }
    return x.v;
}

}  // namespace hv::eos
