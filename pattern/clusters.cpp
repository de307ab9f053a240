// The fit of every predicted reflection: neighbours whose windows overlap are fitted
// together, a quick look first spares the full fit those that are not there, and a peak that
// fails its checks leaves its cluster, which is fitted again without it.
#include "pattern/steps.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace hv::pattern::detail {

void PlaceSlot(const Work& w, const Reflection& r, double x, double d, double intensity, const WidthModel& widths,
               double widest, std::vector<Slot>& slots, std::vector<PeakRow>& outside)
{
    Slot s;
    s.row.reflection = r;
    s.row.predicted = x;
    if (!(x >= w.x.front() && x <= w.x.back()) || w.Blind(x)) {
        s.row.note = w.Blind(x) ? "in a detector gap" : "outside the pattern's range";
        outside.push_back(s.row);
        return;
    }
    s.predicted = x;
    s.fwhm = std::clamp(widths.At(x), 2 * w.step, std::max(2 * w.step, std::min(widest, (w.x.back() - w.x.front()) / 20)));
    s.half = 4 * s.fwhm;
    s.intensity = intensity;
    s.d = d;
    slots.push_back(s);
}

void OnePeakOneReflection(std::vector<Slot>& slots)
{
    for (std::size_t i = 0; i < slots.size(); ++i) {
        for (std::size_t j = i + 1; j < slots.size(); ++j) {
            PeakRow& a = slots[i].row;
            PeakRow& b = slots[j].row;
            if (!slots[i].active || !slots[j].active) continue;
            const double apart = std::fabs(a.position - b.position);
            if (!(apart < 0.5 * std::max(a.fwhm, b.fwhm))) continue;
            slots[i].active = slots[j].active = false;
            a.note = "on the same data peak as " + ReflectionText(b.reflection);
            b.note = "on the same data peak as " + ReflectionText(a.reflection);
        }
    }
}

std::vector<Peak> GatherRows(const std::vector<Slot>& slots, std::vector<PeakRow>& outside, Outcome& o)
{
    for (const Slot& s : slots) o.peaks.push_back(s.row);
    for (PeakRow& r : outside) o.peaks.push_back(std::move(r));
    std::vector<Peak> used;
    for (const PeakRow& r : o.peaks) {
        if (r.used) used.push_back({r.reflection, r.d, r.sigmaD});
    }
    return used;
}

std::vector<Start> OtherPeaks(const std::vector<Candidate>& cands)
{
    std::vector<Start> out;
    for (const Candidate& c : cands) out.push_back({c.x, c.prominence, c.fwhm});
    return out;
}

