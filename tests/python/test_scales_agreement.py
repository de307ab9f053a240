"""The module and hivarnisse-calc on the published scales: the same p_gpa to the bit, by
volume and by peaks. CTest passes the program's path in HIVARNISSE_CALC."""
import csv
import io
import os
import subprocess

import pytest

import hivarnisse as hv

CALC = os.environ.get("HIVARNISSE_CALC")
pytestmark = pytest.mark.skipif(not CALC, reason="HIVARNISSE_CALC (path of hivarnisse-calc) not set")


def calc(*args):
    run = subprocess.run([CALC, *args, "--csv"], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return list(csv.DictReader(io.StringIO(run.stdout)))


@pytest.mark.parametrize("standard,t_c,v,sigma_v", [
    ("Au", "25", "60", "0.05"), ("au:anderson1989", "1000", "61.25", ""), ("MgO", "1526.85", "70.1", "0.1"),
    ("NaCl:Matsui2012", "25", "150", ""), ("Re", "25", "27.3", "0.01"), ("Ne", "-100", "40", ""),
])
def test_pressure_of_a_volume_agrees_to_the_bit(standard, t_c, v, sigma_v):
    args = ["pressure", "--standard", standard, "--temperature", t_c, "--volume", v]
    row, = calc(*(args + (["--sigma-volume", sigma_v] if sigma_v else [])))
    r = hv.pressure(standard, float(t_c), volume=float(v), sigma_volume=float(sigma_v) if sigma_v else None)
    assert row["status"] == str(r.status)
    assert float(row["p_gpa"]) == float(r.p_gpa)
    if sigma_v:
        assert float(row["sigma_p_gpa"]) == float(r.sigma_p_gpa)


def test_peaks_and_every_scale_agree_to_the_bit():
    rows = calc("pressure", "--standard", "Au", "--temperature", "25", "--scale", "all", "111:2.2815:0.0003",
                "200:1.9759:0.0003")
    assert [row["scale"] for row in rows] == ["Au:Fei2007", "Au:Anderson1989"]
    for row in rows:
        f = hv.fit(row["scale"], 25, ["111", "200"], [2.2815, 1.9759], sigma_d=0.0003)
        assert float(row["p_gpa"]) == float(f.p_gpa) and float(row["sigma_p_gpa"]) == float(f.sigma_p_gpa)
