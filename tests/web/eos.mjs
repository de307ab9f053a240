// The equation-of-state fit through the page's module: its CSV row and residual file against
// "hivarnisse-calc eos --csv --residuals", parameters recovered from data made here with the
// isotherms written out anew, the F-f line and the ellipses against their closed forms, and
// refusals without numbers.  node eos.mjs SITE_DIR HIVARNISSE_CALC
//
// The page's bytes are not the command's: WebAssembly's C library rounds cbrt and expm1 (which
// the isotherms' strain and the Debye energy use) differently in the last bit from glibc's,
// even its generic code, while exp, pow and log agree. The fit ends once a round of weights
// moves every parameter less than 1e-7 of its sigma, so two runs apart in the last bits end
// up to about 1e-6 sigma apart. The texts are compared field by field: every word and empty
// field equal, every parameter within 1e-5 of its sigma, every other number within 1e-5
// relative (residuals, differences of nearly equal pressures, 1e-5 absolute in GPa or
// sigmas). The largest difference is printed.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const require = createRequire(import.meta.url);
const [site, calc] = process.argv.slice(2).map((p) => path.resolve(p));
const M = await require(path.join(site, 'hivarnisse.js'))();

// The isotherms from their textbook forms, independent of the program's code.
function bm3(v, v0, k0, k0p) {
  const x2 = (v0 / v) ** (2 / 3);
  return 1.5 * k0 * (x2 ** 3.5 - x2 ** 2.5) * (1 + 0.75 * (k0p - 4) * (x2 - 1));
}
function vinet(v, v0, k0, k0p) {
  const eta = (v / v0) ** (1 / 3);
  return (3 * k0 * (1 - eta)) / eta ** 2 * Math.exp(1.5 * (k0p - 1) * (1 - eta));
}

// A deterministic scatter in [-1, 1).
function scatter(seed) {
  let s = seed;
  return () => ((s = (Math.imul(s, 1103515245) + 12345) >>> 0) / 2147483648 - 1);
}

// MgO-like: V0 74.698 A^3, K0 160.2 GPa, K0' 3.99; volumes down to 0.83 V0.
function mgo(noise, withT = false) {
  const r = scatter(7);
  const lines = [withT ? 'p_gpa,sigma_p_gpa,v,sigma_v,t_c' : 'p_gpa,sigma_p_gpa,v,sigma_v'];
  for (let i = 0; i < 14; ++i) {
    const v = 74.698 * (1 - 0.013 * i);
    const t = withT ? [25, 400, 800][i % 3] : 25;
    // A thermal pressure rising 0.007 GPa/K, as MgO's roughly does.
    const p = bm3(v, 74.698, 160.2, 3.99) + (withT ? 0.007 * (t - 25) : 0) + noise * 0.05 * r();
    lines.push([p.toFixed(4), '0.05', (v + noise * 0.02 * r()).toFixed(4), '0.02', ...(withT ? [t] : [])].join(','));
  }
  return lines.join('\n') + '\n';
}

