// The steps of FitPattern, one file each: the points as the fit sees them (prepare.cpp),
// candidate peaks (peaks.cpp), the standard's expected pattern (expected.cpp), the search
// that recognises the lattice (search.cpp), the profile fit (profile.cpp), the lattice of the
// fitted reflections with its trend and zero offset (lattice.cpp), and the assembly
// (fit.cpp). Internal to the pattern library.
#pragma once

#include "core/cell.h"
#include "pattern/pattern.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace hv::pattern::detail {

constexpr double kLn2 = 0.69314718055994530942;

// Candidates and lattices: a peak counts as clear at this many sigma of its prominence, and
// a lattice needs this many clear peaks (two when the user's guess supplies the rest).
constexpr double kClearSigma = 5;
constexpr int kMinMatched = 3;
constexpr int kMinMatchedNearGuess = 2;
// A strong reflection the lattice predicts this many times above the clear threshold, on the
// scale of the reflections it does explain, must be there: texture changes intensities by
// factors of a few, it does not make the strongest vanish.
constexpr double kMustSeeFactor = 5;
// A peak more than this many times stronger than the structure makes it, on the scale of
// the lattice's other peaks, is not the standard's (texture alone does not do it).
// Expected intensities below this share of the strongest count as this share there: so weak
// a reflection's strength is too uncertain to call a peak on it too strong.
constexpr double kTooStrongFactor = 6;
constexpr double kTooStrongFloor = 0.05;
// Two or more such peaks are another lattice's when one of them stands this much above the
// strongest expected reflections' peaks (a metal's 111 where rock salt has a weak one);
// otherwise they are other phases' peaks on the standard's places and count as hidden.
constexpr double kLeadingFactor = 0.8;
// How many of the strongest expected reflections in range the recognition and the status ask for.
constexpr int kStrongest = 3;
// A result is ok only when its used reflections carry this share of the expected intensity
// in range.
constexpr double kOkFom = 0.5;
// A result is ok only when a lattice unrelated to the peaks would match as many of its
// reflections as closely with a smaller chance than this; at kCoincidenceRefused or more it
// is no result. Intensities that texture makes with a smaller chance than kIntensityRefused
// are not the standard's.
constexpr double kCoincidenceChance = 1e-3;
constexpr double kCoincidenceRefused = 1e-2;
constexpr double kCoincidenceRefusedGuided = 0.05;
constexpr double kIntensityRefused = 1e-3;
// Widths of one lattice's peaks agree within this factor of their median.
constexpr double kWidthFactor = 2.5;
// A fitted reflection is used above this many sigma of its height. Its place is fixed by
// the lattice the other reflections found, so it is measured there, not discovered: the
// 3 sigma of crystallography's "observed", with a margin for the few positions its window
// allows.
constexpr double kSignificantSigma = 3.5;
// Below this many sigma at a quick look a reflection is not fitted in full.
constexpr double kQuickSigma = 3;
// Leave-one-out outlier rule for a_i, and the trend of a_i that makes a warning.
constexpr double kOutlierSigma = 3;
constexpr double kTrendSigma = 3;
// a_i that scatter more times their uncertainties in a crowded pattern make a warning.
constexpr double kScatterWarn = 5;
// Bounds on the work one pattern can cause.
constexpr std::size_t kMaxCandidates = 60;
constexpr int kMaxSquareSumPredicted = 400;
constexpr std::size_t kMaxClusterPeaks = 8;
constexpr int kMaxRounds = static_cast<int>(kMaxClusterPeaks) + 1;
// Other phases' peaks fitted along in one cluster, at most.
constexpr std::size_t kMaxNuisance = 4;
// Lattices the search offers besides its best, for when the whole pattern refuses that.
constexpr std::size_t kMoreLattices = 2;
// Two fitted lattices closer than this in log a are one.
constexpr double kSameLattice = 2e-3;
// Work one pattern may spend (profile evaluations, points x peaks, and the QR steps of the
// minimiser): this much per predicted reflection plus this much per point, about twenty
// times what a clean reflection needs, so that every reflection of a real pattern is fitted
// and no input keeps the fitter busy for long.
constexpr long kWorkPerReflection = 1'500'000;
constexpr long kWorkPerPoint = 200;
constexpr long kWorkFloor = 4'000'000;

