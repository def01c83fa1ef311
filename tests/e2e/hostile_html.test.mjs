// Public XSS vector lists and generated vector classes, delivered as mail
// into a real Dovecot box, opened through the gateway in Chromium. A vector
// fails when, on its message page, any script runs, a dialog opens, a
// request leaves for another origin, the parsed page holds anything active,
// or the mail moved the gateway's own page parts. The context bypasses CSP:
// this proves the cleaner alone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startGateway, startBrowser, startBridge, boxOwner, logIn, queryOf } from './harness.mjs';
import { corpus } from './xss/corpus.mjs';
import { message } from './xss/mail.mjs';
import { TRAP, auditPage, settle } from './xss/page_audit.mjs';

const PER_MESSAGE = 24;
const PAGE_MS = 15000;
const SETTLE_MS = 3000;
// Nothing may resolve a name: any host but the gateway's is unknown.
const ARGS = ['--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'];

const CONTROL = [
  '<html><body bgcolor="#ffffee"><h1>Newsletter</h1><p>Plain <b>markup</b> and a',
  '<a href="http://shop.example/">link</a>.</p><table border=1><tr><td>cell</td></tr></table>',
  '</body></html>',
].join('\n');

// Batches of one source each (a source's strictness holds for the whole
// page), in turns of shape, and every 40th vector once more on its own.
function plan(sources) {
  const messages = [];
  const add = (source, vectors, shape) => {
    const number = messages.length + 1;
    messages.push({ number, source, vectors, shape, subject: `Hostile ${number}` });
  };
  for (const s of sources) {
    if (s.vectors[0].html === undefined && s.vectors[0].text === undefined) {
      s.vectors.forEach((v) => add(s, [v], 'whole'));
      continue;
    }
    for (let i = 0; i < s.vectors.length; i += PER_MESSAGE) {
      add(s, s.vectors.slice(i, i + PER_MESSAGE), (i / PER_MESSAGE) % 2 ? 'alternative' : 'mixed');
    }
    s.vectors.filter((_, i) => i % 40 === 0).forEach((v) => add(s, [v], 'whole'));
  }
  return messages;
}

// One gateway, one Dovecot box and the browser's detectors for one round.
class Round {
  constructor(browser, messages) { Object.assign(this, { browser, messages, current: null }); }

  note(finding) { this.current?.push(finding); }

  async open() {
    const harmless = { number: 0, subject: 'Control', shape: 'whole', vectors: [{ id: 'control', html: CONTROL }] };
    this.bridge = await startBridge([harmless, ...this.messages].map((m) => ({ name: `m${m.number}`, bytes: message(m) })));
    const pop = this.bridge.info;
    this.gateway = await startGateway({ settings: [`pop3_port=${pop.port}`], users: [boxOwner(pop)] });
    this.origin = new URL(this.gateway.url).origin;
    this.user = pop.user;
    const page = this.browser.page;
    this.query = queryOf(await logIn(page, this.gateway, pop.user, pop.password));
    this.rows = await page.locator('a[href^="/mail/a0"]').count();
    // The harmless first message shows where the gateway's parts belong.
    const control = await this.visit(1, null);
    this.baseline = control.shape;
    this.controlFindings = control.findings;
  }

  async close() { await this.gateway?.stop(); await this.bridge?.stop(); }

  // Opens row n and collects everything the detectors saw meanwhile.
  async visit(row, baseline) {
    const page = this.browser.page;
    const url = `${this.gateway.url}/mail/a${String(row).padStart(4, '0')}.html${this.query}`;
    const findings = [];
    this.current = findings;
    this.expected = url;
    let shape = null;
    try {
      const response = await page.goto(url, { waitUntil: 'load', timeout: PAGE_MS });
      if (!response || response.status() !== 200) findings.push(`page answered ${response && response.status()}`);
      await page.evaluate(settle, SETTLE_MS);
      const audit = await page.evaluate(auditPage, baseline);
      findings.push(...audit.findings);
      shape = audit.shape;
      if (page.url() !== url) findings.push(`page left for ${page.url()}`);
      const frames = page.frames().length;
      if (frames > 1) findings.push(`${frames - 1} frame(s) on the page`);
    } catch (e) {
      findings.push(`page failed: ${e.message.split('\n')[0]}`);
    }
    this.current = null;
    return { findings, shape, title: await page.title().catch(() => '') };
  }
}

