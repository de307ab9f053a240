// Finding the standard's lattice in a pattern and fitting its reflections: the assembly of
// the steps (steps.h), the search range, and the judgement of the result.
#include "pattern/pattern.h"
#include "pattern/steps.h"

#include "core/inverse.h"
#include "core/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace hv::pattern {

using namespace detail;

namespace {

// Leaves out the a_i outliers, worst first; their reflections, for the message.
std::vector<std::string> LeaveOutOutliers(std::vector<Slot>& slots)
{
    // Outliers of a_i: the worst one, more than three sigma from the weighted mean of the
    // rest, leaves, and the rest are judged again. Where five or more reflections all scatter
    // beyond their sigma (a profile the pseudo-Voigt does not quite match), "three sigma"
    // stretches by that common scatter, measured robustly, so that only the odd one goes.
    std::vector<std::string> leftOut;
    double scatter = 1;
    {
        std::vector<double> a, r;
        for (const Slot& s : slots) {
            if (s.row.used) a.push_back(s.row.aI);
        }
        if (a.size() >= 5) {
            const double mid = Median(a);
            for (const Slot& s : slots) {
                if (!s.row.used) continue;
                r.push_back(std::fabs(s.row.aI - mid) / SigmaOfAI(s.row));
            }
            scatter = std::max(1.0, 1.4826 * Median(r));
        }
    }
    for (;;) {
        std::vector<Slot*> used;
        for (Slot& s : slots) {
            if (s.row.used) used.push_back(&s);
        }
        if (used.size() < 3) break;
        double sw = 0, swa = 0;
        for (const Slot* s : used) {
            const double sa = SigmaOfAI(s->row);
            sw += 1 / (sa * sa);
            swa += s->row.aI / (sa * sa);
        }
        Slot* worst = nullptr;
        double worstZ = kOutlierSigma * scatter, worstMean = 0;
        for (Slot* s : used) {
            const double sa = SigmaOfAI(s->row);
            const double wi = 1 / (sa * sa);
            const double restW = sw - wi;
            if (!(restW > 0)) continue;
            const double restMean = (swa - wi * s->row.aI) / restW;
            const double z = std::fabs(s->row.aI - restMean) / std::sqrt(sa * sa + 1 / restW);
            if (z > worstZ) {
                worstZ = z;
                worst = s;
                worstMean = restMean;
            }
        }
        if (!worst) break;
        worst->row.used = false;
        worst->active = false;
        worst->row.note = std::string(kOutlierNote) + "a_i " + Fixed(worst->row.aI, 5) + " is " + Fixed(worstZ, 1) +
                          " sigma from the others' " + Fixed(worstMean, 5);
        leftOut.push_back(ReflectionText(worst->row.reflection));
    }

    return leftOut;
}

// A used reflection that the standard makes too weak to see: at kTextureFactor times the
// area that the used reflections' scale (their median) gives it, still under kOutlierSigma
// of its own fit's sigma. A clear peak there is another phase's on its place.
std::vector<std::string> LeaveOutInvisible(std::vector<Slot>& slots, std::string_view name)
{
    std::vector<std::string> out;
    std::vector<double> logScale;
    for (const Slot& s : slots) {
        if (s.row.used && s.intensity > 0) logScale.push_back(std::log(ProfileArea(s.row.height, s.row.fwhm, s.row.eta) / s.intensity));
    }
    if (logScale.size() < 3) return out;
    const double scale = std::exp(Median(logScale));
    for (Slot& s : slots) {
        if (!s.row.used || !(s.intensity > 0) || !(s.fit.sigmaHeight > 0)) continue;
        const double most = kTextureFactor * scale * s.intensity;
        if (most < kOutlierSigma * ProfileArea(s.fit.sigmaHeight, s.row.fwhm, s.row.eta)) {
            s.row.used = false;
            s.active = false;
            s.row.note = "another phase's peak: " + std::string(name) + " makes this reflection too weak to see";
            out.push_back(ReflectionText(s.row.reflection));
        }
    }
    return out;
}

// Two significant digits, for a value the search only brackets.
std::string Rough(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2g", v);
    return buffer;
}

}  // namespace

