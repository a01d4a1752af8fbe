// The preview's page: draws the add-in's page, the definition and the document from
// the server's answers, and sends each thing the author does as the host's event.
// An answer holds only what changed since the state the page holds, and only the
// controls it names are redrawn, so that focus, caret and typing stay where they are.
'use strict';

const VISIBLE = 1;   // control option bits, as the host reads them
const ENABLED = 2;
const EXPANDED = 8;  // group box option bit
const LABEL = 1, CHECKBOX = 2, BUTTON = 3, TEXTBOX = 5, COMBOBOX = 7;
const CONFIG_COMBO = 10002, USE_CONFIGS = 10003;
const TOOLS = { 20001: 'Reset All Fields', 20002: 'Load Default Values', 20003: 'Purge Doc CP Fields',
                20004: 'Edit Kelvane.ini file' };
const PURGE = 20003, EDIT_INI = 20004;

const $ = (id) => document.getElementById(id);
const make = (tag, className, text) => {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
};
const quoted = (s) => '\u201c' + s + '\u201d';
const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;

// ---- talking to the server -----------------------------------------------------------
// One request at a time, in the order the author acted. When the server cannot be
// reached the banner says so and the queue waits, retrying with backoff: nothing
// queued is dropped. Answers that carry a state are applied before the next request
// goes, so that each names the state it was sent from ("since").

const queue = [];  // {method, path, body, key, sent, resolvers}
let pumping = false;
let revision = null;
let instance = null;

function request(method, path, body, key) {
  return new Promise((resolve) => {
    const last = queue[queue.length - 1];
    // A box's new text replaces its text still waiting to go: the whole text is sent,
    // so no key is lost, and the answers catch up with the typing.
    if (key && last && last.key === key && !last.sent) {
      for (const r of last.resolvers) r({ superseded: true });
      last.body = body;
      last.resolvers = [resolve];
      return;
    }
    queue.push({ method, path, body, key, sent: false, resolvers: [resolve] });
    document.body.dataset.pending = String(queue.length);
    pump();
  });
}

const waitingFor = (key) => queue.some((job) => job.key === key);

async function fetchJson(method, path, body) {
  const init = { method, headers: {}, cache: 'no-store' };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const res = await fetch(path, init);
  const text = await res.text();  // a connection lost here throws as well
  let json;
  try {
    json = JSON.parse(text);
  } catch (e) {
    json = { error: 'the server answered no JSON' };
  }
  return { ok: res.ok, status: res.status, json };
}

async function pump() {
  if (pumping) return;
  pumping = true;
  while (queue.length) {
    const job = queue[0];
    job.sent = true;
    let result;
    try {
      result = await fetchJson(job.method, job.path, typeof job.body === 'function' ? job.body() : job.body);
    } catch (e) {
      job.sent = false;
      await reconnect();
      continue;
    }
    queue.shift();
    document.body.dataset.pending = String(queue.length);
    try {
      if (result.ok) {
        const s = result.json && typeof result.json.revision === 'number' ? result.json : result.json && result.json.state;
        if (s && typeof s.revision === 'number') applyState(s);
      }
    } catch (e) {
      // The queue goes on; the fault is shown, and reported as the page's own.
      notice('The page could not draw an answer: ' + e.message, true);
      setTimeout(() => { throw e; });
    }
    for (const r of job.resolvers) r(result);
  }
  pumping = false;
}

let reconnecting = null;
let retryNow = null;

// Waits until the server answers again. A server started again on the same port is
// another run of the preview: it gets the editor's text and the page is drawn anew.
function reconnect() {
  if (reconnecting) return reconnecting;
  reconnecting = (async () => {
    $('offline').hidden = false;
    document.body.dataset.online = 'false';
    let delay = 250;
    for (;;) {
      await countdown(delay);
      try {
        const d = await fetchJson('GET', '/api/definition');
        if (d.ok) {
          await rejoin(d.json);
          break;
        }
      } catch (e) {
        // still gone
      }
      delay = Math.min(delay * 2, 8000);
    }
    $('offline').hidden = true;
    document.body.dataset.online = 'true';
    reconnecting = null;
  })();
  return reconnecting;
}

function countdown(ms) {
  return new Promise((resolve) => {
    const until = Date.now() + ms;
    const where = location.host;
    const tell = () => {
      const left = Math.ceil((until - Date.now()) / 1000);
      $('offline-text').textContent = `The preview at ${where} cannot be reached. ` +
        (left > 0 ? `Trying again in ${left} s. ` : 'Trying again. ') +
        'Nothing is lost: what you do waits, and the definition is kept in this browser.';
    };
    tell();
    const tick = setInterval(tell, 1000);
    const done = () => { clearInterval(tick); clearTimeout(timer); retryNow = null; resolve(); };
    const timer = setTimeout(done, ms);
    retryNow = done;
  });
}

async function rejoin(def) {
  if (instance === null || def.instance === instance) return;
  instance = def.instance;
  folder = def.folder;
  let answer = def;
  if (source.value !== def.text) {
    const r = await fetchJson('PUT', '/api/definition', { text: source.value });
    if (r.ok) answer = r.json.definition;
    lastSent = source.value;
  } else {
    lastSent = def.text;
  }
  if (!def.unsaved) fileText = def.text;
  drawDefinition(answer);
  const s = await fetchJson('GET', '/api/state');
  if (s.ok) applyState(s.json);
  pageNotice('The preview was started again: the page was opened anew on the definition in the editor.');
}

