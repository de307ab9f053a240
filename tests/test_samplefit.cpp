#include "samplefit/samplefit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using hv::samplefit::FfLine;
using hv::samplefit::FfPoints;
using hv::samplefit::Fit;
using hv::samplefit::Form;
using hv::samplefit::Options;
using hv::samplefit::Point;
using hv::samplefit::Result;
namespace ef = hv::samplefit;

// The isotherms written out here, apart from the library's.
double Bm(double v, double v0, double k0, double k0p, double k0pp = NAN)
{
    const double f = (std::pow(v0 / v, 2.0 / 3) - 1) / 2;
    double s = 1 + 1.5 * (k0p - 4) * f;
    if (!std::isnan(k0pp)) s += 1.5 * (k0 * k0pp + k0p * (k0p - 7) + 143.0 / 9) * f * f;
    return 3 * k0 * f * std::pow(1 + 2 * f, 2.5) * s;
}

double Vinet(double v, double v0, double k0, double k0p)
{
    const double x = std::cbrt(v / v0);
    return 3 * k0 * (1 - x) / (x * x) * std::exp(1.5 * (k0p - 1) * (1 - x));
}

struct Truth {
    const char* name;
    Form form;
    double v0, k0, k0p, k0pp;
    double lowest;  // V/V0 of the most compressed point
    double sigmaP, sigmaV;
};

double TruePressure(const Truth& t, double v)
{
    if (t.form == Form::Vinet) return Vinet(v, t.v0, t.k0, t.k0p);
    if (t.form == Form::BM2) return Bm(v, t.v0, t.k0, 4);
    return Bm(v, t.v0, t.k0, t.k0p, t.form == Form::BM4 ? t.k0pp : NAN);
}

// n points evenly in V from V0 down to lowest V0, optionally with Gaussian noise in P and V.
std::vector<Point> Generate(const Truth& t, int n, std::mt19937_64* rng)
{
    std::vector<Point> pts;
    std::normal_distribution<double> g(0, 1);
    for (int i = 0; i < n; ++i) {
        const double v = t.v0 * (1 - (1 - t.lowest) * i / (n - 1));
        Point q;
        q.p = TruePressure(t, v);
        q.v = v;
        if (rng) {
            q.p += t.sigmaP * g(*rng);
            q.v += t.sigmaV * g(*rng);
        }
        q.sigmaP = t.sigmaP;
        q.sigmaV = t.sigmaV;
        q.line = i + 2;
        pts.push_back(q);
    }
    return pts;
}

const Truth kMgO{"MgO BM3", Form::BM3, 74.7, 160, 4, NAN, 0.75, 0.1, 0.02};
const Truth kNe{"Ne Vinet", Form::Vinet, 88.97, 1.16, 8.23, NAN, 0.42, 0.05, 0.05};

TEST(SampleFit, RecoversExactParametersFromNoiseFreeData)
{
    const Truth cases[] = {
        kMgO,
        {"MgO Vinet", Form::Vinet, 74.7, 160, 4, NAN, 0.75, 0.1, 0.02},
        {"Ne BM3", Form::BM3, 88.97, 1.16, 8.23, NAN, 0.42, 0.05, 0.05},
        kNe,
        {"BM4", Form::BM4, 74.7, 160, 4.5, -0.04, 0.7, 0.1, 0.02},
        {"BM2", Form::BM2, 41.35, 26.86, 4, NAN, 0.6, 0.1, 0.02},
    };
    for (const Truth& t : cases) {
        SCOPED_TRACE(t.name);
        Options o;
        o.form = t.form;
        const Result r = Fit(Generate(t, 12, nullptr), o);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_NEAR(r.value[ef::kV0], t.v0, 1e-9 * t.v0);
        EXPECT_NEAR(r.value[ef::kK0], t.k0, 1e-7 * t.k0);
        EXPECT_NEAR(r.value[ef::kK0p], t.form == Form::BM2 ? 4 : t.k0p, 1e-6);
        if (t.form == Form::BM4) {
            EXPECT_NEAR(r.value[ef::kK0pp], t.k0pp, 1e-6);
        }
        EXPECT_LT(r.chi2, 1e-12);
        EXPECT_LT(r.maxAbsResidualSigma, 1e-6);
        EXPECT_EQ(r.nPoints, 12);
        EXPECT_EQ(r.nRefined, t.form == Form::BM2 ? 2 : t.form == Form::BM4 ? 4 : 3);
    }
}

