"""The module and `hivarnisse-calc pattern` on the same files: the same row, and the same peak
table, number for number. CTest passes the program's path in HIVARNISSE_CALC."""
import csv
import io
import math
import os
import subprocess

import numpy as np
import pytest

import hivarnisse as hv
from test_pattern import made, write_xy

CALC = os.environ.get("HIVARNISSE_CALC")
pytestmark = pytest.mark.skipif(not CALC, reason="HIVARNISSE_CALC (path of hivarnisse-calc) not set")

NUMBERS = ["a", "sigma_a", "v_ratio", "sigma_p_gpa", "wavelength"]
PEAK_NUMBERS = ["position", "sigma_position", "fwhm", "eta", "height", "d", "sigma_d", "a_i"]
# A hint in a message names the option as its reader would type it.
SPELLING = {"--pressure-guess": "pressure_guess", "--pressure-range": "pressure_range", "--zero-shift": "zero_shift=True"}


def in_python(message):
    for flag, keyword in SPELLING.items():
        message = message.replace(flag, keyword)
    return message


def value(text):
    return math.nan if text == "" else float(text)


def same_number(text, number):
    return (text == "" and math.isnan(number)) or value(text) == number


def test_module_and_program_agree(tmp_path):
    files = []
    for i, p_gpa in enumerate([0.5, 6.0, 11.0]):
        x, y, _ = made(p_gpa, seed=40 + i)
        files.append(tmp_path / f"p{i}.xy")
        write_xy(files[-1], x, y)
    (tmp_path / "flat.xy").write_text("# 2th_deg I\n" + "".join(f"{4 + k * 0.01} 200\n" for k in range(500)))
    files.append(tmp_path / "flat.xy")
    run = subprocess.run([CALC, "pattern", "--standard", "NaCl", "--temperature", "25", "--sigma-t", "3",
                          "--wavelength", "0.4133", "--peaks", str(tmp_path / "peaks.csv")] + [str(f) for f in files],
                         capture_output=True, text=True)
    assert run.returncode == 1, run.stderr  # the flat pattern has no NaCl in it
    rows = list(csv.DictReader(io.StringIO(run.stdout)))
    peaks = list(csv.DictReader(open(tmp_path / "peaks.csv")))
    assert [r["file"] for r in rows] == [str(f) for f in files]
    for f, row in zip(files, rows):
        p = hv.read_pattern(f)
        r = hv.fit_pattern("NaCl", 25, p.x, p.intensity, sigma=p.sigma, wavelength=0.4133, sigma_t=3)
        assert (row["status"], in_python(row["message"]), int(row["n_peaks"])) == (r.status, r.message, r.n_peaks)
        for column in NUMBERS:
            assert same_number(row[column], getattr(r, column)) or r.status == "error", column
        assert (row["p_gpa"] == "" and r.status == "error") or np.float32(row["p_gpa"]) == r.p_gpa
        mine = [k for k in peaks if k["file"] == str(f)]
        assert [k["hkl"] for k in mine] == list(r.peaks["hkl"])
        assert [k["used"] == "1" for k in mine] == list(r.peaks["used"])
        assert [k["note"] for k in mine] == list(r.peaks["note"])
        for column in PEAK_NUMBERS:
            assert all(same_number(k[column], v) for k, v in zip(mine, r.peaks[column])), column
    assert rows[0]["status"] == rows[1]["status"] == rows[2]["status"] == "ok"
    assert "(pressure_guess) may find it" in r.message and "--" not in r.message