Outcome Failed(Outcome o, std::string message);
std::string Fixed(double v, int digits);
std::string Sig(double v);  // six significant digits
double Median(std::vector<double> v);

// The pattern as the fit sees it: rising x inside the range, every point with a spacing.
struct Work {
    XUnit unit = XUnit::TwoThetaDeg;
    Geometry geometry{kNone, kNone};
    std::vector<double> x, y, var, d;
    std::vector<double> mean3;          // three-point running mean of y
    std::vector<char> blind;            // inside a run of zeros (a detector gap or edge)
    std::vector<std::size_t> index;     // into the caller's arrays
    double step = 0;                    // median point spacing
    bool intensitiesKnown = true;       // false for energy-dispersive spectra
    double Noise(double x) const;       // sigma of the candidates' running mean near x
    bool Blind(double x) const;
};

// The three-point running mean (two points at the ends), as the candidates are found on.
std::vector<double> MeanOfThree(const std::vector<double>& y);

// Chooses the unit and the geometry into o, and fills w; an error message, or empty.
std::string Prepare(const Pattern& pattern, const Options& options, Outcome& o, Work& w);

// ---- Candidate peaks ----

struct Candidate {
    double x = 0, d = 0, logD = 0;
    double fwhm = 0;
    double prominence = 0;
    double significance = 0;
    double tolLog = 0;  // how far in log d it may sit from a prediction and still be it
};

// A shoulder's own dip toward a taller neighbour, in noise: under a candidate's kClearSigma,
// over what noise often makes on a flank.
constexpr double kShoulderSigma = 3;
// Points in the running mean candidates are found on (odd).
constexpr std::size_t kSmoothPoints = 3;
// A spike of one or two points rises this many times higher than the points beside it
// (a ring 2.5 points wide, at most about 2.7 times).
constexpr double kSpikeRatio = 4;

// Clear peaks (kClearSigma of prominence), single-point spikes left out, by rising d; with
// x taken as x - zero.
std::vector<Candidate> DetectPeaks(const Work& w, double zero);

// Whether a peak of height p at x would stand clear of candidate c as DetectPeaks sees it:
// its own maximum of the running mean, kClearSigma of noise above the dip toward c.
bool StandsClearOf(const Work& w, double x, double p, const Candidate& c);

// ---- The standard's expected pattern ----

// One value of h^2+k^2+l^2 the standard shows; several hkl may share it.
constexpr std::size_t kMaxSpecies = 4;
struct Family {
    int n = 0;
    Hkl hkl;
    double halfLogN = 0;
    int multiplicity = 0;  // signed hkl of this n the lattice allows
    // Sum over those hkl and the cell's site pairs of cos(2 pi h.(r_j - r_k)), by scatterer
    // pair: |F|^2 summed is pairs[p][q] f_p f_q.
    std::array<double, kMaxSpecies * kMaxSpecies> pairs{};
};

std::vector<Family> Families(const Standard& standard, int maxN);

// Relative integrated intensity of a family at spacing d (one scale for a pattern): form
// factors, multiplicity, Debye-Waller and, for angle-dispersive data, Lorentz-polarisation.
double ExpectedIntensity(const Standard& standard, const Family& family, double d, const Work& w);

// ---- The search ----

struct Match {
    std::size_t family = 0, candidate = 0;
};

struct Lattice {
    double a = kNone;
    double zero = 0;         // the constant offset of x the candidates were taken at
    int matched = 0;
    double score = -1e300;
    std::vector<Match> matches;
    bool acceptable = false;
    double fom = 0;          // share of the expected intensity in range that candidates explain
    std::vector<std::size_t> absent;  // strong families that should show and do not
    std::string reason;      // why not acceptable
};

struct SearchRange {
    double aLo = kNone, aHi = kNone;
    int minMatched = kMinMatched;
    bool nearGuess = false;  // narrowed to a pressure guess's neighbourhood
    std::string_view guessName = "--pressure-guess";  // how the asking face spells the option
};

