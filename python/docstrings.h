// Help texts of the module: help(hivarnisse.pressure) is how people learn it. The examples
// run as tests (tests/python), so they show real output.
#pragma once

namespace doc {

constexpr const char* kModule = R"(Pressure from the lattice spacing or cell volume of a pressure standard.

The calculation of the Hi Varnisse window and of hivarnisse-calc, for numpy arrays:

  pressure(standard, t_c, hkl, d, sigma_d=None, sigma_t=None)  a pressure per spacing
  fit(standard, t_c, hkl, d, sigma_d=None, sigma_t=None)       one pattern, several peaks
  spacing(standard, t_c, p_gpa, hkl=None, wavelength=None)     the spacings at a pressure
  Kolvane(istd, tcel, vdiff)                                   the equation of state, kbar
  read_pattern(path)                                           an integrated pattern file
  fit_pattern(standard, t_c, x, intensity, ...)                its standard's peaks, a pressure
  fit_eos(p, v, *, sigma_p=None, sigma_v=None, form="BM3", ...) a sample's equation of state
  standards()                                                  every standard and scale
  convert(p_gpa, t_c, from_standard, to_standard)              a pressure on another scale

standard is "NaCl", "KCl" or "CsCl" (the built-in ionic-lattice model, as the window computes)
or any published scale: "Au" (its default scale, Au:Fei2007), "Au:Anderson1989", "Pt", "MgO",
"NaCl:Matsui2012", "NaCl-B2", "KCl-B2", "Ne", "Re", "Mo", "W" ...; letter case is ignored and
standards() lists them all.

Temperatures are in degrees Celsius, spacings and lattice parameters in angstrom, pressures
in GPa. pressure and fit also take the peaks as measured instead of d: two_theta= (degrees)
with wavelength= (angstrom) or energy= (keV), or e_kev= with two_theta_fixed= (degrees). Every number is read as the window reads a typed one (narrowed to single precision),
so the same inputs give the same p_gpa, to the bit, as the window and hivarnisse-calc.

>>> import hivarnisse
>>> r = hivarnisse.pressure("NaCl", 25, "200", 2.75)
>>> print(r.status, r.p_gpa.round(2))
ok 2.15
)";

constexpr const char* kResult = R"(What pressure() and fit() return.

Every attribute but n_peaks is a numpy array of the inputs' broadcast shape (0-d when they
were all scalars; always 0-d from fit). Numbers are NaN where an element has no value: all of
them for status 'error', the sigmas where there is no uncertainty.

>>> r = hivarnisse.pressure("CsCl", 25, ["110", "lp"], [2.8, 3.8])
>>> r.p_gpa.round(2)
array([2.76, 7.94], dtype=float32)
>>> sorted(r.as_dict())
['a', 'message', 'p_gpa', 'sigma_a', 'sigma_p_gpa', 'status', 'v_ratio']
)";

constexpr const char* kPGpa =
    "Pressure in GPa: the window's single-precision number (float32) for the built-in model,\n"
    "the double a published scale computes (float64) for every other standard.";
constexpr const char* kSigmaPGpa = "Uncertainty of the pressure in GPa (float64), NaN without sigma_a.";
constexpr const char* kA = "Lattice parameter in angstrom (float64).";
constexpr const char* kSigmaA = "Uncertainty of the lattice parameter in angstrom (float64).";
constexpr const char* kVRatio = "V/V0, the cell volume over its ambient volume (float64).";
constexpr const char* kStatus = "'ok', 'warning' (V/V0 outside 0.5-1.5, the pressure stands) or 'error'.";
constexpr const char* kMessage = "Why, in words, for warnings and errors; '' otherwise (str objects).";
constexpr const char* kNPeaks = "Number of peaks fitted (fit only; None from pressure).";
constexpr const char* kAsDict = R"(as_dict() -> dict

The attributes as a dict, e.g. for pandas.DataFrame(r.as_dict()).)";

constexpr const char* kPressure = R"(pressure(standard, t_c, hkl=None, d=None, sigma_d=None, sigma_t=None, *, two_theta=None, wavelength=None, energy=None, e_kev=None, two_theta_fixed=None, sigma_two_theta=None, sigma_e_kev=None, volume=None, sigma_volume=None) -> Result

The pressure implied by each measured spacing: one reflection of the standard per element,
computed exactly as the window computes it.

