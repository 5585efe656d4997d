// The studio's editor page: the palette, the form, the property sheet, the
// check and the runs. The model is its text; every change goes to the
// server as an edit of that text, which the loader checks before it is
// taken, and the form is drawn again from the text the server answers.
"use strict";
(function () {
  const params = new URLSearchParams(location.search);
  const token = params.get("token") || "";
  const $ = (id) => document.getElementById(id);

  const state = {
    classes: {},          // by name: the class description
    pages: [],
    path: "",             // the file, relative to the studio's folder
    version: "none",      // the file's version when opened or saved
    saved: null,          // the text as saved (null: never saved)
    text: "",
    model: null,          // the server's description of the text
    routes: [],           // kept from the last text that loaded
    undo: [], redo: [],
    selected: "",         // a component name, or "" for the run settings
    refused: {},          // field key -> message
    run: null,            // the run under way: {id}
    placed: {},           // where components without Left and Top were put
  };

  // --- the server ------------------------------------------------------
  async function call(method, url, body) {
    const options = { method, headers: { "X-Studio-Token": token } };
    if (body !== undefined) {
      options.body = JSON.stringify(body);
      options.headers["Content-Type"] = "application/json";
    }
    const response = await fetch(url, options);
    let data = {};
    try { data = await response.json(); } catch (e) { data = { error: "an answer that is not JSON" }; }
    if (!response.ok) throw new Error(data.error || ("HTTP " + response.status));
    return data;
  }

  function status(text, ok) {
    const s = $("status");
    s.textContent = text || "";
    s.className = ok ? "ok" : "";
  }

  // --- the palette -----------------------------------------------------
  function imageUrl(image) {
    if (!image) return "";
    const canvas = document.createElement("canvas");
    canvas.width = canvas.height = 24;
    const g = canvas.getContext("2d");
    image.rows.forEach((row, y) => {
      for (let x = 0; x < row.length; x++) {
        const index = parseInt(row[x], 16);
        // Index 0 (the background colour of the palette images) is drawn clear.
        if (index === 0) continue;
        g.fillStyle = image.colours[index];
        g.fillRect(x, y, 1, 1);
      }
    });
    return canvas.toDataURL();
  }

  function buildPalette() {
    const palette = $("palette");
    palette.textContent = "";
    for (const page of state.pages) {
      const h = document.createElement("h3");
      h.textContent = page.name;
      palette.appendChild(h);
      for (const c of page.classes) {
        const tool = document.createElement("div");
        tool.className = "tool";
        tool.dataset.class = c.name;
        tool.title = c.summary;
        const img = document.createElement("img");
        img.src = c.imageUrl;
        img.alt = "";
        tool.appendChild(img);
        tool.appendChild(document.createTextNode(c.name));
        tool.addEventListener("mousedown", (e) => startPaletteDrag(e, c));
        palette.appendChild(tool);
      }
    }
  }

  // --- the text and its edits -----------------------------------------
  function setText(text, model, keepHistory) {
    if (!keepHistory && text !== state.text) {
      state.undo.push(state.text);
      if (state.undo.length > 200) state.undo.shift();
      state.redo = [];
    }
    state.text = text;
    setModel(model);
  }

  function setModel(model) {
    state.model = model;
    if (model.loaded) state.routes = model.routes;
    if (state.selected && !objectNamed(state.selected)) state.selected = "";
    render();
  }

  // Sends one edit; answers true when the server took it. A refusal is
  // shown at the field named by key (or in the status line).
  async function edit(e, key) {
    try {
      const r = await call("POST", "/api/edit", { text: state.text, path: state.path, edit: e });
      if (!r.ok) {
        if (key) { state.refused[key] = r.error; renderSheet(); } else status(r.error);
        return false;
      }
      if (key) { delete state.refused[key]; delete state.refused[key + "#typed"]; }
      status("");
      setText(r.text, r.model);
      return true;
    } catch (err) {
      status(err.message);
      return false;
    }
  }

  async function check() {
    try {
      const r = await call("POST", "/api/check", { text: state.text, path: state.path });
      setModel(r.model);
    } catch (err) { status(err.message); }
  }

  function undo() {
    if (!state.undo.length) return;
    state.redo.push(state.text);
    state.text = state.undo.pop();
    state.refused = {};
    check();
  }
  function redo() {
    if (!state.redo.length) return;
    state.undo.push(state.text);
    state.text = state.redo.pop();
    state.refused = {};
    check();
  }

  // --- files -----------------------------------------------------------
  async function listFiles() {
    const r = await call("GET", "/api/files");
    const select = $("files");
    select.length = 1;
    for (const f of r.files) {
      const o = document.createElement("option");
      o.value = o.textContent = f;
      select.appendChild(o);
    }
    return r;
  }

  async function open(path) {
    if (dirty() && !confirm("Discard the changes to " + shownName() + "?")) return;
    const r = await call("POST", "/api/open", { path });
    state.path = r.path;
    state.version = r.version;
    state.saved = r.exists ? r.text : null;
    state.text = r.text;
    state.undo = []; state.redo = []; state.refused = {}; state.selected = "";
    state.routes = [];
    state.placed = {};
    history.replaceState(null, "", "?token=" + encodeURIComponent(token) + "&file=" + encodeURIComponent(path));
    setModel(r.model);
    status(r.exists ? "opened " + path : path + " is new: it is written when saved", true);
  }

  async function save(path, asNew) {
    if (!path) { status("give the file a name (name.qm) and press Save as"); return false; }
    try {
      const base = asNew && path !== state.path ? "none" : state.version;
      const r = await call("POST", "/api/save", { path, text: state.text, base });
      state.path = r.path;
      state.version = r.version;
      state.saved = state.text;
      render();
      status("saved " + r.path, true);
      listFiles();
      return true;
    } catch (err) {
      status(err.message);
      return false;
    }
  }

  function dirty() { return state.saved === null ? state.text !== "" && !!state.model && state.model.objects.length > 0 : state.text !== state.saved; }
  function shownName() { return state.path || "untitled.qm"; }

  // --- the form --------------------------------------------------------
  function objectNamed(name) {
    return state.model ? state.model.objects.find((o) => o.name === name) : null;
  }
  function formName() {
    const f = state.model && state.model.objects.find((o) => !o.parent && o.class === "TComponent");
    return f ? f.name : "";
  }
  // The components shown on the form: those of the forms.
  function components() {
    if (!state.model) return [];
    const forms = new Set(state.model.objects.filter((o) => !o.parent).map((o) => o.name));
    return state.model.objects.filter((o) => forms.has(o.parent));
  }
  function entry(o, key) { return o.entries[key] ? o.entries[key].value : ""; }
  // Where the components stand: their Left and Top, else a place of the
  // page's choosing: blocks in columns by their longest route from the
  // sources, the other components (model, streams, ...) in a row above.
  function positions() {
    const list = components();
    const at = {};
    const blocks = [], others = [];
    for (const o of list) {
      const c = state.classes[o.class];
      (c && c.kind !== "none" ? blocks : others).push(o);
    }
    const column = {};
    for (const o of blocks) column[o.name] = 0;
    for (let pass = 0; pass < blocks.length; pass++) {
      let changed = false;
      for (const r of state.routes)
        if (r.from in column && r.to in column && r.from !== r.to && column[r.to] < column[r.from] + 1 && column[r.from] + 1 < blocks.length) {
          column[r.to] = column[r.from] + 1;
          changed = true;
        }
      if (!changed) break;
    }
    const rows = {};
    for (const o of blocks) {
      const k = column[o.name];
      rows[k] = (rows[k] || 0) + 1;
      at[o.name] = { x: 24 + k * 170, y: 110 + (rows[k] - 1) * 90 };
    }
    others.forEach((o, i) => { at[o.name] = { x: 24 + i * 150, y: 16 }; });
    // A place once given stays, so that blocks do not jump while the
    // routes change.
    for (const o of list) {
      if (state.placed[o.name]) at[o.name] = state.placed[o.name];
      else state.placed[o.name] = at[o.name];
    }
    for (const o of list) {
      const left = parseInt(entry(o, "Left"), 10), top = parseInt(entry(o, "Top"), 10);
      if (!isNaN(left) && !isNaN(top)) at[o.name] = { x: left, y: top };
    }
    return at;
  }

  function render() {
    $("file-name").textContent = shownName();
    $("file-name").classList.toggle("dirty", dirty());
    $("undo").disabled = !state.undo.length;
    $("redo").disabled = !state.redo.length;
    $("delete").disabled = !state.selected;
    renderForm();
    renderSheet();
    renderCheck();
    $("text-view").textContent = state.text;
  }

  function problemsOf(name) {
    const m = state.model;
    return {
      errors: m.errors.filter((e) => e.component === name),
      findings: m.findings.filter((f) => f.component === name),
    };
  }

  function renderForm() {
    const form = $("form");
    for (const b of Array.from(form.querySelectorAll(".block"))) b.remove();
    const at = positions();
    components().forEach((o) => {
      const p = at[o.name];
      const b = document.createElement("div");
      b.className = "block";
      b.id = "block-" + o.name;
      b.dataset.name = o.name;
      b.style.left = p.x + "px";
      b.style.top = p.y + "px";
      const c = state.classes[o.class];
      const img = document.createElement("img");
      img.alt = "";
      if (c && c.imageUrl) img.src = c.imageUrl;
      b.appendChild(img);
      const label = document.createElement("div");
      const n = document.createElement("div"); n.className = "name"; n.textContent = o.name;
      const k = document.createElement("div"); k.className = "class"; k.textContent = o.class;
      label.appendChild(n); label.appendChild(k);
      b.appendChild(label);
      if (c && c.kind !== "none" && c.kind !== "terminator") {
        const port = document.createElement("div");
        port.className = "port";
        port.title = "drag to a block to route to it";
        port.addEventListener("mousedown", (e) => startArrow(e, o.name));
        b.appendChild(port);
      }
      const pr = problemsOf(o.name);
      if (pr.errors.length || pr.findings.length) {
        b.classList.add(pr.errors.length ? "error" : "finding");
        const badge = document.createElement("div");
        badge.className = "badge";
        badge.textContent = pr.errors.length + pr.findings.length;
        b.title = pr.errors.concat(pr.findings).map((x) => x.message).join("\n");
        b.appendChild(badge);
      }
      if (o.name === state.selected) b.classList.add("selected");
      b.addEventListener("mousedown", (e) => startMove(e, o.name));
      form.appendChild(b);
    });
    drawArrows();
  }

  function boxOf(name) {
    const b = $("block-" + name);
    if (!b) return null;
    return { x: b.offsetLeft, y: b.offsetTop, w: b.offsetWidth, h: b.offsetHeight };
  }

  // The point where the line from the centre of a towards p leaves a.
  function border(a, p) {
    const cx = a.x + a.w / 2, cy = a.y + a.h / 2;
    const dx = p.x - cx, dy = p.y - cy;
    if (!dx && !dy) return { x: cx, y: cy };
    const s = Math.min(Math.abs((a.w / 2) / (dx || 1e-9)), Math.abs((a.h / 2) / (dy || 1e-9)));
    return { x: cx + dx * s, y: cy + dy * s };
  }

  function drawArrows() {
    const svg = $("arrows");
    for (const p of Array.from(svg.querySelectorAll("path.route, text"))) p.remove();
    const names = new Set(components().map((o) => o.name));
    for (const r of state.routes) {
      if (!names.has(r.from) || !names.has(r.to)) continue;
      const a = boxOf(r.from), b = boxOf(r.to);
      if (!a || !b) continue;
      let d;
      if (r.from === r.to) {
        d = `M${a.x + a.w * 0.7},${a.y} C${a.x + a.w},${a.y - 40} ${a.x + a.w * 0.3},${a.y - 40} ${a.x + a.w * 0.3},${a.y}`;
      } else {
        const s = border(a, { x: b.x + b.w / 2, y: b.y + b.h / 2 });
        const e = border(b, { x: a.x + a.w / 2, y: a.y + a.h / 2 });
        d = `M${s.x},${s.y} L${e.x},${e.y}`;
        if (r.label) {
          const t = document.createElementNS("http://www.w3.org/2000/svg", "text");
          t.setAttribute("x", (s.x + e.x) / 2 + 4);
          t.setAttribute("y", (s.y + e.y) / 2 - 4);
          t.textContent = r.label;
          svg.appendChild(t);
        }
      }
      const path = document.createElementNS("http://www.w3.org/2000/svg", "path");
      path.setAttribute("d", d);
      path.setAttribute("class", "route");
      path.setAttribute("marker-end", "url(#head)");
      path.dataset.from = r.from;
      path.dataset.to = r.to;
      svg.appendChild(path);
    }
  }

  function formPoint(e) {
    const r = $("form").getBoundingClientRect();
    return { x: e.clientX - r.left, y: e.clientY - r.top };
  }

  // Dragging a class from the palette onto the form adds a component.
  function startPaletteDrag(e, c) {
    e.preventDefault();
    const ghost = document.createElement("div");
    ghost.className = "block ghost";
    ghost.textContent = c.name;
    document.body.appendChild(ghost);
    const move = (ev) => { ghost.style.left = ev.clientX + 4 + "px"; ghost.style.top = ev.clientY + 4 + "px"; };
    move(e);
    const up = async (ev) => {
      document.removeEventListener("mousemove", move);
      document.removeEventListener("mouseup", up);
      ghost.remove();
      const r = $("form-wrap").getBoundingClientRect();
      if (ev.clientX < r.left || ev.clientX > r.right || ev.clientY < r.top || ev.clientY > r.bottom) return;
      const p = formPoint(ev);
      const name = uniqueName(c.name);
      if (await edit({ op: "add", class: c.name, name, left: Math.max(0, Math.round(p.x - 40)), top: Math.max(0, Math.round(p.y - 16)) })) {
        state.selected = name;
        render();
      }
    };
    document.addEventListener("mousemove", move);
    document.addEventListener("mouseup", up);
  }

  function uniqueName(className) {
    const base = className.replace(/^T/, "") || "Component";
    const taken = new Set(state.model ? state.model.objects.map((o) => o.name) : []);
    for (let i = 1; ; i++) if (!taken.has(base + i)) return base + i;
  }

  // Moving a block; a click without a move selects it.
  function startMove(e, name) {
    if (e.target.classList.contains("port")) return;
    e.preventDefault();
    e.stopPropagation();
    const b = $("block-" + name);
    const start = { x: e.clientX, y: e.clientY, left: b.offsetLeft, top: b.offsetTop };
    let moved = false;
    const move = (ev) => {
      const dx = ev.clientX - start.x, dy = ev.clientY - start.y;
      if (!moved && Math.abs(dx) + Math.abs(dy) < 3) return;
      moved = true;
      b.style.left = Math.max(0, start.left + dx) + "px";
      b.style.top = Math.max(0, start.top + dy) + "px";
      drawArrows();
    };
    const up = () => {
      document.removeEventListener("mousemove", move);
      document.removeEventListener("mouseup", up);
      state.selected = name;
      if (moved) edit({ op: "move", name, left: b.offsetLeft, top: b.offsetTop });
      else render();
    };
    document.addEventListener("mousemove", move);
    document.addEventListener("mouseup", up);
  }

  // Drawing an arrow from a block's port to another block writes routing.
  function startArrow(e, from) {
    e.preventDefault();
    e.stopPropagation();
    const svg = $("arrows");
    const line = document.createElementNS("http://www.w3.org/2000/svg", "path");
    line.setAttribute("class", "drawing");
    svg.appendChild(line);
    const a = boxOf(from);
    const move = (ev) => {
      const p = formPoint(ev);
      line.setAttribute("d", `M${a.x + a.w},${a.y + a.h / 2} L${p.x},${p.y}`);
    };
    const up = (ev) => {
      document.removeEventListener("mousemove", move);
      document.removeEventListener("mouseup", up);
      line.remove();
      const target = document.elementFromPoint(ev.clientX, ev.clientY);
      const block = target && target.closest(".block");
      if (block && block.dataset.name) connect(from, block.dataset.name);
    };
    document.addEventListener("mousemove", move);
    document.addEventListener("mouseup", up);
  }

  // The routing text with one more receiver: PassTo(B) for the first,
  // PassFirst(A, B, ...) from the second on.
  function withReceiver(text, to) {
    text = text.trim();
    if (!text) return "PassTo(" + to + ")";
    let m = /^PassTo\(\s*(\w+)\s*\)$/.exec(text);
    if (m) return m[1] === to ? text : "PassFirst(" + m[1] + ", " + to + ")";
    m = /^PassFirst\(([\w\s,]*)\)$/.exec(text);
    if (m) {
      const names = m[1].split(",").map((s) => s.trim()).filter((s) => s);
      return names.includes(to) ? text : "PassFirst(" + names.concat([to]).join(", ") + ")";
    }
    return null;
  }

  async function connect(from, to) {
    const o = objectNamed(from);
    if (!o) return;
    const next = withReceiver(entry(o, "OnRouting"), to);
    if (next === null) {
      status(from + "'s OnRouting is written by hand: add " + to + " to it in the property sheet");
      return;
    }
    state.selected = from;
    await edit({ op: "set", name: from, key: "OnRouting", value: next }, from + ".OnRouting");
  }

  // --- the property sheet ---------------------------------------------
  function field(sheet, key, labelText, hint, input, onCommit) {
    const f = document.createElement("div");
    f.className = "field";
    f.dataset.key = key;
    const label = document.createElement("label");
    label.textContent = labelText + " ";
    if (hint) {
      const h = document.createElement("span");
      h.className = "hint";
      h.textContent = hint;
      label.appendChild(h);
    }
    f.appendChild(label);
    f.appendChild(input);
    if (state.refused[key] !== undefined) {
      f.classList.add("refused");
      const m = document.createElement("div");
      m.className = "message";
      m.textContent = state.refused[key];
      f.appendChild(m);
      if (state.refused[key + "#typed"] !== undefined) input.value = state.refused[key + "#typed"];
    }
    if (input.type === "checkbox") {
      input.addEventListener("change", () => onCommit(input.checked ? "true" : "false"));
    } else {
      let timer = 0;
      const commit = () => { clearTimeout(timer); state.refused[key + "#typed"] = input.value; onCommit(input.value.trim()); };
      input.addEventListener("keydown", (e) => { if (e.key === "Enter") commit(); });
      input.addEventListener("change", commit);
      // Handler text is checked as it is typed.
      if (key.indexOf(".On") >= 0) input.addEventListener("input", () => { clearTimeout(timer); timer = setTimeout(commit, 500); });
    }
    sheet.appendChild(f);
    return f;
  }

  function textInput(value, placeholder) {
    const i = document.createElement("input");
    i.type = "text";
    i.value = value;
    i.placeholder = placeholder || "";
    i.spellcheck = false;
    return i;
  }

  function number(v) { return Number.isInteger(v) ? String(v) : String(v); }

  function heading(sheet, text) {
    const h = document.createElement("h3");
    h.textContent = text;
    sheet.appendChild(h);
  }

  function renderSheet() {
    const sheet = $("sheet");
    const focused = document.activeElement && document.activeElement.closest && document.activeElement.closest(".field");
    const focusKey = focused ? focused.dataset.key : null;
    const caret = focused ? document.activeElement.selectionStart : null;
    sheet.textContent = "";
    const o = state.selected ? objectNamed(state.selected) : null;
    if (!o) renderRunSheet(sheet);
    else renderComponentSheet(sheet, o);
    if (focusKey) {
      const f = sheet.querySelector(`.field[data-key="${CSS.escape(focusKey)}"] input`);
      if (f) { f.focus(); if (caret !== null && f.setSelectionRange && f.type === "text") f.setSelectionRange(caret, caret); }
    }
  }

  function renderRunSheet(sheet) {
    const h = document.createElement("h2");
    h.textContent = "Run";
    sheet.appendChild(h);
    const p = document.createElement("p");
    p.className = "summary";
    p.textContent = "How the model runs (the file's run section). Select a component on the form for its properties.";
    sheet.appendChild(p);
    const run = state.model ? state.model.run : {};
    const value = (k) => (run[k] ? run[k].value : "");
    const title = value("Title").replace(/^"(.*)"$/, "$1").replace(/\\(["\\])/g, "$1");
    field(sheet, ".Title", "Title", "", textInput(title), (v) =>
      edit({ op: "set", name: "", key: "Title", value: v ? '"' + v.replace(/(["\\])/g, "\\$1") + '"' : "" }, ".Title"));
    field(sheet, ".Warmup", "Warmup", "time; statistics cleared then", textInput(value("Warmup")), (v) =>
      edit({ op: "set", name: "", key: "Warmup", value: v }, ".Warmup"));
    field(sheet, ".Until", "Until", "end time of the run", textInput(value("Until")), (v) =>
      edit({ op: "set", name: "", key: "Until", value: v }, ".Until"));
    const note = document.createElement("p");
    note.className = "summary";
    note.textContent = "Replications, jobs and the seed are chosen in the bar above; Run uses the same code as `quorin run`.";
    sheet.appendChild(note);
    renderSchedules(sheet);
  }

  // Schedule sections: the period, the steps as a table (or the data file
  // they come from) and a plot of the steps as loaded.
  function renderSchedules(sheet) {
    heading(sheet, "Schedules");
    const schedules = state.model ? state.model.schedules : [];
    for (const sc of schedules) {
      const h = document.createElement("h2");
      h.textContent = "schedule " + sc.name;
      h.style.fontSize = "13px";
      sheet.appendChild(h);
      const value = (k) => (sc.entries[k] ? sc.entries[k].value : "");
      const key = (k) => "schedule:" + sc.name + "." + k;
      const set = (k, v) => edit({ op: "schedule-set", schedule: sc.name, key: k, value: v }, key(k));
      field(sheet, key("Period"), "Period", "the steps repeat; 0: no repetition", textInput(value("Period")), (v) => set("Period", v));
      if (value("File")) {
        field(sheet, key("File"), "File", "time,value lines", textInput(value("File")), (v) => set("File", v));
      } else {
        stepsTable(sheet, sc, value("Steps").replace(/^"|"$/g, ""), (text) => set("Steps", '"' + text + '"'));
      }
      if (state.refused[key("Steps")] !== undefined) {
        const m = document.createElement("div");
        m.className = "field message";
        m.textContent = state.refused[key("Steps")];
        sheet.appendChild(m);
      }
      if (sc.steps) sheet.appendChild(stepsPlot(sc.steps, sc.period));
    }
    const add = document.createElement("button");
    add.textContent = "Add schedule";
    add.addEventListener("click", () => {
      const taken = new Set(schedules.map((x) => x.name));
      let i = 1;
      while (taken.has("Schedule" + i)) i++;
      edit({ op: "schedule-add", name: "Schedule" + i });
    });
    sheet.appendChild(add);
  }

  function stepsTable(sheet, sc, text, commit) {
    const rows = text.split(",").map((p) => p.trim().split(/\s+/)).filter((r) => r[0] !== "");
    const table = document.createElement("table");
    table.className = "steps";
    table.innerHTML = "<tr><th>time</th><th>value</th><th></th></tr>";
    const write = () => {
      const parts = [];
      for (const tr of Array.from(table.querySelectorAll("tr.step"))) {
        const [t, v] = Array.from(tr.querySelectorAll("input")).map((i) => i.value.trim());
        if (t !== "" || v !== "") parts.push(t + " " + v);
      }
      commit(parts.join(", "));
    };
    const addRow = (t, v) => {
      const tr = document.createElement("tr");
      tr.className = "step";
      for (const x of [t, v]) {
        const td = document.createElement("td");
        const i = textInput(x);
        i.addEventListener("change", write);
        td.appendChild(i);
        tr.appendChild(td);
      }
      const td = document.createElement("td");
      const del = document.createElement("button");
      del.textContent = "×";
      del.title = "remove the step";
      del.addEventListener("click", () => { tr.remove(); write(); });
      td.appendChild(del);
      tr.appendChild(td);
      table.appendChild(tr);
    };
    for (const r of rows) addRow(r[0] || "", r[1] || "");
    sheet.appendChild(table);
    const more = document.createElement("button");
    more.textContent = "Add a step";
    more.addEventListener("click", () => addRow("", ""));
    sheet.appendChild(more);
  }

  function stepsPlot(steps, period) {
    const W = 300, H = 90, pad = 4;
    const last = steps[steps.length - 1][0];
    const end = period > 0 ? period : (last > 0 ? last * 1.25 : 1);
    const top = Math.max(...steps.map((s) => s[1]), 1e-9);
    const x = (t) => pad + (W - 2 * pad) * t / end;
    const y = (v) => H - pad - (H - 2 * pad) * v / top;
    let d = "";
    steps.forEach((s, i) => {
      const next = i + 1 < steps.length ? steps[i + 1][0] : end;
      d += (i ? " L" : "M") + x(s[0]) + "," + y(s[1]) + " L" + x(next) + "," + y(s[1]);
    });
    const svg = document.createElementNS("http://www.w3.org/2000/svg", "svg");
    svg.setAttribute("class", "steps-plot");
    svg.setAttribute("width", W);
    svg.setAttribute("height", H);
    const path = document.createElementNS("http://www.w3.org/2000/svg", "path");
    path.setAttribute("d", d);
    svg.appendChild(path);
    const label = document.createElementNS("http://www.w3.org/2000/svg", "text");
    label.setAttribute("x", pad + 2);
    label.setAttribute("y", 12);
    label.textContent = "max " + top + (period > 0 ? ", period " + period : "");
    svg.appendChild(label);
    return svg;
  }

  function renderComponentSheet(sheet, o) {
    const c = state.classes[o.class];
    const h = document.createElement("h2");
    h.textContent = o.name + ": " + o.class;
    sheet.appendChild(h);
    if (c) {
      const p = document.createElement("p");
      p.className = "summary";
      p.textContent = c.summary;
      sheet.appendChild(p);
    }
    const key = (k) => o.name + "." + k;
    field(sheet, key("Name"), "Name", "handler text follows a rename", textInput(o.name), async (v) => {
      if (v && v !== o.name) state.placed[v] = state.placed[o.name];
      if (v && v !== o.name && await edit({ op: "rename", name: o.name, to: v }, key("Name"))) {
        state.selected = v;
        render();
      }
    });
    const known = new Set(["Left", "Top"]);
    if (c) {
      heading(sheet, "Properties");
      for (const p of c.properties) {
        known.add(p.name);
        const written = entry(o, p.name);
        let input;
        if (p.type === "boolean") {
          input = document.createElement("input");
          input.type = "checkbox";
          input.checked = written ? written === "true" : !!p.default;
        } else {
          input = textInput(written, number(p.default));
        }
        const hint = p.type + (p.type === "boolean" ? "" : ", " + number(p.min) + "…" + number(p.max));
        field(sheet, key(p.name), p.name, hint, input, (v) => {
          // The default is left out of the file, as saving does.
          if (p.type === "boolean" && (v === "true") === !!p.default) v = "";
          edit({ op: "set", name: o.name, key: p.name, value: v }, key(p.name));
        });
      }
      if (c.events.length) heading(sheet, "Events");
      for (const ev of c.events) {
        known.add(ev.name);
        field(sheet, key(ev.name), ev.name, ev.routing ? "routing" : "", textInput(entry(o, ev.name), ev.routing ? "PassTo(Block)" : ""), (v) =>
          edit({ op: "set", name: o.name, key: ev.name, value: v }, key(ev.name)));
      }
    }
    const others = Object.keys(o.entries).filter((k) => !known.has(k));
    if (others.length) {
      heading(sheet, "Other lines");
      for (const k of others)
        field(sheet, key(k), k, "", textInput(entry(o, k)), (v) => edit({ op: "set", name: o.name, key: k, value: v }, key(k)));
    }
    const pr = problemsOf(o.name);
    if (pr.errors.length || pr.findings.length) {
      heading(sheet, "Check");
      for (const x of pr.errors.concat(pr.findings)) {
        const m = document.createElement("div");
        m.className = "field message";
        m.textContent = x.message;
        sheet.appendChild(m);
      }
    }
  }

  // --- the check -------------------------------------------------------
  function renderCheck() {
    const list = $("check-list");
    list.textContent = "";
    const m = state.model;
    if (!m) return;
    const add = (cls, text, name) => {
      const d = document.createElement("div");
      d.className = "item " + cls;
      d.textContent = text;
      if (name) d.addEventListener("click", () => { state.selected = name; render(); });
      list.appendChild(d);
    };
    for (const e of m.errors) add("error", e.message, e.component);
    for (const f of m.findings) add("finding", f.message, f.component);
    if (!m.errors.length && !m.findings.length) add("ok", "Check: no errors, no findings.", "");
  }

  // --- runs ------------------------------------------------------------
  async function run() {
    const replications = parseInt($("replications").value, 10) || 1;
    const body = { text: state.text, path: state.path, replications: replications > 1 ? replications : 0,
                   jobs: parseInt($("jobs").value, 10) || 1 };
    const seed = parseInt($("seed").value, 10);
    if (seed > 0) body.seed = seed;
    try {
      const r = await call("POST", "/api/run", body);
      state.run = { id: r.id };
      $("run").disabled = true;
      $("stop").disabled = false;
      $("progress").classList.toggle("busy", replications <= 1);
      $("progress-fill").style.width = replications <= 1 ? "" : "0%";
      status("running…", true);
      poll();
    } catch (err) { status(err.message); }
  }

  async function poll() {
    if (!state.run) return;
    let s;
    try { s = await call("GET", "/api/run?id=" + state.run.id); } catch (err) { status(err.message); return; }
    if (s.state === "running") {
      if (s.total > 0) {
        $("progress").classList.remove("busy");
        $("progress-fill").style.width = (100 * s.done / s.total) + "%";
        status(`replications ${s.done}/${s.total}, ${s.seconds.toFixed(1)} s`, true);
      } else {
        status(`running, ${s.seconds.toFixed(1)} s`, true);
      }
      setTimeout(poll, 300);
      return;
    }
    state.run = null;
    $("run").disabled = false;
    $("stop").disabled = true;
    $("progress").classList.remove("busy");
    $("progress-fill").style.width = s.state === "done" ? "100%" : "0%";
    if (s.state === "done" || s.page) {
      status(`run ${s.state} in ${s.seconds.toFixed(1)} s`, s.state === "done");
      const url = "/report?id=" + s.id + "&token=" + encodeURIComponent(token);
      $("report").src = url;
      $("report-open").href = url;
      $("report-wrap").hidden = false;
    } else {
      status(s.state === "stopped" ? "the run was stopped" : "the run failed: " + (s.messages || s.output).trim().split("\n").slice(-3).join(" "));
    }
  }

  async function stop() {
    if (!state.run) return;
    try { await call("POST", "/api/stop", { id: state.run.id }); } catch (err) { status(err.message); }
  }

  async function remove() {
    if (!state.selected) return;
    const name = state.selected;
    if (await edit({ op: "remove", name })) {
      state.selected = "";
      render();
    }
  }

  // --- start -----------------------------------------------------------
  async function start() {
    const classes = await call("GET", "/api/classes");
    state.pages = classes.pages;
    for (const page of classes.pages)
      for (const c of page.classes) {
        c.imageUrl = imageUrl(c.image);
        state.classes[c.name] = c;
      }
    buildPalette();
    const files = await listFiles();
    const file = params.get("file") || files.start;
    if (file) await open(file);
    else { state.text = ""; await check(); }

    $("files").addEventListener("change", (e) => { if (e.target.value) open(e.target.value); e.target.value = ""; });
    $("save").addEventListener("click", () => save(state.path, false));
    $("save-as").addEventListener("click", () => save($("save-as-name").value.trim(), true));
    $("undo").addEventListener("click", undo);
    $("redo").addEventListener("click", redo);
    $("delete").addEventListener("click", remove);
    $("check").addEventListener("click", check);
    $("run").addEventListener("click", run);
    $("stop").addEventListener("click", stop);
    $("show-text").addEventListener("click", () => { $("text-view").hidden = !$("text-view").hidden; });
    $("report-close").addEventListener("click", () => { $("report-wrap").hidden = true; });
    $("form").addEventListener("mousedown", (e) => {
      if (e.target === $("form") || e.target === $("arrows")) { state.selected = ""; render(); }
    });
    document.addEventListener("keydown", (e) => {
      const typing = e.target.tagName === "INPUT" || e.target.tagName === "SELECT";
      if ((e.ctrlKey || e.metaKey) && e.key === "s") { e.preventDefault(); save(state.path, false); }
      else if (!typing && (e.ctrlKey || e.metaKey) && e.key === "z") { e.preventDefault(); undo(); }
      else if (!typing && (e.ctrlKey || e.metaKey) && e.key === "y") { e.preventDefault(); redo(); }
      else if (!typing && (e.key === "Delete" || e.key === "Backspace")) { e.preventDefault(); remove(); }
    });
    window.addEventListener("beforeunload", (e) => { if (dirty()) { e.preventDefault(); e.returnValue = ""; } });
    window.studio = { state, edit, save, open, run, connect };
    document.body.dataset.ready = "1";
  }

  start().catch((err) => status(err.message));
})();