// How a search that two lattices tie ends its message: what would tell them apart.
constexpr std::string_view kAskGuessOrRange = ": give a pressure guess or range";
constexpr std::string_view kAskNarrowerRange = ": give a pressure range narrower than the guess's";

struct SearchResult {
    bool ok = false;
    std::string why;
    Lattice lattice;
    int mostMatched = 0;  // the most peaks any lattice tried explained
    // Two lattices explain the peaks about equally well (not ok): lattice and others' first.
    bool ambiguous = false;
    // Other acceptable lattices in range, the best scored first (at most kMoreLattices).
    std::vector<Lattice> others;
};

SearchResult Search(const std::vector<Candidate>& cands, const std::vector<Family>& families, const SearchRange& range,
                    const Work& w, const Standard& standard, double zero);

// ---- Coincidence ----

// The chance of m or more successes in k independent tries of chance p.
double BinomialTail(int k, int m, double p);

struct Coincidence {
    int peaks = 0, predicted = 0, matched = 0;
    double chance = 1;
};

// The search's own measure: the chance that the best of the lattices searched between log a
// logALo and logAHi (in `searches` searches) lands `matched` of `predicted` reflections in
// candidates' windows, each window's share of log d (logDMin to logDMax) a reflection's
// chance of falling into one; lattices one median window apart are independent tries.
Coincidence MatchChance(const std::vector<Candidate>& cands, double logDMin, double logDMax, double logALo,
                        double logAHi, int predicted, int matched, int searches);

// The chance that the best of the lattices searched between log a logALo and logAHi (in
// `searches` searches: zero offsets or axial ratios tried) puts as many of the `predicted`
// reflections in range as rows uses on candidate peaks, each as close as the used one sits:
// within kOutlierSigma of its relative sigma of d and relSigmaA (sigma_a / a) of a peak, a
// share of log d of twice that times the candidates per unit of log d (logDMin to logDMax);
// lattices one median window apart in log a are independent tries. Each sigma of d counts
// scatter times (rows that scatter beyond their sigmas). A cubic row left out as an outlier
// but within kBlendShare of its width of lattice a's place (IsBlend) counts too, its window
// its offset and its three sigma: a peak that sits that close is the lattice's, its top
// pulled by another phase's line beneath it. Two lines of one height closer than half their
// width merge into one peak, whose top lies halfway between, a quarter width from each.
constexpr double kBlendShare = 0.25;
// How an outlier's note begins, for IsBlend to know it.
constexpr std::string_view kOutlierNote = "outlier: ";
bool IsBlend(const PeakRow& row, double a);
Coincidence CoincidenceOf(const std::vector<Candidate>& cands, double logDMin, double logDMax, double logALo,
                          double logAHi, int predicted, const std::vector<PeakRow>& rows, double relSigmaA, int searches,
                          double scatter = 1, double a = kNone);

// The lattice parameters to search and, where a pressure range had to be narrowed, a note.
struct Range {
    std::string why;  // an error, or empty
    SearchRange search;
    std::string note;
    std::string limit;  // where the phase cut the search short, for a failure's message
};
Range RangeOf(const Standard& standard, const Options& options);

// ---- The profile fit ----

struct PeakFit {
    bool ok = false;
    double position = kNone, sigmaPosition = kNone;
    double height = kNone, sigmaHeight = kNone;
    double fwhm = kNone, eta = kNone;
};

struct ClusterFit {
    bool ok = false;
    bool outOfWork = false;
    int strayed = -1;  // the peak that left its window
    double b0 = 0, b1 = 0, centre = 0;
    std::vector<PeakFit> peaks;
};

struct Start {
    double position, height, fwhm;
};

// Heights of fixed profiles on a straight background by linear least squares: a quick look.
struct QuickHeight {
    double height = 0, sigma = kNone;
};
std::vector<QuickHeight> QuickHeights(const Work& w, std::size_t lo, std::size_t hi, const std::vector<Start>& starts);

ClusterFit FitCluster(const Work& w, std::size_t lo, std::size_t hi, const std::vector<Start>& starts, long& budget);

double Shape(double x, const PeakFit& f);