standard  "NaCl", "CsCl" or "KCl" (the built-in model), or NAME / NAME:SCALE of any standard
          that standards() lists ("Au", "au:anderson1989"), letter case ignored; anything
          else raises ValueError.
t_c       temperature in degrees Celsius, or as text read as the command line reads it
          ("25", "298.15K" in kelvin).
hkl       the reflection: "200", "2 0 0", "2,0,0" (also "-2 0 0", "10,0,0"), or "lp" when d
          is the lattice parameter itself; a string, a whole number (200 is "200") or an
          array of them.
d         the measured spacing in angstrom.
sigma_d   uncertainty of d in angstrom; None, or NaN where not known.
sigma_t   uncertainty of the temperature in kelvin; None, or NaN where not known.

Instead of d, keyword arguments only, the peaks as measured:
two_theta        2-theta in degrees, with wavelength= in angstrom or energy= (the X-ray
                 energy) in keV; sigma_two_theta= its uncertainty in degrees.
e_kev            photon energies in keV of an energy-dispersive detector at the fixed angle
                 two_theta_fixed= (2-theta, degrees); sigma_e_kev= their uncertainty in keV.
volume           instead of hkl and the peaks: cell volumes in angstrom^3 per conventional
                 cell (from a Rietveld refinement, say), with sigma_volume= their uncertainty;
                 sigma_p_gpa then comes from the modulus, K/V sigma_volume.
Each becomes d = lambda / (2 sin theta), or hc / (2 E sin theta) with hc = 12.398419843320026
keV angstrom, and its sigma is carried to sigma_d to first order; the d is then read as a d
given directly is. Giving more than one kind of position, or an argument of another kind
(sigma_d with two_theta, wavelength with e_kev), raises ValueError.

t_c, hkl, the position, its sigma, the wavelength, energy or fixed angle and sigma_t broadcast
against each other as numpy arrays do (ValueError when they cannot), and every attribute of
the Result has their common shape: 0-d when all are scalars. An element that cannot be computed (d NaN or not above 0, a temperature below
absolute zero, a reflection the standard lacks, a negative sigma) gets status 'error', NaN
numbers and the reason in message; the other elements are computed all the same. So does a
2-theta outside (0, 180] degrees, a wavelength, energy or fixed angle that is not positive.

sigma_p_gpa needs sigma_d (sigma_a = sigma_d * sqrt(h^2+k^2+l^2)); sigma_t adds to it in
quadrature. Large arrays are computed on all cores, without holding the GIL.

>>> import numpy as np
>>> d = np.array([2.75, 2.70, 2.65])
>>> r = hivarnisse.pressure("NaCl", 25, "200", d, sigma_d=0.002)
>>> r.p_gpa.round(2)
array([2.15, 4.26, 6.98], dtype=float32)
>>> r.sigma_p_gpa.round(3)
array([0.074, 0.096, 0.123])
>>> r = hivarnisse.pressure("NaCl", [25, 300], ["200", "210"], 2.75)
>>> r.status
array(['ok', 'error'], dtype='<U7')
>>> print(r.message[1])
NaCl has no reflection 2 1 0: in rock salt h, k and l are all even or all odd. Its reflections up to h^2+k^2+l^2 = 20: 111, 200, 220, 311, 222, 400, 331, 420 (or lp for the lattice parameter)
>>> r = hivarnisse.pressure("NaCl", 25, "200", two_theta=[9.096, 8.62], wavelength=0.4133,
...                         sigma_two_theta=0.002)
>>> r.p_gpa.round(2), r.sigma_p_gpa.round(3)
(array([10.  ,  2.16], dtype=float32), array([0.044, 0.024]))
>>> hivarnisse.pressure("NaCl", 25, ["200", "220"], e_kev=[18.224, 25.77], two_theta_fixed=15).p_gpa.round(2)
array([10.  ,  9.98], dtype=float32)
>>> print(hivarnisse.pressure("NaCl", 25, "200", two_theta=190, energy=30).message)
2-theta must lie above 0 and at most 180 degrees
)";

constexpr const char* kFit = R"(fit(standard, t_c, hkl, d=None, sigma_d=None, sigma_t=None, *, two_theta=None, wavelength=None, energy=None, e_kev=None, two_theta_fixed=None, sigma_two_theta=None, sigma_e_kev=None) -> Result

The lattice parameter and pressure of one diffraction pattern from several peaks of the
standard, by the rules of hivarnisse-calc:

