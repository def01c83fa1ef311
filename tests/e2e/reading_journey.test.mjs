// One person reading mail in Chromium, from login to deleting, against a real
// Dovecot on 127.0.0.1 (started through pop3_bridge.py).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { startGateway, startBrowser } from './harness.mjs';

const HERE = path.dirname(fileURLToPath(import.meta.url));

// Binary on purpose: every byte value, so that a download through a text
// path (line ends, charset conversion, a NUL cut) cannot pass.
const PAYLOAD = Buffer.concat([
  Buffer.from(Array.from({ length: 256 }, (_, i) => i)),
  crypto.createHash('sha512').update('tarnbox').digest(),
  Buffer.from(Array.from({ length: 200000 }, (_, i) => (i * 7919 + (i >> 8)) & 0xff)),
  Buffer.from('\r\n.\r\n\n.\nend', 'latin1'),
]);
const ATTACHMENT = 'quarterly-figures.bin';

function b64lines(buf) {
  return buf.toString('base64').replace(/.{76}/g, '$&\n');
}

const ATTACHED_MESSAGE = [
  'Date: Wed, 11 Dec 2024 10:00:00 +0900',
  'From: Aiko Mori <mori@example.co.jp>',
  'To: hanako@example.jp',
  'Subject: Figures attached',
  'Message-ID: <figures.1@example.co.jp>',
  'MIME-Version: 1.0',
  'Content-Type: multipart/mixed; boundary="b-figures"',
  '',
  '--b-figures',
  'Content-Type: text/plain; charset=us-ascii',
  '',
  'FIGURES-NOTE: the numbers are attached.',
  '',
  '--b-figures',
  `Content-Type: application/octet-stream; name="${ATTACHMENT}"`,
  'Content-Transfer-Encoding: base64',
  `Content-Disposition: attachment; filename="${ATTACHMENT}"`,
  '',
  b64lines(PAYLOAD),
  '--b-figures--',
  '',
].join('\n');

// Plain markup first, then handlers and a javascript: link: the first part
// should render as HTML, the rest must stay inert (cleaned, or shown as
// source). Each would leave a mark the test can see if it ran.
const HTML_MESSAGE = [
  'Date: Thu, 12 Dec 2024 09:00:00 +0900',
  'From: news@shop.example.com',
  'To: hanako@example.jp',
  'Subject: Winter sale',
  'Message-ID: <sale.1@shop.example.com>',
  'MIME-Version: 1.0',
  'Content-Type: text/html; charset=us-ascii',
  '',
  '<html><body bgcolor="#ffffee">',
  '<p>WINTER-SALE-TEXT: <b>everything</b> half price.</p>',
  '<div onmouseover="document.title=\'HOVER-RAN\'; window.__ran = 2">hover here</div>',
  '<img src="x-missing.gif" onerror="document.title=\'ONERROR-RAN\'; window.__ran = 3">',
  '<a id="js-link" href="javascript:document.title=\'LINK-RAN\'">open</a>',
  '<p>WINTER-SALE-END</p>',
  '</body></html>',
  '',
].join('\n');

// A script element: the gateway shows such a message as source.
const SCRIPT_MESSAGE = [
  'Date: Fri, 13 Dec 2024 09:00:00 +0900',
  'From: offers@prize.example.net',
  'To: hanako@example.jp',
  'Subject: Flash offer',
  'Message-ID: <flash.1@prize.example.net>',
  'MIME-Version: 1.0',
  'Content-Type: text/html; charset=us-ascii',
  '',
  '<p>FLASH-OFFER-TEXT</p>',
  '<script>document.title = "SCRIPT-RAN"; window.__ran = 1;</script>',
  '<p>FLASH-OFFER-END</p>',
  '',
].join('\n');

// Row order of the list: delivery order.
const BOX = [
  { name: 'script', bytes_b64: Buffer.from(SCRIPT_MESSAGE).toString('base64') }, // 1
  '02-iso2022jp.eml', // 2: 会議室の変更について
  { name: 'html', bytes_b64: Buffer.from(HTML_MESSAGE).toString('base64') }, // 3
  { name: 'attached', bytes_b64: Buffer.from(ATTACHED_MESSAGE).toString('base64') }, // 4
  '03-shift-jis.eml', // 5: 請求書送付のご案内
];

let bridge;
let pop;
let gateway;
let browser;

function startBridge() {
  const proc = spawn('python3', [path.join(HERE, 'pop3_bridge.py')], {
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  proc.stdin.write(JSON.stringify(BOX) + '\n');
  const lines = readline.createInterface({ input: proc.stdout });
  return new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`POP3 bridge ended with ${code}`)));
    lines.once('line', (line) => resolve({ proc, info: JSON.parse(line) }));
  });
}

async function stopBridge() {
  if (!bridge || bridge.proc.exitCode !== null) return;
  const exited = new Promise((r) => bridge.proc.once('exit', r));
  bridge.proc.stdin.end(); // the bridge stops Dovecot when its stdin closes
  await exited;
}

