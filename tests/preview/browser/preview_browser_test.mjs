// Drives `kelvane preview` in headless Chromium: the flow an author goes through, from
// opening the example page to saving the document, by mouse and by keyboard alone,
// with axe-core's checks, and with the server stopped and started again on its port.
// Screenshots go under build/.
//
//   node preview_browser_test.mjs [KELVANE_PROGRAM]
//
// Environment: CHROMIUM (default /usr/bin/chromium), SCREENSHOTS (default
// build/preview-browser). Chromium that cannot start fails the test with the reason.
// KELVANE_WINE_RUN names a command that runs a Windows program (tests/com/wine-run):
// KELVANE_PROGRAM is then kelvane.exe, served under Wine, and the test goes as far as
// an edit and "Save Kelvane.ini".
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import { input, launchChromium, startServer, stopServer } from './preview_driver.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../../..');
const kelvane = process.argv[2] ?? path.join(root, 'build/default/apps/kelvane/kelvane');
const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
const wine = process.env.KELVANE_WINE_RUN;
const shots = process.env.SCREENSHOTS ?? path.join(root, wine ? 'build/preview-browser-wine' : 'build/preview-browser');
const axeScript = createRequire(path.join(here, 'package.json')).resolve('axe-core/axe.min.js');
const STEP_MS = 10000;
const START_MS = wine ? 60000 : STEP_MS;  // Wine may start its services first
const WHOLE_MS = 180000;

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvane-browser-'));
let server = null;
let browser = null;
let page = null;
let step = 'start';

function fail(message) {
  console.error(`preview browser test: FAILED at "${step}": ${message}`);
  process.exitCode = 1;
}

async function cleanUp() {
  if (browser) await browser.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
}

const watchdog = setTimeout(async () => {
  fail(`the test took longer than ${WHOLE_MS / 1000} s`);
  await cleanUp();
  process.exit(1);
}, WHOLE_MS);

const PART_NUMBER = input(0, 5);
const DRAWING_NUMBER = input(3, 5);
const CONFIGURATION = input(10002, 7);
const RESET = '.control[data-id="20001"] button';

async function valueIs(selector, expected) {
  await page.waitForFunction((s, v) => document.querySelector(s)?.value === v, { timeout: STEP_MS }, selector, expected)
    .catch(async () => {
      const now = await page.$eval(selector, (e) => e.value).catch(() => '(no such control)');
      throw new Error(`${selector} shows "${now}", not "${expected}"`);
    });
}

const until = (fn, ...args) => page.waitForFunction(fn, { timeout: STEP_MS }, ...args);

// "Save Kelvane.ini" writes the definition as it stands, each line ending in CR LF.
async function saveDefinition(addinDir) {
  const before = fs.readFileSync(path.join(addinDir, 'Kelvane.ini'), 'latin1');
  await page.click('#save-ini');
  await until(() => document.querySelector('#notice').textContent.startsWith('Saved'));
  const saved = fs.readFileSync(path.join(addinDir, 'Kelvane.ini'), 'latin1');
  if (saved !== before.replace(/\r?\n/g, '\r\n')) {
    throw new Error(`Kelvane.ini was saved as ${JSON.stringify(saved.slice(0, 80))}..., not in CR LF as it stood`);
  }
}

async function shot(name) {
  await page.screenshot({ path: path.join(shots, name + '.png') });
}

async function setDefinition(text) {
  await page.$eval('#source', (e, t) => { e.value = t; e.dispatchEvent(new Event('input')); }, text);
}

