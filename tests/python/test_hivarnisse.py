"""The Python module against the window's worked examples, hand-computed fits, the inverse,
bad input and many threads at once."""
import doctest
import math
import re
import threading
import time

import numpy as np
import pytest

import hivarnisse as hv


def shown(p_gpa):
    """The window's display: whole hundredths, halves to even."""
    return np.rint(np.asarray(p_gpa, dtype=np.float64) * 100).astype(int)


# The window's worked examples: standard, t_c, hkl, d, pressure shown in hundredths of a GPa.
WORKED = [
    ("NaCl", 25, "200", 2.75, 215),
    ("CsCl", 25, "110", 2.8, 276),
    ("NaCl", 300, "200", 2.7, 505),
    ("CsCl", 25, "lp", 3.8, 794),
    ("NaCl", 25, "400", 1.5, -278),
]


@pytest.mark.parametrize("standard", ["NaCl", "CsCl"])
def test_worked_examples_as_one_array(standard):
    rows = [w for w in WORKED if w[0] == standard]
    _, t, hkl, d, expected = map(list, zip(*rows))
    r = hv.pressure(standard, t, hkl, d)
    assert list(r.status) == ["ok"] * len(rows) and list(r.message) == [""] * len(rows)
    assert list(shown(r.p_gpa)) == expected
    assert r.p_gpa.dtype == np.float32 and r.a.dtype == r.sigma_p_gpa.dtype == np.float64
    # Each element alone, as a 0-d call, gives the same single-precision number.
    for i, row in enumerate(rows):
        alone = hv.pressure(*row[:4])
        assert alone.p_gpa.shape == () and alone.p_gpa == r.p_gpa[i]


# ---- Broadcasting: shapes, and every element equal to its own scalar call ----

BROADCAST = [
    # t_c, hkl, d, shape
    (25, "200", 2.75, ()),
    ([25, 300], "200", 2.75, (2,)),
    (25, ["200", "400", "lp"], [2.75, 1.5, 5.5], (3,)),
    (np.array([[25.0], [300.0]]), "200", [2.7, 2.75, 2.8], (2, 3)),
    (25, np.array([["200"], ["220"]]), np.array([2.75, 1.95]), (2, 2)),
    (np.full((2, 1, 1), 100.0), ["200", "lp"], np.ones((3, 1)) * 2.8, (2, 3, 2)),
    (25, "200", np.zeros((0,)), (0,)),
    (np.float32(25), np.str_("200"), np.float64(2.75), ()),
]


@pytest.mark.parametrize("t, hkl, d, shape", BROADCAST)
def test_broadcasting(t, hkl, d, shape):
    r = hv.pressure("NaCl", t, hkl, d, sigma_d=0.001)
    for field in (r.p_gpa, r.sigma_p_gpa, r.a, r.sigma_a, r.v_ratio, r.status, r.message):
        assert field.shape == shape
    tb, hb, db = np.broadcast_arrays(np.asarray(t, dtype=float), np.asarray(hkl), np.asarray(d, dtype=float))
    for idx in np.ndindex(*shape):
        alone = hv.pressure("NaCl", float(tb[idx]), str(hb[idx]), float(db[idx]), sigma_d=0.001)
        assert alone.status == r.status[idx] and alone.message == r.message[idx]
        assert np.array_equal(alone.p_gpa, r.p_gpa[idx], equal_nan=True)
        assert np.array_equal(alone.sigma_p_gpa, r.sigma_p_gpa[idx], equal_nan=True)


def test_strided_and_foreign_inputs_read_like_plain_ones():
    rng = np.random.default_rng(7)
    d = rng.uniform(2.5, 2.9, (40, 30))
    t = rng.uniform(0, 500, (30, 40))
    hkl = ["200", "111", "220", "lp", "400"] * 2
    plain = hv.pressure("NaCl", np.ascontiguousarray(t.T[::2, ::3]), hkl, np.ascontiguousarray(d[::2, ::3]))
    strided = hv.pressure("NaCl", t.T[::2, ::3], np.repeat(np.array(hkl, dtype=">U3"), 3)[::3],
                          np.asfortranarray(d)[::2, ::3].astype(">f8"))
    objects = hv.pressure("NaCl", t.T[::2, ::3], np.array(hkl, dtype=object), d[::2, ::3])
    assert np.array_equal(plain.p_gpa, objects.p_gpa, equal_nan=True)
    # lp's 2.5-2.9 A is V/V0 near 0.1, far outside any model: an error; 111 compresses beyond 30 GPa
    assert plain.p_gpa.shape == (20, 10) and set(plain.status.flat) == {"ok", "warning", "error"}
    assert np.array_equal(plain.p_gpa, strided.p_gpa, equal_nan=True) and np.array_equal(plain.message, strided.message)
    # Integers and single precision are numbers like any other.
    assert hv.pressure("NaCl", np.int16(25), "400", np.float32(1.5)).p_gpa == hv.pressure("NaCl", 25.0, "400", 1.5).p_gpa


