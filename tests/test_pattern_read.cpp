#include "core/numbers.h"
#include "pattern/hints.h"
#include "pattern/pattern.h"
#include "tests/pattern_synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using hv::XUnit;
using hv::pattern::ReadText;

// Twenty-five rows "x intensity" from x0 by 0.01.
std::string Rows(double x0 = 5, int n = 25, const char* sep = " ")
{
    std::string s;
    for (int i = 0; i < n; ++i) {
        char b[64];
        std::snprintf(b, sizeof b, "%.2f%s%d\n", x0 + 0.01 * i, sep, 100 + i);
        s += b;
    }
    return s;
}

synth::Generated Small()
{
    synth::Recipe r;
    r.points = 400;
    r.from = 7;
    r.to = 9;
    return synth::Make(r);
}

TEST(PatternRead, EveryFormatOfTheGenerator)
{
    const synth::Generated g = Small();
    struct Case {
        std::string text, name, format;
        bool sigma;
        double wavelength;  // NaN: the file has none
        bool unit2theta;    // the file names 2-theta in degrees
    } cases[] = {
        {synth::WriteXy(g, 0.4133), "a.xy", "xy", false, 0.4133, true},
        {synth::WriteChi(g), "a.chi", "chi", false, NAN, true},
        {synth::WriteFxye(g, 0.413529), "a.fxye", "fxye", true, 0.413529, true},
        {synth::WriteXye(g), "a.xye", "xye", true, NAN, false},
        {synth::WriteCsv(g), "a.csv", "columns", false, NAN, false},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(c.text, c.name);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        const hv::pattern::Pattern& p = r.pattern;
        EXPECT_EQ(p.format, c.format);
        ASSERT_EQ(p.x.size(), 400u) << c.name;
        EXPECT_EQ(p.intensity.size(), 400u);
        EXPECT_EQ(p.sigma.size(), c.sigma ? 400u : 0u) << c.name;
        // Centidegrees of GSAS come back in degrees.
        EXPECT_NEAR(p.x.front(), 7, 1e-9) << c.name;
        EXPECT_NEAR(p.x.back(), 9, 1e-9) << c.name;
        EXPECT_EQ(p.intensity[10], g.counts[10]) << c.name;
        if (std::isnan(c.wavelength)) {
            EXPECT_TRUE(std::isnan(p.wavelength)) << c.name;
        } else {
            EXPECT_NEAR(p.wavelength, c.wavelength, 1e-12) << c.name;
        }
        EXPECT_EQ(p.unit.has_value() && *p.unit == XUnit::TwoThetaDeg, c.unit2theta) << c.name;
    }
}

// Metres, nanometres, angstrom, and the bare number told apart by its size.
TEST(PatternRead, WavelengthComments)
{
    struct Case {
        const char* comment;
        double angstrom;
    } cases[] = {
        {"# Wavelength: 4.066e-11 m", 0.4066},
        {"# Wavelength: 4.066e-11", 0.4066},
        {"# Wavelength: 0.4066", 0.4066},
        {"# Wavelength = 0.04066 nm", 0.4066},
        {"# wavelength: 0.4066 A", 0.4066},
        {"# Calibrated wavelength = 0.413529", 0.413529},
        {"# Wavelength: 1.5406e-10 m", 1.5406},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(std::string(c.comment) + "\n# 2th_deg I\n" + Rows(), "w.xy");
        ASSERT_TRUE(r.ok) << c.comment << ": " << r.error;
        EXPECT_NEAR(r.pattern.wavelength, c.angstrom, 1e-12 * c.angstrom) << c.comment;
    }
}

