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

}  // namespace

namespace kolvane_model {

Outcome Evaluate(int16_t ISTD, double TCEL, double VDIFF, bool roundVdW)
{
    Outcome out;
    const double T = TCEL + 273.15;

    Standard s{};
    if (ISTD == 1) {
        s = NaCl();
    } else if (ISTD == 2) {
        s = KCl();
        out.status = clsKolvane::KCL_USED;
    } else if (ISTD == 3) {
        s = CsCl();
    } else {
        out.status = clsKolvane::BAD_STANDARD;
        return out;
    }
    // Infinite or NaN inputs have no pressure; never let them through as a number.
    if (!std::isfinite(TCEL) || !std::isfinite(VDIFF)) {
        out.status = clsKolvane::NOT_FINITE;
        return out;
    }
    const double B1 = s.f1 * s.b;
    const double B2 = s.f2 * s.b;
    const double rho = 1.0 / s.kappa;

    const double V0 = std::pow(s.r0 / s.k, 3);
    const double V = V0 * (VDIFF + 1.0);
    const double x = V / V0;
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
    const double rho11 = ((rho * 2) * s.s1) / (s.s1 + s.s2);
    const double rho22 = ((rho * 2) * s.s2) / (s.s1 + s.s2);
    const double gamma = s.gamma0 * std::pow(x, s.q);
    const double theta = s.theta0 * std::exp((s.gamma0 - gamma) / s.q);
    const double TNORM = theta / T;

    const double g = ((-s.Z * std::pow(s.k, 3)) * 1e12) / (3 * std::pow(r, 2));

    const double Pcoul = (((g * e2) * s.alpha) * std::pow(s.z, 2)) / std::pow(r, 2);
    // In the published arithmetic the van der Waals term passes through single precision
    // before it is summed.
    double PvdW = g * (((u * 6) * s.C6) / std::pow(r, 7) + ((u * 8) * s.C8) / std::pow(r, 9));
    if (roundVdW) {
        PvdW = static_cast<float>(PvdW);
    }
    const double Prep1 = (((((-g) * w) * s.N1) * s.b) * std::exp((-r) / rho)) / rho;
    const double E2 = (((s.N2 * B2) * s.m) * std::exp(((-s.m) * r) / rho22)) / rho22;
    const double E1 = (((s.N2 * B1) * s.m) * std::exp(((-s.m) * r) / rho11)) / rho11;
    const double Prep2 = (((-g) * w) * 0.5) * (E2 + E1);
    const double Pstatic = ((Pcoul + PvdW) + Prep1) + Prep2;

    double FDEBYE = 0;
    int16_t debyeStatus = 0;
    clsKolvane().DEBYE(TNORM, FDEBYE, debyeStatus);
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
    const kolvane_model::Outcome out =
        kolvane_model::Evaluate(ISTD, static_cast<double>(TCEL), static_cast<double>(VDIFF), true);
    IERR = out.status;
    if (!out.written) {
        return;
    }
    const float rounded = static_cast<float>(out.p);
    if (!std::isfinite(rounded)) {
        IERR = NOT_FINITE;
        return;
    }
    P = rounded;
}

void clsKolvane::DEBYE(const double& TNORM, double& FDEBYE, int16_t& IERR) const
{
    const double pi = 4 * std::atan(1.0);
    const double x = TNORM;
    IERR = 0;
    if (x > 1.0e-5 && x < 20) {
        std::array<double, 11> nodes{};
        std::array<double, 11> weights{};
        const double lower = 0.0;
        const int16_t points = 10;
        GAULEG(lower, x, nodes, weights, points);
        double S = 0;
        for (int i = 1; i <= 10; ++i) {
            S = S + (weights[i] * FUNC(nodes[i]));
        }
        FDEBYE = (S * 3) / ((x * x) * x);
    } else if (x <= 1.0e-5 && x >= 0) {
        FDEBYE = 1;
    } else if (x >= 20) {
        FDEBYE = (std::pow(pi, 4) / 5) / ((x * x) * x);
    } else {
        IERR = 1;
    }
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
    // Far beyond the handful of Newton steps any rule needs; guards against a
    // non-converging iteration for unusual point counts.
    constexpr int maxNewtonSteps = 100;
    const double n = N;
    const double m = (n + 1) / 2;
    const double c = 0.5 * (X2 + X1);
    const double h = 0.5 * (X2 - X1);
    for (int i = 1; i <= m; ++i) {
        double z = std::cos((3.141592654 * (i - 0.25)) / (n + 0.5));
        double zOld = 0;
        double D = 0;
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
            zOld = z;
            z = zOld - (p1 / D);
            if (!(std::fabs(z - zOld) > 3.0e-14)) {
                break;
            }
        }
        const std::size_t lo = static_cast<std::size_t>(i);
        const std::size_t hi = static_cast<std::size_t>((N + 1) - i);
        X[lo] = c - (h * z);
        X[hi] = c + (h * z);
        W[lo] = (2 * h) / (((1 - (z * z)) * D) * D);
        W[hi] = W[lo];
    }
}
