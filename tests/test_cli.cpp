// The command-line program's CSV reader, batch logic and commands, in process.
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/csv.h"
#include "core/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using hv::cli::CsvReader;

// Every record as "field|field|..." with its line and flags.
std::string ReadAll(const std::string& input)
{
    hv::cli::MemorySource source(input);
    CsvReader reader(source);
    reader.SetDelimiter(reader.GuessDelimiter());
    hv::cli::Record r;
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
    const std::string big(hv::cli::kMaxRecordBytes, '7');
    EXPECT_EQ(ReadAll("h\nx,y," + big + ",z\nok\n"), "1:h\n2:x|y (too long, 4 fields)\n3:ok\n");
    EXPECT_EQ(ReadAll("h\n\"" + big + "\n\",z\nok\n"), "1:h\n2: (too long, 2 fields)\n4:ok\n");
    // Fields alone, without any bytes, count too: a line of commas cannot grow memory.
    const std::string commas(hv::cli::kMaxRecordBytes, ',');
    EXPECT_EQ(ReadAll("h\n" + commas + "\nok\n").substr(0, 9), "1:h\n2:|||");
    EXPECT_NE(ReadAll("h\n" + commas + "\nok\n").find("(too long, 1048577 fields)\n3:ok\n"), std::string::npos);
}

struct Batch {
    int exitCode;
    std::string out, error;
};

Batch RunOn(const std::string& input, unsigned jobs = 1)
{
    hv::cli::MemorySource source(input);
    Batch b;
    const hv::cli::BatchSummary s = hv::cli::RunBatch(source, [&](std::string_view t) { b.out += t; }, jobs);
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
        {"KBr,25,200,2.75", "KBr\"\" is not known: give one of NaCl, KCl, CsCl"},
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

// Usage errors: exit 2, nothing written, the message names the problem.
TEST(Batch, BadHeaders)
{
    struct Case { std::string input; const char* why; };
    const Case cases[] = {
        {"", "the input is empty"},
        {"\n\n", "the input is empty"},
        {"standard,t_c,hkl\nNaCl,25,200\n", "missing column d:"},
        {"standard;t_c;hkl;d\n", "missing columns standard, t_c, hkl, d"},
        {"standard,t_c,hkl,d,D\n", "column d appears twice"},
        {"x," + std::string(hv::cli::kMaxRecordBytes, 'y') + "\n", "header line is longer than 1048576 bytes"},
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
    EXPECT_EQ(one.exitCode, 0);
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
        ASSERT_EQ(hv::cli::RunSpacing({c.standard, c.t, c.p, "", 20, true}, out, err), 0) << err;
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
    struct Case { hv::cli::PressureRequest q; int status; const char* why; };
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
        EXPECT_EQ(hv::cli::RunPressure(c.q, out, err), c.status);
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
    struct Spacing { hv::cli::SpacingRequest q; int status; const char* why; };
    const Spacing spacings[] = {
        {{"NaCl", "25", "ten", "", 20, false}, 2, "--pressure: \"ten\" is not a number"},
        {{"NaCl", "25", "10", "-1", 20, false}, 2, "--wavelength: must be a positive number"},
    };
    for (const Spacing& c : spacings) {
        SCOPED_TRACE(c.why);
        std::string out, err;
        EXPECT_EQ(hv::cli::RunSpacing(c.q, out, err), c.status);
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
}

}  // namespace