// The last comment line before the data names the columns; its first word is the x unit.
TEST(PatternRead, ColumnNamesGiveTheUnit)
{
    struct Case {
        const char* header;
        std::optional<XUnit> unit;
    } cases[] = {
        {"# 2th_deg I", XUnit::TwoThetaDeg},
        {"#  2th_rad  I sigma", XUnit::TwoThetaRad},
        {"# q_A^-1 I", XUnit::QPerAngstrom},
        {"# q_nm^-1 I", XUnit::QPerNm},
        {"# d_A I", XUnit::DAngstrom},
        {"# Q_NM^-1 I", XUnit::QPerNm},
        {"# q_nm^-1 I\n# something else", std::nullopt},  // only the last line counts
        {"# counts", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(std::string(c.header) + "\n" + Rows(), "u.xy");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pattern.unit, c.unit) << c.header;
    }
    // Fit2D's axis label.
    struct Chi {
        const char* label;
        std::optional<XUnit> unit;
    } chis[] = {
        {"2-Theta Angle (Degrees)", XUnit::TwoThetaDeg},
        {"Q (nm^-1)", XUnit::QPerNm},
        {"Q (Angstrom^-1)", XUnit::QPerAngstrom},
        {"Intensity", std::nullopt},
    };
    for (const Chi& c : chis) {
        const auto r = ReadText("title\n" + std::string(c.label) + "\nIntensity\n25\n" + Rows(), "u.chi");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pattern.format, "chi");
        EXPECT_EQ(r.pattern.unit, c.unit) << c.label;
    }
}

// Content first: a GSAS file named .xy is read as GSAS; the extension decides only plain text.
TEST(PatternRead, ContentBeforeExtension)
{
    const synth::Generated g = Small();
    struct Case {
        std::string text, name, format;
    } cases[] = {
        {synth::WriteFxye(g, 0.41), "wrong.xy", "fxye"},
        {synth::WriteChi(g), "wrong.dat", "chi"},
        {synth::WriteXy(g, 0.41), "wrong.txt", "xy"},
        {synth::WriteXye(g), "wrong.xy", "xye"},
        {Rows(), "plain.xy", "xy"},
        {Rows(), "plain.xye", "xye"},
        {Rows(), "plain.fxye", "fxye"},
        {Rows(), "plain.dat", "columns"},
        {"two_theta,intensity\n" + Rows(5, 25, ","), "plain.csv", "columns"},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(c.text, c.name);
        if (c.format == "fxye" && c.name == "plain.fxye") {
            // A GSAS file needs its BANK line.
            EXPECT_FALSE(r.ok);
            EXPECT_NE(r.error.find("BANK"), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.pattern.format, c.format) << c.name;
        EXPECT_EQ(r.pattern.x.size(), c.name.starts_with("plain") ? 25u : 400u);
    }
}

TEST(PatternRead, LineEndingsAndByteOrderMark)
{
    std::string crlf, cr;
    for (char ch : "# 2th_deg I\n" + Rows()) {
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        cr += ch == '\n' ? '\r' : ch;
    }
    for (const std::string& text : {crlf, cr, "\xEF\xBB\xBF" + crlf}) {
        const auto r = ReadText(text, "e.xy");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pattern.x.size(), 25u);
        EXPECT_EQ(r.pattern.unit, XUnit::TwoThetaDeg);
        EXPECT_DOUBLE_EQ(r.pattern.intensity[24], 124);
    }
    // Falling x is a pattern too (d or energy often fall).
    std::string falling = "# d_A I\n";
    for (int i = 0; i < 25; ++i) falling += std::to_string(3.0 - 0.01 * i) + " 5\n";
    const auto r = ReadText(falling, "f.xy");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GT(r.pattern.x.front(), r.pattern.x.back());
}