- sigma_d for every peak: each peak's a = d * sqrt(h^2+k^2+l^2) weighted by 1/sigma_a^2, and
  sigma_a the larger of the internal estimate 1/sqrt(sum of weights) and the external one from
  the peaks' scatter;
- sigma_d for none: the plain mean of a, and its standard error (none for a single peak);
- sigma_d for some peaks only: an error.

sigma_t (kelvin) adds to sigma_p_gpa in quadrature. A single peak gives exactly the window's
number.

The peaks may be given as measured instead of d, with the keyword arguments of pressure():
two_theta= with wavelength= or energy=, or e_kev= with two_theta_fixed=, and their sigmas.

t_c and sigma_t are single numbers; hkl, the positions, their sigmas and the wavelength,
energy or fixed angle broadcast to one dimension, one element per peak. The Result's attributes are 0-d, and n_peaks counts the peaks. A bad peak makes the
whole fit an error whose message names it. An unknown standard, arrays that do not broadcast
or more than one dimension raise ValueError.

>>> f = hivarnisse.fit("NaCl", 25, ["200", "220", "222"], [2.75, 1.945, 1.588],
...                    sigma_d=[0.002, 0.001, 0.001], sigma_t=5)
>>> print(f.status, f.a.round(5), f.sigma_a.round(5), f.p_gpa.round(2), f.sigma_p_gpa.round(3))
ok 5.5009 0.00192 2.14 0.038
>>> f = hivarnisse.fit("NaCl", 25, ["200", "210"], [2.75, 1.945])
>>> print(f.status, f.message)
error hkl[1]: NaCl has no reflection 2 1 0: in rock salt h, k and l are all even or all odd. ...
>>> f = hivarnisse.fit("NaCl", 25, ["200", "220", "222"], two_theta=[9.096, 12.877, 15.787],
...                    wavelength=0.4133, sigma_two_theta=0.002)
>>> print(f.status, f.a.round(5), f.p_gpa.round(2), f.sigma_p_gpa.round(3))
ok 5.21245 9.99 0.018
>>> print(hivarnisse.fit("NaCl", 25, ["200", "220"], two_theta=[9.096, 190], wavelength=0.4133).message)
two_theta[1]: 2-theta must lie above 0 and at most 180 degrees
)";

constexpr const char* kSpacing = R"(spacing(standard, t_c, p_gpa, hkl=None, wavelength=None, max_n=20) -> dict

Where the standard's reflections sit at pressure p_gpa (GPa) and temperature t_c (Celsius):
the lattice parameter that the model maps to that pressure, and the spacing of each
reflection. Feeding a listed d back to pressure() gives p_gpa to 0.005 GPa.

Without hkl: every reflection with h^2+k^2+l^2 up to max_n (at most 10000), one per entry
(CsCl's 300 and 221 are two). With hkl, a string or a sequence of strings: those reflections,
in that order ("lp" stands for the lattice parameter).

Returns a dict:
  'hkl'        the reflections' names (numpy array of str)
  'n'          h^2+k^2+l^2
  'd'          spacings in angstrom
  'two_theta'  2-theta in degrees at the wavelength (angstrom), only when one is given; NaN
               where the reflection cannot occur
  'a', 'v_ratio'       the lattice parameter and V/V0
  'volume'             the cell volume in angstrom^3 (conventional cell)
  'c'                  a hexagonal standard's c (Re), whose reflections are listed by
                       falling d down to the spacing a cubic cell of that volume reaches at
                       h^2+k^2+l^2 = max_n, with 'n' 0
  'status', 'message'  'ok', or 'warning' with the reason when V/V0 lies outside 0.5-1.5

A pressure the model cannot reach at that temperature, a reflection the standard lacks or an
unknown standard raises ValueError with the reason.

>>> s = hivarnisse.spacing("NaCl", 25, 10, wavelength=0.4133, max_n=8)
>>> s["hkl"], s["d"].round(4), s["two_theta"].round(3)
(array(['111', '200', '220'], dtype='<U3'), array([3.0093, 2.6061, 1.8428]), array([ 7.875,  9.096, 12.877]))
>>> hivarnisse.spacing("CsCl", 25, 5, hkl="110")["d"].round(4)
array([2.7427])
>>> s = hivarnisse.spacing("Re", 25, 50, max_n=4)
>>> s["hkl"], round(s["c"] / s["a"], 4)
(array(['100', '002', '101', '102'], dtype='<U3'), 1.6148)
)";

