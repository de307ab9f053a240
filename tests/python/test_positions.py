"""Peaks as measured: pressure() and fit() with two_theta= or e_kev= instead of d, against
spacings worked out by hand, the calls with d they stand for, and every refused argument."""
import math

import numpy as np
import pytest

import hivarnisse as hv

HC = 12.398419843320026  # keV angstrom


# Positions whose d is 2.75 A by textbook geometry (sin 30 deg = 1/2): the pressure of d = 2.75,
# the window's 2.15 GPa, to the bit.
@pytest.mark.parametrize("kwargs", [
    dict(two_theta=60, wavelength=2.75),
    dict(two_theta=60, energy=HC / 2.75),
    dict(e_kev=HC / 2.75, two_theta_fixed=60),
])
def test_positions_of_a_known_spacing(kwargs):
    r = hv.pressure("NaCl", 25, "200", **kwargs)
    d = hv.pressure("NaCl", 25, "200", 2.75)
    assert r.status == "ok" and r.p_gpa == d.p_gpa and r.a == 5.5
    # sigma_a = 2 sigma_d for 200; sigma_d = d sqrt(3)/2 per radian of 2-theta at 60 deg, d / E per keV.
    if "two_theta" in kwargs:
        r = hv.pressure("NaCl", 25, "200", sigma_two_theta=0.01, **kwargs)
        assert r.sigma_a == pytest.approx(2 * 2.75 * math.sqrt(3) / 2 * math.pi / 180 * 0.01, rel=1e-12)
    else:
        r = hv.pressure("NaCl", 25, "200", sigma_e_kev=0.01, **kwargs)
        assert r.sigma_a == pytest.approx(2 * 2.75 / (HC / 2.75) * 0.01, rel=1e-12)


def textbook_d(two_theta, wavelength):
    return wavelength / (2 * math.sin(math.radians(two_theta) / 2))


def test_broadcasting_and_agreement_with_d():
    two_theta = np.array([7.8753, 9.096, 12.8773, 15.1119])
    wavelength = np.array([[0.4133], [0.41]])
    hkl = ["111", "200", "220", "311"]
    r = hv.pressure("NaCl", [[25], [300]], hkl, two_theta=two_theta, wavelength=wavelength, sigma_two_theta=0.003)
    assert r.p_gpa.shape == (2, 4) and list(r.status.ravel()) == ["ok"] * 8
    for i, j in np.ndindex(2, 4):
        t = [25, 300][i]
        alone = hv.pressure("NaCl", t, hkl[j], two_theta=two_theta[j], wavelength=wavelength[i, 0],
                            sigma_two_theta=0.003)
        assert alone.p_gpa == r.p_gpa[i, j] and alone.sigma_p_gpa == r.sigma_p_gpa[i, j]
        # The d of the textbook formula, narrowed to single as every d is, gives the same pressure.
        d = hv.pressure("NaCl", t, hkl[j], textbook_d(two_theta[j], wavelength[i, 0]))
        assert d.p_gpa == r.p_gpa[i, j]


def test_bad_elements_are_errors_with_a_reason():
    r = hv.pressure("NaCl", 25, "200", two_theta=[9.096, 0, 190, np.nan, 9.096, 9.096], wavelength=0.4133,
                    sigma_two_theta=[np.nan, np.nan, np.nan, np.nan, 0, -1])
    assert list(r.status) == ["ok"] + ["error"] * 5
    assert list(r.message[1:4]) == ["2-theta must lie above 0 and at most 180 degrees"] * 3
    assert list(r.message[4:]) == ["the sigma of 2-theta must be a positive number"] * 2
    assert np.isnan(r.p_gpa[1:]).all() and r.p_gpa[0] > 0
    cases = [
        (dict(two_theta=9, wavelength=[0.4, -0.4, 0]), "the wavelength must be a positive number of angstrom"),
        (dict(two_theta=9, energy=[30, 0, np.inf]), "the energy must be a positive number of keV"),
        (dict(e_kev=30, two_theta_fixed=[10, 0, 181]), "the fixed 2-theta must lie above 0 and at most 180 degrees"),
    ]
    for kwargs, why in cases:
        r = hv.pressure("NaCl", 25, "200", **kwargs)
        assert r.status[0] != "error" and all(s == "error" for s in r.status[1:]), kwargs
        assert all(m.startswith(why) for m in r.message[1:]), (kwargs, list(r.message))


