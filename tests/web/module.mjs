// The page's module in Node: the calculator on typed text as the window computes it, and
// window.hivarnisse with the Python module's arguments and results.  node module.mjs SITE_DIR
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';

const require = createRequire(import.meta.url);
const site = path.resolve(process.argv[2]);
const M = await require(path.join(site, 'hivarnisse.js'))();
const hv = require(path.join(site, 'api.js')).makeApi(M);
let checks = 0;
const check = (name, fn) => {
  try {
    fn();
    ++checks;
  } catch (e) {
    console.error(`${name}: ${e.message}`);
    process.exitCode = 1;
  }
};

// The window's reflection lists and labels, and the lattice parameters it fills in.
check('steps', () => {
  assert.deepEqual(M.steps('NaCl').map((s) => `${s.n} ${s.label}`),
    ['1 L.P.', '3 1 1 1', '4 2 0 0', '8 2 2 0', '11 3 1 1', '16 4 0 0', '19 3 3 1', '20 4 2 0']);
  const cscl = M.steps('CsCl');
  assert.equal(cscl.length, 15);
  assert.equal(cscl[0].label, '1 0 0 / L.P.');
  assert.equal(`${cscl[7].n} ${cscl[7].label}`, '9 3 0 0, 2 2 1');
  assert.equal(`${cscl[10].n} ${cscl[10].label}`, '12 2 2 2');
  assert.equal(M.ambientText('NaCl'), '5.64');
  assert.equal(M.ambientText('CsCl'), '4.11904');
});

// Whole calculations with what the window shows for them; a at the ambient cell gives 0.
const shows = [
  ['CsCl', '25', 1, '4.11904', '0'],
  ['NaCl', '25', 1, '5.64', '0'],
  ['NaCl', '25', 4, '2.75', '2.15'],
  ['CsCl', '25', 2, '2.8', '2.76'],
  ['NaCl', '300', 4, '2.7', '5.05'],
  ['CsCl', '25', 1, '3.8', '7.94'],
  ['NaCl', '25', 16, '1.5', '-2.78'],
  ['NaCl', ' 25.0 ', 4, '+2.75e0', '2.15'],
];
for (const [standard, t, n, d, p] of shows) {
  check(`${standard} ${t} n=${n} ${d}`, () => {
    const r = M.calculate(standard, t, n, d);
    assert.equal(r.ok, true, r.reason);
    assert.equal(r.pressure, p);
    assert.equal(r.warning, '');
  });
}

// Refused input: the field and the window's words.
const refused = [
  ['', '2.75', 'temperature', 'Enter a number'],
  ['warm', '2.75', 'temperature', 'Not a number'],
  ['inf', '2.75', 'temperature', 'Not a number'],
  ['1e39', '2.75', 'temperature', 'Number too large'],   // beyond single precision
  ['1e400', '2.75', 'temperature', 'Number too large'],
  ['1e-400', '2.75', 'temperature', 'Not a number'],     // vanishes below the smallest double
  ['-300', '2.75', 'temperature', 'Below absolute zero'],
  ['25', '  ', 'value', 'Enter a number'],
  ['25', '2,75', 'value', 'Not a number'],               // the page turns the locale's comma into "."
  ['25', '0', 'value', 'A spacing must be greater than zero'],
  ['25', '-2.75', 'value', 'A spacing must be greater than zero'],
  ['25', '1e-50', 'value', 'A spacing must be greater than zero'],  // 0 in single precision
  ['25', '1e30', 'value', 'Number too large'],           // (a/a0)^3 leaves single range
];
for (const [t, d, field, reason] of refused) {
  check(`refused ${JSON.stringify(t)} ${JSON.stringify(d)}`, () => {
    const r = M.calculate('NaCl', t, 4, d);
    assert.equal(r.ok, false);
    assert.equal(r.field, field);
    assert.equal(r.reason, reason);
    assert.equal(r.pressure, '');
  });
}

// V/V0 = (4 / 5.64)^3 = 0.35672 and (7.5 / 5.64)^3 = 2.35151: the number stands, with the warning.
check('range warnings', () => {
  const low = M.calculate('NaCl', '25', 1, '4');
  assert.equal(low.ok, true);
  assert.equal(low.warning, 'V/V0 = 0.3567 is below 0.5: outside the range of the equation of state');
  assert.match(low.pressure, /^\d+(\.\d+)?$/);
  const high = M.calculate('NaCl', '25', 1, '7.5');
  assert.equal(high.warning, 'V/V0 = 2.352 is above 1.5: outside the range of the equation of state');
});