constexpr const char* kKolvane = R"(Kolvane(istd, tcel, vdiff) -> (p_kbar, ierr)

The equation of state itself, called as the window calls it: the pressure in kilobar of
standard istd (1 NaCl, 2 KCl, 3 CsCl) at tcel degrees Celsius and relative volume change
vdiff = (V - V0) / V0, both narrowed to single precision.

ierr is the engine's status: 0 ok, 1 KCl, 2 unknown standard, 3 V/V0 below 0.5, 4 V/V0 above
1.5, 5 below absolute zero, 6 not finite. p_kbar is None where the engine leaves the pressure
untouched: for 2, 5 and 6, and for 3 when there is no volume at all (vdiff <= -1).

>>> hivarnisse.Kolvane(1, 25, -0.1)
(32.34540557861328, 0)
>>> hivarnisse.Kolvane(4, 25, -0.1)
(None, 2)
)";

// ---- Patterns ----

constexpr const char* kReadPattern = R"(read_pattern(path) -> Pattern

Reads an integrated 1D diffraction pattern as hivarnisse-calc pattern reads it: .xy (with
"# Wavelength: ..." and the column names in comments), .chi (Fit2D), .fxye (GSAS, 2-theta
given in centidegrees, returned in degrees), .xye (Topas) or plain columns, told apart by
content first and by extension second.

Returns the named tuple Pattern(x, intensity, sigma, x_unit, wavelength): x, intensity and
sigma as float64 arrays (sigma None when the file has no third column), x_unit the unit the
file names ('2theta', '2theta_rad', 'q_A', 'q_nm', 'd') or None, wavelength in angstrom or
None. A missing file raises FileNotFoundError; a file that is no pattern (binary, fewer than
20 points, x not strictly monotonic, a NaN, larger than 256 MiB) raises ValueError naming the
file and the line.

>>> import os, tempfile
>>> import numpy as np
>>> path = os.path.join(tempfile.mkdtemp(), "p.xy")
>>> with open(path, "w") as f:
...     _ = f.write("# Wavelength: 0.4133 A\n# 2th_deg I\n")
...     np.savetxt(f, np.column_stack([np.linspace(5, 20, 100), np.full(100, 10.0)]))
>>> p = hivarnisse.read_pattern(path)
>>> p.x_unit, p.wavelength, p.sigma, len(p.x)
('2theta', 0.4133, None, 100)
>>> x, intensity, sigma, x_unit, wavelength = p
)";

constexpr const char* kPattern = R"(Pattern(x, intensity, sigma, x_unit, wavelength): what read_pattern() returns.

A named tuple: p.x or x, intensity, sigma, x_unit, wavelength = p.)";

constexpr const char* kFitPattern = R"(fit_pattern(standard, t_c, x, intensity, *, sigma=None, x_unit="2theta", wavelength=None, energy=None, two_theta_fixed=None, sigma_t=None, pressure_guess=None, pressure_range=None, x_range=None, reflections=None, zero_shift=False) -> PatternResult

Finds the standard's reflections in one pattern and fits them, exactly as hivarnisse-calc
pattern does: the same numbers as its row for the same pattern and options.
t_c              temperature in degrees Celsius, or text as on the command line ("298.15K").
standard         "NaCl", "CsCl" or "KCl", letter case ignored.
t_c              temperature in degrees Celsius.
x, intensity     one-dimensional arrays of the same length (20 points or more), x strictly
                 rising or falling, every value finite.
sigma            standard uncertainties of the intensities; None: counting statistics.
x_unit           '2theta' (degrees), '2theta_rad', 'q_A' (1/angstrom), 'q_nm', 'd'
                 (angstrom) or 'kev' (energy-dispersive, needs two_theta_fixed).
wavelength       angstrom, or energy in keV; 2-theta needs one of them.
two_theta_fixed  the detector's angle in degrees for x_unit 'kev'.
sigma_t          uncertainty of the temperature in kelvin, for sigma_p_gpa.
pressure_guess   GPa: search the lattice near it; or pressure_range (lo, hi) in GPa.
                 Without either the search covers V/V0 0.5 up to the volume at -0.5 GPa
                 at t_c; a range beyond what the model reaches is narrowed to it.
x_range          (lo, hi) in x_unit: fit only reflections inside.
reflections      fit only these: "200,220", ["200", "220"] or [200, 220].
zero_shift       True: refine a constant offset of x (a zero error) with the lattice.