// Shared with hexagonal.cpp.
namespace detail {

std::string Join(const std::vector<std::string>& items)
{
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out;
}

void AddNote(Result& r, const std::string& note, bool warn)
{
    r.message = r.message.empty() ? note : r.message + "; " + note;
    if (warn && r.status == Status::Ok) r.status = Status::Warning;
}

Strongest TallyStrongest(const std::vector<Slot>& slots, const Work& w, Outcome& o)
{
    std::vector<const Slot*> strong;
    double total = 0, usedIntensity = 0;
    for (const Slot& s : slots) {
        strong.push_back(&s);
        if (std::isfinite(s.intensity)) {
            total += s.intensity;
            if (s.row.used) usedIntensity += s.intensity;
        }
    }
    std::stable_sort(strong.begin(), strong.end(), [](const Slot* a, const Slot* b) { return a->intensity > b->intensity; });
    if (strong.size() > static_cast<std::size_t>(kStrongest)) strong.resize(kStrongest);
    Strongest out;
    for (const Slot* s : strong) {
        out.hkl.push_back(s->row.reflection.hkl);
        if (s->row.used) {
            ++o.strongFound;
        } else {
            out.missing.push_back(ReflectionText(s->row.reflection));
        }
    }
    o.strongExpected = static_cast<int>(strong.size());
    if (w.intensitiesKnown && total > 0) o.fom = usedIntensity / total;
    return out;
}

}  // namespace detail

bool CheckPattern(const Pattern& pattern, std::string& why)
{
    const std::size_t n = pattern.x.size();
    if (pattern.intensity.size() != n || (!pattern.sigma.empty() && pattern.sigma.size() != n)) {
        why = "x, intensity and sigma must have the same length, not " + std::to_string(n) + ", " +
              std::to_string(pattern.intensity.size()) +
              (pattern.sigma.empty() ? std::string() : ", " + std::to_string(pattern.sigma.size()));
        return false;
    }
    if (n < kMinPoints) {
        why = std::to_string(n) + " points; a pattern needs at least " + std::to_string(kMinPoints);
        return false;
    }
    const bool rising = pattern.x[1] > pattern.x[0];
    for (std::size_t i = 0; i < n; ++i) {
        const std::string at = "point " + std::to_string(i + 1) + ": ";
        const bool sigma = !pattern.sigma.empty();
        if (!std::isfinite(pattern.x[i]) || !std::isfinite(pattern.intensity[i]) ||
            (sigma && !std::isfinite(pattern.sigma[i]))) {
            why = at + (!std::isfinite(pattern.x[i]) ? "x" : !std::isfinite(pattern.intensity[i]) ? "intensity" : "sigma") +
                  " is not finite";
            return false;
        }
        if (sigma && pattern.sigma[i] < 0) {
            why = at + "sigma is negative";
            return false;
        }
        if (i >= 1 && pattern.x[i] == pattern.x[i - 1]) {
            why = at + "x repeats the x before it";
            return false;
        }
        if (i >= 1 && (pattern.x[i] > pattern.x[i - 1]) != rising) {
            why = at + "x must rise or fall strictly";
            return false;
        }
    }
    return true;
}

