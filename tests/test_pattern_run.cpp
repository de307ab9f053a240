// hivarnisse-calc pattern end to end on pattern files made here: rows against the pressure
// command on the fitted peaks, bad files among good ones, --list, pictures, usage errors.
#include "core/inverse.h"
#include "core/standards.h"
#include "core/units.h"

#include "calc_fixture.h"
#include "cli/plot.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Ran = Outcome;

const auto Rows = CsvRows;

// An .xy pattern of NaCl at pressure p and temperature t: pseudo-Voigt peaks (eta 0.5), odd
// reflections weak as the structure makes them, with
// widths growing with angle on a flat background, Poisson noise. The spacings come from the
// core's inverse, so the truth is known independently of the fit.
// Rock salt's odd reflections (all indices odd, h^2+k^2+l^2 odd) scatter as the difference of
// its ions, the even ones as their sum: with Na+ 10 and Cl- 18 electrons near 0 angle,
// (18 - 10)^2 / (18 + 10)^2 of an even reflection's strength.
constexpr double kOddShare = (18.0 - 10.0) * (18.0 - 10.0) / ((18.0 + 10.0) * (18.0 + 10.0));

struct Synthetic {
    double p = 5, t = 25, wavelength = 0.4133;
    bool wavelengthComment = true;
    unsigned seed = 1;
    double aTrue = 0;
};

std::string Pattern(Synthetic& s)
{
    const hv::SpacingResult at = hv::SpacingsAt(*hv::FindStandard("NaCl"), static_cast<float>(s.t), s.p, 40);
    s.aTrue = at.a;
    std::mt19937 rng(s.seed);
    std::ostringstream out;
    out.precision(10);
    if (s.wavelengthComment) out << "# Wavelength: " << s.wavelength * 1e-10 << " m\n";
    out << "# 2th_deg I\n";
    for (int i = 0; i < 3000; ++i) {
        const double x = 4 + 20.0 * i / 2999;
        double y = 200;
        for (const hv::SpacingRow& r : at.rows) {
            const double c = hv::PositionOf(hv::XUnit::TwoThetaDeg, r.d, {s.wavelength, hv::kNone});
            const double w = 0.05 + 0.003 * c, u = (x - c) / w;
            y += 3000 / std::sqrt(r.n) * (r.n % 2 ? kOddShare : 1) * (0.5 * std::exp(-4 * std::log(2.0) * u * u) + 0.5 / (1 + 4 * u * u));
        }
        out << x << ' ' << std::poisson_distribution<int>(y)(rng) << '\n';
    }
    return out.str();
}

using PatternRun = CalcFixture;

constexpr const char* kComputed[] = {"a", "sigma_a", "v_ratio", "p_gpa", "sigma_p_gpa", "status"};

// A pattern's row is the pressure command's answer for the peaks it used, to the bit; and the
// pressure is the one the pattern was made at.
TEST_F(PatternRun, RowIsThePressureOfItsPeaks)
{
    std::vector<Synthetic> made = {{2, 25, 0.4133, true, 1}, {8, 25, 0.4133, true, 2}, {15, 25, 0.4133, true, 3}};
    std::string names;
    for (std::size_t i = 0; i < made.size(); ++i) {
        Write("p" + std::to_string(i) + ".xy", Pattern(made[i]));
        names += " p" + std::to_string(i) + ".xy";
    }
    const Ran r = Calc("pattern --standard NaCl --temperature 25 --sigma-t 5 --jobs 2 --peaks peaks.csv" + names);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.err, "");
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), made.size());
    const auto peaks = Rows(Slurp(dir_ / "peaks.csv"));
    for (std::size_t i = 0; i < made.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.at("file"));
        EXPECT_EQ(row.at("file"), "p" + std::to_string(i) + ".xy");  // input order, names as typed
        EXPECT_EQ(row.at("wavelength"), "0.4133");
        std::string args;
        int used = 0, predicted = 0;
        for (const auto& pk : peaks) {
            if (pk.at("file") != row.at("file")) continue;
            ++predicted;
            if (pk.at("used") != "1") continue;
            ++used;
            args += " " + pk.at("hkl") + ":" + pk.at("d") + ":" + pk.at("sigma_d");
        }
        // 2-theta 4 to 24 degrees holds eight or more of NaCl's reflections at these pressures.
        EXPECT_GE(predicted, 8);
        EXPECT_EQ(row.at("n_peaks"), std::to_string(used));
        const Ran p = Calc("pressure --standard NaCl --temperature 25 --sigma-t 5 --csv" + args);
        ASSERT_EQ(p.status, 0) << p.err;
        const auto direct = Rows(p.out);
        ASSERT_EQ(direct.size(), 1u);
        for (const char* column : kComputed) EXPECT_EQ(row.at(column), direct[0].at(column)) << column;
        // Within four of its sigma of the truth (a true, made by the inverse).
        const double a = std::stod(row.at("a")), sa = std::stod(row.at("sigma_a"));
        EXPECT_LT(std::abs(a - made[i].aTrue), 4 * sa) << a << " vs " << made[i].aTrue;
        EXPECT_NEAR(std::stod(row.at("p_gpa")), made[i].p, 0.05);
    }
}

