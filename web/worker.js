// The page's Web Worker: long jobs (batch files) run here, so the page stays responsive.
// A page opened from file:// may not start a worker from a file, so the page builds the
// worker from this function's text and the module's (see startWorker in app.js).
function hvWorkerMain(scope) {
  'use strict';
  let ready = null;

  // Where each CSV record starts (quoted fields may hold line breaks), for the page to show
  // any stretch of rows without parsing them all.
  function recordStarts(text) {
    const starts = [];
    let quoted = false, lineStart = true;
    for (let i = 0; i < text.length; ++i) {
      if (lineStart) {
        starts.push(i);
        lineStart = false;
      }
      const c = text.charCodeAt(i);
      if (c === 34) quoted = !quoted;
      else if (c === 10 && !quoted) lineStart = true;
    }
    starts.push(text.length);
    return Int32Array.from(starts);
  }

  scope.onmessage = async (event) => {
    const job = event.data;
    try {
      if (!ready) ready = scope.createHiVarnisse();
      const M = await ready;
      if (job.type === 'batch') {
        let last = 0;
        const progress = (done, total) => {
          const now = Date.now();
          if (now - last < 40) return;
          last = now;
          scope.postMessage({ id: job.id, type: 'progress', done, total });
        };
        const started = Date.now();
        const r = M.batch(job.csv, progress);
        const starts = recordStarts(r.csv);
        scope.postMessage({
          id: job.id, type: 'done', csv: r.csv, starts, exit_code: r.exit_code, error: r.error,
          rows: r.rows, errors: r.errors, ms: Date.now() - started,
        }, [starts.buffer]);
      } else if (job.type === 'patterns') {
        // One message per file, with its curves handed over rather than copied.
        for (let i = 0; i < job.files.length; ++i) {
          const f = job.files[i];
          const r = M.fitPatternFile(f.name, f.text, job.fields);
          if (r.error) throw new Error(r.error);
          scope.postMessage({ id: job.id, type: 'progress', done: i + 1, total: job.files.length, result: r },
            [r.x.buffer, r.intensity.buffer, r.curve.buffer, r.background.buffer]);
        }
        scope.postMessage({ id: job.id, type: 'done' });
      }
    } catch (e) {
      scope.postMessage({ id: job.id, type: 'failed', error: String(e && e.message ? e.message : e) });
    }
  };
}