async function newBrowser() {
  const browser = await startBrowser({ args: ARGS, options: { bypassCSP: true } });
  const { ctx, page } = browser;
  let round = null;
  browser.attach = (r) => { round = r; };
  const note = (finding) => round && round.note(finding);
  await ctx.exposeBinding('__xssReport', (_, kind, detail) => note(`script called ${kind}(${detail})`));
  await ctx.addInitScript({ content: TRAP });
  ctx.on('page', (p) => { if (p !== page) note(`a window opened: ${p.url()}`); });
  page.on('dialog', (d) => { note(`dialog ${d.type()}: ${d.message()}`); d.dismiss().catch(() => {}); });
  page.on('framenavigated', (f) => {
    if (f === page.mainFrame() && round && round.expected && f.url() !== round.expected) {
      note(`navigated to ${f.url()}`);
    }
  });
  // Requests to another origin never reach the network; an image request
  // is one the cleaner allows for stored lists (remote pictures in mail),
  // everything else is a finding.
  browser.remoteImages = 0;
  await ctx.route('**/*', (route) => {
    const request = route.request();
    const url = request.url();
    if (round && url.startsWith(`${round.origin}/`)) {
      // The page itself and the message's own parts; a mail that makes the
      // browser ask for any other path of the gateway acts through it.
      const document = request.isNavigationRequest() && request.frame() === page.mainFrame();
      // The gateway's one stylesheet, which every page head names.
      const sheet = request.resourceType() === 'stylesheet' && url.startsWith(`${round.origin}/style/`);
      if (document || sheet || url.startsWith(`${round.origin}/mail/~${round.user}/`)) return route.continue();
      note(`${request.resourceType()} request to the gateway's ${url.slice(round.origin.length, 100)}`);
      return route.abort('blockedbyclient');
    }
    const image = request.resourceType() === 'image' && /^https?:/.test(url);
    if (image && round && round.allowImages) browser.remoteImages++;
    else note(`${request.resourceType()} request to ${url.slice(0, 100)}`);
    return route.abort('blockedbyclient');
  });
  page.on('request', (r) => {
    if (!/^https?:/.test(r.url())) note(`${r.resourceType()} request to ${r.url().slice(0, 100)}`);
  });
  // Every script the page compiles in its own world: inline scripts,
  // handlers, javascript: URLs. The trap and Playwright's own scripts have
  // no URL of the page.
  const cdp = await ctx.newCDPSession(page);
  cdp.on('Debugger.scriptParsed', (e) => {
    if (e.url && e.url !== 'xss-trap.js' && round && e.url.startsWith(round.origin)) {
      note(`script compiled on the page (${e.length} chars at line ${e.startLine})`);
    }
  });
  await cdp.send('Debugger.enable');
  return browser;
}

let browser;
const summary = [];
const failures = [];

before(async () => { browser = await newBrowser(); });
after(async () => { await browser?.close(); });

// Runs messages through one round; returns [{ message, findings }] for the
// messages whose page showed anything.
async function runRound(messages) {
  const round = new Round(browser, messages);
  browser.attach(round);
  const failed = [];
  try {
    await round.open();
    assert.deepEqual(round.controlFindings, [], 'the harmless message already shows findings');
    assert.equal(round.rows, messages.length + 1, 'the list shows every delivered message');
    for (const m of messages) {
      round.allowImages = !m.source.strict;
      const { findings, title } = await round.visit(m.number + 1, round.baseline);
      if (!title.includes(m.subject)) findings.push(`row ${m.number + 1} is "${title}", not ${m.subject}`);
      if (findings.length) failed.push({ message: m, findings: [...new Set(findings)] });
    }
  } finally {
    browser.attach(null);
    await round.close();
  }
  return failed;
}

test('the detectors see a script, a handler, a load and a dialog', async () => {
  const page = browser.page;
  const seen = [];
  const round = { origin: 'about:', note: (f) => seen.push(f), expected: null };
  browser.attach(round);
  try {
    // A new document, so that the trap is in place as on every message page.
    await page.goto('about:blank');
    await page.setContent([
      '<img src="http://evil.example/x.png" onerror="alert(1)">',
      '<a href="javascript:confirm(2)">x</a><svg><set attributeName=x to=1 /></svg>',
      '<iframe srcdoc="<script>prompt(3)</script>"></iframe>',
    ].join(''));
    await page.evaluate(settle, SETTLE_MS);
    const audit = await page.evaluate(auditPage, null);
    seen.push(...audit.findings);
  } finally {
    browser.attach(null);
  }
  const text = seen.join('\n');
  for (const mark of [/image request to http:\/\/evil\.example\/x\.png/, /script called alert\(1\)/,
    /script called prompt\(3\)/, /script compiled on the page/, /handler onerror/, /javascript: URL in href/,
    /foreign element <svg>/, /element <iframe>/]) assert.match(text, mark);
});

test('no vector of the corpus acts on its message page', async () => {
  const sources = corpus();
  const messages = plan(sources);
  const failed = await runRound(messages);
  // A page that showed anything is opened again vector by vector, so that
  // the report names each vector that acts.
  const singles = [];
  for (const { message: m, findings } of failed) {
    if (m.vectors.length === 1) failures.push({ source: m.source.source, vector: m.vectors[0], findings });
    else for (const v of m.vectors) singles.push({ source: m.source, vectors: [v], shape: 'mixed', batch: m, findings });
  }
  if (singles.length) {
    const again = singles.map((s, i) => ({ ...s, number: i + 1, subject: `Single ${i + 1}` }));
    const failedAlone = new Set();
    for (const { message: m, findings } of await runRound(again)) {
      failedAlone.add(m.batch);
      failures.push({ source: m.source.source, vector: m.vectors[0], findings });
    }
    for (const { message: m, findings } of failed) {
      if (m.vectors.length > 1 && !failedAlone.has(m)) {
        failures.push({ source: m.source.source, vector: { id: `${m.subject} (only together)` }, findings });
      }
    }
  }
  let total = 0;
  for (const s of sources) {
    const acted = new Set(failures.filter((f) => f.source === s.source).map((f) => f.vector.id));
    summary.push(`${s.source}: ${acted.size}/${s.vectors.length} acted`);
    total += s.vectors.length;
  }
  const acted = new Set(failures.map((f) => `${f.source}/${f.vector.id}`)).size;
  console.log([...summary, `all: ${acted}/${total} acted, ${messages.length} messages,`,
    `${browser.remoteImages} remote image requests of stored lists stopped`].join('\n'));
  const report = failures.map((f) =>
    `${f.vector.id} ${JSON.stringify((f.vector.html ?? f.vector.text ?? '').slice(0, 160))}\n  ${f.findings.join('\n  ')}`);
  if (report.length) console.log(report.join('\n'));
  assert.deepEqual(report, []);
});
