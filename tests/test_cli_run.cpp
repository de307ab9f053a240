// The real hivarnisse-calc, run as a user would: standard output, standard error and exit
// status of whole commands.
#include "calc_fixture.h"

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

using CalcTest = CalcFixture;

// The window's worked examples, each p_gpa rounded half to even to 0.01.
TEST_F(CalcTest, WindowsWorkedExamples)
{
    struct Case { const char* args; const char* shown; };
    for (const Case c : {Case{"--standard NaCl --temperature 25 200:2.75", "P      = 2.15 GPa\n"},
                         Case{"--standard CsCl --temperature 25 110:2.8", "P      = 2.76 GPa\n"},
                         Case{"--standard NaCl --temperature 300 2,0,0:2.7", "P      = 5.05 GPa\n"},
                         Case{"--standard CsCl --temperature 298.15K lp:3.8", "P      = 7.94 GPa\n"},
                         Case{"--standard nacl --temperature 25 '4 0 0:1.5'", "P      = -2.78 GPa\n"}}) {
        SCOPED_TRACE(c.args);
        const Outcome r = Calc(std::string("pressure ") + c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    }
    const Outcome csv = Calc("pressure --standard NaCl --temperature 25 200:2.75 --csv");
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out, "pattern,standard,t_c,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n"
                       "200:2.75,NaCl,25,1,5.5,,0.9273651838302612,2.1517081,,ok,\n");
}

TEST_F(CalcTest, PressureOfSeveralPeaksWithSigma)
{
    // 200 and 400 at a = 5.5 and 5.625 with sigma_a 0.002 each: a = 5.5625, external error 0.0625.
    const Outcome r = Calc("pressure --standard NaCl --temperature 25 200:2.75:0.001 400:1.40625:0.0005 --sigma-t 5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("NaCl at 25 C, 2 peaks, sigma_T = 5 K\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a      = 5.5625 +/- 0.062 A\n"), std::string::npos) << r.out;
    // The fitted a gives the pressure of that lattice parameter measured directly.
    const Outcome direct = Calc("pressure --standard NaCl --temperature 25 lp:5.5625");
    const std::size_t p = direct.out.find("P      = ");
    ASSERT_NE(p, std::string::npos) << direct.out;
    EXPECT_NE(r.out.find(direct.out.substr(p, direct.out.find(" GPa", p) - p) + " +/- "), std::string::npos) << r.out;
    const Outcome warn = Calc("pressure --standard NaCl --temperature 25 lp:4.3");
    EXPECT_EQ(warn.status, 0);
    EXPECT_NE(warn.out.find("warning: V/V0 = 0.4432 is below 0.5"), std::string::npos) << warn.out;
}

TEST_F(CalcTest, SpacingTable)
{
    const Outcome r = Calc("spacing --standard CsCl --temperature 25 --pressure 0 --csv --wavelength 0.4133");
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "hkl,n,d,two_theta");
    // The listed d of 100, typed back in, gives 0 GPa.
    std::getline(lines, line);
    ASSERT_EQ(line.substr(0, 6), "100,1,");
    const Outcome back = Calc("pressure --standard CsCl --temperature 25 100:" + line.substr(6, line.find(',', 6) - 6));
    EXPECT_NE(back.out.find("P      = 0 GPa\n"), std::string::npos) << back.out;
}

TEST_F(CalcTest, BatchFiles)
{
    // Header names in any case and order; short rows padded, long ones cut and refused; CRLF
    // line ends.
    const fs::path plain = Write("plain.csv", " T_C ,Standard,hkl,D,note\r\n25,NaCl,200,2.75\r\n25,NaCl,200,2.75,x,y\r\n"
                                              "25,NaCl,210,2.75,z\r\n");
    const Outcome r = Calc("batch '" + plain.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " T_C ,Standard,hkl,D,note,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n"
                     "25,NaCl,200,2.75,,5.5,,0.9273651838302612,2.1517081,,ok,\n"
                     "25,NaCl,200,2.75,x,,,,,,error,line 3 has 6 fields but the header 5: a field that holds a "
                     "comma must be in double quotes\n"
                     "25,NaCl,210,2.75,z,,,,,,error,\"NaCl has no reflection 2 1 0: in rock salt h, k and l are all "
                     "even or all odd. Its reflections up to h^2+k^2+l^2 = 20: 111, 200, 220, 311, 222, 400, 331, "
                     "420 (or lp for the lattice parameter)\"\n");
    const Outcome patterned = Calc("batch - --jobs 2", "pattern\tstandard\tt_c\thkl\td\n"
                                                   "p1\tNaCl\t25\t200\t2.75\np1\tNaCl\t25\tlp\t5.5\n");
    EXPECT_EQ(patterned.status, 0) << patterned.err;
    EXPECT_EQ(patterned.out, "pattern,standard,t_c,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message\n"
                             "p1,NaCl,25,2,5.5,0,0.9273651838302612,2.1517081,0,ok,\n");
}

