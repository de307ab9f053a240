// Patterns through the page's module against "hivarnisse-calc pattern" and its --peaks file
// on made patterns: the same bytes when glibc uses its generic exp and pow (see batch.mjs),
// otherwise the same text with numbers within 1e-6 relative; and the pressure each pattern
// was made at.  node patterns.mjs SITE_DIR HIVARNISSE_CALC
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const require = createRequire(import.meta.url);
const [site, calc] = process.argv.slice(2).map((p) => path.resolve(p));
const M = await require(path.join(site, 'hivarnisse.js'))();
const hv = require(path.join(site, 'api.js')).makeApi(M);

// NaCl at 25 C seen at 0.4133 A: Gaussian peaks of 0.03 degrees where the inverse puts them,
// as strong as NaCl's structure makes them, on a sloping background, with a little deterministic noise.
function made(pGpa, seed, shift = 0, standard = 'NaCl') {
  const s = hv.spacing(standard, 25, pGpa, null, 0.4133);
  let state = seed;
  const noise = () => ((state = (Math.imul(state, 1103515245) + 12345) >>> 0) / 4294967296 - 0.5) * 10;
  // Rock salt's odd reflections scatter as Cl- minus Na+ (18 - 10 electrons), its even ones as
  // their sum: the odd ones (8/28)^2 as strong.
  const weak = (i) => (standard === 'NaCl' && s.n[i] % 2 === 1 ? (8 / 28) ** 2 : 1);
  const lines = [`# made for the test: ${standard} at 25 C, ${pGpa} GPa, 0.4133 A`];
  for (let i = 0; i < 3000; ++i) {
    const x = 5 + (15 * i) / 2999;
    let y = 200 - 4 * x + noise();
    s.two_theta.forEach((t, k) => {
      y += 1000 * weak(k) * Math.exp(-0.5 * ((x - t - shift) / 0.03) ** 2);
    });
    lines.push(`${x.toFixed(5)} ${y.toFixed(3)}`);
  }
  return lines.join('\n') + '\n';
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hv-web-patterns-'));
const files = [['p3.xy', made(3, 1)], ['p5.xy', made(5, 2)], ['p8.xy', made(8, 3)], ['empty.xy', '# nothing\n']];
for (const [name, text] of files) fs.writeFileSync(path.join(dir, name), text);
const fields = { standard: 'NaCl', temperature: '25', wavelength: '0.4133' };

const results = files.map(([name, text]) => M.fitPatternFile(name, text, fields));
const [rowHead, peakHead] = M.patternHeaders().split('\n');
const rows = rowHead + '\n' + results.map((r) => r.row).join('');
const peaks = peakHead + '\n' + results.map((r) => r.peaks_csv).join('');

let failures = 0;
const run = (env, names = files.map(([n]) => n), extra = [], standard = 'NaCl') => {
  const out = spawnSync(calc, ['pattern', '--standard', standard, '--temperature', '25', '--wavelength', '0.4133',
    ...extra, '--peaks', 'peaks.csv', ...names], { cwd: dir, env, maxBuffer: 1 << 26 });
  return { status: out.status, rows: out.stdout.toString(), peaks: fs.readFileSync(path.join(dir, 'peaks.csv'), 'utf8') };
};
const genericEnv = { ...process.env, GLIBC_TUNABLES: 'glibc.cpu.hwcaps=-AVX2,-FMA' };
const generic = run(genericEnv);
// A calibration drifted by +0.15 degrees, fitted with the zero shift refined: the page's
// checkbox against --zero-shift, and the same file without either.
const shiftedText = made(5, 4, 0.15);
fs.writeFileSync(path.join(dir, 'shifted.xy'), shiftedText);
const shifted = M.fitPatternFile('shifted.xy', shiftedText, { ...fields, zero_shift: '1' });
const unshifted = M.fitPatternFile('shifted.xy', shiftedText, fields);
const shiftedNative = run(genericEnv, ['shifted.xy'], ['--zero-shift']);
const unshiftedNative = run(genericEnv, ['shifted.xy']);
// Gold at 20 GPa, named as the page's chooser names its default scale: the row names the scale.
const goldText = made(20, 5, 0, 'Au');
fs.writeFileSync(path.join(dir, 'gold.xy'), goldText);
const gold = M.fitPatternFile('gold.xy', goldText, { ...fields, standard: 'Au' });
const goldNative = run(genericEnv, ['gold.xy'], [], 'Au');
for (const [what, page, native] of [['rows', rows, generic.rows], ['peaks', peaks, generic.peaks]]) {
  if (page !== native) {
    ++failures;
    const a = page.split('\n'), b = native.split('\n');
    const k = a.findIndex((l, i) => l !== b[i]);
    console.error(`${what} differ, first at line ${k + 1}:\n  page:   ${a[k]}\n  native: ${b[k]}`);
  } else {
    console.log(`${what}: ${page.split('\n').length - 2} lines, bytes equal`);
  }
}
assert.equal(generic.status, 1);  // the empty file is an error row
// Field by field: text equal, numbers within the tolerance; the largest relative difference.
function difference(a, b) {
  const la = a.split('\n'), lb = b.split('\n');
  if (la.length !== lb.length) return Infinity;
  let worst = 0;
  la.forEach((line, i) => {
    const fa = line.split(','), fb = lb[i].split(',');
    if (fa.length !== fb.length) worst = Infinity;
    fa.forEach((f, k) => {
      if (f === fb[k]) return;
      const x = Number(f), y = Number(fb[k]);
      worst = Math.max(worst, f && fb[k] && Number.isFinite(x) && Number.isFinite(y) ? Math.abs(x - y) / Math.max(Math.abs(x), Math.abs(y)) : Infinity);
    });
  });
  return worst;
}
// The shifted file's a_i trend and refined offset pass through cos and a difference of sums
// that magnifies its last bit, even with the generic functions, and gold's scale through the
// page's own exp and pow: text equal, numbers within 1e-9 relative. A hint names the page's
// field where the command names its flag.
const asCommand = (t) => t.replaceAll('the zero-shift box', '--zero-shift');
for (const [what, page, native] of [['gold rows', rowHead + '\n' + gold.row, goldNative.rows],
  ['zero-shift rows', rowHead + '\n' + shifted.row, shiftedNative.rows],
  ['zero-shift peaks', peakHead + '\n' + shifted.peaks_csv, shiftedNative.peaks],
  ['unshifted rows', rowHead + '\n' + asCommand(unshifted.row), unshiftedNative.rows]]) {
  const worst = difference(page, native);
  console.log(`${what}: largest relative difference ${worst.toExponential(1)}`);
  if (!(worst <= 1e-9)) ++failures;
}
const usual = run(process.env);
for (const [what, page, native] of [['rows', rows, usual.rows], ['peaks', peaks, usual.peaks]]) {
  const worst = difference(page, native);
  console.log(`with glibc's usual functions, ${what}: largest relative difference ${worst.toExponential(1)}`);
  if (!(worst <= 1e-6)) ++failures;
}

// Each made pattern gives back the pressure it was made at, from all eight reflections.
try {
  [3, 5, 8].forEach((p, i) => {
    assert.equal(results[i].status, 'ok', results[i].message);
    // Every reflection the pattern holds: 420 moves past its 20 degrees at 8 GPa.
    const inside = hv.spacing('NaCl', 25, p, null, 0.4133).two_theta.filter((t) => t < 19.9).length;
    assert.equal(results[i].n_peaks, inside);
    assert.ok(Math.abs(results[i].p_gpa - p) < 0.02, `${results[i].p_gpa} for ${p} GPa`);
    assert.equal(results[i].curve.length, 3000);
  });
  assert.equal(results[3].status, 'error');
  // window.hivarnisse.pattern on the same numbers as arrays gives the same pressure.
  const xs = [], ys = [];
  for (const line of files[1][1].split('\n').slice(1, -1)) {
    const [x, y] = line.split(' ').map(Number);
    xs.push(x);
    ys.push(y);
  }
  const r = hv.pattern('NaCl', 25, xs, ys, { wavelength: 0.4133 });
  assert.equal(r.p_gpa, results[1].p_gpa);
  assert.deepEqual(r.peaks.slice(0, 3).map((k) => k.hkl), ['111', '200', '220']);
  assert.throws(() => hv.pattern('NaCl', 25, xs, ys.slice(1), { wavelength: 0.4133 }), /same length/);
  assert.match(M.fitPatternFile('p5.xy', files[1][1], { standard: 'NaCl', temperature: 'hot' }).error, /temperature/);
  assert.match(M.fitPatternFile('p5.xy', files[1][1], { ...fields, zero_shift: 'yes' }).error, /zero shift/);

  // The refined offset is the 0.15 degrees the file was made with, and the pressure its 5 GPa;
  // the rows carry the offset only when it was refined.
  assert.equal(shifted.status, 'ok', shifted.message);
  assert.ok(Math.abs(shifted.zero_shift - 0.15) < 3 * shifted.sigma_zero_shift + 1e-3, `${shifted.zero_shift}`);
  assert.ok(Math.abs(shifted.p_gpa - 5) < 0.05, `${shifted.p_gpa} with the zero shift`);
  assert.ok(Number.isNaN(unshifted.zero_shift));
  assert.match(unshifted.message, /a zero or detector distance error \(the zero-shift box refines the zero\)/);
  const columns = rowHead.split(',');
  // A CSV line's fields; a quoted message may hold commas.
  const csvFields = (line) => {
    const out = [''];
    let quoted = false;
    for (const ch of line) {
      if (ch === '"') quoted = !quoted;
      else if (ch === ',' && !quoted) out.push('');
      else out[out.length - 1] += ch;
    }
    return out;
  };
  const cell = (row, name) => csvFields(row.trimEnd())[columns.indexOf(name)];
  assert.equal(Number(cell(shifted.row, 'zero_shift')), shifted.zero_shift);
  assert.equal(cell(unshifted.row, 'zero_shift'), '');

  // What the table shows: all expected intensity found on a clean pattern, its three strongest
  // reflections among them; the peaks carry their expected intensities, 100 the strongest.
  for (const r of results.slice(0, 3)) {
    assert.ok(r.fom > 0.9 && r.fom <= 1, `fom ${r.fom}`);
    assert.equal(r.strong_found, 3);
    assert.equal(r.strong_expected, 3);
    assert.equal(Number(cell(r.row, 'fom')), r.fom);
    // Rock salt NaCl: 200 is its strongest reflection, at 100.
    const strongest = r.peaks.reduce((m, k) => (k.expected > m.expected ? k : m));
    assert.equal(strongest.hkl, '200');
    assert.ok(Math.abs(strongest.expected - 100) < 1e-9, `${strongest.expected}`);
  }
  assert.equal(results[3].strong_expected, 0);
  assert.equal(gold.status, 'ok', gold.message);
  assert.ok(Math.abs(gold.p_gpa - 20) < 0.05, `${gold.p_gpa} for gold at 20 GPa`);
  assert.equal(gold.row.split(',')[1], 'Au:Fei2007');

  // A spectrum whose header names energy, read without a unit: the row says x was taken as
  // 2-theta and how to say it on the page.
  let spectrum = '# Energy (keV)  counts\n';
  for (let i = 0; i < 300; ++i) spectrum += `${(20 + 0.1 * i).toFixed(1)} ${100 + (i % 7)}\n`;
  const ed = M.fitPatternFile('ed.xy', spectrum, { standard: 'NaCl', temperature: '25', two_theta_fixed: '9' });
  assert.match(ed.message, /x was taken as 2-theta in degrees, since no x unit was given, though the file's header names energy; if x is energy in keV, say x axis "energy \(keV\)"$/);
  const said = M.fitPatternFile('ed.xy', spectrum, { standard: 'NaCl', temperature: '25', two_theta_fixed: '9', x_unit: 'kev' });
  assert.doesNotMatch(said.message, /taken as 2-theta/);

  // Hints name what the reader can set: the page's fields in its rows, the keywords in a script's.
  const flatX = Array.from({ length: 500 }, (_, k) => 4 + k * 0.01);
  const flatText = '# 2th_deg I\n' + flatX.map((x) => `${x} 200\n`).join('');
  const onPage = M.fitPatternFile('flat.xy', flatText, fields).message;
  assert.match(onPage, /\(the Pressure guess field\) may find it; .* \(the Pressure range searches further\)$/);
  const inScript = hv.pattern('NaCl', 25, flatX, flatX.map(() => 200), { wavelength: 0.4133 }).message;
  assert.match(inScript, /\(pressure_guess\) may find it; .* \(pressure_range searches further\)$/);
  assert.doesNotMatch(onPage + inScript, /--/);
  for (const [lo, hi, why] of [['2', '', /give both ends/], ['', '9', /give both ends/], ['2', '9', /not both/]]) {
    assert.match(M.fitPatternFile('flat.xy', flatText, { ...fields, pressure_guess: '5', pressure_lo: lo, pressure_hi: hi }).error, why);
  }
} catch (e) {
  ++failures;
  console.error(e.message);
}
fs.rmSync(dir, { recursive: true });
if (failures) process.exit(1);
