// The WebAssembly build against the native one on 1,000,000 random points through the core
// (web/agreement.cpp): single-precision pressures, statuses, texts and parsed numbers bit for
// bit; doubles that pass through exp, pow and the trigonometric functions to a relative
// tolerance, since glibc picks other (FMA) variants of those on this CPU.
// node agreement.mjs WASM_MODULE NATIVE_PROGRAM [POINTS]
import { spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import path from 'node:path';

const require = createRequire(import.meta.url);
const [wasmPath, nativePath, pointsArg] = process.argv.slice(2);
const POINTS = Number(pointsArg || 1000000);
const SEED = 20261209;
const CHUNK = 100000;

const M = await require(path.resolve(wasmPath))();
const SIZE = M._hv_record_size();
if (SIZE !== 160) throw new Error(`record size ${SIZE}, expected 160`);

// Offsets of web/agreement.cpp's Record.
const exactU32 = { p_gpa: 0, p_gpa_fit3: 40, calc_p_gpa: 44 };
const exactU8 = { status: 4, calc_ok: 5, parse_ok: 6, float_text_length: 7 };
const exactF64 = { a: 8, sigma_a: 16, v_ratio: 24, a_fit3: 48, parsed: 80 };
// Relative tolerances: sigma_p comes from central differences of the model with a step of
// 1e-5 a, which magnify a last-bit difference of exp or pow some 10^5 times.
const tolerantF64 = { sigma_p_gpa: [32, 1e-8], sigma_p_gpa_fit3: [56, 1e-8], spacing_a: [64, 1e-12], spacing_two_theta: [72, 1e-12] };
const texts = { double_text: [88, 32], float_text: [120, 16], calc_text: [136, 24] };

let failures = 0;
const worst = {};
const fail = (i, what, w, n) => {
  if (failures++ < 20) console.error(`point ${i}: ${what}: wasm ${w}, native ${n}`);
};
const text = (bytes, at, len) => Buffer.from(bytes.subarray(at, at + len)).toString('latin1').replace(/\0+$/, '');

function compare(start, wasm, native) {
  const w = new DataView(wasm.buffer, wasm.byteOffset, wasm.byteLength);
  const n = new DataView(native.buffer, native.byteOffset, native.byteLength);
  const count = wasm.byteLength / SIZE;
  for (let r = 0; r < count; ++r) {
    const base = r * SIZE, i = start + r;
    for (const [k, o] of Object.entries(exactU32)) {
      if (w.getUint32(base + o, true) !== n.getUint32(base + o, true)) fail(i, k, w.getFloat32(base + o, true), n.getFloat32(base + o, true));
    }
    for (const [k, o] of Object.entries(exactU8)) {
      if (w.getUint8(base + o) !== n.getUint8(base + o)) fail(i, k, w.getUint8(base + o), n.getUint8(base + o));
    }
    for (const [k, o] of Object.entries(exactF64)) {
      if (w.getBigUint64(base + o, true) !== n.getBigUint64(base + o, true)) fail(i, k, w.getFloat64(base + o, true), n.getFloat64(base + o, true));
    }
    for (const [k, [o, tolerance]] of Object.entries(tolerantF64)) {
      const a = w.getFloat64(base + o, true), b = n.getFloat64(base + o, true);
      if (Number.isNaN(a) && Number.isNaN(b)) continue;
      const rel = a === b ? 0 : Math.abs(a - b) / Math.max(Math.abs(a), Math.abs(b));
      // Near the model's pressure minimum sigma_p itself goes to 0: there 1e-15 GPa is agreement.
      if (!(rel <= tolerance || Math.abs(a - b) <= 1e-15)) fail(i, k, a, b);
      else worst[k] = Math.max(worst[k] || 0, rel);
    }
    for (const [k, [o, len]] of Object.entries(texts)) {
      const a = text(wasm, base + o, len), b = text(native, base + o, len);
      if (a !== b) fail(i, k, JSON.stringify(a), JSON.stringify(b));
    }
  }
}

const ptr = M._malloc(CHUNK * SIZE);
for (let start = 0; start < POINTS; start += CHUNK) {
  const count = Math.min(CHUNK, POINTS - start);
  M._hv_records(SEED, start, count, ptr);
  const wasm = M.HEAPU8.slice(ptr, ptr + count * SIZE);
  const run = spawnSync(nativePath, [String(SEED), String(start), String(count)], { maxBuffer: 2 * CHUNK * SIZE });
  if (run.status !== 0 || run.stdout.length !== count * SIZE) {
    throw new Error(`${nativePath} failed: status ${run.status}, ${run.stdout.length} bytes, ${run.stderr}`);
  }
  compare(start, wasm, new Uint8Array(run.stdout));
}
M._free(ptr);

const benchPoints = 200000;
const wasmNs = M._hv_bench(benchPoints);
const nativeNs = Number(spawnSync(nativePath, ['bench', String(benchPoints)]).stdout.toString());
console.log(`${POINTS} points compared; largest relative differences of doubles seen (allowed):`);
for (const [k, [, tolerance]] of Object.entries(tolerantF64)) console.log(`  ${k}: ${(worst[k] || 0).toExponential(2)} (${tolerance})`);
console.log(`one-peak fit with sigma: WebAssembly ${wasmNs.toFixed(0)} ns, native ${nativeNs.toFixed(0)} ns, ratio ${(wasmNs / nativeNs).toFixed(2)}`);

if (failures) {
  console.error(`${failures} differences`);
  process.exit(1);
}
