// The page of a comparison or a sweep: reads the data from the q-data
// element and draws, with uPlot, a comparison's paired differences or a
// sweep's figures against the swept values, each with its interval.
(function () {
  'use strict';
  const data = JSON.parse(document.getElementById('q-data').textContent);
  // Every uPlot chart of the page, for whoever inspects it (the tests do).
  const plots = [];
  window.quorinPlots = plots;

  function el(tag, attrs, children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (k === 'text') e.textContent = v; else e.setAttribute(k, v);
    }
    for (const c of children || []) e.appendChild(c);
    return e;
  }
  function short(v) {
    if (v === null || v === undefined || !isFinite(v)) return '';
    return Math.abs(v) >= 1e5 || Number.isInteger(v) ? String(v) : Number(v).toPrecision(6);
  }
  function plotWidth(columns) {
    const full = Math.min(1140, document.body.clientWidth - 40);
    return Math.max(280, Math.floor(full / columns) - 20);
  }
  // A figure's block and class for the eye.
  const who = s => s.block + (s.priority != null ? ' [priority ' + s.priority + ']' : '');
  // The same, short enough for a tick of a chart's axis.
  const tick = s => s.block + (s.priority != null ? ' p' + s.priority : '');
  // Tick values to three significant digits, so that small differences
  // read apart.
  const yValues = (u, ticks) => ticks.map(t => t === 0 ? '0' : Math.abs(t) >= 1e5 || Math.abs(t) < 1e-3
    ? t.toExponential(2) : String(Number(t.toPrecision(3))));
  const isBin = s => s.statistic.startsWith('Fraction ');
  const points = { show: true, size: 7 };
  const noPath = () => null;
  // Draws each interval as a vertical whisker, and a line across at Mark
  // when given (0 for differences).
  function whiskers(x, low, high, mark) {
    return u => {
      const ctx = u.ctx;
      ctx.save();
      if (mark !== null) {
        const y = u.valToPos(mark, 'y', true);
        ctx.strokeStyle = '#c0392b';
        ctx.setLineDash([5, 4]);
        ctx.beginPath();
        ctx.moveTo(u.bbox.left, y);
        ctx.lineTo(u.bbox.left + u.bbox.width, y);
        ctx.stroke();
        ctx.setLineDash([]);
      }
      ctx.strokeStyle = '#7f8ea8';
      ctx.lineWidth = 1.5;
      for (let k = 0; k < x.length; k++) {
        if (low[k] === null || high[k] === null) continue;
        const px = u.valToPos(x[k], 'x', true);
        ctx.beginPath();
        ctx.moveTo(px, u.valToPos(low[k], 'y', true));
        ctx.lineTo(px, u.valToPos(high[k], 'y', true));
        ctx.stroke();
      }
      ctx.restore();
    };
  }
  // A chart of means (points, joined when Joined) with their intervals over
  // x; Labels name the ticks where x is not a number of its own.
  function intervalChart(parent, title, x, mean, low, high, labels, mark, joined, columns) {
    const box = el('div', { class: 'plot' });
    parent.appendChild(box);
    const lows = low.filter(v => v !== null), highs = high.filter(v => v !== null);
    const values = mean.filter(v => v !== null).concat(lows, highs, mark === null ? [] : [mark]);
    let lo = Math.min(...values), hi = Math.max(...values);
    if (lo === hi) { lo -= 1; hi += 1; }
    const pad = (hi - lo) * 0.08;
    const opts = {
      title, width: plotWidth(columns || 3), height: 220,
      scales: { x: { time: false, range: [Math.min(...x) - 0.5 * spacing(x), Math.max(...x) + 0.5 * spacing(x)] },
        y: { range: [lo - pad, hi + pad] } },
      axes: [labels ? { values: (u, ticks) => ticks.map(t => { const i = x.indexOf(t); return i >= 0 ? labels[i] : ''; }),
        incrs: [1] } : {}, { size: 70, values: yValues }],
      legend: { show: false },
      series: [{ label: 'x' },
        { label: 'mean', stroke: '#1f5fbf', width: 1.5, paths: joined ? undefined : noPath, points },
        { label: 'low', stroke: '#7f8ea8', paths: noPath, points: { show: true, size: 4 } },
        { label: 'high', stroke: '#7f8ea8', paths: noPath, points: { show: true, size: 4 } }],
      hooks: { draw: [whiskers(x, low, high, mark)] },
    };
    const p = new uPlot(opts, [x, mean, low, high], box);
    plots.push(p);
    return p;
  }
  function spacing(x) {
    let d = Infinity;
    for (let i = 1; i < x.length; i++) d = Math.min(d, Math.abs(x[i] - x[i - 1]) || Infinity);
    return isFinite(d) ? d : 1;
  }
  function table(host, head, rows) {
    host.appendChild(el('table', {}, [
      el('thead', {}, [el('tr', {}, head.map(([t, text]) => el('th', text ? { class: 'text', text: t } : { text: t })))]),
      el('tbody', {}, rows.map(r => el('tr', {}, r.map((v, i) =>
        el('td', head[i][1] ? { class: 'text', text: v } : { text: typeof v === 'string' ? v : short(v) })))))]));
  }

  const plotsHost = document.getElementById('q-plots');
  const tableHost = document.getElementById('q-table');
  const grid = el('div', { class: 'plots' });

  if (data.comparison) {
    const c = data.comparison;
    document.getElementById('q-title').textContent = 'B - A: ' + c.b + ' - ' + c.a;
    document.getElementById('q-run').textContent = c.replications +
      ' replications of each on common random numbers, paired by number (' + c.failed_a + ' and ' +
      c.failed_b + ' failed)' + (c.warmup > 0 ? '; warm-up ' + c.warmup : '') + '; until ' + c.until +
      '; ' + (c.level * 100) + ' % confidence intervals (paired t)';
    plotsHost.appendChild(el('h2', { text: 'Paired differences B - A' }));
    plotsHost.appendChild(el('p', { class: 'note', text: 'Each point is the mean difference of a figure over the pairs of replications, ' +
      'the whisker its confidence interval; an interval that misses the dashed zero line says the designs differ. ' +
      '"Line p2" is the line of priority class 2 of block Line.' }));
    plotsHost.appendChild(grid);
    // One chart per statistic across the blocks and classes that keep it;
    // a tabulator's bins share one.
    const groups = new Map();
    c.figures.forEach((f, i) => {
      if (f.difference === null) return;
      const key = isBin(f) ? f.block + ': fractions by bin' : f.statistic;
      if (!groups.has(key)) groups.set(key, []);
      groups.get(key).push(i);
    });
    for (const [key, idx] of groups) {
      const x = idx.map((_, k) => k + 1);
      const labels = idx.map(i => isBin(c.figures[i]) ? c.figures[i].statistic.slice(9) : tick(c.figures[i]));
      intervalChart(grid, key, x, idx.map(i => c.figures[i].difference), idx.map(i => c.figures[i].low),
        idx.map(i => c.figures[i].high), labels, 0, false, 2);
    }
    tableHost.appendChild(el('h2', { text: 'Figures' }));
    table(tableHost, [['Block', true], ['Priority', true], ['Statistic', true], ['Mean A'], ['Mean B'],
      ['B - A'], ['+-'], ['Differs', true], ['Independent +-'], ['n']],
    c.figures.map(f => [f.block, f.priority != null ? String(f.priority) : '', f.statistic, f.mean_a, f.mean_b,
      f.difference, f.half_width, f.n < 2 ? '-' : f.excludes_zero ? 'yes' : 'no', f.independent_half_width, String(f.n)]));
  }

  if (data.sweep) {
    const s = data.sweep;
    const combos = s.combinations;
    document.getElementById('q-title').textContent = 'Sweep of ' + s.file + ' over ' + s.settings.join(', ');
    document.getElementById('q-run').textContent = combos.length + ' combinations x ' + s.replications +
      ' replications' + (s.warmup > 0 ? '; warm-up ' + s.warmup : '') + '; until ' + s.until + '; means with ' +
      (s.level * 100) + ' % confidence intervals';
    plotsHost.appendChild(el('h2', { text: 'Figures against the swept values' }));
    // The swept values along x: the values themselves when one setting is
    // swept over numbers, else the combinations in order, named.
    const numeric = s.settings.length === 1 && combos.every(c => c.values[0] !== '' && isFinite(Number(c.values[0])));
    const x = combos.map((c, i) => numeric ? Number(c.values[0]) : i + 1);
    const labels = numeric ? null : combos.map(c => c.values.join(', '));
    plotsHost.appendChild(el('p', { class: 'note', text: 'Each point is the mean of a figure over the replications of one combination' +
      (numeric ? ' (x: ' + s.settings[0] + ')' : ' (x: ' + s.settings.join(', ') + ')') + ', the whisker its confidence interval.' }));
    plotsHost.appendChild(grid);
    const first = combos.length ? combos[0].statistics : [];
    first.forEach((f, i) => {
      const mean = combos.map(c => c.statistics[i] ? c.statistics[i].mean : null);
      if (mean.every(v => v === null)) return;
      const order = x.map((_, k) => k).sort((a, b) => x[a] - x[b]);
      intervalChart(grid, who(f) + ': ' + f.statistic, order.map(k => x[k]), order.map(k => mean[k]),
        order.map(k => combos[k].statistics[i].low), order.map(k => combos[k].statistics[i].high),
        labels && order.map(k => labels[k]), null, true);
    });
    tableHost.appendChild(el('h2', { text: 'Figures' }));
    const rows = [];
    for (const c of combos)
      for (const f of c.statistics)
        rows.push(c.values.concat([f.block, f.priority != null ? String(f.priority) : '', f.statistic,
          f.mean, f.half_width, f.std_dev, String(f.n), String(c.failed)]));
    table(tableHost, s.settings.map(n => [n, true]).concat([['Block', true], ['Priority', true],
      ['Statistic', true], ['Mean'], ['+-'], ['Std dev'], ['n'], ['Failed']]), rows);
  }
})();
