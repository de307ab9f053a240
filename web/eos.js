// The page's "Equation of state" section: a CSV of pressures and volumes in, the fitted
// parameters, three charts and the command's two files out. Every number comes from the
// WebAssembly module (M.fitEos); this file reads the form and draws.
//
// The fit runs on the main thread: one fit of 50 points with its charts' numbers takes a few
// milliseconds in the module (500 points some 20), once per click, so a worker would only
// add a second copy of the module and a round trip.
(function (scope) {
  'use strict';
  const $ = (id) => document.getElementById(id);

  // Typed numbers as the module reads them, shown numbers as the rest of the page shows them.
  const { lang, plain, shown } = window.hvNumbers;

  // A value to its sigma's second significant digit, as the command's summary writes it.
  function withSigma(value, sigma) {
    if (!(sigma > 0) || !Number.isFinite(sigma)) return { value: shown(String(Number(value.toPrecision(8)))), sigma: '' };
    const decimals = Math.min(12, Math.max(0, 1 - Math.floor(Math.log10(sigma))));
    return { value: shown(value.toFixed(decimals)), sigma: shown(sigma.toFixed(decimals)) };
  }

  // ---- Error bars: {x, y, xErr, yErr} points of datasets marked errorBars ----

  const errorBars = {
    id: 'hvEosErrorBars',
    afterDatasetsDraw(chart) {
      const { ctx, chartArea: area, scales: { x, y } } = chart;
      chart.data.datasets.forEach((set, k) => {
        if (!set.errorBars || !chart.isDatasetVisible(k)) return;
        ctx.save();
        ctx.beginPath();
        ctx.rect(area.left, area.top, area.right - area.left, area.bottom - area.top);
        ctx.clip();
        ctx.strokeStyle = set.errorBarColor || set.borderColor || '#444';
        ctx.lineWidth = 1;
        ctx.beginPath();
        for (const p of set.data) {
          if (!Number.isFinite(p.x) || !Number.isFinite(p.y)) continue;
          const px = x.getPixelForValue(p.x), py = y.getPixelForValue(p.y);
          if (p.xErr > 0) {
            const a = x.getPixelForValue(p.x - p.xErr), b = x.getPixelForValue(p.x + p.xErr);
            ctx.moveTo(a, py); ctx.lineTo(b, py);
            ctx.moveTo(a, py - 3); ctx.lineTo(a, py + 3);
            ctx.moveTo(b, py - 3); ctx.lineTo(b, py + 3);
          }
          if (p.yErr > 0) {
            const a = y.getPixelForValue(p.y - p.yErr), b = y.getPixelForValue(p.y + p.yErr);
            ctx.moveTo(px, a); ctx.lineTo(px, b);
            ctx.moveTo(px - 3, a); ctx.lineTo(px + 3, a);
            ctx.moveTo(px - 3, b); ctx.lineTo(px + 3, b);
          }
        }
        ctx.stroke();
        ctx.restore();
      });
    },
  };

  // ---- The form ----

  const PARAMS = [
    ['v0', 'V0'], ['k0', 'K0'], ['k0p', "K0'"], ['k0pp', "K0''"], ['gamma0', '\u03b30'], ['q', 'q'],
  ];
  const state = { M: null, charts: {}, urls: [], source: '' };

  // Which parameters the chosen form (and a P-V-T fit) has: the others cannot be fixed.
  function refreshFixable() {
    const form = $('eos-kind').value;
    const thermal = plain($('eos-theta0').value) !== '';
    const has = {
      v0: true, k0: true, k0p: form !== 'BM2', k0pp: form === 'BM4', gamma0: thermal, q: thermal,
    };
    for (const [key] of PARAMS) {
      const box = $(`eos-fix-${key}`);
      box.disabled = !has[key];
      $(`eos-fix-${key}-value`).disabled = !has[key] || !box.checked;
      box.closest('.fix').classList.toggle('absent', !has[key]);
    }
  }

  function settings() {
    const fix = [];
    for (const [key] of PARAMS) {
      const box = $(`eos-fix-${key}`);
      if (box.checked && !box.disabled) fix.push(`${key}=${plain($(`eos-fix-${key}-value`).value)}`);
    }
    return {
      form: $('eos-kind').value, fix, theta0: plain($('eos-theta0').value), t0: plain($('eos-t0').value),
      z: plain($('eos-z').value), atoms: plain($('eos-atoms').value),
    };
  }

  function clearResult() {
    $('eos-result').hidden = true;
    for (const id of ['eos-download', 'eos-download-residuals']) $(id).hidden = true;
    state.urls.forEach((u) => URL.revokeObjectURL(u));
    state.urls = [];
    for (const c of Object.values(state.charts)) c.destroy();
    state.charts = {};
  }

  function download(id, text) {
    const url = URL.createObjectURL(new Blob([text], { type: 'text/csv' }));
    state.urls.push(url);
    $(id).href = url;
    $(id).hidden = false;
  }

  function fit(event) {
    if (event) event.preventDefault();
    if (!state.M) return;
    const error = $('eos-error');
    error.textContent = '';
    clearResult();
    const text = state.source || $('eos-text').value;
    if (!text.trim()) {
      error.textContent = 'Paste, choose or drop a CSV with the columns p_gpa, sigma_p_gpa, v, sigma_v first.';
      $('eos-text').focus();
      return;
    }
    const r = state.M.fitEos(text, settings());
    if (r.error) {
      error.textContent = r.error;
      return;
    }
    // The row says why a fit was refused as the command's does: offer it, show no numbers.
    download('eos-download', r.csv);
    if (!r.ok) {
      error.textContent = `The fit failed: ${r.message}`;
      return;
    }
    download('eos-download-residuals', r.residuals);
    showNumbers(r);
    $('eos-result').hidden = false;
    showCharts(r);
  }

  function cell(tr, text, header) {
    const c = document.createElement(header ? 'th' : 'td');
    if (header) c.scope = header;
    c.textContent = text;
    tr.appendChild(c);
    return c;
  }

  function showNumbers(r) {
    const fixed = r.parameters.filter((p) => !p.refined).map((p) => p.label);
    const num = (x, digits) => (Number.isFinite(x) ? shown(x.toPrecision(digits)) : '\u2013');
    $('eos-stats').textContent = `${r.form}${r.thermal ? ' with a thermal pressure' : ''}: ${r.n_points} points, ` +
      `${r.n_refined} refined parameters${fixed.length ? ` (${fixed.join(', ')} fixed)` : ''}; ` +
      `\u03c7\u00b2 = ${num(r.chi2, 6)}, reduced ${num(r.chi2_reduced, 4)}; ` +
      `largest |residual|/\u03c3 ${num(r.max_abs_residual_sigma, 3)}.`;
    const body = $('eos-params').tBodies[0];
    body.textContent = '';
    for (const p of r.parameters) {
      const tr = body.insertRow();
      tr.dataset.key = p.key;
      cell(tr, p.label, 'row');
      const t = withSigma(p.value, p.sigma);
      cell(tr, t.value);
      cell(tr, p.refined ? t.sigma : 'fixed');
    }
    const table = $('eos-corr');
    table.hidden = r.correlation.labels.length < 2;
    const head = table.tHead;
    head.textContent = '';
    const htr = head.insertRow();
    cell(htr, '', 'col');
    for (const l of r.correlation.labels) cell(htr, l, 'col');
    const cbody = table.tBodies[0];
    cbody.textContent = '';
    r.correlation.rows.forEach((row, a) => {
      const tr = cbody.insertRow();
      cell(tr, r.correlation.labels[a], 'row');
      row.forEach((c, b) => cell(tr, b <= a ? shown(c.toFixed(3)) : ''));
    });
    $('eos-summary-text').textContent = r.summary;
  }

  // ---- Charts ----

  const INK = '#1b1f24', FIT = '#c00000', LINE = '#0b57d0';

  function chart(id, datasets, xTitle, yTitle, extra = {}) {
    const options = {
      animation: false, maintainAspectRatio: false, locale: lang, parsing: true,
      scales: {
        x: { type: 'linear', title: { display: true, text: xTitle }, ...(extra.x || {}) },
        y: { type: 'linear', title: { display: true, text: yTitle }, ...(extra.y || {}) },
      },
      plugins: { legend: { labels: { boxWidth: 12 } } },
    };
    state.charts[id] = new Chart($(id), { type: 'scatter', data: { datasets }, options, plugins: [errorBars] });
  }

  const points = (label, data) => ({
    label, data, errorBars: true, borderColor: INK, backgroundColor: INK, pointRadius: 2.5, errorBarColor: '#6b7580',
  });
  const curve = (label, xs, ys, color, dash) => ({
    label, data: Array.from(xs, (x, i) => ({ x, y: Number.isFinite(ys[i]) ? ys[i] : null })), showLine: true,
    pointRadius: 0, borderColor: color, backgroundColor: color, borderWidth: 1.6, borderDash: dash || [], spanGaps: false,
  });

  function showCharts(r) {
    const pt = r.points;
    const pv = Array.from(pt.v, (v, i) => ({ x: v, y: pt.p[i], xErr: pt.sigma_v[i], yErr: pt.sigma_p[i] }));
    const HOT = [FIT, '#e07000', '#7a2cc0', '#0a7d22', '#8a5a00'];
    const curves = r.pv_curves.map((c, i) => curve(
      r.pv_curves.length > 1 ? `fit at ${shown((c.t_k - 273.15).toFixed(1))} \u00b0C` : 'fit', c.v, c.p, HOT[i % HOT.length]));
    const first = r.pv_curves[0].v;
    const xRange = { min: first[0], max: first[first.length - 1] };
    chart('eos-pv', [points('data', pv), ...curves], 'V', 'P (GPa)', { x: xRange });
    const res = Array.from(pt.v, (v, i) => ({ x: v, y: pt.residual_p[i], yErr: pt.sigma_eff[i] }));
    chart('eos-res', [points('P \u2212 fit, \u00b1\u03c3eff', res)], 'V', 'P \u2212 fit (GPa)', { x: xRange });

    const ff = r.ff;
    const ffPoints = [];
    for (let i = 0; i < ff.f.length; ++i) {
      if (Number.isFinite(ff.F[i])) ffPoints.push({ x: ff.f[i], y: ff.F[i], xErr: ff.sigma_f[i], yErr: ff.sigma_F[i] });
    }
    const sets = [points('data', ffPoints), curve('fitted isotherm', ff.curve_f, ff.curve_F, FIT)];
    if (Number.isFinite(ff.intercept)) {
      sets.push(curve('weighted line', [ff.f_lo, ff.f_hi],
        [ff.intercept + ff.slope * ff.f_lo, ff.intercept + ff.slope * ff.f_hi], LINE, [5, 4]));
    }
    // Near V0, F is a quotient of two small numbers and its sigma as large as itself: such a
    // point is drawn where it falls but does not stretch the axis flat.
    const ys = [...ff.curve_F, ...sets.at(-1).data.map((p) => p.y)];
    for (const p of ffPoints) if (!(p.yErr > 0.5 * Math.abs(p.y))) ys.push(p.y - (p.yErr || 0), p.y + (p.yErr || 0));
    const finite = ys.filter(Number.isFinite);
    const lo = Math.min(...finite), hi = Math.max(...finite), pad = 0.08 * (hi - lo || Math.abs(hi) || 1);
    chart('eos-ff', sets, 'f = ((V0/V)^(2/3) \u2212 1)/2', 'F (GPa)',
      { x: { min: ff.f_lo, max: ff.f_hi }, y: { min: lo - pad, max: hi + pad } });
    $('eos-ff-caption').textContent = Number.isFinite(ff.intercept)
      ? `Weighted line: F = ${shown(ff.intercept.toPrecision(6))} + ${shown(ff.slope.toPrecision(6))} f GPa ` +
        '(for BM3 the intercept is K0 and the slope (3/2) K0 (K0\u2032 \u2212 4)).'
      : 'Too few points with a finite F for a line.';

    $('eos-ellipse-figure').hidden = r.ellipses.length === 0;
    if (r.ellipses.length) {
      const names = ['68.3 % (\u0394\u03c7\u00b2 2.30)', '95.4 % (\u0394\u03c7\u00b2 6.18)'];
      const rings = r.ellipses.map((e, i) => curve(names[i], e.k0, e.k0p, i ? LINE : FIT, i ? [5, 4] : []));
      const best = { label: 'fit', data: [{ x: r.k0, y: r.k0p }], borderColor: INK, backgroundColor: INK, pointRadius: 3.5 };
      chart('eos-ellipse', [best, ...rings], 'K0 (GPa)', "K0'");
    }
  }

  // ---- Files ----

  function useText(name, text) {
    // Small files are shown and can be edited; a large one is kept aside, as the batch does.
    if (text.length <= 256 * 1024) {
      state.source = '';
      $('eos-text').value = text;
      $('eos-source').textContent = `${name}, shown below.`;
    } else {
      state.source = text;
      $('eos-text').value = '';
      $('eos-source').textContent = `${name}: too large to show; typing or pasting below uses that text instead.`;
    }
  }

  function readFile(file, then) {
    file.text().then((text) => {
      useText(file.name, text);
      if (then) then();
    }, () => { $('eos-error').textContent = `${file.name} cannot be read.`; });
  }

  function wire() {
    $('eos-form').addEventListener('submit', fit);
    $('eos-kind').addEventListener('change', refreshFixable);
    $('eos-theta0').addEventListener('input', refreshFixable);
    for (const [key] of PARAMS) $(`eos-fix-${key}`).addEventListener('change', refreshFixable);
    $('eos-file').addEventListener('change', (e) => {
      if (e.target.files.length) readFile(e.target.files[0]);
    });
    const zone = $('eos-drop');
    zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
    zone.addEventListener('dragleave', () => zone.classList.remove('over'));
    zone.addEventListener('drop', (e) => {
      e.preventDefault();
      zone.classList.remove('over');
      if (e.dataTransfer.files.length) readFile(e.dataTransfer.files[0], fit);
    });
    $('eos-text').addEventListener('input', () => {
      state.source = '';
      $('eos-source').textContent = '';
    });
    refreshFixable();
  }

  // Called by the page once the module has loaded; a module without the fit hides the section.
  function start(M) {
    if (!M.fitEos) {
      $('eos').hidden = true;
      $('eos-link').hidden = true;
      return;
    }
    state.M = M;
    $('eos-go').disabled = false;
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', wire);
  else wire();
  scope.HiVarnisseEos = { start };
})(window);
