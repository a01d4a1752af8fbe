// Starting `kelvane preview` and headless Chromium: shared by the browser test and the
// browser benchmark (bench/preview_browser_bench.mjs).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

// Starts `kelvane preview ARGS...`, through `runner` (a command that runs a Windows
// program under Wine) when given; resolves {server, url} once it prints its address on
// its first line. Under Wine the paths stay as they are: "/tmp/..." is a folder of Z:.
export function startServer(kelvane, args, timeoutMs, runner) {
  return new Promise((resolve, reject) => {
    const command = runner ? [runner, kelvane] : [kelvane];
    const server = spawn(command[0], [...command.slice(1), 'preview', ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const timer = setTimeout(() => reject(new Error(`no address within ${timeoutMs} ms; stderr: ${err}`)), timeoutMs);
    server.on('error', (e) => { clearTimeout(timer); reject(new Error(`${kelvane}: ${e.message}`)); });
    server.on('exit', (code) => { clearTimeout(timer); reject(new Error(`the server ended with ${code}: ${err}`)); });
    server.stderr.on('data', (d) => { err += d; });
    server.stdout.on('data', (d) => {
      out += d;
      const m = /Kelvane preview: (http:\/\/127\.0\.0\.1:(\d+)\/)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ server, url: m[1], port: Number(m[2]) });
      }
    });
  });
}

// Stops a server with SIGINT; resolves its exit code, or 'timeout'.
export function stopServer(server, timeoutMs) {
  if (server.exitCode !== null) return Promise.resolve(server.exitCode);
  const exited = new Promise((resolve) => server.once('exit', resolve));
  server.kill('SIGINT');
  return Promise.race([exited, new Promise((r) => setTimeout(() => r('timeout'), timeoutMs))]);
}

export async function launchChromium(chromium, work) {
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

// The input element of control `id` of `kind` on the drawn page.
export const input = (id, kind) =>
  `.control[data-id="${id}"][data-kind="${kind}"] input, .control[data-id="${id}"][data-kind="${kind}"] select`;