Outcome FitPattern(const Pattern& pattern, const Options& options)
{
    Outcome o;
    if (!options.standard) return Failed(std::move(o), "no standard given");
    const Standard& standard = *options.standard;
    std::string why;
    if (!CheckTemperature(options.tCelsius, why)) return Failed(std::move(o), why);
    Work w;
    why = Prepare(pattern, options, o, w);
    if (!why.empty()) return Failed(std::move(o), why);
    const std::size_t n = pattern.x.size();

    const Range range = RangeOf(standard, options);
    if (!range.why.empty()) return Failed(std::move(o), range.why);
    if (standard.lattice == hv::Lattice::Hexagonal) return FitHexagonal(pattern, options, w, range.search, range.note, std::move(o));
    const double aHi = range.search.aHi;

    // The pattern's spacings and the reflections that can fall inside them.
    const double dMin = std::min(w.d.front(), w.d.back()), dMax = std::max(w.d.front(), w.d.back());
    const double nTop = std::min(static_cast<double>(kMaxSquareSumPredicted), std::floor(aHi * aHi / (dMin * dMin)));
    const std::vector<Family> families = Families(standard, static_cast<int>(std::max(1.0, nTop)));

    // The search, at each zero offset of a grid when one is refined.
    std::vector<Candidate> cands = DetectPeaks(w, 0);
    SearchResult found = Search(cands, families, range.search, w, standard, 0);
    const bool zeroGrid = options.zeroShift || !found.ok;
    const bool hadNone = !found.ok;
    const std::string whyAsMeasured = found.why;
    int searches = 1;
    if (zeroGrid) {
        std::vector<double> widths;
        for (const Candidate& c : cands) widths.push_back(c.fwhm);
        const double stepZ = std::max(w.step, 0.4 * Median(widths));
        const double reach = 0.02 * std::max(std::fabs(w.x.front()), std::fabs(w.x.back()));
        const int steps = std::min(40, static_cast<int>(reach / stepZ));
        searches = 1 + 2 * std::max(0, steps);
        for (int k = -steps; k <= steps; ++k) {
            if (k == 0) continue;
            const double z = k * stepZ;
            std::vector<Candidate> shifted = DetectPeaks(w, z);
            SearchResult at = Search(shifted, families, range.search, w, standard, z);
            // A lattice pushed to the edge of the range by an offset is no explanation.
            const bool inside = at.lattice.a > range.search.aLo * 1.002 && at.lattice.a < range.search.aHi / 1.002;
            // Without zeroShift only a clearly better explanation is worth a word: more peaks.
            const bool better = options.zeroShift || at.lattice.matched >= found.mostMatched + 2;
            if (at.ok && better && (inside || options.zeroShift) && (!found.ok || at.lattice.score > found.lattice.score)) {
                found = std::move(at);
                cands = std::move(shifted);
            }
        }
    }
    // Everything from here on is of one lattice; refused says the whole pattern refused it
    // (luck, intensities or another lattice), so that the search's next may be tried.
    const auto fitAt = [&](const Lattice& lattice, Outcome o, bool& refused) -> Outcome {
        const double aSearch = lattice.a;
        double zero = lattice.zero;
        const auto IntensityOf = [&](int sq, double d) {
            for (const Family& f : families) {
                if (f.n == sq) return ExpectedIntensity(standard, f, d, w);
            }
            return kNone;
        };

        std::vector<std::pair<double, double>> widthPoints;
        for (const Match& mt : lattice.matches) widthPoints.emplace_back(cands[mt.candidate].x, cands[mt.candidate].fwhm);
        const WidthModel widths = WidthsOf(widthPoints, w.step);
        double widest = 0;
        for (const auto& wp : widthPoints) widest = std::max(widest, 3 * wp.second);

        // Every predicted reflection in the range, or the listed ones.
        std::vector<Slot> slots;
        std::vector<PeakRow> outside;
        const auto addSlot = [&](const Reflection& r) {
            const double d = Spacing(aSearch, r.n);
            PlaceSlot(w, r, PositionOf(o.unit, d, w.geometry) + zero, d, IntensityOf(r.n, d), widths, widest, slots, outside);
        };
        if (options.reflections.empty()) {
            for (const Family& f : families) {
                const double d = Spacing(aSearch, f.n);
                if (d < dMin || d > dMax) continue;
                addSlot(Reflection{f.hkl, f.n, false});
            }
        } else {
            std::vector<int> seen;
            for (const Reflection& r : options.reflections) {
                // Listed twice, or as another hkl of the same h^2+k^2+l^2: one peak, one row.
                if (std::find(seen.begin(), seen.end(), r.n) != seen.end()) continue;
                seen.push_back(r.n);
                if (r.latticeParameter || r.n <= 0 || r.n > kMaxSquareSum) {
                    PeakRow row;
                    row.reflection = r;
                    row.note = "not a reflection";
                    outside.push_back(row);
                    continue;
                }
                addSlot(r);
            }
        }
        std::sort(slots.begin(), slots.end(), [](const Slot& a, const Slot& b) { return a.predicted < b.predicted; });

        long budget = std::max(kWorkFloor, kWorkPerReflection * static_cast<long>(slots.size()) +
                                               kWorkPerPoint * static_cast<long>(w.x.size()));
        o.curve.assign(n, kNone);
        o.background.assign(n, kNone);
        FitSlots(w, slots, OtherPeaks(cands), budget, o.curve, o.background);

        // Expected intensities relative to the strongest in range.
        double strongest = 0;
        for (const Slot& s : slots) {
            if (s.intensity > strongest) strongest = s.intensity;
        }
        for (Slot& s : slots) s.row.expected = strongest > 0 ? 100 * s.intensity / strongest : kNone;

        Spacings(slots, w, zero);
        OnePeakOneReflection(slots);
        for (Slot& s : slots) s.row.used = s.active && s.row.used;
        // With zeroShift, the offset from the reflections fitted well, the outliers judged at it,
        // and the offset once more from those that stay; the spacings are those at the last. Too
        // few reflections to tell an offset from a: none, and the row says so.
        ZeroFit zfit;
        const auto refineZero = [&] {
            std::vector<PeakRow> rows;
            for (const Slot& s : slots) rows.push_back(s.row);
            zfit = FitWithZero(rows, w, zero);
            zero = zfit.ok ? zfit.zero : 0;
            Spacings(slots, w, zero);
        };
        if (options.zeroShift) refineZero();
        const std::vector<std::string> invisible =
            options.reflections.empty() && w.intensitiesKnown ? LeaveOutInvisible(slots, standard.name) : std::vector<std::string>{};
        const std::vector<std::string> leftOut = LeaveOutOutliers(slots);
        if (options.zeroShift && zfit.ok) refineZero();

        const Strongest tally = TallyStrongest(slots, w, o);
        const IntensityAgreement agreement = AgreementOf(slots, w);
        const double intensityLuck = IntensityLuck(slots, cands, w);
        const std::vector<std::string>& strongMissing = tally.missing;

        const std::vector<Peak> usedPeaks = GatherRows(slots, outside, o);
        if (usedPeaks.size() < 2) {
            o.result = Result{};
            o.result.peaks = static_cast<int>(usedPeaks.size());
            o.result.message = std::to_string(usedPeaks.size()) + (usedPeaks.size() == 1 ? " reflection" : " reflections") +
                               " of " + std::string(standard.name) + " fitted well enough; at least two are needed";
            return o;
        }
        o.result = Fit(standard, options.tCelsius, usedPeaks, options.sigmaT);
        if (o.result.status == Status::Error) return o;
        if (zfit.ok) {
            // The offset's uncertainty widens a's: the larger of the two estimates stands.
            o.zeroShift = zfit.zero;
            o.sigmaZeroShift = zfit.sigmaZero;
            if (zfit.sigmaA > o.result.sigmaA || std::isnan(o.result.sigmaA)) {
                o.result.sigmaA = zfit.sigmaA;
                const Slopes sl = PressureSlopes(standard, options.tCelsius, o.result.a);
                if (sl.ok) {
                    const double st = std::isnan(options.sigmaT) ? 0 : options.sigmaT;
                    o.result.sigmaPGpa = std::hypot(sl.dPda * o.result.sigmaA, sl.dPdT * st) / 10;
                }
            }
        } else if (options.zeroShift) {
            AddNote(o.result, "the zero offset needs 3 or more reflections; not refined", true);
        }
        const Trend trend = TrendOf(o.peaks, w);
        o.trend = trend.offset;
        o.sigmaTrend = trend.sigma;

        // In a crowded pattern a few reflections land on other phases' peaks by luck, and
        // another lattice's peaks can sit on the standard's places: the whole pattern decides.
        int inRange = 0;
        for (const Family& f : families) {
            const double d = Spacing(aSearch, f.n);
            if (d >= dMin && d <= dMax && !w.Blind(PositionOf(o.unit, d, w.geometry) + lattice.zero)) ++inRange;
        }
        const auto [luck, search] = ChancesOf(cands, dMin, dMax, range.search, inRange, o, lattice.matched, searches,
                                              intensityLuck);
        const bool guided = Guided(options);
        if (Refused(o, standard.name, luck, search, agreement, options)) {
            refused = true;
            return o;
        }
        if (options.reflections.empty() && w.intensitiesKnown && o.strongExpected > 0 && o.strongFound == 0) {
            // Texture changes heights by factors of a few; it does not take every strong one away.
            Refuse(o, "no " + std::string(standard.name) + " pattern: none of its strongest reflections (" +
                          Join(strongMissing) + ") is used");
            refused = true;
            return o;
        }
        if (const SharedLattice rival = SharedWith(standard, families, slots, cands, w, o.result.a); rival.shared) {
            const std::string what = "the used peaks are also those of a " + rival.name + " lattice of a " +
                                     Fixed(rival.a, 4) + " angstrom, and their heights do not tell the two apart";
            // A lattice that also explains clear peaks where the standard has no reflection is
            // another phase's pattern, whatever a guess says.
            if (rival.foreign >= kForeignPeaks) {
                Refuse(o, "no " + std::string(standard.name) + " pattern to trust: the used peaks are those of a " +
                              rival.name + " lattice of a " + Fixed(rival.a, 4) + " angstrom, which also explains " +
                              std::to_string(rival.foreign) + " clear peaks that " + std::string(standard.name) +
                              " has no reflection at");
                refused = true;
                return o;
            }
            // The heights and the standard's own weak reflections speak for that lattice as
            // surely as they would need to for the standard: near a guess too.
            if (rival.evidenceFor) {
                const std::string name(standard.name);
                Refuse(o, "no " + name + " pattern to trust: the used peaks are those of a " + rival.name + " lattice of a " +
                              Fixed(rival.a, 4) + " angstrom" +
                              (rival.absentOwn.empty()
                                   ? ", which their heights and " + name + "'s own weaker reflections speak for"
                                   : "; " + name + "'s own " + Join(rival.absentOwn) +
                                         (rival.absentOwn.size() == 1 ? " is" : " are") +
                                         " absent, and would stand clear even if texture weakened " +
                                         (rival.absentOwn.size() == 1 ? "it" : "them") + " by a factor of " +
                                         std::to_string(static_cast<int>(kTextureFactor))));
                refused = true;
                return o;
            }
            // Among other phases' peaks that lattice may be one of them, and so it may where the
            // heights are not the standard's and that lattice explains them better; near a guess
            // it is a warning.
            if ((Crowded(search) || (!(agreement.chance >= kIntensityRefused) && rival.heightsBetter)) && !guided) {
                Refuse(o, "no " + std::string(standard.name) + " pattern to trust: " + what +
                              "; a pressure guess near the truth (" + options.names.pressureGuess + ") takes them as " +
                              std::string(standard.name) + "'s");
                refused = true;
                return o;
            }
            AddNote(o.result, what, true);
        }

        if (!invisible.empty()) {
            AddNote(o.result,
                    "another phase's peak" + std::string(invisible.size() == 1 ? " on " : "s on ") + Join(invisible) + ", which " +
                        std::string(standard.name) + " makes too weak to see",
                    false);
        }
        if (!leftOut.empty()) AddNote(o.result, "left out as outliers: " + Join(leftOut), true);
        if (usedPeaks.size() < 3) {
            if (options.reflections.empty() && range.search.minMatched > static_cast<int>(usedPeaks.size() + leftOut.size())) {
                // Recognised by three peaks, of which the fit finds two: no pattern to trust. (An
                // outlier is a peak found where the lattice puts it, off by more than its sigma.)
                const int peaks = o.result.peaks;
                o.result = Result{};
                o.result.peaks = peaks;
                o.result.message = "only 2 reflections of " + std::string(standard.name) +
                                   " fitted well enough; without a pressure guess 3 or more are needed";
                return o;
            }
            AddNote(o.result, "only 2 reflections used; 3 or more are needed to be sure", true);
        }
        if (!strongMissing.empty()) {
            AddNote(o.result,
                    "strong reflection" + std::string(strongMissing.size() == 1 ? " " : "s ") + Join(strongMissing) + " not used",
                    true);
        }
        if (w.intensitiesKnown && o.fom < kOkFom) {
            // A few strong peaks on weak reflections' places: another phase may have made them.
            AddNote(o.result,
                    "the used reflections carry only " + Fixed(100 * o.fom, 0) + " % of " + std::string(standard.name) +
                        "'s expected intensity",
                    true);
        }
        if (const double scatter = ScatterOf(o.peaks); Crowded(search) && scatter > kScatterWarn) {
            // Profiles that the pseudo-Voigt misses scatter a few times; far more, among other
            // phases' peaks, are reflections of two lattices that nearly coincide.
            AddNote(o.result,
                    "the used reflections' a_i scatter " + Fixed(scatter, 0) +
                        " times their uncertainties: they may be the peaks of two phases of nearly one lattice",
                    true);
        }
        if (std::fabs(trend.offset) > kTrendSigma * trend.sigma) {
            AddNote(o.result,
                    "a_i drifts with position as a zero offset of " + Sig(trend.offset) + " +- " + Sig(trend.sigma) + " " +
                        std::string(XUnitName(o.unit)) + " would make it: a zero or detector distance error" +
                        (options.zeroShift ? "" : " (" + options.names.zeroShift + " refines the zero)"),
                    true);
        }
        const double p = static_cast<double>(o.result.pGpa);
        if (p < 0 && !(p + 2 * o.result.sigmaPGpa >= 0)) {
            AddNote(o.result, "tension: the pressure is below 0 beyond its uncertainty", true);
        }
        if (!range.note.empty()) AddNote(o.result, range.note, false);
        return o;
    };

    const std::string name(standard.name);
    if (!found.ok && found.ambiguous && !found.others.empty()) {
        // Two lattices explain the peaks about as well: the whole pattern may tell them apart.
        bool r1 = false, r2 = false;
        Outcome one = fitAt(found.lattice, o, r1), two = fitAt(found.others.front(), o, r2);
        const bool ok1 = one.result.status != Status::Error, ok2 = two.result.status != Status::Error;
        if (ok1 != ok2) {
            Outcome& kept = ok1 ? one : two;
            const Lattice& other = ok1 ? found.others.front() : found.lattice;
            AddNote(kept.result,
                    "a lattice of a " + Fixed(other.a, 4) + " angstrom explains as many peaks but is not " + name +
                        "'s pattern",
                    true);
            return kept;
        }
        if (!ok1 && !ok2) {
            // Each refused on its own: the search's tie is not the whole story.
            const std::string_view ask = range.search.nearGuess ? kAskNarrowerRange : kAskGuessOrRange;
            if (const std::size_t at = found.why.rfind(ask); at != std::string::npos) {
                found.why.insert(at, ", and neither passes the tests of " + name + "'s whole pattern");
            }
        }
    }
    if (!found.ok) return Failed(std::move(o), found.why + (range.limit.empty() ? "" : "; " + range.limit));
    if (!options.zeroShift && hadNone) {
        // Not there as measured, but there at an offset of x: say so rather than guess, where
        // the fit the hint asks for (the offset refined) gives a pressure; its luck counts
        // every offset tried. Otherwise the offsets only found another coincidence among the
        // peaks, and the reason as measured stands.
        Options refined = options;
        refined.zeroShift = true;
        const Outcome shifted = FitPattern(pattern, refined);
        if (shifted.result.status == Status::Error) {
            return Failed(std::move(o), whyAsMeasured + (range.limit.empty() ? "" : "; " + range.limit));
        }
        return Failed(std::move(o), "no " + std::string(standard.name) + " pattern at the positions as measured; it is there if x is off by about " +
                                        Rough(std::isfinite(shifted.zeroShift) ? shifted.zeroShift : found.lattice.zero) + " " +
                                        std::string(XUnitName(o.unit)) + " (a zero error): refine it with " + options.names.zeroShift);
    }
    bool refused = false;
    Outcome best = fitAt(found.lattice, o, refused);
    if (!refused) {
        if (best.result.status == Status::Error) return best;
        // Another lattice that passes every test of the standard's pattern on 3 or more
        // reflections (a phase of the same structure, or the standard beside one) is the
        // standard as well as this one: the one with more used reflections stands, and the row
        // names the other.
        for (const Lattice& next : found.others) {
            bool nextRefused = false;
            Outcome other = fitAt(next, o, nextRefused);
            if (nextRefused || other.result.status == Status::Error || other.result.peaks < 3 ||
                std::fabs(std::log(other.result.a / best.result.a)) < kSameLattice) {
                continue;
            }
            const bool swap = other.result.peaks > best.result.peaks;
            Outcome& kept = swap ? other : best;
            const Result& lost = swap ? best.result : other.result;
            AddNote(kept.result,
                    "a lattice of a " + Fixed(lost.a, 4) + " angstrom passes " + name + "'s tests too, on " +
                        std::to_string(lost.peaks) + " reflections" + (swap ? " (the search's first choice)" : ""),
                    true);
            return std::move(kept);
        }
        return best;
    }
    // The lattice that explains most is not the standard's: the next ones the search accepted.
    for (const Lattice& next : found.others) {
        bool nextRefused = false;
        Outcome other = fitAt(next, o, nextRefused);
        if (other.result.status != Status::Error) {
            AddNote(other.result,
                    "the lattice that explains most peaks (a " + Fixed(found.lattice.a, 4) + " angstrom) is not " + name +
                        "'s pattern",
                    true);
            return other;
        }
    }
    return best;
}

}  // namespace hv::pattern