before(async () => {
  bridge = await startBridge();
  pop = bridge.info;
  gateway = await startGateway({
    settings: [`pop3_port=${pop.port}`],
    users: [['--name', 'Hanako', '--mail-address', 'hanako@example.jp',
      '--id', pop.user, '--password', pop.password]],
  });
  browser = await startBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (gateway) await gateway.stop();
  await stopBridge();
});

const bodyText = (page) => page.evaluate(() => document.body.innerText);

// The journey is one story: each step starts where the previous one left
// the page, so they run in order within one test.
test('log in, read, download, delete', async (t) => {
  const page = browser.page;
  let listUrl;
  const rowLinks = () => page.locator('a[href^="/mail/a0"]');

  await t.test('log in shows the received-mail list', async () => {
    await page.goto(`${gateway.url}/`);
    await page.fill('input[name=a]', pop.user);
    await page.fill('input[name=b]', pop.password);
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    const text = await bodyText(page);
    assert.match(text, /hanako@example\.jp/);
    assert.equal(await rowLinks().count(), 5, text);
    assert.match(text, /会議室の変更について/);
    assert.match(text, /Flash offer/);
    assert.match(text, /Winter sale/);
    assert.equal(await page.locator('input[type=checkbox][name^=delete_a]').count(), 5);
    const href = await rowLinks().first().getAttribute('href');
    assert.match(href, new RegExp(`^/mail/a0001\\.html\\?user=${pop.user}\\?check=\\d+$`));
    listUrl = `${gateway.url}/mail/index.html${href.slice(href.indexOf('?'))}`;
  });

  await t.test('the ISO-2022-JP message reads as Japanese', async () => {
    await Promise.all([page.waitForNavigation(), page.click('text=会議室の変更について')]);
    assert.match(page.url(), /\/mail\/a0002\.html\?/);
    const text = await bodyText(page);
    assert.match(text, /件名\s*:\s*会議室の変更について/);
    assert.match(text, /鈴木一郎/);
    assert.ok(text.includes('第二会議室から第五会議室へ変更になりました。'), text);
    assert.ok(text.includes('開始時刻は午後三時のままです。'), text);
    // Mojibake of any kind leaves escape bytes or replacement marks behind.
    assert.doesNotMatch(text, /\x1b|\$B|\uFFFD/);
  });

  await t.test('HTML messages show their text and run no script', async () => {
    await page.goto(listUrl);
    await Promise.all([page.waitForNavigation(), page.click('text=Winter sale')]);
    await page.waitForLoadState('load');
    let text = await bodyText(page);
    assert.match(text, /WINTER-SALE-TEXT: everything half price\./);
    assert.match(text, /WINTER-SALE-END/);
    let [title, ran] = await page.evaluate(() => [document.title, window.__ran]);
    assert.doesNotMatch(title, /RAN/);
    assert.equal(ran, undefined);
    // A javascript: link or a handler that survived as markup would run on
    // a click or a hover.
    assert.equal(await page.locator('a[href*="javascript:" i]').count(), 0);
    assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('*')]
      .filter((e) => [...e.attributes].some((a) => a.name.startsWith('on')))
      .map((e) => e.outerHTML)), []);

    await page.goto(listUrl);
    await Promise.all([page.waitForNavigation(), page.click('text=Flash offer')]);
    await page.waitForLoadState('load');
    text = await bodyText(page);
    assert.match(text, /FLASH-OFFER-TEXT/);
    assert.match(text, /FLASH-OFFER-END/);
    [title, ran] = await page.evaluate(() => [document.title, window.__ran]);
    assert.doesNotMatch(title, /RAN/);
    assert.equal(ran, undefined);
    assert.equal(await page.locator('script').count(), 0);
  });

  await t.test('the attachment downloads byte for byte', async () => {
    await page.goto(listUrl);
    await Promise.all([page.waitForNavigation(), page.click('text=Figures attached')]);
    assert.match(await bodyText(page), /FIGURES-NOTE: the numbers are attached\./);
    const link = page.locator(`a[href^="/mail/~${pop.user}/"]`, { hasText: ATTACHMENT });
    assert.equal(await link.count(), 1);
    const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
    const file = await download.path();
    const got = fs.readFileSync(file);
    assert.equal(got.length, PAYLOAD.length);
    assert.ok(got.equals(PAYLOAD), 'downloaded bytes differ from the attachment');
  });

  await t.test('two ticked messages are deleted', async () => {
    await page.goto(listUrl);
    assert.equal(await rowLinks().count(), 5);
    await page.check('input[name=delete_a1]');
    await page.check('input[name=delete_a5]');
    await Promise.all([
      page.waitForNavigation(),
      page.click('form input[type=submit]:not([name])'),
    ]);
    const text = await bodyText(page);
    assert.equal(await rowLinks().count(), 3, text);
    assert.doesNotMatch(text, /Flash offer/);
    assert.doesNotMatch(text, /請求書送付のご案内/);
    assert.match(text, /会議室の変更について/);
    assert.match(text, /Winter sale/);
    assert.match(text, /Figures attached/);
    // Still gone on a fresh load: deleted on the server, not only hidden.
    await page.goto(listUrl);
    assert.equal(await rowLinks().count(), 3);
  });
});
