#include "engine/clsKolvane.h"

#include <array>
#include <cmath>
#include <limits>

// The arithmetic below is written operation by operation in the order of the published
// model; the build disables floating-point contraction so that no step is fused.

namespace {

struct Standard {
    double r0, k, Z, N1, N2, m, alpha, z, kappa, b, f1, f2, s1, s2, C6, C8, theta0, gamma0, q;
};

Standard NaCl()
{
    return {2.82, 0.5, 4, 6, 12, std::sqrt(2.0), 1.747565, 1, 3.2038, 2.1068e-09,
            6.33, 0.54, 1.2, 1.62, 1.4, 1.8, 279, 1.59, 0.93};
}

Standard KCl()
{
    return {3.1466, 0.5, 4, 6, 12, std::sqrt(2.0), 1.747565, 1, 3.1163, 4.3506e-09,
            1.74, 0.7, 1.15, 1.64, 4.38, 5.6, 236, 1.48, 1.04};
}

Standard CsCl()
{
    return {3.5672, std::sqrt(3.0) / 2, 1, 8, 6, (std::sqrt(3.0) + std::sqrt(3.0)) / 3, 1.762675, 1,
            2.8943, 5.6102e-09, 0.97, 1.03, 1.85, 1.72, 25.1, 26.0, 151, 1.99, 1.18};
}

constexpr double e2 = 2.30711374e-08;  // e^2 / (4 pi eps0) in 1e-10 J A
constexpr double u = 1e-07;            // unit of C6 and C8
constexpr double w = 1000;             // erg to 1e-10 J
constexpr double NA = 6.022045e-07;    // Avogadro constant times 1e-30 (A^3 to m^3)
constexpr double R = 8.31441;          // J / (mol K)

// What follows from a standard's constants alone. Kolvane forms it on every call; the
// batch path forms it once. Either way it is the same operations on the same numbers.
struct Derived {
    Standard s;
    double B1, B2;    // like-pair strengths
    double rho;       // range of the repulsion
    double V0;        // cell volume at the reference state
    double rho11, rho22;
    double k3, z2;    // k^3 and z^2
};

Derived Derive(const Standard& s)
{
    Derived d{};
    d.s = s;
    d.B1 = s.f1 * s.b;
    d.B2 = s.f2 * s.b;
    d.rho = 1.0 / s.kappa;
    d.V0 = std::pow(s.r0 / s.k, 3);
    d.rho11 = ((d.rho * 2) * s.s1) / (s.s1 + s.s2);
    d.rho22 = ((d.rho * 2) * s.s2) / (s.s1 + s.s2);
    d.k3 = std::pow(s.k, 3);
    d.z2 = std::pow(s.z, 2);
    return d;
}

// Newton's method on the Legendre polynomial of degree N from the cosine guess for its
// i-th root: the root z and the derivative term D of the last step (taken before the last
// correction), which the weights use.
void LegendreRoot(int16_t N, int i, double& z, double& D)
{
    // Far beyond the handful of Newton steps any rule needs; guards against a
    // non-converging iteration for unusual point counts.
    constexpr int maxNewtonSteps = 100;
    const double n = N;
    z = std::cos((3.141592654 * (i - 0.25)) / (n + 0.5));
    D = 0;
    for (int step = 0; step < maxNewtonSteps; ++step) {
        double p1 = 1.0;  // P[j]
        double p2 = 0.0;  // P[j-1]
        for (int j = 1; j <= N; ++j) {
            const double p3 = p2;
            p2 = p1;
            const double a = (((2.0 * j) - 1) * z) * p2;
            const double b = (j - 1.0) * p3;
            p1 = (a - b) / j;
        }
        D = (n * ((z * p1) - p2)) / ((z * z) - 1);
        const double zOld = z;
        z = zOld - (p1 / D);
        if (!(std::fabs(z - zOld) > 3.0e-14)) {
            break;
        }
    }
}

// The weight of a root is (2 h) over this; it does not depend on the interval.
double WeightDenominator(double z, double D)
{
    return ((1 - (z * z)) * D) * D;
}

constexpr int16_t kDebyePoints = 10;

// The Debye function's regimes and its quadrature sum, for any source of the 10-point rule
// on [0, x]: Rule::Fill(x, X, W) writes X[1..10] and W[1..10]; Rule::Asymptote() is
// pi^4 / 5.
template <class Rule>
void DebyeWith(const Rule& rule, const clsKolvane& engine, const double& TNORM, double& FDEBYE, int16_t& IERR)
{
    const double x = TNORM;
    IERR = 0;
    if (x > 1.0e-5 && x < 20) {
        std::array<double, kDebyePoints + 1> nodes;  // slot 0 is never read
        std::array<double, kDebyePoints + 1> weights;
        rule.Fill(x, nodes, weights);
        double S = 0;
        for (int i = 1; i <= kDebyePoints; ++i) {
            S = S + (weights[i] * engine.FUNC(nodes[i]));
        }
        FDEBYE = (S * 3) / ((x * x) * x);
    } else if (x <= 1.0e-5 && x >= 0) {
        FDEBYE = 1;
    } else if (x >= 20) {
        FDEBYE = rule.Asymptote() / ((x * x) * x);
    } else {
        IERR = 1;
    }
}

// The asymptote's factor pi^4 / 5.
double Pi4Over5(double pi)
{
    return std::pow(pi, 4) / 5;
}

// Kolvane's own path: everything formed afresh on every call.
struct PerCall {
    const clsKolvane& engine;
    double pi = 0;  // DEBYE's own, formed on each of its calls

