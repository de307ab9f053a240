"""The published scales in the module: the table of standards(), pressure(volume=) and
p_gpa's precision, convert() there and back, a hexagonal standard's spacings. The equations
themselves are checked in C++ (tests/test_cli_scales.cpp, tests/test_convert.cpp)."""
import math

import numpy as np
import pytest

import hivarnisse as hv


# name: (v0, isotherm, k0, k0p, thermal, its coefficients), as the published papers give them.
TABLE = {
    "Au:Fei2007": (67.850, "Vinet", 167, 6.00, "MGD", {"theta0": 170, "gamma0": 2.97, "q": 0.6}),
    "Au:Anderson1989": (67.850, "BM3", 166.65, 5.4823, "linear", {"lin_a": 0.00714, "lin_b": -0.0115}),
    "Pt:Fei2007": (60.38, "Vinet", 277, 5.08, "MGD", {"theta0": 230, "gamma0": 2.72, "q": 0.5}),
    "MgO:Tange2009": (74.698, "Vinet", 160.63, 4.367, "Tange",
                      {"theta0": 761, "gamma0": 1.442, "a": 0.138, "b": 5.4}),
    "MgO:Speziale2001": (74.698, "BM3", 160.2, 3.99, "Speziale",
                         {"theta0": 773, "gamma0": 1.524, "q0": 1.65, "q1": 11.8}),
    "KCl-B2:Dewaele2012": (54.5, "Vinet", 17.2, 5.89, "linear", {"lin_a": 0.00224}),
    "Re:Zha2004": (29.4087, "BM3", 360, 4.5, "linear", {"lin_a": 0.00776, "lin_b": -0.00815}),
    "W:Litasov2013": (31.71, "Vinet", 308, 4.2, "MGD", {"theta0": 388, "gamma0": 1.81, "q": 0.71}),
}


def test_standards_table():
    rows = hv.standards()
    names = [r["name"] for r in rows]
    assert names[:3] == ["NaCl", "KCl", "CsCl"] and len(set(names)) == len(names)
    assert {"Au:Fei2007", "NaCl:Matsui2012", "NaCl-B2:Fei2007", "Ne:Fei2007", "Mo:Huang2016"} <= set(names)
    by_name = {r["name"]: r for r in rows}
    for name, (v0, isotherm, k0, k0p, thermal, coefficients) in TABLE.items():
        r = by_name[name]
        assert (r["v0"], r["isotherm"], r["k0"], r["k0p"], r["thermal"]) == (v0, isotherm, k0, k0p, thermal), name
        for key, value in coefficients.items():
            assert r[key] == value, (name, key)
        assert r["reference"] and r["material"] == name.split(":")[0]
    assert by_name["Re:Zha2004"]["crystal_system"] == "hexagonal" and by_name["Re:Zha2004"]["structure"] == "hcp"
    assert by_name["NaCl"]["isotherm"] == "built-in" and "3239" in by_name["NaCl"]["reference"]
    assert by_name["NaCl:Matsui2012"]["k0pp"] == -0.392
    # The first scale of a material is its default, and the only one.
    defaults = {}
    for r in rows:
        defaults.setdefault(r["material"], []).append(r["default"])
    assert all(flags[0] and not any(flags[1:]) for flags in defaults.values()), defaults


def test_volumes_broadcast_and_keep_the_built_in_single():
    r = hv.pressure("Au", [25, 1000], volume=[[60.0], [65.0]], sigma_volume=0.05)
    assert r.p_gpa.shape == (2, 2) and r.p_gpa.dtype == np.float64
    assert np.all(r.status == "ok") and np.all(r.sigma_p_gpa > 0)
    assert r.p_gpa[0, 1] > r.p_gpa[0, 0] > r.p_gpa[1, 0]  # hotter, and larger, as it should
    # The built-in model by volume: the window's single-precision pressure of a = V^(1/3).
    nacl = hv.pressure("NaCl", 25, volume=5.5**3)
    assert nacl.p_gpa.dtype == np.float32
    assert abs(float(nacl.p_gpa) - float(hv.pressure("NaCl", 25, "lp", 5.5).p_gpa)) < 1e-5
    with pytest.raises(ValueError, match="hkl goes with peaks, not with volume"):
        hv.pressure("Au", 25, "111", volume=60)
    with pytest.raises(ValueError, match="sigma_volume goes with volume"):
        hv.pressure("Au", 25, sigma_volume=0.1)
    with pytest.raises(ValueError, match="give hkl"):
        hv.pressure("Au", 25)


def test_peaks_of_a_published_scale_are_doubles():
    r = hv.pressure("Au", 25, ["111", "200"], [2.2815, 1.9759])
    assert r.p_gpa.dtype == np.float64 and list(r.status) == ["ok", "ok"]
    # A published scale reads d in double precision: a = d sqrt(3).
    assert r.a[0] == pytest.approx(2.2815 * math.sqrt(3), rel=1e-15)
    f = hv.fit("Au", 25, ["111", "200"], [2.2815, 1.9759])
    assert f.p_gpa.dtype == np.float64 and f.status == "ok"


PAIRS = [("Au:Fei2007", "Au:Anderson1989"), ("Pt:Fei2007", "Pt:Holmes1989"), ("MgO:Tange2009", "MgO:Speziale2001"),
         ("KCl-B2:Dewaele2012", "KCl-B2:Tateno2019"), ("Re:Zha2004", "Re:Ono2022"), ("Mo:Huang2016", "Mo:Litasov2013")]


@pytest.mark.parametrize("a,b", PAIRS)
@pytest.mark.parametrize("t_c", [25, 1000])
def test_convert_there_and_back(a, b, t_c):
    for p in [1.0, 10.0, 50.0, 100.0, 200.0]:
        there = hv.convert(p, t_c, a, b)
        assert there["status"] in ("ok", "warning") and there["to_standard"] == b, there
        back = hv.convert(there["p_gpa"], t_c, b, a)
        assert back["p_gpa"] == pytest.approx(p, rel=1e-10), (p, there, back)
        assert back["volume"] == pytest.approx(there["volume"], rel=1e-10)


def test_convert_refuses():
    other = hv.convert(10, 25, "Au", "Pt")
    assert other["status"] == "error" and "different materials" in other["message"]
    assert math.isnan(other["p_gpa"])
    assert hv.convert(-1000, 25, "Au", "Au:Anderson1989")["status"] == "error"
    assert hv.convert(10, -300, "Au", "Au:Anderson1989")["status"] == "error"
    # Temperatures as text read as the command line reads them.
    assert hv.convert(30, "298.15K", "Au", "Pt")["status"] == "error"
    assert hv.convert(30, "298.15K", "Au", "Au:Anderson1989") == hv.convert(30, 25, "Au", "Au:Anderson1989")
    assert hv.pressure("Au", "300K", volume=60.0).p_gpa == hv.pressure("Au", 26.85, volume=60.0).p_gpa
    with pytest.raises(ValueError, match="to_standard: unknown standard"):
        hv.convert(10, 25, "Au", "Gold")


def test_spacing_of_rhenium():
    s = hv.spacing("re", 25, 50, wavelength=0.2952)
    assert s["c"] / s["a"] == pytest.approx(1.6148, rel=1e-12)
    assert list(s["hkl"][:3]) == ["100", "002", "101"] and "001" not in list(s["hkl"])
    # Asked reflections are computed from a and c as the listed ones are.
    assert list(hv.spacing("Re", 25, 50, hkl=["101", "002"])["d"]) == [s["d"][2], s["d"][1]]
    with pytest.raises(ValueError, match="0 0 1"):
        hv.spacing("Re", 25, 50, hkl="001")
