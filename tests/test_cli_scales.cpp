// The faces' part of the published scales: names as typed, the scale named in every output,
// the batch's scale column, pressure --volume and --scale all, spacing of a hexagonal cell,
// and the standards' listing. Expected numbers come from the equations evaluated here.
#include "calc_fixture.h"
#include "rows/commands.h"
#include "core/numbers.h"
#include "rows/batch.h"
#include "rows/csv.h"
#include "rows/pattern_rows.h"
#include "rows/standards_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// ---- The equations, written out again ----

double Vinet(double v, double v0, double k0, double k0p)
{
    const double x = std::cbrt(v / v0);
    return 3 * k0 * (1 - x) / (x * x) * std::exp(1.5 * (k0p - 1) * (1 - x));
}

double BirchMurnaghan3(double v, double v0, double k0, double k0p)
{
    const double f = (std::pow(v / v0, -2.0 / 3) - 1) / 2;
    return 3 * k0 * f * std::pow(1 + 2 * f, 2.5) * (1 + 1.5 * (k0p - 4) * f);
}

// Temperatures are read as the window reads a typed number: narrowed to single, in Celsius.
double Kelvin(float celsius)
{
    return static_cast<double>(celsius) + 273.15;
}

std::vector<std::string> Split(const std::string& text, char at)
{
    std::vector<std::string> out(1);
    for (char c : text) c == at ? out.emplace_back() : out.back() += c;
    if (!text.empty() && text.back() == at) out.pop_back();
    return out;
}

// The value of a column of a CSV row (no quoted fields before it), by the header's name.
std::string Column(const std::string& csv, std::size_t row, const std::string& name)
{
    const std::vector<std::string> lines = Split(csv, '\n');
    const std::vector<std::string> head = Split(lines.at(0), ',');
    const std::vector<std::string> fields = Split(lines.at(row + 1) + ",", ',');
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == name) return i < fields.size() ? fields[i] : "";
    }
    ADD_FAILURE() << "no column " << name << " in " << lines[0];
    return "";
}

double Number(const std::string& text)
{
    double v = std::nan("");
    std::string why;
    EXPECT_TRUE(hv::ParseNumber(text, v, why)) << text;
    return v;
}

std::string VolumeCsv(const std::string& standard, const std::string& t, const std::string& v,
                      const std::string& sigmaV = "", const std::string& scale = "")
{
    hv::rows::PressureRequest q;
    q.standard = standard;
    q.temperature = t;
    q.csv = true;
    q.volume = v;
    q.sigmaVolume = sigmaV;
    q.scale = scale;
    std::string out, err;
    EXPECT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
    return out;
}

// ---- pressure --volume ----