function notice(text, bad) {
  const n = $('notice');
  n.textContent = text;
  n.classList.toggle('bad', !!bad);
}

function pageNotice(text, bad) {
  $('page-notice-text').textContent = text;
  $('page-notice').classList.toggle('bad', !!bad);
  $('page-notice').hidden = !text;
}

// ---- the state -----------------------------------------------------------------------

let state = null;  // the whole state as the page last drew it

function applyState(a) {
  const before = state;
  let reshaped = false;
  let changed = [];  // [g, c] of the controls to redraw
  if (a.full || !state) {
    reshaped = !before || !sameShape(before.page, a.page);
    state = a;
    if (!reshaped) changed = differentControls(before.page, a.page);
  } else {
    for (const [k, v] of Object.entries(a)) {
      if (!['full', 'shown', 'groups', 'controls', 'pendingChanges'].includes(k)) state[k] = v;
    }
    if (a.pendingChanges) {
      const gone = new Set(a.pendingChanges.unset.map((p) => keyOf(p.configuration, p.name)));
      const set = new Map(a.pendingChanges.set.map((p) => [keyOf(p.configuration, p.name), p]));
      state.pending = state.pending.filter((p) => !gone.has(keyOf(p.configuration, p.name)) && !set.has(keyOf(p.configuration, p.name)))
        .concat([...set.values()]);
    }
    reshaped = 'page' in a;
    if (!reshaped && state.page) {
      if ('shown' in a) state.page.shown = a.shown;
      for (const g of a.groups || []) Object.assign(state.page.groups[g.at], without(g));
      for (const c of a.controls || []) {
        Object.assign(state.page.groups[c.at[0]].controls[c.at[1]], without(c));
        changed.push(c.at);
      }
    }
  }
  revision = a.revision;
  if (a.instance) instance = a.instance;
  // A page opened anew shows its groups as the definition has them.
  const wasShown = !!(before && before.page && before.page.shown);
  if (!wasShown && state.page && state.page.shown) expanded = new Map();

  const focused = focusedControl();
  if (reshaped) {
    buildPage();
  } else {
    if (a.full || 'shown' in a) drawShown();
    if (a.full || a.groups) for (let g = 0; g < view.length; g++) updateGroup(g);
    for (const [g, c] of changed) updateControl(g, c);
  }
  if (a.full || 'title' in a) $('page-title').textContent = state.title || 'Kelvane';
  drawEvents(a.events || []);
  if (a.full || 'document' in a || 'changes' in a || 'pending' in a || a.pendingChanges) {
    drawDocument(a.full || 'document' in a || 'changes' in a);
  }
  if (a.full || 'documentChanged' in a) $('save-doc').disabled = !state.documentChanged;
  if (a.full || 'status' in a) $('status').textContent = state.status;
  if (a.full || 'processes' in a) $('processes').replaceChildren(...state.processes.map((p) => make('li', '', p)));
  if (a.full || 'log' in a) $('log').textContent = state.log;
  if (a.full || 'messages' in a) showMessages();
  restoreFocus(focused);
}

const without = (o) => Object.fromEntries(Object.entries(o).filter(([k]) => k !== 'at'));

function sameShape(a, b) {
  if (!a || !b || a.groups.length !== b.groups.length) return false;
  return a.groups.every((g, i) => g.id === b.groups[i].id && g.controls.length === b.groups[i].controls.length &&
    g.controls.every((c, j) => c.id === b.groups[i].controls[j].id && c.kind === b.groups[i].controls[j].kind));
}

function differentControls(a, b) {
  const out = [];
  b.groups.forEach((g, i) => g.controls.forEach((c, j) => {
    if (JSON.stringify(c) !== JSON.stringify(a.groups[i].controls[j])) out.push([i, j]);
  }));
  return out;
}

// The control of this id and kind on the page, or null.
function control(id, kind) {
  const at = where.get(id + '/' + kind);
  return at ? state.page.groups[at[0]].controls[at[1]] : null;
}

// ---- the page ------------------------------------------------------------------------

let view = [];             // per group: {box, head, body, controls: [{row, el}]}
let where = new Map();     // "id/kind" -> [g, c]
let expanded = new Map();  // group id -> open, as the author left it since the page opened
const typed = new Map();   // input control id -> {name, text, config}: what the author typed

const usable = (c) => (c.options & ENABLED) !== 0 && c.enabled;
const nameOf = (c) => c.caption || c.tip;
const shownValue = (c) => (c.kind === COMBOBOX ? (c.items[c.selection] ?? '') : c.text);

function buildPage() {
  const page = $('page');
  where = new Map();
  view = [];
  if (state.page) {
    state.page.groups.forEach((g, gi) => {
      const v = drawGroup(g);
      g.controls.forEach((c, ci) => {
        where.set(c.id + '/' + c.kind, [gi, ci]);
        v.controls.push(drawControl(c));
        v.body.append(v.controls[ci].row);
      });
      view.push(v);
    });
  }
  page.replaceChildren(...view.map((v) => v.box));
  view.forEach((_, g) => {
    updateGroup(g);
    state.page.groups[g].controls.forEach((_, c) => updateControl(g, c));
  });
  drawShown();
}