// Over many noisy data sets the parameters scatter as their sigmas say: (fit - truth) / sigma
// has a standard deviation near 1 and no bias.
TEST(SampleFit, PullsOfNoisyDataAreUnitNormal)
{
    std::mt19937_64 rng(20261209);
    constexpr int kSets = 300;
    std::vector<Truth> truths{kMgO, kNe};
#ifdef NDEBUG
    // Optimised builds check the other form on each material too; a sanitized debug build
    // fits these 1,200 sets ten times slower.
    truths.push_back({"MgO Vinet", Form::Vinet, 74.7, 160, 4, NAN, 0.75, 0.1, 0.02});
    truths.push_back({"Ne BM3", Form::BM3, 88.97, 1.16, 8.23, NAN, 0.42, 0.05, 0.05});
#endif
    for (const Truth& t : truths) {
        SCOPED_TRACE(t.name);
        const double truth[3] = {t.v0, t.k0, t.k0p};
        double sum[3] = {}, sum2[3] = {};
        for (int s = 0; s < kSets; ++s) {
            Options o;
            o.form = t.form;
            const Result r = Fit(Generate(t, 20, &rng), o);
            ASSERT_TRUE(r.ok) << r.message;
            for (int j = 0; j < 3; ++j) {
                const double pull = (r.value[static_cast<std::size_t>(j)] - truth[j]) / r.sigma[static_cast<std::size_t>(j)];
                sum[j] += pull;
                sum2[j] += pull * pull;
            }
        }
        for (int j = 0; j < 3; ++j) {
            const double mean = sum[j] / kSets, sd = std::sqrt(sum2[j] / kSets - mean * mean);
            EXPECT_GT(sd, 0.8) << ef::ParamLabel(j);
            EXPECT_LT(sd, 1.25) << ef::ParamLabel(j);
            // A strongly curved isotherm (Ne) leaves a small bias of order sigma^2.
            EXPECT_LT(std::fabs(mean), 0.25) << ef::ParamLabel(j);
        }
    }
}

// Data on a BM3 isotherm lie on a straight F-f line: F = K0 + (3/2) K0 (K0' - 4) f.
TEST(SampleFit, StraightFfLineMatchesTheFits)
{
    const Truth t{"BM3", Form::BM3, 74.7, 160, 5, NAN, 0.7, 0.1, 0.02};
    const std::vector<Point> pts = Generate(t, 15, nullptr);
    Options o;
    o.form = Form::BM3;
    const Result bm3 = Fit(pts, o);
    ASSERT_TRUE(bm3.ok) << bm3.message;
    const auto ff = FfPoints(pts, bm3.value[ef::kV0]);
    const auto line = FfLine(ff);
    EXPECT_NEAR(line.intercept, bm3.value[ef::kK0], 1e-6);
    EXPECT_NEAR(line.slope, 1.5 * bm3.value[ef::kK0] * (bm3.value[ef::kK0p] - 4), 1e-5);
    EXPECT_NEAR(line.intercept, 160, 1e-6);
    EXPECT_NEAR(line.slope, 240, 1e-5);  // 1.5 * 160 * (5 - 4)

    // BM4 on the same points: the f^2 term vanishes, K0 K0'' = -(K0'(K0' - 7) + 143/9).
    o.form = Form::BM4;
    const Result bm4 = Fit(pts, o);
    ASSERT_TRUE(bm4.ok) << bm4.message;
    EXPECT_NEAR(bm4.value[ef::kK0], 160, 1e-5);
    EXPECT_NEAR(bm4.value[ef::kK0p], 5, 1e-6);
    EXPECT_NEAR(bm4.value[ef::kK0pp], -(5 * (5 - 7) + 143.0 / 9) / 160, 1e-7);

    // Vinet is not BM3, but both have K0 and K0' as their small-strain limit: fitted to the
    // line's points over ever smaller compressions, Vinet's K0 and K0' close in on the line's.
    o.form = Form::Vinet;
    double lastK0 = HUGE_VAL, lastK0p = HUGE_VAL;
    for (double lowest : {0.9, 0.95, 0.98}) {
        Truth near = t;
        near.lowest = lowest;
        const Result vinet = Fit(Generate(near, 15, nullptr), o);
        ASSERT_TRUE(vinet.ok) << vinet.message;
        const double dK0 = std::fabs(vinet.value[ef::kK0] - line.intercept), dK0p = std::fabs(vinet.value[ef::kK0p] - 5);
        EXPECT_LT(dK0, lastK0 / 2);
        EXPECT_LT(dK0p, lastK0p / 1.5);
        lastK0 = dK0;
        lastK0p = dK0p;
    }
    EXPECT_LT(lastK0, 0.1);
    EXPECT_LT(lastK0p, 0.03);

    // With K0' = 4 the line is flat at K0, and BM2 finds it.
    const Truth flat{"BM2", Form::BM3, 74.7, 160, 4, NAN, 0.7, 0.1, 0.02};
    const std::vector<Point> fpts = Generate(flat, 15, nullptr);
    o.form = Form::BM2;
    const Result bm2 = Fit(fpts, o);
    ASSERT_TRUE(bm2.ok) << bm2.message;
    const auto flatLine = FfLine(FfPoints(fpts, bm2.value[ef::kV0]));
    EXPECT_NEAR(flatLine.intercept, bm2.value[ef::kK0], 1e-6);
    EXPECT_NEAR(flatLine.slope, 0, 1e-5);
    EXPECT_TRUE(std::isnan(bm2.sigma[ef::kK0p]));
    EXPECT_EQ(bm2.value[ef::kK0p], 4);
}