// Every kind of bad file: a message naming the file and, where there is one, the line.
TEST(PatternRead, BadFilesSayWhatAndWhere)
{
    std::string nonMonotonic = Rows();
    nonMonotonic += "5.10 7\n";  // line 26 steps back
    std::string repeated = Rows(5, 10) + "5.09 1\n" + Rows(5.10, 15);
    struct Case {
        std::string text, name, says;
    } cases[] = {
        {std::string("PK\x03\x04\x00\x00junk", 10), "zip.xy", "zip.xy, line 1: binary data (byte 0x03)"},
        {"1 2\n3 4\n" + std::string("\x00", 1), "nul.dat", "nul.dat, line 3: binary data (byte 0x00)"},
        {"no numbers\nat all\n", "words.txt", "words.txt: no rows of numbers"},
        {"", "empty.xy", "empty.xy: no rows of numbers"},
        {Rows(5, 19), "short.xy", "short.xy: 19 points; a pattern needs at least 20"},
        {nonMonotonic, "back.xy", "back.xy, line 26: x \"5.10\" after \"5.24\" (line 25)"},
        {repeated, "same.xy", "same.xy, line 11: x \"5.09\" after \"5.09\" (line 10)"},
        {Rows(5, 10) + "5.10 nan\n" + Rows(5.11, 14), "nan.xy", "nan.xy, line 11: \"nan\" is not a finite number"},
        {Rows(5, 10) + "inf 1\n", "inf.xy", "inf.xy, line 11: \"inf\" is not a finite number"},
        {Rows(5, 10) + "5.10 1e999\n", "huge.xy", "huge.xy, line 11: \"1e999\" is out of range"},
        {Rows(5, 10) + "5.10 1 2\n", "cols.xy", "cols.xy, line 11: 3 numbers where the rows above have 2"},
        {"1 2 3 4\n", "four.dat", "four.dat, line 1: 4 numbers; a pattern's rows have 2"},
        {Rows(5, 10) + "5.10\n", "one.dat", "one.dat, line 11: 1 number;"},
        {Rows(5, 22) + "end of data\n", "tail.dat", "tail.dat, line 23: \"end of data\" is not a row of numbers"},
        {"t\n2-Theta Angle (Degrees)\nI\n30\n" + Rows(), "cut.chi", "cut.chi: the header promises 30 points, the file has 25 (cut short?)"},
        {"t\nBANK 1 25 25 CONS 500 1 0 0 FXYE\n" + Rows(500, 24) + "524 1 -1\n", "neg.fxye",
         "neg.fxye, line 27: 3 numbers where the rows above have 2"},
        {"t\nBANK 1 25 25 CONS 500 1 0 0 FXYE\n500 1 -1\n", "neg2.fxye", "neg2.fxye, line 3: sigma \"-1\" is negative"},
        {"t\nBANK 1 25 3 CONS 500 1 0 0 ESD\n" + Rows(500), "std.fxye", "std.fxye, line 2: a GSAS bank not in FXYE layout"},
        {"# Wavelength: -1 m\n" + Rows(), "wl.xy", "wl.xy, line 1: the wavelength \"-1 m\" is not a positive number"},
        {"# Wavelength: 0.4 furlong\n" + Rows(), "wl2.xy", "wl2.xy, line 1: the wavelength's unit \"furlong\" is unknown"},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(c.text, c.name);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.error.substr(0, c.says.size()), c.says) << r.error;
    }
}

TEST(PatternRead, FilesOnDisk)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("hv_pattern_read_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "good.xy").string();
    std::ofstream(good) << "# Wavelength: 4.133e-11 m\n# 2th_deg I\n" << Rows();
    const auto ok = hv::pattern::ReadFile(good);
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_NEAR(ok.pattern.wavelength, 0.4133, 1e-12);

    const auto folder = hv::pattern::ReadFile(dir.string());
    EXPECT_FALSE(folder.ok);
    EXPECT_EQ(folder.error, dir.string() + ": is a directory, not a pattern file");

    const auto missing = hv::pattern::ReadFile((dir / "missing.xy").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("missing.xy: No such file"), std::string::npos) << missing.error;

    // A sparse file one byte over the limit: refused from its size, never read.
    const std::string huge = (dir / "huge.xy").string();
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, hv::pattern::kMaxFileBytes + 1);
    const auto big = hv::pattern::ReadFile(huge);
    EXPECT_FALSE(big.ok);
    EXPECT_EQ(big.error, huge + ": larger than 256 MiB, not read");
    std::filesystem::remove_all(dir);
}

// A Fit2D header as Fit2D writes it: fixed-length fields, the third padded with NUL bytes.
std::string Fit2dHeader(int points, char pad = '\0', std::size_t width = 80)
{
    std::string label = "2-Theta Angle (Degrees)";
    label.resize(width, pad);
    return "lab6_0001.tif: Azimuthal Integration\n" + label + "\nIntensity\n" + std::to_string(points) + "\n";
}

std::string WithCrlf(const std::string& text)
{
    std::string out;
    for (char ch : text) out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return out;
}

