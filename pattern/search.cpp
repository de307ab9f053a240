// The search: every candidate votes, for every reflection it could be, for the lattice
// parameter that would put that reflection there; where the votes crowd, the lattice is
// scored in full against the standard's expected pattern. A lattice is recognised only when
// the reflections its structure makes strongest are there (or hidden under a peak they
// cannot be told from, or outside the measured points), so a set of peaks at the standard's
// ratios of d decides, never one strong peak, and never weak reflections alone.
#include "pattern/steps.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace hv::pattern::detail {

namespace {

struct Scoring {
    const std::vector<Family>& families;
    const std::vector<Candidate>& cands;
    const Work& w;
    const Standard& standard;
    double logDMin, logDMax, zero;
    int minMatched;
};

std::string Listed(const std::vector<std::string>& items)
{
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += i + 1 == items.size() ? " and " : ", ";
        out += items[i];
    }
    return out;
}

// A shoulder at x on a taller peak's flank: a maximum of the running mean within tol of x
// that rises kClearSigma of noise above its lower side (within three widths) and dips
// kShoulderSigma toward the other, too shallow a dip for a candidate. A reflection there is
// seen, not absent.
bool ShowsAShoulder(const Work& w, double x, double tol, double width)
{
    const std::vector<double>& m = w.mean3;
    const std::size_t n = m.size();
    const auto first = static_cast<std::size_t>(std::lower_bound(w.x.begin(), w.x.end(), x - tol) - w.x.begin());
    const double noise = w.Noise(x);
    for (std::size_t i = std::max<std::size_t>(first, 1); i + 1 < n && w.x[i] <= x + tol; ++i) {
        if (!(m[i] > m[i - 1] && m[i] >= m[i + 1])) continue;
        double left = m[i], right = m[i];
        for (std::size_t k = i; k > 0 && w.x[i] - w.x[k - 1] <= 3 * width && m[k - 1] <= m[i]; --k) {
            left = std::min(left, m[k - 1]);
        }
        for (std::size_t k = i; k + 1 < n && w.x[k + 1] - w.x[i] <= 3 * width && m[k + 1] <= m[i]; ++k) {
            right = std::min(right, m[k + 1]);
        }
        if (m[i] - std::min(left, right) >= kClearSigma * noise && m[i] - std::max(left, right) >= kShoulderSigma * noise) {
            return true;
        }
    }
    return false;
}