Bad arguments raise ValueError. A pattern in which the standard cannot be found or fitted is
no exception: the result has status 'error' and says why in message. The fit runs without
holding the GIL, so threads fit patterns in parallel; results pickle, for processes too.

>>> import numpy as np
>>> s = hivarnisse.spacing("NaCl", 25, 5.0, wavelength=0.4133)
>>> x = np.linspace(5, 20, 3000)
>>> odd = (18 - 10) ** 2 / (18 + 10) ** 2  # rock salt's odd reflections: Cl- less Na+
>>> y = 100 + sum(1000 * (odd if n % 2 else 1) * np.exp(-0.5 * ((x - t) / 0.03) ** 2)
...               for t, n in zip(s["two_theta"], s["n"]))
>>> r = hivarnisse.fit_pattern("NaCl", 25, x, y, wavelength=0.4133)
>>> print(r.status, r.n_peaks, round(float(r.p_gpa), 2))
ok 8 5.0
>>> list(r.peaks["hkl"][:3]), bool(r.peaks["used"].all())
(['111', '200', '220'], True)
)";

constexpr const char* kPatternResult = R"(What fit_pattern() returns.

The fields of hivarnisse-calc pattern's row: standard, t_c, wavelength (angstrom, NaN where
none was needed), n_peaks (reflections used), a, sigma_a, v_ratio, p_gpa (float32, the
window's single-precision pressure), sigma_p_gpa, status ('ok', 'warning' or 'error') and
message; numbers NaN where there are none. Also x_unit and x_unit_source ('user' from
fit_pattern), wavelength_source ('user', 'energy', ...). How well the standard's expected
pattern is explained: fom (the share of its expected intensity in range that used reflections
carry; NaN for energy-dispersive spectra), strong_found of strong_expected (its strongest
expected reflections in range that are used). trend and sigma_trend: the trend of a_i with
position as the offset of x that would make it; zero_shift and sigma_zero_shift: the offset
refined with zero_shift=True (NaN otherwise). c and sigma_c: a hexagonal standard's (Re)
refined c in angstrom, NaN for cubic ones; its rows have n 0 and no a_i.

peaks: a dict of numpy arrays, one element per predicted reflection, as the columns of
hivarnisse-calc pattern --peaks: hkl, n, position, sigma_position, fwhm, eta, height, d,
sigma_d, a_i, used (bool), note (why a reflection was left out), predicted: where the found
lattice puts the reflection, and i_expected: its expected relative intensity (the strongest
in range 100). pandas.DataFrame(r.peaks) makes a table of it.

x, intensity: the pattern; curve, background: the fitted profile and the local linear
backgrounds on x, NaN outside the fitted windows. plot() draws them.)";

constexpr const char* kPatternAsDict = R"(as_dict() -> dict

Every attribute as a dict.)";

constexpr const char* kPlot = R"(plot(ax=None) -> matplotlib Axes

Draws the pattern, the fitted profile and background and a tick for every predicted
reflection (used ones solid green, left-out ones dashed orange) with its hkl. Without ax it
makes a figure with a residual panel below and returns the upper axes. Needs matplotlib
(ImportError with what to install otherwise).)";

constexpr const char* kFitEos = R"(fit_eos(p, v, *, sigma_p=None, sigma_v=None, t_c=None, sigma_t=None, form="BM3", fix=None, theta0=None, t0_c=None, z=1, atoms=1) -> EosResult

Fits a sample's equation of state to measured pressures (GPa) and volumes (any unit, V0 in
the same), as hivarnisse-calc eos does: the same numbers for the same points.

p, v             one-dimensional arrays of the same length.
sigma_p, sigma_v their standard uncertainties, arrays or one number for all; None: none in
                 that quantity. Given ones must be positive; every point needs one of them.