# ---- Bad elements: an error for that element only ----

NaN, INF = math.nan, math.inf
BAD = [
    # t_c, hkl, d, sigma_d, sigma_t, part of the message
    (25, "200", NaN, NaN, NaN, "d must be a positive number"),
    (25, "200", 0.0, NaN, NaN, "d must be a positive number"),
    (25, "200", -2.75, NaN, NaN, "d must be a positive number"),
    (25, "200", 1e39, NaN, NaN, "d out of range"),
    (25, "lp", 1e-30, NaN, NaN, "spacing too small"),
    (25, "lp", 1e30, NaN, NaN, "too large"),
    (-273.16, "200", 2.75, NaN, NaN, "below absolute zero"),
    (NaN, "200", 2.75, NaN, NaN, "temperature out of range"),
    (25, "210", 2.75, NaN, NaN, "NaCl has no reflection 2 1 0"),
    (25, "000", 2.75, NaN, NaN, "0 0 0 is no lattice plane"),
    (25, "2\u00e9\u00e9", 2.75, NaN, NaN, "is not h k l"),
    (25, "200", 2.75, 0.0, NaN, "sigma_d must be a positive number"),
    (25, "200", 2.75, -0.001, NaN, "sigma_d must be a positive number"),
    (25, "200", 2.75, NaN, -1.0, "sigma_t must be a number of kelvin"),
]


def test_bad_elements_leave_the_others_alone():
    t, hkl, d, sd, st, why = map(list, zip(*BAD))
    # Each bad element between two good ones.
    n = len(BAD)
    r = hv.pressure("NaCl", t + [25] * n, hkl + ["200"] * n, d + [2.75] * n, sd + [NaN] * n, st + [NaN] * n)
    for i, expected in enumerate(why):
        assert r.status[i] == "error", BAD[i]
        assert expected in r.message[i], (BAD[i], r.message[i])
        assert all(np.isnan(x[i]) for x in (r.p_gpa, r.sigma_p_gpa, r.a, r.sigma_a, r.v_ratio)), BAD[i]
    assert list(r.status[n:]) == ["ok"] * n and list(shown(r.p_gpa[n:])) == [215] * n


ARGUMENT_ERRORS = [
    (ValueError, "unknown standard \"NaCI\": known are NaCl (built-in, Matsui2012), KCl (built-in), CsCl", lambda: hv.pressure("NaCI", 25, "200", 2.75)),
    (ValueError, "broadcast", lambda: hv.pressure("NaCl", [25, 26], "200", [1.0, 2.0, 3.0])),
    (TypeError, "hkl must be a string, a whole number", lambda: hv.pressure("NaCl", 25, 200.0, 2.75)),
    (TypeError, "not an array of bool", lambda: hv.pressure("NaCl", 25, True, 2.75)),
    (TypeError, "not float", lambda: hv.pressure("NaCl", 25, np.array(["200", 2.5], dtype=object), 2.75)),
    (TypeError, "not bool", lambda: hv.pressure("NaCl", 25, np.array(["200", False], dtype=object), 2.75)),
    (ValueError, "t_c \"25C\": temperature", lambda: hv.pressure("NaCl", "25C", "200", 2.75)),
    (ValueError, "t_c \"-1K\": temperature below absolute zero", lambda: hv.fit("NaCl", "-1K", "200", 2.75)),
    (ValueError, "t_c \"warm\"", lambda: hv.pressure("NaCl", ["25", "warm"], "200", 2.75)),
    (ValueError, "could not convert", lambda: hv.pressure("NaCl", 25, "200", "a lot")),
    (ValueError, "t_c must be a single number", lambda: hv.fit("NaCl", [25, 26], "200", 2.75)),
    (ValueError, "sigma_t must be a single number", lambda: hv.fit("NaCl", 25, "200", 2.75, sigma_t=[1, 2])),
    (ValueError, "one-dimensional", lambda: hv.fit("NaCl", 25, "200", [[2.75, 2.7]])),
    (ValueError, "no pressure below -2.1", lambda: hv.spacing("CsCl", 25, -3)),
    (ValueError, "out of the model's reach", lambda: hv.spacing("NaCl", 25, 1e5)),
    (ValueError, "wavelength", lambda: hv.spacing("NaCl", 25, 1, wavelength=-1)),
    (ValueError, "NaCl has no reflection 2 1 0", lambda: hv.spacing("NaCl", 25, 1, hkl=["200", "210"])),
    (ValueError, "max_n", lambda: hv.spacing("NaCl", 25, 1, max_n=0)),
    (ValueError, "max_n", lambda: hv.spacing("NaCl", 25, 1, max_n=10**10)),
    (ValueError, "16 bits", lambda: hv.Kolvane(40000, 25, 0)),
]