// Neon-like and soft: V0 22.234, K0 1.16 GPa, K0' 8.23, by Vinet, to 20 GPa; no noise, tab-separated.
function neon() {
  const lines = ['v\tsigma_v\tp_gpa\tsigma_p_gpa'];
  for (let i = 0; i < 12; ++i) {
    const v = 22.234 * (0.95 - 0.045 * i);
    lines.push(`${v}\t0.01\t${vinet(v, 22.234, 1.16, 8.23)}\t0.02`);
  }
  return lines.join('\n') + '\n';
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hv-web-eos-'));
let failures = 0;
const check = (what, fn) => {
  try {
    fn();
    console.log(`ok: ${what}`);
  } catch (e) {
    ++failures;
    console.error(`FAILED: ${what}\n  ${e.message}`);
  }
};

// ---- The page's bytes against the command's ----

// name, data, command's options, the page's settings
const cases = [
  ['bm3', mgo(1), [], { form: 'BM3' }],
  ['bm2', mgo(1), ['--form', 'BM2'], { form: 'BM2' }],
  ['bm4', mgo(1), ['--form', 'bm4', '--fix', 'v0=74.698'], { form: 'bm4', fix: ['v0=74.698'] }],
  ['vinet', neon(), ['--form', 'Vinet'], { form: 'Vinet' }],
  ['fixed', mgo(1), ['--fix', 'k0p=4', '--fix', 'V0=74.7'], { form: 'BM3', fix: ['k0p=4', 'V0=74.7'] }],
  ['pvt', mgo(1, true), ['--theta0', '760', '--z', '4', '--atoms', '2', '--t0', '25'],
    { form: 'BM3', theta0: '760', z: '4', atoms: '2', t0: '25' }],
  // Refused: more parameters than points; a row or header the reader refuses.
  ['few', mgo(1).split('\n').slice(0, 4).join('\n') + '\n', ['--form', 'BM4'], { form: 'BM4' }],
  ['badvolume', mgo(1).replace(/\n[^\n]*\n/, '\n1.0,0.05,-3,0.02\n'), [], { form: 'BM3' }],
  ['badnumber', mgo(1).replace(/\n[^\n]*\n/, '\n1.0,0.05,x,0.02\n'), [], { form: 'BM3' }],
];

function native(name, data, options, env) {
  const file = path.join(dir, `${name}.csv`), res = path.join(dir, `${name}-res.csv`);
  fs.writeFileSync(file, data);
  fs.rmSync(res, { force: true });
  const out = spawnSync(calc, ['eos', file, '--csv', '--residuals', res, ...options], { env });
  return {
    status: out.status, csv: out.stdout.toString(), err: out.stderr.toString(),
    residuals: fs.existsSync(res) ? fs.readFileSync(res, 'utf8') : '',
  };
}

// The largest difference as the tolerance counts it, and where it is; anything below 1e-12 (a
// chi-square of exact data) is rounding noise.
function difference(a, b) {
  const la = a.split('\n'), lb = b.split('\n');
  if (la.length !== lb.length) return { worst: Infinity, where: 'line count' };
  const head = la[0].split(',');
  let worst = 0, where = '';
  la.forEach((line, i) => {
    const fa = line.split(','), fb = lb[i].split(',');
    if (fa.length !== fb.length) ({ worst, where } = { worst: Infinity, where: `line ${i + 1}` });
    fa.forEach((f, k) => {
      if (f === fb[k]) return;
      const x = Number(f), y = Number(fb[k]);
      let d = Infinity;
      if (f && fb[k] && Number.isFinite(x) && Number.isFinite(y)) {
        const sigma = Number(fa[head.indexOf(`sigma_${head[k]}`)]);
        const scale = sigma > 0 ? sigma : /^residual/.test(head[k]) ? 1 : Math.max(Math.abs(x), Math.abs(y));
        d = Math.abs(x - y) <= 1e-12 ? 0 : Math.abs(x - y) / scale;
      }
      if (d > worst) ({ worst, where } = { worst: d, where: `line ${i + 1}, ${head[k]}: ${f} against ${fb[k]}` });
    });
  });
  return { worst, where };
}

const page = {};
let worst = { worst: 0, where: '' };
for (const [name, data, options, settings] of cases) {
  const r = M.fitEos(data, settings);
  page[name] = r;
  // glibc's generic functions as batch.mjs takes them, and its usual ones.
  for (const env of [{ ...process.env, GLIBC_TUNABLES: 'glibc.cpu.hwcaps=-AVX2,-FMA' }, process.env]) {
    const n = native(name, data, options, env);
    check(`${name}: the page's row and residuals are the command's`, () => {
      if (r.error) {
        // The reader refused the file: the command writes no row.
        assert.equal(n.csv, '');
        assert.ok(n.err.includes(r.error), `${n.err} lacks ${r.error}`);
        assert.equal(n.status, 1);
        return;
      }
      assert.equal(n.status, r.ok ? 0 : 1);
      for (const d of [difference(r.csv, n.csv), difference(r.ok ? r.residuals : '', n.residuals)]) {
        assert.ok(d.worst <= 1e-5, `${d.worst} at ${d.where}`);
        if (d.worst > worst.worst) worst = { worst: d.worst, where: `${name}, ${d.where}` };
      }
    });
  }
}
console.log(`page against command: largest difference (in sigmas, or relative) ${worst.worst.toExponential(1)} (${worst.where})`);

// ---- Numbers worked out here ----

const rel = (a, b) => Math.abs(a - b) / Math.abs(b);
const param = (r, key) => r.parameters.find((p) => p.key === key);

check('noise-free Vinet data give back V0, K0, K0\' and a chi-square of nothing', () => {
  const r = page.vinet;
  assert.equal(r.ok, true, r.message);
  assert.ok(rel(param(r, 'v0').value, 22.234) < 1e-9, String(param(r, 'v0').value));
  assert.ok(rel(param(r, 'k0').value, 1.16) < 1e-7, String(param(r, 'k0').value));
  assert.ok(rel(param(r, 'k0p').value, 8.23) < 1e-7, String(param(r, 'k0p').value));
  assert.ok(r.chi2 < 1e-12, String(r.chi2));
  assert.equal(param(r, 'k0pp'), undefined);
  assert.equal(r.n_points, 12);
  assert.equal(r.n_refined, 3);
});

// BM3 data lie exactly on F = K0 + (3/2) K0 (K0' - 4) f.
const exact = (() => {
  const lines = ['p_gpa,sigma_p_gpa,v,sigma_v'];
  for (let i = 1; i <= 10; ++i) {
    const v = 74.698 * (1 - 0.02 * i);
    lines.push(`${bm3(v, 74.698, 160.2, 4.6)},0.05,${v},0.02`);
  }
  return lines.join('\n') + '\n';
})();
const line = M.fitEos(exact, { form: 'BM3', fix: ['v0=74.698'] });
check('F-f of exact BM3 data: the weighted line is K0 + (3/2) K0 (K0\' - 4) f', () => {
  assert.equal(line.ok, true, line.message);
  assert.ok(rel(line.ff.intercept, 160.2) < 1e-9, String(line.ff.intercept));
  assert.ok(rel(line.ff.slope, 1.5 * 160.2 * 0.6) < 1e-8, String(line.ff.slope));
  // f of the first point: ((1/0.98)^(2/3) - 1)/2.
  assert.ok(rel(line.ff.f[0], ((1 / 0.98) ** (2 / 3) - 1) / 2) < 1e-12);
  assert.ok(rel(param(line, 'k0p').value, 4.6) < 1e-8);
  assert.equal(param(line, 'v0').refined, false);
  assert.ok(Number.isNaN(param(line, 'v0').sigma));
});

check('the ellipses reach sqrt(delta chi2) sigma along K0 and K0\'', () => {
  const r = page.bm3;
  assert.equal(r.ellipses.length, 2);
  const k0 = param(r, 'k0'), k0p = param(r, 'k0p');
  for (const e of r.ellipses) {
    const reach = Math.sqrt(e.delta_chi2);
    const xs = Array.from(e.k0), ys = Array.from(e.k0p);
    // 181 points around: the widest one lies within 1 - cos(1 degree) of the true extent.
    assert.ok(rel(Math.max(...xs) - k0.value, reach * k0.sigma) < 2e-4, `${Math.max(...xs) - k0.value}`);
    assert.ok(rel(k0.value - Math.min(...xs), reach * k0.sigma) < 2e-4);
    assert.ok(rel(Math.max(...ys) - k0p.value, reach * k0p.sigma) < 2e-4);
    assert.deepEqual([xs[0], ys[0]], [xs.at(-1), ys.at(-1)]);  // closed
  }
  // K0 and K0' of a BM3 fit pull against each other.
  const c = r.correlation;
  assert.deepEqual(c.labels, ['V0', 'K0', "K0'"]);
  assert.ok(c.rows[2][1] < -0.5 && c.rows[2][1] === c.rows[1][2]);
  assert.equal(c.rows[1][1], 1);
});

check('a fixed K0\' has no ellipse and the fixed values stand in the row', () => {
  assert.equal(page.fixed.ellipses.length, 0);
  const row = page.fixed.csv.split('\n')[1].split(',');
  assert.deepEqual([row[2], row[3], row[6], row[7]], ['74.7', '', '4', '']);
});

check('the curves follow the fit: P at V0 is 0 and the residuals are data minus fit', () => {
  const r = page.bm3, c = r.pv_curves[0];
  assert.equal(r.pv_curves.length, 1);
  const v0 = param(r, 'v0').value;
  assert.ok(c.v[0] < Math.min(...r.points.v) && c.v.at(-1) > v0);
  const k = Array.from(c.v).findIndex((v) => v > v0);
  assert.ok(c.p[k - 1] > 0 && c.p[k] < 0);
  r.points.p.forEach((p, i) => assert.equal(r.points.residual_p[i], p - r.points.p_fit[i]));
  assert.equal(page.pvt.pv_curves.length, 3);  // one isotherm per temperature
  assert.deepEqual(Array.from(page.pvt.pv_curves, (x) => x.t_k), [298.15, 673.15, 1073.15]);
});

// ---- Refusals: a reason, never numbers ----

check('too few points: an error row with no numbers', () => {
  const r = page.few;
  assert.equal(r.ok, false);
  assert.equal(r.message, '3 points cannot determine 4 refined parameters; fix some or add points');
  const row = r.csv.split('\n')[1].split(',');
  assert.deepEqual(row.slice(0, 2), ['BM4', '3']);
  assert.ok(row.slice(2, 17).every((f) => f === ''), row.join(','));
  assert.equal(row[17], 'error');
  assert.equal(r.parameters, undefined);
  assert.equal(r.summary, undefined);
});

check('a non-positive volume or an unreadable number is refused naming its line', () => {
  assert.equal(page.badvolume.ok, false);
  assert.equal(page.badvolume.message, 'line 2: the volume must be positive');
  assert.equal(page.badnumber.error, 'line 2, v: "x" is not a number ("x")');
});

check('unreadable settings are refused as the command refuses them', () => {
  assert.match(M.fitEos(mgo(0), { form: 'BM5' }).error, /BM5.*none of BM2, BM3, BM4, Vinet/);
  assert.match(M.fitEos(mgo(0), { form: 'BM3', fix: ['k0p=four'] }).error, /--fix.*four/);
  assert.match(M.fitEos(mgo(0), { form: 'BM3', z: '4' }).error, /--theta0/);
  assert.equal(M.fitEos('p_gpa,sigma_p_gpa,sigma_v\n1,0.1,0.1\n', { form: 'BM3' }).error,
    'the header has no v column (v or volume)');
  assert.equal(M.fitEos('p_gpa,v\n1,70\n2,69\n3,68\n4,67\n', { form: 'BM3' }).message,
    'line 2: the point has neither sigma_P nor sigma_V');
});

check('a 50-point fit with its charts\' numbers answers a click at once (under 50 ms)', () => {
  const lines = ['p_gpa,sigma_p_gpa,v,sigma_v'];
  const r = scatter(3);
  for (let i = 0; i < 50; ++i) {
    const v = 74.698 * (1 - 0.003 * i);
    lines.push(`${bm3(v, 74.698, 160.2, 3.99) + 0.05 * r()},0.05,${v},0.02`);
  }
  const text = lines.join('\n') + '\n';
  M.fitEos(text, { form: 'BM3' });
  const runs = 200, started = performance.now();
  for (let i = 0; i < runs; ++i) M.fitEos(text, { form: 'BM3' });
  const ms = (performance.now() - started) / runs;
  console.log(`50-point BM3 fit with its charts' numbers in WebAssembly: ${ms.toFixed(3)} ms`);
  assert.ok(ms < 50, `${ms} ms`);
});

fs.rmSync(dir, { recursive: true });
if (failures) process.exit(1);
