// Another simple lattice on the same peaks: rock salt whose ions scatter nearly alike shows
// only its even reflections, which are a bcc lattice's of a/sqrt2; a CsCl-type pattern is a
// bcc lattice's of a sqrt2. When the used reflections sit on such a lattice's places, with
// heights its own pattern explains within texture's factors (for a compound, nearly as well
// as the standard's structure does, and with no faint peak on the standard's own places that
// the rival lacks), and no strong reflection of it is missing from the pattern, the peaks
// cannot say which phase made them.
#include "pattern/steps.h"

#include "core/crystal.h"
#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace hv::pattern::detail {

namespace {

// a'^2 / a^2 of the rivals tried, as num / den.
struct Ratio {
    int num, den;
};
constexpr Ratio kRatios[] = {{1, 4}, {1, 3}, {1, 2}, {2, 3}, {3, 4}, {1, 1}, {4, 3}, {3, 2}, {2, 1}, {3, 1}, {4, 1}};

const Family* FamilyOf(const std::vector<Family>& families, int n)
{
    for (const Family& f : families) {
        if (f.n == n) return &f;
    }
    return nullptr;
}

// A metal: every site the same atom, so the plain lattice of its own a is the standard itself.
bool OneSpecies(const Standard& standard)
{
    if (!standard.structure) return true;
    for (const hv::Site& s : standard.structure->sites) {
        if (s.species != standard.structure->sites.front().species) return false;
    }
    return true;
}

// For a weak reflection fitted at height h (sigma s) where the standard's scale predicts e:
// the log likelihood ratio, in texture variances like the heights' misfits, of e against no
// peak at all. A peak stronger than e may be another phase's and counts as no stronger.
double LogLikelihoodRatio(double h, double e, double s)
{
    const double seen = std::min(h, e);
    return (2 * seen * e - e * e) / (s * s) * kTextureSd * kTextureSd;
}

}  // namespace