// Every class of bad file among good ones: a row each that says why, the good ones computed.
TEST_F(PatternRun, BadFilesAmongGoodOnes)
{
    Synthetic good{5, 25, 0.4133, true, 7};
    const std::string text = Pattern(good);
    Write("good1.xy", text);
    Write("good2.xy", text);
    std::string junk(4000, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919u) & 0xff);
    Write("junk.xy", junk);
    Write("words.xy", "# a pattern\nno numbers here\nnor here\n");
    Write("short.xy", text.substr(0, text.find('\n', 200)) + "\n");
    std::string backwards = text;
    backwards.insert(text.find("\n", text.find("\n", 2000) + 1) + 1, "4.0 100\n");
    Write("backwards.xy", backwards);
    std::string nan = text;
    nan.insert(text.find("\n", 3000) + 1, "4.5 nan\n");
    Write("nan.xy", nan);
    Write("nowavelength.xy", text.substr(text.find('\n') + 1));
    Write("huge.xy", "");
    fs::resize_file(dir_ / "huge.xy", std::uintmax_t{300} << 20);  // sparse: no disk used
    fs::create_directories(dir_ / "folder.xy");

    struct Case {
        const char* file;
        const char* why;
    };
    const Case cases[] = {
        {"junk.xy", "binary"},          {"words.xy", "no rows of numbers"}, {"short.xy", "at least 20"},
        {"backwards.xy", "strictly"},   {"nan.xy", "not a finite number"}, {"nowavelength.xy", "wavelength"},
        {"huge.xy", "256 MiB"},         {"folder.xy", "directory"},         {"absent.xy", "No such file"},
    };
    std::string args = "good1.xy";
    for (const Case& c : cases) args += std::string(" ") + c.file;
    const Ran r = Calc("pattern --standard NaCl --temperature 25 " + args + " good2.xy");
    EXPECT_EQ(r.status, 1) << r.err;
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), std::size(cases) + 2);
    EXPECT_EQ(rows.front().at("status"), "ok");
    EXPECT_EQ(rows.back().at("status"), "ok");
    EXPECT_EQ(rows.front().at("p_gpa"), rows.back().at("p_gpa"));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& row = rows[i + 1];
        EXPECT_EQ(row.at("file"), cases[i].file);
        EXPECT_EQ(row.at("status"), "error");
        EXPECT_EQ(row.at("p_gpa") + row.at("a") + row.at("sigma_p_gpa"), "");
        EXPECT_NE(row.at("message").find(cases[i].why), std::string::npos) << cases[i].file << ": " << row.at("message");
    }
    // The reader names the line where it helps.
    EXPECT_NE(rows[5].at("message").find(", line "), std::string::npos) << rows[5].at("message");
}

// A list with relative paths, per-file temperatures, sigma_t, wavelength and standard.
TEST_F(PatternRun, ListOfFiles)
{
    Synthetic cold{4, 25, 0.4133, true, 11}, hot{4, 300, 0.4133, true, 12}, bare{4, 25, 0.3, false, 13};
    Write("run/cold.xy", Pattern(cold));
    Write("run/hot.xy", Pattern(hot));
    Write("run/data/bare.xy", Pattern(bare));
    Write("run/list.csv", "File,t_c,sigma_t,wavelength,note\n"
                          "cold.xy,,,,room\n"
                          "hot.xy,300,10,,heated\n"
                          "data/bare.xy,25,,0.3,no wavelength in the file\n"
                          "hot.xy,warm,,,bad temperature\n");
    const Ran r = Calc("pattern --list run/list.csv --standard nacl --temperature 25");
    EXPECT_EQ(r.status, 1) << r.err;
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    const std::string files[] = {"cold.xy", "hot.xy", "data/bare.xy", "hot.xy"};
    const std::string temps[] = {"25", "300", "25", "warm"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].at("file"), files[i]);
        EXPECT_EQ(rows[i].at("t_c"), temps[i]);
        EXPECT_EQ(rows[i].at("standard"), "nacl");
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].at("status"), "ok") << rows[i].at("message");
        // Each at its own temperature: 4 GPa, the hot one through its thermal pressure.
        EXPECT_NEAR(std::stod(rows[i].at("p_gpa")), 4, 0.05) << files[i];
    }
    EXPECT_EQ(rows[2].at("wavelength"), "0.3");
    EXPECT_EQ(rows[3].at("status"), "error");
    EXPECT_NE(rows[3].at("message").find("list line 5: t_c"), std::string::npos) << rows[3].at("message");
    // sigma_t widens sigma_P: the hot file, with 10 K, against the same file without.
    const Ran plain = Calc("pattern --standard NaCl --temperature 300 run/hot.xy");
    const double with = std::stod(rows[1].at("sigma_p_gpa")), without = std::stod(Rows(plain.out)[0].at("sigma_p_gpa"));
    EXPECT_GT(with, without);
    EXPECT_EQ(rows[1].at("p_gpa"), Rows(plain.out)[0].at("p_gpa"));
}