// How well lattice parameter exp(logA) explains the candidates, and whether it is the
// standard's pattern at all.
Lattice Score(double logA, const Scoring& s)
{
    Lattice l;
    l.a = std::exp(logA);
    l.zero = s.zero;
    l.score = 0;
    struct Expected {
        std::size_t family;
        double x, intensity;
        std::size_t cand;  // cands.size(): none
        bool hidden;
    };
    const std::size_t none = s.cands.size();
    std::vector<Expected> expected;
    for (std::size_t f = 0; f < s.families.size(); ++f) {
        const double logD = logA - s.families[f].halfLogN;
        if (logD < s.logDMin || logD > s.logDMax) continue;
        const double d = std::exp(logD);
        const double x = PositionOf(s.w.unit, d, s.w.geometry) + s.zero;
        if (!std::isfinite(x) || s.w.Blind(x)) continue;
        Expected e{f, x, ExpectedIntensity(s.standard, s.families[f], d, s.w), none, false};
        // The nearest candidate on either side in log d.
        const auto it = std::lower_bound(s.cands.begin(), s.cands.end(), logD,
                                         [](const Candidate& c, double v) { return c.logD < v; });
        double bestOff = 1e300;
        for (auto k : {it - s.cands.begin() - 1, it - s.cands.begin()}) {
            if (k < 0 || static_cast<std::size_t>(k) >= s.cands.size()) continue;
            const Candidate& c = s.cands[static_cast<std::size_t>(k)];
            const double off = std::fabs(c.logD - logD) / c.tolLog;
            if (off <= 1 && off < bestOff) {
                bestOff = off;
                e.cand = static_cast<std::size_t>(k);
            }
            // Under a candidate's peak but off its top: it cannot be told from that peak.
            if (std::fabs(c.x - x) < c.fwhm) e.hidden = true;
        }
        expected.push_back(e);
    }
    // A candidate claimed by two reflections serves the first; the second is under it.
    for (std::size_t i = 0; i < expected.size(); ++i) {
        for (std::size_t j = 0; j < i && expected[i].cand != none; ++j) {
            if (expected[j].cand == expected[i].cand) expected[i].cand = none;
        }
    }
    // Widths of one lattice's peaks agree; a peak far wider or narrower is something else's.
    double width = 0;
    {
        std::vector<double> widths;
        for (const Expected& e : expected) {
            if (e.cand != none) widths.push_back(s.cands[e.cand].fwhm);
        }
        width = Median(widths);
        for (Expected& e : expected) {
            if (e.cand == none) continue;
            const double ratio = s.cands[e.cand].fwhm / width;
            if (widths.size() >= 3 && (ratio > kWidthFactor || ratio < 1 / kWidthFactor)) e.cand = none;
        }
    }
    // Peaks far stronger than the structure makes them, on the scale of the others: one is
    // another phase's peak on the reflection's place, and counts as hidden; two or more are
    // another lattice (a metal's 111 and 311 where rock salt has weak ones).
    std::vector<std::string> tooStrong;
    if (s.w.intensitiesKnown) {
        // The scale from the strongest expected reflections that are there: the ones the
        // recognition rests on, not the suspects.
        std::vector<const Expected*> byIntensity;
        for (const Expected& e : expected) {
            if (e.cand != none && e.intensity > 0) byIntensity.push_back(&e);
        }
        std::sort(byIntensity.begin(), byIntensity.end(),
                  [](const Expected* a, const Expected* b) { return a->intensity > b->intensity; });
        std::vector<double> ratios;
        for (std::size_t i = 0; i < byIntensity.size() && i < static_cast<std::size_t>(kStrongest); ++i) {
            ratios.push_back(s.cands[byIntensity[i]->cand].prominence / byIntensity[i]->intensity);
        }
        if (byIntensity.size() < 3) ratios.clear();
        const double mid = Median(ratios);
        double strongest = 0;
        for (const Expected& e : expected) strongest = std::max(strongest, e.intensity);
        std::vector<Expected*> odd;
        for (Expected& e : expected) {
            const double floored = std::max(e.intensity, kTooStrongFloor * strongest);
            if (ratios.size() >= 3 && e.cand != none && s.cands[e.cand].prominence > kTooStrongFactor * mid * floored) {
                odd.push_back(&e);
            }
        }
        // Another lattice shows when its leading peak is one the structure makes weak.
        double leading = 0;
        for (std::size_t i = 0; i < byIntensity.size() && i < static_cast<std::size_t>(kStrongest); ++i) {
            leading = std::max(leading, s.cands[byIntensity[i]->cand].prominence);
        }
        bool leads = false;
        for (const Expected* e : odd) leads = leads || s.cands[e->cand].prominence >= kLeadingFactor * leading;
        if (odd.size() >= 2 && leads) {
            for (const Expected* e : odd) tooStrong.push_back(HklText(s.families[e->family].hkl));
        } else {
            for (Expected* e : odd) {
                e->cand = none;
                e->hidden = true;
            }
        }
    }
    double total = 0, found = 0;
    int unexplained = 0, inRange = 0;
    std::vector<double> scales;
    for (const Expected& e : expected) {
        if (e.cand != none) {
            const Candidate& c = s.cands[e.cand];
            ++l.matched;
            l.score += 1 + 0.05 * std::min(std::log10(c.significance), 3.0);
            l.matches.push_back({e.family, e.cand});
            found += e.intensity;
            if (e.intensity > 0) scales.push_back(c.prominence / e.intensity);
        } else if (e.hidden) {
            continue;
        } else {
            ++unexplained;
        }
        ++inRange;
        total += e.intensity;
    }
    l.score -= 0.25 * unexplained;
    l.fom = total > 0 ? found / total : 0;
    const std::string name(s.standard.name);
    if (l.matched < s.minMatched) {
        l.reason = "explains " + std::to_string(l.matched) + " clear peaks";
        return l;
    }
    if (!s.w.intensitiesKnown) {
        // Positions only: a stricter count, half of what the lattice puts in range.
        if (l.matched < s.minMatched + 1 || 2 * l.matched < inRange) {
            l.reason = "explains " + std::to_string(l.matched) + " of the " + std::to_string(inRange) +
                       " reflections it puts in the spectrum";
            return l;
        }
        l.acceptable = true;
        return l;
    }
    l.score += 2 * l.fom;
    if (!tooStrong.empty()) {
        l.reason = Listed(tooStrong) + " are far stronger than " + std::string(s.standard.name) +
                   " makes them: the peaks are another lattice's";
        return l;
    }
    const double scale = Median(scales);
    // A reflection without a peak beside a taller one, where at the height the explained
    // reflections' scale predicts it would make no clear peak of its own, is hidden under that
    // one: neither there nor absent. (At a fraction of that height more would be hidden, and
    // on generated cell patterns more coincidences pass.)
    for (Expected& e : expected) {
        if (e.cand != none || e.hidden || !(scale > 0)) continue;
        const double predicted = scale * e.intensity;
        for (const Candidate& c : s.cands) {
            if (std::fabs(c.x - e.x) < 3 * c.fwhm && c.prominence > predicted && !StandsClearOf(s.w, e.x, predicted, c)) {
                e.hidden = true;
                break;
            }
        }
    }
    // The strongest expected reflections not hidden; those the explained ones' scale says
    // must stand far above the noise and that no candidate shows are absent.
    std::vector<const Expected*> strong;
    for (const Expected& e : expected) {
        if (!e.hidden || e.cand != none) strong.push_back(&e);
    }
    std::sort(strong.begin(), strong.end(), [](const Expected* a, const Expected* b) { return a->intensity > b->intensity; });
    if (strong.size() > static_cast<std::size_t>(kStrongest)) strong.resize(kStrongest);
    std::vector<std::string> absent;
    // Whether each is among the strongest the structure makes in range at all, hidden or not:
    // where taller peaks hide those, the ones that must show are weaker and are named so.
    std::vector<double> intensities;
    for (const Expected& e : expected) intensities.push_back(e.intensity);
    std::sort(intensities.begin(), intensities.end(), std::greater<>());
    const double leastOfStrongest =
        intensities.empty() ? 0 : intensities[std::min(intensities.size(), static_cast<std::size_t>(kStrongest)) - 1];
    bool amongStrongest = true;
    for (const Expected* e : strong) {
        if (e->cand != none) continue;
        // So weak a reflection's modelled strength (KCl-B2's 100) is no evidence when it is absent.
        if (e->intensity < kModelledFloor / 100 * intensities.front()) continue;
        if (width > 0 && ShowsAShoulder(s.w, e->x, 0.35 * width + s.w.step, width)) continue;
        const double predicted = scale * e->intensity / s.w.Noise(e->x);
        if (predicted >= kMustSeeFactor * kClearSigma || !std::isfinite(predicted)) {
            l.absent.push_back(e->family);
            absent.push_back(HklText(s.families[e->family].hkl));
            amongStrongest = amongStrongest && e->intensity >= leastOfStrongest;
        }
    }
    if (!absent.empty()) {
        const bool one = absent.size() == 1;
        l.reason = Listed(absent) +
                   (amongStrongest ? (one ? ", one of its strongest reflections, is absent" : ", its strongest reflections, are absent")
                                   : (one ? ", the strongest of its reflections that no taller peak hides, is absent"
                                          : ", the strongest of its reflections that no taller peak hides, are absent"));
        l.score -= static_cast<double>(absent.size());
        return l;
    }
    if (l.fom < 0.3) {
        l.reason = "the peaks it explains carry only " + Fixed(100 * l.fom, 0) + " % of its expected intensity";
        return l;
    }
    l.acceptable = true;
    return l;
}