SharedLattice SharedWith(const Standard& standard, const std::vector<Family>& ownFamilies, const std::vector<Slot>& slots,
                         const std::vector<Candidate>& cands, const Work& w, double a)
{
    SharedLattice out;
    if (!w.intensitiesKnown || standard.lattice == hv::Lattice::Hexagonal || !(a > 0)) return out;
    std::vector<const PeakRow*> used;
    for (const Slot& s : slots) {
        const PeakRow& r = s.row;
        if (r.used && r.height > 0 && r.expected > 0 && r.reflection.n > 0) used.push_back(&r);
    }
    if (used.size() < 2) return out;
    const double dMin = std::min(w.d.front(), w.d.back()), dMax = std::max(w.d.front(), w.d.back());
    // Every rival reflection down to the smallest spacing, at the widest ratio.
    const int maxN = static_cast<int>(std::min(static_cast<double>(kMaxSquareSumPredicted), std::ceil(4 * a * a / (dMin * dMin))));
    for (const hv::Lattice type : {hv::Lattice::RockSalt, hv::Lattice::BodyCentred}) {
        Standard rival{};
        rival.name = type == hv::Lattice::RockSalt ? "fcc" : "bcc";
        rival.lattice = type;
        const std::vector<Family> families = Families(rival, maxN);
        for (const Ratio q : kRatios) {
            if (type == standard.lattice && q.num == q.den && OneSpecies(standard)) continue;  // itself
            const double aRival = a * std::sqrt(static_cast<double>(q.num) / q.den);
            // Every used reflection on one of the rival's, with a height it explains.
            std::vector<double> rivalArea, ownArea, s2, areaPerHeight;
            std::vector<int> taken;
            bool onPlaces = true;
            for (const PeakRow* r : used) {
                const int scaled = r->reflection.n * q.num;
                const Family* f = scaled % q.den == 0 ? FamilyOf(families, scaled / q.den) : nullptr;
                if (!f) {
                    onPlaces = false;
                    break;
                }
                taken.push_back(f->n);
                const double d = aRival / std::sqrt(static_cast<double>(f->n));
                areaPerHeight.push_back(ProfileArea(1, r->fwhm, r->eta));
                const double area = std::log(ProfileArea(r->height, r->fwhm, r->eta));
                rivalArea.push_back(area - std::log(ExpectedIntensity(rival, *f, d, w)));
                ownArea.push_back(area - std::log(r->expected));
                s2.push_back(0.25 / (d * d));
            }
            if (!onPlaces) continue;
            // The rival's intensities on one scale that falls with angle: its atoms are unknown,
            // so its fall may be any form factor's, and its B is free over a wider span. Each
            // within texture's factor of it.
            const LogLine other = FitLogLine(s2, rivalArea, -2 * (kBSpread + kRivalFall), 2 * kBSpread);
            if (other.largest > std::log(kTextureFactor)) continue;
            // Heights that a compound's structure explains better than the rival's plain lattice
            // tell the two apart. A metal is a plain lattice itself, told from its rivals only by
            // multiplicities, which texture blurs.
            const LogLine ownLine = FitLogLine(s2, ownArea, -2 * kBSpread, 2 * kBSpread);
            const double own = ownLine.misfit;
            // The standard's reflections too weak to use, where the rival has none: a peak
            // there, of about the height the standard's scale gives it, speaks for the standard
            // (rock salt's weak 111 beside a bcc lattice's places), its absence for the rival.
            // As a log likelihood ratio of the fitted height against the two predictions, in
            // texture variances like the heights' misfits; a peak stronger than the standard
            // makes it may be another phase's and counts as no stronger than that. Such weak
            // evidence is noisy (a crowd's peak beside the place, the noise itself), so with it
            // the heights must tell the two apart kWeakEvidence times as surely.
            // Turned round, their absence speaks for the rival only where texture's full factor
            // would still leave them clear (otherwise texture alone may have hidden them), and
            // only for reflections the structure makes at least kModelledFloor: fainter ones are
            // near-cancellations of two ions' scattering (KCl's odd ones), whose strength the
            // ionic model does not know to a factor of a few.
            double between = 0, against = 0;
            std::vector<std::string> absent;
            for (const Slot& sl : slots) {
                const PeakRow& r = sl.row;
                if (r.used || !(sl.weakSigma > 0) || !(r.expected > 0) || r.reflection.n <= 0 || !(sl.d > 0)) continue;
                const int scaled = r.reflection.n * q.num;
                if (scaled % q.den == 0 && FamilyOf(families, scaled / q.den)) continue;
                const double expectedHeight = std::exp(ownLine.offset + ownLine.slope * 0.25 / (sl.d * sl.d)) * r.expected /
                                              ProfileArea(1, sl.fwhm, 0.5);
                between += LogLikelihoodRatio(sl.weakHeight, expectedHeight, sl.weakSigma);
                if (r.expected < kModelledFloor) continue;
                const double quarter = expectedHeight / kTextureFactor;
                against += LogLikelihoodRatio(sl.weakHeight, quarter, sl.weakSigma);
                // Named where it would stand clear at that quarter and is not half of it.
                if (quarter >= kClearSigma * sl.weakSigma && sl.weakHeight < quarter / 2) {
                    absent.push_back(ReflectionText(r.reflection));
                }
            }
            const double heights = OneSpecies(standard) ? 0 : other.misfit - own;
            if (heights >= kRivalEvidence * kTextureSd * kTextureSd ||
                heights + between >= kWeakEvidence * kRivalEvidence * kTextureSd * kTextureSd) {
                continue;
            }
            // The rival's reflections in range that its scale makes clear (their area over the
            // used peaks' area per height, against the noise) must have a peak of about the area
            // it predicts; its fall is known only between the used reflections, not beyond them.
            const double perHeight = Median(areaPerHeight);
            const auto [s2Lo, s2Hi] = std::minmax_element(s2.begin(), s2.end());
            int missing = 0, extra = 0, foreign = 0;
            for (const Family& f : families) {
                const double d = aRival / std::sqrt(static_cast<double>(f.n));
                if (d < dMin || d > dMax) continue;
                if (std::find(taken.begin(), taken.end(), f.n) != taken.end()) continue;
                const double x = PositionOf(w.unit, d, w.geometry);
                if (!std::isfinite(x) || w.Blind(x)) continue;
                const double area = std::exp(other.offset + other.slope * std::clamp(0.25 / (d * d), *s2Lo, *s2Hi)) *
                                    ExpectedIntensity(rival, f, d, w);
                if (area / perHeight < kTextureFactor * kClearSigma * w.Noise(x)) continue;
                // Areas, not heights: the candidates' smoothing lowers a narrow peak's top.
                const double logD = std::log(d);
                bool seen = false, hidden = false;
                for (const Candidate& c : cands) {
                    seen = seen || (std::fabs(c.logD - logD) <= c.tolLog &&
                                    ProfileArea(c.prominence, c.fwhm, 0.5) * kTextureFactor >= area);
                    hidden = hidden || (std::fabs(c.x - x) < c.fwhm && std::fabs(c.logD - logD) > c.tolLog);
                }
                // Under another peak, off its top, it cannot be told from it: neither there nor
                // missing. (A peak on its place but too weak is missing.)
                if (!seen && hidden) continue;
                extra += seen;
                const int scaledOwn = f.n * q.den;
                foreign += seen && !(scaledOwn % q.num == 0 && FamilyOf(ownFamilies, scaledOwn / q.num));
                if (!seen && ++missing > 1) break;
            }
            // One missing only where two or more others of its are there: another phase's
            // pattern with a peak lost, not a lattice the peaks merely allow.
            if (missing > 1 || (missing == 1 && extra < 2)) continue;
            out.shared = true;
            out.extra = extra;
            out.foreign = foreign;
            out.heightsBetter = other.misfit < own;
            out.evidenceFor = heights + against <= -kWeakEvidence * kRivalEvidence * kTextureSd * kTextureSd;
            out.absentOwn = std::move(absent);
            out.name = std::string(rival.name);
            out.a = aRival;
            return out;
        }
    }
    return out;
}

}  // namespace hv::pattern::detail