t_c, sigma_t     temperatures in degrees Celsius and their uncertainty in kelvin.
form             'BM2' (K0' = 4), 'BM3', 'BM4' or 'Vinet'.
fix              {name: value} for parameters held: v0, k0, k0p, k0pp, gamma0, q.
theta0           Debye temperature in K: a P-V-T fit, the isotherm at t0_c (default 300 K)
                 plus a Mie-Grueneisen-Debye thermal pressure, gamma0 and q refined; z
                 formula units per cell and atoms per formula unit (volumes per cell in
                 cubic angstrom).

Each point is weighted by its effective variance sigma_P^2 + (K(V)/V sigma_V)^2 (+ (dP/dT
sigma_T)^2), recomputed from the parameters until the fit settles. The sigmas come from the
given uncertainties, multiplied by sqrt(chi2_reduced) when that is above 1. Bad points,
fewer points than refined parameters and a fit that does not converge raise ValueError that
says why (naming the point, counted from 1). The fit runs without holding the GIL; results
pickle.

>>> import numpy as np
>>> v = 74.7 * np.linspace(1, 0.8, 8)
>>> f = ((74.7 / v) ** (2 / 3) - 1) / 2
>>> p = 3 * 160 * f * (1 + 2 * f) ** 2.5
>>> r = hivarnisse.fit_eos(p, v, sigma_p=0.1, sigma_v=0.02, form="BM2")
>>> print(r.form, round(r.params["v0"], 6), round(r.params["k0"], 4), r.refined)
BM2 74.7 160.0 ('v0', 'k0'))";

constexpr const char* kEosResult = R"(What fit_eos() returns.

form, n_points, n_refined; params and sigmas: dicts by name (v0, k0, k0p, and k0pp, gamma0, q
where the fit has them), a fixed parameter's sigma NaN; refined: the names of the refined
parameters, the order of covariance and correlation (numpy arrays); chi2, chi2_reduced (NaN
with as many points as parameters), max_abs_residual_sigma.
Per point (numpy arrays): p, sigma_p, v, sigma_v, t_c, p_fit, residual_p (p - p_fit),
sigma_eff, residual_sigma (residual_p / sigma_eff), and the F-f values f, sigma_f, F,
sigma_F (for P-V-T on the isotherm: the thermal pressure taken off).
For plots: curve_v with curve_p (one row per temperature in curve_t_c), curve_f and curve_F,
ellipse_68 and ellipse_95 (K0, K0' points, shape (n, 2), empty unless both are refined).)";

constexpr const char* kEosPlot = R"(plot(kind="pv", ax=None) -> matplotlib Axes

kind 'pv': P against V with both error bars and the fitted curve, a residual panel below
when no ax is given; 'ff': the F-f plot with error bars and the fitted isotherm; 'ellipse':
the K0-K0' confidence ellipses at 68.3 % and 95.4 %. Needs matplotlib.)";
constexpr const char* kStandards = R"(standards() -> list of dict

Every pressure standard on each of its scales, as hivarnisse-calc standards lists them, the
built-in model's NaCl, KCl and CsCl first, then each material with its default scale first.
Each dict has:

name            what standard= takes and every output prints: "NaCl", "Au:Fei2007"
material        "Au", "NaCl-B2"; the material's name alone selects its default scale
scale           "built-in", "Fei2007", ...
default         whether the material's name alone selects this scale
structure       "fcc", "rock salt", "CsCl type", "bcc", "hcp"
crystal_system  "cubic" or "hexagonal"
equation        the equation of state in words and numbers
v0              ambient cell volume, angstrom^3 per conventional cell
isotherm        "Vinet", "BM3", "BM4" (or "built-in"); k0 (GPa), k0p, k0pp (1/GPa, BM4)
thermal         "MGD", "Tange", "Speziale", "linear" (or "built-in"), with t0 (K) and its
                coefficients: theta0 (K), gamma0, q; a, b; q0, q1; lin_a, lin_b (GPa/K)
z, n            formula units per cell, atoms per formula unit (published scales)
range           the valid range as the paper states it
phase           the phase the scale describes and where it ends
reference       the paper to cite, in full

A coefficient the scale does not use is absent, or None.

>>> [s["name"] for s in hivarnisse.standards() if s["material"] == "Au"]
['Au:Fei2007', 'Au:Anderson1989'])";

constexpr const char* kConvert = R"(convert(p_gpa, t_c, from_standard, to_standard) -> dict

A pressure on one scale as a pressure on another scale of the same material: the cell volume
the standard has at p_gpa and t_c (degrees Celsius, or text as "298.15K") on from_standard,
then the pressure of that volume on to_standard. This is how published scales are compared.

Returns a dict: p_gpa (on to_standard), volume (angstrom^3 per conventional cell), the two
standards' names, status ('ok', 'warning' or 'error') and message. A pressure the first scale
never reaches, or two different materials, give status 'error' and NaN numbers. An unknown
standard raises ValueError.

>>> hivarnisse.convert(30, 25, "Au", "Au:Anderson1989")["status"]
'ok')";

}  // namespace doc
