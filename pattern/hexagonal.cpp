// A hexagonal standard (Re) in a pattern. Its spacings depend on two cell edges, so the
// search runs the cubic search (search.cpp) once per axial ratio c/a of a grid fine enough
// that no reflection's predicted spacing strays from its peak by more than the candidates'
// tolerance, each over the cell volumes the standard's range allows; the best recognised
// lattice wins. Its matched peaks refine a and c, every reflection predicted there is fitted
// with the cubic path's profile fit, and the used reflections (with their hkl) go through the
// core's Fit: a and c by the cell refinement, then the pressure of the cell volume.
#include "pattern/pattern.h"
#include "pattern/steps.h"

#include "core/cell.h"
#include "core/crystal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hv::pattern::detail {

double PredictionVariance(const CellFit& f, const Hkl& m, double d)
{
    const double ga = RingOf(m) * d * d * d / (f.a * f.a * f.a);
    const double gc = static_cast<double>(m.l * m.l) * d * d * d / (f.c * f.c * f.c);
    const double v = ga * ga * f.sigmaA * f.sigmaA + gc * gc * f.sigmaC * f.sigmaC + 2 * ga * gc * f.covAC;
    // The internal estimate: the scatter that widens the cell's covariance may be the very
    // outlier's companion, which would hide it.
    const double scale = std::isfinite(f.reducedChi2) ? std::max(1.0, f.reducedChi2) : 1.0;
    return std::isfinite(v) && v > 0 ? v / scale : 0;
}

