// batch through the page's own module (site/hivarnisse.js with site/api.js) against the real
// "hivarnisse-calc batch" on the same few thousand rows: the bytes must be equal, and so must
// the exit status, when glibc computes exp and pow with its generic code, which the
// WebAssembly build's musl shares. glibc's FMA variants, which it picks on CPUs with FMA, may
// differ in the last bit, and sigma_p_gpa comes from differences of the model that magnify
// that: with them, lines may differ only in the double columns and only within 1e-8. A
// published scale (a row whose scale column names one, Au:Fei2007) computes through log,
// cbrt and the Debye integral as well, where the WebAssembly build's C library and glibc
// may differ in the last bit whatever glibc picks: its lines are held to the same 1e-8, and
// its p_gpa is a double too.
// node batch.mjs SITE_DIR HIVARNISSE_CALC
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const require = createRequire(import.meta.url);
const [site, calc] = process.argv.slice(2).map((p) => path.resolve(p));
const M = await require(path.join(site, 'hivarnisse.js'))();
const api = require(path.join(site, 'api.js')).makeApi(M);

// A fixed sequence of draws (splitmix32), so that a failure can be replayed.
let state = 0x5eed;
const next = () => {
  state = (state + 0x9e3779b9) | 0;
  let z = state;
  z = Math.imul(z ^ (z >>> 16), 0x85ebca6b);
  z = Math.imul(z ^ (z >>> 13), 0xc2b2ae35);
  return ((z ^ (z >>> 16)) >>> 0) / 4294967296;
};
const pick = (list) => list[Math.floor(next() * list.length)];
const number = (lo, hi) => String(lo + (hi - lo) * next());

// What measurement files hold, good and bad, in proportions that keep most rows computable.
function row(pattern) {
  const standard = pick(['NaCl', 'NaCl', 'CsCl', 'CsCl', 'KCl', 'nacl', ' CsCl ', 'KBr', '', 'Au', 'mgo', 'Pt:Holmes1989']);
  const t = pick([number(-50, 900), '25', '298.15K', ' 300 ', '-300', 'hot', '', '1e40']);
  const hkl = pick(['200', '220', '111', '"2 0 0"', '"2,2,0"', 'lp', '110', '210', '10 0 0', '000', '2000', '']);
  const d = next() < 0.85 ? number(1.2, 4.2) : pick(['', '0', '-1', 'abc', '1e400', '1e-400', 'nan', '2.75e0', '5.64']);
  const sd = pick(['', '', '0.0005', number(0.0001, 0.01), '-0.001', 'x']);
  const st = pick(['', '', '2', number(0, 10), '-1']);
  const note = pick(['', 'plain', '"with, comma"', '"quote ""inside"""', '"two\nlines"']);
  const fields = [note, standard, t, hkl, d, sd, st];
  if (pattern) fields.unshift(`p${Math.floor(next() * 300)}`);
  return fields.join(',');
}

const cases = [];
{
  const lines = ['note,standard,t_c,hkl,d,sigma_d,sigma_t'];
  for (let i = 0; i < 3000; ++i) lines.push(row(false));
  cases.push(['rows', lines.join('\n') + '\n']);
}
{
  const lines = ['pattern,note,standard,t_c,hkl,d,sigma_d,sigma_t'];
  for (let i = 0; i < 2000; ++i) lines.push(row(true));
  cases.push(['patterns', lines.join('\r\n')]);
}
{
  const lines = ['standard\tt_c\thkl\td'];
  for (let i = 0; i < 500; ++i) lines.push([pick(['NaCl', 'CsCl']), number(0, 500), pick(['200', '110', 'lp']), number(2, 4)].join('\t'));
  cases.push(['tabs', lines.join('\n') + '\n']);
}
cases.push(['header only', 'standard,t_c,hkl,d\n']);
cases.push(['missing column', 'standard,t_c,d\nNaCl,25,2.75\n']);
cases.push(['empty', '']);

