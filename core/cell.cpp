#include "core/cell.h"

#include <cmath>
#include <vector>

namespace hv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Coefficients of 1/a^2 and 1/c^2 in a reflection's 1/d^2.
struct Row {
    double p = 0, q = 0;
};

Row MetricRow(CrystalSystem system, const Hkl& hkl)
{
    const double h = hkl.h, k = hkl.k, l = hkl.l;
    if (system == CrystalSystem::Cubic) return {h * h + k * k + l * l, 0};
    return {4.0 / 3.0 * (h * h + h * k + k * k), l * l};
}

bool Fails(CellFit& fit, std::string why)
{
    fit.ok = false;
    fit.why = std::move(why);
    return false;
}

// Checks the peaks on their own; says whether sigmas are given.
bool CheckPeaks(std::span<const CellPeak> peaks, CellFit& fit, bool& weighted)
{
    int withSigma = 0;
    for (const CellPeak& peak : peaks) {
        if (peak.hkl == Hkl{}) return Fails(fit, "0 0 0 is no reflection");
        if (!(std::isfinite(peak.d) && peak.d > 0)) return Fails(fit, "a spacing d is not positive");
        if (!std::isnan(peak.sigmaD)) {
            if (!(std::isfinite(peak.sigmaD) && peak.sigmaD > 0)) return Fails(fit, "a sigma_d is not positive");
            ++withSigma;
        }
    }
    if (withSigma != 0 && withSigma != static_cast<int>(peaks.size())) {
        return Fails(fit, "sigma_d is given for some peaks and not for others");
    }
    weighted = withSigma != 0;
    return true;
}

}  // namespace

double Spacing(CrystalSystem system, double a, double c, const Hkl& hkl)
{
    if (hkl == Hkl{} || !(a > 0) || (system == CrystalSystem::Hexagonal && !(c > 0))) return kNaN;
    const Row row = MetricRow(system, hkl);
    return 1 / std::sqrt(row.p / (a * a) + (system == CrystalSystem::Cubic ? 0 : row.q / (c * c)));
}

double CellVolume(CrystalSystem system, double a, double c)
{
    return system == CrystalSystem::Cubic ? a * a * a : std::sqrt(3.0) / 2 * a * a * c;
}

CellFit RefineCell(CrystalSystem system, std::span<const CellPeak> peaks)
{
    CellFit fit;
    const bool cubic = system == CrystalSystem::Cubic;
    fit.parameters = cubic ? 1 : 2;
    fit.peaks = static_cast<int>(peaks.size());
    bool weighted = false;
    if (!CheckPeaks(peaks, fit, weighted)) return fit;
    if (fit.peaks < fit.parameters) {
        Fails(fit, cubic ? "no peak to fit" : "a and c need at least two peaks");
        return fit;
    }

    // Normal equations of y = p u + q w, u = 1/a^2, w = 1/c^2.
    std::vector<double> y(peaks.size()), weight(peaks.size());
    std::vector<Row> rows(peaks.size());
    double npp = 0, npq = 0, nqq = 0, bp = 0, bq = 0;
    bool anyL = false, anyHk = false;
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const CellPeak& peak = peaks[i];
        rows[i] = MetricRow(system, peak.hkl);
        y[i] = 1 / (peak.d * peak.d);
        const double sigmaY = weighted ? 2 * peak.sigmaD / (peak.d * peak.d * peak.d) : 1;
        weight[i] = 1 / (sigmaY * sigmaY);
        npp += weight[i] * rows[i].p * rows[i].p;
        npq += weight[i] * rows[i].p * rows[i].q;
        nqq += weight[i] * rows[i].q * rows[i].q;
        bp += weight[i] * rows[i].p * y[i];
        bq += weight[i] * rows[i].q * y[i];
        anyL = anyL || peak.hkl.l != 0;
        anyHk = anyHk || peak.hkl.h != 0 || peak.hkl.k != 0;
    }

    double u = 0, w = 0, cuu = 0, cuw = 0, cww = 0;  // solution and inverse normal matrix
    if (cubic) {
        u = bp / npp;
        cuu = 1 / npp;
    } else {
        if (!anyL) {
            Fails(fit, "only h k 0 reflections: they do not fix c");
            return fit;
        }
        if (!anyHk) {
            Fails(fit, "only 0 0 l reflections: they do not fix a");
            return fit;
        }
        const double det = npp * nqq - npq * npq;
        // Reflections whose 1/a^2 and 1/c^2 parts keep one proportion (1 0 1, 2 0 2) fix
        // only one combination of a and c.
        if (!(det > 1e-12 * npp * nqq)) {
            Fails(fit, "the reflections do not fix a and c separately");
            return fit;
        }
        cuu = nqq / det;
        cww = npp / det;
        cuw = -npq / det;
        u = cuu * bp + cuw * bq;
        w = cuw * bp + cww * bq;
    }
    if (!(u > 0) || (!cubic && !(w > 0))) {
        Fails(fit, "the peaks give no real cell");
        return fit;
    }

    double chi2 = 0;
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const double r = y[i] - (rows[i].p * u + rows[i].q * w);
        chi2 += weight[i] * r * r;
    }
    const int dof = fit.peaks - fit.parameters;
    fit.reducedChi2 = dof > 0 ? chi2 / dof : kNaN;
    double scale = 1;
    if (!weighted) {
        scale = fit.reducedChi2;  // NaN with no degree of freedom: no uncertainty
    } else if (dof > 0 && fit.reducedChi2 > 1) {
        scale = fit.reducedChi2;
    }
    cuu *= scale;
    cuw *= scale;
    cww *= scale;

    // a = u^(-1/2): da/du = -a^3 / 2; likewise c.
    fit.a = 1 / std::sqrt(u);
    const double ja = -fit.a * fit.a * fit.a / 2;
    const double varA = ja * ja * cuu;
    fit.sigmaA = std::sqrt(varA);
    if (cubic) {
        fit.volume = CellVolume(system, fit.a, 0);
        const double dVda = 3 * fit.a * fit.a;
        fit.covAV = dVda * varA;
        fit.sigmaV = dVda * fit.sigmaA;
    } else {
        fit.c = 1 / std::sqrt(w);
        const double jc = -fit.c * fit.c * fit.c / 2;
        const double varC = jc * jc * cww;
        fit.sigmaC = std::sqrt(varC);
        fit.covAC = ja * jc * cuw;
        fit.volume = CellVolume(system, fit.a, fit.c);
        const double dVda = std::sqrt(3.0) * fit.a * fit.c;
        const double dVdc = std::sqrt(3.0) / 2 * fit.a * fit.a;
        fit.covAV = dVda * varA + dVdc * fit.covAC;
        fit.covCV = dVda * fit.covAC + dVdc * varC;
        fit.sigmaV = std::sqrt(dVda * fit.covAV + dVdc * fit.covCV);
    }
    fit.ok = true;
    return fit;
}

}  // namespace hv