namespace {

// The axial ratios searched. Rhenium's c/a moves by a few thousandths over 100 GPa; the grid
// step keeps the l^2 term of any reflection within a third of a step of the truth, some
// 3e-4 in log d, well inside a candidate's tolerance.
constexpr double kCOverALo = 1.59, kCOverAHi = 1.62, kCOverAStep = 0.001;

int RingIndex(int h, int k)
{
    return h * h + h * k + k * k;
}

// 1/d^2 in units of 1/a^2.
double QOf(int m, int l, double cOverA)
{
    return 4.0 / 3.0 * m + static_cast<double>(l * l) / (cOverA * cOverA);
}

bool SameSpacing(const Hkl& a, const Hkl& b)
{
    return RingIndex(a.h, a.k) == RingIndex(b.h, b.k) && std::abs(a.l) == std::abs(b.l);
}

CellFit CellOf(const std::vector<const Slot*>& used)
{
    std::vector<CellPeak> peaks;
    for (const Slot* s : used) peaks.push_back({s->row.reflection.hkl, s->row.d, s->row.sigmaD});
    return RefineCell(CrystalSystem::Hexagonal, peaks);
}

// The cell that two of the used reflections fix exactly and that leaves the others' median
// deviation (in their sigmas) least: least median of squares, which does not move while
// fewer than half of the reflections are wrong, however precisely. scatter is that median
// as a standard deviation, at least 1; ok false when no pair fixes a cell.
struct RobustCell {
    bool ok = false;
    double a = 0, c = 0, scatter = 1;
};

RobustCell RobustCellOf(const std::vector<Slot*>& used)
{
    RobustCell best;
    double bestMedian = std::numeric_limits<double>::infinity();
    std::vector<double> r;
    for (std::size_t i = 0; i < used.size(); ++i) {
        for (std::size_t j = i + 1; j < used.size(); ++j) {
            // 1/d^2 = A u + l^2 v with u = 1/a^2, v = 1/c^2, solved for the pair.
            const Hkl& p = used[i]->row.reflection.hkl;
            const Hkl& q = used[j]->row.reflection.hkl;
            const double yi = 1 / (used[i]->row.d * used[i]->row.d), yj = 1 / (used[j]->row.d * used[j]->row.d);
            const double li = p.l * p.l, lj = q.l * q.l;
            const double det = RingOf(p) * lj - RingOf(q) * li;
            if (std::fabs(det) < 1e-9) continue;
            const double u = (yi * lj - yj * li) / det, v = (RingOf(p) * yj - RingOf(q) * yi) / det;
            if (!(u > 0) || !(v > 0)) continue;
            const double a = 1 / std::sqrt(u), c = 1 / std::sqrt(v);
            r.clear();
            for (std::size_t k = 0; k < used.size(); ++k) {
                if (k == i || k == j) continue;
                const PeakRow& row = used[k]->row;
                r.push_back(std::fabs(row.d - Spacing(CrystalSystem::Hexagonal, a, c, row.reflection.hkl)) / row.sigmaD);
            }
            const double median = Median(r);
            if (median < bestMedian) {
                bestMedian = median;
                best = {true, a, c, std::max(1.0, 1.4826 * median)};
            }
        }
    }
    return best;
}

// Outliers of d, worst first. The candidate is the reflection farthest from the robust cell,
// so that a wrong, precise reflection that pulls the least-squares cell cannot make the right
// ones look wrong. It goes when it lies more than kOutlierSigma from that cell and from the
// least-squares cell of the others (within both uncertainties); where five or more reflections
// are used, both stretch by the common scatter about the robust cell (a profile the
// pseudo-Voigt misses makes them all scatter a little), so that only the odd one goes.
std::vector<std::string> LeaveOutOutliers(std::vector<Slot>& slots)
{
    std::vector<std::string> leftOut;
    for (;;) {
        std::vector<Slot*> used;
        for (Slot& s : slots) {
            if (s.row.used) used.push_back(&s);
        }
        // The rest must determine a cell with a degree of freedom left.
        if (used.size() < 4) break;
        const RobustCell robust = RobustCellOf(used);
        if (!robust.ok) break;
        Slot* worst = nullptr;
        double farthest = 0;
        for (Slot* s : used) {
            const double dr = Spacing(CrystalSystem::Hexagonal, robust.a, robust.c, s->row.reflection.hkl);
            const double z = std::fabs(s->row.d - dr) / s->row.sigmaD;
            if (z > farthest) {
                farthest = z;
                worst = s;
            }
        }
        const double scatter = used.size() >= 5 ? robust.scatter : 1.0;
        if (!worst || !(farthest > kOutlierSigma * scatter)) break;
        std::vector<const Slot*> rest;
        for (const Slot* t : used) {
            if (t != worst) rest.push_back(t);
        }
        const CellFit f = CellOf(rest);
        if (!f.ok) break;
        const double dc = Spacing(CrystalSystem::Hexagonal, f.a, f.c, worst->row.reflection.hkl);
        const double spread = worst->row.sigmaD * worst->row.sigmaD + PredictionVariance(f, worst->row.reflection.hkl, dc);
        const double worstZ = std::fabs(worst->row.d - dc) / std::sqrt(spread);
        if (!(worstZ > kOutlierSigma * scatter)) break;
        worst->row.used = false;
        worst->active = false;
        worst->row.note = std::string(kOutlierNote) + "d is " + Fixed(worstZ, 1) + " sigma from the cell of the others";
        leftOut.push_back(ReflectionText(worst->row.reflection));
    }
    return leftOut;
}

}  // namespace

