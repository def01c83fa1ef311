// What every browser journey shares: the mail servers and a gateway on a
// fresh home, a headless Chromium, and the steps a person takes on the pages.
import { chromium } from 'playwright-core';
import { before, after } from 'node:test';
import { spawn } from 'node:child_process';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const HERE = path.dirname(fileURLToPath(import.meta.url));
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

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

// A gateway and its mail servers, started by servers.py with the integration
// tests' harness; they stop when its stdin closes, so a test that dies leaves
// nothing running.
//   box: the messages (bytes) of a Dovecot box of hanako's, or of account's
//     ({ user, password }).
//   demo: the demo's Dovecot and Postfix instead, taro's mail waiting.
//   gateway: { settings: ['key=value'], name: the box owner's, https: true
//     (a TLS listener too), poppassd: true (the account as a system account,
//     behind poppassd) }.
// Resolves to { url, user, password, domain, stop() }; with https also
// httpsUrl and browserHome, whose NSS database alone trusts its certificate;
// with poppassd ask({ poppassd_accepts: password }) gives { accepts }.
export function startServers({ box = [], demo = false, account, gateway = {} } = {}) {
  const proc = spawn('python3', [path.join(HERE, 'servers.py')], { stdio: ['pipe', 'pipe', 'inherit'] });
  box = box.map((m) => Buffer.from(m).toString('base64'));
  proc.stdin.write(JSON.stringify({ box, demo, account, gateway }) + '\n');
  return new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`servers.py ended with ${code}`)));
    const lines = readline.createInterface({ input: proc.stdout });
    const ask = (question) => new Promise((answer) => {
      lines.once('line', (line) => answer(JSON.parse(line)));
      proc.stdin.write(JSON.stringify(question) + '\n');
    });
    const exited = new Promise((r) => proc.once('exit', r));
    lines.once('line', (line) => resolve({
      ...JSON.parse(line), ask, stop: () => { proc.stdin.end(); return exited; },
    }));
  });
}

// One test file's set-up in one hook (hooks of a file may run at once):
// the servers (box, account, demo, gateway), a browser unless false (its
// options may be made from the servers), then ready(j).
export function journey({ box, demo = false, account, gateway, browser = {},
  ready = async () => {} } = {}) {
  const j = {};
  before(async () => {
    j.servers = await startServers({ box, demo, account, gateway });
    if (browser) {
      j.browser = await startBrowser(typeof browser === 'function' ? browser(j.servers) : browser);
      j.page = j.browser.page;
    }
    await ready(j);
  });
  after(async () => {
    try {
      await j.browser?.close();
    } finally {
      await j.servers?.stop();
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

// Mojibake of any kind leaves escape bytes or replacement marks behind.
export const MOJIBAKE = /\x1b|\$B|\uFFFD/;
