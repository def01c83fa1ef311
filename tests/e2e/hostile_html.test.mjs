// Public XSS vector lists and generated classes, delivered as mail into a
// real Dovecot box and opened in Chromium. A vector fails when its page runs
// a script, opens a dialog, sends a request elsewhere, holds anything active,
// or moves the gateway's own page parts. CSP is bypassed: the cleaner alone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, startServers, logIn, queryOf } from './harness.mjs';
import { corpus } from './xss/corpus.mjs';
import { message } from './xss/mail.mjs';
import { TRAP, auditPage, settle } from './xss/page_audit.mjs';

const PER_MESSAGE = 24;
const PAGE_MS = 15000;
const SETTLE_MS = 3000;
// Nothing may resolve a name: any host but the gateway's is unknown.
const ARGS = ['--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'];
const CONTROL = `<html><body bgcolor="#ffffee"><h1>Newsletter</h1><p>Plain <b>markup</b> and a
<a href="http://shop.example/">link</a>.</p><table border=1><tr><td>cell</td></tr></table>
</body></html>`;

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

// The round under way: origin, the box's user, the page expected, whether
// pictures may load, and the visit's findings (null between visits).
let round = null;
const note = (finding) => round?.findings?.push(finding);
let browser;
let remoteImages = 0;

before(async () => {
  browser = await startBrowser({ args: ARGS, options: { bypassCSP: true } });
  const { ctx, page } = browser;
  await ctx.exposeBinding('__xssReport', (_, kind, detail) => note(`script called ${kind}(${detail})`));
  await ctx.addInitScript({ content: TRAP });
  ctx.on('page', (p) => { if (p !== page) note(`a window opened: ${p.url()}`); });
  page.on('dialog', (d) => { note(`dialog ${d.type()}: ${d.message()}`); d.dismiss().catch(() => {}); });
  page.on('framenavigated', (f) => {
    if (f === page.mainFrame() && round?.expected && f.url() !== round.expected) note(`navigated to ${f.url()}`);
  });
  // Nothing reaches the network; remote images are allowed for stored lists.
  await ctx.route('**/*', (route) => {
    const request = route.request();
    const [url, type] = [request.url(), request.resourceType()];
    if (round && url.startsWith(`${round.origin}/`)) {
      // The page, the stylesheet every head names, and the message's own
      // parts: asking for any other path of the gateway is acting.
      const document = request.isNavigationRequest() && request.frame() === page.mainFrame();
      const sheet = type === 'stylesheet' && url.startsWith(`${round.origin}/style/`);
      if (document || sheet || url.startsWith(`${round.origin}/mail/~${round.user}/`)) return route.continue();
      note(`${type} request to the gateway's ${url.slice(round.origin.length, 100)}`);
    } else if (type === 'image' && /^https?:/.test(url) && round?.allowImages) {
      remoteImages++;
    } else {
      note(`${type} request to ${url.slice(0, 100)}`);
    }
    return route.abort('blockedbyclient');
  });
  page.on('request', (r) => {
    if (!/^https?:/.test(r.url())) note(`${r.resourceType()} request to ${r.url().slice(0, 100)}`);
  });
  // Every script compiled in the page's world (the trap's and Playwright's
  // have no URL of the page).
  const cdp = await ctx.newCDPSession(page);
  cdp.on('Debugger.scriptParsed', (e) => {
    if (e.url && e.url !== 'xss-trap.js' && round && e.url.startsWith(round.origin)) {
      note(`script compiled on the page (${e.length} chars at line ${e.startLine})`);
    }
  });
  await cdp.send('Debugger.enable');
});
after(async () => { await browser?.close(); });

// Opens row n and collects what the detectors saw; baseline: where the
// gateway's parts sit on a harmless page.
async function visit(gateway, query, row, baseline) {
  const { page } = browser;
  const url = `${gateway.url}/mail/a${String(row).padStart(4, '0')}.html${query}`;
  const findings = [];
  Object.assign(round, { findings, expected: url });
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
  round.findings = null;
  return { findings, shape, title: await browser.page.title().catch(() => '') };
}

// Delivers the messages behind a harmless one to a fresh box and gateway,
// opens each; returns [{ message, findings }] of those that showed anything.
async function runRound(messages) {
  const harmless = { number: 0, subject: 'Control', shape: 'whole', vectors: [{ id: 'control', html: CONTROL }] };
  const box = [harmless, ...messages].map(message);
  const gateway = await startServers({ box });
  const failed = [];
  try {
    round = { origin: new URL(gateway.url).origin, user: gateway.user };
    const query = queryOf(await logIn(browser.page, gateway, gateway.user, gateway.password));
    const rows = await browser.page.locator('a[href^="/mail/a0"]').count();
    // The harmless first message shows where the gateway's parts belong.
    const control = await visit(gateway, query, 1, null);
    assert.deepEqual(control.findings, [], 'the harmless message already shows findings');
    assert.equal(rows, messages.length + 1, 'the list shows every delivered message');
    for (const m of messages) {
      round.allowImages = !m.source.strict;
      const { findings, title } = await visit(gateway, query, m.number + 1, control.shape);
      if (!title.includes(m.subject)) findings.push(`row ${m.number + 1} is "${title}", not ${m.subject}`);
      if (findings.length) failed.push({ message: m, findings: [...new Set(findings)] });
    }
  } finally {
    round = null;
    await gateway.stop();
  }
  return failed;
}

test('the detectors see a script, a handler, a load and a dialog', async () => {
  const { page } = browser;
  const seen = [];
  round = { origin: 'about:', findings: seen };
  try {
    // A new document, so that the trap is in place as on every message page.
    await page.goto('about:blank');
    await page.setContent('<img src="http://evil.example/x.png" onerror="alert(1)"><a href="javascript:confirm(2)">x</a>'
      + '<svg><set attributeName=x to=1 /></svg><iframe srcdoc="<script>prompt(3)</script>"></iframe>');
    await page.evaluate(settle, SETTLE_MS);
    seen.push(...(await page.evaluate(auditPage, null)).findings);
  } finally {
    round = null;
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
  // A page that showed anything is opened again vector by vector.
  const [failures, singles] = [[], []];
  for (const { message: m, findings } of failed) {
    if (m.vectors.length === 1) failures.push({ source: m.source.source, vector: m.vectors[0], findings });
    else for (const v of m.vectors) singles.push({ source: m.source, vectors: [v], shape: 'mixed', batch: m });
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
  const summary = sources.map((s) => `${s.source}: ${new Set(failures.filter((f) => f.source === s.source)
    .map((f) => f.vector.id)).size}/${s.vectors.length} acted`);
  const total = sources.reduce((n, s) => n + s.vectors.length, 0);
  const acted = new Set(failures.map((f) => `${f.source}/${f.vector.id}`)).size;
  console.log([...summary, `all: ${acted}/${total} acted, ${messages.length} messages,`,
    `${remoteImages} remote image requests of stored lists stopped`].join('\n'));
  const report = failures.map((f) =>
    `${f.vector.id} ${JSON.stringify((f.vector.html ?? f.vector.text ?? '').slice(0, 160))}\n  ${f.findings.join('\n  ')}`);
  if (report.length) console.log(report.join('\n'));
  assert.deepEqual(report, []);
});