// The lattice parameter a matched set of candidates implies, weighted by their tolerance.
double Refine(const Lattice& l, const std::vector<Family>& families, const std::vector<Candidate>& cands)
{
    double sw = 0, swa = 0;
    for (const Match& m : l.matches) {
        const Candidate& c = cands[m.candidate];
        const double wgt = 1 / (c.tolLog * c.tolLog);
        sw += wgt;
        swa += wgt * (c.logD + families[m.family].halfLogN);
    }
    return sw > 0 ? std::exp(swa / sw) : l.a;
}

}  // namespace

// A weak peak on a taller one's flank makes no dip of its own, and the detector cannot see
// it. Both are modelled as pseudo-Voigts of eta 0.5 and c's width, at the pattern's step.
bool StandsClearOf(const Work& w, double x, double p, const Candidate& c)
{
    if (!(w.step > 0) || !(c.fwhm > 0)) return true;
    PeakFit own, other;
    own.position = x;
    own.height = p;
    other.position = c.x;
    other.height = c.prominence;
    own.fwhm = other.fwhm = c.fwhm;
    own.eta = other.eta = 0.5;
    const double toward = c.x > x ? 1.0 : -1.0;
    // From three widths behind x to three beyond c, at the pattern's step (or at a fortieth of
    // a width in data sampled finer, whose running mean smooths as little).
    const double step = std::max(w.step, c.fwhm / 40);
    const double from = x - toward * 3 * c.fwhm, span = std::fabs(c.x - x) + 6 * c.fwhm;
    const int n = static_cast<int>(std::min(span / step, 2000.0)) + 1;
    if (n < 5) return true;
    std::vector<double> y(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double at = from + toward * i * step;
        y[static_cast<std::size_t>(i)] = Shape(at, own) + Shape(at, other);
    }
    const std::vector<double> m = MeanOfThree(y);
    // The maximum of the mean nearest x, within half a width of it and nearer x than c (else
    // it is the top of the two merged).
    const auto at = static_cast<std::size_t>(std::lround(3 * c.fwhm / step));
    const auto reach = static_cast<std::size_t>(std::ceil(0.5 * c.fwhm / step));
    const double half = 0.5 * std::fabs(c.x - x) / step;
    std::size_t top = at;
    bool found = false;
    for (std::size_t i = at > reach ? at - reach : 1; i <= at + reach && i + 1 < m.size() && i < at + half; ++i) {
        if (m[i] > m[i - 1] && m[i] >= m[i + 1] && (!found || m[i] > m[top])) {
            top = i;
            found = true;
        }
    }
    if (!found) return false;
    // The dip toward c: the lowest point before the mean rises above the top again.
    double dip = m[top];
    for (std::size_t i = top + 1; i < m.size() && m[i] <= m[top]; ++i) dip = std::min(dip, m[i]);
    return m[top] - dip >= kClearSigma * w.Noise(x);
}

