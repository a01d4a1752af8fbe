// Drives `kelvane preview` in headless Chromium: the flow an author goes through, from
// opening the example page to saving the document. Screenshots go under build/.
//
//   node preview_browser_test.mjs [KELVANE_PROGRAM]
//
// Environment: CHROMIUM (default /usr/bin/chromium), SCREENSHOTS (default
// build/preview-browser). Chromium that cannot start fails the test with the reason.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
const kelvane = process.argv[2] ?? path.join(root, 'build/default/apps/kelvane/kelvane');
const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
const shots = process.env.SCREENSHOTS ?? path.join(root, 'build/preview-browser');
const STEP_MS = 10000;
const WHOLE_MS = 120000;

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

// The server prints its address on its first line.
function startServer(addinDir, doc) {
  return new Promise((resolve, reject) => {
    server = spawn(kelvane, ['preview', '--addin-dir', addinDir, '--doc', doc], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const timer = setTimeout(() => reject(new Error(`no address within ${STEP_MS} ms; stderr: ${err}`)), STEP_MS);
    server.on('error', (e) => { clearTimeout(timer); reject(new Error(`${kelvane}: ${e.message}`)); });
    server.on('exit', (code) => { clearTimeout(timer); reject(new Error(`the server ended with ${code}: ${err}`)); });
    server.stderr.on('data', (d) => { err += d; });
    server.stdout.on('data', (d) => {
      out += d;
      const m = /Kelvane preview: (http:\/\/127\.0\.0\.1:\d+\/)/.exec(out);
      if (m) { clearTimeout(timer); resolve(m[1]); }
    });
  });
}

async function launchChromium() {
  try {
    return await puppeteer.launch({
      executablePath: chromium,
      headless: true,
      timeout: 30000,
      userDataDir: fs.mkdtempSync(path.join(work, 'profile-')),
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--disable-dev-shm-usage'],
    });
  } catch (e) {
    throw new Error(`Chromium cannot start (${chromium}): ${e.message.split('\n')[0]}. ` +
                    'Install it with scripts/setup (Debian package "chromium").');
  }
}

const input = (id, kind) => `.control[data-id="${id}"][data-kind="${kind}"] input, .control[data-id="${id}"][data-kind="${kind}"] select`;
const PART_NUMBER = input(0, 5);
const DRAWING_NUMBER = input(3, 5);
const CONFIGURATION = input(10002, 7);

async function valueIs(selector, expected) {
  await page.waitForFunction((s, v) => document.querySelector(s)?.value === v, { timeout: STEP_MS }, selector, expected)
    .catch(async () => {
      const now = await page.$eval(selector, (e) => e.value).catch(() => '(no such control)');
      throw new Error(`${selector} shows "${now}", not "${expected}"`);
    });
}

async function shot(name) {
  await page.screenshot({ path: path.join(shots, name + '.png') });
}

async function run() {
  fs.mkdirSync(shots, { recursive: true });
  const addinDir = path.join(work, 'addin');
  fs.cpSync(path.join(root, 'examples'), addinDir, { recursive: true });
  const docPath = path.join(addinDir, 'shaft.json');
  const docBefore = fs.readFileSync(docPath, 'utf8');

  step = 'start the server';
  const url = await startServer(addinDir, docPath);
  step = 'start Chromium';
  browser = await launchChromium();
  page = await browser.newPage();
  page.setDefaultTimeout(STEP_MS);
  await page.setViewport({ width: 1400, height: 860 });
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(e.message));

  step = 'open the page';
  await page.goto(url, { timeout: STEP_MS });
  await page.waitForSelector('body[data-ready="true"]');

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

  step = 'type a part number; the composite follows';
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-300-L');
  await valueIs(DRAWING_NUMBER, 'SH-300-L-A');
  await valueIs(PART_NUMBER, 'SH-300-L');
  await shot('typed');

  step = 'switch configuration';
  await page.select(CONFIGURATION, '0');
  await valueIs(PART_NUMBER, 'SH-200-S');
  await valueIs(DRAWING_NUMBER, 'SH-200-S-B');

  step = 'press "Reset All Fields"';
  await page.click('.control[data-id="20001"] button');
  await valueIs(PART_NUMBER, '');
  await valueIs(DRAWING_NUMBER, '-A');

  step = 'break a line of the definition';
  const source = await page.$eval('#source', (e) => e.value);
  const lines = source.split('\n');
  const broken = lines.findIndex((l) => l.startsWith('Part Number;Part_No'));
  lines[broken] = 'Part Number;Part_No;;not-a-number';
  await page.$eval('#source', (e, text) => { e.value = text; e.dispatchEvent(new Event('input')); }, lines.join('\n'));
  await page.waitForFunction((n) => [...document.querySelectorAll('.diagnostic.error')]
    .some((d) => d.dataset.line === String(n)), { timeout: STEP_MS }, broken);
  const gutterBad = await page.$$eval('#gutter .bad', (ds) => ds.map((d) => d.textContent));
  if (gutterBad.join() !== String(broken)) throw new Error(`the gutter marks lines ${gutterBad}, not ${broken}`);
  await shot('broken');

  step = 'fix the line; the page reopens';
  await page.$eval('#source', (e, text) => { e.value = text; e.dispatchEvent(new Event('input')); }, source);
  await page.waitForFunction(() => document.querySelectorAll('.diagnostic.error').length === 0 &&
    document.querySelector('#validity').textContent === 'reads', { timeout: STEP_MS });
  // Reopened on the document's active configuration; the Cancel before it saved nothing.
  await valueIs(PART_NUMBER, 'SH-200-L');

  step = 'type and press OK; the saved properties show';
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-400-L');
  await valueIs(DRAWING_NUMBER, 'SH-400-L-A');
  await page.click('#ok');
  await page.waitForSelector('#closed:not([hidden])');
  await page.waitForFunction(() => [...document.querySelectorAll('#properties tr.changed')]
    .some((r) => r.querySelector('.name').textContent === 'Part_No' && r.querySelector('.value').textContent === 'SH-400-L'),
  { timeout: STEP_MS });
  await shot('saved');

  step = 'save the document';
  await page.waitForFunction(() => !document.querySelector('#save-doc').disabled, { timeout: STEP_MS });
  await page.click('#save-doc');
  await page.waitForFunction(() => document.querySelector('#notice').textContent.startsWith('Saved'), { timeout: STEP_MS });
  const saved = JSON.parse(fs.readFileSync(docPath, 'utf8'));
  if (saved.configurationProperties.Long.Part_No !== 'SH-400-L') {
    throw new Error(`the saved document holds ${JSON.stringify(saved.configurationProperties.Long)}`);
  }
  if (fs.readFileSync(docPath, 'utf8') === docBefore) throw new Error('the document file did not change');
  if (pageErrors.length) throw new Error('the page raised: ' + pageErrors.join('; '));

  step = 'type on a reopened page, unsaved';
  await page.click('#reopen');
  await valueIs(PART_NUMBER, 'SH-400-L');
  await page.click(PART_NUMBER, { clickCount: 3 });
  await page.keyboard.type('SH-500-L');
  await valueIs(DRAWING_NUMBER, 'SH-500-L-A');

  step = 'stop the server';
  const exited = new Promise((resolve) => server.once('exit', resolve));
  server.kill('SIGINT');
  const code = await Promise.race([exited, new Promise((r) => setTimeout(() => r('timeout'), STEP_MS))]);
  if (code !== 0) throw new Error(`the server ended with ${code} after SIGINT`);
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
