// How likely a lattice's matches are luck: the chance that some lattice of the searched
// range lands as many predicted reflections on candidate peaks when the peaks' places have
// nothing to do with it.
#include "pattern/steps.h"

#include <algorithm>
#include <cmath>

namespace hv::pattern::detail {

double BinomialTail(int k, int m, double p)
{
    if (m <= 0) return 1;
    if (m > k || !(p > 0)) return 0;
    if (p >= 1) return 1;
    // Summed in logs: k reaches a few hundred, where the coefficients overflow.
    const double lp = std::log(p), lq = std::log1p(-p);
    double sum = 0;
    for (int j = m; j <= k; ++j) {
        const double lc = std::lgamma(k + 1.0) - std::lgamma(j + 1.0) - std::lgamma(k - j + 1.0);
        sum += std::exp(lc + j * lp + (k - j) * lq);
    }
    return std::min(1.0, sum);
}

Coincidence CoincidenceOf(const std::vector<Candidate>& cands, double logDMin, double logDMax, double logALo,
                          double logAHi, int predicted, int matched, int searches)
{
    Coincidence c;
    c.peaks = static_cast<int>(cands.size());
    c.predicted = predicted;
    c.matched = matched;
    const double span = logDMax - logDMin;
    std::vector<double> tols;
    double covered = 0;
    for (const Candidate& cand : cands) {
        covered += 2 * cand.tolLog;
        tols.push_back(cand.tolLog);
    }
    if (!(span > 0) || tols.empty()) {
        c.chance = cands.empty() ? 0 : 1;
        return c;
    }
    // A predicted reflection falls inside some candidate's window with the share of log d
    // the windows cover.
    const double p = std::min(1.0, covered / span);
    // Lattices one tolerance apart in log a match different sets: that many independent tries.
    std::nth_element(tols.begin(), tols.begin() + static_cast<std::ptrdiff_t>(tols.size() / 2), tols.end());
    const double tol = tols[tols.size() / 2];
    const double trials = std::max(1.0, (logAHi - logALo) / tol) * std::max(1, searches);
    c.chance = std::min(1.0, trials * BinomialTail(predicted, matched, p));
    return c;
}

}  // namespace hv::pattern::detail