std::vector<Family> HexagonalFamilies(const Standard& standard, double cOverA, double maxQ)
{
    // One family per distinct spacing: the ring index h^2+hk+k^2 and |l|. Rings of equal
    // index ((7 0) and (5 3)) share a spacing and so a peak; the representative is the
    // largest h with h >= k >= 0.
    std::map<std::pair<int, int>, Hkl> reps;
    const int hMax = static_cast<int>(std::sqrt(0.75 * maxQ)) + 1;
    const int lMax = static_cast<int>(cOverA * std::sqrt(maxQ)) + 1;
    for (int h = 0; h <= hMax; ++h) {
        for (int k = 0; k <= h; ++k) {
            for (int l = 0; l <= lMax; ++l) {
                const int m = RingIndex(h, k);
                if ((m == 0 && l == 0) || QOf(m, l, cOverA) > maxQ) continue;
                auto [it, fresh] = reps.try_emplace({m, l}, Hkl{h, k, l});
                if (!fresh && h > it->second.h) it->second = Hkl{h, k, l};
            }
        }
    }
    const Structure* structure = standard.structure;
    std::vector<std::string_view> species;  // distinct scatterers, in the order of their first site
    if (structure) {
        for (const Site& s : structure->sites) {
            if (std::find(species.begin(), species.end(), s.species) == species.end()) species.push_back(s.species);
        }
    }
    constexpr double kTwoPi = 6.283185307179586;
    std::vector<Family> out;
    for (const auto& [key, hkl] : reps) {
        const auto [m, l] = key;
        Family f;
        f.n = 0;
        f.hkl = hkl;
        f.halfLogN = 0.5 * std::log(QOf(m, l, cOverA));
        // Every signed h k (of the three-index ring) and +-l of this spacing, and the sum over
        // them of |F|^2 by site pair, as the cubic families gather it. One species is all a
        // hexagonal standard has; more than kMaxSpecies would be cut as the cubic path cuts.
        double inPhase = 0;
        for (int h = -hMax; h <= hMax; ++h) {
            for (int k = -hMax; k <= hMax; ++k) {
                if (RingIndex(h, k) != m) continue;
                for (const int sl : {l, -l}) {
                    ++f.multiplicity;
                    if (structure) {
                        for (const Site& a : structure->sites) {
                            for (const Site& b : structure->sites) {
                                const auto p = static_cast<std::size_t>(
                                    std::find(species.begin(), species.end(), a.species) - species.begin());
                                const auto q = static_cast<std::size_t>(
                                    std::find(species.begin(), species.end(), b.species) - species.begin());
                                if (p >= kMaxSpecies || q >= kMaxSpecies) continue;
                                f.pairs[p * kMaxSpecies + q] +=
                                    std::cos(kTwoPi * (h * (a.x - b.x) + k * (a.y - b.y) + sl * (a.z - b.z)));
                                inPhase += 1;
                            }
                        }
                    }
                    if (l == 0) break;
                }
            }
        }
        if (structure) {
            // Absent: |F|^2 vanishes (h - k a multiple of 3 with l odd, in hcp).
            double sum = 0;
            for (const double v : f.pairs) sum += v;
            if (!(sum > 1e-6 * inPhase)) continue;
        } else if (!Allowed(standard.lattice, hkl)) {
            continue;
        }
        out.push_back(f);
    }
    std::sort(out.begin(), out.end(), [](const Family& a, const Family& b) { return a.halfLogN < b.halfLogN; });
    return out;
}