# Typed as on the command line: a temperature in kelvin with K, a reflection as a whole number.
# NaCl 200 at d = 2.75 and 220 at d = 5.5 / sqrt(8) both mean a = 5.5: 2.15 GPa at 25 °C.
D220 = 5.5 / math.sqrt(8)
AS_TYPED = [
    ("25", "200", 2.75),
    ("298.15K", 200, 2.75),
    (" 298.15 k ", np.int64(200), 2.75),
    (25, np.array([200, 220]), [2.75, D220]),
    (np.array(["25", "298.15K"]), [200, 220], [2.75, D220]),
    (["298.15K", 25.0], np.array(["200", 220], dtype=object), [2.75, D220]),
]


@pytest.mark.parametrize("t_c, hkl, d", AS_TYPED)
def test_temperatures_and_reflections_as_typed(t_c, hkl, d):
    r = hv.pressure("NaCl", t_c, hkl, d)
    assert np.all(r.status == "ok"), r.message
    assert np.all(shown(r.p_gpa) == 215)


def test_kelvin_text_is_the_celsius_number():
    for kelvin, celsius in (("273.15K", 0), ("1073.15K", 800)):
        np.testing.assert_array_equal(hv.pressure("NaCl", kelvin, "200", 2.75).p_gpa,
                                      hv.pressure("NaCl", np.float32(celsius), "200", 2.75).p_gpa)
    f = hv.fit("NaCl", "298.15K", [200, 220], [2.75, D220])
    assert f.status == "ok" and shown(f.p_gpa) == 215 and f.n_peaks == 2


@pytest.mark.parametrize("error, words, call", ARGUMENT_ERRORS)
def test_argument_errors(error, words, call):
    with pytest.raises(error, match=re.escape(words)):
        call()


# ---- The engine itself ----

@pytest.mark.parametrize("istd, tcel, vdiff, written, ierr", [
    (3, 25, -0.1, True, 0),
    (2, 25, 0.0, True, 1),      # KCl
    (4, 25, -0.1, False, 2),    # no such standard
    (1, 25, -0.6, True, 3),     # V/V0 0.4: outside the range, still a pressure
    (1, 25, -1.0, False, 3),    # no volume at all
    (1, 25, 0.6, True, 4),
    (1, -300, -0.1, False, 5),  # below absolute zero
    (1, NaN, 0.0, False, 6),
    (1, 25, 1e39, False, 6),    # infinite once narrowed to single
])
def test_kolvane_statuses(istd, tcel, vdiff, written, ierr):
    p, status = hv.Kolvane(istd, tcel, vdiff)
    assert status == ierr
    assert (p is not None) == written
    if written:
        assert p == float(np.float32(p)) and math.isfinite(p)


def test_kolvane_is_the_windows_engine():
    p = [hv.Kolvane(1, 25, v)[0] for v in (0.1, 0.0, -0.1, -0.2)]
    assert p == sorted(p) and abs(p[1]) < 0.1  # about 0 kbar at the ambient cell, rising under compression
    # The window divides the engine's kbar by 10: 200 at 2.75 is V/V0 (5.5/5.64)^3.
    a0 = float(np.float32(5.64))
    kbar = hv.Kolvane(1, 25, float(np.float32((5.5 ** 3 - a0 ** 3) / a0 ** 3)))[0]
    assert hv.pressure("NaCl", 25, "200", 2.75).p_gpa == np.float32(kbar / 10)


# ---- Fits on hand-computed cases; spacings exact in single precision ----