// Lines that differ may do so only in a, sigma_a, v_ratio and sigma_p_gpa (by position from
// the end of the line, since the input's own fields may hold quoted commas).
function nearlyEqual(a, b) {
  const la = a.split('\n'), lb = b.split('\n');
  if (la.length !== lb.length) return { bad: `${la.length} lines against ${lb.length}` };
  let lines = 0;
  for (let i = 0; i < la.length; ++i) {
    if (la[i] === lb[i]) continue;
    ++lines;
    const fa = la[i].split(','), fb = lb[i].split(',');
    // Counted from the message's end; p_gpa (4) is a double only on a published scale, and a
    // single's text cannot change by 1e-8 without changing its value by an ulp, 6e-8 or more.
    const doubles = new Set([7, 6, 5, 4, 3].map((k) => fa.length - k));
    if (fa.length !== fb.length) return { bad: `line ${i + 1}: ${la[i]} | ${lb[i]}` };
    for (let k = 0; k < fa.length; ++k) {
      if (fa[k] === fb[k]) continue;
      const x = Number(fa[k]), y = Number(fb[k]);
      if (!doubles.has(k) || !(Math.abs(x - y) <= 1e-8 * Math.abs(y))) return { bad: `line ${i + 1}: ${fa[k]} | ${fb[k]}` };
    }
  }
  return { lines };
}

function differingLinesArePublished(a, b) {
  const la = a.split('\n'), lb = b.split('\n');
  const head = la[0].split(',');
  // Counted from the end, as in nearlyEqual: input fields may hold quoted commas.
  const fromEnd = head.length - head.indexOf('scale');
  return head.includes('scale') && la.every((line, i) => {
    const f = line.split(',');
    return line === lb[i] || f[f.length - fromEnd].includes(':');
  });
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hv-web-batch-'));
let failures = 0;
for (const [name, csv] of cases) {
  const file = path.join(dir, 'in.csv');
  fs.writeFileSync(file, csv);
  const generic = { ...process.env, GLIBC_TUNABLES: 'glibc.cpu.hwcaps=-AVX2,-FMA' };
  const native = spawnSync(calc, ['batch', file], { maxBuffer: 1 << 28, env: generic });
  const usual = spawnSync(calc, ['batch', file], { maxBuffer: 1 << 28 });
  const inPage = M.batch(csv, undefined);
  // Bytes equal, but for lines of a published scale, which must agree to 1e-8.
  const same = Buffer.from(inPage.csv, 'utf8').equals(native.stdout) ||
    (!nearlyEqual(inPage.csv, native.stdout.toString()).bad &&
     differingLinesArePublished(inPage.csv, native.stdout.toString()));
  const rows = inPage.rows;
  if (!same || inPage.exit_code !== native.status) {
    ++failures;
    console.error(`${name}: page exit ${inPage.exit_code}, native exit ${native.status}; bytes ${same ? 'equal' : 'differ'}`);
    const a = inPage.csv.split('\n'), b = native.stdout.toString().split('\n');
    const k = a.findIndex((l, i) => l !== b[i]);
    if (k >= 0) console.error(`  first different line ${k + 1}:\n  page:   ${a[k]}\n  native: ${b[k]}`);
  } else {
    console.log(`${name}: ${rows} rows, exit status ${native.status}, bytes equal`);
  }
  const near = nearlyEqual(inPage.csv, usual.stdout.toString());
  if (near.bad) {
    ++failures;
    console.error(`${name}: with glibc's usual functions: ${near.bad}`);
  } else if (near.lines) {
    console.log(`  with glibc's FMA variants: ${near.lines} lines differ in the last digits of a double, within 1e-8`);
  }
  // window.hivarnisse.batch gives the same text, and throws where the program refuses the input.
  let viaApi;
  try {
    viaApi = api.batch(csv);
  } catch (e) {
    viaApi = e;
  }
  if (native.status === 2 ? !(viaApi instanceof Error && native.stderr.toString().includes(viaApi.message))
                          : viaApi !== inPage.csv) {
    ++failures;
    console.error(`${name}: hivarnisse.batch gave ${viaApi}, the program said ${native.stderr}`);
  }
}
fs.rmSync(dir, { recursive: true });
if (failures) process.exit(1);