function drawShown() {
  const shown = !!(state.page && state.page.shown);
  for (const id of ['ok', 'cancel', 'help']) $(id).disabled = !shown;
  $('closed').hidden = shown;
  $('page').hidden = !shown;
}

function drawGroup(g) {
  const box = make('div', 'group');
  box.dataset.id = g.id;
  const head = make('button', 'group-head');
  head.type = 'button';
  const caption = make('span', 'group-caption');
  head.append(make('span', 'chevron'), caption);
  const body = make('div', 'group-body');
  body.id = 'group-body-' + g.id;
  head.setAttribute('aria-controls', body.id);
  head.addEventListener('click', () => {
    const open = box.classList.contains('collapsed');
    expanded.set(g.id, open);
    box.classList.toggle('collapsed', !open);
    head.setAttribute('aria-expanded', String(open));
  });
  box.append(head, body);
  return { box, head, caption, body, controls: [] };
}

function updateGroup(g) {
  const group = state.page.groups[g];
  const v = view[g];
  const open = expanded.has(group.id) ? expanded.get(group.id) : (group.options & EXPANDED) !== 0;
  v.box.classList.toggle('collapsed', !open);
  v.head.setAttribute('aria-expanded', String(open));
  v.caption.textContent = group.caption;
}

function drawControl(c) {
  const row = make('div', 'control kind' + c.kind);
  row.dataset.id = c.id;
  row.dataset.kind = c.kind;
  let el = null;
  switch (c.kind) {
    case TEXTBOX:
      el = make('input');
      el.type = 'text';
      el.spellcheck = false;
      el.addEventListener('input', () => sendText(c.id, el.value));
      row.append(el);
      break;
    case COMBOBOX:
      el = make('select');
      el.addEventListener('change', () => send({ type: 'select', id: c.id, index: el.selectedIndex }));
      row.append(el);
      break;
    case CHECKBOX: {
      const label = make('label');
      el = make('input');
      el.type = 'checkbox';
      el.addEventListener('change', () => send({ type: 'check', id: c.id, checked: el.checked }));
      label.append(el, make('span'));
      row.append(label);
      break;
    }
    case BUTTON:
      el = make('button', 'tool');
      el.type = 'button';
      el.addEventListener('click', () => send({ type: 'press', id: c.id }));
      row.append(el);
      break;
    default:
      break;
  }
  return { row, el, items: null };
}

function updateControl(g, ci) {
  const c = state.page.groups[g].controls[ci];
  const v = view[g] && view[g].controls[ci];
  if (!v) return;
  const { row, el } = v;
  const off = !usable(c);
  // Only what differs is written: a page of thousands of controls restyles only those.
  const hidden = !(c.options & VISIBLE);
  if (row.hidden !== hidden) row.hidden = hidden;
  if (row.title !== (c.tip || '')) row.title = c.tip || '';
  if (row.classList.contains('off') !== off) row.classList.toggle('off', off);
  const name = nameOf(c);
  const label = (e) => { if (e.getAttribute('aria-label') !== name) e.setAttribute('aria-label', name); };
  switch (c.kind) {
    case LABEL:
      if (row.textContent !== name) row.textContent = name;
      break;
    case TEXTBOX:
      // Read-only boxes stay readable and reachable: composites are what a designer reads.
      if (el.readOnly !== off) el.readOnly = off;
      label(el);
      // The box the author types in keeps its text while answers to earlier keys come.
      if (!waitingFor('text:' + c.id) && el.value !== c.text) {
        if (document.activeElement === el) {
          const [start, end] = [el.selectionStart, el.selectionEnd];
          el.value = c.text;
          el.setSelectionRange(Math.min(start, c.text.length), Math.min(end, c.text.length));
        } else {
          el.value = c.text;
        }
      }
      break;
    case COMBOBOX: {
      if (el.disabled !== off) el.disabled = off;
      label(el);
      const items = JSON.stringify(c.items);
      if (v.items !== items) {
        v.items = items;
        el.replaceChildren(...c.items.map((item, i) => {
          const option = make('option', '', item);
          option.value = String(i);
          return option;
        }));
      }
      const index = c.selection >= 0 && c.selection < c.items.length ? c.selection : -1;
      if (el.selectedIndex !== index) el.selectedIndex = index;
      break;
    }
    case CHECKBOX:
      el.disabled = off;
      el.checked = c.checked;
      el.nextSibling.textContent = ' ' + name;
      break;
    case BUTTON:
      el.disabled = off;
      el.textContent = name;
      break;
    default:
      row.textContent = name;
  }
}

function drawEvents(events) {
  $('events').replaceChildren(...events.filter((e) => e.kind === 'error' || e.kind === 'menu')
    .map((e) => make('li', 'event ' + e.kind, e.kind + ': ' + e.text)));
}

// ---- focus ---------------------------------------------------------------------------
// Focus stays on the control that had it. When that control is gone, hidden or
// disabled, it goes to the next control that can take it, or to "Open the page" once
// the page is closed.

