// What every browser journey shares: the mail servers, a gateway on a fresh
// home, a headless Chromium, and the steps a person takes on the pages.
import { chromium } from 'playwright-core';
import { before, after } from 'node:test';
import { execFileSync, spawn } from 'node:child_process';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const BIN = process.env.TARNBOX_BIN;
export const HERE = path.dirname(fileURLToPath(import.meta.url));
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export const freePort = () => new Promise((resolve, reject) => {
  const srv = net.createServer().on('error', reject);
  srv.listen(0, '127.0.0.1', () => { const { port } = srv.address(); srv.close(() => resolve(port)); });
});

export const answers = (port) => new Promise((resolve) => {
  const s = net.connect(port, '127.0.0.1', () => { s.end(); resolve(true); });
  s.on('error', () => resolve(false));
});

// files (name -> content) are written into the home before `serve serveArgs`.
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
  for (let i = 0; !(await answers(port)); i++) {
    if (proc.exitCode !== null) throw new Error(`gateway exited with ${proc.exitCode}`);
    if (i === 200) throw new Error('gateway did not start');
    await sleep(50);
  }
  return {
    home, port, url: `http://127.0.0.1:${port}`, run,
    async stop() {
      await ended(proc, () => proc.kill('SIGTERM'));
      fs.rmSync(home, { recursive: true, force: true });
    },
  };
}

async function ended(proc, ask) {
  if (proc.exitCode !== null) return;
  const exited = new Promise((r) => proc.once('exit', r));
  ask();
  await exited;
}

// env: on top of ours (HOME/.pki/nssdb holds what it trusts); args: Chromium
// switches; options: context options.
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

// A Python helper printing its servers' ports as one JSON line, stopping
// them when its stdin closes: a test that dies leaves nothing running.
function startServers(script, input) {
  const proc = spawn('python3', [script], { stdio: ['pipe', 'pipe', 'inherit'] });
  if (input !== undefined) proc.stdin.write(JSON.stringify(input) + '\n');
  return new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`${path.basename(script)} ended with ${code}`)));
    readline.createInterface({ input: proc.stdout }).once('line', (line) => resolve({
      info: JSON.parse(line), stop: () => ended(proc, () => proc.stdin.end()),
    }));
  });
}

// A Dovecot box (pop3_bridge.py) of corpus names or { name, bytes }.
export function startBridge(messages = [], account = {}) {
  const list = messages.map((m) => (typeof m === 'string' ? m
    : { name: m.name, bytes_b64: Buffer.from(m.bytes).toString('base64') }));
  return startServers(path.join(HERE, 'pop3_bridge.py'), { messages: list, ...account });
}

// The demo's Postfix and Dovecot (scripts/demo_mail.py), taro's mail waiting.
export const startDemoMail = () => startServers(path.join(HERE, '..', '..', 'scripts', 'demo_mail.py'));

export const boxOwner = (pop) => ['--name', 'Hanako', '--mail-address', 'hanako@example.jp',
  '--id', pop.user, '--password', pop.password];

// A user of the demo's domain whose password is the id with "-pw".
export const demoUser = (servers, id, name, ...more) =>
  ['--name', name, '--mail-address', `${id}@${servers.domain}`, '--id', id, '--password', `${id}-pw`, ...more];

// One test file's set-up in one hook (hooks of a file may run at once):
// prepare(), mail servers (box: a bridge with those messages, demo: the
// demo's), a gateway from their info, a browser unless false, ready(j);
// cleanUp() once the rest has stopped.
export function journey({ box, account, demo = false, gateway = () => ({}), browser = {},
  prepare = async () => {}, ready = async () => {}, cleanUp = async () => {} } = {}) {
  const j = {};
  before(async () => {
    await prepare();
    if (box) j.mail = await startBridge(box, account);
    else if (demo) j.mail = await startDemoMail();
    j.info = j.mail?.info;
    j.gateway = await startGateway(gateway(j.info));
    if (browser) {
      j.browser = await startBrowser(browser);
      j.page = j.browser.page;
    }
    await ready(j);
  });
  after(async () => {
    try {
      await j.browser?.close();
    } finally {
      await j.gateway?.stop();
      await j.mail?.stop();
      await cleanUp();
    }
  });
  return j;
}

export const bodyText = (page) => page.evaluate(() => document.body.innerText);

export async function fill(page, fields) {
  for (const [name, value] of Object.entries(fields)) await page.fill(`:is(input, textarea)[name="${name}"]`, value);
}

// Clicks and waits for the page that answers; returns its text.
export async function follow(page, selector = 'input[type=submit]') {
  await Promise.all([page.waitForNavigation(), page.click(selector)]);
  return bodyText(page);
}

// Logs in through the top page's form; returns the list's address, made
// from the login query the links repeat (but the language switch's).
export async function logIn(page, gateway, user, password) {
  await page.goto(`${gateway.url}/`);
  await fill(page, { a: user, b: password });
  await follow(page);
  const href = await page.locator('a[href*="?user="]:not([hreflang])').first().getAttribute('href');
  return `${gateway.url}/mail/index.html${queryOf(href)}`;
}

export const queryOf = (url) => url.slice(url.indexOf('?'));

export async function download(page, link) {
  const [d] = await Promise.all([page.waitForEvent('download'), link.click()]);
  return fs.readFileSync(await d.path());
}

// Mojibake of any kind leaves escape bytes or replacement marks behind.
export const MOJIBAKE = /\x1b|\$B|\uFFFD/;