// Pictures: one per file named after it (a second file of the same name gets -2), and the series.
TEST_F(PatternRun, Pictures)
{
    Synthetic s{3, 25, 0.4133, true, 21};
    const std::string text = Pattern(s);
    Write("a/series.xy", text);
    Write("b/series.xy", text);
    Write("words.xy", "nothing\n");
    const Ran png = Calc("pattern --standard NaCl --temperature 25 --plot fits a/series.xy b/series.xy words.xy");
    EXPECT_EQ(png.status, 1) << png.err;
    EXPECT_EQ(png.err, "");  // no picture failed (and, under ASan, nothing leaked)
    for (const char* name : {"series-2.png", "series-3.png", "series.png"}) {
        const std::string bytes = Slurp(dir_ / "fits" / name);
        EXPECT_GT(bytes.size(), 5000u) << name;
        EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "fits" / "words.png"));  // nothing read, nothing drawn
    const Ran svg = Calc("pattern --standard NaCl --temperature 25 --plot fits-svg --plot-format svg a/series.xy");
    EXPECT_EQ(svg.status, 0) << svg.err;
    EXPECT_EQ(svg.err, "");
    for (const char* name : {"series-2.svg", "series.svg"}) {
        const std::string text2 = Slurp(dir_ / "fits-svg" / name);
        EXPECT_EQ(text2.rfind("<?xml", 0), 0u) << name;
        EXPECT_NE(text2.find("</svg>"), std::string::npos) << name;
    }
}

