// The report page: reads the run's data from the q-data element and builds
// the tables, the plots (uPlot) and the replay over the inlined diagram.
(function () {
  'use strict';
  const data = JSON.parse(document.getElementById('q-data').textContent);
  const report = data.report;
  // Every uPlot chart of the page, for whoever inspects it (the tests do).
  const plots = [];
  window.quorinPlots = plots;

  const integerColumns = new Set(['Count', 'Entries', 'Exits', 'Max', 'Zero entr.', 'Preempt',
    'Time limit', 'Min prty', 'Max prty']);

  function el(tag, attrs, children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (k === 'text') e.textContent = v; else e.setAttribute(k, v);
    }
    for (const c of children || []) e.appendChild(c);
    return e;
  }
  function fixed(v, column) {
    if (v === null || v === undefined) return '';
    if (integerColumns.has(column)) return String(v);
    return Number(v).toFixed(4);
  }
  function short(v) {
    if (v === null || v === undefined || !isFinite(v)) return '';
    return Math.abs(v) >= 1e5 || Number.isInteger(v) ? String(v) : Number(v).toPrecision(6);
  }
  function plotWidth(columns) {
    const full = Math.min(1140, document.body.clientWidth - 40);
    return Math.max(280, Math.floor(full / columns) - 20);
  }
  // A chart in a box of its own; a vertical mark at the warm-up where given.
  function chart(parent, title, opts, rows, warmup) {
    const box = el('div', { class: 'plot' });
    parent.appendChild(box);
    opts.title = title;
    opts.height = opts.height || 220;
    opts.width = opts.width || plotWidth(2);
    if (warmup > 0) {
      opts.hooks = opts.hooks || {};
      (opts.hooks.draw = opts.hooks.draw || []).push(u => {
        const x = u.valToPos(warmup, 'x', true);
        const ctx = u.ctx;
        ctx.save();
        ctx.strokeStyle = '#c0392b';
        ctx.setLineDash([5, 4]);
        ctx.beginPath();
        ctx.moveTo(x, u.bbox.top);
        ctx.lineTo(x, u.bbox.top + u.bbox.height);
        ctx.stroke();
        ctx.restore();
      });
    }
    const p = new uPlot(opts, rows, box);
    plots.push(p);
    return p;
  }
  const points = { show: true, size: 7 };
  const noPath = () => null;

  // ------------------------------------------------------------ header
  document.getElementById('q-title').textContent = report.title || 'Quorin report';
  {
    const parts = ['Model time ' + Number(report.model_time).toFixed(4)];
    if (report.warmup > 0) parts.push('warm-up ' + report.warmup);
    if (report.until > 0) parts.push('until ' + report.until);
    if (report.seeds.length)
      parts.push('seeds: ' + report.seeds.map(s => s.stream + ' ' + s.seed).join(', '));
    if (data.replications)
      parts.push(data.replications.replications + ' replications, ' + data.replications.failed + ' failed');
    document.getElementById('q-run').textContent = parts.join(' \u00b7 ');
  }
  if (report.findings.length) {
    const box = document.getElementById('q-findings');
    box.hidden = false;
    box.appendChild(el('h2', { text: 'Findings of the run (' + report.findings.length + ')' }));
    box.appendChild(el('ul', {}, report.findings.map(f => el('li', { text: f }))));
  }

  // ------------------------------------------------------------ tables
  {
    const host = document.getElementById('q-report');
    for (const section of report.sections) {
      const rows = report.blocks.filter(b => b.section === section.title);
      // As in the text report: counts of special exits only when not all 0.
      const columns = section.columns.filter(c =>
        (c !== 'Preempt' && c !== 'Time limit') || rows.some(r => r[c]));
      host.appendChild(el('h3', { text: section.title }));
      const head = el('tr', {}, [el('th', { class: 'text', text: 'Block' }),
        el('th', { class: 'text', text: 'Class' })].concat(columns.map(c => el('th', { text: c }))));
      // A priority block's classes, when it saw more than one, follow it.
      const body = [];
      for (const r of rows) {
        body.push(el('tr', { 'data-block': r.block },
          [el('td', { class: 'text', text: r.block }), el('td', { class: 'text', text: r.class })]
            .concat(columns.map(c => el('td', { 'data-column': c, text: fixed(r[c], c) })))));
        for (const k of r.classes || [])
          body.push(el('tr', { class: 'class-row' },
            [el('td', { class: 'text', text: '\u2003priority ' + k.priority }), el('td', {})]
              .concat(columns.map(c => el('td', { 'data-column': c, text: fixed(k[c], c) })))));
      }
      host.appendChild(el('table', {}, [el('thead', {}, [head]), el('tbody', {}, body)]));
    }
  }

  // ------------------------------------------------------------ content over time
  if (data.content && data.content.series.length) {
    const host = document.getElementById('q-content');
    host.appendChild(el('h2', { text: 'Content over time' }));
    host.appendChild(el('p', { class: 'note', text: 'Time-weighted mean content of each bucket of ' +
      short(data.content.width) + ' time units (at most ' + data.content.points +
      ' buckets per block), with the least and greatest content seen in it; the dashed line marks the end of the warm-up.' }));
    const grid = el('div', { class: 'plots' });
    host.appendChild(grid);
    for (const s of data.content.series) {
      chart(grid, s.block, {
        scales: { x: { time: false } },
        series: [{ label: 'time' },
          { label: 'mean', stroke: '#1f5fbf', width: 1.5 },
          { label: 'least', stroke: '#a9bfe3', width: 1 },
          { label: 'greatest', stroke: '#a9bfe3', width: 1 }],
        bands: [{ series: [3, 2], fill: 'rgba(31,95,191,0.12)' }],
      }, [s.t, s.mean, s.min, s.max], report.warmup);
    }
  }

  // ------------------------------------------------------------ histograms
  if (data.histograms.length) {
    const host = document.getElementById('q-histograms');
    host.appendChild(el('h2', { text: 'Histograms' }));
    const grid = el('div', { class: 'plots' });
    host.appendChild(grid);
    for (const h of data.histograms) {
      // Bin 0 is below the lower bound, the last one above the last bin.
      const width = h.interval > 0 ? h.interval : 1;
      const x = h.hits.map((_, i) => h.lower + (i - 0.5) * width);
      chart(grid, h.name + ' (' + h.count + ' values, mean ' + short(h.mean) + ')', {
        scales: { x: { time: false } },
        series: [{ label: 'bin centre' },
          { label: 'hits', stroke: '#1f5fbf', fill: 'rgba(31,95,191,0.35)',
            paths: uPlot.paths.bars({ size: [0.92, Infinity] }), points: { show: false } }],
      }, [x, h.hits]);
    }
  }

  // ------------------------------------------------------------ replications
  if (data.replications) {
    const r = data.replications;
    const host = document.getElementById('q-replications');
    host.appendChild(el('h2', { text: 'Replications' }));
    host.appendChild(el('p', { class: 'note', text: r.replications + ' replications (' + r.failed +
      ' failed); means with their ' + (r.level * 100) + ' % confidence intervals (Student t).' }));
    // One chart per statistic across the blocks that keep it: the mean as a
    // point, the interval as a whisker.
    // A priority class's statistic is named with its block and class; a
    // tabulator's bin fractions share one chart, the bins along it.
    const who = s => s.block + (s.priority != null ? ' [priority ' + s.priority + ']' : '');
    const isBin = s => s.column.startsWith('Fraction ');
    const byColumn = new Map();
    r.statistics.forEach((s, i) => {
      if (s.mean === null) return;
      const key = isBin(s) ? s.block + ': fractions by bin' : s.column;
      if (!byColumn.has(key)) byColumn.set(key, []);
      byColumn.get(key).push(i);
    });
    const grid = el('div', { class: 'plots' });
    host.appendChild(el('h3', { text: 'Confidence intervals across blocks' }));
    host.appendChild(grid);
    for (const [column, idx] of byColumn) {
      const names = idx.map(i => isBin(r.statistics[i]) ? r.statistics[i].column.slice(9) : who(r.statistics[i]));
      const x = idx.map((_, k) => k + 1);
      const mean = idx.map(i => r.statistics[i].mean);
      const low = idx.map(i => r.statistics[i].low);
      const high = idx.map(i => r.statistics[i].high);
      chart(grid, column, {
        width: plotWidth(3), height: 200,
        scales: { x: { time: false, range: [0.5, idx.length + 0.5] } },
        axes: [{ values: (u, ticks) => ticks.map(t => Number.isInteger(t) ? (names[t - 1] || '') : ''),
          incrs: [1] }, { size: 70 }],
        legend: { show: false },
        series: [{ label: 'block' },
          { label: 'mean', stroke: '#1f5fbf', paths: noPath, points },
          { label: 'low', stroke: '#7f8ea8', paths: noPath, points: { show: true, size: 4 } },
          { label: 'high', stroke: '#7f8ea8', paths: noPath, points: { show: true, size: 4 } }],
        hooks: { draw: [u => {
          const ctx = u.ctx;
          ctx.save();
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
        }] },
      }, [x, mean, low, high]);
    }
    // The values of every replication of one statistic, chosen in a list.
    host.appendChild(el('h3', { text: 'Values of every replication' }));
    const select = el('select', { id: 'q-statistic' });
    r.statistics.forEach((s, i) => select.appendChild(el('option', { value: String(i),
      text: who(s) + ': ' + s.column })));
    host.appendChild(el('p', {}, [select]));
    const valuesBox = el('div', { class: 'plots' });
    host.appendChild(valuesBox);
    let valuesPlot = null;
    const showValues = () => {
      const s = r.statistics[Number(select.value)];
      const x = r.numbers;
      const y = r.values[Number(select.value)];
      const rows = [x, y, x.map(() => s.mean), x.map(() => s.low), x.map(() => s.high)];
      if (valuesPlot) {
        const i = plots.indexOf(valuesPlot);
        if (i >= 0) plots.splice(i, 1);
        valuesPlot.destroy();
        valuesBox.textContent = '';
      }
      valuesPlot = chart(valuesBox, who(s) + ': ' + s.column + ' by replication', {
        width: plotWidth(1), height: 240,
        scales: { x: { time: false } },
        series: [{ label: 'replication' },
          { label: 'value', stroke: '#1f5fbf', paths: noPath, points },
          { label: 'mean', stroke: '#2c3e50', width: 1 },
          { label: 'low', stroke: '#a9bfe3', dash: [4, 4] },
          { label: 'high', stroke: '#a9bfe3', dash: [4, 4] }],
      }, rows);
    };
    select.addEventListener('change', showValues);
    const firstUseful = r.statistics.findIndex(s => s.column === 'Mean time' && s.mean !== null);
    select.value = String(Math.max(0, firstUseful));
    showValues();
    // And the table.
    const head = el('tr', {}, ['Block', 'Statistic'].map(t => el('th', { class: 'text', text: t }))
      .concat(['Mean', '+-', 'Std dev', 'Min', 'Max', 'n'].map(t => el('th', { text: t }))));
    const body = r.statistics.map(s => el('tr', {}, [el('td', { class: 'text', text: who(s) }),
      el('td', { class: 'text', text: s.column })].concat([s.mean, s.half, s.sd, s.min, s.max, s.n]
      .map(v => el('td', { text: short(v) })))));
    host.appendChild(el('table', {}, [el('thead', {}, [head]), el('tbody', {}, body)]));
  }

  // ------------------------------------------------------------ Welch plot
  if (data.welch && data.welch.time.length) {
    const w = data.welch;
    const host = document.getElementById('q-welch');
    host.appendChild(el('h2', { text: 'Warm-up (Welch plot)' }));
    host.appendChild(el('p', { class: 'note', text: w.figure + ' over intervals of ' + short(w.interval) +
      ' time units, averaged over ' + w.replications + ' replications from time 0 and smoothed over ' +
      w.window + ' intervals on each side; the dashed line marks the warm-up.' }));
    chart(host, w.figure, {
      width: plotWidth(1), height: 260,
      scales: { x: { time: false } },
      series: [{ label: 'time' },
        { label: 'interval mean', stroke: '#a9bfe3', width: 1 },
        { label: 'smoothed', stroke: '#1f5fbf', width: 2 }],
    }, [w.time, w.mean, w.smoothed], report.warmup);
  }

  // ------------------------------------------------------------ replay
  const replay = data.replay;
  const svg = document.querySelector('#q-diagram svg');
  const controls = document.getElementById('q-controls');
  if (!replay || !replay.moves.length || !svg) {
    controls.hidden = true;
    document.getElementById('q-replay-note').textContent = 'No replay: the run made no recorded moves.';
    return;
  }
  const ns = 'http://www.w3.org/2000/svg';
  // A small diagram is shown larger: the picture keeps its proportions.
  {
    const w = Number(svg.getAttribute('width')), h = Number(svg.getAttribute('height'));
    const scale = Math.min(1.5, 1100 / w);
    if (scale > 1) {
      svg.setAttribute('width', String(Math.round(w * scale)));
      svg.setAttribute('height', String(Math.round(h * scale)));
    }
  }
  // [time, from, to, transaction, from's count, to's count, serial, priority]
  const moves = replay.moves;
  const end = moves[moves.length - 1][0];
  document.getElementById('q-replay-note').textContent = 'Replay of the first ' + moves.length +
    ' moves of ' + replay.passes + ' (up to time ' + short(end) +
    '): dots travel along the arrows, the numbers are the blocks\u2019 contents. Add #t=TIME to the address to open the page at that time.';
  const centre = new Map();
  for (const g of svg.querySelectorAll('g.block'))
    centre.set(g.id, { x: Number(g.dataset.cx), y: Number(g.dataset.cy) });
  const edge = new Map();
  for (const p of svg.querySelectorAll('path.edge:not(.control)'))
    edge.set(p.dataset.from + '\u0000' + p.dataset.to, p);
  const layer = document.createElementNS(ns, 'g');
  layer.setAttribute('id', 'q-replay');
  svg.appendChild(layer);
  // A badge with the content next to each block that holds transactions.
  const badges = replay.blocks.map(name => {
    const c = centre.get(name);
    if (!c) return null;
    const t = document.createElementNS(ns, 'text');
    t.setAttribute('x', c.x + 24);
    t.setAttribute('y', c.y - 24);
    t.setAttribute('font-size', '12');
    t.setAttribute('font-weight', 'bold');
    t.setAttribute('fill', '#b03a2e');
    t.setAttribute('class', 'q-count');
    layer.appendChild(t);
    return t;
  });
  const holds = new Set(data.content ? data.content.series.map(s => s.block) : []);
  const dotsLayer = document.createElementNS(ns, 'g');
  layer.appendChild(dotsLayer);
  const maxDots = 200;
  const dots = [];
  for (let i = 0; i < maxDots; i++) {
    const d = document.createElementNS(ns, 'circle');
    d.setAttribute('r', '5');
    d.setAttribute('stroke', '#1d2230');
    d.setAttribute('stroke-width', '0.8');
    d.style.display = 'none';
    d.appendChild(document.createElementNS(ns, 'title'));
    dotsLayer.appendChild(d);
    dots.push(d);
  }
  // Where a dot is a fraction f along the move from one block to another:
  // on the drawn arrow, or on a straight line where none is drawn.
  function pointOn(from, to, f) {
    const p = edge.get(from + '\u0000' + to);
    if (p) {
      const length = p.getTotalLength();
      const q = p.getPointAtLength(length * f);
      return { x: q.x, y: q.y };
    }
    const a = centre.get(from), b = centre.get(to);
    if (!a || !b) return null;
    return { x: a.x + (b.x - a.x) * f, y: a.y + (b.y - a.y) * f };
  }

  // Speeds in model time units per second of the replay; the default plays
  // about fifteen moves a second, slow enough to follow single dots.
  const base = end * 15 / moves.length || 1;
  const speedSelect = document.getElementById('q-speed');
  for (const f of [0.1, 0.25, 0.5, 1, 2, 5, 10])
    speedSelect.appendChild(el('option', { value: String(f), text: f + '\u00d7' }));
  speedSelect.value = '1';
  let speed = base;
  // How long, in model time, a dot takes along its arrow: fixed at the
  // default speed, so that a page opened at a given time looks the same.
  const travel = base * 0.6;
  const slider = document.getElementById('q-slider');
  const clock = document.getElementById('q-clock');
  let now = 0;
  let playing = false;
  let last = null;

  function lastMoveAtOrBefore(t) {
    let lo = 0, hi = moves.length; // first move after t
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (moves[mid][0] <= t) lo = mid + 1; else hi = mid;
    }
    return lo - 1;
  }
  function render() {
    const upto = lastMoveAtOrBefore(now);
    const count = replay.blocks.map(() => 0);
    for (let i = 0; i <= upto; i++) {
      count[moves[i][1]] = moves[i][4];
      count[moves[i][2]] = moves[i][5];
    }
    badges.forEach((b, i) => {
      if (b) b.textContent = holds.has(replay.blocks[i]) ? String(count[i]) : '';
    });
    let shown = 0;
    for (let i = upto; i >= 0 && shown < maxDots; i--) {
      const m = moves[i];
      const age = now - m[0];
      if (age > travel) break;
      const q = pointOn(replay.blocks[m[1]], replay.blocks[m[2]], travel > 0 ? age / travel : 1);
      if (!q) continue;
      const d = dots[shown++];
      d.setAttribute('cx', q.x.toFixed(1));
      d.setAttribute('cy', q.y.toFixed(1));
      // Coloured by serial number, which no later transaction reuses.
      d.setAttribute('fill', 'hsl(' + ((m[6] * 47) % 360) + ',70%,55%)');
      d.firstChild.textContent = 'transaction ' + (m[3] >= 0 ? m[3] + ', ' : '') + 'serial ' +
        m[6] + ', priority ' + m[7];
      d.style.display = '';
    }
    for (let i = shown; i < maxDots; i++) dots[i].style.display = 'none';
    slider.value = String(Math.round(1000 * Math.min(1, now / end)));
    clock.textContent = 't = ' + now.toFixed(3);
  }
  function seek(t) {
    now = Math.max(0, Math.min(end, t));
    render();
  }
  function frame(stamp) {
    if (!playing) return;
    if (last !== null) now += speed * (stamp - last) / 1000;
    last = stamp;
    if (now >= end) {
      now = end;
      pause();
    }
    render();
    if (playing) requestAnimationFrame(frame);
  }
  const playButton = document.getElementById('q-play');
  function play() {
    if (now >= end) now = 0;
    playing = true;
    last = null;
    playButton.textContent = 'Pause';
    requestAnimationFrame(frame);
  }
  function pause() {
    playing = false;
    playButton.textContent = 'Play';
    history.replaceState(null, '', '#t=' + now.toFixed(3));
  }
  playButton.addEventListener('click', () => (playing ? pause() : play()));
  speedSelect.addEventListener('change', () => { speed = base * Number(speedSelect.value); });
  slider.addEventListener('input', () => {
    seek(end * Number(slider.value) / 1000);
    if (!playing) history.replaceState(null, '', '#t=' + now.toFixed(3));
  });
  const match = /(?:^#|&)t=([0-9.eE+-]+)/.exec(location.hash);
  seek(match ? Number(match[1]) : 0);
  // For whoever drives the page from outside (the tests do).
  window.quorinReplay = {
    seek, play, pause, end, travel,
    time: () => now,
    dots: () => dots.filter(d => d.style.display !== 'none')
      .map(d => [Number(d.getAttribute('cx')), Number(d.getAttribute('cy'))]),
  };
})();