FITS = [
    # what, hkl, d, sigma_d, a, sigma_a
    ("unweighted pair", ["200", "400"], [2.75, 1.40625], None, 5.5625, 0.0625),
    ("unweighted three", ["lp", "200", "400"], [5.5, 2.75, 1.390625], None, 5.5208333333333, 0.0208333333333),
    ("identical", ["200", "400", "lp"], [2.75, 1.375, 5.5], None, 5.5, 0.0),
    ("one weighted", "200", [2.75], 0.001, 5.5, 0.002),
    # weights 1e4 and 2500: mean 5.50625; external sqrt(1.953125 / 12500) = 0.0125 beats internal 0.00894
    ("external wins", "lp", [5.5, 5.53125], [0.01, 0.02], 5.50625, 0.0125),
    ("internal wins", "lp", [5.5, 5.53125], [0.1, 0.2], 5.50625, 0.0894427191),
]


@pytest.mark.parametrize("what, hkl, d, sigma_d, a, sigma_a", FITS)
def test_fit_hand_computed(what, hkl, d, sigma_d, a, sigma_a):
    f = hv.fit("NaCl", 25, hkl, d, sigma_d=sigma_d)
    assert f.status == "ok", f.message
    assert f.n_peaks == len(d) and f.a.shape == ()
    assert f.a == pytest.approx(a, abs=1e-12)
    assert f.sigma_a == pytest.approx(sigma_a, abs=1e-10)
    # Its pressure is that of the fitted lattice parameter (exact in single here) along the window's path.
    if float(np.float32(a)) == a:
        assert f.p_gpa == hv.pressure("NaCl", 25, "lp", a).p_gpa


def test_fit_of_one_peak_is_the_windows_number():
    for standard, t, hkl, d, expected in WORKED:
        f = hv.fit(standard, t, [hkl], [d])
        assert shown(f.p_gpa) == expected and np.isnan(f.sigma_a) and np.isnan(f.sigma_p_gpa)


def test_fit_sigma_t_adds_the_temperature_slope_in_quadrature():
    args = ("NaCl", 25, ["200", "400"], [2.75, 1.40625])
    without, with5 = hv.fit(*args), hv.fit(*args, sigma_t=5)
    # dP/dT from the pressures at 15 and 35 C, each exact to single precision.
    h = 10
    dpdt = (hv.pressure("NaCl", 25 + h, "lp", 5.5625).p_gpa.item() -
            hv.pressure("NaCl", 25 - h, "lp", 5.5625).p_gpa.item()) / (2 * h)
    assert dpdt > 0
    assert math.sqrt(with5.sigma_p_gpa ** 2 - without.sigma_p_gpa ** 2) == pytest.approx(5 * dpdt, rel=2e-3)


@pytest.mark.parametrize("t, hkl, d, sigma_d, sigma_t, words", [
    (25, ["200", "210"], [2.75, 1.9], None, None, "hkl[1]: NaCl has no reflection 2 1 0"),
    (25, ["200", "400"], [2.75, -1.0], None, None, "d must be a positive number (400)"),
    (25, ["200", "400"], [2.75, 1.4], [0.001, NaN], None, "give sigma_d for every peak"),
    (25, "200", 2.75, None, -1, "sigma_t must be a number of kelvin"),
    (-300, "200", 2.75, None, None, "below absolute zero"),
    (25, [], [], None, None, "no peaks"),
])
def test_fit_errors(t, hkl, d, sigma_d, sigma_t, words):
    f = hv.fit("NaCl", t, hkl, d, sigma_d=sigma_d, sigma_t=sigma_t)
    assert f.status == "error" and words in f.message.item()
    assert np.isnan(f.p_gpa) and np.isnan(f.a)


# ---- The inverse, and back ----

@pytest.mark.parametrize("standard, t, p, status", [
    ("NaCl", 25, 0, "ok"), ("NaCl", 25, 10, "ok"), ("NaCl", 500, 30, "ok"), ("NaCl", 25, -1, "ok"),
    ("NaCl", 25, 100, "warning"), ("CsCl", 25, 5, "ok"), ("CsCl", 1000, 40, "ok"), ("CsCl", 25, -2, "ok"),
    ("KCl", 25, 1, "ok"),
])
def test_spacing_round_trip(standard, t, p, status):
    s = hv.spacing(standard, t, p, wavelength=0.4133)
    assert s["status"] == status and (s["message"] == "") == (status == "ok")
    assert len(s["hkl"]) == len(s["n"]) == len(s["d"]) == len(s["two_theta"]) > 0
    # Each d, read back as a typed number, gives the pressure asked for.
    back = hv.pressure(standard, t, s["hkl"], s["d"])
    assert np.all(np.abs(back.p_gpa - p) <= 0.005)
    # Bragg: lambda = 2 d sin(theta).
    assert np.allclose(2 * s["d"] * np.sin(np.radians(s["two_theta"] / 2)), 0.4133, rtol=0, atol=1e-12)
    assert np.allclose(s["d"] * np.sqrt(s["n"]), s["a"], rtol=1e-15)