function focusedControl() {
  const e = document.activeElement;
  if (!e || !$('manager').contains(e)) return null;
  const row = e.closest('.control');
  const key = row ? row.dataset.id + '/' + row.dataset.kind : null;
  return { element: e, key };
}

const focusable = (e) => e && e.isConnected && !e.disabled && !e.closest('[hidden]') && !e.closest('.collapsed .group-body');

function restoreFocus(was) {
  if (!was || (document.activeElement !== document.body && document.activeElement !== null && focusable(document.activeElement))) {
    return;
  }
  if (focusable(was.element)) return was.element.focus();
  if (!(state.page && state.page.shown)) return $('reopen').focus();
  const controls = [...$('page').querySelectorAll('.control input, .control select, .control button')];
  let next = null;
  const at = was.key && where.get(was.key);
  if (at) {
    const v = view[at[0]].controls[at[1]];
    next = focusable(v.el) ? v.el
      : controls.find((e) => focusable(e) && (e.compareDocumentPosition(v.row) & Node.DOCUMENT_POSITION_PRECEDING));
  }
  (next || controls.find(focusable) || $('ok')).focus();
}

// ---- events ----------------------------------------------------------------------------

function currentConfig() {
  const combo = state && state.page ? control(CONFIG_COMBO, COMBOBOX) : null;
  return combo ? combo.selection : 0;
}

function sendText(id, text) {
  const c = control(id, TEXTBOX);
  typed.set(id, { name: c ? nameOf(c) : String(id), text, config: currentConfig() });
  return send({ type: 'text', id, text });
}

async function send(event) {
  // The definition typed just before goes first, or its reading would reopen the page
  // over this event.
  if (definitionTimer) sendDefinition();
  if (event.type === 'select') {
    const c = control(event.id, COMBOBOX);
    if (c && event.id !== CONFIG_COMBO) typed.set(event.id, { name: nameOf(c), text: c.items[event.index] ?? '', config: currentConfig() });
  }
  const key = event.type === 'text' ? 'text:' + event.id : null;
  const r = await request('POST', '/api/event', () => ({ ...event, since: revision }), key);
  if (r.superseded) return;
  if (!r.ok) {
    pageNotice(r.json.error || 'refused', true);
    const s = await request('GET', '/api/state');
    if (s.ok) applyState(s.json);
    return;
  }
  if (event.type === 'text') {
    // The last answer for a box brings it in line with the page, whatever came before.
    const at = where.get(event.id + '/' + TEXTBOX);
    if (at && !waitingFor(key)) updateControl(at[0], at[1]);
    return;
  }
  tellWhatHappened(event, r.json);
}

const statusTexts = (answer) => (answer.events || []).filter((e) => e.kind === 'status').map((e) => e.text);

function tellWhatHappened(event, answer) {
  const status = statusTexts(answer);
  const onStatus = status.length ? ` The status bar shows ${status.map(quoted).join(', ')}.` : '';
  const errors = (answer.events || []).filter((e) => e.kind === 'error');
  if (event.type === 'help') {
    pageNotice(status.length ? `Help: the add-in answered ${status.map(quoted).join(', ')} on the status bar.`
                             : 'Help: the add-in showed nothing.');
  } else if (event.type === 'press' && event.id === EDIT_INI) {
    const started = state.processes[state.processes.length - 1];
    if (errors.length || !started) {
      pageNotice('Edit Kelvane.ini file: ' + (errors.length ? errors[0].text : 'the add-in started nothing.'), true);
    } else {
      pageNotice(`Edit Kelvane.ini file: the add-in would start ${quoted(started)}. Edit the definition here instead.`);
    }
    source.focus();
  } else if (event.type === 'press' && event.id === PURGE) {
    const gone = state.changes.filter((c) => c.after === null).length;
    pageNotice(`Purge Doc CP Fields: the document lacks ${plural(gone, 'property', 'properties')} it had when the page ` +
               `opened; the page still shows its values, and OK writes them again.${onStatus}`);
  } else if (event.type === 'press' && event.id in TOOLS) {
    tellReplaced(TOOLS[event.id], false, onStatus);
  } else if (event.type === 'check' && event.id === USE_CONFIGS) {
    tellReplaced(`Use Configurations ${event.checked ? 'ticked' : 'cleared'}: the values were read again from the document`, false, onStatus);
  } else if (event.type === 'reopen') {
    tellReplaced('The page was opened again', true, onStatus);
  } else if (event.type === 'ok' || event.type === 'cancel') {
    typed.clear();
    pageNotice((event.type === 'ok' ? 'OK: the values were written to the document.' : 'Cancel: nothing was written.') + onStatus);
  }
}

// Says which of the values the author typed the page no longer shows. After a reopen
// every one counts, matched by the field's name; otherwise those of the configuration
// shown, matched by control.
function tellReplaced(what, all, tail) {
  const replaced = [];
  const shown = new Map();
  if (state.page && state.page.shown) {
    for (const g of state.page.groups) for (const c of g.controls) if (c.kind === TEXTBOX || c.kind === COMBOBOX) shown.set(c.id, c);
  }
  const byName = new Map([...shown.values()].map((c) => [nameOf(c), c]));
  for (const [id, t] of typed) {
    if (!all && t.config !== currentConfig()) continue;
    const c = all ? byName.get(t.name) : shown.get(id);
    const now = c ? shownValue(c) : null;
    if (now !== t.text) replaced.push(`${t.name} ${quoted(t.text)} (now ${now === null ? 'gone' : quoted(now)})`);
    if (all || now !== t.text) typed.delete(id);
  }
  pageNotice(replaced.length
    ? `${what}: it replaced ${plural(replaced.length, 'value', 'values')} you typed: ${replaced.join('; ')}.${tail}`
    : `${what}: no value you typed was replaced.${tail}`);
}