SearchResult Search(const std::vector<Candidate>& cands, const std::vector<Family>& families, const SearchRange& range,
                    const Work& w, const Standard& standard, double zero)
{
    SearchResult out;
    const double aLo = range.aLo, aHi = range.aHi;
    const int minMatched = range.minMatched;
    const double logALo = std::log(aLo), logAHi = std::log(aHi);
    const double dMin = std::min(w.d.front(), w.d.back()), dMax = std::max(w.d.front(), w.d.back());
    const Scoring scoring{families, cands, w, standard, std::log(dMin), std::log(dMax), zero, minMatched};
    // Every candidate's vote for every reflection it could be.
    struct Vote {
        double logA, tol;
    };
    std::vector<Vote> votes;
    for (const Candidate& c : cands) {
        for (const Family& f : families) {
            const double logA = c.logD + f.halfLogN;
            if (logA >= logALo - c.tolLog && logA <= logAHi + c.tolLog) votes.push_back({logA, c.tolLog});
        }
    }
    std::sort(votes.begin(), votes.end(), [](const Vote& a, const Vote& b) { return a.logA < b.logA; });
    // Where the votes crowd, the lattice is scored in full; first where most agree.
    std::vector<std::pair<int, double>> crowds;
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < votes.size(); ++i) {
        const double t = votes[i].tol;
        while (votes[lo].logA < votes[i].logA - t) ++lo;
        while (hi < votes.size() && votes[hi].logA <= votes[i].logA + t) ++hi;
        crowds.emplace_back(static_cast<int>(hi - lo), votes[i].logA);
    }
    std::stable_sort(crowds.begin(), crowds.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Lattice> tried;
    for (const auto& [count, logA0] : crowds) {
        if (count < minMatched || tried.size() >= 48) break;
        const double logA = std::clamp(logA0, logALo, logAHi);
        Lattice l = Score(logA, scoring);
        if (l.matched == 0) continue;
        // Once more at the lattice its own matches imply.
        Lattice refined = Score(std::log(std::clamp(Refine(l, families, cands), aLo, aHi)), scoring);
        if (refined.acceptable > l.acceptable || (refined.acceptable == l.acceptable && refined.score >= l.score)) {
            l = std::move(refined);
        }
        l.a = Refine(l, families, cands);
        tried.push_back(std::move(l));
    }
    const auto inRange = [&](const Lattice& l) { return l.a >= aLo * 0.999 && l.a <= aHi * 1.001; };
    Lattice best, closest;
    for (const Lattice& l : tried) out.mostMatched = std::max(out.mostMatched, l.matched);
    for (const Lattice& l : tried) {
        if (!inRange(l)) continue;
        if (l.acceptable && l.score > best.score) best = l;
        if (!l.acceptable && l.matched >= minMatched && l.score > closest.score) closest = l;
    }
    // A rival explains as many peaks about as well with mostly other candidates.
    const auto shared = [](const Lattice& a, const Lattice& b) {
        int n = 0;
        for (const Match& x : a.matches) {
            for (const Match& y : b.matches) n += x.candidate == y.candidate;
        }
        return n;
    };
    const Lattice* rival = nullptr;
    for (const Lattice& l : tried) {
        if (l.acceptable && inRange(l) && l.matched == best.matched && l.score > best.score - 0.5 &&
            2 * shared(l, best) < l.matched && (!rival || l.score > rival->score)) {
            rival = &l;
        }
    }
    const std::string name(standard.name);
    const std::string range_ = "a " + Fixed(aLo, 4) + " to " + Fixed(aHi, 4) + " angstrom";
    if (!best.acceptable) {
        if (!std::isnan(closest.a) && !closest.reason.empty()) {
            out.why = "no " + name + " pattern: " + closest.reason + " (at the lattice that explains most, a " +
                      Fixed(closest.a, 4) + " angstrom, " + std::to_string(closest.matched) + " peaks)";
        } else {
            out.why = "no lattice of " + name + " with " + range_ + " explains " + std::to_string(minMatched) +
                      " or more clear peaks of the pattern";
        }
        // A guess already narrowed the search: say where it looked, not to give one.
        out.why += range.nearGuess ? "; searched only within max(2 GPa, 20 %) of the pressure guess"
                                   : "; a pressure guess near the truth (" + std::string(range.guessName) + ") may find it";
        return out;
    }
    // The others, best first: another lattice, not the best one found again at a hair's distance.
    std::vector<const Lattice*> others;
    if (rival) others.push_back(rival);
    for (const Lattice& l : tried) {
        if (&l == rival || !l.acceptable || !inRange(l) || std::fabs(std::log(l.a / best.a)) < 1e-3) continue;
        if (std::any_of(others.begin(), others.end(), [&](const Lattice* o) { return std::fabs(std::log(l.a / o->a)) < 1e-3; })) {
            continue;
        }
        others.push_back(&l);
    }
    std::stable_sort(others.begin() + (rival ? 1 : 0), others.end(),
                     [](const Lattice* a, const Lattice* b) { return a->score > b->score; });
    if (others.size() > kMoreLattices) others.resize(kMoreLattices);
    for (const Lattice* l : others) out.others.push_back(*l);
    if (rival) {
        out.why = "two lattices of " + name + " explain the peaks about equally well (a " + Fixed(best.a, 4) + " or " +
                  Fixed(rival->a, 4) + " angstrom)" + std::string(range.nearGuess ? kAskNarrowerRange : kAskGuessOrRange);
        out.ambiguous = true;
        out.lattice = std::move(best);
        return out;
    }
    out.ok = true;
    out.lattice = std::move(best);
    return out;
}

}  // namespace hv::pattern::detail