// The expected width at x, from the matched candidates.
struct WidthModel {
    double c0 = 0, c1 = 0;
    double At(double x) const { return c0 + c1 * x; }
};
WidthModel WidthsOf(const std::vector<std::pair<double, double>>& points, double step);

// One predicted reflection on its way through the fit.
struct Slot {
    PeakRow row;
    double predicted = 0;    // position at the searched lattice
    double fwhm = 0;         // expected width
    double half = 0;         // half-width of its fit window
    double intensity = 0;    // expected, on the pattern's scale
    double d = 0;            // spacing at the searched lattice
    bool active = true;      // still in its cluster's fit
    bool decided = false;    // its note is final
    PeakFit fit;
    // Height and its sigma where the reflection was found not significant: how strong it
    // can be, for the whole pattern's test.
    double weakHeight = kNone, weakSigma = kNone;
};

// Fits the slots (sorted by predicted position) within the work budget, each cluster with up
// to kMaxNuisance of others inside its window and clear of its reflections' places; draws
// each final fit (those others' profiles too) into curve and background, indexed like the
// caller's arrays.
void FitSlots(const Work& w, std::vector<Slot>& slots, const std::vector<Start>& others, long budget,
              std::vector<double>& curve, std::vector<double>& background);

// A predicted reflection at x (spacing d, expected intensity) as a slot to fit, its width
// from widths (at most widest), or, outside the pattern or in a detector gap, a row in
// outside that says so.
void PlaceSlot(const Work& w, const Reflection& r, double x, double d, double intensity, const WidthModel& widths,
               double widest, std::vector<Slot>& slots, std::vector<PeakRow>& outside);

// Two reflections fitted onto one data peak: neither is measured, and each row says so.
void OnePeakOneReflection(std::vector<Slot>& slots);

// The slots' rows (copied: the whole pattern's tests still read the slots), then outside's
// (moved), into o.peaks; the used ones as peaks for the core's Fit.
std::vector<Peak> GatherRows(const std::vector<Slot>& slots, std::vector<PeakRow>& outside, Outcome& o);

// The candidates as starts, for FitSlots to fit along where they are clear of every
// predicted place (other phases' peaks).
std::vector<Start> OtherPeaks(const std::vector<Candidate>& cands);

// Texture's spread of a reflection's intensity, as the sd of its logarithm; a reflection
// this many of them off the pattern's scale is named.
constexpr double kTextureSd = 0.6;
constexpr double kStrangeSigma = 3;
constexpr double kBSpread = 4;  // angstrom^2

// The chance of a chi-square of dof degrees of freedom at or above x.
double ChiSquareTail(double x, int dof);

// A pseudo-Voigt's integrated intensity from its height, full width and mixing.
double ProfileArea(double height, double fwhm, double eta);

// y's least-squares line in x, the slope held to [slopeLo, slopeHi] (below three points a
// constant): its sum of squared residuals and the largest residual's size.
struct LogLine {
    double offset = 0, slope = 0, misfit = 0, largest = 0;
};
LogLine FitLogLine(const std::vector<double>& x, const std::vector<double>& y, double slopeLo, double slopeHi);

// Whether the fitted intensities are the standard's pattern under texture: every used
// reflection's integrated intensity against the expected on one scale (a straight line of
// its logarithm in s^2 = 1/(4 d^2), a scale and a Debye-Waller B off the assumed by
// -kBSpread to kBSpread, fitted to the used reflections: the true B varies with the
// standard, the temperature and the pressure), and
// every reflection found not significant, at an angle no higher than the used ones, whose expected strength on that scale lies above
// what its fit allows, each a lognormal deviate of sd kTextureSd; the chance of a chi-square
// as large with one degree of freedom fewer than the terms (the scale).
struct IntensityAgreement {
    double chiSquare = 0;
    int terms = 0;
    double chance = 1;
    std::vector<std::string> weak;   // reflections far weaker than the pattern makes them
    std::vector<std::string> strong; // and far stronger
    std::string worst;               // the one furthest off, and by how many sd (signed)
    double worstZ = 0;
};
IntensityAgreement AgreementOf(const std::vector<Slot>& slots, const Work& w);

