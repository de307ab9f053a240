// hivarnisse-calc: the calculator's pressure, its inverse and whole CSV files from the
// command line. The arithmetic is the core's; this file reads arguments and writes text.
#include "rows/batch.h"
#include "rows/commands.h"
#include "rows/csv.h"
#include "cli/pattern_command.h"
#include "cli/eos_command.h"
#include "rows/standards_table.h"
#include "core/units.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "hivarnisse-calc";

const char* const kAbout =
    "Pressure from the measured lattice spacings or cell volume of a pressure standard in\n"
    "high-pressure X-ray diffraction (NaCl, KCl and CsCl on the built-in model; Au, Pt, MgO,\n"
    "NaCl, NaCl-B2, KCl-B2, CsCl, Ne, Re, Mo and W on their published scales), and the spacings\n"
    "expected at a given pressure. NaCl and CsCl compute with the same equation of state and\n"
    "arithmetic as the Hi Varnisse window: one peak gives the pressure the window shows, to the\n"
    "hundredth.";

const char* const kManual = R"(Run "hivarnisse-calc COMMAND --help" for the options of one command.

Numbers:
  Numbers always use "." as decimal separator, whatever the locale. Each number is read as
  the window reads a typed one, rounded to single precision. Temperatures are in degrees
  Celsius; a trailing K means kelvin (298.15K).

