// The command-line program's CSV reader, batch logic and commands, in process.
#include "rows/batch.h"
#include "rows/commands.h"
#include "rows/csv.h"
#include "core/numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using hv::rows::CsvReader;

// Every record as "field|field|..." with its line and flags.
std::string ReadAll(const std::string& input)
{
    hv::rows::MemorySource source(input);
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    hv::rows::Record r;
    std::string out;
    while (reader.Next(r) == CsvReader::Got::Record) {
        out += std::to_string(r.line) + ":";
        for (std::size_t i = 0; i < r.Kept(); ++i) out += (i ? "|" : "") + std::string(r.Field(i));
        if (r.unclosedQuote) out += " (unclosed)";
        if (r.tooLong) out += " (too long, " + std::to_string(r.fields) + " fields)";
        out += "\n";
    }
    return out;
}

TEST(Csv, ReadsRfc4180)
{
    struct Case { const char* input; const char* records; };
    const Case cases[] = {
        {"a,b\n1,2\n", "1:a|b\n2:1|2\n"},
        {"a,b\n1,2", "1:a|b\n2:1|2\n"},                            // no final line break
        {"a,b\r\n1,2\r\n", "1:a|b\n2:1|2\n"},                      // CRLF
        {"a,b\r1,2\r", "1:a|b\n2:1|2\n"},                          // lone CR
        {"a\n\n\r\n2\n", "1:a\n4:2\n"},                            // empty lines hold no record
        {"a\n  \n\t\r\n \t \n2\n  ", "1:a\n5:2\n"},               // nor do blank ones
        {"a\n , \n", "1:a\n2: | \n"},                           // a comma is something
        {"a\n\" \"\n", "1:a\n2: \n"},                           // so is a quoted blank
        {"  \na,b\n", "2:a|b\n"},                                 // a blank first line
        {",\n,,x\n", "1:|\n2:||x\n"},                              // empty fields are fields
        {"\"a,b\",\"say \"\"hi\"\"\"\n", "1:a,b|say \"hi\"\n"},   // quotes
        {"\"two\nlines\",x\nnext\n", "1:two\nlines|x\n3:next\n"},  // a line break inside quotes
        {"ab\"c,d\n", "1:ab\"c|d\n"},                              // a quote inside a plain field
        {"\"ab\"c,d\n", "1:abc|d\n"},                              // text after the closing quote
        {"x,\"open\nmore", "1:x|open\nmore (unclosed)\n"},
        {"a\tb,c\n1\t2,3\n", "1:a|b,c\n2:1|2,3\n"},                // tab comes first: tabs
        {"\"a\tb\",c\n", "1:a\tb|c\n"},                            // a quoted tab is no delimiter
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(ReadAll(c.input), c.records);
    }
}

TEST(Csv, CapsTheRecordLength)
{
    // A record past the cap keeps only its leading whole fields; the next one is intact.
    const std::string big(hv::rows::kMaxRecordBytes, '7');
    EXPECT_EQ(ReadAll("h\nx,y," + big + ",z\nok\n"), "1:h\n2:x|y (too long, 4 fields)\n3:ok\n");
    EXPECT_EQ(ReadAll("h\n\"" + big + "\n\",z\nok\n"), "1:h\n2: (too long, 2 fields)\n4:ok\n");
    // Fields alone, without any bytes, count too: a line of commas cannot grow memory.
    const std::string commas(hv::rows::kMaxRecordBytes, ',');
    EXPECT_EQ(ReadAll("h\n" + commas + "\nok\n").substr(0, 9), "1:h\n2:|||");
    EXPECT_NE(ReadAll("h\n" + commas + "\nok\n").find("(too long, 1048577 fields)\n3:ok\n"), std::string::npos);
}

struct Batch {
    int exitCode;
    std::string out, error;
};

Batch RunOn(const std::string& input, unsigned jobs = 1)
{
    hv::rows::MemorySource source(input);
    Batch b;
    const hv::rows::BatchSummary s = hv::rows::RunBatch(source, [&](std::string_view t) { b.out += t; }, jobs);
    b.exitCode = s.exitCode;
    b.error = s.error;
    return b;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        out.push_back(text.substr(at, end - at));
    }
    return out;
}

// Fields of one output line (the tests' lines hold no quoted commas before the message).
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out(1);
    for (char c : line) c == ',' ? out.emplace_back() : out.back() += c;
    return out;
}