// The chance that the pattern's own peaks, put at random on the used reflections, agree
// with the structure's intensities as well as the fitted ones do (their log ratios about a
// line in s^2): by luck a lattice's places and its intensities must both come right, so
// this multiplies the chance of its places. 1 below three used reflections: one ratio of
// two is too little to go on.
constexpr int kIntensityDraws = 200;
double IntensityLuck(const std::vector<Slot>& slots, const std::vector<Candidate>& cands, const Work& w);

// Makes o an error with this message; its rows stay, none of them used (noted so), and
// nothing of the expected pattern counts as explained (fom 0, no strongest found), and it
// has no trend or zero offset.
void Refuse(Outcome& o, std::string message);

// Other phases' peaks: more than twice the peaks the search matched, and three more.
bool Crowded(const Coincidence& search);

// Both chances of a fitted lattice in the searched range [range.aLo, range.aHi] of a pattern
// of spacings dMin to dMax: its used rows' (luck, times intensityLuck: places and intensities
// both by luck) and the search's matches (search).
struct Chances {
    Coincidence luck, search;
};
Chances ChancesOf(const std::vector<Candidate>& cands, double dMin, double dMax, const SearchRange& range, int inRange,
                  const Outcome& o, int matched, int searches, double intensityLuck);

// What the user knows narrows the choice: a pressure guess, or listed reflections.
bool Guided(const Options& options);

// The whole pattern's verdict on a fitted result: refused (o an error, true) when its
// matches could be luck (kCoincidenceRefused or more), or its intensities are not the
// structure's (chance below kIntensityRefused) among other phases' peaks (a warning in an
// uncrowded pattern); a warning from kCoincidenceChance, of the fit's (luck) or of the
// search's matches (search). Guided (a pressure guess, or listed reflections: what the user
// knows narrows the choice), luck is refused only from kCoincidenceRefusedGuided.
bool Refused(Outcome& o, std::string_view standardName, const Coincidence& luck, const Coincidence& search,
             const IntensityAgreement& agreement, const Options& options);

// ---- The lattice of the fitted reflections ----

// The uncertainty of a cubic row's a_i = d sqrt(h^2+k^2+l^2).
inline double SigmaOfAI(const PeakRow& r) { return r.sigmaD * std::sqrt(static_cast<double>(r.reflection.n)); }
// How many times their own uncertainties the used rows' a_i scatter about their weighted
// mean (the square root of the reduced chi-square); NaN below three rows (and for hexagonal
// rows, which have no a_i).
double ScatterOf(const std::vector<PeakRow>& rows);

// The numbers of every fitted row at the zero offset (its spacing, and a_i for cubic rows);
// the active ones with a spacing and its uncertainty are used, the others say why not.
void Spacings(std::vector<Slot>& slots, const Work& w, double zero);

// A weighted straight line of a_i against a * u_i, u_i = (dd/dx) / d at the reflection: its
// slope is the constant offset of x that would make the trend, in the pattern's x unit.
struct Trend {
    double offset = kNone, sigma = kNone;
};
Trend TrendOf(const std::vector<PeakRow>& rows, const Work& w);

// a and a constant x offset from the used reflections' positions, by weighted least squares.
struct ZeroFit {
    bool ok = false;
    double a = kNone, sigmaA = kNone, zero = kNone, sigmaZero = kNone;
};
ZeroFit FitWithZero(const std::vector<PeakRow>& rows, const Work& w, double zeroStart);

// ---- What fit.cpp and hexagonal.cpp share ----

// "111, 200, 220".
std::string Join(const std::vector<std::string>& items);
// Adds a note to the result's message; warn makes an ok result a warning.
void AddNote(Result& r, const std::string& note, bool warn);

// Which of the kStrongest expected reflections the used ones include (o.strongFound,
// o.strongExpected) and the share of the expected intensity they carry (o.fom).
struct Strongest {
    std::vector<std::string> missing;  // the strongest not used, as reflection texts
    std::vector<Hkl> hkl;              // the strongest, strongest first
};
Strongest TallyStrongest(const std::vector<Slot>& slots, const Work& w, Outcome& o);

// ---- A hexagonal standard (hexagonal.cpp) ----

