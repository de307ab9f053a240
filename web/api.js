// window.hivarnisse: the WebAssembly core with the Python module's arguments and results
// (pressure, fit, spacing, standards, convert), and batch(csvText) -> csvText with the bytes of
// "hivarnisse-calc batch". Lists broadcast against single values as numpy broadcasts
// one-dimensional arrays; NaN stands where Python has NaN, null where it takes None.
(function (scope) {
  'use strict';

  const isList = (x) => Array.isArray(x) || (ArrayBuffer.isView(x) && !(x instanceof DataView));
  const optional = (x) => (x === null || x === undefined ? NaN : Number(x));

  // The common length of the list arguments (1 broadcasts), -1 when all are single values.
  function broadcastLength(names, values) {
    let n = -1;
    values.forEach((v, i) => {
      if (!isList(v) || v.length === 1) return;
      if (n >= 0 && v.length !== n) {
        throw new Error(`${names[i]} has ${v.length} elements where the others have ${n}: they do not broadcast`);
      }
      n = v.length;
    });
    if (n < 0 && values.some((v) => isList(v))) n = 1;
    return n;
  }
  const at = (v, i) => (isList(v) ? v[v.length === 1 ? 0 : i] : v);

  function checkStandard(standard) {
    if (typeof standard !== 'string') throw new TypeError('standard must be a string: "NaCl", "Au", "Au:Anderson1989", ...');
  }

  function vector(M, Type, values) {
    const v = new M[Type]();
    for (const x of values) v.push_back(x);
    return v;
  }

  function makeApi(M) {
    function pressure(standard, t_c, hkl, d, sigma_d = null, sigma_t = null) {
      checkStandard(standard);
      const args = [t_c, hkl, d, sigma_d, sigma_t];
      const n = broadcastLength(['t_c', 'hkl', 'd', 'sigma_d', 'sigma_t'], args);
      const one = (i) =>
        M.pressureOne(standard, Number(at(t_c, i)), String(at(hkl, i)), Number(at(d, i)),
          optional(at(sigma_d, i)), optional(at(sigma_t, i)));
      if (n < 0) return one(0);
      const out = {
        // A published scale's pressure is a double, the built-in model's the window's single.
        p_gpa: M.isPublished(standard) ? new Float64Array(n) : new Float32Array(n), sigma_p_gpa: new Float64Array(n), a: new Float64Array(n),
        sigma_a: new Float64Array(n), v_ratio: new Float64Array(n), status: new Array(n), message: new Array(n),
      };
      for (let i = 0; i < n; ++i) {
        const r = one(i);
        for (const k of Object.keys(out)) out[k][i] = r[k];
      }
      return out;
    }

    function fit(standard, t_c, hkl, d, sigma_d = null, sigma_t = null) {
      checkStandard(standard);
      if (isList(t_c) || isList(sigma_t)) throw new Error('fit takes one pattern: t_c and sigma_t are single numbers');
      const n = Math.max(1, broadcastLength(['hkl', 'd', 'sigma_d'], [hkl, d, sigma_d]));
      const hs = [], ds = [], ss = [];
      for (let i = 0; i < n; ++i) {
        hs.push(String(at(hkl, i)));
        ds.push(Number(at(d, i)));
        ss.push(optional(at(sigma_d, i)));
      }
      const vh = vector(M, 'StringVector', hs), vd = vector(M, 'DoubleVector', ds), vs = vector(M, 'DoubleVector', ss);
      try {
        return M.fitPattern(standard, Number(t_c), vh, vd, vs, optional(sigma_t));
      } finally {
        vh.delete(); vd.delete(); vs.delete();
      }
    }

    function spacing(standard, t_c, p_gpa, hkl = null, wavelength = null, max_n = 20) {
      checkStandard(standard);
      const listed = hkl === null || hkl === undefined;
      const asked = listed ? [] : (isList(hkl) ? Array.from(hkl, String) : [String(hkl)]);
      const vh = vector(M, 'StringVector', asked);
      try {
        const r = M.spacing(standard, Number(t_c), Number(p_gpa), vh, listed, optional(wavelength), Number(max_n));
        r.n = Int32Array.from(r.n);
        r.d = Float64Array.from(r.d);
        if (r.two_theta) r.two_theta = Float64Array.from(r.two_theta);
        return r;
      } finally {
        vh.delete();
      }
    }

    // The output rows of hivarnisse-calc batch; an input it refuses altogether (exit status 2:
    // no header, a missing column) throws with its reason.
    function batch(csvText) {
      const r = M.batch(String(csvText), undefined);
      if (r.exit_code === 2) throw new Error(r.error);
      return r.csv;
    }

    // One integrated pattern in hand: x and intensity as arrays, the rest as fit_pattern's
    // keyword arguments in an object ({wavelength: 0.4133, x_unit: '2theta', ...}).
    function pattern(standard, t_c, x, intensity, options = {}) {
      checkStandard(standard);
      if (!M.fitPatternArrays) throw new Error('this build has no pattern fitter');
      const o = options || {};
      const text = (v) => (v === null || v === undefined ? '' : String(v));
      const fields = {
        standard, temperature: text(t_c), sigma_t: text(o.sigma_t), wavelength: text(o.wavelength),
        energy: text(o.energy), two_theta_fixed: text(o.two_theta_fixed),
        x_unit: o.x_unit === undefined ? '2theta' : text(o.x_unit), pressure_guess: text(o.pressure_guess),
        reflections: isList(o.reflections) ? Array.from(o.reflections).join(',') : text(o.reflections),
        zero_shift: o.zero_shift ? '1' : '',
      };
      if (o.pressure_range) [fields.pressure_lo, fields.pressure_hi] = Array.from(o.pressure_range, String);
      if (o.x_range) [fields.x_lo, fields.x_hi] = Array.from(o.x_range, String);
      const vx = vector(M, 'DoubleVector', Array.from(x, Number));
      const vy = vector(M, 'DoubleVector', Array.from(intensity, Number));
      const vs = vector(M, 'DoubleVector', o.sigma ? Array.from(o.sigma, Number) : []);
      try {
        const r = M.fitPatternArrays(vx, vy, vs, fields);
        if (r.error) throw new Error(r.error);
        return r;
      } finally {
        vx.delete(); vy.delete(); vs.delete();
      }
    }

    // Every standard and scale, and one pressure on another scale, as the Python module's.
    const standards = () => M.standards();
    function convert(p_gpa, t_c, from_standard, to_standard) {
      checkStandard(from_standard);
      checkStandard(to_standard);
      return M.convert(Number(p_gpa), Number(t_c), from_standard, to_standard);
    }

    const common = { pressure, fit, spacing, batch, standards, convert };
    return M.fitPatternArrays ? { ...common, pattern } : common;
  }

  const exported = { makeApi };
  if (typeof module === 'object' && module.exports) module.exports = exported;
  else scope.HiVarnisseApi = exported;
})(typeof self !== 'undefined' ? self : globalThis);
