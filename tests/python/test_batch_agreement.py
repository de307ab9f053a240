"""The module and `hivarnisse-calc batch` on the same few thousand random rows: the same
status and message, and numbers whose text reads back as exactly the module's values.

CTest passes the program's path in HIVARNISSE_CALC; run by hand, set it yourself."""
import csv
import io
import math
import os
import subprocess
from fractions import Fraction

import numpy as np
import pytest

import hivarnisse as hv

CALC = os.environ.get("HIVARNISSE_CALC")
pytestmark = pytest.mark.skipif(not CALC, reason="HIVARNISSE_CALC (path of hivarnisse-calc) not set")

OUT_COLUMNS = ["a", "sigma_a", "v_ratio", "p_gpa", "sigma_p_gpa", "status", "message"]
A0 = {"nacl": 5.64, "kcl": 6.2932, "cscl": 4.11904}
N = {"200": 4, "111": 3, "220": 8, "311": 11, "222": 12, "400": 16, "110": 2, "100": 1, "211": 6,
     "lp": 1, "LP": 1, "2 0 0": 4, "2,0,0": 4, "-2 0 0": 4, "10 0 0": 100}
BAD_HKL = ["210", "000", "2000", "x", "1 1"]


def number_text(rng, value):
    """A measured number as people write it: a few decimals, or every digit."""
    return repr(float(round(value, int(rng.integers(2, 9))))) if rng.random() < 0.7 else repr(float(value))


def random_rows(count, seed):
    rng = np.random.default_rng(seed)
    rows = []
    for _ in range(count):
        standard = str(rng.choice(["NaCl", "CsCl", "KCl", "nacl", "CSCL"]))
        kind = rng.random()
        t = 25.0 if kind < 0.15 else rng.uniform(-290, -250) if kind < 0.2 else 1e39 if kind < 0.21 \
            else rng.uniform(-50, 1500)
        hkl = str(rng.choice(list(N))) if rng.random() < 0.93 else str(rng.choice(BAD_HKL))
        # Lattice parameters from strong compression (V/V0 below 0.5) to expansion beyond 1.5.
        a = A0[standard.lower()] * rng.uniform(0.72, 1.2)
        d = a / math.sqrt(N.get(hkl, 4))
        kind = rng.random()
        d_text = "0" if kind < 0.01 else "-1.5" if kind < 0.02 else "1e-50" if kind < 0.025 \
            else "1e39" if kind < 0.03 else number_text(rng, d)
        kind = rng.random()
        sigma_d = "" if kind < 0.5 else "0" if kind < 0.51 else "-0.001" if kind < 0.52 \
            else number_text(rng, rng.uniform(1e-4, 1e-2))
        kind = rng.random()
        sigma_t = "" if kind < 0.6 else "-2" if kind < 0.61 else number_text(rng, rng.uniform(0, 20))
        rows.append([standard, number_text(rng, t) if t != 1e39 else "1e39", hkl, d_text, sigma_d, sigma_t])
    return rows


def single(text):
    """The single-precision value nearest to a decimal text: exact, without rounding twice."""
    x = Fraction(text)
    f = np.float32(float(text))
    with np.errstate(over="ignore"):
        candidates = [np.nextafter(f, np.float32(-np.inf)), f, np.nextafter(f, np.float32(np.inf))]
    candidates = [c for c in candidates if np.isfinite(c)]
    return min(candidates, key=lambda c: (abs(Fraction(float(c)) - x), int(c.view(np.uint32)) & 1))


def same_number(text, mine, is_single=False):
    if text == "":
        return bool(np.isnan(mine))
    value = single(text) if is_single else float(text)
    return not np.isnan(mine) and value == mine