@pytest.mark.parametrize("kwargs, why", [
    (dict(), "give the peaks' positions: d, or two_theta= with wavelength= or energy=, or e_kev="),
    (dict(d=2.75, two_theta=9), "give one kind of peak position, not d and two_theta"),
    (dict(two_theta=9, e_kev=30), "give one kind of peak position, not two_theta and e_kev"),
    (dict(two_theta=9), "two_theta needs wavelength= (angstrom) or energy= (keV)"),
    (dict(two_theta=9, wavelength=0.4, energy=30), "give wavelength or energy, not both"),
    (dict(e_kev=30), "e_kev needs two_theta_fixed= (degrees)"),
    (dict(d=2.75, wavelength=0.4), "wavelength goes with two_theta, and the peaks are given as d"),
    (dict(d=2.75, energy=30), "energy goes with two_theta"),
    (dict(two_theta=9, wavelength=0.4, sigma_d=0.001), "sigma_d goes with d, and the peaks are given as two_theta"),
    (dict(d=2.75, sigma_two_theta=0.01), "sigma_two_theta goes with two_theta"),
    (dict(two_theta=9, wavelength=0.4, two_theta_fixed=10), "two_theta_fixed goes with e_kev"),
    (dict(two_theta=9, wavelength=0.4, sigma_e_kev=0.1), "sigma_e_kev goes with e_kev"),
])
def test_contradictory_arguments_raise(kwargs, why):
    for f in (hv.pressure, hv.fit):
        with pytest.raises(ValueError) as e:
            f("NaCl", 25, "200", **kwargs)
        assert str(e.value).startswith(why)


def test_positional_calls_unchanged_and_positions_keyword_only():
    by_place = hv.pressure("NaCl", 25, "200", 2.75, 0.001, 2)
    by_name = hv.pressure("NaCl", 25, "200", d=2.75, sigma_d=0.001, sigma_t=2)
    assert by_place.p_gpa == by_name.p_gpa and by_place.sigma_p_gpa == by_name.sigma_p_gpa
    with pytest.raises(TypeError):
        hv.pressure("NaCl", 25, "200", None, None, None, 9.096)


def test_fit_of_positions_is_the_fit_of_their_spacings():
    hkl = ["200", "220", "222"]
    two_theta = [9.096, 12.877, 15.787]
    f = hv.fit("NaCl", 25, hkl, two_theta=two_theta, wavelength=0.4133, sigma_two_theta=0.002)
    d = [textbook_d(x, 0.4133) for x in two_theta]
    # sigma_d = d cot(theta) / 2 per radian of 2-theta.
    sigma_d = [di / math.tan(math.radians(x) / 2) / 2 * math.radians(0.002) for di, x in zip(d, two_theta)]
    g = hv.fit("NaCl", 25, hkl, d, sigma_d=sigma_d)
    assert f.status == g.status == "ok" and f.n_peaks == 3
    assert f.p_gpa == g.p_gpa
    assert f.a == pytest.approx(g.a, rel=1e-15) and f.sigma_a == pytest.approx(g.sigma_a, rel=1e-12)
    bad = hv.fit("NaCl", 25, ["200", "220"], two_theta=[9.096, 12.877], wavelength=[0.4133, -1])
    assert bad.status == "error" and bad.message == "two_theta[1]: the wavelength must be a positive number of angstrom"
    assert np.isnan(bad.p_gpa)