def test_spacing_of_chosen_reflections():
    full = hv.spacing("CsCl", 25, 5)
    assert list(full["hkl"][:9]) == ["100", "110", "111", "200", "210", "211", "220", "300", "221"]
    assert list(full["n"][7:9]) == [9, 9]  # two reflections, one spacing: two rows
    chosen = hv.spacing("CsCl", 25, 5, hkl=["221", "lp", "1 1 0", "10 0 0"])
    assert list(chosen["hkl"]) == ["221", "lp", "110", "10 0 0"] and list(chosen["n"]) == [9, 1, 2, 100]
    assert chosen["d"][1] == full["a"] == full["d"][0]
    assert chosen["d"][0] == full["d"][8] and chosen["d"][2] == full["d"][1]
    assert chosen["d"][3] == pytest.approx(full["a"] / 10, rel=1e-15)
    assert "two_theta" not in chosen
    # A wavelength too long for a reflection leaves its 2-theta empty: 200 of NaCl has d = 2.82.
    s = hv.spacing("NaCl", 25, 0, wavelength=6.0, max_n=4)
    assert list(s["hkl"]) == ["111", "200"] and s["two_theta"][0] == pytest.approx(134.3, abs=0.1)
    assert np.isnan(s["two_theta"][1])


# ---- Many threads at once ----

def test_many_threads_give_the_same_numbers():
    rng = np.random.default_rng(11)
    jobs = []
    for size in (1, 50, 3000, 12000):  # the largest is cut up over the cores
        hkl = rng.choice(["200", "220", "111", "lp", "210"], size)
        args = (rng.uniform(-50, 800, size), hkl, rng.uniform(1.5, 6.0, size) / np.where(hkl == "lp", 1, 2),
                np.where(rng.random(size) < 0.5, rng.uniform(1e-4, 1e-2, size), NaN))
        jobs.append((args, hv.pressure("NaCl", *args, sigma_t=2).as_dict()))
    failures = []

    def worker(k):
        for rep in range(3):
            args, expected = jobs[(k + rep) % len(jobs)]
            try:
                got = hv.pressure("NaCl", *args, sigma_t=2).as_dict()
                failures.extend((k, name) for name, value in expected.items()
                                if not np.array_equal(got[name], value, equal_nan=value.dtype.kind == "f"))
            except Exception as e:  # reported below, not lost in the thread
                failures.append((k, repr(e)))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert failures == []


def test_large_arrays_release_the_gil():
    def run(n):
        d = np.full(n, 2.75)
        span, done = [], threading.Event()

        def call():
            span.append(time.perf_counter())
            hv.pressure("NaCl", 25, "200", d)
            span.append(time.perf_counter())
            done.set()

        # This thread notes the time about every millisecond while the call runs.
        ticks = []
        th = threading.Thread(target=call)
        th.start()
        while not done.is_set():
            now = time.perf_counter()
            if not ticks or now - ticks[-1] > 1e-3:
                ticks.append(now)
        th.join()
        return span, ticks

    # Long enough a call to watch, however fast the machine: twice the points until it is.
    n = 400_000
    span, ticks = run(n)
    while span[1] - span[0] <= 0.1 and n < 12_800_000:
        n *= 2
        span, ticks = run(n)
    start, end = span
    assert end - start > 0.1
    # Holding the GIL, the call would have stopped this thread from its start to its end.
    inside = [t for t in ticks if start + 0.02 < t < end - 0.02]
    assert len(inside) > 20


# ---- The help texts' examples are real ----

def test_docstring_examples():
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    tests = finder.find(hv, globs={"hivarnisse": hv})
    for test in tests:
        runner.run(test)
    documented = {t.name.split(".")[-1] for t in tests if t.examples}
    assert {"pressure", "fit", "spacing", "Kolvane", "Result", "hivarnisse"} <= documented
    assert runner.failures == 0 and runner.tries > 20