@pytest.mark.parametrize("seed", [1, 2])
def test_batch_gives_the_modules_numbers(tmp_path, seed):
    rows = random_rows(1500, seed)
    path = tmp_path / "rows.csv"
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["standard", "t_c", "hkl", "d", "sigma_d", "sigma_t"])
        writer.writerows(rows)
    run = subprocess.run([CALC, "batch", str(path)], capture_output=True, text=True, timeout=600)
    out = list(csv.reader(io.StringIO(run.stdout)))
    assert out[0] == ["standard", "t_c", "hkl", "d", "sigma_d", "sigma_t"] + OUT_COLUMNS, run.stderr
    out = out[1:]
    assert len(out) == len(rows)

    # The module, one call per spelling of the standard, on the same numbers.
    def column(i, wanted):
        return np.array([float(r[i]) if r[i] else math.nan for r in wanted])

    mine = {}
    for standard in {r[0] for r in rows}:
        where = [k for k, r in enumerate(rows) if r[0] == standard]
        wanted = [rows[k] for k in where]
        result = hv.pressure(standard, column(1, wanted), [r[2] for r in wanted], column(3, wanted),
                             sigma_d=column(4, wanted), sigma_t=column(5, wanted))
        for j, k in enumerate(where):
            mine[k] = {name: getattr(result, name)[j] for name in OUT_COLUMNS}

    for k, (row, theirs) in enumerate(zip(rows, out)):
        got = dict(zip(OUT_COLUMNS, theirs[6:]))
        m = mine[k]
        assert theirs[:6] == row, k
        assert (got["status"], got["message"]) == (m["status"], m["message"]), row
        for name in ("a", "sigma_a", "v_ratio", "sigma_p_gpa"):
            assert same_number(got[name], m[name]), (row, name, got[name], m[name])
        assert same_number(got["p_gpa"], m["p_gpa"], is_single=True), (row, got["p_gpa"], m["p_gpa"])

    statuses = [m["status"] for m in mine.values()]
    # The random rows reach every outcome, and the exit status says whether any row failed.
    assert {"ok", "warning", "error"} <= set(statuses)
    assert sum(not math.isnan(m["sigma_p_gpa"]) for m in mine.values()) > 200
    assert run.returncode == (1 if "error" in statuses else 0), run.stderr


def test_patterns_are_fitted_as_fit_does(tmp_path):
    """With a pattern column every pattern is one fit: weights, internal and external sigma. (A bad
    row is named by its line there and by its index here, so only whole-pattern errors are made.)"""
    rng = np.random.default_rng(3)
    good = {"nacl": ["200", "220", "111", "222", "311", "400", "lp"], "cscl": ["110", "100", "111", "200", "211", "lp"]}
    rows, patterns = [], []
    for k in range(400):
        standard = str(rng.choice(["NaCl", "CsCl"]))
        t, sigma_t = repr(float(rng.uniform(-50, 900))), str(rng.choice(["", "3"]))
        a = A0[standard.lower()] * rng.uniform(0.75, 1.15)
        hkl = list(rng.choice(good[standard.lower()], int(rng.integers(1, 6))))
        d = [number_text(rng, a * rng.normal(1, 2e-4) / math.sqrt(N[h])) for h in hkl]
        # sigma_d on every peak, on none, or (rarely) on some: an error of the whole pattern
        kind = rng.random()
        sigma = [repr(rng.uniform(1e-4, 2e-3)) if kind < 0.5 or (kind < 0.55 and i % 2) else ""
                 for i in range(len(hkl))]
        rows += [[f"p{k}", standard, t, h, di, si, sigma_t] for h, di, si in zip(hkl, d, sigma)]
        patterns.append((standard, float(t), hkl, [float(x) for x in d],
                         [float(s) if s else math.nan for s in sigma], float(sigma_t) if sigma_t else None))
    path = tmp_path / "patterns.csv"
    with open(path, "w", newline="") as f:
        csv.writer(f).writerows([["pattern", "standard", "t_c", "hkl", "d", "sigma_d", "sigma_t"]] + rows)
    run = subprocess.run([CALC, "batch", str(path)], capture_output=True, text=True, timeout=600)
    out = list(csv.reader(io.StringIO(run.stdout)))[1:]
    assert len(out) == len(patterns), run.stderr
    statuses = [row[-2] for row in out]
    assert "give sigma_d for every peak of a pattern or for none" in [row[-1] for row in out]
    # Most have a pressure with sigma_p; CsCl above 470 C and NaCl above 30 GPa are phase warnings.
    assert statuses.count("error") < 100 and sum(row[-3] != "" for row in out) > 300
    for (standard, t, hkl, d, sigma, sigma_t), theirs in zip(patterns, out):
        f = hv.fit(standard, t, hkl, d, sigma_d=sigma, sigma_t=sigma_t)
        got = dict(zip(["n_peaks"] + OUT_COLUMNS, theirs[3:]))
        assert (got["status"], got["message"], int(got["n_peaks"])) == (f.status, f.message, f.n_peaks), theirs
        for name in ("a", "sigma_a", "v_ratio", "sigma_p_gpa"):
            assert same_number(got[name], getattr(f, name)), (theirs, name)
        assert same_number(got["p_gpa"], f.p_gpa, is_single=True), theirs