int32_t Shown(const std::string& pGpa)
{
    double p = 0;
    std::string why;
    EXPECT_TRUE(hv::ParseNumber(pGpa, p, why)) << pGpa;
    int32_t k = 0;
    EXPECT_TRUE(hv::Hundredths(static_cast<float>(p), k));
    return k;
}

// One output row per pattern, in order of first appearance; a = the fit of its rows.
TEST(Batch, Patterns)
{
    const Batch b = RunOn("pattern,standard,t_c,hkl,d,sigma_d\n"
                          "B,NaCl,25,200,2.75,0.001\n"
                          "A,NaCl,25,200,2.75,\n"
                          "B,NaCl,25,400,1.40625,0.0005\n"
                          "A,NaCl,25,400,1.40625,\n"
                          "C,NaCl,25,200,2.75,\n"
                          "C,NaCl,26,200,2.75,\n"
                          "D,NaCl,25,200,abc,\n"
                          "E,NaCl,25,200,2.75,0.001\n"
                          "E,NaCl,25,400,1.40625,\n");
    EXPECT_EQ(b.exitCode, 1);
    const std::vector<std::string> lines = Lines(b.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "pattern,standard,t_c,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message");
    // a = (5.5 + 5.625) / 2 either way: equal weights (sigma_a 0.002 each); sigma_a is half the
    // difference (standard error of the mean; external error when weighted).
    for (int i : {1, 2}) {
        const std::vector<std::string> f = Fields(lines[static_cast<std::size_t>(i)]);
        EXPECT_EQ(f[0], i == 1 ? "B" : "A");
        EXPECT_EQ(f[3], "2");
        EXPECT_EQ(f[4], "5.5625");
        EXPECT_EQ(f[5], "0.0625");
        EXPECT_EQ(f[9], "ok");
    }
    const std::string why[] = {"C,NaCl,25,2,,,,,,error,line 7: another temperature than on line 6",
                               "D,NaCl,25,1,,,,,,error,\"line 8: d: \"\"abc\"\" is not a number\"",
                               "E,NaCl,25,2,,,,,,error,give sigma_d for every peak"};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(lines[i + 3].substr(0, why[i].size()), why[i]);
}

// Every class of bad input gives an error row that says why, and the other rows stand.
TEST(Batch, BadFields)
{
    struct Case { std::string row; const char* why; };
    const Case cases[] = {
        {"KBr,25,200,2.75", "KBr\"\" is not known: give one of NaCl (built-in, Matsui2012), KCl (built-in), CsCl"},
        {",25,200,2.75", "standard: empty"},
        {"NaCl,,200,2.75", "temperature: empty"},
        {"NaCl,-300,200,2.75", "below absolute zero"},
        {"NaCl,25,210,2.75", "NaCl has no reflection 2 1 0"},
        {"NaCl,25,200,", "d: empty"},
        {"NaCl,25,200,abc", "is not a number"},
        {"NaCl,25,200,nan", "not a finite number"},
        {"NaCl,25,200,inf", "not a finite number"},
        {"NaCl,25,200,1e999", "out of range"},
        {"NaCl,25,200,1e39", "d out of range"},
        {"NaCl,25,200,-2.75", "d must be a positive number"},
        {"NaCl,25,lp,1e-30", "too small"},
        {"NaCl,25,lp,1e30", "too large"},
        {"NaCl,1e30,200,2.75", "pressure too large to show"},
        {"NaCl,25,200,0x1p1", "is not a number"},
        {"Na\x01\xff,25,200,2.75", "Na??\"\" is not known"},
        {std::string("NaCl,25,2\0000,2.75", 16), "not h k l"},
        {"NaCl", "temperature: empty"},
    };
    std::string input = "standard,t_c,hkl,d\n";
    for (const Case& c : cases) input += c.row + "\n";
    input += "NaCl,25,200,2.75\n";
    const Batch b = RunOn(input);
    EXPECT_EQ(b.exitCode, 1);
    const std::vector<std::string> lines = Lines(b.out);
    ASSERT_EQ(lines.size(), std::size(cases) + 2);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].row);
        const std::string& line = lines[i + 1];
        EXPECT_NE(line.find(",,,,,error,"), std::string::npos) << line;
        EXPECT_NE(line.find(cases[i].why), std::string::npos) << line;
    }
    EXPECT_EQ(Shown(Fields(lines.back())[7]), 215);
}

