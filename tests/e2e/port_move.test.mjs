// The administrator moves the HTTP port of a running gateway while a browser
// keeps loading pages: what was accepted on the old port is answered in
// full, and the new port serves at once. A refused move is the integration
// tests' business.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import net from 'node:net';
import { promisify } from 'node:util';
import { journey, BIN, freePort, logIn, sleep } from './harness.mjs';

const j = journey({ gateway: () => ({ users: [['--name', '太郎', '--mail-address', 't@e.jp', '--id', 'taro', '--password', 'pw']] }) });

// Loads the top page over and over in its own tab until stopped; every load
// either shows the whole page or fails outright. A failed load leaves the
// browser committing its own error page, which would cut into the next
// load, so the tab is replaced after a failure.
function keepLoading(ctx, tab, urlOf, results, stop) {
  const within = (promise) => Promise.race([promise, new Promise((_, no) => setTimeout(() => no(new Error('no answer in 10 s')), 10000))]);
  return (async () => {
    let page = await within(ctx.newPage());
    while (!stop.done) {
      const url = urlOf();
      try {
        const response = await within(page.goto(url, { timeout: 10000 }));
        const text = await within(page.evaluate(() => document.body.innerText));
        results.push({ tab, url, status: response.status(), whole: /パスワード/.test(text) && /ユーザーの追加/.test(text) });
      } catch (e) {
        results.push({ tab, url, error: String(e.message).split('\n')[0] });
        await page.close().catch(() => {});
        page = await within(ctx.newPage());
      }
    }
    await page.close();
  })();
}

// A request sent in two halves around the move: its connection was accepted
// by the old listener and must still be answered.
function halfRequest(port) {
  return new Promise((resolve, reject) => {
    const s = net.connect(port, '127.0.0.1');
    let reply = '';
    s.on('data', (d) => { reply += d.toString('latin1'); });
    s.on('error', reject);
    s.on('connect', () => {
      s.write('GET / HTTP/1.0\r\nUser-Agent: Mozilla/5.0\r\n');
      s.setTimeout(15000, () => s.destroy());
      resolve({ finish: () => new Promise((done) => { s.on('close', () => done(reply)); s.write('\r\n'); }) });
    });
  });
}

test('the port moves while pages load', { timeout: 120000 }, async () => {
  const g = j.gateway;
  let current = g.port;
  const results = [];
  const stop = { done: false };
  const loaders = [0, 1, 2].map((tab) => keepLoading(j.browser.ctx, tab, () => `http://127.0.0.1:${current}/`, results, stop));
  const until = async (ok, what) => {
    for (const end = Date.now() + 30000; !ok();) {
      if (Date.now() > end) {
        stop.done = true;
        throw new Error(`waited in vain for ${what}: ${JSON.stringify(results)}`);
      }
      await sleep(50);
    }
  };
  await until(() => results.length >= 6, 'the first loads');

  const pending = await halfRequest(g.port);
  const next = await freePort();
  const before = results.length;
  // Not execFileSync: the loads go on while the command runs.
  await promisify(execFile)(BIN, ['--home', g.home, 'settings', 'server', `http_port=${next}`], { timeout: 30000 });
  current = next;
  const reply = await pending.finish();
  assert.match(reply, /^HTTP\/1\.[01] 200/);
  assert.match(reply, /<\/html>\s*$/i);
  await until(() => results.filter((x) => x.url.includes(`:${next}/`)).length >= 6, 'loads from the new port');
  stop.done = true;
  await Promise.all(loaders);

  // Every page that was answered was answered whole; the only failures
  // are loads of the old address after it closed.
  const answered = results.filter((x) => !x.error);
  for (const x of answered) assert.ok(x.status === 200 && x.whole, JSON.stringify(x));
  for (const x of results.filter((y) => y.error)) {
    assert.ok(x.url.includes(`:${g.port}/`) && /ERR_CONNECTION_REFUSED|ERR_CONNECTION_RESET|ERR_EMPTY_RESPONSE|interrupted/.test(x.error), JSON.stringify(results.filter((y) => y.tab === x.tab).slice(-8)));
  }
  assert.ok(results.slice(0, before).every((x) => !x.error), 'a load failed before the move');
  assert.ok(answered.some((x) => x.url.includes(`:${next}/`)), 'nothing loaded from the new port');
  // A login on the new port stays there.
  await logIn(j.page, { url: `http://127.0.0.1:${next}` }, 'taro', 'pw');
  assert.ok(j.page.url().startsWith(`http://127.0.0.1:${next}/`), j.page.url());
});