TEST_F(PatternRun, UsageErrorsComputeNothing)
{
    Synthetic s{3, 25, 0.4133, true, 31};
    Write("p.xy", Pattern(s));
    Write("nofile.csv", "name,t_c\np.xy,25\n");
    struct Case {
        const char* args;
        const char* why;
    };
    for (const Case c : {
             Case{"--standard NaCl --temperature 25", "no file given"},
             Case{"--temperature 25 p.xy", "--standard is required"},
             Case{"--standard NaCl p.xy", "--temperature is required"},
             Case{"--standard NaBr --temperature 25 p.xy", "--standard"},
             Case{"--standard NaCl --temperature -300 p.xy", "--temperature"},
             Case{"--standard NaCl --temperature 25 --sigma-t -1 p.xy", "--sigma-t"},
             Case{"--standard NaCl --temperature 25 --wavelength 0.4 --energy 30 p.xy", "--energy"},
             Case{"--standard NaCl --temperature 25 --wavelength 0 p.xy", "--wavelength"},
             Case{"--standard NaCl --temperature 25 --x-unit furlong p.xy", "2theta|"},
             Case{"--standard NaCl --temperature 25 --x-unit kev p.xy", "--two-theta-fixed"},
             Case{"--standard NaCl --temperature 25 --pressure-guess 5 --pressure-range 1:9 p.xy", "--pressure"},
             Case{"--standard NaCl --temperature 25 --range 9 p.xy", "LO:HI"},
             Case{"--standard NaCl --temperature 25 --range 9:3 p.xy", "below HI"},
             Case{"--standard NaCl --temperature 25 --reflections 200,210 p.xy", "no reflection 2 1 0"},
             Case{"--standard NaCl --temperature 25 --plot-format gif --plot x p.xy", "png or svg"},
             Case{"--standard NaCl --temperature 25 --list absent.csv", "cannot read"},
             Case{"--standard NaCl --temperature 25 --list nofile.csv", "no file column"},
             Case{"--standard NaCl --temperature 25 --list nofile.csv p.xy", "--list"},
             Case{"--standard NaCl --temperature 25 --jobs x p.xy", "--jobs"},
         }) {
        SCOPED_TRACE(c.args);
        const Ran r = Calc(std::string("pattern ") + c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    }
    const Ran help = Calc("pattern --help");
    EXPECT_EQ(help.status, 0);
    for (const char* needed : {"file,standard,t_c,wavelength,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message",
                               "file,hkl,n,position,sigma_position,fwhm,eta,height,d,sigma_d,a_i,used,note",
                               "--pressure-range", "--plot-format", "Examples:"}) {
        EXPECT_NE(help.out.find(needed), std::string::npos) << needed;
    }
}

// The series picture names each point by its file, or by the list's t_c as typed (degrees
// Celsius unless it says kelvin): the command's picture is, byte for byte, the one drawn here
// from the rows' pressures with those names.
TEST_F(PatternRun, SeriesPictureNamesItsPoints)
{
    Synthetic cold{4, 25, 0.4133, true, 31}, hot{4, 300, 0.4133, true, 32};
    Write("run/cold.xy", Pattern(cold));
    Write("run/hot.xy", Pattern(hot));
    Write("run/words.xy", "nothing\n");
    Write("run/list.csv", "file,t_c\ncold.xy,\nhot.xy,573.15K\ncold.xy, 25\nwords.xy,25\n");
    struct Case {
        const char* args;
        std::vector<std::string> labels;
    } cases[] = {
        {"--list run/list.csv", {"cold.xy", "573.15K", "25 °C", "25 °C"}},
        {"run/cold.xy run/words.xy", {"cold.xy", "words.xy"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove_all(dir_ / "fits");
        const Ran r = Calc(std::string("pattern --standard NaCl --temperature 25 --plot fits ") + c.args);
        ASSERT_EQ(r.status, 1) << r.err;  // words.xy is refused
        const auto rows = Rows(r.out);
        ASSERT_EQ(rows.size(), c.labels.size());
        std::vector<hv::cli::SeriesPoint> points;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            hv::cli::SeriesPoint p;
            if (rows[i].at("status") != "error") {
                p.pGpa = static_cast<double>(std::stof(rows[i].at("p_gpa")));  // the built-in model's float
                p.sigmaPGpa = std::stod(rows[i].at("sigma_p_gpa"));
            }
            p.label = c.labels[i];
            points.push_back(p);
        }
        EXPECT_EQ(rows.back().at("status"), "error");
        const std::string want = (dir_ / "want.png").string();
        ASSERT_EQ(hv::cli::DrawSeries(want, hv::cli::PlotFormat::Png, points), "");
        EXPECT_TRUE(Slurp(dir_ / "fits" / "series.png") == Slurp(want));
    }
}

// A spectrum whose header names energy, read without --x-unit: its row says that x was taken
// as 2-theta and how to say otherwise; said, or in a file that names no energy, nothing.
TEST_F(PatternRun, EnergyLookingFileReadAsTwoTheta)
{
    std::string spectrum = "# Energy (keV)  counts\n", plain = "# 2th_deg I\n";
    for (int i = 0; i < 300; ++i) {
        const std::string line = std::to_string(20 + 0.1 * i) + " " + std::to_string(100 + i % 7) + "\n";
        spectrum += line;
        plain += line;
    }
    Write("ed.xy", spectrum);
    Write("plain.xy", plain);
    const std::string note = "x was taken as 2-theta in degrees, since no x unit was given, though the file's header "
                             "names energy; if x is energy in keV, say --x-unit kev";
    struct Case {
        const char* args;
        bool noted;
    } cases[] = {
        {"ed.xy", true},
        {"--wavelength 0.4133 ed.xy", true},
        {"--x-unit kev --two-theta-fixed 9 ed.xy", false},
        {"--x-unit 2theta --wavelength 0.4133 ed.xy", false},
        {"--wavelength 0.4133 plain.xy", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Ran r = Calc(std::string("pattern --standard NaCl --temperature 25 ") + c.args);
        const auto rows = Rows(r.out);
        ASSERT_EQ(rows.size(), 1u) << r.err;
        const std::string& message = rows[0].at("message");
        const bool ends = message.size() >= note.size() && message.compare(message.size() - note.size(), note.size(), note) == 0;
        EXPECT_EQ(ends, c.noted) << message;
        if (c.noted && message.size() > note.size()) {
            EXPECT_EQ(message.substr(message.size() - note.size() - 2, 2), "; ");
        }
    }
}

}  // namespace

namespace {

// The README's example, as the README shows it: NaCl at 7.3 GPa, 3 1 1 left out under a
// sample peak, the rest used (the faint 5 1 1 at 4 sigma too).
TEST_F(PatternRun, TheReadmeExample)
{
    const Ran r = Calc(std::string("pattern --standard NaCl --temperature 25 --sigma-t 2 --peaks peaks.csv '") +
                       HV_DOCS + "/example-nacl.xy'");
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.err;
    EXPECT_EQ(rows[0].at("status"), "warning") << rows[0].at("message");
    EXPECT_EQ(rows[0].at("message"), "left out as outliers: 311");
    EXPECT_NEAR(std::stod(rows[0].at("p_gpa")), 7.3, 0.02);
    EXPECT_EQ(rows[0].at("n_peaks"), "9");
    for (const auto& p : Rows(Slurp(dir_ / "peaks.csv"))) {
        EXPECT_EQ(p.at("used") == "1", p.at("hkl") != "311") << p.at("hkl") << " " << p.at("note");
    }
}

}  // namespace
