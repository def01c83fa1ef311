// Starts a gateway on a fresh home and a headless Chromium for one test file.
import { chromium } from 'playwright-core';
import { execFileSync, spawn } from 'node:child_process';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const BIN = process.env.TARNBOX_BIN;
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
    srv.on('error', reject);
  });
}

async function waitForPort(port, proc) {
  for (let i = 0; i < 200; i++) {
    if (proc.exitCode !== null) throw new Error(`gateway exited with ${proc.exitCode}`);
    const ok = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1', () => { s.end(); resolve(true); });
      s.on('error', () => resolve(false));
    });
    if (ok) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error('gateway did not start');
}

// serveArgs go to `tarnbox serve`; files are written into the home first
// (name -> content), e.g. the HTTPS certificate and key.
export async function startGateway({ settings = [], users = [], serveArgs = [], files = {} } = {}) {
  if (!BIN) throw new Error('TARNBOX_BIN is not set');
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnbox-e2e-'));
  const port = await freePort();
  const run = (...args) => execFileSync(BIN, ['--home', home, ...args], { stdio: 'pipe' });
  run('init', '--http-port', String(port), '--smtp-server', '127.0.0.1', '--pop3-server', '127.0.0.1');
  if (settings.length) run('settings', 'set', ...settings);
  for (const u of users) run('users', 'add', ...u);
  for (const [name, content] of Object.entries(files)) fs.writeFileSync(path.join(home, name), content, { mode: 0o600 });
  const proc = spawn(BIN, ['--home', home, 'serve', ...serveArgs], { stdio: ['ignore', 'ignore', 'pipe'] });
  await waitForPort(port, proc);
  return {
    home, port, url: `http://127.0.0.1:${port}`, run,
    async stop() {
      if (proc.exitCode === null) {
        const exited = new Promise((r) => proc.once('exit', r));
        proc.kill('SIGTERM');
        await exited;
      }
      fs.rmSync(home, { recursive: true, force: true });
    },
  };
}

// env: the browser's environment on top of this one (HOME names the folder
// whose .pki/nssdb holds the certificates it trusts); args: further Chromium
// switches; options: further context options (bypassCSP, ...).
export async function startBrowser({ env = {}, args = [], options = {} } = {}) {
  const ud = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnbox-ud-'));
  const ctx = await chromium.launchPersistentContext(ud, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args: [...ARGS, ...args],
    env: { ...process.env, ...env }, ...options,
  });
  // The gateway's pages run only their own scripts; a script of theirs that
  // the policy refuses is a fault of the page, whichever journey meets it.
  const refused = [];
  const watch = (page) => page.on('console', (m) => {
    if (m.type() === 'error' && /Content Security Policy/.test(m.text())) refused.push(m.text());
  });
  ctx.pages().forEach(watch);
  ctx.on('page', watch);
  return {
    ctx, page: ctx.pages()[0] || await ctx.newPage(), refused,
    async close() {
      await ctx.close();
      fs.rmSync(ud, { recursive: true, force: true });
      if (refused.length) throw new Error(`the page policy refused: ${refused[0]}`);
    },
  };
}

// The demo's mail servers (Postfix delivering into Dovecot, on 127.0.0.1;
// scripts/demo_mail.py) with taro's demo messages waiting. info holds their
// ports and domain; stop() ends them.
export function startDemoMail() {
  const script = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'scripts',
    'demo_mail.py');
  const proc = spawn('python3', [script], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: proc.stdout });
  return new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`mail servers ended with ${code}`)));
    lines.once('line', (line) => resolve({
      proc, info: JSON.parse(line),
      async stop() {
        if (proc.exitCode !== null) return;
        const exited = new Promise((r) => proc.once('exit', r));
        proc.stdin.end(); // the servers stop when their stdin closes
        await exited;
      },
    }));
  });
}

// Logs in through the top page's form. A form login answers a POST: the
// list's own address is made from the login query every link repeats.
export async function logIn(page, gateway, user, password) {
  await page.goto(`${gateway.url}/`);
  await page.fill('input[name=a]', user);
  await page.fill('input[name=b]', password);
  await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  const href = await page.locator('a[href^="/mail/write/"]').first().getAttribute('href');
  return `${gateway.url}/mail/index.html${href.slice(href.indexOf('?'))}`;
}