// Its reflections at axial ratio cOverA as search families, up to 1/d^2 = maxQ / a^2: one per
// distinct spacing (h^2+hk+k^2 and |l|), absences left out, by falling d; n is 0 and
// halfLogN is log(a / d).
std::vector<Family> HexagonalFamilies(const Standard& standard, double cOverA, double maxQ);

// FitPattern's path for a hexagonal standard, from the prepared pattern and the search range
// (a at the standard's ambient c/a): c/a searched over a grid, every predicted reflection
// fitted, a, c, V and P from the core's Fit with the used reflections' hkl. Rows carry n 0
// and no a_i.
Outcome FitHexagonal(const Pattern& pattern, const Options& options, const Work& w, const SearchRange& range,
                     const std::string& rangeNote, Outcome o);

// ---- Another lattice on the same peaks ----

// Texture changes a reflection's strength by up to this factor (about three standard
// deviations of a lognormal of 0.5).
constexpr double kTextureFactor = 4;

// How much faster than the assumed B an unknown rival's form factor may fall (angstrom^2: a
// light atom's f^2 falls about as fast as exp(-2 B s^2) with B near 5), and by how much the
// rival's misfit of the log intensities about a line in s^2 must pass the standard's, in
// texture variances, for the heights to tell the two apart (a likelihood ratio of e; on
// generated cell patterns a stricter one refuses more true ones and no more false ones).
constexpr double kRivalFall = 6;
constexpr double kRivalEvidence = 2;
// With the standard's reflections too weak to use counted as evidence too (a likelihood
// ratio of e^3; at e, noise on those places let 10 more KCl-B2 coincidences through in 1,200
// generated patterns).
constexpr double kWeakEvidence = 3;

// Clear peaks on another lattice's places where the standard has no reflection that make
// the used peaks that lattice's (on generated cell patterns near a guess, two or more came
// with 48 wrong pressures and 2 right ones; one alone with 13 wrong and 13 right).
constexpr int kForeignPeaks = 2;

// Percent of the strongest reflection below which a reflection's predicted strength is not
// evidence against the standard when it is absent (KCl's 111 and 311 are 0.45 %, NaCl's 331 1 %).
constexpr double kModelledFloor = 1;

struct SharedLattice {
    bool shared = false;
    std::string name;  // "fcc" or "bcc"
    double a = kNone;
    int extra = 0;     // clear peaks of its that the used reflections are not
    int foreign = 0;   // of those, the ones on no place of the standard's
    bool heightsBetter = false;  // it explains the used peaks' heights better than the standard
    // The heights and the standard's own weak reflections, weakened by texture's full factor,
    // speak for it as surely as the standard would need to be taken over it; and those of the
    // standard's reflections that would stand clear even so and are absent.
    bool evidenceFor = false;
    std::vector<std::string> absentOwn;
};

// The variance of the spacing d that a hexagonal cell predicts for hkl, from the cell's
// covariance without the scaling by its scatter: d^3 (A / a^3, l^2 / c^3) for 1/d^2 = A / a^2
// + l^2 / c^2, A = 4/3 (h^2 + hk + k^2); 0 where the cell gives none.
double PredictionVariance(const CellFit& f, const Hkl& hkl, double d);
// A hexagonal reflection's ring term A = 4/3 (h^2 + hk + k^2) of 1/d^2 = A / a^2 + l^2 / c^2.
inline double RingOf(const Hkl& m) { return 4.0 / 3 * (m.h * m.h + m.h * m.k + m.k * m.k); }

// Whether an fcc or bcc lattice (of another a) puts a reflection on every used row, with
// heights it explains within texture's factor and, for a compound, nearly as well as the
// standard's structure does (counting the standard's faint peaks where the rival has no
// reflection), and shows every reflection that its scale makes clear among the
// candidates (all but one where two or more of them are there): then the peaks cannot tell
// the standard from that lattice. ownFamilies: the standard's, at least through the range.
SharedLattice SharedWith(const Standard& standard, const std::vector<Family>& ownFamilies, const std::vector<Slot>& slots,
                         const std::vector<Candidate>& cands, const Work& w, double a);

}  // namespace hv::pattern::detail