// ---- the document and what the host showed ----------------------------------------------

// The properties are rows of a grid, a hundred to a block, and blocks out of view are
// not laid out: a key that changes what OK would write redraws one cell, not a table
// of thousands of rows.
let rows = new Map();  // "configuration\0name" -> {tr, pending}
let pendingKeys = [];
const BLOCK = 100;

function cell(className, text, role = 'cell') {
  const c = make('div', className, text);
  c.setAttribute('role', role);
  return c;
}

const keyOf = (configuration, name) => configuration + '\u0000' + name;
const shownText = (v) => (v === ' ' ? '(blank)' : v === '' ? '(empty)' : v);

function drawDocument(whole) {
  const doc = state.document;
  $('doc-title').textContent = doc ? doc.title : '(no document)';
  const pending = new Map(state.pending.map((p) => [keyOf(p.configuration, p.name), p.value]));
  if (!whole && [...pending.keys()].every((k) => rows.has(k))) {
    for (const k of pendingKeys) if (!pending.has(k)) setPending(rows.get(k), null);
    for (const [k, v] of pending) setPending(rows.get(k), v);
    pendingKeys = [...pending.keys()];
    return;
  }
  const changed = new Map(state.changes.map((c) => [keyOf(c.configuration, c.name), c]));
  rows = new Map();
  const out = [];
  const addRow = (configuration, name, value) => {
    const k = keyOf(configuration, name);
    if (rows.has(k)) return;
    const tr = make('div', 'prop-row');
    tr.setAttribute('role', 'row');
    const change = changed.get(k);
    const mark = cell('mark');
    if (change) {
      const removed = change.after === null && value === undefined;
      tr.classList.add(removed ? 'removed' : 'changed');
      mark.append(make('span', '', removed ? '\u2715' : '\u270E'), make('span', 'sr', removed ? 'removed' : 'changed'));
      tr.title = removed ? 'removed since the page opened' : change.before === null ? 'new since the page opened' : 'was: ' + change.before;
    }
    const valueCell = cell('value', value === undefined ? (change && change.after === null ? change.before : '') : value);
    const pendingCell = cell('pending');
    const row = { tr, pending: pendingCell };
    tr.append(mark, cell('scope', configuration || 'Document'), cell('name', name), valueCell, pendingCell);
    rows.set(k, row);
    out.push(tr);
  };
  if (doc) {
    for (const [name, value] of Object.entries(doc.properties)) addRow('', name, value);
    for (const [config, props] of Object.entries(doc.configurationProperties)) {
      for (const [name, value] of Object.entries(props)) addRow(config, name, value);
    }
    for (const c of state.changes) if (c.after === null) addRow(c.configuration, c.name, undefined);
    for (const p of state.pending) addRow(p.configuration, p.name, undefined);
  }
  for (const [k, v] of pending) setPending(rows.get(k), v);
  pendingKeys = [...pending.keys()];
  const blocks = [];
  for (let i = 0; i < out.length; i += BLOCK) {
    const block = make('div', 'block');
    block.setAttribute('role', 'rowgroup');
    block.append(...out.slice(i, i + BLOCK));
    blocks.push(block);
  }
  $('property-rows').replaceChildren(...blocks);
}

function setPending(row, value) {
  if (!row) return;
  row.pending.textContent = value === null ? '' : shownText(value);
  row.tr.classList.toggle('will-change', value !== null);
}

// Each message box waits for the author's OK, one after the other.
let messagesSeen = 0;
let beforeMessage = null;

function showMessages() {
  if (messagesSeen > state.messages.length) messagesSeen = 0;
  const dialog = $('message');
  if (dialog.open || messagesSeen >= state.messages.length) return;
  $('message-text').textContent = state.messages[messagesSeen];
  beforeMessage = document.activeElement;
  dialog.showModal();
  $('message-ok').focus();
}

$('message-ok').addEventListener('click', () => {
  $('message').close();
  messagesSeen += 1;
  if (beforeMessage && beforeMessage.isConnected) beforeMessage.focus();
  showMessages();
});

// ---- the definition --------------------------------------------------------------------

const source = $('source');
let folder = '';
let fileText = null;   // what Kelvane.ini holds as far as the page knows; null: unknown
let lastSent = '';     // the text the server has
let diagnostics = [];

const lineHeight = () => parseFloat(getComputedStyle(source).lineHeight) || 17;

function unsaved() {
  return fileText === null || source.value !== fileText;
}

function drawUnsaved() {
  $('unsaved').hidden = !unsaved();
}

// The definition's text, kept in this browser while it is not saved, by add-in folder.
const storeKey = () => 'kelvane-preview:' + folder;

