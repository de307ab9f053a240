// Whether a lattice's fitted reflections are the standard's pattern or luck: the chance that
// a lattice of the searched range puts as many reflections as closely on peaks that have
// nothing to do with it, and whether their intensities are the structure's under texture.
#include "pattern/steps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

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

double ChiSquareTail(double x, int dof)
{
    if (dof <= 0 || !(x > 0)) return 1;
    // The regularised upper incomplete gamma Q(dof/2, x/2): its series below a + 1, its
    // continued fraction (modified Lentz) above.
    const double a = dof / 2.0, z = x / 2;
    const double lead = a * std::log(z) - z - std::lgamma(a);
    if (z < a + 1) {
        double term = 1 / a, sum = term;
        for (int k = 1; k < 500 && term > sum * 1e-15; ++k) {
            term *= z / (a + k);
            sum += term;
        }
        return std::clamp(1 - sum * std::exp(lead), 0.0, 1.0);
    }
    const double tiny = 1e-300;
    double b = z + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 500; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-15) break;
    }
    return std::clamp(std::exp(lead) * h, 0.0, 1.0);
}

double ProfileArea(double height, double fwhm, double eta)
{
    // A pseudo-Voigt's area over height times width: Gaussian sqrt(pi / ln 2) / 2, Lorentzian pi / 2.
    return height * fwhm * (eta * 1.5707963267948966 + (1 - eta) * 1.0644670194312262);
}

LogLine FitLogLine(const std::vector<double>& x, const std::vector<double>& y, double slopeLo, double slopeHi)
{
    LogLine line;
    const std::size_t m = std::min(x.size(), y.size());
    if (m == 0) return line;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < m; ++i) {
        n += 1;
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double spread = sxx - sx * sx / n;
    line.slope = m >= 3 && spread > 1e-12 ? std::clamp((sxy - sx * sy / n) / spread, slopeLo, slopeHi) : 0.0;
    line.offset = (sy - line.slope * sx) / n;
    for (std::size_t i = 0; i < m; ++i) {
        const double r = y[i] - line.offset - line.slope * x[i];
        line.misfit += r * r;
        line.largest = std::max(line.largest, std::fabs(r));
    }
    return line;
}

IntensityAgreement AgreementOf(const std::vector<Slot>& slots, const Work& w)
{
    IntensityAgreement out;
    if (!w.intensitiesKnown) return out;
    // The scale as a line in s^2 by least squares, its slope (-2 dB) held to kBSpread.
    std::vector<double> s2, logRatio;
    for (const Slot& s : slots) {
        if (!s.row.used || !(s.intensity > 0) || !(s.d > 0)) continue;
        s2.push_back(0.25 / (s.d * s.d));
        logRatio.push_back(std::log(ProfileArea(s.row.height, s.row.fwhm, s.row.eta) / s.intensity));
    }
    if (logRatio.size() < 2) return out;
    const double topS2 = *std::max_element(s2.begin(), s2.end());
    const LogLine line = FitLogLine(s2, logRatio, -2 * kBSpread, 2 * kBSpread);
    const double slope = line.slope, offset = line.offset;
    const auto scaleAt = [&](double d) { return offset + slope * 0.25 / (d * d); };
    for (const Slot& s : slots) {
        if (!(s.intensity > 0) || !(s.d > 0)) continue;
        const double scale = scaleAt(s.d);
        double z = 0;
        if (s.row.used) {
            // Texture's spread and the fit's own of a weak peak.
            const double rel = s.fit.sigmaHeight / s.fit.height;
            const double sd = std::sqrt(kTextureSd * kTextureSd + (std::isfinite(rel) ? rel * rel : 0));
            z = (std::log(ProfileArea(s.row.height, s.row.fwhm, s.row.eta) / s.intensity) - scale) / sd;
            if (z > kStrangeSigma) out.strong.push_back(ReflectionText(s.row.reflection));
            if (z < -kStrangeSigma) out.weak.push_back(ReflectionText(s.row.reflection));
        } else if (s.weakSigma > 0 && 0.25 / (s.d * s.d) <= topS2) {
            // As strong as the fit allows: its height plus three sigma, at the expected width.
            // Only among the used ones: beyond them the fall with angle is the line's guess.
            const double most = ProfileArea(std::max(s.weakHeight, 0.0) + 3 * s.weakSigma, s.fwhm, 0.5);
            z = std::min(0.0, (std::log(most / s.intensity) - scale) / kTextureSd);
            if (z < -kStrangeSigma) out.weak.push_back(ReflectionText(s.row.reflection));
        } else {
            continue;
        }
        if (std::fabs(z) > std::fabs(out.worstZ)) {
            out.worstZ = z;
            out.worst = ReflectionText(s.row.reflection);
        }
        out.chiSquare += z * z;
        ++out.terms;
    }
    out.chance = ChiSquareTail(out.chiSquare, out.terms - (slope != 0 ? 2 : 1));
    return out;
}