// sigma_F at one point, by hand: V0 = 8, V = 1 gives f = ((8)^(2/3) - 1)/2 = 1.5,
// 3 f (1 + 2f)^(5/2) = 4.5 * 32 = 144, F = 288 / 144 = 2; sigma_f = (1 + 2f)/(3V) sigma_V
// = 4/3 * 0.03 = 0.04; d ln g/df = (1 + 7f)/(f (1 + 2f)) = 11.5 / 6.
TEST(SampleFit, FfPointUncertaintyByHand)
{
    Point q;
    q.p = 288;
    q.sigmaP = 1.44;
    q.v = 1;
    q.sigmaV = 0.03;
    const auto ff = FfPoints(std::span(&q, 1), 8);
    EXPECT_NEAR(ff[0].f, 1.5, 1e-14);
    EXPECT_NEAR(ff[0].F, 2, 1e-14);
    EXPECT_NEAR(ff[0].sigmaf, 0.04, 1e-15);
    const double fromV = 2 * 11.5 / 6 * 0.04, fromP = 1.44 / 144;
    EXPECT_NEAR(ff[0].sigmaF, std::hypot(fromP, fromV), 1e-14);
}

// Reported sigmas are those of the stated uncertainties, inflated by sqrt(chi2_red) only when
// the scatter is larger than they say: sigmas k times too small give the same parameters and,
// once chi2_red exceeds 1, the same uncertainties.
TEST(SampleFit, UncertaintiesScaleOnlyAboveUnitReducedChiSquare)
{
    std::mt19937_64 rng(7);
    const std::vector<Point> pts = Generate(kMgO, 20, &rng);
    Options o;
    const Result base = Fit(pts, o);
    ASSERT_TRUE(base.ok);
    const double c = base.chi2Reduced;
    ASSERT_GT(c, 0.3);
    for (double k : {2.0, 5.0}) {
        std::vector<Point> tight = pts;
        for (Point& q : tight) {
            q.sigmaP /= k;
            q.sigmaV /= k;
        }
        const Result r = Fit(tight, o);
        ASSERT_TRUE(r.ok);
        EXPECT_NEAR(r.chi2Reduced, c * k * k, 1e-6 * c * k * k);
        for (int j : {ef::kV0, ef::kK0, ef::kK0p}) {
            EXPECT_NEAR(r.value[static_cast<std::size_t>(j)], base.value[static_cast<std::size_t>(j)],
                        1e-3 * base.sigma[static_cast<std::size_t>(j)]);
            const double unscaled = base.sigma[static_cast<std::size_t>(j)] / std::sqrt(std::max(1.0, c));
            EXPECT_NEAR(r.sigma[static_cast<std::size_t>(j)], unscaled * std::sqrt(c), 1e-4 * unscaled);
        }
    }
}

