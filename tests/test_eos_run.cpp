// hivarnisse-calc eos end to end: a small file fitted, fixed parameters, bad rows and usage.
#include "calc_fixture.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using EosRun = CalcFixture;

// BM3 with V0 74.7, K0 160, K0' 4.5, written out here.
double Bm3(double v)
{
    const double f = (std::pow(74.7 / v, 2.0 / 3) - 1) / 2;
    return 3 * 160 * f * std::pow(1 + 2 * f, 2.5) * (1 + 1.5 * 0.5 * f);
}

// Exact points in a header order of our own, with the pattern command's columns around them.
std::string ExactFile(bool patternColumns)
{
    std::string s = patternColumns ? "file,standard,t_c,n_peaks,sigma_p_gpa,p_gpa,status,message,volume,sigma_v\n"
                                   : "v,sigma_v,p_gpa,sigma_p_gpa\n";
    for (int i = 0; i < 8; ++i) {
        const double v = 74.7 * (1 - 0.03 * i);
        char line[160];
        if (patternColumns) {
            std::snprintf(line, sizeof line, "p%d.xy,NaCl,25,4,0.1,%.17g,ok,,%.17g,0.02\n", i, Bm3(v), v);
        } else {
            std::snprintf(line, sizeof line, "%.17g,0.02,%.17g,0.1\n", v, Bm3(v));
        }
        s += line;
    }
    return s;
}

std::map<std::string, std::string> CsvRow(const std::string& out)
{
    std::istringstream in(out);
    std::string header, row;
    std::getline(in, header);
    std::getline(in, row);
    std::map<std::string, std::string> m;
    std::istringstream h(header), r(row);
    std::string name, value;
    while (std::getline(h, name, ',')) {
        std::getline(r, value, ',');
        m[name] = value;
        value.clear();
    }
    return m;
}

TEST_F(EosRun, CsvRowOfAnExactFile)
{
    for (bool pattern : {false, true}) {
        SCOPED_TRACE(pattern ? "pattern rows" : "plain");
        Write("pv.csv", ExactFile(pattern));
        const Outcome r = Calc("eos pv.csv --form bm3 --csv");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
                  "form,n_points,v0,sigma_v0,k0,sigma_k0,k0p,sigma_k0p,k0pp,sigma_k0pp,gamma0,sigma_gamma0,q,sigma_q,"
                  "chi2,chi2_reduced,max_abs_residual_sigma,status,message");
        auto m = CsvRow(r.out);
        EXPECT_EQ(m["form"], "BM3");
        EXPECT_EQ(m["n_points"], "8");
        EXPECT_NEAR(std::stod(m["v0"]), 74.7, 1e-8);
        EXPECT_NEAR(std::stod(m["k0"]), 160, 1e-6);
        EXPECT_NEAR(std::stod(m["k0p"]), 4.5, 1e-7);
        EXPECT_GT(std::stod(m["sigma_k0"]), 0);
        EXPECT_EQ(m["k0pp"], "");
        EXPECT_EQ(m["sigma_gamma0"], "");
        EXPECT_LT(std::stod(m["chi2"]), 1e-10);
        EXPECT_EQ(m["status"], "ok");
    }
}

TEST_F(EosRun, FixedParameterHasNoSigma)
{
    Write("pv.csv", ExactFile(false));
    const Outcome r = Calc("eos pv.csv --csv --fix V0=74.7 --fix k0p=4.5");
    ASSERT_EQ(r.status, 0) << r.err;
    auto m = CsvRow(r.out);
    EXPECT_EQ(m["v0"], "74.7");
    EXPECT_EQ(m["sigma_v0"], "");
    EXPECT_EQ(m["k0p"], "4.5");
    EXPECT_NEAR(std::stod(m["k0"]), 160, 1e-6);
    // BM2 holds K0' at 4 and says so.
    const Outcome s = Calc("eos pv.csv --form BM2");
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_NE(s.out.find("K0'     4 (fixed)"), std::string::npos) << s.out;
}

TEST_F(EosRun, SummaryResidualsAndPictures)
{
    Write("pv.csv", ExactFile(false));
    const Outcome r = Calc("eos pv.csv --residuals res.csv --plot figs --plot-format svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("BM3 equation of state from 8 points, 3 refined parameters\n", 0), 0u) << r.out;
    // V0 exact, to the second significant digit of a sigma of a few hundredths.
    EXPECT_NE(r.out.find("\n  V0      74.700 +/- 0.0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  K0'     4.500 +/- 0.0"), std::string::npos) << r.out;
    const std::string res = Slurp(dir_ / "res.csv");
    EXPECT_EQ(res.substr(0, res.find('\n')),
              "line,v,p_gpa,p_fit_gpa,residual_gpa,sigma_eff_gpa,residual_sigma,f,sigma_f,F_gpa,sigma_F_gpa");
    EXPECT_EQ(std::count(res.begin(), res.end(), '\n'), 9);
    for (const char* name : {"eos_pv.svg", "eos_ff.svg", "eos_ellipse.svg"}) {
        EXPECT_NE(Slurp(dir_ / "figs" / name).find("<svg"), std::string::npos) << name;
    }
}

TEST_F(EosRun, BadInputAndUsage)
{
    Write("zero.csv", "p_gpa,sigma_p_gpa,v,sigma_v\n1,0.1,70,0.01\n2,0,69,0\n3,0.1,68,0.01\n4,0.1,67,0.01\n");
    Write("nov.csv", "p_gpa,sigma_p_gpa\n1,0.1\n");
    Write("two.csv", "p_gpa,sigma_p_gpa,v,sigma_v\n1,0.1,70,0.01\n2,0.1,69,0.01\n");
    Write("hot.csv", ExactFile(true));
    const struct {
        const char* args;
        int status;
        const char* says;
    } cases[] = {
        {"eos zero.csv", 1, "line 3: the point has neither sigma_P nor sigma_V"},
        {"eos two.csv --csv", 1, "2 points cannot determine 3 refined parameters"},
        {"eos hot.csv --theta0 300", 1, "is at the same one"},
        {"eos nov.csv", 2, "no v column"},
        {"eos missing.csv", 2, "cannot read missing.csv"},
        {"eos two.csv --form BM5", 2, "--form"},
        {"eos two.csv --fix K1=3", 2, "--fix"},
        {"eos two.csv --z 4", 2, "--theta0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome r = Calc(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    // With --csv a failed fit still writes its row, with status error.
    const Outcome r = Calc("eos two.csv --csv");
    auto m = CsvRow(r.out);
    EXPECT_EQ(m["status"], "error");
    EXPECT_EQ(m["v0"], "");
}

}  // namespace