TEST(Scales, PressureOfAVolumeFollowsEachEquation)
{
    // Near T0 (300 K typed, 26.85 C in single precision: 4e-7 K above) the thermal pressure is
    // below 1e-10 of P; the linear thermal scales away from T0 are written out in full.
    const float hot = 726.85f;
    struct Case { const char* standard; const char* t; double v, v0, expected; };
    const Case cases[] = {
        {"Au", "300K", 60, 67.85, Vinet(60, 67.85, 167, 6)},
        {"au:fei2007", "300K", 55, 67.85, Vinet(55, 67.85, 167, 6)},
        {"Pt", "300K", 52, 60.38, Vinet(52, 60.38, 277, 5.08)},
        {"MgO", "300K", 65, 74.698, Vinet(65, 74.698, 160.63, 4.367)},
        {"NaCl-B2", "300K", 30, 41.35, Vinet(30, 41.35, 26.86, 5.25)},
        {"Mo", "300K", 28, 31.14, BirchMurnaghan3(28, 31.14, 255, 4.25)},
        {"Au:Anderson1989", "726.85", 60, 67.85,
         BirchMurnaghan3(60, 67.85, 166.65, 5.4823) + (0.00714 - 0.0115 * std::log(67.85 / 60)) * (Kelvin(hot) - 300)},
        {"Pt:Holmes1989", "726.85", 54, 60.38,
         Vinet(54, 60.38, 798.31 / 3, 1 + 7.2119 / 1.5) + 2.61e-5 * 798.31 / 3 * (Kelvin(hot) - 300)},
        {"KCl-B2", "726.85", 40, 54.5, Vinet(40, 54.5, 17.2, 5.89) + 0.00224 * (Kelvin(hot) - 300)},
        {"re", "726.85", 27, 29.4087,
         BirchMurnaghan3(27, 29.4087, 360, 4.5) + (0.00776 - 0.00815 * std::log(29.4087 / 27)) * (Kelvin(hot) - 300)},
        {"Re:Ono2022", "726.85", 27, 29.4845,
         Vinet(27, 29.4845, 384, 3.26) + (0.0056 - 0.00042 * std::log(29.4845 / 27)) * (Kelvin(hot) - 300)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.standard);
        const std::string csv = VolumeCsv(c.standard, c.t, std::to_string(c.v));
        EXPECT_EQ(Column(csv, 0, "status"), "ok");
        const double p = Number(Column(csv, 0, "p_gpa"));
        EXPECT_NEAR(p, c.expected, 1e-9 * std::abs(c.expected));
        EXPECT_NEAR(Number(Column(csv, 0, "v_ratio")), c.v / c.v0, 1e-15);
    }
}

TEST(Scales, SigmaOfAVolumeIsTheModulusOverV)
{
    // sigma_P = K/V sigma_V, K = -V dP/dV from a central difference of the isotherm.
    const double v = 60, h = 1e-4;
    const double slope = (Vinet(v + h, 67.85, 167, 6) - Vinet(v - h, 67.85, 167, 6)) / (2 * h);
    const std::string csv = VolumeCsv("Au", "300K", "60", "0.05");
    EXPECT_NEAR(Number(Column(csv, 0, "sigma_p_gpa")), -slope * 0.05, 1e-7 * -slope * 0.05);
    EXPECT_EQ(Split(csv, '\n').at(0),
              "volume,sigma_volume,standard,t_c,scale,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message");
    EXPECT_EQ(Column(csv, 0, "scale"), "Au:Fei2007");
    EXPECT_EQ(Column(csv, 0, "standard"), "Au");  // as typed
}