function keep() {
  if (!folder) return;
  try {
    if (unsaved()) localStorage.setItem(storeKey(), JSON.stringify({ text: source.value, time: Date.now() }));
    else localStorage.removeItem(storeKey());
  } catch (e) {
    // storage full or refused: the server still holds the text
  }
}

function offerRestore(serverText) {
  let kept = null;
  try {
    kept = JSON.parse(localStorage.getItem(storeKey()) || 'null');
  } catch (e) {
    kept = null;
  }
  if (!kept || typeof kept.text !== 'string' || kept.text === serverText) return;
  $('restore-text').textContent = `This browser kept a Kelvane.ini of ${new Date(kept.time).toLocaleString()} ` +
    'that was never saved. ';
  $('restore').hidden = false;
  $('restore-yes').onclick = () => {
    $('restore').hidden = true;
    setEditorText(kept.text);
    source.focus();
  };
  $('restore-no').onclick = () => {
    $('restore').hidden = true;
    try {
      localStorage.removeItem(storeKey());
    } catch (e) {
      // nothing kept
    }
    source.focus();
  };
}

function drawDefinition(def) {
  diagnostics = def.diagnostics;
  const v = $('validity');
  v.textContent = def.valid ? 'reads' : 'does not read';
  v.className = def.valid ? 'good' : 'bad';
  const errors = diagnostics.filter((d) => d.severity === 'error').length;
  const warnings = diagnostics.length - errors;
  $('diagnostics-summary').textContent = diagnostics.length
    ? `${plural(errors, 'error', 'errors')}, ${plural(warnings, 'warning', 'warnings')}` : 'No errors or warnings';
  $('diagnostics').replaceChildren(...diagnostics.map((d) => {
    const li = make('li');
    const item = make(d.line === null ? 'div' : 'button', 'diagnostic ' + d.severity);
    if (d.line !== null) {
      item.type = 'button';
      item.dataset.line = d.line;
      item.addEventListener('click', () => goToLine(d.line, d.column));
    }
    const where = d.line === null ? '' : `line ${d.line}` + (d.column ? `, column ${d.column}` : '');
    item.append(make('span', 'severity', d.severity), make('span', 'where', where), make('span', 'what', d.text));
    if (d.message) item.append(make('span', 'shows', `The add-in shows: ${quoted(d.message)}`));
    li.append(item);
    return li;
  }));
  markers = new Map();
  for (const d of diagnostics) {
    if (d.line === null) continue;
    const m = markers.get(d.line);
    markers.set(d.line, { severity: m && m.severity === 'error' ? 'error' : d.severity,
                          text: (m ? m.text + '\n' : '') + d.text });
  }
  drawGutter(true);
}

// Line n counts from 0, as the add-in's own messages count.
function goToLine(n, column) {
  const lines = source.value.split('\n');
  let at = 0;
  for (let i = 0; i < n && i < lines.length; i++) at += lines[i].length + 1;
  const end = at + (lines[n] || '').length;
  at = Math.min(end, at + Math.max(0, (column || 1) - 1));
  source.focus();
  source.setSelectionRange(at, column ? at : end);
  source.scrollTop = Math.max(0, n * lineHeight() - source.clientHeight / 3);
  syncScroll();
}

// ---- the gutter and the colouring --------------------------------------------------------

let markers = new Map();  // line -> {severity, text}
let gutterLines = -1;

function drawGutter(force) {
  const count = source.value.split('\n').length;
  if (!force && count === gutterLines) return;
  gutterLines = count;
  const lines = [];
  for (let n = 0; n < count; n++) {
    const m = markers.get(n);
    const line = make('div', m ? m.severity : '', String(n));
    if (m) line.title = m.text;
    lines.push(line);
  }
  $('gutter-lines').replaceChildren(...lines);
  syncScroll();
}

function syncScroll() {
  $('gutter-lines').style.transform = `translateY(${-source.scrollTop}px)`;
  for (const layer of [$('highlight'), $('marks')]) {
    layer.style.transform = `translate(${-source.scrollLeft}px, ${-source.scrollTop}px)`;
  }
}

const escapeHtml = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const span = (cls, text) => (text ? `<span class="${cls}">${escapeHtml(text)}</span>` : '');

// The kinds of lines, as the add-in's parser tells them apart: the first character
// decides, and a header selects a field's entries, a group's fields, or nothing.
function colourLines(text) {
  let section = 'start';
  const groups = new Set();
  const fields = new Set();
  return text.split('\n').map((raw) => {
    const hash = raw.indexOf('#');
    const code = hash < 0 ? raw : raw.slice(0, hash);
    const comment = hash < 0 ? '' : raw.slice(hash);
    const first = raw.charAt(0);
    let html;
    if (first === '' || first === '#') {
      html = '';
    } else if (' \t\r\b'.includes(first)) {
      html = span('k-ignored', code);
    } else if (first === '[') {
      const header = code.replace(/\t/g, ' ').trim();
      if (header === '[Groups]') section = 'groups';
      else if (header === '[Commands]') section = 'ignore';
      else if (fields.has(header)) section = 'entries';
      else if (groups.has(header)) section = 'fields';
      else section = 'ignore';
      html = span(section === 'ignore' && header !== '[Commands]' ? 'k-header k-unmatched' : 'k-header', code);
    } else if (first === ':') {
      const eq = code.indexOf('=');
      html = eq < 0 ? span('k-option', code) : span('k-option', code.slice(0, eq + 1)) + span('k-value', code.slice(eq + 1));
    } else if (section === 'groups') {
      groups.add('[' + code.replace(/\t/g, ' ').trim().replace(/-$/, '').trim() + ']');
      html = span('k-group', code);
    } else if (section === 'fields') {
      html = fieldLine(code, fields);
    } else if (section === 'entries') {
      const columns = code.split(';');
      const star = columns[0].startsWith('*');
      html = (star ? span('k-mark', '*') : '') + span('k-entry', star ? columns[0].slice(1) : columns[0]) +
        columns.slice(1).map((c) => span('k-sep', ';') + span('k-code', c)).join('');
    } else {
      html = span('k-ignored', code);
    }
    return html + span('k-comment', comment);
  }).join('\n');
}

