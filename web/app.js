// The page: reads what is typed, hands it to the WebAssembly core and shows the answers.
// Nothing here computes a pressure; every number comes from the core.
(function () {
  'use strict';
  const $ = (id) => document.getElementById(id);

  // ---- Numbers typed and shown in the browser language's way ----

  // The browser language's decimal separator ("." is always read as well), typed text as
  // the core reads it, and the core's numbers as the language writes them.
  const { lang, decimal, plain, shown } = window.hvNumbers;

  // ---- Messages beside a field ----

  function setError(input, box, why) {
    box.textContent = why || '';
    if (input) {
      if (why) input.setAttribute('aria-invalid', 'true');
      else input.removeAttribute('aria-invalid');
    }
  }
  function focusField(input) {
    input.focus();
    if (input.select) input.select();
  }

  let M = null;  // the module once loaded
  let api = null;

  // ---- 1. Calculator ----

  const calc = {
    standard: 'CsCl',
    steps: [],
    index: 0,
  };

  function calcStandard() {
    return document.querySelector('input[name="calc-standard"]:checked').value;
  }

  function refreshReflection() {
    const step = calc.steps[calc.index];
    $('calc-n').textContent = step ? String(step.n) : '';
    $('calc-peak').textContent = step ? step.label : '';
    $('calc-minus').disabled = !M || calc.index <= 0;
    $('calc-plus').disabled = !M || calc.index >= calc.steps.length - 1;
    const lp = step && step.n === 1;
    $('calc-d-hint').textContent = lp ? 'At L.P. the value is the lattice parameter a itself.' : 'The d-spacing of this reflection.';
  }

  // Choosing a standard starts at its lattice parameter, as the window does.
  function chooseStandard() {
    calc.standard = calcStandard();
    calc.steps = M.steps(calc.standard);
    calc.index = 0;
    $('calc-d').value = shown(M.ambientText(calc.standard));
    markStale();
    refreshReflection();
  }

  // A shown pressure belongs to the inputs it came from: once they change, say so.
  function markStale() {
    const p = $('calc-p');
    if (p.textContent && !p.classList.contains('stale')) {
      p.classList.add('stale');
      $('calc-stale').textContent = 'The inputs have changed: press Calc -> for their pressure.';
    }
  }

  function step(by) {
    const next = Math.min(Math.max(calc.index + by, 0), calc.steps.length - 1);
    if (next !== calc.index) {
      calc.index = next;
      markStale();
    }
    refreshReflection();
  }

  function calculate(event) {
    if (event) event.preventDefault();
    if (!M) return;
    const t = $('calc-t'), d = $('calc-d');
    setError(t, $('calc-t-error'), '');
    setError(d, $('calc-d-error'), '');
    setError(null, $('calc-p-error'), '');
    const step = calc.steps[calc.index];
    const r = M.calculate(calc.standard, plain(t.value), step ? step.n : 0, plain(d.value));
    const p = $('calc-p');
    p.classList.remove('stale', 'warn');
    $('calc-stale').textContent = '';
    if (!r.ok) {
      // No number rather than the last one: it would belong to other inputs.
      p.textContent = '';
      $('calc-warning').textContent = '';
      const input = r.field === 'temperature' ? t : r.field === 'value' ? d : null;
      const box = r.field === 'temperature' ? $('calc-t-error') : r.field === 'value' ? $('calc-d-error') : $('calc-p-error');
      setError(input, box, r.reason);
      if (input) focusField(input);
      return;
    }
    p.textContent = shown(r.pressure);
    p.classList.toggle('warn', !!r.warning);
    $('calc-warning').textContent = shown(r.warning);
  }

  // ---- 2. Several reflections ----

  let peakRows = 0;
  function addPeakRow(hkl = '', d = '', sd = '') {
    const n = ++peakRows;
    const tr = document.createElement('tr');
    tr.innerHTML =
      `<td><input type="text" class="hkl" autocomplete="off" aria-label="hkl of peak ${n}"></td>` +
      `<td><input type="text" class="d" inputmode="decimal" autocomplete="off" aria-label="d of peak ${n} (&Aring;)"></td>` +
      `<td><input type="text" class="sd" inputmode="decimal" autocomplete="off" aria-label="sigma d of peak ${n} (&Aring;)"></td>` +
      `<td><button type="button" class="remove" aria-label="Remove peak ${n}">Remove</button></td>`;
    tr.querySelector('.hkl').value = hkl;
    tr.querySelector('.d').value = d;
    tr.querySelector('.sd').value = sd;
    tr.querySelector('.remove').addEventListener('click', () => {
      const next = tr.nextElementSibling || tr.previousElementSibling;
      tr.remove();
      (next ? next.querySelector('.hkl') : $('fit-add')).focus();
    });
    $('fit-peaks').tBodies[0].appendChild(tr);
    return tr;
  }

  function fitPeaks(event) {
    event.preventDefault();
    if (!M) return;
    const out = $('fit-out'), error = $('fit-error');
    out.textContent = '';
    error.textContent = '';
    const rows = Array.from($('fit-peaks').tBodies[0].rows);
    rows.forEach((tr) => tr.classList.remove('bad'));
    const peaks = [];
    const used = [];
    const columns = { hkl: [], d: [], sd: [] };
    for (const tr of rows) {
      const hkl = tr.querySelector('.hkl').value.trim(), d = plain(tr.querySelector('.d').value), sd = plain(tr.querySelector('.sd').value);
      if (!hkl && !d && !sd) continue;
      peaks.push(`${hkl}:${d}${sd ? ':' + sd : ''}`);
      used.push(tr);
      columns.hkl.push(hkl);
      columns.d.push(Number(d));
      columns.sd.push(sd ? Number(sd) : null);
    }
    const standard = $('fit-standard').value, t = plain($('fit-t').value), sigmaT = plain($('fit-sigma-t').value);
    const r = M.pressureCommand(standard, t, peaks, sigmaT);
    if (r.out) {
      out.textContent = shown(pressureToSigma(r.out, () => api.fit(standard, Number(t), columns.hkl, columns.d, columns.sd,
        sigmaT ? Number(sigmaT) : null)));
    }
    if (r.err) {
      error.textContent = r.err;
      // A peak the command refuses on its own is the one to fix.
      if (r.code === 2) {
        const bad = peaks.findIndex((p) => M.pressureCommand($('fit-standard').value, '25', [p], '').code === 2);
        if (bad >= 0) used[bad].classList.add('bad');
      }
    }
  }

  // The command writes P to the hundredth, as the window shows it; the page shows it to the
  // decimal place of its sigma, taken from the same fit through the module's fit, and only
  // where that fit agrees with the text (a temperature in kelvin, say, keeps the text).
  function pressureToSigma(text, fit) {
    const m = /^P {6}= (-?\d+(?:\.\d+)?) \+\/- (\S+) GPa$/m.exec(text);
    if (!m) return text;
    let fitted = null;
    try {
      fitted = fit();
    } catch (e) {
      return text;
    }
    if (!fitted || fitted.status === 'error' || !(fitted.sigma_p_gpa > 0)) return text;
    const sigmaText = Number(m[2]);
    if (Math.abs(fitted.p_gpa - Number(m[1])) > 0.005 + 1e-6 || Math.abs(fitted.sigma_p_gpa - sigmaText) > 0.051 * sigmaText) return text;
    const pair = pressurePair(fitted);
    return text.replace(m[0], `P      = ${pair.p} +/- ${pair.sigma} GPa`);
  }

  // ---- 3. Peak positions ----

  function beamKind() {
    return document.querySelector('input[name="pos-beam"]:checked').value;
  }
  function beamChanged() {
    $('pos-beam-label').textContent = beamKind() === 'energy' ? 'Energy (keV)' : 'Wavelength (\u00c5)';
  }

  function listPositions(event) {
    event.preventDefault();
    if (!M) return;
    const table = $('pos-table'), body = table.tBodies[0];
    const error = $('pos-error'), beam = $('pos-beam-value');
    error.textContent = '';
    $('pos-summary').textContent = '';
    $('pos-warning').textContent = '';
    body.textContent = '';
    table.hidden = true;
    beam.removeAttribute('aria-invalid');
    let wavelength = plain(beam.value);
    if (wavelength && beamKind() === 'energy') {
      wavelength = M.wavelengthOfEnergy(wavelength);
      if (!wavelength) {
        setError(beam, error, 'Energy: a positive number of keV is needed');
        return;
      }
    }
    const maxN = Number($('pos-max').value);
    if (!Number.isInteger(maxN) || maxN < 1 || maxN > 10000) {
      error.textContent = 'Largest h\u00b2 + k\u00b2 + l\u00b2: a whole number from 1 to 10000';
      $('pos-max').focus();
      return;
    }
    const args = [$('pos-standard').value, plain($('pos-t').value), plain($('pos-p').value), wavelength, maxN];
    const text = M.spacingCommand(...args, false);
    if (text.code !== 0) {
      error.textContent = text.err.replace('--wavelength', beamKind() === 'energy' ? 'energy' : 'wavelength')
        .replace(/^--(\w+)/, '$1');
      return;
    }
    const csv = M.spacingCommand(...args, true);
    const lines = text.out.trimEnd().split('\n');
    $('pos-summary').textContent = shown(lines[0]);
    let first = 1;
    if (lines[1].startsWith('warning: ')) {
      $('pos-warning').textContent = shown(lines[1].slice(9));
      first = 2;
    }
    const angles = !!wavelength;
    table.querySelector('th.angle').hidden = !angles;
    // hkl and n from the CSV form, d and 2-theta as the table shows them.
    const rows = csv.out.trimEnd().split('\n').slice(1);
    const shownRows = lines.slice(first + 1);
    rows.forEach((row, i) => {
      const [hkl, n] = row.split(',');
      const cells = shownRows[i].trim().split(/\s+/);
      const d = angles ? cells[cells.length - 2] : cells[cells.length - 1];
      const tr = body.insertRow();
      for (const v of angles ? [hkl, n, d, cells[cells.length - 1]] : [hkl, n, d]) {
        tr.insertCell().textContent = shown(v);
      }
    });
    table.hidden = false;
  }

  // ---- 4. Batch, in a Web Worker ----

  // From file:// a worker cannot load a script file: it is built from the module's text
  // and hvWorkerMain's instead.
  function startWorker() {
    const source = 'var _scriptDir;\nself.createHiVarnisse = ' + createHiVarnisse.toString() + ';\n(' +
      hvWorkerMain.toString() + ')(self);\n';
    return new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
  }
  let worker = null;
  let jobs = 0;
  const waiting = new Map();
  function runInWorker(job, onProgress) {
    if (!worker) {
      worker = startWorker();
      worker.onmessage = (e) => {
        const w = waiting.get(e.data.id);
        if (!w) return;
        if (e.data.type === 'progress') w.onProgress(e.data);
        else {
          waiting.delete(e.data.id);
          if (e.data.type === 'done') w.resolve(e.data);
          else w.reject(new Error(e.data.error));
        }
      };
      worker.onerror = (e) => {
        for (const w of waiting.values()) w.reject(new Error(e.message || 'the worker stopped'));
        waiting.clear();
        worker = null;
      };
    }
    const id = ++jobs;
    return new Promise((resolve, reject) => {
      waiting.set(id, { resolve, reject, onProgress });
      worker.postMessage(Object.assign({ id }, job));
    });
  }

  // One CSV record into fields (RFC 4180).
  function parseRecord(text) {
    const fields = [];
    let i = 0;
    for (;;) {
      let field = '';
      if (text[i] === '"') {
        ++i;
        for (;;) {
          const q = text.indexOf('"', i);
          if (q < 0) { field += text.slice(i); i = text.length; break; }
          field += text.slice(i, q);
          i = q + 1;
          if (text[i] === '"') { field += '"'; ++i; } else break;
        }
        const end = text.indexOf(',', i);
        i = end < 0 ? text.length + 1 : end + 1;
      } else {
        const end = text.indexOf(',', i);
        field = text.slice(i, end < 0 ? text.length : end);
        i = end < 0 ? text.length + 1 : end + 1;
      }
      fields.push(field);
      if (i > text.length) return fields;
    }
  }

  const PAGE = 100;
  const batch = { csv: '', starts: null, page: 0, records: 0, url: null, numeric: [], file: null };

  function showBatchPage() {
    const table = $('batch-table');
    const records = batch.records;  // header included
    const body = table.tBodies[0];
    body.textContent = '';
    const record = (k) => parseRecord(batch.csv.slice(batch.starts[k], batch.starts[k + 1]).replace(/\r?\n$/, ''));
    const first = 1 + batch.page * PAGE, last = Math.min(records, first + PAGE);
    for (let k = first; k < last; ++k) {
      const tr = body.insertRow();
      record(k).forEach((v, j) => {
        const td = tr.insertCell();
        td.textContent = batch.numeric[j] ? shown(v) : v;
        if (j === batch.statusColumn) td.className = v === 'error' || v === 'warning' ? 'status ' + v : 'status';
        else if (v === 'error' || v === 'warning') td.className = v;
      });
    }
    const rows = records - 1;
    $('batch-page').textContent = rows ? `Rows ${first}\u2013${last - 1} of ${rows.toLocaleString()}` : 'No rows';
    $('batch-prev').disabled = batch.page === 0;
    $('batch-next').disabled = last >= records;
    $('batch-pager').hidden = rows <= PAGE;
    table.hidden = false;
  }

  async function runBatch() {
    if (!M) return;
    const text = batch.file ? batch.file.text : $('batch-text').value;
    const error = $('batch-error'), summary = $('batch-summary');
    error.textContent = '';
    summary.textContent = '';
    $('batch-table').hidden = true;
    $('batch-pager').hidden = true;
    $('batch-download').hidden = true;
    if (!text.trim()) {
      error.textContent = 'Choose, drop or paste a CSV file first.';
      $('batch-text').focus();
      return;
    }
    const go = $('batch-go');
    go.disabled = true;
    const bar = $('batch-progress');
    bar.value = 0;
    $('batch-progress-box').hidden = false;
    summary.textContent = 'Computing\u2026';
    try {
      const r = await runInWorker({ type: 'batch', csv: text }, (p) => { bar.value = p.total ? p.done / p.total : 1; });
      bar.value = 1;
      if (r.exit_code === 2) {
        error.textContent = r.error;
        summary.textContent = '';
        return;
      }
      batch.csv = r.csv;
      batch.starts = r.starts;
      batch.records = r.starts.length - 1;
      batch.page = 0;
      const header = parseRecord(r.csv.slice(0, r.starts[1]).replace(/\r?\n$/, ''));
      const numeric = new Set(['a', 'sigma_a', 'v_ratio', 'p_gpa', 'sigma_p_gpa']);
      batch.numeric = header.map((h, j) => numeric.has(h) && j >= header.length - 7);
      batch.statusColumn = header.lastIndexOf('status');
      const head = $('batch-table').tHead;
      head.textContent = '';
      const tr = head.insertRow();
      for (const h of header) {
        const th = document.createElement('th');
        th.scope = 'col';
        th.textContent = h;
        if (tr.cells.length === batch.statusColumn) th.className = 'status';
        tr.appendChild(th);
      }
      if (batch.url) URL.revokeObjectURL(batch.url);
      batch.url = URL.createObjectURL(new Blob([r.csv], { type: 'text/csv' }));
      const a = $('batch-download');
      a.href = batch.url;
      a.hidden = false;
      summary.textContent = `${r.rows.toLocaleString()} rows, ${r.errors.toLocaleString()} with errors, in ${(r.ms / 1000).toFixed(1)} s.`;
      document.body.dataset.batchMs = String(r.ms);
      showBatchPage();
    } catch (e) {
      error.textContent = 'The batch stopped: ' + e.message;
      summary.textContent = '';
    } finally {
      go.disabled = false;
      $('batch-progress-box').hidden = true;
    }
  }

  // A chosen or dropped file is kept as it is; only a small one is shown in the text box,
  // since a text box with 100,000 lines makes any browser crawl.
  const SHOWN_BYTES = 256 * 1024;
  function useFile(file, then) {
    const reader = new FileReader();
    reader.onload = () => {
      const text = reader.result;
      const box = $('batch-text');
      if (text.length <= SHOWN_BYTES) {
        batch.file = null;
        box.value = text;
        $('batch-source').textContent = `${file.name}, shown below.`;
      } else {
        batch.file = { name: file.name, text };
        box.value = '';
        const lines = text.split('\n').length - (text.endsWith('\n') ? 1 : 0);
        $('batch-source').textContent = `${file.name}: ${lines.toLocaleString()} lines, too many to show; ` +
          'typing or pasting below uses that text instead.';
      }
      if (then) then();
    };
    reader.onerror = () => { $('batch-error').textContent = `${file.name} cannot be read.`; };
    reader.readAsText(file);
  }

  function dropZone(zone, onFiles) {
    zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
    zone.addEventListener('dragleave', () => zone.classList.remove('over'));
    zone.addEventListener('drop', (e) => {
      e.preventDefault();
      zone.classList.remove('over');
      if (e.dataTransfer.files.length) onFiles(e.dataTransfer.files);
    });
  }

  // ---- 5. Patterns, in the Web Worker ----

  const pat = { files: [], results: [], chosen: 0, chart: null, series: null, urls: [] };

  function patternFields() {
    return {
      standard: $('pat-standard').value, temperature: plain($('pat-t').value), sigma_t: plain($('pat-sigma-t').value),
      x_unit: $('pat-unit').value, wavelength: plain($('pat-wavelength').value), energy: plain($('pat-energy').value),
      two_theta_fixed: plain($('pat-fixed').value), pressure_guess: plain($('pat-guess').value),
      pressure_lo: plain($('pat-range-lo').value), pressure_hi: plain($('pat-range-hi').value),
      zero_shift: $('pat-zero').checked ? '1' : '',
    };
  }

  function readPatternFiles(files, then) {
    const list = Array.from(files);
    Promise.all(list.map((f) => f.text().then((text) => ({ name: f.name, text }))))
      .then((read) => {
        pat.files = read;
        $('pat-summary').textContent = `${read.length} file${read.length === 1 ? '' : 's'} chosen.`;
        if (then) then();
      }, (e) => { $('pat-error').textContent = 'A file cannot be read: ' + e.message; });
  }

  // P to the decimal place of its sigma's second significant digit, both with the same
  // decimals (7.2985 \u00b1 0.0023, never 7.3 \u00b1 0.0023); without a sigma, P as the window
  // shows it, to the hundredth.
  function pressurePair(r) {
    const sigma = r.sigma_p_gpa;
    if (r.status === 'error' || !Number.isFinite(r.p_gpa)) return { p: '', sigma: '' };
    if (!(Number.isFinite(sigma) && sigma > 0)) return { p: r.p_text, sigma: r.sigma_p_text };
    const decimals = Math.min(8, Math.max(0, 1 - Math.floor(Math.log10(sigma))));
    const fixed = (v) => {
      const t = v.toFixed(decimals);
      return Number(t) === 0 ? t.replace('-', '') : t;
    };
    return { p: fixed(r.p_gpa), sigma: fixed(sigma) };
  }
  function pressureLine(r) {
    const pair = pressurePair(r);
    return `P = ${shown(pair.p)}${pair.sigma ? ' \u00b1 ' + shown(pair.sigma) : ''} GPa`;
  }

  // How much of the standard's expected pattern the file shows: the share of its expected
  // intensity found, and how many of its strongest reflections ("62 %, 3 of 3 strongest").
  function recognition(r) {
    const parts = [];
    if (Number.isFinite(r.fom)) parts.push(`${Math.round(100 * r.fom)} %`);
    if (r.strong_expected > 0) parts.push(`${r.strong_found} of ${r.strong_expected} strongest`);
    return parts.join(', ');
  }

  // The trend of a_i with position, as the x offset that would make it: a sentence when it
  // lies beyond three sigma (a zero or distance error), else empty.
  function trendWarning(r) {
    if (!(Number.isFinite(r.trend) && Number.isFinite(r.sigma_trend) && Math.abs(r.trend) > 3 * r.sigma_trend)) return '';
    return `a_i drifts with position, as an offset of x by ${numberText(r.trend)} \u00b1 ${numberText(r.sigma_trend)} would make it: ` +
      'a zero or distance error? Tick "Refine a zero shift" and fit again.';
  }

  function numberText(v) {
    return Number(v.toPrecision(2)).toString();
  }

  // The chosen file's reflections: where predicted and found, the expected intensity, a_i and
  // why a reflection was left out.
  function showPatternPeaks(r) {
    const body = $('pat-peaks').tBodies[0];
    body.textContent = '';
    const fixed = (v, digits) => (Number.isFinite(v) ? v.toFixed(digits) : '');
    for (const k of r.peaks) {
      const tr = body.insertRow();
      [k.hkl, fixed(k.predicted, 4), fixed(k.position, 4), fixed(k.d, 5), fixed(k.a_i, 5),
        Number.isFinite(k.expected) ? String(Math.round(k.expected * 10) / 10) : '', k.used ? 'used' : k.note]
        .forEach((v) => { tr.insertCell().textContent = v; });
    }
    $('pat-peaks').hidden = r.peaks.length === 0;
  }

  // What a fit's chart draws, as the pictures decide it: a refused pattern its data only;
  // otherwise a fitted window only where a used reflection was fitted in it, so that a fit
  // that failed or was refused is never drawn as a curve.
  function drawnLayers(r) {
    const n = r.x.length;
    const curve = new Array(n).fill(null), background = new Array(n).fill(null), residual = new Array(n).fill(null);
    const layers = { curve, background, residual, fit: false, ticks: [] };
    if (r.status === 'error' || n === 0) return layers;
    const lo = Math.min(r.x[0], r.x[n - 1]), hi = Math.max(r.x[0], r.x[n - 1]);
    for (const k of r.peaks) {
      const at = Number.isFinite(k.predicted) ? k.predicted : k.position;
      if (Number.isFinite(at) && at >= lo && at <= hi) layers.ticks.push({ x: at, hkl: k.hkl, used: k.used, note: k.note });
    }
    for (let i = 0; i < n;) {
      if (!Number.isFinite(r.curve[i])) { ++i; continue; }
      let j = i;
      while (j < n && Number.isFinite(r.curve[j])) ++j;
      const a = Math.min(r.x[i], r.x[j - 1]), b = Math.max(r.x[i], r.x[j - 1]);
      if (r.peaks.some((k) => k.used && k.position >= a && k.position <= b)) {
        for (let k = i; k < j; ++k) {
          curve[k] = r.curve[k];
          background[k] = Number.isFinite(r.background[k]) ? r.background[k] : null;
          residual[k] = r.intensity[k] - r.curve[k];
        }
        layers.fit = true;
      }
      i = j;
    }
    return layers;
  }

  // Each reflection tick's hkl, read downwards under it, below the data; a label that would
  // touch one already written is left out (its tooltip still names it), used ones first.
  const hklLabels = {
    id: 'hklLabels',
    afterDatasetsDraw(chart) {
      const { ctx, chartArea } = chart;
      const marks = [];
      chart.data.datasets.forEach((ds, i) => {
        if (!ds.hklLabels || !chart.isDatasetVisible(i)) return;
        chart.getDatasetMeta(i).data.forEach((el, j) => marks.push({ x: el.x, y: el.y, hkl: ds.data[j].hkl, used: ds.data[j].used, colour: ds.borderColor }));
      });
      marks.sort((a, b) => (b.used - a.used) || (a.x - b.x));
      const taken = [];
      ctx.save();
      ctx.font = '11px system-ui, sans-serif';
      ctx.textBaseline = 'middle';
      ctx.textAlign = 'right';
      for (const m of marks) {
        if (m.x < chartArea.left || m.x > chartArea.right) continue;
        if (taken.some((x) => Math.abs(x - m.x) < 12)) continue;
        taken.push(m.x);
        ctx.fillStyle = m.colour;
        ctx.save();
        ctx.translate(m.x, m.y + 12);
        ctx.rotate(-Math.PI / 2);
        ctx.fillText(m.hkl, 0, 0);
        ctx.restore();
      }
      ctx.restore();
    },
  };

  // Vertical bars of +-sigma around each point of datasets that carry "sigma" in their points.
  const errorBars = {
    id: 'errorBars',
    beforeDatasetsDraw(chart) {  // under the points, which stay readable however short a bar is
      const { ctx } = chart;
      const y = chart.scales.y;
      ctx.save();
      chart.data.datasets.forEach((ds, i) => {
        if (!chart.isDatasetVisible(i)) return;
        chart.getDatasetMeta(i).data.forEach((el, j) => {
          const pt = ds.data[j];
          if (!(Number.isFinite(pt.sigma) && pt.sigma > 0)) return;
          const top = y.getPixelForValue(pt.y + pt.sigma), bottom = y.getPixelForValue(pt.y - pt.sigma);
          ctx.strokeStyle = ds.borderColor;
          ctx.lineWidth = 1;
          ctx.beginPath();
          ctx.moveTo(el.x, top); ctx.lineTo(el.x, bottom);
          ctx.moveTo(el.x - 4, top); ctx.lineTo(el.x + 4, top);
          ctx.moveTo(el.x - 4, bottom); ctx.lineTo(el.x + 4, bottom);
          ctx.stroke();
        });
      });
      ctx.restore();
    },
  };

  function showChosenPattern() {
    const r = pat.results[pat.chosen];
    Array.from($('pat-table').tBodies[0].rows).forEach((tr, i) => tr.classList.toggle('chosen', i === pat.chosen));
    if (!r) return;
    const layers = drawnLayers(r);
    const points = (ys) => Array.from(r.x, (x, i) => ({ x, y: Number.isFinite(ys[i]) ? ys[i] : null }));
    // The ticks and their labels in a band under the data.
    let low = Infinity, high = -Infinity;
    for (const y of r.intensity) { low = Math.min(low, y); high = Math.max(high, y); }
    const range = high > low ? high - low : 1;
    const tickAt = low - 0.06 * range;
    const ticks = (used) => layers.ticks.filter((k) => k.used === used).map((k) => Object.assign({ y: tickAt }, k));
    const unitName = { '2theta': '2\u03b8 (\u00b0)', '2theta_rad': '2\u03b8 (rad)', q_A: 'q (1/\u00c5)', q_nm: 'q (1/nm)', d: 'd (\u00c5)', kev: 'energy (keV)' };
    // Only what is drawn gets a dataset, so the legend names nothing that is not there.
    const datasets = [{ label: 'data', yAxisID: 'y', data: points(r.intensity), borderColor: '#6b7580', borderWidth: 1, pointRadius: 0 }];
    if (layers.fit) {
      datasets.push(
        { label: 'fit', yAxisID: 'y', data: points(layers.curve), borderColor: '#c00000', borderWidth: 1.5, pointRadius: 0, spanGaps: false },
        { label: 'background', yAxisID: 'y', data: points(layers.background), borderColor: '#0b57d0', borderDash: [4, 3], borderWidth: 1, pointRadius: 0, spanGaps: false },
        { label: 'residual', data: points(layers.residual), yAxisID: 'residual', borderColor: '#c00000', borderWidth: 1, pointRadius: 0, spanGaps: false });
    }
    const used = ticks(true), left = ticks(false);
    if (used.length) datasets.push({ label: 'reflections used', type: 'scatter', yAxisID: 'y', data: used, hklLabels: true, pointStyle: 'line', rotation: 90, radius: 9, borderColor: '#0a7d22', borderWidth: 2 });
    if (left.length) datasets.push({ label: 'reflections left out', type: 'scatter', yAxisID: 'y', data: left, hklLabels: true, pointStyle: 'line', rotation: 90, radius: 9, borderColor: '#b06000', borderWidth: 2 });
    const scales = {};
    // Stacked axes go from the bottom up: the residual under the pattern.
    if (layers.fit) {
      scales.residual = { title: { display: true, text: 'residual' }, stack: 'pattern', stackWeight: 1, offset: true, position: 'left' };
    }
    scales.y = { title: { display: true, text: 'intensity' }, stack: 'pattern', stackWeight: 3, position: 'left',
      min: layers.ticks.length ? low - 0.3 * range : undefined,
      ticks: { callback: (v) => (v < low - 0.02 * range ? '' : v.toLocaleString(lang)) } };
    scales.x = { type: 'linear', title: { display: true, text: unitName[r.x_unit] || r.x_unit } };
    const options = {
      animation: false, parsing: true, normalized: true, maintainAspectRatio: false, locale: lang,
      scales,
      plugins: { tooltip: { callbacks: { label: (c) => (c.raw.hkl ? `${c.raw.hkl}${c.raw.note ? ': ' + c.raw.note : ''}` : `${c.dataset.label}: ${c.formattedValue}`) } } },
    };
    if (pat.chart) pat.chart.destroy();
    pat.chart = new Chart($('pat-chart'), { type: 'line', data: { datasets }, options, plugins: [hklLabels] });
    const found = recognition(r), shift = Number.isFinite(r.zero_shift)
      ? ` Zero shift ${numberText(r.zero_shift)} \u00b1 ${numberText(r.sigma_zero_shift)}.` : '';
    $('pat-chart-caption').textContent = `${r.file}: ` + (r.status === 'error' ? 'no pressure: ' + r.message
      : `${pressureLine(r)} from ${r.n_peaks} reflections` + (found ? `; expected pattern found: ${found}.` : '.') + shift);
    $('pat-trend').textContent = r.status === 'error' ? '' : trendWarning(r);
    showPatternPeaks(r);
    $('pat-figure').hidden = false;
  }

  // The series: one point per file with +-sigma bars and no line between them; refused files
  // as crosses along the bottom, warnings (rows to look at again) in their own colour.
  function showSeries() {
    const all = pat.results.map((r, i) => ({ r, i }));
    const withP = all.filter(({ r }) => r.status !== 'error');
    $('pat-series-figure').hidden = pat.results.length < 2 || withP.length < 1;
    if ($('pat-series-figure').hidden) return;
    // The y range holds every bar whole, and the crosses of refused files along its bottom.
    let low = Infinity, high = -Infinity;
    for (const { r } of withP) {
      const s = Number.isFinite(r.sigma_p_gpa) ? r.sigma_p_gpa : 0;
      low = Math.min(low, r.p_gpa - s);
      high = Math.max(high, r.p_gpa + s);
    }
    const pad = 0.05 * (high > low ? high - low : Math.max(Math.abs(high), 1));
    const at = (list, y) => list.map(({ r, i }) => ({ x: i + 1, y: y(r), sigma: r.sigma_p_gpa, file: r.file, r }));
    const kind = (status) => withP.filter(({ r }) => r.status === status);
    const datasets = [
      { label: 'P (GPa)', data: at(kind('ok'), (r) => r.p_gpa), borderColor: '#0b57d0', backgroundColor: '#0b57d0', pointRadius: 3 },
      { label: 'P, with a warning', data: at(kind('warning'), (r) => r.p_gpa), borderColor: '#b06000', backgroundColor: '#ffffff', pointRadius: 5, borderWidth: 2 },
      { label: 'refused', data: at(all.filter(({ r }) => r.status === 'error'), () => low), borderColor: '#b00000', pointStyle: 'crossRot', pointRadius: 6, borderWidth: 2 },
    ].filter((ds) => ds.data.length);
    const names = pat.results.map((r) => r.file);
    const options = {
      animation: false, maintainAspectRatio: false, locale: lang, showLine: false,
      scales: {
        x: { type: 'linear', min: 0.5, max: names.length + 0.5, title: { display: true, text: 'file' },
          afterBuildTicks: (axis) => { axis.ticks = names.map((_, i) => ({ value: i + 1 })); },
          ticks: { autoSkip: true, minRotation: 30, maxRotation: 60, callback: (v) => (names[v - 1] || '').slice(0, 24) } },
        y: { title: { display: true, text: 'P (GPa)' }, min: low - pad, max: high + pad, ticks: { includeBounds: false } },
      },
      plugins: { tooltip: { callbacks: {
        title: (items) => items[0].raw.file,
        label: (c) => (c.raw.r.status === 'error' ? 'no pressure: ' + c.raw.r.message : pressureLine(c.raw.r)),
      } } },
    };
    if (pat.series) pat.series.destroy();
    pat.series = new Chart($('pat-series'), { type: 'scatter', data: { datasets }, options, plugins: [errorBars] });
  }

  function addPatternRow(r, index) {
    const tr = $('pat-table').tBodies[0].insertRow();
    const choose = document.createElement('input');
    choose.type = 'radio';
    choose.name = 'pat-chosen';
    choose.checked = index === pat.chosen;
    choose.setAttribute('aria-label', `Show ${r.file}`);
    choose.addEventListener('change', () => { pat.chosen = index; showChosenPattern(); });
    tr.insertCell().appendChild(choose);
    const pair = pressurePair(r);
    const cells = [r.file, shown(pair.p), shown(pair.sigma), shown(r.a_text),
      r.status === 'error' ? '' : String(r.n_peaks), recognition(r), r.status, r.message];
    cells.forEach((v, j) => {
      const td = tr.insertCell();
      td.textContent = v;
      if (j === 6) td.className = v === 'ok' ? 'status' : 'status ' + v;
    });
  }

  async function fitPatterns(event) {
    if (event) event.preventDefault();
    if (!M) return;
    const error = $('pat-error');
    error.textContent = '';
    if (!pat.files.length) {
      error.textContent = 'Choose or drop pattern files first.';
      $('pat-files').focus();
      return;
    }
    const body = $('pat-table').tBodies[0];
    body.textContent = '';
    pat.results = [];
    pat.chosen = 0;
    for (const id of ['pat-download', 'pat-download-peaks']) $(id).hidden = true;
    $('pat-figure').hidden = true;
    $('pat-series-figure').hidden = true;
    const bar = $('pat-progress');
    bar.value = 0;
    $('pat-progress-box').hidden = false;
    $('pat-go').disabled = true;
    $('pat-summary').textContent = 'Fitting\u2026';
    const started = performance.now();
    try {
      await runInWorker({ type: 'patterns', files: pat.files, fields: patternFields() }, (p) => {
        bar.value = p.done / p.total;
        pat.results.push(p.result);
        addPatternRow(p.result, pat.results.length - 1);
        $('pat-table').hidden = false;
        if (pat.results.length === 1) showChosenPattern();
      });
      const [rowHead, peakHead] = M.patternHeaders().split('\n');
      pat.urls.forEach((u) => URL.revokeObjectURL(u));
      const rows = new Blob([rowHead + '\n' + pat.results.map((r) => r.row).join('')], { type: 'text/csv' });
      const peaks = new Blob([peakHead + '\n' + pat.results.map((r) => r.peaks_csv).join('')], { type: 'text/csv' });
      pat.urls = [URL.createObjectURL(rows), URL.createObjectURL(peaks)];
      $('pat-download').href = pat.urls[0];
      $('pat-download-peaks').href = pat.urls[1];
      $('pat-download').hidden = false;
      $('pat-download-peaks').hidden = false;
      const errors = pat.results.filter((r) => r.status === 'error').length;
      $('pat-summary').textContent = `${pat.results.length} file${pat.results.length === 1 ? '' : 's'}, ` +
        `${errors} with errors, in ${((performance.now() - started) / 1000).toFixed(1)} s.`;
      showSeries();
    } catch (e) {
      error.textContent = e.message;
      $('pat-summary').textContent = '';
    } finally {
      $('pat-go').disabled = false;
      $('pat-progress-box').hidden = true;
    }
  }

  // ---- Standards and scales ----

  // The choosers of every section but the window-like calculator, and the list of standards,
  // from the core's table: one group per material, its default scale first.
  function fillStandards() {
    const table = M.standards();
    for (const id of ['fit-standard', 'pos-standard', 'pat-standard']) {
      const select = $(id);
      const chosen = select.value;
      select.textContent = '';
      let group = null;
      for (const s of table) {
        if (!group || group.label !== s.material) {
          group = document.createElement('optgroup');
          group.label = s.material;
          select.append(group);
        }
        const option = document.createElement('option');
        option.value = s.name;
        option.textContent = s.builtin ? `${s.name} (built-in model)` : s.name + (s.default ? ' (default)' : '');
        group.append(option);
      }
      select.value = chosen;
    }
    const body = $('standards-table').querySelector('tbody');
    body.textContent = '';
    for (const s of table) {
      const row = body.insertRow();
      const name = document.createElement('th');
      name.scope = 'row';
      name.textContent = s.name;
      row.append(name);
      const range = s.phase ? `${s.range}. ${s.phase}` : s.range;
      for (const text of [s.structure, s.equation, range, s.reference]) row.insertCell().textContent = text;
    }
  }

  // ---- Start ----

  function wire() {
    document.querySelectorAll('input[name="calc-standard"]').forEach((r) => r.addEventListener('change', chooseStandard));
    $('calc-minus').addEventListener('click', () => step(-1));
    $('calc-plus').addEventListener('click', () => step(1));
    $('calc-form').addEventListener('submit', calculate);
    for (const id of ['calc-t', 'calc-d']) $(id).addEventListener('input', markStale);
    // The arrow keys step through the reflections from the h^2+k^2+l^2 buttons, too.
    for (const id of ['calc-minus', 'calc-plus']) {
      $(id).addEventListener('keydown', (e) => {
        if (e.key === 'ArrowUp' || e.key === 'ArrowRight') { e.preventDefault(); step(1); }
        if (e.key === 'ArrowDown' || e.key === 'ArrowLeft') { e.preventDefault(); step(-1); }
      });
    }
    $('fit-add').addEventListener('click', () => addPeakRow().querySelector('.hkl').focus());
    $('fit-form').addEventListener('submit', fitPeaks);
    document.querySelectorAll('input[name="pos-beam"]').forEach((r) => r.addEventListener('change', beamChanged));
    $('pos-form').addEventListener('submit', listPositions);
    $('batch-go').addEventListener('click', runBatch);
    $('batch-file').addEventListener('change', (e) => {
      if (e.target.files.length) useFile(e.target.files[0]);
    });
    dropZone($('batch-drop'), (files) => useFile(files[0], runBatch));
    $('batch-text').addEventListener('input', () => {
      batch.file = null;
      $('batch-source').textContent = '';
    });
    $('batch-prev').addEventListener('click', () => { batch.page--; showBatchPage(); });
    $('batch-next').addEventListener('click', () => { batch.page++; showBatchPage(); });
    $('pat-form').addEventListener('submit', fitPatterns);
    $('pat-files').addEventListener('change', (e) => readPatternFiles(e.target.files));
    dropZone($('pat-drop'), (files) => readPatternFiles(files, fitPatterns));
  }

  wire();
  addPeakRow('200', shown('2.75'), shown('0.0005'));
  addPeakRow('220', shown('1.945'), shown('0.0005'));
  if (decimal !== '.') {
    $('calc-t').value = shown($('calc-t').value);
    $('pos-beam-value').value = shown($('pos-beam-value').value);
  }

  createHiVarnisse().then((module) => {
    M = module;
    api = HiVarnisseApi.makeApi(M);
    window.hivarnisse = api;
    chooseStandard();
    fillStandards();
    for (const id of ['calc-go', 'fit-go', 'pos-go', 'batch-go', 'pat-go']) $(id).disabled = false;
    // A build without the pattern fitter shows no patterns section.
    if (!M.fitPatternFile) {
      $('patterns').hidden = true;
      $('patterns-link').hidden = true;
    }
    if (window.HiVarnisseEos) window.HiVarnisseEos.start(M);
    refreshReflection();
    $('loading').textContent = '';
    $('loading').hidden = true;
    const ms = performance.now();  // from the start of navigation
    document.body.dataset.readyMs = ms.toFixed(0);
    document.body.dataset.decimal = decimal;
    document.body.classList.add('ready');
  }, (e) => {
    $('loading').textContent = 'The calculator could not start: ' + e;
  });
})();
