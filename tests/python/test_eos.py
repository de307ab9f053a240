"""fit_eos on data generated here: agreement with scipy's orthogonal distance regression,
bad input, pickling, threads and the plots."""
import concurrent.futures
import pickle

import numpy as np
import pytest

import hivarnisse as hv


def bm3(v, v0, k0, k0p):
    f = ((v0 / v) ** (2 / 3) - 1) / 2
    return 3 * k0 * f * (1 + 2 * f) ** 2.5 * (1 + 1.5 * (k0p - 4) * f)


def vinet(v, v0, k0, k0p):
    x = (v / v0) ** (1 / 3)
    return 3 * k0 * (1 - x) / x ** 2 * np.exp(1.5 * (k0p - 1) * (1 - x))


def noisy(model, truth, lowest, sigma_p, sigma_v, n=20, seed=1):
    rng = np.random.default_rng(seed)
    v = truth[0] * np.linspace(1, lowest, n)
    p = model(v, *truth) + rng.normal(0, sigma_p, n)
    return p, v + rng.normal(0, sigma_v, n)


@pytest.mark.parametrize("model,form,truth,lowest,sigma_p,sigma_v", [
    (bm3, "BM3", (74.7, 160, 4), 0.75, 0.1, 0.02),
    (vinet, "Vinet", (74.7, 160, 4), 0.75, 0.1, 0.02),
    (vinet, "Vinet", (88.97, 1.16, 8.23), 0.42, 0.05, 0.05),
    (bm3, "BM3", (88.97, 1.16, 8.23), 0.42, 0.05, 0.05),
])
def test_agrees_with_orthogonal_distance_regression(model, form, truth, lowest, sigma_p, sigma_v):
    odr = pytest.importorskip("scipy.odr")
    for seed in range(3):
        p, v = noisy(model, truth, lowest, sigma_p, sigma_v, seed=seed)
        r = hv.fit_eos(p, v, sigma_p=sigma_p, sigma_v=sigma_v, form=form)
        data = odr.RealData(v, p, sx=np.full_like(v, sigma_v), sy=np.full_like(p, sigma_p))
        run = odr.ODR(data, odr.Model(lambda beta, x: model(x, *beta)), beta0=list(truth),
                      sstol=1e-15, partol=1e-15, maxit=1000).run()
        for name, value in zip(("v0", "k0", "k0p"), run.beta):
            assert abs(r.params[name] - value) < 0.1 * r.sigmas[name], (seed, name, r.params[name], value)


def test_covariance_matches_sigmas_and_correlation():
    p, v = noisy(bm3, (74.7, 160, 4), 0.75, 0.1, 0.02)
    r = hv.fit_eos(p, v, sigma_p=0.1, sigma_v=0.02)
    assert r.refined == ("v0", "k0", "k0p")
    assert r.covariance.shape == (3, 3)
    s = np.array([r.sigmas[k] for k in r.refined])
    np.testing.assert_allclose(np.sqrt(np.diag(r.covariance)), s, rtol=1e-12)
    np.testing.assert_allclose(r.correlation, r.covariance / np.outer(s, s), rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(r.residual_p, r.p - r.p_fit, rtol=0, atol=1e-12)
    assert r.max_abs_residual_sigma == pytest.approx(np.max(np.abs(r.residual_sigma)))
    assert r.chi2 == pytest.approx(np.sum(r.residual_sigma ** 2))
    assert r.chi2_reduced == pytest.approx(r.chi2 / 17)


def test_fixed_parameters_and_bm4():
    p, v = noisy(bm3, (74.7, 160, 4), 0.75, 0.1, 0.02)
    r = hv.fit_eos(p, v, sigma_p=0.1, sigma_v=0.02, fix={"k0p": 4, "V0": 74.7})
    assert r.refined == ("k0",)
    assert r.params["v0"] == 74.7 and np.isnan(r.sigmas["v0"])
    assert r.covariance.shape == (1, 1)
    assert len(r.ellipse_68) == 0
    r4 = hv.fit_eos(p, v, sigma_p=0.1, sigma_v=0.02, form="bm4")
    assert set(r4.params) == {"v0", "k0", "k0p", "k0pp"}


@pytest.mark.parametrize("kwargs,says", [
    (dict(p=[1, 2], v=[70, 69], sigma_p=0.1), "2 points cannot determine 3"),
    (dict(p=[1, 2, 3, 4], v=[70, 69, -1, 67], sigma_p=0.1), "point 3: the volume must be positive"),
    (dict(p=[1, 2, 3, 4], v=[70, 69, 68, 67], sigma_p=[0.1, 0.1, 0.1, -0.1]), "point 4: sigma_P must be positive"),
    (dict(p=[1, 2, 3, 4], v=[70, 69, 68, 67]), "point 1: the point has neither"),
    (dict(p=[1, 2, 3, 4], v=[70, 69, 68, 67], sigma_p=0.1, t_c=25, theta0=400), "is at the same one"),
    (dict(p=[1, 2, 3], v=[70, 69], sigma_p=0.1), "v has 2 values for 3 points"),
    (dict(p=5.0, v=70, sigma_p=0.1), "p must be one-dimensional"),
    (dict(p=[1, 2, 3], v=[70, 69, 68], sigma_p=0.1, form="BM5"), "form must be"),
    (dict(p=[1, 2, 3], v=[70, 69, 68], sigma_p=0.1, fix={"k9": 1}), "fix: k9"),
])
def test_bad_input_raises(kwargs, says):
    with pytest.raises(ValueError, match=says):
        hv.fit_eos(**kwargs)


def test_pickles_and_fits_in_threads():
    p, v = noisy(vinet, (88.97, 1.16, 8.23), 0.42, 0.05, 0.05)
    r = hv.fit_eos(p, v, sigma_p=0.05, sigma_v=0.05, form="Vinet")
    back = pickle.loads(pickle.dumps(r))
    assert back.params == r.params and back.sigmas == r.sigmas
    np.testing.assert_array_equal(back.covariance, r.covariance)
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        runs = list(pool.map(lambda _: hv.fit_eos(p, v, sigma_p=0.05, sigma_v=0.05, form="Vinet"), range(8)))
    assert all(x.params == r.params for x in runs)


def test_plots():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    p, v = noisy(bm3, (74.7, 160, 4.5), 0.75, 0.1, 0.02)
    r = hv.fit_eos(p, v, sigma_p=0.1, sigma_v=0.02)
    for kind in ("pv", "ff", "ellipse"):
        ax = r.plot(kind=kind)
        assert ax.has_data()
        plt.close("all")
    with pytest.raises(ValueError):
        r.plot(kind="pt")