function fieldLine(code, fields) {
  const columns = code.split(';');
  const remember = columns[0].startsWith('!');
  const caption = remember ? columns[0].slice(1) : columns[0];
  fields.add('[' + caption.replace(/\t/g, ' ').trim() + ']');
  let html = (remember ? span('k-mark', '!') : '') + span('k-caption', caption);
  columns.slice(1).forEach((column, i) => {
    html += span('k-sep', ';');
    const value = column.trim();
    if (i === 1 && value.startsWith('<') && value.endsWith('>') && value.length >= 2) {
      const lead = column.indexOf('<');
      const tail = column.lastIndexOf('>');
      html += escapeHtml(column.slice(0, lead)) + span('k-composite', '<') +
        column.slice(lead + 1, tail).split('!').map((part) => (part.startsWith('^')
          ? span('k-composite', '^') + span('k-part', part.slice(1)) : span('k-part', part))).join(span('k-composite', '!')) +
        span('k-composite', '>') + escapeHtml(column.slice(tail + 1));
    } else {
      html += span(i === 0 ? 'k-property' : i === 1 ? (value.startsWith('{') ? 'k-placeholder' : 'k-default') : 'k-number', column);
    }
  });
  return html;
}

let colourQueued = false;

function drawColours() {
  if (colourQueued) return;
  colourQueued = true;
  requestAnimationFrame(() => {
    colourQueued = false;
    // A last line break needs a line of its own to scroll as far as the text area.
    $('highlight').innerHTML = colourLines(source.value) + '\n ';
    if (!$('find').hidden) drawMatches();
    syncScroll();
  });
}

// ---- undo ------------------------------------------------------------------------------
// The page keeps its own history of the text, so that undo also takes back what the
// page itself put into the editor (a restored definition) and survives its updates.

const edits = { undo: [], redo: [], at: 0, kind: '' };

const snapshot = () => ({ text: source.value, start: source.selectionStart, end: source.selectionEnd });

function remember(kind) {
  const now = Date.now();
  const top = edits.undo[edits.undo.length - 1];
  // A run of typing is one step; a pause, a line break or another kind of edit starts the next.
  if (!top || now - edits.at > 800 || kind !== edits.kind || kind === 'break') {
    edits.undo.push(snapshot());
    if (edits.undo.length > 500) edits.undo.shift();
  }
  edits.at = now;
  edits.kind = kind;
  edits.redo = [];
}

function restore(from, to) {
  const s = from.pop();
  if (!s) return;
  to.push(snapshot());
  source.value = s.text;
  source.setSelectionRange(s.start, s.end);
  edits.kind = '';
  edited();
}

source.addEventListener('beforeinput', (e) => {
  if (e.inputType === 'historyUndo' || e.inputType === 'historyRedo') {
    e.preventDefault();
    restore(e.inputType === 'historyUndo' ? edits.undo : edits.redo,
            e.inputType === 'historyUndo' ? edits.redo : edits.undo);
    return;
  }
  const kind = e.inputType === 'insertLineBreak' || e.inputType === 'insertFromPaste' ? 'break'
    : e.inputType.startsWith('delete') ? 'delete' : 'insert';
  remember(kind);
});

// The page's own change of the text, as one step that undo takes back.
function setEditorText(text) {
  remember('break');
  source.value = text;
  edited();
}

// ---- find ------------------------------------------------------------------------------

const finder = { matches: [], current: -1 };

function openFind() {
  const bar = $('find');
  bar.hidden = false;
  const selected = source.value.slice(source.selectionStart, source.selectionEnd);
  if (selected && !selected.includes('\n')) $('find-text').value = selected;
  $('find-text').focus();
  $('find-text').select();
  search(source.selectionStart);
}

function closeFind() {
  $('find').hidden = true;
  $('marks').innerHTML = '';
  source.focus();
  const m = finder.matches[finder.current];
  if (m !== undefined) source.setSelectionRange(m, m + $('find-text').value.length);
}

function search(from) {
  const query = $('find-text').value.toLowerCase();
  const text = source.value.toLowerCase();
  finder.matches = [];
  if (query) for (let at = text.indexOf(query); at >= 0; at = text.indexOf(query, at + query.length)) finder.matches.push(at);
  finder.current = finder.matches.length ? Math.max(0, finder.matches.findIndex((m) => m >= from)) : -1;
  showMatch();
}