TEST(Scales, ScaleAllListsEveryScaleOfTheMaterial)
{
    struct Case { const char* standard; const char* v; std::vector<std::string> scales; };
    const Case cases[] = {
        {"au", "62", {"Au:Fei2007", "Au:Anderson1989"}},
        {"Pt:Holmes1989", "56", {"Pt:Fei2007", "Pt:Holmes1989"}},
        {"MgO", "70", {"MgO:Tange2009", "MgO:Speziale2001"}},
        {"NaCl", "150", {"NaCl", "NaCl:Matsui2012"}},
        {"KCl-B2", "45", {"KCl-B2:Dewaele2012", "KCl-B2:Tateno2019"}},
        {"CsCl", "62", {"CsCl", "CsCl:Dewaele2020"}},
        {"Re", "27", {"Re:Zha2004", "Re:Ono2022"}},
        {"Mo", "29", {"Mo:Huang2016", "Mo:Litasov2013"}},
        {"W", "30", {"W:Litasov2013"}},
        {"Ne", "40", {"Ne:Fei2007"}},
        {"NaCl-B2", "35", {"NaCl-B2:Fei2007"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.standard);
        const std::string csv = VolumeCsv(c.standard, "25", c.v, "", "all");
        const std::vector<std::string> lines = Split(csv, '\n');
        ASSERT_EQ(lines.size(), c.scales.size() + 1) << csv;
        for (std::size_t k = 0; k < c.scales.size(); ++k) {
            EXPECT_EQ(Column(csv, k, "scale"), c.scales[k]);
            EXPECT_NE(Column(csv, k, "status"), "error") << lines[k + 1];
        }
        // The listing has one line per scale, each starting with its name.
        hv::rows::PressureRequest q;
        q.standard = c.standard;
        q.temperature = "25";
        q.volume = c.v;
        q.scale = "all";
        std::string out, err;
        ASSERT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
        for (const std::string& name : c.scales) EXPECT_NE(out.find("\n" + name + " "), std::string::npos) << out;
    }
}

TEST(Scales, ListingNamesTheScaleUsed)
{
    hv::rows::PressureRequest q;
    q.standard = "AU";
    q.temperature = "300K";
    q.peaks = {"111:2.2815", "200:1.9759"};
    std::string out, err;
    ASSERT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
    EXPECT_EQ(out.rfind("Au:Fei2007 at 26.85 C, 2 peaks\n", 0), 0u) << out;
    // The built-in model's first line is what it always was.
    q.standard = "nacl";
    q.peaks = {"200:2.75"};
    ASSERT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
    EXPECT_EQ(out.rfind("NaCl at 26.85 C, 1 peak\n", 0), 0u) << out;
}

TEST(Scales, BadVolumeArguments)
{
    struct Case { std::string volume, sigma, scale; std::vector<std::string> peaks; const char* why; };
    const Case cases[] = {
        {"60", "", "", {"111:2.3"}, "give peaks or --volume, not both"},
        {"", "0.1", "", {}, "--sigma-volume goes with --volume"},
        {"-60", "", "", {}, "--volume: must be a positive number of A^3"},
        {"0", "", "", {}, "--volume: must be a positive number of A^3"},
        {"60", "-1", "", {}, "--sigma-volume: must be 0 A^3 or more"},
        {"60", "", "some", {}, "--scale: \"some\" is not known"},
        {"", "", "", {}, "no peak given"},
    };
    for (const Case& c : cases) {
        hv::rows::PressureRequest q;
        q.standard = "Au";
        q.temperature = "25";
        q.volume = c.volume;
        q.sigmaVolume = c.sigma;
        q.scale = c.scale;
        q.peaks = c.peaks;
        std::string out, err;
        EXPECT_EQ(hv::rows::RunPressure(q, out, err), 2) << c.why;
        EXPECT_EQ(err.rfind(c.why, 0), 0u) << err;
    }
}

// ---- batch ----

hv::rows::BatchSummary RunBatchOn(const std::string& input, std::string& out, unsigned jobs = 1)
{
    hv::rows::MemorySource source(input);
    return hv::rows::RunBatch(source, [&](std::string_view t) { out += t; }, jobs);
}

TEST(Scales, BatchOfTheBuiltInThreeKeepsItsBytes)
{
    // NaCl:built-in is the built-in model too: no scale column.
    std::string out;
    RunBatchOn("standard,t_c,hkl,d\nNaCl,25,200,2.75\nnacl:BUILT-IN,25,200,2.75\nCsCl,25,110,2.8\n", out);
    EXPECT_EQ(out, "standard,t_c,hkl,d,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n"
                   "NaCl,25,200,2.75,5.5,,0.9273651838302612,2.1517081,,ok,\n"
                   "nacl:BUILT-IN,25,200,2.75,5.5,,0.9273651838302612,2.1517081,,ok,\n"
                   "CsCl,25,110,2.8,3.9597979072097087,,0.8884459957480431,2.762589,,ok,\n");
}

TEST(Scales, BatchAddsAScaleColumnForAPublishedScale)
{
    std::string out;
    const hv::rows::BatchSummary s =
        RunBatchOn("standard,t_c,hkl,d\nNaCl,25,200,2.75\nAu,300K,lp,3.9\nGold,25,lp,3.9\n", out, 3);
    EXPECT_EQ(s.exitCode, 1);
    const std::vector<std::string> lines = Split(out, '\n');
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_EQ(lines[0], "standard,t_c,hkl,d,scale,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message");
    EXPECT_EQ(lines[1], "NaCl,25,200,2.75,NaCl,5.5,,0.9273651838302612,2.1517081,,ok,");
    EXPECT_EQ(Column(out, 1, "scale"), "Au:Fei2007");
    // A published scale reads the spacing in double precision, and its p_gpa is a double.
    EXPECT_NEAR(Number(Column(out, 1, "p_gpa")), Vinet(3.9 * 3.9 * 3.9, 67.85, 167, 6), 1e-9 * 34);
    EXPECT_GT(Column(out, 1, "p_gpa").size(), 12u);  // not narrowed to single's 9 digits
    EXPECT_EQ(Column(out, 2, "scale"), "");
    EXPECT_EQ(Column(out, 2, "status"), "error");
}

TEST(Scales, BatchPatternsNameTheirScale)
{
    std::string out;
    RunBatchOn("pattern,standard,t_c,hkl,d\np1,Au,25,111,2.2815\np1,Au,25,200,1.9759\np2,NaCl,25,200,2.75\n", out);
    const std::vector<std::string> lines = Split(out, '\n');
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_EQ(lines[0], "pattern,standard,t_c,n_peaks,scale,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message");
    EXPECT_EQ(lines[1].rfind("p1,Au,25,2,Au:Fei2007,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "p2,NaCl,25,1,NaCl,5.5,,0.9273651838302612,2.1517081,,ok,");
}

// A source that can only be read once, as a pipe.
class OnceSource final : public hv::rows::Source {
public:
    explicit OnceSource(std::string_view data) : data_(data) {}
    long Read(char* buffer, std::size_t size) override { return data_.Read(buffer, std::min<std::size_t>(size, 7)); }

private:
    hv::rows::MemorySource data_;
};

TEST(Scales, AnInputReadOnceIsSpooledForTheSecondPass)
{
    for (const std::string& input : {std::string("standard,t_c,hkl,d\nNaCl,25,200,2.75\nPt,25,lp,3.8\n"),
                                    std::string("standard,t_c,hkl,d\nNaCl,25,200,2.75\n"), std::string("")}) {
        std::string once, memory;
        OnceSource source(input);
        const hv::rows::BatchSummary a = hv::rows::RunBatch(source, [&](std::string_view t) { once += t; }, 2);
        const hv::rows::BatchSummary b = RunBatchOn(input, memory, 2);
        EXPECT_EQ(once, memory);
        EXPECT_EQ(a.exitCode, b.exitCode);
        EXPECT_EQ(a.error, b.error);
    }
}

TEST(Scales, PatternRowsNameAPublishedScale)
{
    hv::pattern::Outcome o;
    o.wavelength = 0.4133;
    o.result.status = hv::Status::Ok;
    o.result.a = 4;
    o.result.vRatio = 0.9;
    o.result.pressure = 12.345678901234567;
    o.result.pGpa = 12.345679f;
    struct Case { const char* typed; const char* row; };
    for (const Case c : {Case{" au ", "f.xy,Au:Fei2007,25,0.4133,0,4,,0.9,12.345678901234567,,ok,,,,,,,,\n"},
                         Case{"Pt:holmes1989", "f.xy,Pt:Holmes1989,25,0.4133,0,4,,0.9,12.345678901234567,,ok,,,,,,,,\n"},
                         Case{"nacl", "f.xy,nacl,25,0.4133,0,4,,0.9,12.345679,,ok,,,,,,,,\n"},
                         Case{"Gold", "f.xy,Gold,25,0.4133,0,4,,0.9,12.345679,,ok,,,,,,,,\n"}}) {
        std::string out;
        hv::rows::AppendPatternRow(out, "f.xy", c.typed, "25", o);
        EXPECT_EQ(out, c.row);
    }
}

// ---- The real program ----

using ScalesCalcTest = CalcFixture;

TEST_F(ScalesCalcTest, BatchFromAPipeAndAFile)
{
    const std::string input = "sample,standard,t_c,hkl,d\nr1,Re:Zha2004,25,lp,2.7\nr2,Pt,25,lp,3.8\n";
    Write("in.csv", input);
    const Outcome file = Calc("batch in.csv");
    const Outcome redirected = Calc("batch", input);
    EXPECT_EQ(file.out, redirected.out);
    EXPECT_EQ(Column(file.out, 1, "scale"), "Pt:Fei2007");
    // Re is hexagonal: one spacing gives no cell, and says so.
    EXPECT_EQ(Column(file.out, 0, "status"), "error");
    // Through a real pipe, which cannot be read twice.
    const std::string cmd = "cd '" + dir_.string() + "' && cat in.csv | '" + HV_CALC + "' batch > piped";
    ASSERT_EQ(std::system(cmd.c_str()), 256);  // exit status 1: the Re row is an error
    EXPECT_EQ(Slurp(dir_ / "piped"), file.out);
}

TEST_F(ScalesCalcTest, SpacingOfRheniumGivesAAndC)
{
    const Outcome r = Calc("spacing --standard Re --temperature 25 --pressure 50 --wavelength 0.2952");
    ASSERT_EQ(r.status, 0) << r.err;
    double a = 0, c = 0, v = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "Re:Zha2004 at 25 C and 50 GPa: a = %lf A, c = %lf A, V/V0 = %*f, V = %lf A^3",
                          &a, &c, &v),
              3)
        << r.out;
    EXPECT_NEAR(c / a, 1.6148, 1e-6);
    EXPECT_NEAR(std::sqrt(3.0) / 2 * a * a * c, v, 1e-4);  // each printed to 7 digits
    // That volume is the one of 50 GPa.
    const Outcome back = Calc("pressure --standard Re --temperature 25 --csv --volume " + hv::Shortest(v));
    EXPECT_NEAR(Number(Column(back.out, 0, "p_gpa")), 50, 1e-3);
    // Those spacings, measured, give a, c and 50 GPa back.
    const Outcome fit = Calc("pressure --standard Re --temperature 25 100:2.305355:0.0003 002:2.1492944:0.0003 "
                             "101:2.0316243:0.0003");
    EXPECT_NE(fit.out.find("\nc      = 4.298589 +/- "), std::string::npos) << fit.out;
    EXPECT_NE(fit.out.find("\nP      = 50 +/- "), std::string::npos) << fit.out;
    // Its reflections in CSV, n empty: a hexagonal cell has no h^2+k^2+l^2 order.
    const Outcome csv = Calc("spacing --standard re --temperature 25 --pressure 50 --csv");
    EXPECT_EQ(csv.out.rfind("hkl,n,d\n100,,2.305355\n002,,", 0), 0u) << csv.out;
}

TEST_F(ScalesCalcTest, StandardsListNamesEveryReference)
{
    const Outcome r = Calc("standards");
    ASSERT_EQ(r.status, 0) << r.err;
    const Outcome csv = Calc("standards --csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(Split(csv.out, '\n').at(0), hv::rows::kStandardsHeader);
    for (const char* cite : {"Fei et al. (2007), Proc. Natl. Acad. Sci. USA 104, 9182", "J. Appl. Phys. 65, 1534", "J. Appl. Phys. 66, 2962",
                             "J. Geophys. Res. 114, B03208", "J. Geophys. Res. 106, 515", "Am. Mineral. 97, 1670",
                             "Phys. Rev. B 85, 214105", "10.2138/am-2019-6779", "10.1080/08957959.2020.1774754",
                             "10.1063/1.1765752", "10.1155/2022/7545777", "Sci. Rep. 6, 19923", "10.1063/1.4794127",
                             "10.1063/1.4799018", "J. Appl. Phys. 42, 3239"}) {
        EXPECT_NE(r.out.find(cite), std::string::npos) << cite;
        EXPECT_NE(csv.out.find(cite), std::string::npos) << cite;
    }
    for (const char* name : {"Au:Anderson1989", "NaCl:Matsui2012", "KCl-B2:Tateno2019", "W:Litasov2013", "hcp"}) {
        EXPECT_NE(r.out.find(name), std::string::npos) << name;
    }
}

}  // namespace