Standards and scales:
  A standard is NAME or NAME:SCALE in any letter case, wherever one is named (--standard,
  batch's standard column). NaCl, KCl and CsCl alone are the built-in ionic-lattice model
  (J. Appl. Phys. 42, 3239 (1971)), the window's. Published scales: Au (Fei2007, Anderson1989), Pt
  (Fei2007, Holmes1989), MgO (Tange2009, Speziale2001), NaCl:Matsui2012, NaCl-B2 (Fei2007),
  KCl-B2 (Dewaele2012, Tateno2019), CsCl:Dewaele2020, Ne (Fei2007), Re (Zha2004, Ono2022),
  Mo (Huang2016, Litasov2013), W (Litasov2013); a name alone is its first scale. Every output
  names the scale it used (Au:Fei2007 when Au was typed). "hivarnisse-calc standards" lists
  each with its structure, equation of state, parameters, range and the paper to cite. A
  published scale computes in double precision and writes p_gpa as the double it is. A
  standard used outside the phase its scale describes (NaCl above about 30 GPa, KCl above
  about 2 GPa in rock salt; CsCl above about 470 C) gets a warning that names the right one.

Peaks:
  A peak is HKL:D or HKL:D:SIGMA_D, d and its standard uncertainty in angstrom. HKL is 200,
  2,0,0 or "2 0 0"; lp means D is the lattice parameter itself (the window's L.P. entry). A
  reflection the standard does not have (NaCl 210) is refused with the list it does have.
  Several peaks of one pattern are fitted to one lattice parameter a: weighted by 1/sigma_a^2
  when every peak has SIGMA_D (sigma_a the larger of the internal and external error), else
  the plain mean with the standard error of the mean.

Peaks as measured:
  With --two-theta, D and SIGMA_D of every peak are 2-theta and its uncertainty in degrees,
  at the X-ray wavelength --wavelength (angstrom) or energy --energy (keV):
  d = lambda / (2 sin theta). With --energy-dispersive they are photon energies and their
  uncertainty in keV, at the detector's fixed angle --two-theta-fixed (2-theta, degrees):
  d = hc / (2 E sin theta), hc = 12.398419843320026 keV angstrom. The uncertainty is carried
  to d to first order; the d is then read as a d typed in is. The listing shows each peak's
  position and the d it gives; --csv adds the columns d_used,sigma_d_used before a.

Uncertainty:
  sigma_P needs sigma_a: SIGMA_D on every peak, or two peaks or more. It is propagated through
  the model's slopes dP/da and dP/dT; a temperature uncertainty (--sigma-t, sigma_t, in
  kelvin) adds in quadrature. Without sigma_a there is no sigma_P, sigma_t alone gives none.

Warnings and errors:
  V/V0 outside 0.5-1.5 gives the pressure with a warning, as the window does: the equation of
  state is not valid there. A pressure the model cannot reach is an error.

Examples:
  hivarnisse-calc pressure --standard NaCl --temperature 25 200:2.75
      NaCl at 25 C, one 2 0 0 peak at 2.75 A: P = 2.15 GPa.
  hivarnisse-calc pressure --standard NaCl --temperature 25 200:2.75:0.0005 220:1.945:0.0005 --sigma-t 5
      Two peaks with uncertainties: the fitted a, V/V0 and P with sigma_P.
  hivarnisse-calc pressure --standard CsCl --temperature 298.15K lp:3.8 --csv
      The lattice parameter itself, CSV output (columns as batch with a pattern column).
  hivarnisse-calc pressure --standard NaCl --temperature 25 --two-theta --wavelength 0.4133 200:9.096:0.002
      A peak at 2-theta = 9.096 +/- 0.002 deg: d = 2.606116 +/- 0.00057 A, P = 10 +/- 0.044 GPa.
  hivarnisse-calc pressure --standard NaCl --temperature 25 --energy-dispersive --two-theta-fixed 15 200:18.224:0.005
      An energy-dispersive peak at 18.224 +/- 0.005 keV with the detector at 2-theta = 15 deg:
      d = 2.606123 +/- 0.00072 A, P = 10 +/- 0.055 GPa.
  hivarnisse-calc spacing --standard NaCl --temperature 25 --pressure 10 --wavelength 0.4133
      hkl, h^2+k^2+l^2, d and 2-theta of every reflection up to h^2+k^2+l^2 = 20.
  hivarnisse-calc pressure --standard Au --temperature 25 111:2.2815:0.0003 200:1.9759:0.0003
      Gold on its default scale, Au:Fei2007, from two peaks.
  hivarnisse-calc pressure --standard Pt --temperature 25 --volume 56.1 --sigma-volume 0.05 --scale all
      The pressure of a cell volume from a Rietveld refinement, one line per scale of Pt.
  hivarnisse-calc spacing --standard Re --temperature 25 --pressure 50 --wavelength 0.2952
      a, c and V of the rhenium gasket at 50 GPa, and d and 2-theta of its reflections.
  hivarnisse-calc standards
      Every standard and scale with its equation, parameters and reference.
  hivarnisse-calc batch measurements.csv > pressures.csv
      Every row of the file with its pressure, on all cores.
  printf 'standard,t_c,hkl,d\nNaCl,25,200,2.75\n' | hivarnisse-calc batch
      The same from standard input.
  printf 'standard,t_c,hkl,two_theta,wavelength\nNaCl,25,200,9.096,0.4133\n' | hivarnisse-calc batch
      A 2-theta file: the row, then d_used = 2.606116038091957 (and an empty sigma_d_used),
      a = 5.2122321128845215, p_gpa = 10.000207.
  hivarnisse-calc pattern --standard NaCl --temperature 25 --wavelength 0.4133 --plot fits run/*.xy
      The pressure of every integrated pattern, and a picture of each fit in fits/.

Batch input:
  CSV (RFC 4180) with comma or tab between fields and a header line. Header names, in any
  order and any case: standard, t_c, hkl, d; optional sigma_d, sigma_t (kelvin), pattern.
  standard is NAME or NAME:SCALE, as --standard takes it.
  Instead of d, peaks as measured: two_theta (degrees) with wavelength (angstrom) or
  energy_kev (the X-ray energy, keV), optional sigma_two_theta (degrees); or e_kev (photon
  energy, keV) with two_theta_fixed (degrees), optional sigma_e_kev (keV). A file may mix
  them, but each row gives exactly one of d, two_theta and e_kev with what that one needs, and
  only that one's sigma; otherwise the row is an error that says why.
  Other columns are carried through. Empty lines are skipped. A record longer than 1 MiB
  (1048576 bytes) is not read: its row is an error. A row with more filled fields than the
  header is an error that names both counts and says when a decimal comma (2,75 read as two
  fields) is the likely cause; empty fields at the end are fine. A header separated by ";"
  is refused: fields are separated by "," or tab.

Batch output:
  CSV with commas, lines ending in LF, fields quoted only where needed. Numbers are written as
  the shortest text that reads back as the same value; empty where there is none.
  Without a pattern column: one row per input row, in input order: the input's columns as
  they came (a row with too few fields padded with empty ones, one with more filled fields
  cut to the header's and an error), then
    a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message
  With a pattern column: one row per pattern, in order of first appearance:
    pattern,standard,t_c,n_peaks, then the seven columns above
  When some row names a published scale (anything but NaCl, KCl and CsCl on the built-in
  model), a scale column follows the input's columns (or n_peaks): the name of the scale each
  row used (Au:Fei2007 for Au), empty where the standard is not known. A file with only the
  built-in three gives the same output as it always did.
  standard and t_c as the pattern's first row gives them, n_peaks its number of rows. All rows
  of a pattern must share standard, temperature and sigma_t.
  With two_theta or e_kev columns, d_used,sigma_d_used come before a: the d and sigma_d each
  row's position gave (empty where it could not be read), for a pattern those of its rows
  separated by spaces (sigma_d_used only when every row has one).
  a is the lattice parameter (angstrom), v_ratio V/V0, p_gpa the window's single-precision
  pressure in GPa (the built-in model; a published scale's p_gpa is its double): rounded half
  to even to 0.01 it is what the window shows. status is ok,
  warning (V/V0 outside 0.5-1.5) or error; message says why. An error row has empty a,
  sigma_a, v_ratio, p_gpa and sigma_p_gpa. A bad row never stops the others and no row is
  dropped: a pattern with a bad row is an error that names the input line.
  Rows are computed on all cores (--jobs) and written in input order. Without a pattern
  column the input streams through: memory does not grow with the number of rows.

Patterns:
  hivarnisse-calc pattern reads integrated 1D patterns (.xy, .chi, .fxye, .xye or plain
  columns), finds the standard's reflections without a guess (or near --pressure-guess),
  fits each with a pseudo-Voigt profile on a linear background and puts the used peaks'
  spacings through the same fit as the pressure command. One row per file, in input order,
  with the columns file, standard, t_c, wavelength, n_peaks, then the seven of batch (a,
  sigma_a, v_ratio, p_gpa, sigma_p_gpa, status, message), then how well the standard's
  expected pattern is explained (fom, strong_found, strong_expected), the trend of a_i
  (trend, sigma_trend) and the offset --zero-shift refines (zero_shift, sigma_zero_shift).
  With --peaks FILE it also writes every predicted reflection of every file (file, hkl, n,
  position, sigma_position, fwhm, eta, height, d, sigma_d, a_i, used, note, i_expected), and
  with --plot DIR a picture of every fit and of the series' pressures (PNG, or SVG with
  --plot-format svg). The files come from the
  command line or from a CSV given with --list, with a file column and optionally t_c,
  sigma_t, wavelength and standard. A bad file is an error row; the others are computed all
  the same. Run "hivarnisse-calc pattern --help" for every option.

Equations of state:
  hivarnisse-calc eos fits a sample's V0, K0, K0' (K0'', and for P-V-T data gamma0 and q)
  to a CSV of measured p_gpa, sigma_p_gpa, v, sigma_v (optionally t_c, sigma_t), weighting by
  the uncertainties of both P and V. Run "hivarnisse-calc eos --help" for the columns, forms
  and outputs.

Exit status:
  0  every answer computed (warnings included)
  1  pressure, spacing: the model gives no answer (with --scale all: no scale gives one);
     batch, pattern: some rows are errors (all written)
  2  usage error, an unreadable file, a missing column or a header not separated by "," or
     tab: nothing computed)";

const char* const kPressureHelp =
    "Pressure from one or more peaks of one diffraction pattern: each peak's a, the fitted a,\n"
    "V/V0, P (rounded to 0.01 GPa as the window shows it for the built-in model, to six digits\n"
    "for a published scale), sigma_P when known, any warning. The first line names the scale.\n"
    "With --csv: a header line and one row in the columns of batch with a pattern column\n"
    "(pattern is the peaks as given), and a scale column for a published scale.\n"
    "--volume V gives the pressure of a cell volume in A^3 per conventional cell instead (as a\n"
    "Rietveld refinement gives it), with --sigma-volume its uncertainty; its CSV columns are\n"
    "volume,sigma_volume,standard,t_c[,scale] and the seven computed ones.\n"
    "--scale all: one line (one CSV row) per scale of the standard's material, to compare them.\n"
    "Peaks may be 2-theta (--two-theta with --wavelength or --energy) or photon energies\n"
    "(--energy-dispersive with --two-theta-fixed): the listing shows the d each gives.\n"
    "Example: hivarnisse-calc pressure --standard NaCl --temperature 25 200:2.75\n"
    "Example: hivarnisse-calc pressure --standard NaCl --temperature 25 --two-theta --wavelength 0.4133 200:9.096\n"
    "Example: hivarnisse-calc pressure --standard MgO --temperature 1200 --volume 70.2 --scale all";

const char* const kSpacingHelp =
    "The lattice parameter at a pressure, and hkl, h^2+k^2+l^2, d (and 2-theta with\n"
    "--wavelength) for every reflection of the standard up to h^2+k^2+l^2 = 20 (--max-n),\n"
    "one row per reflection. d is written as the shortest text that reads back as the same\n"
    "single-precision value: typed back in, it gives the pressure asked for. A published scale\n"
    "also gives the cell volume V, and a hexagonal standard (Re) its c and each reflection's d\n"
    "from a and c.\n"
    "With --csv: columns hkl,n,d[,two_theta], hkl as three digits (200).\n"
    "Example: hivarnisse-calc spacing --standard NaCl --temperature 25 --pressure 10";

const std::string kStandardsHelp =
    std::string("Lists every pressure standard and each of its scales: structure, equation of state with its\n"
    "parameters, the range the paper states, the phase it holds, and the paper to cite. The name\n"
    "in the first column is what --standard and the standard column take, in any letter case; a\n"
    "material's name alone selects its default scale.\n"
    "With --csv: ") + std::string(hv::rows::kStandardsHeader) + ".\n"
    "Example: hivarnisse-calc standards";

const char* const kBatchHelp =
    "Reads CSV measurements from FILE or, without FILE or with -, standard input, and writes\n"
    "CSV with their pressures to standard output (see hivarnisse-calc --help for the columns).\n"
    "Example: hivarnisse-calc batch measurements.csv > pressures.csv";

const char* const kPatternHelp = R"(Finds and fits the standard's reflections in integrated 1D diffraction patterns and writes
one CSV row per file, in input order, to standard output:
  file,standard,t_c,wavelength,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message,
  fom,strong_found,strong_expected,trend,sigma_trend,zero_shift,sigma_zero_shift
wavelength is the one used (angstrom), n_peaks the number of reflections used; the other
columns as batch writes them. fom is the share of the standard's expected intensity in range
that used reflections carry, strong_found of strong_expected its strongest expected
reflections are used, trend (sigma_trend) is the trend of a_i with position as the offset of
x that would make it, zero_shift (sigma_zero_shift) the offset --zero-shift refined. The
used peaks' d and sigma_d go through the same fit as the pressure command: a file's
pressure is what "hivarnisse-calc pressure" gives for its peaks.

Files: .xy (# comments, the last names the columns: 2th_deg, 2th_rad, q_A^-1, q_nm^-1, d_A;
"# Wavelength: 4.066e-11 m"), .chi (Fit2D), .fxye (GSAS), .xye (Topas) and plain columns
(x I or x I sigma, with blanks or commas). Told apart by content first, extension second.
--x-unit, --wavelength and --energy win over what a file says. Without any, x is 2-theta in
degrees; where the header names energy (or --two-theta-fixed is given) the row says so.

Search: without --pressure-guess the lattice parameter is searched from V/V0 0.5 up to the
volume at -0.5 GPa at the temperature (or over --pressure-range LO:HI in GPa, narrowed to
what the model reaches) by how well several predicted reflections match peaks at once. The
standard is recognised by its whole expected pattern: its strongest reflections must be
there, single-point spikes and peaks of other widths do not count, and one data peak never
serves two reflections. Every predicted reflection inside the pattern (or --range LO:HI in
the file's x unit, or only --reflections) is fitted with a pseudo-Voigt profile on a linear
background. Weak reflections and outliers of a_i are left out, with the reason in --peaks'
note. ok needs 3 or more used reflections including the strongest expected; 2 (near a
--pressure-guess, or of listed --reflections), strong ones missing, a trend of a_i (a zero or
distance error) or tension make a warning.
--zero-shift refines a constant offset of x (a zero error) together with the lattice.

--list: a CSV with a header and the columns file, and optionally t_c, sigma_t, wavelength,
standard: a row's values win over the options, relative paths are relative to the list.
--peaks FILE: every predicted reflection of every file:
  file,hkl,n,position,sigma_position,fwhm,eta,height,d,sigma_d,a_i,used,note,i_expected
i_expected is the reflection's expected relative intensity, 100 for the strongest in range.
--plot DIR: a picture per file (named after it) and series.png with P against file order,
each point named by its file (or by its t_c, for a --list with a t_c column).

A series (a compression or heating run, in input order): --follow searches each file near
the series' pressure (within max(2 GPa, 20 %), as --pressure-guess does): the last found
with status ok near the file before, or, after a file found far from it, that file's
pressure once the next file is found near it; over the whole range only where nothing is
found there. So a weak pattern keeps the series' lattice, and one coincidence does not
lead the search astray. With or without --follow, a pressure that jumps away from both
neighbouring files (above or below both, from each by more than 1 GPa and 5 combined
sigma) is flagged: its row becomes a warning whose message says "flag", and series.png
rings it.

A bad file is an error row that says why; it never stops the others. Exit status 0 every
file computed, 1 some rows are errors or a picture could not be written (all rows are
written), 2 usage error (nothing computed). On a terminal a progress line is shown on
standard error.

Examples:
  hivarnisse-calc pattern --standard NaCl --temperature 25 --wavelength 0.4133 run/p0001.xy
  hivarnisse-calc pattern --standard NaCl --temperature 25 --pressure-guess 10 --peaks peaks.csv \
      --plot fits run/*.xy > pressures.csv
  hivarnisse-calc pattern --list heating.csv --standard NaCl --sigma-t 5 > pressures.csv
  hivarnisse-calc pattern --standard CsCl --temperature 25 --x-unit kev --two-theta-fixed 9 ed.dat)";

const char* const kEosHelp = R"(Fits a sample's equation of state to its measured pressures and volumes, weighting every
point by the uncertainties of both: sigma_eff^2 = sigma_P^2 + (K(V)/V sigma_V)^2, plus
(dP/dT sigma_T)^2 with temperatures, recomputed from the parameters until the fit settles.

Input: CSV (comma or tab) with a header naming, in any order and letter case, p_gpa,
sigma_p_gpa, v (or volume), sigma_v, and optionally t_c (degrees Celsius, or kelvin with a
trailing K) and sigma_t (kelvin). Other columns are passed over: the rows the pattern command
writes read as they are once v and sigma_v columns are added. A missing sigma column means
no uncertainty in that quantity; a given sigma must be positive. Volumes in any unit, V0 in
the same.

Forms: BM2 (K0' = 4), BM3, BM4 and Vinet, at the data's one temperature. With --theta0 the
fit is P-V-T: the isotherm at T0 (--t0, default 300K) plus a Mie-Grueneisen-Debye thermal
pressure, gamma0 and q refined; --z formula units per cell and --atoms per formula unit
(volumes per cell in cubic angstrom). Parameters v0, k0, k0p, k0pp, gamma0, q; --fix
NAME=VALUE (repeatable) holds one at a value.

Output: the parameters with standard uncertainties and their correlations, chi-square, its
reduced value and the largest |residual|/sigma_eff. The uncertainties come from the given
sigmas, multiplied by sqrt(reduced chi-square) when that is above 1. With --csv one header
line and one row:
  form,n_points,v0,sigma_v0,k0,sigma_k0,k0p,sigma_k0p,k0pp,sigma_k0pp,gamma0,sigma_gamma0,
  q,sigma_q,chi2,chi2_reduced,max_abs_residual_sigma,status,message
(empty where the form has no such parameter; a fixed one has its value and an empty sigma).
--residuals FILE: per point line,v,p_gpa,p_fit_gpa,residual_gpa,sigma_eff_gpa,residual_sigma,
f,sigma_f,F_gpa,sigma_F_gpa. --plot DIR: eos_pv (P-V with both error bars, the curve and the
residuals), eos_ff (F-f with F's uncertainty and the fitted isotherm) and eos_ellipse (K0-K0'
at 68.3 % and 95.4 %), PNG or SVG with --plot-format svg.

Exit status 0 fitted, 1 the fit failed or a row is bad (the reason, naming the line, on
standard error; with --csv the row has status error), 2 usage error, an unreadable file or a
missing column.

Examples:
  hivarnisse-calc eos mgo.csv --form BM3
  hivarnisse-calc eos mgo.csv --form BM3 --fix k0p=4 --csv
  hivarnisse-calc eos au_hot.csv --form Vinet --theta0 170 --z 4 --atoms 1 --plot figs)";

int Fail(const std::string& why, int status)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
    return status;
}

int Finish(const std::string& out, const std::string& err, int status)
{
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (!err.empty()) {
        // A warning is part of the answer; only failures name the program.
        if (status == 0) {
            std::fprintf(stderr, "%s\n", err.c_str());
        } else {
            return Fail(err, status);
        }
    }
    return status;
}

int Batch(const std::string& file, unsigned jobs)
{
    int fd = STDIN_FILENO;
    if (!file.empty() && file != "-") {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return Fail("cannot read " + file + ": " + std::strerror(errno), 2);
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return Fail("cannot read " + file + ": it is a directory", 2);
        }
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    hv::rows::FdSource source(fd);
    const hv::rows::BatchSummary s =
        hv::rows::RunBatch(source, [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }, jobs);
    if (fd != STDIN_FILENO) ::close(fd);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return Fail("writing the output failed", 2);
    if (s.exitCode == 2) {
        return Fail((file.empty() || file == "-" ? std::string("standard input") : file) + ": " + s.error, 2);
    }
    return s.exitCode;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app(kAbout, kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " HV_VERSION);
    app.footer(kManual);
    app.require_subcommand(1);
    app.get_formatter()->column_width(30);

    hv::rows::PressureRequest pq;
    CLI::App* pressure = app.add_subcommand("pressure", "Pressure from measured spacings")->footer(kPressureHelp);
    pressure->add_option("--standard", pq.standard, "NAME or NAME:SCALE (see the standards command)")->required();
    pressure->add_option("--temperature", pq.temperature, "Degrees Celsius, or kelvin with a trailing K")->required();
    pressure
        ->add_option("peaks", pq.peaks,
                     "HKL:D[:SIGMA_D], one or more, as 200:2.75; D in degrees or keV with --two-theta, "
                     "--energy-dispersive");
    pressure->add_option("--sigma-t", pq.sigmaT, "Temperature uncertainty in kelvin");
    pressure->add_flag("--csv", pq.csv, "CSV output");
    pressure->add_flag("--two-theta", pq.twoTheta, "Peaks are HKL:2THETA[:SIGMA] in degrees");
    pressure->add_option("--wavelength", pq.wavelength, "X-ray wavelength in angstrom, for --two-theta");
    pressure->add_option("--energy", pq.energy, "X-ray energy in keV, for --two-theta (instead of --wavelength)");
    pressure->add_flag("--energy-dispersive", pq.energyDispersive, "Peaks are HKL:E[:SIGMA], photon energies in keV");
    pressure->add_option("--two-theta-fixed", pq.twoThetaFixed, "Detector angle 2-theta in degrees, for --energy-dispersive");
    pressure->add_option("--volume", pq.volume, "Cell volume in A^3 (conventional cell), instead of peaks")->type_name("V");
    pressure->add_option("--sigma-volume", pq.sigmaVolume, "Uncertainty of --volume in A^3")->type_name("S");
    pressure->add_option("--scale", pq.scale, "all: one answer per scale of the standard")->type_name("all");

    hv::rows::SpacingRequest sq;
    CLI::App* spacing = app.add_subcommand("spacing", "Spacings at a given pressure")->footer(kSpacingHelp);
    spacing->add_option("--standard", sq.standard, "NAME or NAME:SCALE (see the standards command)")->required();
    spacing->add_option("--temperature", sq.temperature, "Degrees Celsius, or kelvin with a trailing K")->required();
    spacing->add_option("--pressure", sq.pressure, "GPa")->required();
    spacing->add_option("--wavelength", sq.wavelength, "X-ray wavelength in angstrom: adds 2-theta");
    spacing->add_option("--max-n", sq.maxN, "Highest h^2+k^2+l^2 listed (1 to 10000)")
        ->capture_default_str()
        ->check(CLI::Range(1, 10000));
    spacing->add_flag("--csv", sq.csv, "CSV output");

    std::string file;
    unsigned jobs = 0;
    CLI::App* batch = app.add_subcommand("batch", "CSV in, CSV with pressures out")->footer(kBatchHelp);
    batch->add_option("file", file, "CSV file; - or none for standard input");
    batch->add_option("--jobs,-j", jobs, "Worker threads; 0 for one per core")
        ->capture_default_str()
        ->check(CLI::Range(0u, 1024u));

    hv::cli::PatternRequest tq;
    CLI::App* pat = app.add_subcommand("pattern", "Pressures from integrated diffraction patterns")
                        ->footer(kPatternHelp);
    pat->add_option("files", tq.files, "Pattern files (.xy, .chi, .fxye, .xye, columns)")->type_name("FILE");
    pat->add_option("--list", tq.list, "CSV of files: file[,t_c,sigma_t,wavelength,standard]")
        ->type_name("CSV")
        ->excludes("files");
    pat->add_option("--standard", tq.standard, "NAME or NAME:SCALE (see the standards command)")->type_name("NAME");
    pat->add_option("--temperature", tq.temperature, "Degrees Celsius, or kelvin with a trailing K")->type_name("T");
    pat->add_option("--sigma-t", tq.sigmaT, "Temperature uncertainty in kelvin")->type_name("K");
    CLI::Option* lambda = pat->add_option("--wavelength", tq.wavelength, "X-ray wavelength in angstrom")->type_name("A");
    pat->add_option("--energy", tq.energy, "X-ray energy in keV, instead of --wavelength")
        ->type_name("KEV")
        ->excludes(lambda);
    pat->add_option("--x-unit", tq.xUnit, "x unit, winning over the file's: " + hv::XUnitChoices())->type_name("UNIT");
    pat->add_option("--two-theta-fixed", tq.twoThetaFixed, "Detector angle 2-theta in degrees (--x-unit kev)")
        ->type_name("DEG");
    CLI::Option* guess = pat->add_option("--pressure-guess", tq.pressureGuess, "GPa: search near it")->type_name("GPA");
    pat->add_option("--pressure-range", tq.pressureRange, "GPa: search within")
        ->type_name("LO:HI")
        ->excludes(guess);
    pat->add_flag("--follow", tq.follow, "A series: search each file near the pressure of the file before it");
    pat->add_option("--range", tq.range, "In the file's x unit: fit only inside")->type_name("LO:HI");
    pat->add_flag("--zero-shift", tq.zeroShift, "Refine a constant offset of x (a zero error) with the lattice");
    pat->add_option("--reflections", tq.reflections, "Fit only these, as 200,220,222")->type_name("LIST");
    pat->add_option("--peaks", tq.peaks, "Write the fitted reflections to this CSV file")->type_name("FILE");
    pat->add_option("--plot", tq.plot, "Write a picture of every fit into this directory")->type_name("DIR");
    pat->add_option("--plot-format", tq.plotFormat, "png or svg")->type_name("FMT")->capture_default_str();
    pat->add_option("--jobs,-j", tq.jobs, "Worker threads; 0 for one per core")
        ->capture_default_str()
        ->check(CLI::Range(0u, 1024u));

    hv::cli::EosRequest eq;
    CLI::App* eosApp = app.add_subcommand("eos", "A sample's equation of state from pressures and volumes")
                           ->footer(kEosHelp);
    eosApp->add_option("file", eq.file, "CSV with p_gpa, sigma_p_gpa, v, sigma_v[, t_c, sigma_t]")
        ->type_name("FILE")
        ->required();
    eosApp->add_option("--form", eq.form, "BM2, BM3, BM4 or Vinet")->type_name("FORM")->capture_default_str();
    eosApp->add_option("--fix", eq.fix, "Hold a parameter: v0, k0, k0p, k0pp, gamma0, q")->type_name("NAME=VALUE");
    eosApp->add_option("--theta0", eq.theta0, "Debye temperature in K: a P-V-T fit with MGD")->type_name("K");
    eosApp->add_option("--t0", eq.t0, "Reference temperature, Celsius or kelvin with K (300K)")->type_name("T");
    eosApp->add_option("--z", eq.z, "Formula units per cell (P-V-T)")->type_name("Z");
    eosApp->add_option("--atoms", eq.atoms, "Atoms per formula unit (P-V-T)")->type_name("N");
    eosApp->add_flag("--csv", eq.csv, "One CSV row instead of the summary");
    eosApp->add_option("--residuals", eq.residuals, "Write every point's residual to this CSV file")->type_name("FILE");
    eosApp->add_option("--plot", eq.plot, "Write the pictures into this directory")->type_name("DIR");
    eosApp->add_option("--plot-format", eq.plotFormat, "png or svg")->type_name("FMT")->capture_default_str();
    bool standardsCsv = false;
    CLI::App* standards = app.add_subcommand("standards", "Every standard and scale, with its reference")
                              ->footer(kStandardsHelp);
    standards->add_flag("--csv", standardsCsv, "CSV output");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    std::string out, err;
    if (pressure->parsed()) {
        const int status = hv::rows::RunPressure(pq, out, err);
        return Finish(out, err, status);
    }
    if (spacing->parsed()) {
        const int status = hv::rows::RunSpacing(sq, out, err);
        return Finish(out, err, status);
    }
    if (pat->parsed()) return hv::cli::RunPatternCommand(tq);
    if (eosApp->parsed()) return hv::cli::RunEosCommand(eq);
    if (standards->parsed()) {
        return Finish(standardsCsv ? hv::rows::StandardsCsv() : hv::rows::StandardsListing(), "", 0);
    }
    return Batch(file, jobs);
}