    static Derived Constants(int16_t ISTD)
    {
        return Derive(ISTD == 1 ? NaCl() : ISTD == 2 ? KCl() : CsCl());
    }
    void Fill(const double& x, std::span<double> X, std::span<double> W) const
    {
        const double lower = 0.0;
        engine.GAULEG(lower, x, X, W, kDebyePoints);
    }
    double Asymptote() const
    {
        return Pi4Over5(pi);
    }
    void Debye(const double& TNORM, double& FDEBYE, int16_t& IERR) const
    {
        engine.DEBYE(TNORM, FDEBYE, IERR);
    }
};

// The path for many calls: the roots, the derivative terms and the standards' derived
// constants formed once per process (thread-safe static initialisation), the nodes and
// weights on [0, x] then formed from them with GAULEG's own operations.
struct Cached {
    struct Tables {
        std::array<Derived, 3> standards;
        std::array<double, 6> z{}, den{};  // roots and weight denominators, indices 1..5
        double asymptote = 0;
    };

    static const Tables& Get()
    {
        static const Tables tables = [] {
            Tables t;
            t.standards = {Derive(NaCl()), Derive(KCl()), Derive(CsCl())};
            for (int i = 1; i <= kDebyePoints / 2; ++i) {
                double D = 0;
                LegendreRoot(kDebyePoints, i, t.z[static_cast<std::size_t>(i)], D);
                t.den[static_cast<std::size_t>(i)] = WeightDenominator(t.z[static_cast<std::size_t>(i)], D);
            }
            t.asymptote = Pi4Over5(4 * std::atan(1.0));
            return t;
        }();
        return tables;
    }

    const Tables& tables = Get();

    const Derived& Constants(int16_t ISTD) const
    {
        return tables.standards[static_cast<std::size_t>(ISTD - 1)];
    }
    // GAULEG's steps with X1 = 0, X2 = x and N = 10, its loop over the roots unrolled.
    void Fill(const double& x, std::span<double> X, std::span<double> W) const
    {
        const double X1 = 0.0;
        const double X2 = x;
        const double c = 0.5 * (X2 + X1);
        const double h = 0.5 * (X2 - X1);
        for (std::size_t i = 1; i <= kDebyePoints / 2; ++i) {
            const double z = tables.z[i];
            const std::size_t hi = (kDebyePoints + 1) - i;
            X[i] = c - (h * z);
            X[hi] = c + (h * z);
            W[i] = (2 * h) / tables.den[i];
            W[hi] = W[i];
        }
    }
    double Asymptote() const
    {
        return tables.asymptote;
    }
    void Debye(const double& TNORM, double& FDEBYE, int16_t& IERR) const
    {
        DebyeWith(*this, clsKolvane(), TNORM, FDEBYE, IERR);
    }
};

// The equation of state, step by step, with the constants and the Debye function of Rule.
template <class Rule>
kolvane_model::Outcome EvaluateWith(const Rule& rule, int16_t ISTD, double TCEL, double VDIFF, bool roundVdW)
{
    kolvane_model::Outcome out;
    const double T = TCEL + 273.15;

    if (ISTD == 2) {
        out.status = clsKolvane::KCL_USED;
    } else if (ISTD != 1 && ISTD != 3) {
        out.status = clsKolvane::BAD_STANDARD;
        return out;
    }
    // Infinite or NaN inputs have no pressure; never let them through as a number.
    if (!std::isfinite(TCEL) || !std::isfinite(VDIFF)) {
        out.status = clsKolvane::NOT_FINITE;
        return out;
    }
    const auto& d = rule.Constants(ISTD);
    const Standard& s = d.s;

    const double V = d.V0 * (VDIFF + 1.0);
    const double x = V / d.V0;
    if (x < 0.5) {
        out.status = clsKolvane::VOLUME_LOW;
    } else if (x > 1.5) {
        out.status = clsKolvane::VOLUME_HIGH;
    }
    // No volume, no crystal: the cube root and the divisions below would have no value.
    if (!(V > 0)) {
        return out;
    }

    const double r = std::pow(V, 1.0 / 3.0) * s.k;
    const double gamma = s.gamma0 * std::pow(x, s.q);
    const double theta = s.theta0 * std::exp((s.gamma0 - gamma) / s.q);
    const double TNORM = theta / T;

    const double g = ((-s.Z * d.k3) * 1e12) / (3 * std::pow(r, 2));

    const double Pcoul = (((g * e2) * s.alpha) * d.z2) / std::pow(r, 2);
    // In the published arithmetic the van der Waals term passes through single precision
    // before it is summed.
    double PvdW = g * (((u * 6) * s.C6) / std::pow(r, 7) + ((u * 8) * s.C8) / std::pow(r, 9));
    if (roundVdW) {
        PvdW = static_cast<float>(PvdW);
    }
    const double Prep1 = (((((-g) * w) * s.N1) * s.b) * std::exp((-r) / d.rho)) / d.rho;
    const double E2 = (((s.N2 * d.B2) * s.m) * std::exp(((-s.m) * r) / d.rho22)) / d.rho22;
    const double E1 = (((s.N2 * d.B1) * s.m) * std::exp(((-s.m) * r) / d.rho11)) / d.rho11;
    const double Prep2 = (((-g) * w) * 0.5) * (E2 + E1);
    const double Pstatic = ((Pcoul + PvdW) + Prep1) + Prep2;

    double FDEBYE = 0;
    int16_t debyeStatus = 0;
    rule.Debye(TNORM, FDEBYE, debyeStatus);
    // A vast expansion drives the Debye temperature to zero, and 0 / T is then -0 below
    // absolute zero, which the Debye function would accept: refuse such temperatures here.
    if (debyeStatus != 0 || T < 0) {
        out.status = clsKolvane::DEBYE_REFUSED;
        return out;
    }

    const double Pth =
        (((gamma * s.Z) * 1e-08) * ((2.25 * R) * theta + ((6 * R) * T) * FDEBYE)) / (NA * V);
    const double total = Pstatic + Pth;
    if (!std::isfinite(total)) {
        out.status = clsKolvane::NOT_FINITE;
        return out;
    }
    out.p = total;
    out.written = true;
    return out;
}

// Kolvane's last step: the status, and the pressure narrowed to single when there is one.
void Store(const kolvane_model::Outcome& out, float& P, int16_t& IERR)
{
    IERR = out.status;
    if (!out.written) {
        return;
    }
    const float rounded = static_cast<float>(out.p);
    if (!std::isfinite(rounded)) {
        IERR = clsKolvane::NOT_FINITE;
        return;
    }
    P = rounded;
}

}  // namespace

