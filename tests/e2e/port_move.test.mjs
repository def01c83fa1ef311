// The administrator moves the HTTP port of a running gateway while a browser
// keeps loading pages: what was accepted on the old port is answered in
// full, the new port serves at once, and a port that is taken leaves the
// gateway where it was.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import net from 'node:net';
import { startGateway, startBrowser, BIN } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

function tarnbox(home, ...args) {
  return new Promise((resolve) => {
    execFile(BIN, ['--home', home, ...args], { timeout: 30000 }, (err, stdout, stderr) => {
      resolve({ status: err ? err.code : 0, stdout, stderr });
    });
  });
}

function freePort() {
  return new Promise((resolve) => {
    const srv = net.createServer();
    srv.listen(0, '127.0.0.1', () => { const { port } = srv.address(); srv.close(() => resolve(port)); });
  });
}

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

test('the port moves while pages load, and a taken port changes nothing', { timeout: 120000 }, async () => {
  const g = await startGateway({
    users: [['--name', '太郎', '--mail-address', 't@e.jp', '--id', 'taro', '--password', 'pw']],
  });
  try {
    let current = g.port;
    const results = [];
    const stop = { done: false };
    const loaders = [0, 1, 2].map((tab) => keepLoading(browser.ctx, tab, () => `http://127.0.0.1:${current}/`, results, stop));
    const loadsOf = (port) => results.filter((x) => x.url.includes(`:${port}/`)).length;
    const until = async (ok, what) => {
      for (const end = Date.now() + 30000; !ok();) {
        if (Date.now() > end) {
          stop.done = true;
          throw new Error(`waited in vain for ${what}: ${JSON.stringify(results)}`);
        }
        await new Promise((res) => setTimeout(res, 50));
      }
    };
    await until(() => results.length >= 6, 'the first loads');

    // A taken port: the message, and the old port goes on serving.
    const taken = net.createServer();
    await new Promise((r) => taken.listen(0, '0.0.0.0', r));
    let r = await tarnbox(g.home, 'settings', 'server', `http_port=${taken.address().port}`);
    taken.close();
    assert.notEqual(r.status, 0);
    assert.match(r.stderr, /TCP\/IP ポート番号が使用されています。/);
    const afterRefusal = results.length;
    await until(() => results.length >= afterRefusal + 6, 'loads after the refused move');

    const pending = await halfRequest(g.port);
    const next = await freePort();
    const before = results.length;
    r = await tarnbox(g.home, 'settings', 'server', `http_port=${next}`);
    assert.equal(r.status, 0, r.stderr);
    current = next;
    const reply = await pending.finish();
    assert.match(reply, /^HTTP\/1\.[01] 200/);
    assert.match(reply, /<\/html>\s*$/i);
    await until(() => loadsOf(next) >= 6, 'loads from the new port');
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

    // The old port is closed; the new one is the stored one and logs in.
    const refused = await new Promise((res) => {
      const s = net.connect(g.port, '127.0.0.1', () => { s.destroy(); res(false); });
      s.on('error', () => res(true));
    });
    assert.ok(refused, 'the old port still answers');
    const page = browser.page;
    await page.goto(`http://127.0.0.1:${next}/`);
    await page.fill('input[name=a]', 'taro');
    await page.fill('input[name=b]', 'pw');
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    assert.ok(page.url().startsWith(`http://127.0.0.1:${next}/`), page.url());
    const shown = await tarnbox(g.home, 'settings', 'show');
    assert.match(shown.stdout, new RegExp(`^http_port=${next}$`, 'm'));
  } finally { await g.stop(); }
});