TEST_F(CalcTest, UsageErrorsComputeNothing)
{
    struct Case { const char* args; const char* input; const char* why; };
    for (const Case c : {Case{"", "", "A subcommand is required"},
                         Case{"pressure --standard NaCl 200:2.75", "", "--temperature is required"},
                         Case{"pressure --standard NaCl --temperature 25 210:2.7", "", "(or lp for the lattice"},
                         Case{"pressure --standard NaCl --temperature 25 200:2.75 --bogus", "", "--bogus"},
                         Case{"spacing --standard NaCl --temperature 25 --pressure 1 --max-n 0", "", "--max-n"},
                         Case{"batch --jobs x", "", "--jobs"},
                         Case{"batch /nonexistent/file.csv", "", "cannot read /nonexistent/file.csv"},
                         Case{"batch", "standard,t_c,hkl\nNaCl,25,200\n", "missing column d"},
                         Case{"batch", "standard;t_c;hkl;d\nNaCl;25;200;2,75\n", "separated by \";\""},
                         Case{"pressure --standard NaCl --temperature 25 --two-theta 200:9", "", "--two-theta needs"},
                         Case{"pressure --standard NaCl --temperature 25 --energy-dispersive 200:30", "",
                              "--energy-dispersive needs --two-theta-fixed"}}) {
        SCOPED_TRACE(c.args);
        const Outcome r = Calc(c.args, c.input);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    }
    const Outcome model = Calc("spacing --standard NaCl --temperature 25 --pressure 1e9");
    EXPECT_EQ(model.status, 1);
    EXPECT_NE(model.err.find("out of the model's reach"), std::string::npos) << model.err;
}

TEST_F(CalcTest, HelpAndVersion)
{
    const Outcome help = Calc("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* needed : {"hivarnisse-calc pressure --standard", "hivarnisse-calc spacing --standard",
                               "hivarnisse-calc batch measurements.csv", "a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message", "pattern,standard,t_c,n_peaks,",
                               "--two-theta --wavelength", "--energy-dispersive --two-theta-fixed", "two_theta,wavelength",
                               "d_used,sigma_d_used"}) {
        EXPECT_NE(help.out.find(needed), std::string::npos) << needed;
    }
    const Outcome version = Calc("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("hivarnisse-calc 1.", 0), 0u) << version.out;
}

// Huge and non-finite numbers, NaN and binary junk: an error row each that says why.
TEST_F(CalcTest, BadNumbersAndJunk)
{
    const char input[] = "standard,t_c,hkl,d\nNaCl,25,200,1e999\nNaCl,1e39,200,2.75\nNaCl,25,200,inf\n"
                         "NaCl,25,lp,NaN\n\x7f\xfe\0\x01,\x80\xff\n";
    const Outcome r = Calc("batch", std::string(input, sizeof input - 1));
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    for (const char* why : {"\"\"1e999\"\" is out of range", "temperature out of range", "\"\"inf\"\" is not a finite number",
                            "\"\"NaN\"\" is not a finite number", "standard \"\"????\"\" is not known"}) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_NE(line.find(",,,,,error,"), std::string::npos) << line;
        EXPECT_NE(line.find(why), std::string::npos) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

// A line far longer than the cap, made here: a message, the rows around it intact.
TEST_F(CalcTest, LongLine)
{
    const fs::path big = dir_ / "big.csv";
    {
        std::ofstream out(big, std::ios::binary);
        out << "standard,t_c,hkl,d\nNaCl,25,200,";
        const std::string block(1 << 20, '9');
        for (int i = 0; i < 48; ++i) out << block;
        out << "\nNaCl,25,200,2.75\n";
    }
    const Outcome longLine = Calc("batch '" + big.string() + "'");
    EXPECT_EQ(longLine.status, 1);
    EXPECT_NE(longLine.out.find(",,,,,,,,,error,line 2 is longer than 1048576 bytes and was not read\n"
                                "NaCl,25,200,2.75,5.5,"),
              std::string::npos)
        << longLine.out.substr(0, 400);
}

// The inverse's 2-theta, typed back with --two-theta at the same wavelength, gives the pressure
// asked for; the same peak as an energy at the 2-theta of an energy-dispersive detector too.
TEST_F(CalcTest, TwoThetaRoundTrip)
{
    const Outcome table = Calc("spacing --standard NaCl --temperature 25 --pressure 10 --wavelength 0.4133 --csv");
    ASSERT_EQ(table.status, 0) << table.err;
    std::istringstream lines(table.out);
    std::string line;
    std::getline(lines, line);
    ASSERT_EQ(line, "hkl,n,d,two_theta");
    int rows = 0;
    while (std::getline(lines, line)) {
        const std::string hkl = line.substr(0, line.find(','));
        const std::string twoTheta = line.substr(line.rfind(',') + 1);
        const Outcome back = Calc("pressure --standard NaCl --temperature 25 --two-theta --wavelength 0.4133 " + hkl +
                                  ":" + twoTheta);
        EXPECT_EQ(back.status, 0) << back.err;
        EXPECT_NE(back.out.find("2-theta = " + twoTheta + " deg"), std::string::npos) << back.out;
        EXPECT_NE(back.out.find("P      = 10 GPa\n"), std::string::npos) << back.out;
        ++rows;
    }
    EXPECT_EQ(rows, 8);
    // hc / (2 d sin 7.5 deg) for the 200 spacing 2.6061187 A at 10 GPa: 18.224 keV by hand.
    const Outcome ed = Calc("pressure --standard NaCl --temperature 25 --energy-dispersive --two-theta-fixed 15 200:18.224");
    EXPECT_EQ(ed.status, 0) << ed.err;
    EXPECT_NE(ed.out.find("NaCl at 25 C, 1 peak, energies at 2-theta = 15 deg\n  200     E = 18.224 keV"),
              std::string::npos)
        << ed.out;
    EXPECT_NE(ed.out.find("d = 2.60612"), std::string::npos) << ed.out;
    EXPECT_NE(ed.out.find("P      = 10 GPa\n"), std::string::npos) << ed.out;
}

}  // namespace