namespace kolvane_model {

Outcome Evaluate(int16_t ISTD, double TCEL, double VDIFF, bool roundVdW, Nodes nodes)
{
    if (nodes == Nodes::Cached) {
        return EvaluateWith(Cached{}, ISTD, TCEL, VDIFF, roundVdW);
    }
    const clsKolvane engine;
    return EvaluateWith(PerCall{engine}, ISTD, TCEL, VDIFF, roundVdW);
}

void FastKolvane(const int16_t& ISTD, const float& TCEL, const float& VDIFF, float& P, int16_t& IERR)
{
    Store(EvaluateWith(Cached{}, ISTD, static_cast<double>(TCEL), static_cast<double>(VDIFF), true), P, IERR);
}

double ReferenceCellEdge(int16_t ISTD)
{
    switch (ISTD) {
    case 1: return NaCl().r0 / NaCl().k;
    case 2: return KCl().r0 / KCl().k;
    case 3: return CsCl().r0 / CsCl().k;
    default: return 0;
    }
}

}  // namespace kolvane_model

void clsKolvane::Kolvane(const int16_t& ISTD, const float& TCEL, const float& VDIFF, float& P,
                         int16_t& IERR) const
{
    Store(EvaluateWith(PerCall{*this}, ISTD, static_cast<double>(TCEL), static_cast<double>(VDIFF), true), P,
          IERR);
}

void clsKolvane::DEBYE(const double& TNORM, double& FDEBYE, int16_t& IERR) const
{
    const double pi = 4 * std::atan(1.0);
    DebyeWith(PerCall{*this, pi}, *this, TNORM, FDEBYE, IERR);
}

double clsKolvane::FUNC(const double& X) const
{
    const double t = X;
    if (t == 0) {
        return 0;  // the integrand's limit; 0/0 otherwise
    }
    const double e = std::exp(t);
    if (std::isinf(e)) {
        return 0;  // t^3 / e^t has long since vanished
    }
    return ((t * t) * t) / (e - 1);
}

void clsKolvane::GAULEG(const double& X1, const double& X2, std::span<double> X,
                        std::span<double> W, const int16_t& N) const
{
    if (N <= 0 || X.size() <= static_cast<std::size_t>(N) || W.size() <= static_cast<std::size_t>(N)) {
        return;
    }
    const double n = N;
    const double m = (n + 1) / 2;
    const double c = 0.5 * (X2 + X1);
    const double h = 0.5 * (X2 - X1);
    for (int i = 1; i <= m; ++i) {
        double z = 0;
        double D = 0;
        LegendreRoot(N, i, z, D);
        const std::size_t lo = static_cast<std::size_t>(i);
        const std::size_t hi = static_cast<std::size_t>((N + 1) - i);
        X[lo] = c - (h * z);
        X[hi] = c + (h * z);
        W[lo] = (2 * h) / WeightDenominator(z, D);
        W[hi] = W[lo];
    }
}