// axe-core's serious and critical findings on the page as it is now.
async function accessible(what) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.addScriptTag({ path: axeScript });
  const found = await page.evaluate(async () => {
    const r = await window.axe.run(document, { resultTypes: ['violations'] });
    return r.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id} (${v.impact}): ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(', ')}`);
  });
  if (found.length) throw new Error(`axe-core on ${what}: ${found.join('; ')}`);
}

const focusIs = (selector) => page.evaluate((s) => document.activeElement === document.querySelector(s), selector);

// Presses Tab until `selector` has the focus, as a person without a mouse would.
async function tabTo(selector) {
  for (let i = 0; i < 60; i++) {
    if (await focusIs(selector)) return;
    await page.keyboard.press('Tab');
  }
  throw new Error(`Tab never reached ${selector}`);
}

async function openPage(url) {
  page = await browser.newPage();
  page.setDefaultTimeout(STEP_MS);
  await page.setViewport({ width: 1400, height: 860 });
  await page.setBypassCSP(true);  // axe-core goes in as an inline script
  page.on('pageerror', (e) => pageErrors.push(e.message));
  await page.goto(url, { timeout: STEP_MS });
  await page.waitForSelector('body[data-ready="true"]');
}

const pageErrors = [];

async function run() {
  fs.mkdirSync(shots, { recursive: true });
  const addinDir = path.join(work, 'addin');
  fs.cpSync(path.join(root, 'examples'), addinDir, { recursive: true });
  const docPath = path.join(addinDir, 'shaft.json');
  const docBefore = fs.readFileSync(docPath, 'utf8');
  const serverArgs = ['--addin-dir', addinDir, '--doc', docPath];

  step = 'start the server';
  const started = await startServer(kelvane, serverArgs, START_MS, wine);
  server = started.server;
  const { url, port } = started;
  step = 'start Chromium';
  browser = await launchChromium(chromium, work);

  step = 'open the page';
  await openPage(url);

  step = 'groups and controls are drawn';
  const groups = await page.$$eval('.group', (gs) => gs.map((g) => ({
    caption: g.querySelector('.group-caption').textContent, collapsed: g.classList.contains('collapsed') })));
  const expected = [['Configurations', false], ['Identification', false], ['Manufacturing', false],
                    ['Approval', true], ['Tools...', false]];
  for (const [caption, collapsed] of expected) {
    const g = groups.find((x) => x.caption === caption);
    if (!g) throw new Error(`no group "${caption}" among ${JSON.stringify(groups)}`);
    if (g.collapsed !== collapsed) throw new Error(`group "${caption}" collapsed: ${g.collapsed}`);
  }
  await valueIs(PART_NUMBER, 'SH-200-L');
  if (!(await page.$eval(DRAWING_NUMBER, (e) => e.readOnly))) throw new Error('the read-only drawing number can be typed in');
  const tip = await page.$eval('.control[data-id="0"][data-kind="5"]', (e) => e.title);
  if (tip !== 'Part Number') throw new Error(`the part number's tooltip is "${tip}"`);
  const names = await page.$$eval('#ok, #cancel, #help', (bs) => bs.map((b) => b.getAttribute('aria-label')));
  if (names.join() !== 'OK,Cancel,Help') throw new Error(`OK, Cancel and Help are named ${names}`);
  await accessible('the page');

  step = 'type a part number; the composite follows';
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-300-L');
  await valueIs(DRAWING_NUMBER, 'SH-300-L-A');
  await valueIs(PART_NUMBER, 'SH-300-L');
  await until(() => [...document.querySelectorAll('#properties .prop-row.will-change')]
    .some((r) => r.querySelector('.name').textContent === 'Part_No' && r.querySelector('.pending').textContent === 'SH-300-L'));
  await shot('typed');

  if (wine) {
    step = 'save Kelvane.ini';
    await saveDefinition(addinDir);
    step = 'stop the server';
    const code = await stopServer(server, STEP_MS);
    if (code !== 0) throw new Error(`the server ended with ${code} after SIGINT`);
    console.log('preview browser test under Wine: passed; screenshots in ' + shots);
    return;
  }

  step = 'switch configuration';
  await page.select(CONFIGURATION, '0');
  await valueIs(PART_NUMBER, 'SH-200-S');
  await valueIs(DRAWING_NUMBER, 'SH-200-S-B');

  step = 'by keyboard alone: fill a field, press Reset with Enter';
  await page.focus('#save-ini');
  await tabTo(PART_NUMBER);  // Tab selects the box's text: typing replaces it
  await page.keyboard.type('K-1');
  await valueIs(DRAWING_NUMBER, 'K-1-B');
  await tabTo(RESET);
  await page.keyboard.press('Enter');
  await valueIs(PART_NUMBER, '');
  await valueIs(DRAWING_NUMBER, '-A');
  if (!(await focusIs(RESET))) throw new Error('the focus left "Reset All Fields"');
  const replaced = await page.$eval('#page-notice-text', (e) => e.textContent);
  if (!replaced.includes('Part Number \u201cK-1\u201d (now \u201c\u201d)')) throw new Error(`the notice says "${replaced}"`);

  step = 'help shows the add-in\'s answer';
  await page.click('#help');
  await until(() => document.querySelector('#page-notice-text').textContent.includes('No help available'));

  step = 'break a line of the definition';
  const source = await page.$eval('#source', (e) => e.value);
  const lines = source.split('\n');
  const broken = lines.findIndex((l) => l.startsWith('Part Number;Part_No'));
  lines[broken] = 'Part Number;Part_No;;not-a-number';
  await setDefinition(lines.join('\n'));
  await until((n) => [...document.querySelectorAll('.diagnostic.error')].some((d) => d.dataset.line === String(n)), broken);
  const gutterBad = await page.$$eval('#gutter-lines .error', (ds) => ds.map((d) => d.textContent));
  if (gutterBad.join() !== String(broken)) throw new Error(`the gutter marks lines ${gutterBad}, not ${broken}`);
  const said = await page.$eval('.diagnostic.error', (e) => e.textContent);
  if (!said.includes('not a 16-bit number') || !said.includes(`Error caused by line ${broken} of Kelvane.ini`)) {
    throw new Error(`the diagnostic says "${said}"`);
  }
  if (await page.$eval('#unsaved', (e) => e.hidden)) throw new Error('no "unsaved" marker beside "Save Kelvane.ini"');
  await accessible('the page with a diagnostic');
  await shot('broken');

  step = 'find in the editor; lines coloured by kind';
  await page.focus('#source');
  await page.keyboard.down('Control');
  await page.keyboard.press('f');
  await page.keyboard.up('Control');
  await page.waitForSelector('#find:not([hidden])');
  await page.keyboard.type('[Revision]');
  await until(() => document.querySelector('#find-count').textContent === '1 of 1');
  await page.keyboard.press('Escape');
  const found = await page.evaluate(() => document.activeElement.id === 'source' &&
    document.activeElement.value.slice(document.activeElement.selectionStart, document.activeElement.selectionEnd));
  if (found !== '[Revision]') throw new Error(`Escape from find leaves "${found}" selected in the editor`);
  const kinds = await page.$$eval('#highlight span', (ss) => [...new Set(ss.map((e) => e.className))].sort().join(' '));
  for (const kind of ['k-comment', 'k-header', 'k-option', 'k-caption', 'k-part', 'k-entry', 'k-code']) {
    if (!kinds.split(' ').includes(kind)) throw new Error(`no line coloured as ${kind}: ${kinds}`);
  }

  step = 'reach the diagnostic by keyboard and follow it';
  await page.focus('#source');
  await page.keyboard.down('Shift');
  await page.keyboard.press('Tab');
  await page.keyboard.up('Shift');
  if (!(await focusIs('.diagnostic.error'))) throw new Error('Shift+Tab from the editor does not reach the diagnostic');
  await page.keyboard.press('Enter');
  const caret = await page.evaluate(() => document.activeElement.id === 'source' &&
    document.activeElement.value.slice(0, document.activeElement.selectionStart).split('\n').length - 1);
  if (caret !== broken) throw new Error(`Enter on the diagnostic went to line ${caret}, not ${broken}`);

  step = 'reopen on the broken definition: the add-in\'s message box';
  await page.click('#cancel');
  await page.waitForSelector('#closed:not([hidden])');
  if (!(await focusIs('#reopen'))) throw new Error('after Cancel the focus is not on "Open the page"');
  await page.click('#reopen');
  await page.waitForSelector('dialog#message[open]');
  const message = await page.$eval('#message-text', (e) => e.textContent);
  if (message !== `Error caused by line ${broken} of Kelvane.ini`) throw new Error(`the message box says "${message}"`);
  await accessible('a message box');
  await page.click('#message-ok');

  step = 'fix the line; the page reopens';
  await setDefinition(source);
  await until(() => document.querySelectorAll('.diagnostic.error').length === 0 &&
    document.querySelector('#validity').textContent === 'reads');
  // Reopened on the document's active configuration; the Cancel before it saved nothing.
  await valueIs(PART_NUMBER, 'SH-200-L');

  step = 'type and press OK; the saved properties show';
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-400-L');
  await valueIs(DRAWING_NUMBER, 'SH-400-L-A');
  await page.click('#ok');
  await page.waitForSelector('#closed:not([hidden])');
  await until(() => [...document.querySelectorAll('#properties .prop-row.changed')]
    .some((r) => r.querySelector('.name').textContent === 'Part_No' && r.querySelector('.value').textContent === 'SH-400-L'));
  await shot('saved');

  step = '"Edit Kelvane.ini file" shows the command line and goes to the editor';
  await page.click('#reopen');
  await valueIs(PART_NUMBER, 'SH-400-L');
  await page.click('.control[data-id="20004"] button');
  await until(() => document.activeElement.id === 'source');
  const edit = await page.$eval('#page-notice-text', (e) => e.textContent);
  // The author's folder, however the program writes its path, not the scratch copy's.
  if (!edit.includes(path.basename(work)) || !edit.includes('Kelvane.ini') || edit.includes('kelvane-preview-')) {
    throw new Error(`the notice says "${edit}"`);
  }

  step = 'save the document';
  await until(() => !document.querySelector('#save-doc').disabled);
  await page.click('#save-doc');
  await until(() => document.querySelector('#notice').textContent.startsWith('Saved'));
  const saved = JSON.parse(fs.readFileSync(docPath, 'utf8'));
  if (saved.configurationProperties.Long.Part_No !== 'SH-400-L') {
    throw new Error(`the saved document holds ${JSON.stringify(saved.configurationProperties.Long)}`);
  }
  if (fs.readFileSync(docPath, 'utf8') === docBefore) throw new Error('the document file did not change');

  step = 'typing right after a definition edit: the definition is read first, the typing stays';
  const commented = source + '# read before the typing\n';
  await setDefinition(commented);
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-500-L');
  // Past the editor's pause, when a definition sent after the typing would reopen the page.
  await new Promise((resolve) => setTimeout(resolve, 600));
  await until(() => document.body.dataset.pending === '0');
  await valueIs(DRAWING_NUMBER, 'SH-500-L-A');
  const read = await page.evaluate(async () => (await (await fetch('/api/definition')).json()).text);
  if (read !== commented) throw new Error('the server does not hold the edited definition');

  step = 'the server stops: a banner, and nothing is lost';
  const edited = source + '# kept while the server was away\n';
  await setDefinition(edited);
  await until(() => !document.querySelector('#unsaved').hidden && document.body.dataset.pending === '0');
  const code = await stopServer(server, STEP_MS);
  if (code !== 0) throw new Error(`the server ended with ${code} after SIGINT`);
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-600-L');
  await page.waitForSelector('#offline:not([hidden])');
  await shot('offline');

  step = 'the server starts again on its port: the banner goes, the typing arrives';
  server = (await startServer(kelvane, [...serverArgs, '--port', String(port)], STEP_MS)).server;
  await page.waitForSelector('#offline[hidden]', { timeout: 3 * STEP_MS });
  await valueIs(DRAWING_NUMBER, 'SH-600-L-A');
  if ((await page.$eval('#source', (e) => e.value)) !== edited) throw new Error('the editor lost its text');
  const held = await page.evaluate(async () => (await (await fetch('/api/definition')).json()).text);
  if (held !== edited) throw new Error('the restarted server did not get the editor\'s text');
  if (await page.$eval('#unsaved', (e) => e.hidden)) throw new Error('the "unsaved" marker went away');

  step = 'a new tab on a new run offers the definition this browser kept';
  await page.close();
  await stopServer(server, STEP_MS);
  server = (await startServer(kelvane, [...serverArgs, '--port', String(port)], STEP_MS)).server;
  await openPage(url);
  await page.waitForSelector('#restore:not([hidden])');
  await page.focus('#restore-yes');
  await page.keyboard.press('Enter');
  await until((t) => document.querySelector('#source').value === t, edited);
  await page.keyboard.down('Control');
  await page.keyboard.press('z');
  await page.keyboard.up('Control');
  await until((t) => document.querySelector('#source').value === t, source);
  if (pageErrors.length) throw new Error('the page raised: ' + pageErrors.join('; '));

  step = 'a narrow window: page, definition and document stacked, nothing sideways';
  await page.setViewport({ width: 390, height: 844 });
  const layout = await page.evaluate(() => ({
    width: document.documentElement.scrollWidth,
    tops: ['#manager', '#definition', '#document'].map((s) => document.querySelector(s).getBoundingClientRect().top),
  }));
  if (layout.width > 390) throw new Error(`at 390 px the page needs ${layout.width} px`);
  if (!(layout.tops[0] < layout.tops[1] && layout.tops[1] < layout.tops[2])) throw new Error(`the panes are not stacked: ${layout.tops}`);
  await page.screenshot({ path: path.join(shots, 'narrow.png'), fullPage: true });

  step = 'stop the server';
  if ((await stopServer(server, STEP_MS)) !== 0) throw new Error('the server did not stop cleanly');
  // Stopping writes nothing: the file is as saved, Kelvane.ini as it was.
  if (JSON.parse(fs.readFileSync(docPath, 'utf8')).configurationProperties.Long.Part_No !== 'SH-400-L') {
    throw new Error('the document changed when the server stopped');
  }
  if (fs.readFileSync(path.join(addinDir, 'Kelvane.ini'), 'utf8') !== fs.readFileSync(path.join(root, 'examples/Kelvane.ini'), 'utf8')) {
    throw new Error('Kelvane.ini changed without its save button');
  }
  console.log('preview browser test: passed; screenshots in ' + shots);
}

try {
  await run();
} catch (e) {
  if (page) await shot('failure').catch(() => {});
  fail(e.message);
} finally {
  clearTimeout(watchdog);
  await cleanUp();
}