// The .chi files real setups write: NUL or blank padding, CRLF, comment lines put above.
TEST(PatternRead, Fit2dAsWrittenInPractice)
{
    const std::string comments = "# Written by an integration script\n# Wavelength: 4.066e-11 m\n";
    std::string nulTitle = "title";
    nulTitle.resize(40, '\0');
    struct Case {
        const char* what;
        std::string text;
        double wavelength;  // NaN: none given
    } cases[] = {
        {"NUL padding", Fit2dHeader(25) + Rows(), NAN},
        {"blank padding", Fit2dHeader(25, ' ') + Rows(), NAN},
        {"NUL then blanks", Fit2dHeader(25, '\0', 60) + "   \n" + Rows(), NAN},  // an extra blank line after
        {"CRLF", WithCrlf(Fit2dHeader(25) + Rows()), NAN},
        {"comments above", comments + Fit2dHeader(25) + Rows(), 0.4066},
        {"all at once", WithCrlf(comments + Fit2dHeader(25, '\0', 128) + Rows()), 0.4066},
        {"padded title", nulTitle + "\n2-Theta Angle (Degrees)\nIntensity\n25\n" + Rows(), NAN},
        {"title that is a comment", "# my title\n2-Theta Angle (Degrees)\nI\n25\n" + Rows(), NAN},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(c.text, "real.chi");
        ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
        EXPECT_EQ(r.pattern.format, "chi") << c.what;
        ASSERT_EQ(r.pattern.x.size(), 25u) << c.what;
        EXPECT_DOUBLE_EQ(r.pattern.x[24], 5.24) << c.what;
        EXPECT_DOUBLE_EQ(r.pattern.intensity[0], 100) << c.what;
        EXPECT_EQ(r.pattern.unit, XUnit::TwoThetaDeg) << c.what;
        if (std::isnan(c.wavelength)) {
            EXPECT_TRUE(std::isnan(r.pattern.wavelength)) << c.what;
        } else {
            EXPECT_EQ(r.pattern.wavelength, c.wavelength) << c.what;
        }
    }
}

// NUL bytes only pad header lines; anywhere else they, and every other control byte, are binary.
TEST(PatternRead, BinaryStillRefused)
{
    const std::string nul(1, '\0');
    std::string utf16;
    for (char ch : std::string("# 2th_deg I\n5.00 100\n")) utf16 += std::string(1, ch) + nul;
    struct Case {
        const char* what;
        std::string text, says;
    } cases[] = {
        {"NUL inside a number", Fit2dHeader(25) + "5.00" + nul + " 100\n" + Rows(5.01, 24),
         "b.chi, line 5: binary data (byte 0x00)"},
        {"NUL padding a row", Fit2dHeader(25) + "5.00 100" + nul + nul + "\n" + Rows(5.01, 24),
         "b.chi, line 5: binary data (byte 0x00)"},
        {"NUL padding after the data", Fit2dHeader(26) + Rows() + "5.25 1" + nul + "\n",
         "b.chi, line 30: binary data (byte 0x00)"},
        {"NUL line after the data", Fit2dHeader(25) + Rows() + nul + nul + "\n", "b.chi, line 30: binary data (byte 0x00)"},
        {"NUL inside a header line", "title\n2-Theta" + nul + "Angle\nI\n25\n" + Rows(), "b.chi, line 2: binary data (byte 0x00)"},
        {"another control byte", "title\n2-Theta Angle\x01\nI\n25\n" + Rows(), "b.chi, line 2: binary data (byte 0x01)"},
        {"UTF-16", utf16, "b.chi, line 1: binary data (byte 0x00)"},
        {"DOS end of file", Rows() + "\x1a", "b.chi, line 26: binary data (byte 0x1a)"},
    };
    for (const Case& c : cases) {
        const auto r = ReadText(c.text, "b.chi");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.error.substr(0, c.says.size()), c.says) << c.what << ": " << r.error;
    }
}

