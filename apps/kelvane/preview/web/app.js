// The preview's page: draws the add-in's page, the definition and the document from
// the server's answers, and sends each thing the author does as the host's event.
'use strict';

const VISIBLE = 1;   // control option bits, as the host reads them
const ENABLED = 2;
const EXPANDED = 8;  // group box option bit
const LABEL = 1, CHECKBOX = 2, BUTTON = 3, TEXTBOX = 5, COMBOBOX = 7;

const $ = (id) => document.getElementById(id);
const make = (tag, className, text) => {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
};

let expanded = new Map();  // group id -> open, as the author left it since the page opened
let messagesSeen = 0;
let queue = Promise.resolve();
let inFlight = 0;

// One request at a time, in the order the author acted.
function request(method, path, body) {
  inFlight += 1;
  const run = async () => {
    const init = { method, headers: {} };
    if (body !== undefined) {
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    const res = await fetch(path, init);
    const json = await res.json().catch(() => ({ error: 'the server answered no JSON' }));
    return { ok: res.ok, status: res.status, json };
  };
  const next = queue.then(run, run).finally(() => { inFlight -= 1; });
  queue = next.catch(() => {});
  return next;
}

function notice(text, bad) {
  const n = $('notice');
  n.textContent = text;
  n.classList.toggle('bad', !!bad);
}

// ---- the page -------------------------------------------------------------------

async function send(event) {
  const r = await request('POST', '/api/event', event);
  if (!r.ok) {
    notice(r.json.error || 'refused', true);
    const s = await request('GET', '/api/state');
    if (s.ok) draw(s.json);
    return;
  }
  if (event.type === 'reopen') expanded = new Map();
  notice('');
  draw(r.json);
}

function usable(c) {
  return (c.options & ENABLED) !== 0 && c.enabled;
}

function drawControl(c) {
  const row = make('div', 'control kind' + c.kind);
  row.dataset.id = c.id;
  row.dataset.kind = c.kind;
  row.title = c.tip || '';
  const off = !usable(c);
  if (off) row.classList.add('disabled');
  const name = c.caption || c.tip;
  switch (c.kind) {
    case LABEL:
      row.textContent = name;
      break;
    case TEXTBOX: {
      const input = make('input');
      input.type = 'text';
      input.value = c.text;
      input.disabled = off;
      input.setAttribute('aria-label', name);
      input.addEventListener('input', () => send({ type: 'text', id: c.id, text: input.value }));
      row.append(input);
      break;
    }
    case COMBOBOX: {
      const select = make('select');
      select.disabled = off;
      select.setAttribute('aria-label', name);
      c.items.forEach((item, i) => {
        const option = make('option', '', item);
        option.value = String(i);
        select.append(option);
      });
      select.selectedIndex = c.selection >= 0 && c.selection < c.items.length ? c.selection : -1;
      select.addEventListener('change', () => send({ type: 'select', id: c.id, index: select.selectedIndex }));
      row.append(select);
      break;
    }
    case CHECKBOX: {
      const label = make('label');
      const box = make('input');
      box.type = 'checkbox';
      box.checked = c.checked;
      box.disabled = off;
      box.addEventListener('change', () => send({ type: 'check', id: c.id, checked: box.checked }));
      label.append(box, document.createTextNode(' ' + name));
      row.append(label);
      break;
    }
    case BUTTON: {
      const button = make('button', 'tool', name);
      button.type = 'button';
      button.disabled = off;
      button.addEventListener('click', () => send({ type: 'press', id: c.id }));
      row.append(button);
      break;
    }
    default:
      row.textContent = name;
  }
  return row;
}

function drawGroup(g) {
  const box = make('div', 'group');
  box.dataset.id = g.id;
  const open = expanded.has(g.id) ? expanded.get(g.id) : (g.options & EXPANDED) !== 0;
  box.classList.toggle('collapsed', !open);
  const head = make('button', 'group-head');
  head.type = 'button';
  head.append(make('span', 'chevron'), make('span', 'group-caption', g.caption));
  head.setAttribute('aria-expanded', String(open));
  head.addEventListener('click', () => {
    const now = box.classList.toggle('collapsed');
    expanded.set(g.id, !now);
    head.setAttribute('aria-expanded', String(!now));
  });
  const body = make('div', 'group-body');
  for (const c of g.controls) {
    if (c.options & VISIBLE) body.append(drawControl(c));
  }
  box.append(head, body);
  return box;
}

// Redraws the page. The control the author is typing in stays as it is while answers
// to earlier keys are still coming, so that no key is lost; it keeps focus and caret.
function drawPage(state) {
  const page = $('page');
  const focused = document.activeElement;
  const row = focused && page.contains(focused) ? focused.closest('.control') : null;

  const shown = state.page && state.page.shown;
  $('page-title').textContent = state.title || 'Kelvane';
  for (const id of ['ok', 'cancel', 'help']) $(id).disabled = !shown;
  $('closed').hidden = !!shown;
  page.replaceChildren(...(shown ? state.page.groups.map(drawGroup) : []));

  if (row) {
    const again = page.querySelector(`.control[data-id="${row.dataset.id}"][data-kind="${row.dataset.kind}"]`);
    const fresh = again && again.querySelector('input, select');
    if (fresh && !fresh.disabled) {
      if (fresh.type === 'text' && inFlight > 0) {
        fresh.replaceWith(focused);
        focused.focus();
      } else {
        const [start, end] = [focused.selectionStart, focused.selectionEnd];
        fresh.focus();
        if (fresh.type === 'text' && start !== null) fresh.setSelectionRange(start, end);
      }
    }
  }
  const events = $('events');
  events.replaceChildren(...state.events.filter((e) => e.kind === 'error' || e.kind === 'menu')
    .map((e) => make('li', 'event ' + e.kind, e.kind + ': ' + e.text)));
}

// ---- the document and what the host showed --------------------------------------

function drawDocument(state) {
  const tbody = $('properties').tBodies[0];
  const doc = state.document;
  $('doc-title').textContent = doc ? doc.title : '(no document)';
  const changed = new Map(state.changes.map((c) => [c.configuration + '\u0000' + c.name, c]));
  const rows = [];
  const addRow = (scope, config, name, value) => {
    const tr = make('tr');
    const change = changed.get(config + '\u0000' + name);
    if (change) {
      tr.className = value === null ? 'removed' : 'changed';
      tr.title = change.before === null ? 'new since the page opened' : 'was: ' + change.before;
    }
    tr.append(make('td', 'scope', scope), make('td', 'name', name), make('td', 'value', value === null ? change.before : value));
    rows.push(tr);
  };
  if (doc) {
    for (const [name, value] of Object.entries(doc.properties)) addRow('Document', '', name, value);
    for (const [config, props] of Object.entries(doc.configurationProperties)) {
      for (const [name, value] of Object.entries(props)) addRow(config, config, name, value);
    }
    for (const c of state.changes) {
      if (c.after === null) addRow(c.configuration || 'Document', c.configuration, c.name, null);
    }
  }
  tbody.replaceChildren(...rows);
  $('save-doc').disabled = !state.documentChanged;
  $('status').textContent = state.status;
  $('processes').replaceChildren(...state.processes.map((p) => make('li', '', p)));
  $('log').textContent = state.log;
}

// Each message box waits for the author's OK, one after the other.
function showMessages(state) {
  if (messagesSeen > state.messages.length) messagesSeen = 0;
  const dialog = $('message');
  if (dialog.open || messagesSeen >= state.messages.length) return;
  $('message-text').textContent = state.messages[messagesSeen];
  dialog.showModal();
}

$('message-ok').addEventListener('click', () => {
  $('message').close();
  messagesSeen += 1;
  if (lastState) showMessages(lastState);
});

let lastState = null;
function draw(state) {
  lastState = state;
  drawPage(state);
  drawDocument(state);
  showMessages(state);
}

// ---- the definition ---------------------------------------------------------------

const source = $('source');
const gutter = $('gutter');
let errorLines = new Set();

function drawGutter() {
  const count = source.value.split('\n').length;
  const lines = [];
  for (let n = 0; n < count; n++) lines.push(make('div', errorLines.has(n) ? 'bad' : '', String(n)));
  gutter.replaceChildren(...lines);
  gutter.scrollTop = source.scrollTop;
}

// Line n counts from 0, as the add-in's own messages count.
function goToLine(n, column) {
  const lines = source.value.split('\n');
  let at = 0;
  for (let i = 0; i < n && i < lines.length; i++) at += lines[i].length + 1;
  at += Math.max(0, (column || 1) - 1);
  source.focus();
  source.setSelectionRange(at, at);
  const height = source.scrollHeight / Math.max(1, lines.length);
  source.scrollTop = Math.max(0, n * height - source.clientHeight / 3);
  drawGutter();
}

function drawDefinition(def) {
  errorLines = new Set(def.diagnostics.filter((d) => d.severity === 'error' && d.line !== null).map((d) => d.line));
  const v = $('validity');
  v.textContent = def.valid ? 'reads' : 'does not read';
  v.className = def.valid ? 'good' : 'bad';
  $('diagnostics').replaceChildren(...def.diagnostics.map((d) => {
    const li = make('li', 'diagnostic ' + d.severity);
    const where = d.line === null ? '' : `line ${d.line}: `;
    li.textContent = `${d.severity}: ${where}${d.text}`;
    if (d.line !== null) {
      li.dataset.line = d.line;
      li.tabIndex = 0;
      li.addEventListener('click', () => goToLine(d.line, d.column));
    }
    return li;
  }));
  drawGutter();
}

let timer = null;
source.addEventListener('input', () => {
  drawGutter();
  clearTimeout(timer);
  // About 300 ms after the author stops typing, the definition is read again.
  timer = setTimeout(async () => {
    const r = await request('PUT', '/api/definition', { text: source.value });
    if (!r.ok) return notice(r.json.error || 'refused', true);
    drawDefinition(r.json.definition);
    if (r.json.definition.valid) expanded = new Map();
    draw(r.json.state);
  }, 300);
});
source.addEventListener('scroll', () => { gutter.scrollTop = source.scrollTop; });

// ---- the buttons --------------------------------------------------------------------

$('ok').addEventListener('click', () => send({ type: 'ok' }));
$('cancel').addEventListener('click', () => send({ type: 'cancel' }));
$('help').addEventListener('click', () => send({ type: 'help' }));
$('reopen').addEventListener('click', () => send({ type: 'reopen' }));

$('save-ini').addEventListener('click', async () => {
  const r = await request('POST', '/api/save/definition');
  if (!r.ok) {
    notice(r.json.error, true);
    if (r.json.line !== undefined) goToLine(r.json.line, r.json.column);
    return;
  }
  notice('Saved ' + r.json.file);
});

$('save-doc').addEventListener('click', async () => {
  const r = await request('POST', '/api/save/document');
  if (!r.ok) return notice(r.json.error, true);
  notice(r.json.written ? 'Saved ' + r.json.file : 'The document has not changed');
  const s = await request('GET', '/api/state');
  if (s.ok) draw(s.json);
});

(async () => {
  const d = await request('GET', '/api/definition');
  source.value = d.json.text;
  drawDefinition(d.json);
  const s = await request('GET', '/api/state');
  draw(s.json);
  document.body.dataset.ready = 'true';
})();