function step(by) {
  if (!finder.matches.length) return;
  finder.current = (finder.current + by + finder.matches.length) % finder.matches.length;
  showMatch();
}

function showMatch() {
  const n = finder.matches.length;
  $('find-count').textContent = $('find-text').value ? (n ? `${finder.current + 1} of ${n}` : 'no match') : '';
  const m = finder.matches[finder.current];
  if (m !== undefined) {
    const line = source.value.slice(0, m).split('\n').length - 1;
    const top = line * lineHeight();
    if (top < source.scrollTop || top > source.scrollTop + source.clientHeight - 2 * lineHeight()) {
      source.scrollTop = Math.max(0, top - source.clientHeight / 3);
    }
    source.setSelectionRange(m, m + $('find-text').value.length);
  }
  drawMatches();
  syncScroll();
}

function drawMatches() {
  const length = $('find-text').value.length;
  const text = source.value;
  let html = '';
  let at = 0;
  finder.matches.forEach((m, i) => {
    html += escapeHtml(text.slice(at, m)) + `<mark class="${i === finder.current ? 'current' : ''}">` +
      escapeHtml(text.slice(m, m + length)) + '</mark>';
    at = m + length;
  });
  $('marks').innerHTML = html + escapeHtml(text.slice(at)) + '\n ';
}

$('find-text').addEventListener('input', () => search(finder.matches[finder.current] ?? source.selectionStart));
$('find-text').addEventListener('keydown', (e) => {
  if (e.key === 'Enter') {
    e.preventDefault();
    step(e.shiftKey ? -1 : 1);
  } else if (e.key === 'Escape') {
    e.preventDefault();
    closeFind();
  }
});
$('find-next').addEventListener('click', () => step(1));
$('find-prev').addEventListener('click', () => step(-1));
$('find-close').addEventListener('click', closeFind);

// ---- editing ---------------------------------------------------------------------------

let definitionTimer = null;

// About 300 ms after the author stops typing, the definition is read again.
function sendDefinition() {
  clearTimeout(definitionTimer);
  definitionTimer = null;
  let sent = null;
  const typedBefore = typed.size > 0;
  return request('PUT', '/api/definition', () => {
    sent = source.value;
    return { text: sent, since: revision };
  }, 'definition').then((r) => {
    if (r.superseded) return;
    if (!r.ok) return notice(r.json.error || 'refused', true);
    lastSent = sent;
    drawDefinition(r.json.definition);
    if (r.json.definition.valid && state.page) {
      expanded = new Map();
      view.forEach((_, g) => updateGroup(g));
      if (typedBefore) tellReplaced('The definition reads: the page was opened again', true, '');
    }
  });
}

function edited() {
  drawGutter(false);
  drawColours();
  drawUnsaved();
  keep();
  clearTimeout(definitionTimer);
  definitionTimer = setTimeout(sendDefinition, 300);
}

source.addEventListener('input', edited);
source.addEventListener('scroll', syncScroll);
source.addEventListener('keydown', (e) => {
  const ctrl = e.ctrlKey || e.metaKey;
  if (!ctrl) return;
  const key = e.key.toLowerCase();
  if (key === 'f') {
    e.preventDefault();
    openFind();
  } else if (key === 'z' && !e.shiftKey) {
    e.preventDefault();
    restore(edits.undo, edits.redo);
  } else if (key === 'y' || (key === 'z' && e.shiftKey)) {
    e.preventDefault();
    restore(edits.redo, edits.undo);
  } else if (key === 's') {
    e.preventDefault();
    saveDefinition();
  }
});
addEventListener('pagehide', keep);

// ---- the buttons -----------------------------------------------------------------------

$('ok').addEventListener('click', () => send({ type: 'ok' }));
$('cancel').addEventListener('click', () => send({ type: 'cancel' }));
$('help').addEventListener('click', () => send({ type: 'help' }));
$('reopen').addEventListener('click', () => send({ type: 'reopen' }));
$('page-notice-close').addEventListener('click', () => pageNotice(''));
$('retry').addEventListener('click', () => { if (retryNow) retryNow(); });

async function saveDefinition() {
  if (definitionTimer) sendDefinition();  // what was typed last goes first
  const r = await request('POST', '/api/save/definition');
  if (!r.ok) {
    notice(r.json.error, true);
    if (r.json.line !== undefined) goToLine(r.json.line, r.json.column);
    return;
  }
  fileText = lastSent;
  drawUnsaved();
  keep();
  notice('Saved ' + r.json.file);
}

$('save-ini').addEventListener('click', saveDefinition);

$('save-doc').addEventListener('click', async () => {
  const r = await request('POST', '/api/save/document');
  if (!r.ok) return notice(r.json.error, true);
  notice(r.json.written ? 'Saved ' + r.json.file : 'The document has not changed');
  await request('GET', '/api/state');
});

(async () => {
  const d = await request('GET', '/api/definition');
  instance = d.json.instance;
  folder = d.json.folder;
  source.value = d.json.text;
  lastSent = d.json.text;
  fileText = d.json.unsaved ? null : d.json.text;
  drawDefinition(d.json);
  drawColours();
  drawUnsaved();
  offerRestore(d.json.text);
  await request('GET', '/api/state');
  document.body.dataset.ready = 'true';
})();