Coincidence MatchChance(const std::vector<Candidate>& cands, double logDMin, double logDMax, double logALo,
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

bool IsBlend(const PeakRow& r, double a)
{
    if (!(a > 0) || !(r.aI > 0) || !(r.sigmaPosition > 0) || !(r.fwhm > 0) || r.note.rfind(kOutlierNote, 0) != 0) return false;
    // The fitted width as a share of d: d's slope in x is sigma_d / sigma_x.
    const double width = r.sigmaD / r.sigmaPosition * r.fwhm / r.d;
    return std::fabs(std::log(r.aI / a)) < kBlendShare * width;
}

Coincidence CoincidenceOf(const std::vector<Candidate>& cands, double logDMin, double logDMax, double logALo,
                          double logAHi, int predicted, const std::vector<PeakRow>& rows, double relSigmaA, int searches,
                          double scatter, double a)
{
    Coincidence c;
    c.peaks = static_cast<int>(cands.size());
    c.predicted = predicted;
    std::vector<double> windows;
    for (const PeakRow& r : rows) {
        const double rel = scatter * r.sigmaD / r.d;
        const double window = kOutlierSigma * std::sqrt(rel * rel + relSigmaA * relSigmaA);
        if (r.used) {
            windows.push_back(window);
        } else if (IsBlend(r, a)) {
            windows.push_back(std::fabs(std::log(r.aI / a)) + window);
        }
    }
    c.matched = static_cast<int>(windows.size());
    const double span = logDMax - logDMin;
    if (!(span > 0) || windows.empty()) return c;
    // A reflection of a lattice unrelated to the peaks lands within its window of some peak
    // with the share of log d those windows cover around the candidates.
    const double density = static_cast<double>(cands.size()) / span;
    double logP = 0;
    for (const double win : windows) logP += std::log(std::min(1.0, 2 * win * density));
    const double p = std::exp(logP / static_cast<double>(windows.size()));
    // Lattices one window apart in log a are independent tries.
    const double trials = std::max(1.0, (logAHi - logALo) / Median(windows)) * std::max(1, searches);
    c.chance = std::min(1.0, trials * BinomialTail(std::max(predicted, c.matched), c.matched, p));
    return c;
}

double ScatterOf(const std::vector<PeakRow>& rows)
{
    double sw = 0, swa = 0;
    int n = 0;
    for (const PeakRow& r : rows) {
        if (!r.used || !(r.sigmaD > 0) || r.reflection.n <= 0) continue;
        const double sa = SigmaOfAI(r);
        sw += 1 / (sa * sa);
        swa += r.aI / (sa * sa);
        ++n;
    }
    if (n < 3) return kNone;
    const double mean = swa / sw;
    double chi = 0;
    for (const PeakRow& r : rows) {
        if (!r.used || !(r.sigmaD > 0) || r.reflection.n <= 0) continue;
        const double sa = SigmaOfAI(r);
        chi += (r.aI - mean) * (r.aI - mean) / (sa * sa);
    }
    return std::sqrt(chi / (n - 1));
}

Chances ChancesOf(const std::vector<Candidate>& cands, double dMin, double dMax, const SearchRange& range, int inRange,
                  const Outcome& o, int matched, int searches, double intensityLuck)
{
    const double logDMin = std::log(dMin), logDMax = std::log(dMax), logALo = std::log(range.aLo),
                 logAHi = std::log(range.aHi);
    Chances c;
    // Reflections that scatter beyond their sigmas sit that much less closely than their
    // sigmas say: their windows widen by the scatter.
    const double scatter = ScatterOf(o.peaks);
    c.luck = CoincidenceOf(cands, logDMin, logDMax, logALo, logAHi, inRange, o.peaks, o.result.sigmaA / o.result.a, searches,
                           std::isfinite(scatter) ? std::max(1.0, scatter) : 1.0, o.result.a);
    c.luck.chance *= intensityLuck;
    c.search = MatchChance(cands, logDMin, logDMax, logALo, logAHi, inRange, matched, searches);
    return c;
}

bool Guided(const Options& options) { return std::isfinite(options.pressureGuess) || !options.reflections.empty(); }

double IntensityLuck(const std::vector<Slot>& slots, const std::vector<Candidate>& cands, const Work& w)
{
    if (!w.intensitiesKnown) return 1;
    std::vector<double> x, expected, seen;
    for (const Slot& s : slots) {
        if (!s.row.used || !(s.intensity > 0) || !(s.d > 0) || !(s.row.height > 0)) continue;
        x.push_back(0.25 / (s.d * s.d));
        expected.push_back(std::log(s.intensity));
        seen.push_back(std::log(ProfileArea(s.row.height, s.row.fwhm, s.row.eta)));
    }
    const std::size_t m = x.size();
    if (m < 3 || cands.size() < m + 2) return 1;
    // How far log(seen / expected) lies from a line in s^2 (a scale and a B, as AgreementOf).
    std::vector<double> ratio(m);
    const auto misfit = [&](const std::vector<double>& y) {
        for (std::size_t i = 0; i < m; ++i) ratio[i] = y[i] - expected[i];
        return FitLogLine(x, ratio, -2 * kBSpread, 2 * kBSpread).misfit;
    };
    const double observed = misfit(seen);
    // The pattern's own peaks, drawn at random onto the used reflections: how often do they
    // agree with the structure as well? A fixed seed, so that every platform says the same.
    std::mt19937_64 engine(1);
    std::vector<double> drawn(m);
    std::vector<std::size_t> picked;
    int asGood = 0;
    for (int t = 0; t < kIntensityDraws; ++t) {
        picked.clear();
        while (picked.size() < m) {
            const std::size_t k = static_cast<std::size_t>(engine() % cands.size());
            if (std::find(picked.begin(), picked.end(), k) == picked.end()) picked.push_back(k);
        }
        for (std::size_t i = 0; i < m; ++i) drawn[i] = std::log(ProfileArea(cands[picked[i]].prominence, cands[picked[i]].fwhm, 0));
        asGood += misfit(drawn) <= observed;
    }
    return (asGood + 1.0) / (kIntensityDraws + 1.0);
}

void Refuse(Outcome& o, std::string message)
{
    // Nothing of a refused lattice makes a pressure: no reflection is used, nothing explained.
    o.result = Result{};
    o.result.peaks = 0;
    o.result.message = std::move(message);
    for (PeakRow& r : o.peaks) {
        if (!r.used) continue;
        r.used = false;
        r.note = "its lattice is refused";
    }
    o.fom = o.fom >= 0 ? 0 : o.fom;
    o.strongFound = 0;
    o.trend = o.sigmaTrend = o.zeroShift = o.sigmaZeroShift = kNone;
}

bool Crowded(const Coincidence& search) { return search.peaks >= 2 * search.matched + 3; }

bool Refused(Outcome& o, std::string_view standardName, const Coincidence& luck, const Coincidence& search,
             const IntensityAgreement& agreement, const Options& options)
{
    const bool guided = Guided(options);
    const std::string name(standardName);
    const auto rough = [](double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2g", v);
        return std::string(buffer);
    };
    if (!(agreement.chance >= kIntensityRefused)) {
        std::string which;
        if (!agreement.strong.empty()) which += Join(agreement.strong) + " far stronger";
        if (!agreement.weak.empty()) which += (which.empty() ? "" : " and ") + Join(agreement.weak) + " far weaker";
        which = which.empty() && !agreement.worst.empty()
                    ? "all together too far off, the most " + agreement.worst + ", " +
                          Fixed(std::fabs(agreement.worstZ), 1) + " sd " + (agreement.worstZ > 0 ? "stronger" : "weaker") +
                          " than its pattern makes it"
                    : which + " than its pattern makes " +
                          (agreement.strong.size() + agreement.weak.size() == 1 ? "it" : "them");
        const std::string what = "the fitted intensities are not " + name + "'s, even with texture: " + which +
                                 " (chance ~" + rough(agreement.chance) + ")";
        // Among other phases' peaks that says another lattice; alone, a strange sample.
        if (Crowded(search)) {
            Refuse(o, "no " + name + " pattern: " + what);
            return true;
        }
        AddNote(o.result, what, true);
    }
    const std::string counts = std::to_string(luck.matched) + " used reflections of " + std::to_string(luck.predicted) +
                               " in range on " + std::to_string(luck.peaks) + " peaks";
    if (!(luck.chance < (guided ? kCoincidenceRefusedGuided : kCoincidenceRefused))) {
        Refuse(o, "no " + name + " pattern to trust: its " + counts +
                      " sit as closely as a lattice of the searched range would by chance (~" + rough(luck.chance) + ")" +
                      (guided ? "" : "; a pressure guess near the truth (" + options.names.pressureGuess + ") narrows the search"));
        return true;
    }
    if (!(luck.chance < kCoincidenceChance)) {
        AddNote(o.result,
                "a crowded pattern: a lattice of the " + std::string(guided ? "range searched near the guess" : "searched range") +
                    " would put its " + counts + " as closely with a chance of ~" + rough(luck.chance),
                true);
    } else if (!(search.chance < kCoincidenceChance)) {
        // The fit places them closely enough; the search's own count alone is not so sure.
        AddNote(o.result,
                "a crowded pattern: " + std::to_string(search.peaks) + " peaks, of which a lattice of the searched range would "
                    "match " + std::to_string(search.matched) + " of " + std::to_string(search.predicted) +
                    " reflections with a chance of ~" + rough(search.chance) + ", and as closely as they sit with a chance of ~" +
                    rough(luck.chance),
                true);
    }
    return false;
}

}  // namespace hv::pattern::detail