void FitSlots(const Work& w, std::vector<Slot>& slots, const std::vector<Start>& others, long budget,
              std::vector<double>& curve, std::vector<double>& background)
{
    // Clusters of reflections whose windows overlap, fitted together.
    const std::size_t m = w.x.size();
    for (std::size_t first = 0; first < slots.size();) {
        std::size_t last = first + 1;
        while (last < slots.size() && last - first < kMaxClusterPeaks &&
               slots[last].predicted - slots[last].half < slots[last - 1].predicted + slots[last - 1].half) {
            ++last;
        }
        const double left = slots[first].predicted - slots[first].half;
        const double right = slots[last - 1].predicted + slots[last - 1].half;
        std::size_t iLo = static_cast<std::size_t>(std::lower_bound(w.x.begin(), w.x.end(), left) - w.x.begin());
        std::size_t iHi = static_cast<std::size_t>(std::upper_bound(w.x.begin(), w.x.end(), right) - w.x.begin());
        // A detector gap at the window's end is no data: its zeros would drag the background.
        while (iLo < iHi && w.blind[iLo]) ++iLo;
        while (iHi > iLo && w.blind[iHi - 1]) --iHi;

        // Other phases' peaks inside the window, clear of every reflection's place, are fitted
        // along: a neighbour's tail left out would pull a reflection's position and height.
        std::vector<Start> nuisance;
        for (const Start& o : others) {
            if (iHi <= iLo || o.position < w.x[iLo] || o.position > w.x[iHi - 1]) continue;
            bool clear = true;
            for (std::size_t s = first; s < last; ++s) {
                clear = clear && std::fabs(o.position - slots[s].predicted) > std::max(o.fwhm, slots[s].fwhm);
            }
            const std::size_t params = 2 + 4 * (last - first + nuisance.size() + 1);
            if (clear && nuisance.size() < kMaxNuisance && iHi - iLo >= params + 10) nuisance.push_back(o);
        }

        ClusterFit fit;
        std::vector<std::size_t> fitted;  // the slots of the last fit, in its order
        std::size_t fittedNuisance = 0;   // and the other peaks after them
        for (int round = 0; round < kMaxRounds; ++round) {
            std::vector<Start> starts;
            std::vector<std::size_t> members;
            for (std::size_t s = first; s < last; ++s) {
                if (!slots[s].active) continue;
                const std::size_t at = static_cast<std::size_t>(
                    std::lower_bound(w.x.begin(), w.x.end(), slots[s].predicted) - w.x.begin());
                const std::size_t i = std::min(at, m - 1);
                const double bg = std::min({w.mean3[i], w.y[iLo < m ? iLo : m - 1], w.y[iHi > 0 ? iHi - 1 : 0]});
                starts.push_back({slots[s].predicted, std::max(w.mean3[i] - bg, 0.0), slots[s].fwhm});
                members.push_back(s);
            }
            if (round == 0) {
                // Reflections that a quick look finds well below significance skip the full fit.
                std::vector<Start> all = starts;
                all.insert(all.end(), nuisance.begin(), nuisance.end());
                const std::vector<QuickHeight> quick = QuickHeights(w, iLo, iHi, all);
                std::vector<Start> kept;
                std::vector<std::size_t> keptMembers;
                for (std::size_t j = 0; j < members.size(); ++j) {
                    const QuickHeight& q = quick[j];
                    if (q.sigma > 0 && !(q.height > kQuickSigma * q.sigma)) {
                        Slot& sl = slots[members[j]];
                        sl.row.note = "not significant: height " + Fixed(q.height / q.sigma, 1) + " sigma";
                        sl.weakHeight = q.height;
                        sl.weakSigma = q.sigma;
                        sl.active = false;
                        sl.decided = true;
                        continue;
                    }
                    if (q.sigma > 0) starts[j].height = q.height;
                    kept.push_back(starts[j]);
                    keptMembers.push_back(members[j]);
                }
                starts = std::move(kept);
                members = std::move(keptMembers);
            }
            if (members.empty()) break;
            std::vector<Start> all = starts;
            all.insert(all.end(), nuisance.begin(), nuisance.end());
            fit = FitCluster(w, iLo, iHi, all, budget);
            fitted = members;
            fittedNuisance = nuisance.size();
            if (fit.strayed >= static_cast<int>(members.size())) {
                // Another phase's peak ran off: fitted again without it.
                nuisance.erase(nuisance.begin() + (fit.strayed - static_cast<int>(members.size())));
                fit = ClusterFit{};
                continue;
            }
            if (fit.strayed >= 0) {
                // The one that ran off goes; the others are fitted again without it.
                Slot& sl = slots[members[static_cast<std::size_t>(fit.strayed)]];
                sl.row.note = "the fit ran off its window";
                sl.active = false;
                sl.decided = true;
                fit = ClusterFit{};
                continue;
            }
            if (!fit.ok) {
                for (std::size_t s : members) {
                    slots[s].row.note = fit.outOfWork ? "not fitted: the pattern needs more work than one fit may take"
                                                      : "the fit did not converge";
                    slots[s].active = false;
                    slots[s].decided = true;
                }
                break;
            }
            // Judge every peak; a bad one leaves the cluster and the rest are fitted again
            // without it, so that it cannot take a share of a neighbour.
            bool dropped = false;
            for (std::size_t j = 0; j < members.size(); ++j) {
                Slot& s = slots[members[j]];
                const PeakFit& f = fit.peaks[j];
                s.fit = f;
                std::string note;
                if (!f.ok) {
                    note = "the fit gives no uncertainty";
                } else if (!(f.height > kSignificantSigma * f.sigmaHeight)) {
                    note = "not significant: height " + Fixed(f.height / f.sigmaHeight, 1) + " sigma";
                    s.weakHeight = f.height;
                    s.weakSigma = f.sigmaHeight;
                } else if (std::fabs(f.position - s.predicted) > s.half / 2) {
                    note = "position " + Sig(f.position) + " outside its window " + Sig(s.predicted - s.half / 2) + " to " +
                           Sig(s.predicted + s.half / 2);
                } else if (f.fwhm < 0.7 * w.step || f.fwhm > 3 * s.fwhm) {
                    note = "width " + Sig(f.fwhm) + " not a peak's (about " + Sig(s.fwhm) + " expected)";
                }
                if (!note.empty()) {
                    s.row.note = note;
                    s.active = false;
                    s.decided = true;
                    dropped = true;
                }
            }
            if (!dropped) break;
        }
        // Drawn as fitted: the final fit's peaks over its background.
        if (fit.ok) {
            for (std::size_t i = iLo; i < iHi && i < m; ++i) {
                const double bg = fit.b0 + fit.b1 * (w.x[i] - fit.centre);
                double total = bg;
                for (std::size_t j = 0; j < fitted.size() && j < fit.peaks.size(); ++j) {
                    if (slots[fitted[j]].active) total += Shape(w.x[i], fit.peaks[j]);
                }
                for (std::size_t j = fitted.size(); j < fitted.size() + fittedNuisance && j < fit.peaks.size(); ++j) {
                    total += Shape(w.x[i], fit.peaks[j]);
                }
                background[w.index[i]] = bg;
                curve[w.index[i]] = total;
            }
        }
        first = last;
    }
}

}  // namespace hv::pattern::detail