// A line of blanks between rows (an editor's leftover) is passed over as an empty line is.
TEST(Batch, BlankLinesAreNoRows)
{
    const std::string rows = "standard,t_c,hkl,d\nNaCl,25,200,2.75\n%NaCl,25,200,2.7\n";
    std::string withEmpty = rows, withBlanks = rows;
    withEmpty.replace(withEmpty.find('%'), 1, "\n");
    withBlanks.replace(withBlanks.find('%'), 1, "   \t \r\n");
    const Batch empty = RunOn(withEmpty), blanks = RunOn(withBlanks + " \n");
    EXPECT_EQ(blanks.exitCode, 0);
    EXPECT_EQ(blanks.out, empty.out);
    const std::vector<std::string> lines = Lines(blanks.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Shown(Fields(lines[1])[7]), 215);
    EXPECT_EQ(lines[2].find("error"), std::string::npos) << lines[2];
}

// Usage errors: exit 2, nothing written, the message names the problem.
TEST(Batch, BadHeaders)
{
    struct Case { std::string input; const char* why; };
    const Case cases[] = {
        {"", "the input is empty"},
        {"\n\n", "the input is empty"},
        {"standard,t_c,hkl\nNaCl,25,200\n", "missing column d:"},
        {"standard;t_c;hkl;d\n", "separated by \";\", but batch reads fields separated by \",\" or by tabs"},
        {"standard,t_c,hkl,D;sigma_d\n", "missing column d:"},  // ";" beside commas is only a name
        {"standard,t_c,hkl,two_theta\n", "column two_theta needs a column wavelength (angstrom) or energy_kev"},
        {"standard,t_c,hkl,e_kev,energy_kev\n", "column e_kev needs a column two_theta_fixed (degrees)"},
        {"standard,t_c,hkl,d,sigma_two_theta\n", "column sigma_two_theta goes with a column two_theta"},
        {"standard,t_c,hkl,d,sigma_e_kev\n", "column sigma_e_kev goes with a column e_kev"},
        {"standard,t_c,hkl,wavelength,sigma_d\n", "missing column d: the header needs standard, t_c, hkl and d, or"},
        {"standard,t_c,hkl,d,D\n", "column d appears twice"},
        {"x," + std::string(hv::rows::kMaxRecordBytes, 'y') + "\n", "header line is longer than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Batch b = RunOn(c.input);
        EXPECT_EQ(b.exitCode, 2);
        EXPECT_EQ(b.out, "");
        EXPECT_NE(b.error.find(c.why), std::string::npos) << b.error;
    }
    // A byte-order mark and tabs are fine; a header alone gives a header alone.
    const Batch b = RunOn("\xEF\xBB\xBFstandard\tt_c\thkl\td\n");
    EXPECT_EQ(b.exitCode, 0);
    EXPECT_EQ(b.out, "\xEF\xBB\xBFstandard,t_c,hkl,d,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n");
}

// Any number of workers writes the same text in input order.
TEST(Batch, WorkersKeepInputOrder)
{
    std::string input = "hkl,d,standard,t_c,sigma_d,sigma_t\n";
    for (int i = 0; i < 9000; ++i) {
        input += (i % 3 ? "200," : "lp,") + std::to_string(2.6 + i * 1e-5) + (i % 2 ? ",NaCl," : ",CsCl,") +
                 std::to_string(i % 400) + (i % 5 ? ",," : ",0.001,3") + (i % 1000 == 7 ? ",bad,row" : "") + "\n";
    }
    const Batch one = RunOn(input, 1);
    EXPECT_EQ(one.exitCode, 1);  // the nine rows with surplus fields
    EXPECT_EQ(Lines(one.out).size(), 9001u);
    for (unsigned jobs : {2u, 3u, 8u}) {
        const Batch many = RunOn(input, jobs);
        EXPECT_EQ(many.exitCode, one.exitCode);
        EXPECT_TRUE(many.out == one.out) << jobs << " workers";
    }
}

// The inverse: each d the spacing command lists, fed to batch, gives the pressure asked for.
TEST(Commands, SpacingRoundTrip)
{
    struct Case { const char* standard; const char* t; const char* p; std::size_t rows; };
    for (const Case c : {Case{"NaCl", "25", "10", 8}, Case{"CsCl", "25", "5", 21}, Case{"NaCl", "573.15K", "-1", 8},
                         Case{"CsCl", "800", "40", 21}}) {
        SCOPED_TRACE(std::string(c.standard) + " " + c.p);
        std::string out, err;
        ASSERT_EQ(hv::rows::RunSpacing({c.standard, c.t, c.p, "", 20, true}, out, err), 0) << err;
        std::vector<std::string> lines = Lines(out);
        ASSERT_EQ(lines.size(), c.rows + 1);
        EXPECT_EQ(lines[0], "hkl,n,d");
        std::string input = "standard,t_c,hkl,n,d\n";
        for (std::size_t i = 1; i < lines.size(); ++i) input += std::string(c.standard) + "," + c.t + "," + lines[i] + "\n";
        const Batch b = RunOn(input);
        ASSERT_EQ(b.exitCode, 0) << b.out;
        const std::vector<std::string> back = Lines(b.out);
        for (std::size_t i = 1; i < back.size(); ++i) EXPECT_NEAR(std::stod(Fields(back[i])[8]), std::stod(c.p), 0.005);
    }
}

// sigma_P = |dP/da| sigma_a, dP/da from central differences of the program's own output.
TEST(Commands, SigmaFollowsTheSlope)
{
    struct Case { const char* standard; const char* t; double a; };
    for (const Case c : {Case{"NaCl", "25", 5.5}, Case{"CsCl", "300", 3.9}}) {
        std::string input = "standard,t_c,hkl,d,sigma_d\n";
        for (double a : {c.a + 0.01, c.a - 0.01}) input += std::string(c.standard) + "," + c.t + ",lp," + std::to_string(a) + ",\n";
        input += std::string(c.standard) + "," + c.t + ",200," + std::to_string(c.a / 2) + ",0.001\n";
        const std::vector<std::string> lines = Lines(RunOn(input).out);
        ASSERT_EQ(lines.size(), 4u);
        const double slope = (std::stod(Fields(lines[1])[8]) - std::stod(Fields(lines[2])[8])) / 0.02;
        EXPECT_EQ(Fields(lines[3])[6], "0.002");  // sigma_a = 2 sigma_d for 200
        EXPECT_NEAR(std::stod(Fields(lines[3])[9]), std::fabs(slope) * 0.002, 0.002 * std::fabs(slope) * 1e-2);
    }
}

// The core's check of one peak says what a fit of that peak alone says, word for word.
TEST(Core, CheckPeakAgreesWithFit)
{
    const hv::Standard& nacl = *hv::FindStandard("NaCl");
    const hv::Reflection r200{{2, 0, 0}, 4, false};
    const double nan = hv::kNone;
    for (const hv::Peak p : {hv::Peak{r200, 2.75, nan}, hv::Peak{r200, 2.75, 0.001}, hv::Peak{r200, 0, nan},
                             hv::Peak{r200, -1, nan}, hv::Peak{r200, nan, nan}, hv::Peak{r200, INFINITY, nan},
                             hv::Peak{r200, 1e39, nan}, hv::Peak{r200, 1e-50, nan}, hv::Peak{r200, 2.75, 0},
                             hv::Peak{r200, 2.75, -0.1}, hv::Peak{r200, 2.75, INFINITY}}) {
        SCOPED_TRACE(std::to_string(p.d) + " " + std::to_string(p.sigmaD));
        std::string why;
        const bool ok = hv::CheckPeak(p, why);
        const hv::Result fit = hv::Fit(nacl, 25, {&p, 1});
        EXPECT_EQ(ok, fit.status != hv::Status::Error);
        EXPECT_EQ(why, ok ? "" : fit.message);
    }
}

TEST(Commands, BadArguments)
{
    struct Case { hv::rows::PressureRequest q; int status; const char* why; };
    const Case cases[] = {
        {{"NaBr", "25", "", {"200:2.75"}}, 2, "--standard: standard \"NaBr\" is not known"},
        {{"NaCl", "25C", "", {"200:2.75"}}, 2, "--temperature: temperature: \"25C\" is not a number"},
        {{"NaCl", "-274", "", {"200:2.75"}}, 2, "below absolute zero"},
        {{"NaCl", "25", "-1", {"200:2.75"}}, 2, "--sigma-t: must be 0 kelvin or more"},
        {{"NaCl", "25", "nan", {"200:2.75"}}, 2, "--sigma-t: \"nan\" is not a finite number"},
        {{"NaCl", "25", "", {"200"}}, 2, "write HKL:D"},
        {{"NaCl", "25", "", {"210:2.75"}}, 2, "Its reflections up to h^2+k^2+l^2 = 20: 111, 200"},
        {{"NaCl", "25", "", {"200:2,75"}}, 2, "peak \"200:2,75\": d: \"2,75\" is not a number"},
        {{"NaCl", "25", "", {"200:0"}}, 2, "d must be a positive number"},
        {{"NaCl", "25", "", {"200:2.75:0"}}, 2, "sigma_d must be a positive number"},
        {{"NaCl", "25", "", {"200:2.75:"}}, 2, "sigma_d: empty"},
        {{"NaCl", "25", "", {"200:2.75", "220:1.9:0.001"}}, 1, "give sigma_d for every peak"},
        {{"NaCl", "25", "", {"lp:1e-30"}}, 1, "too small"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::string out, err;
        EXPECT_EQ(hv::rows::RunPressure(c.q, out, err), c.status);
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
    struct Spacing { hv::rows::SpacingRequest q; int status; const char* why; };
    const Spacing spacings[] = {
        {{"NaCl", "25", "ten", "", 20, false}, 2, "--pressure: \"ten\" is not a number"},
        {{"NaCl", "25", "10", "-1", 20, false}, 2, "--wavelength: must be a positive number"},
    };
    for (const Spacing& c : spacings) {
        SCOPED_TRACE(c.why);
        std::string out, err;
        EXPECT_EQ(hv::rows::RunSpacing(c.q, out, err), c.status);
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
}

// ---- Peaks as measured: 2-theta and energies ----

// A field of an output line by its column's name.
std::string Column(const std::vector<std::string>& lines, std::size_t row, const std::string& name)
{
    const std::vector<std::string> head = Fields(lines[0]), fields = Fields(lines[row]);
    const std::size_t i = static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
    return i < fields.size() ? fields[i] : "(no " + name + ")";
}

double Number(const std::string& text)
{
    double v = 0;
    std::string why;
    EXPECT_TRUE(hv::ParseNumber(text, v, why)) << text;
    return v;
}

// Positions whose d is 2.75 A by textbook geometry (sin 30 deg = 1/2): 2-theta 60 deg at 2.75 A
// or at hc / 2.75 keV, and the energy hc / 2.75 keV at a fixed 60 deg. Each gives the window's
// pressure of d = 2.75; sigma_d = d sqrt(3)/2 per radian of 2-theta, d / E per keV.
TEST(Batch, PositionsOfAKnownSpacing)
{
    const double hc = 12.398419843320026;
    const Batch b = RunOn("standard,t_c,hkl,d,two_theta,sigma_two_theta,wavelength,energy_kev,e_kev,sigma_e_kev,"
                          "two_theta_fixed\n"
                          "NaCl,25,200,2.75,,,,,,,\n"
                          "NaCl,25,200,,60,0.01,2.75,,,,\n"
                          "NaCl,25,200,,60,,,4.508516306661828,,,\n"
                          "NaCl,25,200,,,,,,4.508516306661828,0.01,60\n");
    ASSERT_EQ(b.exitCode, 0) << b.out;
    const std::vector<std::string> lines = Lines(b.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(lines[0].find(",two_theta_fixed,")),
              ",two_theta_fixed,d_used,sigma_d_used,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message");
    const double sigmaD[] = {NAN, 2.75 * std::sqrt(3.0) / 2 * M_PI / 180 * 0.01, NAN, 2.75 / (hc / 2.75) * 0.01};
    for (std::size_t row = 1; row < lines.size(); ++row) {
        SCOPED_TRACE(lines[row]);
        EXPECT_NEAR(Number(Column(lines, row, "d_used")), 2.75, 1e-14);
        const std::string sigma = Column(lines, row, "sigma_d_used");
        if (std::isnan(sigmaD[row - 1])) {
            EXPECT_EQ(sigma, "");
        } else {
            EXPECT_NEAR(Number(sigma), sigmaD[row - 1], 1e-12 * sigmaD[row - 1]);
        }
        EXPECT_EQ(Column(lines, row, "p_gpa"), "2.1517081");
    }
}

// A row in 2-theta or energy gives exactly the pressure, sigma and status of a row of the d and
// sigma_d it lists as used; so does a pattern of them.
TEST(Batch, PositionRowsAgreeWithTheirSpacing)
{
    const std::string columns = "standard,t_c,hkl,two_theta,sigma_two_theta,energy_kev,e_kev,two_theta_fixed";
    std::string flat = columns + "\n", patterned = "pattern," + columns + "\n";
    const char* const hkl[] = {"111", "200", "220", "311"};
    // Near a = 5.5 A: 2-theta at 30 keV (with a sigma), energies at 12.5 deg (without).
    const double twoTheta[] = {7.45, 8.62, 12.2, 14.3}, keV[] = {17.9, 20.7, 29.3, 34.3};
    for (int i = 0; i < 40; ++i) {
        const std::string position = i % 2 ? std::to_string(twoTheta[i % 4] + 0.01 * i) + ",0.003,30,,"
                                           : ",,," + std::to_string(keV[i % 4] + 0.02 * i) + ",12.5";
        flat += "NaCl," + std::to_string(25 + 10 * (i % 4)) + "," + hkl[i % 4] + "," + position + "\n";
        patterned += std::string(i % 2 ? "odd" : "even") + ",NaCl,25," + hkl[i % 4] + "," + position + "\n";
    }
    const std::vector<std::string> lines = Lines(RunOn(flat).out);
    ASSERT_EQ(lines.size(), 41u);
    std::string asD = "standard,t_c,hkl,d,sigma_d\n";
    std::string patternAsD[2] = {"pattern,standard,t_c,hkl,d\n", "pattern,standard,t_c,hkl,d,sigma_d\n"};
    for (std::size_t row = 1; row < lines.size(); ++row) {
        const std::vector<std::string> f = Fields(lines[row]);
        const std::string d = Column(lines, row, "d_used"), sigma = Column(lines, row, "sigma_d_used");
        asD += f[0] + "," + f[1] + "," + f[2] + "," + d + "," + sigma + "\n";
        patternAsD[(row - 1) % 2] += "p,NaCl,25," + f[2] + "," + d + ((row - 1) % 2 ? "," + sigma : "") + "\n";
    }
    const std::vector<std::string> back = Lines(RunOn(asD).out);
    const std::vector<std::string> patterns = Lines(RunOn(patterned).out);
    ASSERT_EQ(back.size(), lines.size());
    ASSERT_EQ(patterns.size(), 3u);
    for (const char* name : {"a", "sigma_a", "v_ratio", "p_gpa", "sigma_p_gpa", "status"}) {
        for (std::size_t row = 1; row < lines.size(); ++row) {
            EXPECT_EQ(Column(lines, row, name), Column(back, row, name)) << name << " " << lines[row];
        }
        for (std::size_t p = 1; p <= 2; ++p) {  // "even" comes first
            EXPECT_EQ(Column(patterns, p, name), Column(Lines(RunOn(patternAsD[p - 1]).out), 1, name)) << name;
        }
    }
    EXPECT_EQ(Column(patterns, 1, "status"), "ok");
    EXPECT_EQ(std::count(patterns[2].begin(), patterns[2].end(), ' '), 2 * 19);  // 20 d and 20 sigma_d
}

// Each way a row's position can be wrong: an error row that says why, the others computed.
TEST(Batch, PositionRowsRefused)
{
    struct Case { const char* row; const char* why; };
    const Case cases[] = {
        {"200,,,,,,,,,", "no peak position: give d or two_theta or e_kev"},
        {"200,2.75,,9,,0.4,,,,", "give one peak position per row, not d and two_theta"},
        {"200,,,9,,0.4,,30,,10", "give one peak position per row, not two_theta and e_kev"},
        {"200,,,9,,,,,,", "two_theta needs wavelength (angstrom) or energy_kev (keV)"},
        {"200,,,9,,0.4,30,,,", "give wavelength or energy_kev, not both"},
        {"200,,0.001,9,,0.4,,,,", "sigma_d goes with d, and this row gives two_theta: use sigma_two_theta"},
        {"200,2.75,,,0.01,,,,,", "sigma_two_theta goes with two_theta, and this row gives d: use sigma_d"},
        {"200,,,9,,0.4,,,0.1,", "sigma_e_kev goes with e_kev, and this row gives two_theta"},
        {"200,,,190,,0.4,,,,", "2-theta must lie above 0 and at most 180 degrees"},
        {"200,,,9,,-0.4,,,,", "the wavelength must be a positive number of angstrom"},
        {"200,,,9,,,0,,,", "energy_kev must be a positive number of keV"},
        {"200,,,9,0,0.4,,,,", "the sigma of 2-theta must be a positive number"},
        {"200,,,nine,,0.4,,,,", "two_theta: \"\"nine\"\" is not a number"},
        {"200,,,,,,,30,,", "e_kev needs two_theta_fixed (degrees)"},
        {"200,,,,,,,30,,0", "the fixed 2-theta must lie above 0 and at most 180 degrees"},
        {"200,,,,,,,30,-1,10", "the sigma of the energy must be a positive number"},
        {"210,,,9,,0.4,,,,", "NaCl has no reflection 2 1 0"},
    };
    std::string input = "hkl,d,sigma_d,two_theta,sigma_two_theta,wavelength,energy_kev,e_kev,sigma_e_kev,"
                        "two_theta_fixed,sigma_t,standard,t_c\n";
    for (const Case& c : cases) input += std::string(c.row) + ",,NaCl,25\n";
    input += "200,,,60,,2.75,,,,,x,NaCl,25\n";  // read up to sigma_t: the d used is listed
    const std::vector<std::string> lines = Lines(RunOn(input).out);
    ASSERT_EQ(lines.size(), std::size(cases) + 2);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].row);
        EXPECT_NE(lines[i + 1].find(",,,,,,,error,"), std::string::npos) << lines[i + 1];  // no d_used, no numbers
        EXPECT_NE(lines[i + 1].find(cases[i].why), std::string::npos) << lines[i + 1];
    }
    EXPECT_NEAR(Number(Column(lines, lines.size() - 1, "d_used")), 2.75, 1e-14);
    EXPECT_NE(lines.back().find(",error,\"sigma_t: "), std::string::npos) << lines.back();
    // A file with d and a column that only shares a name (wavelength) writes exactly as before.
    EXPECT_EQ(RunOn("standard,t_c,hkl,d,wavelength\nNaCl,25,200,2.75,0.4\n").out,
              "standard,t_c,hkl,d,wavelength,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n"
              "NaCl,25,200,2.75,0.4,5.5,,0.9273651838302612,2.1517081,,ok,\n");
}

// More filled fields than the header names: an error with both counts, and the likely cause.
TEST(Batch, SurplusFields)
{
    const char* const comma = "this looks like a decimal comma, a number such as 2,75 split in two at the comma; "
                              "write numbers with \"\".\"\" (2.75)";
    const char* const quotes = "a field that holds a comma must be in double quotes";
    struct Case { std::string row, why; };
    const Case cases[] = {
        {"NaCl,25,200,2,75,0,0005", std::string("line 2 has 7 fields but the header 5: ") + comma},
        {"NaCl,25,200,2,75,0.0005", std::string("line 3 has 6 fields but the header 5: ") + comma},
        {"NaCl,25,200,2.75,0.0005,x", std::string("line 4 has 6 fields but the header 5: ") + quotes},
        {"NaCl,25,200,2.75,0.0005,,,7", std::string("line 5 has 8 fields but the header 5: ") + quotes},
        // Past the fields kept to tell a decimal comma: counted all the same.
        {"NaCl,25,200,2.75,0.0005" + std::string(30, ',') + "1", "line 6 has 35 fields but the header 5: "},
        {"NaCl,25,200,2.75,0.0005,\"x,y\"", std::string("line 7 has 6 fields but the header 5: ") + quotes},
        {"NaCl,25,200,\"2,75\",", "d: \"\"2,75\"\" is not a number"},  // quoted: one field
    };
    std::string input = "standard,t_c,hkl,d,sigma_d\n";
    for (const Case& c : cases) input += c.row + "\n";
    input += "NaCl,25,200,2.75,,,,\nNaCl,25,200,2.75,, ,\t\n";  // empty or blank at the end: fine
    const Batch b = RunOn(input);
    const std::vector<std::string> lines = Lines(b.out);
    ASSERT_EQ(lines.size(), std::size(cases) + 3);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_NE(lines[i + 1].find(",,,,,error,"), std::string::npos) << lines[i + 1];
        EXPECT_NE(lines[i + 1].find(cases[i].why), std::string::npos) << lines[i + 1];
    }
    for (std::size_t i = std::size(cases) + 1; i < lines.size(); ++i) EXPECT_EQ(Shown(Fields(lines[i])[8]), 215);
    EXPECT_EQ(RunOn(input, 3).out, b.out);
    // In a pattern, the row's line is named once.
    EXPECT_EQ(Lines(RunOn("pattern,standard,t_c,hkl,d\nx,NaCl,25,200,2.75\nx,NaCl,25,200,2,75\n").out)[1],
              std::string("x,NaCl,25,2,,,,,,error,\"line 3 has 6 fields but the header 5: ") + comma + "\"");
}