TEST(SampleFit, FixedParameterKeepsItsValue)
{
    const std::vector<Point> pts = Generate(kMgO, 10, nullptr);
    Options o;
    o.fixed[ef::kV0] = 74.7;
    o.fixed[ef::kK0p] = 4;
    const Result r = Fit(pts, o);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.nRefined, 1);
    EXPECT_EQ(r.value[ef::kV0], 74.7);
    EXPECT_TRUE(std::isnan(r.sigma[ef::kV0]));
    EXPECT_NEAR(r.value[ef::kK0], 160, 1e-6);
    EXPECT_TRUE(std::isnan(r.covariance[ef::kK0][ef::kV0]));
    EXPECT_DOUBLE_EQ(r.correlation[ef::kK0][ef::kK0], 1);
}

// The ellipse's points lie where the quadratic form of the inverse 2x2 block equals delta chi2.
TEST(SampleFit, EllipseIsTheDeltaChiSquareContour)
{
    std::mt19937_64 rng(3);
    Options o;
    const Result r = Fit(Generate(kMgO, 20, &rng), o);
    ASSERT_TRUE(r.ok);
    const double a = r.covariance[ef::kK0][ef::kK0], b = r.covariance[ef::kK0][ef::kK0p],
                 c = r.covariance[ef::kK0p][ef::kK0p], det = a * c - b * b;
    for (double d : {2.30, 6.18}) {
        const auto pts = ef::Ellipse(r, d, 37);
        ASSERT_EQ(pts.size(), 37u);
        EXPECT_EQ(pts.front().x, pts.back().x);
        for (const auto& p : pts) {
            const double x = p.x - r.value[ef::kK0], y = p.y - r.value[ef::kK0p];
            EXPECT_NEAR((c * x * x - 2 * b * x * y + a * y * y) / det, d, 1e-9 * d);
        }
    }
    Options fixedK0p;
    fixedK0p.fixed[ef::kK0p] = 4;
    EXPECT_TRUE(ef::Ellipse(Fit(Generate(kMgO, 8, nullptr), fixedK0p), 2.30).empty());
}

TEST(SampleFit, PvtRecoversThermalParameters)
{
    hv::eos::Params truth;
    truth.isotherm = hv::eos::Isotherm::Vinet;
    truth.v0 = 67.85;
    truth.k0 = 167;
    truth.k0p = 6;
    truth.thermal = hv::eos::Thermal::MieGruneisenDebye;
    truth.t0 = 300;
    truth.theta0 = 170;
    truth.gamma0 = 2.97;
    truth.q = 0.6;
    truth.z = 4;
    truth.n = 1;
    std::vector<Point> pts;
    for (double t : {300.0, 1000.0, 2000.0}) {
        for (double x : {1.0, 0.95, 0.9, 0.85, 0.8, 0.75}) {
            Point q;
            q.v = truth.v0 * x;
            q.tK = t;
            q.p = hv::eos::Pressure(truth, q.v, t);
            q.sigmaP = 0.1;
            q.sigmaV = 0.01;
            q.sigmaT = 10;
            q.line = static_cast<int64_t>(pts.size()) + 2;
            pts.push_back(q);
        }
    }
    Options o;
    o.form = Form::Vinet;
    o.theta0 = 170;
    o.z = 4;
    const Result r = Fit(pts, o);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.nRefined, 5);
    EXPECT_NEAR(r.value[ef::kV0], 67.85, 1e-7);
    EXPECT_NEAR(r.value[ef::kK0], 167, 1e-5);
    EXPECT_NEAR(r.value[ef::kK0p], 6, 1e-6);
    EXPECT_NEAR(r.value[ef::kGamma0], 2.97, 1e-6);
    EXPECT_NEAR(r.value[ef::kQ], 0.6, 1e-5);
}