const round = (x, k) => Number(x.toFixed(k));
check('pressure', () => {
  const one = hv.pressure('NaCl', 25, '200', 2.75);
  assert.equal(one.status, 'ok');
  assert.equal(round(one.p_gpa, 2), 2.15);
  assert.equal(one.a, 5.5);
  assert.ok(Number.isNaN(one.sigma_p_gpa));
  const many = hv.pressure('NaCl', 25, '200', [2.75, 2.70, 2.65], 0.002);
  assert.ok(many.p_gpa instanceof Float32Array);
  assert.deepEqual(Array.from(many.p_gpa, (x) => round(x, 2)), [2.15, 4.26, 6.98]);
  assert.deepEqual(Array.from(many.sigma_p_gpa, (x) => round(x, 3)), [0.074, 0.096, 0.123]);
  const mixed = hv.pressure('NaCl', [25, 300], ['200', '210'], 2.75);
  assert.deepEqual(mixed.status, ['ok', 'error']);
  assert.match(mixed.message[1], /^NaCl has no reflection 2 1 0: in rock salt/);
  const cscl = hv.pressure('CsCl', 25, ['110', 'lp'], [2.8, 3.8]);
  assert.deepEqual(Array.from(cscl.p_gpa, (x) => round(x, 2)), [2.76, 7.94]);
  assert.throws(() => hv.pressure('NaCl', 25, '200', [1, 2], [1, 2, 3]), /do not broadcast/);
  assert.throws(() => hv.pressure('KBr', 25, '200', 2.75), /unknown standard "KBr"/);
  assert.equal(hv.pressure('NaCl', -300, '200', 2.75).status, 'error');
});

check('fit', () => {
  const f = hv.fit('NaCl', 25, ['200', '220', '222'], [2.75, 1.945, 1.588], [0.002, 0.001, 0.001], 5);
  assert.equal(f.status, 'ok');
  assert.equal(f.n_peaks, 3);
  assert.deepEqual([round(f.a, 5), round(f.sigma_a, 5), round(f.p_gpa, 2), round(f.sigma_p_gpa, 3)],
    [5.5009, 0.00192, 2.14, 0.038]);
  const bad = hv.fit('NaCl', 25, ['200', '210'], [2.75, 1.945]);
  assert.equal(bad.status, 'error');
  assert.match(bad.message, /^hkl\[1\]: NaCl has no reflection 2 1 0/);
  // One peak is the window's number exactly.
  assert.equal(hv.fit('NaCl', 25, '200', 2.75).p_gpa, hv.pressure('NaCl', 25, '200', 2.75).p_gpa);
});

check('spacing', () => {
  const s = hv.spacing('NaCl', 25, 10, null, 0.4133, 8);
  assert.deepEqual(s.hkl, ['111', '200', '220']);
  assert.deepEqual(Array.from(s.n), [3, 4, 8]);
  assert.deepEqual(Array.from(s.d, (x) => round(x, 4)), [3.0093, 2.6061, 1.8428]);
  assert.deepEqual(Array.from(s.two_theta, (x) => round(x, 3)), [7.875, 9.096, 12.877]);
  assert.equal(s.status, 'ok');
  // d = a / sqrt(n), and each d read back gives the pressure asked for.
  assert.ok(Math.abs(s.d[1] * 2 - s.a) < 1e-12);
  assert.equal(round(hv.pressure('NaCl', 25, '200', s.d[1]).p_gpa, 2), 10);
  const asked = hv.spacing('CsCl', 25, 5, '110');
  assert.deepEqual(Array.from(asked.d, (x) => round(x, 4)), [2.7427]);
  assert.equal(asked.two_theta, undefined);
  assert.throws(() => hv.spacing('NaCl', 25, 10, '210'), /no reflection 2 1 0/);
  assert.throws(() => hv.spacing('NaCl', 25, 10, null, null, 0), /max_n/);
});

check('commands', () => {
  // The pressure command's answer, as hivarnisse-calc prints it.
  const r = M.pressureCommand('NaCl', '25', ['200:2.75:0.0005', '220:1.945:0.0005'], '5');
  assert.equal(r.code, 0);
  assert.match(r.out, /^NaCl at 25 C, 2 peaks, sigma_T = 5 K\n/);
  assert.match(r.out, /\nP      = 2\.14 \+\/- 0\.021 GPa\n$/);
  const bad = M.pressureCommand('NaCl', '25', ['200:abc'], '');
  assert.equal(bad.code, 2);
  assert.match(bad.err, /^peak "200:abc": d: /);
  // 12.398419843320026 keV angstrom / 30 keV.
  assert.equal(M.wavelengthOfEnergy('30'), String(12.398419843320026 / 30));
  assert.equal(M.wavelengthOfEnergy('-1'), '');
});

console.log(`${checks} groups of checks passed`);