Outcome FitHexagonal(const Pattern& pattern, const Options& options, const Work& w, const SearchRange& range,
                     const std::string& rangeNote, Outcome o)
{
    const Standard& standard = *options.standard;
    const std::string name(standard.name);
    if (options.zeroShift) {
        return Failed(std::move(o), name + " is hexagonal: refining a zero offset is not available for it");
    }
    // The search range is one of a at the standard's ambient c/a; it stands for the volumes
    // V = sqrt(3)/2 a^3 c/a, and at another c/a the same volume has a = a0 (q0 / q)^(1/3).
    const double q0 = standard.cOverA > 0 ? standard.cOverA : 1.6;
    const double dMin = std::min(w.d.front(), w.d.back()), dMax = std::max(w.d.front(), w.d.back());
    const std::vector<Candidate> cands = DetectPeaks(w, 0);

    SearchResult found, closest;
    double qFound = 0;
    std::vector<Family> foundFamilies;
    const int steps = static_cast<int>(std::lround((kCOverAHi - kCOverALo) / kCOverAStep));
    for (int i = 0; i <= steps; ++i) {
        const double q = kCOverALo + i * kCOverAStep;
        SearchRange r = range;
        // Two cell edges fit chance peaks more easily than one: one more match asked.
        r.minMatched = range.minMatched + 1;
        r.aLo = range.aLo * std::cbrt(q0 / q);
        r.aHi = range.aHi * std::cbrt(q0 / q);
        const double maxQ = std::min(static_cast<double>(kMaxSquareSumPredicted), r.aHi * r.aHi / (dMin * dMin));
        std::vector<Family> families = HexagonalFamilies(standard, q, maxQ);
        SearchResult at = Search(cands, families, r, w, standard, 0);
        if (at.ok) {
            if (!found.ok || at.lattice.score > found.lattice.score) {
                found = std::move(at);
                qFound = q;
                foundFamilies = std::move(families);
            }
        } else if (closest.why.empty() || at.mostMatched > closest.mostMatched) {
            closest = std::move(at);
        }
    }
    if (!found.ok) return Failed(std::move(o), closest.why);

    // a and c from the matched peaks, weighted by how closely a candidate's place is known.
    double a = found.lattice.a, c = qFound * a;
    {
        std::vector<CellPeak> peaks;
        for (const Match& mt : found.lattice.matches) {
            const Candidate& cd = cands[mt.candidate];
            peaks.push_back({foundFamilies[mt.family].hkl, cd.d, cd.tolLog * cd.d});
        }
        const CellFit cell = RefineCell(CrystalSystem::Hexagonal, peaks);
        // Only a cell near the searched one: two or three matches can pull far on their own.
        if (cell.ok && std::fabs(cell.a / a - 1) < 0.01 && cell.c / cell.a > kCOverALo - 0.01 &&
            cell.c / cell.a < kCOverAHi + 0.01) {
            a = cell.a;
            c = cell.c;
        }
    }

    std::vector<std::pair<double, double>> widthPoints;
    for (const Match& mt : found.lattice.matches) widthPoints.emplace_back(cands[mt.candidate].x, cands[mt.candidate].fwhm);
    const WidthModel widths = WidthsOf(widthPoints, w.step);
    double widest = 0;
    for (const auto& wp : widthPoints) widest = std::max(widest, 3 * wp.second);

    const std::vector<Family> families =
        HexagonalFamilies(standard, c / a, std::min(static_cast<double>(kMaxSquareSumPredicted), a * a / (dMin * dMin)));
    std::vector<Slot> slots;
    std::vector<PeakRow> outside;
    const auto addSlot = [&](const Family& f) {
        const double d = Spacing(CrystalSystem::Hexagonal, a, c, f.hkl);
        PlaceSlot(w, Reflection{f.hkl, 0, false}, PositionOf(o.unit, d, w.geometry), d, ExpectedIntensity(standard, f, d, w),
                  widths, widest, slots, outside);
    };
    if (options.reflections.empty()) {
        for (const Family& f : families) {
            const double d = Spacing(CrystalSystem::Hexagonal, a, c, f.hkl);
            if (d >= dMin && d <= dMax) addSlot(f);
        }
    } else {
        std::vector<Hkl> seen;
        for (const Reflection& r : options.reflections) {
            // Listed twice, or as another member of its class: one peak, one row.
            if (std::any_of(seen.begin(), seen.end(), [&](const Hkl& h) { return SameSpacing(h, r.hkl); })) continue;
            seen.push_back(r.hkl);
            const auto f = std::find_if(families.begin(), families.end(),
                                        [&](const Family& fm) { return SameSpacing(fm.hkl, r.hkl); });
            if (r.latticeParameter || f == families.end()) {
                PeakRow row;
                row.reflection = Reflection{r.hkl, 0, r.latticeParameter};
                row.note = r.latticeParameter ? "not a reflection" : "not a reflection " + name + " shows here";
                outside.push_back(row);
                continue;
            }
            addSlot(*f);
        }
    }
    std::sort(slots.begin(), slots.end(), [](const Slot& x, const Slot& y) { return x.predicted < y.predicted; });

    const long budget = std::max(kWorkFloor, kWorkPerReflection * static_cast<long>(slots.size()) +
                                                 kWorkPerPoint * static_cast<long>(w.x.size()));
    o.curve.assign(pattern.x.size(), kNone);
    o.background.assign(pattern.x.size(), kNone);
    FitSlots(w, slots, OtherPeaks(cands), budget, o.curve, o.background);

    double strongest = 0;
    for (const Slot& s : slots) strongest = std::max(strongest, s.intensity);
    for (Slot& s : slots) s.row.expected = strongest > 0 ? 100 * s.intensity / strongest : kNone;

    // Spacings of the fitted rows; a_i means nothing for two cell edges and stays NaN.
    Spacings(slots, w, 0);
    OnePeakOneReflection(slots);
    for (Slot& s : slots) s.row.used = s.active && s.row.used;
    const std::vector<std::string> leftOut = LeaveOutOutliers(slots);

    const Strongest tally = TallyStrongest(slots, w, o);
    const std::vector<std::string>& strongMissing = tally.missing;
    const std::vector<Hkl>& strongHkl = tally.hkl;
    const IntensityAgreement agreement = AgreementOf(slots, w);
    const double intensityLuck = IntensityLuck(slots, cands, w);
    const int inRange = static_cast<int>(slots.size());

    const std::vector<Peak> usedPeaks = GatherRows(slots, outside, o);
    // Two cell edges need three reflections to be checked at all: two only just fix them.
    if (usedPeaks.size() < 3) {
        o.result = Result{};
        o.result.peaks = static_cast<int>(usedPeaks.size());
        o.result.message = std::to_string(usedPeaks.size()) + (usedPeaks.size() == 1 ? " reflection" : " reflections") +
                           " of " + name + " fitted well enough; a and c need at least three";
        return o;
    }
    // The strongest reflections the structure makes must not be far weaker than the others
    // say (on the scale of the used ones' areas): texture changes intensities by factors of a
    // few, it does not make the strongest vanish. Two free cell edges can put a lattice's
    // weak reflections on another phase's strong peaks; this is where that shows.
    if (w.intensitiesKnown) {
        std::vector<double> scales;
        for (const PeakRow& r : o.peaks) {
            if (r.used && r.expected > 0) scales.push_back(r.height * r.fwhm / r.expected);
        }
        const double mid = Median(scales);
        std::vector<std::string> weak;
        for (const PeakRow& r : o.peaks) {
            if (r.used && r.expected > 0 && scales.size() >= 3 && r.height * r.fwhm / r.expected * kTooStrongFactor < mid &&
                std::find(strongHkl.begin(), strongHkl.end(), r.reflection.hkl) != strongHkl.end()) {
                weak.push_back(ReflectionText(r.reflection));
            }
        }
        if (!weak.empty()) {
            o.result = Result{};
            o.result.peaks = static_cast<int>(usedPeaks.size());
            o.result.message = "no " + name + " pattern: " + Join(weak) +
                               (weak.size() == 1 ? ", one of its strongest reflections, is" : ", its strongest reflections, are") +
                               " far weaker than the other peaks make them";
            return o;
        }
    }
    o.result = Fit(standard, options.tCelsius, usedPeaks, options.sigmaT);
    if (o.result.status == Status::Error) return o;
    // Every axial ratio of the grid was a search of its own.
    const int searches = steps + 1;
    const auto [luck, search] = ChancesOf(cands, dMin, dMax, range, inRange, o, found.lattice.matched, searches, intensityLuck);
    if (Refused(o, name, luck, search, agreement, options)) {
        return o;
    }
    if (!leftOut.empty()) AddNote(o.result, "left out as outliers: " + Join(leftOut), true);
    if (usedPeaks.size() < 4) AddNote(o.result, "only 3 reflections used for a and c; 4 or more are needed to be sure", true);
    if (!strongMissing.empty()) {
        AddNote(o.result,
                "strong reflection" + std::string(strongMissing.size() == 1 ? " " : "s ") + Join(strongMissing) + " not used",
                true);
    }
    const double p = o.result.pressure;
    if (p < 0 && !(p + 2 * o.result.sigmaPGpa >= 0)) {
        AddNote(o.result, "tension: the pressure is below 0 beyond its uncertainty", true);
    }
    if (!rangeNote.empty()) AddNote(o.result, rangeNote, false);
    return o;
}

}  // namespace hv::pattern::detail