TEST(SampleFit, BadInputIsAClearError)
{
    const std::vector<Point> good = Generate(kMgO, 5, nullptr);  // lines 2 to 6
    struct Case {
        const char* what;
        void (*all)(Point&);  // done to every point first
        int index;            // the point spoiled
        void (*spoil)(Point&);
        int keep;             // points kept
        double theta0;
        const char* says;
    };
    const auto none = [](Point&) {};
    const auto at300 = [](Point& q) { q.tK = 300; };
    const Case cases[] = {
        {"too few", none, 0, none, 2, NAN, "2 points cannot determine 3 refined parameters"},
        {"no sigma", none, 3, [](Point& q) { q.sigmaP = 0; q.sigmaV = 0; }, 5, NAN, "line 5: the point has neither"},
        {"negative sigma_P", none, 1, [](Point& q) { q.sigmaP = -0.1; }, 5, NAN, "line 3: sigma_P must be positive"},
        {"negative sigma_V", none, 4, [](Point& q) { q.sigmaV = -1; }, 5, NAN, "line 6: sigma_V must be positive"},
        {"zero volume", none, 2, [](Point& q) { q.v = 0; }, 5, NAN, "line 4: the volume must be positive"},
        {"negative volume", none, 0, [](Point& q) { q.v = -3; }, 5, NAN, "line 2: the volume must be positive"},
        {"NaN pressure", none, 1, [](Point& q) { q.p = NAN; }, 5, NAN, "line 3: the pressure is not a finite number"},
        {"P-V-T without temperatures", none, 0, none, 5, 400, "needs temperatures"},
        {"one temperature", at300, 0, none, 5, 400, "line 2 to line 6, is at the same one"},
        {"two temperatures, no theta0", at300, 2, [](Point& q) { q.tK = 500; }, 5, NAN, "line 4: its temperature differs"},
        {"some temperatures", none, 2, [](Point& q) { q.tK = 500; }, 5, 400, "line 4: a temperature on some points only"},
        {"at 0 K", at300, 1, [](Point& q) { q.tK = 0; }, 5, 400, "line 3: the temperature must be above 0 K"},
        {"negative sigma_T", none, 2, [](Point& q) { q.sigmaT = -1; }, 5, NAN, "line 4: sigma_T must be positive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Point> pts(good.begin(), good.begin() + c.keep);
        for (Point& q : pts) c.all(q);
        c.spoil(pts[static_cast<std::size_t>(c.index)]);
        Options o;
        o.theta0 = c.theta0;
        const Result r = Fit(pts, o);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
        EXPECT_TRUE(std::isnan(r.value[ef::kV0]));
        EXPECT_TRUE(std::isnan(r.chi2));
    }
    Options bm2;
    bm2.form = Form::BM2;
    bm2.fixed[ef::kK0pp] = 1;
    EXPECT_NE(Fit(good, bm2).message.find("K0'' is not a parameter"), std::string::npos);
}

TEST(SampleFitRead, ColumnsByNameInAnyOrder)
{
    const auto r = ef::ReadPoints("Sigma_V,volume,sigma_p_gpa,P_GPA\n0.02,70.1,0.1,5.5\n0.03,68,0.2,9\n");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.points.size(), 2u);
    EXPECT_EQ(r.points[1].v, 68);
    EXPECT_EQ(r.points[1].sigmaV, 0.03);
    EXPECT_EQ(r.points[1].p, 9);
    EXPECT_EQ(r.points[1].sigmaP, 0.2);
    EXPECT_EQ(r.points[1].line, 3);
    EXPECT_TRUE(std::isnan(r.points[0].tK));
    EXPECT_FALSE(r.hasTemperature);

    // The pattern command's rows with v and sigma_v added; t_c in Celsius or kelvin.
    const auto pat = ef::ReadPoints(
        "file,standard,t_c,wavelength,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message,v,sigma_v\n"
        "p1.xy,NaCl,25,0.4133,5,5.3,0.001,0.9,3.1,0.05,ok,,74.1,0.02\n"
        "p2.xy,NaCl,500K,0.4133,5,5.2,0.001,0.8,7.2,0.06,ok,,72.0,0.02\n");
    ASSERT_TRUE(pat.ok) << pat.error;
    EXPECT_TRUE(pat.hasTemperature);
    EXPECT_DOUBLE_EQ(pat.points[0].tK, 298.15);
    EXPECT_DOUBLE_EQ(pat.points[1].tK, 500);
    EXPECT_EQ(pat.points[1].sigmaT, 0);
    EXPECT_EQ(pat.points[1].p, 7.2);
}

TEST(SampleFitRead, RefusesWhatItCannotRead)
{
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"p_gpa,sigma_p_gpa\n1,0.1\n", "no v column"},
        {"v,sigma_v\n1,0.1\n", "no p_gpa column"},
        {"p_gpa,v\n", "no rows"},
        {"p_gpa,v,sigma_v\n1,70,0.1\n2,,0.1\n", "line 3, v: empty"},
        {"p_gpa,v\n1,7O\n", "line 2, v: "},
        {"p_gpa,v,v\n1,70,70\n", "names v twice"},
        {"p_gpa,v,sigma_t\n1,70,1\n", "sigma_t but no t_c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto r = ef::ReadPoints(c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
        EXPECT_TRUE(r.points.empty());
    }
}

}  // namespace