// The wavelength is the double nearest the decimal the file writes, moved to angstrom, so it
// prints back as that decimal; multiplying by a power of ten misses it by an ulp or more.
TEST(PatternRead, WavelengthKeepsTheFilesDigits)
{
    ASSERT_NE(4.066e-11 * 1e10, 0.4066);  // why the test exists
    struct Case {
        const char* given;
        double angstrom;
        const char* written;
    } cases[] = {
        {"4.066e-11 m", 0.4066, "0.4066"},      {"4.066E-11", 0.4066, "0.4066"},
        {"+4.066e-11 M", 0.4066, "0.4066"},     {"0.04066 nm", 0.4066, "0.4066"},
        {"40.66 pm", 0.4066, "0.4066"},         {"4.1328e-11 m", 0.41328, "0.41328"},
        {"0.0000000000413529 m", 0.413529, "0.413529"}, {"1.5406e-10 m", 1.5406, "1.5406"},
        {"6.888e-2 nm", 0.6888, "0.6888"},      {"0.3738 A", 0.3738, "0.3738"},
        {"2.9e-11", 0.29, "0.29"},
    };
    for (const Case& c : cases) {
        const auto r = ReadText("# Wavelength: " + std::string(c.given) + "\n# 2th_deg I\n" + Rows(), "w.xy");
        ASSERT_TRUE(r.ok) << c.given << ": " << r.error;
        EXPECT_EQ(r.pattern.wavelength, c.angstrom) << c.given;
        EXPECT_EQ(hv::Shortest(r.pattern.wavelength), c.written) << c.given;
    }
}

// Which headers name energy: column names do, a beam energy in a "key: value" comment does not.
TEST(PatternHints, HeaderNamesEnergy)
{
    struct Case {
        const char* text;
        bool energy;
    } cases[] = {
        {"# Energy (keV)  counts\n20 1\n", true},
        {"# E_keV I\n20 1\n", true},
        {"keV,counts\r\n20,1\r\n", true},
        {"title\nEnergy (keV)\nIntensity\n25\n20 1\n", true},
        {"# Energy: 30 keV\n# 2th_deg I\n5 1\n", false},
        {"# X-ray energy = 30 keV\n5 1\n", false},
        {"title\n2-Theta Angle (Degrees)\nIntensity\n25\n5 1\n", false},
        {"# 2th_deg I\n5 1\n# energy, after the data\n", false},
        {"5 1\n", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(hv::pattern::HeaderNamesEnergy(c.text), c.energy) << c.text;
}

// An energy-dispersive spectrum read without a unit: the row says x was taken as 2-theta.
TEST(PatternHints, AssumedUnitNote)
{
    std::string spectrum = "# Energy (keV)  counts\n";
    for (int i = 0; i < 300; ++i) spectrum += std::to_string(20 + 0.1 * i) + " " + std::to_string(100 + i % 7) + "\n";
    const auto read = ReadText(spectrum, "ed.xy");
    ASSERT_TRUE(read.ok) << read.error;
    hv::pattern::Options options;
    options.standard = hv::FindStandard("NaCl");
    options.twoThetaFixed = 9;
    hv::pattern::Outcome o = hv::pattern::FitPattern(read.pattern, options);
    ASSERT_EQ(o.unitSource, "assumed");
    const std::string taken = "x was taken as 2-theta in degrees, since no x unit was given, though ";
    EXPECT_EQ(hv::pattern::AssumedUnitNote(o, options, hv::pattern::HeaderNamesEnergy(spectrum)),
              taken + "the file's header names energy; if x is energy in keV, say --x-unit kev");
    EXPECT_EQ(hv::pattern::AssumedUnitNote(o, options, false, "x_unit=\"kev\""),
              taken + "a fixed detector angle is for energy-dispersive spectra; if x is energy in keV, say x_unit=\"kev\"");
    EXPECT_EQ(hv::pattern::AssumedUnitNote(o, hv::pattern::Options(), false), "");  // nothing looks like energy
    for (const char* source : {"file", "user"}) {
        o.unitSource = source;
        EXPECT_EQ(hv::pattern::AssumedUnitNote(o, options, true), "") << source;  // the unit was said
    }
    const std::string path = (std::filesystem::temp_directory_path() / ("hv_hint_" + std::to_string(getpid()))).string();
    std::ofstream(path) << spectrum;
    EXPECT_TRUE(hv::pattern::FileHeaderNamesEnergy(path));
    std::filesystem::remove(path);
    EXPECT_FALSE(hv::pattern::FileHeaderNamesEnergy(path));
}

}  // namespace