// The pressure command with --two-theta and --energy-dispersive: the d used is shown.
TEST(Commands, PeaksAsMeasured)
{
    hv::rows::PressureRequest q{"NaCl", "25", "", {"200:60:0.01"}};
    q.twoTheta = true;
    q.wavelength = "2.75";
    std::string out, err;
    ASSERT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
    // sigma_d = 2.75 sqrt(3)/2 pi/180 0.01 = 0.000416.
    EXPECT_EQ(out.substr(0, out.find("a = 5.5")), "NaCl at 25 C, 1 peak, 2-theta at lambda = 2.75 A\n"
                                              "  200     2-theta = 60 +/- 0.01 deg" + std::string(10, ' ') +
                                                  "d = 2.75 +/- 0.00042 A" + std::string(6, ' '));  // columns 45, 73
    EXPECT_NE(out.find("P      = 2.15 +/- "), std::string::npos) << out;
    q.wavelength.clear();
    q.energy = "4.508516306661828";  // hc / 2.75 keV: 2.75 A
    ASSERT_EQ(hv::rows::RunPressure(q, out, err), 0) << err;
    EXPECT_NE(out.find("lambda = 2.75 A (4.508516306661828 keV)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("d = 2.75 +/- 0.00042 A"), std::string::npos) << out;

    hv::rows::PressureRequest e{"NaCl", "25", "", {"200:4.508516306661828"}, true};
    e.energyDispersive = true;
    e.twoThetaFixed = "60";
    ASSERT_EQ(hv::rows::RunPressure(e, out, err), 0) << err;
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "pattern,standard,t_c,n_peaks,d_used,sigma_d_used,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,"
                        "message");
    EXPECT_NEAR(Number(Column(lines, 1, "d_used")), 2.75, 1e-14);
    EXPECT_EQ(Column(lines, 1, "p_gpa"), "2.1517081");
}

TEST(Commands, BadPositionArguments)
{
    struct Case { bool twoTheta, energyDispersive; const char *wavelength, *energy, *fixed, *peak, *why; };
    const Case cases[] = {
        {true, false, "", "", "", "200:9", "--two-theta needs --wavelength (angstrom) or --energy (keV)"},
        {true, false, "0.4", "30", "", "200:9", "--wavelength and --energy both give the X-ray wavelength"},
        {false, false, "0.4", "", "", "200:2.75", "--wavelength goes with --two-theta"},
        {false, true, "", "30", "10", "200:30", "--energy goes with --two-theta (peaks in 2-theta); energy-dispersive"},
        {false, false, "", "", "10", "200:2.75", "--two-theta-fixed goes with --energy-dispersive"},
        {false, true, "", "", "", "200:30", "--energy-dispersive needs --two-theta-fixed"},
        {true, true, "0.4", "", "10", "200:9", "--two-theta and --energy-dispersive exclude each other"},
        {true, false, "-0.4", "", "", "200:9", "--wavelength: the wavelength must be a positive number of angstrom"},
        {true, false, "", "0", "", "200:9", "--energy: must be a positive number of keV"},
        {false, true, "", "", "181", "200:30", "--two-theta-fixed: the fixed 2-theta must lie above 0 and at most 180"},
        {true, false, "0.4", "", "", "200:190", "peak \"200:190\": 2-theta must lie above 0 and at most 180 degrees"},
        {true, false, "0.4", "", "", "200:9:x", "peak \"200:9:x\": sigma of 2-theta: \"x\" is not a number"},
        {false, true, "", "", "10", "200", "write HKL:E or HKL:E:SIGMA"},
    };
    for (const Case& c : cases) {
        hv::rows::PressureRequest q{"NaCl", "25", "", {c.peak}};
        q.twoTheta = c.twoTheta;
        q.energyDispersive = c.energyDispersive;
        q.wavelength = c.wavelength;
        q.energy = c.energy;
        q.twoThetaFixed = c.fixed;
        std::string out, err;
        EXPECT_EQ(hv::rows::RunPressure(q, out, err), 2) << c.why;
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
}

}  // namespace
