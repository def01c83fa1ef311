// Every main page on a phone (390x844, touch, the viewport honoured) and on
// a desktop (1280x900), light and dark: nothing wider than the screen, no
// text too small to read, targets big enough to tap, and a language switch
// that leads to the same page in the other language. The demo's mail (ISO-
// 2022-JP, kanji whose JIS bytes are markup characters, German with an
// emoji, a long subject and a long link) goes through a real Postfix and
// Dovecot. Screenshots of each page land in TARNBOX_SCREENSHOTS (a folder
// under the system's temporary folder unless set) for a person to look at.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startGateway, startBrowser, startDemoMail, logIn } from './harness.mjs';

const SHOTS = process.env.TARNBOX_SCREENSHOTS || path.join(os.tmpdir(), 'tarnbox-screenshots');

const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 3 };
const DESKTOP = { viewport: { width: 1280, height: 900 } };
// Smallest readable text, and the smallest target a finger should have to
// hit (the 24 px of WCAG 2.2's target size).
const MIN_FONT_PX = 12;
const MIN_TARGET_PX = 24;

const LONG_SUBJECT = '【ご案内】愛知支店・下関営業所合同会議の仮予約について';
const GERMAN_SUBJECT = 'Grüße aus München';

let mail;
let servers;
let gateway;

before(async () => {
  fs.mkdirSync(SHOTS, { recursive: true });
  mail = await startDemoMail();
  servers = mail.info;
  gateway = await startGateway({
    settings: [`pop3_port=${servers.pop3_port}`, `smtp_port=${servers.smtp_port}`],
    users: [
      ['--name', '山田 太郎', '--mail-address', `taro@${servers.domain}`, '--id', 'taro',
        '--password', 'taro-pw'],
      ['--name', '佐藤 花子', '--mail-address', `hanako@${servers.domain}`, '--id', 'hanako',
        '--password', 'hanako-pw'],
    ],
  });
});

after(async () => {
  if (gateway) await gateway.stop();
  if (mail) await mail.stop();
});

// What the page looks like to a reader: overflow, the smallest visible text,
// targets under the size, the switch, and the body's colours.
function measure(minTarget) {
  const width = document.documentElement.clientWidth;
  const visible = (el) => {
    const r = el.getBoundingClientRect();
    const s = getComputedStyle(el);
    return r.width > 0 && r.height > 0 && s.visibility !== 'hidden' && s.display !== 'none';
  };
  let minFont = Infinity;
  let minFontAt = '';
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  while (walker.nextNode()) {
    const el = walker.currentNode.parentElement;
    if (!walker.currentNode.textContent.trim() || !el || !visible(el)) continue;
    const size = parseFloat(getComputedStyle(el).fontSize);
    if (size < minFont) [minFont, minFontAt] = [size, el.outerHTML.slice(0, 100)];
  }
  const small = [];
  const wide = [];
  for (const el of document.querySelectorAll('a[href], input:not([type=hidden]), select, textarea, button')) {
    if (!visible(el)) continue;
    const r = el.getBoundingClientRect();
    if (r.width < minTarget || r.height < minTarget)
      small.push(`${el.outerHTML.slice(0, 80)} ${r.width.toFixed(1)}x${r.height.toFixed(1)}`);
    if (r.right > width + 1) wide.push(`${el.outerHTML.slice(0, 80)} right=${r.right.toFixed(0)}`);
  }
  const link = document.querySelector('body > .lang-switch > a');
  const body = getComputedStyle(document.body);
  return {
    overflow: document.documentElement.scrollWidth - width,
    wide, minFont, minFontAt, small,
    switchHref: link && visible(link) ? link.getAttribute('href') : null,
    switchLang: link && link.getAttribute('hreflang'),
    background: body.backgroundColor, colour: body.color,
  };
}

function luminance(css) {
  const [r, g, b] = css.match(/[\d.]+/g).slice(0, 3).map(Number).map((v) => {
    const c = v / 255;
    return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  });
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

const bodyText = (page) => page.evaluate(() => document.body.innerText);

// The pages of one logged-in visit, by name: how to reach each from the
// list. The top page is visited before the login.
async function pageUrls(page, listUrl) {
  await page.goto(listUrl);
  const hrefOf = async (selector) => gateway.url + await page.locator(selector).first().getAttribute('href');
  const message = async (subject) => gateway.url +
    await page.locator(`a:has-text("${subject}")`).first().getAttribute('href');
  return {
    list: listUrl,
    'message-long': await message(LONG_SUBJECT.slice(0, 10)),
    'message-german': await message(GERMAN_SUBJECT),
    compose: await hrefOf('a[href^="/mail/write/"]'),
    sent: await hrefOf('a[href^="/mail/sent/"]'),
    book: await hrefOf('a[href^="/mail/book/"]'),
    settings: await hrefOf('a[href^="/mail/setup/"]'),
  };
}

async function check(page, name, device, scheme) {
  await page.emulateMedia({ colorScheme: scheme });
  const tag = `${name} ${device.viewport.width}x${device.viewport.height} ${scheme}`;
  const m = await page.evaluate(measure, MIN_TARGET_PX);
  await page.screenshot({
    path: path.join(SHOTS, `${name}-${device.viewport.width}-${scheme}.png`), fullPage: true,
  });
  assert.ok(m.overflow <= 1, `${tag}: ${m.overflow}px wider than the screen ${m.wide.join('; ')}`);
  assert.deepEqual(m.wide, [], `${tag}: beyond the right edge`);
  assert.ok(m.minFont >= MIN_FONT_PX, `${tag}: ${m.minFont}px text in ${m.minFontAt}`);
  if (device.isMobile) assert.deepEqual(m.small, [], `${tag}: targets under ${MIN_TARGET_PX}px`);
  assert.ok(m.switchHref, `${tag}: no visible language switch`);
  if (scheme === 'dark') {
    assert.ok(luminance(m.background) < 0.1, `${tag}: background ${m.background}`);
    assert.ok(luminance(m.colour) > 0.5, `${tag}: text ${m.colour}`);
  } else {
    assert.ok(luminance(m.background) > 0.8, `${tag}: background ${m.background}`);
  }
  return m;
}

for (const [deviceName, device] of [['phone', PHONE], ['desktop', DESKTOP]]) {
  test(`main pages fit the ${deviceName}`, async (t) => {
    const browser = await startBrowser({ options: device });
    const page = browser.page;
    try {
      await t.test('top page, in both languages', async () => {
        await page.goto(`${gateway.url}/`);
        for (const scheme of ['light', 'dark']) await check(page, 'top', device, scheme);
        const m = await page.evaluate(measure, MIN_TARGET_PX);
        assert.equal(m.switchLang, 'en');
        await Promise.all([page.waitForNavigation(), page.click('.lang-switch a')]);
        assert.match(await bodyText(page), /User Name/);
        await check(page, 'top-english', device, 'light');
      });

      const listUrl = await logIn(page, gateway, 'taro', 'taro-pw');
      if (deviceName === 'phone') {
        // One sent message, so that the sent list has a row to lay out.
        await page.goto(listUrl);
        await Promise.all([page.waitForNavigation(), page.click('a[href^="/mail/write/"]')]);
        await page.fill('input[name=send_to]', `hanako@${servers.domain}`);
        await page.fill('input[name=send_subject]', `${LONG_SUBJECT} 返信`);
        await page.fill('textarea[name=message]', '了解しました。下記の件、愛知で会いましょう。');
        await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
        assert.match(await bodyText(page), /送信終了/);
      }
      const urls = await pageUrls(page, listUrl);

      for (const [name, url] of Object.entries(urls)) {
        await t.test(`${name} page`, async () => {
          await page.goto(url);
          for (const scheme of ['light', 'dark']) await check(page, name, device, scheme);
        });
      }

      await t.test('the text the mail really holds reaches the page', async () => {
        await page.goto(urls['message-long']);
        const text = await bodyText(page);
        assert.ok(text.includes(LONG_SUBJECT), text);
        assert.ok(text.includes('下記の通り、愛知支店の会議室を仮予約しました。'), text);
        assert.ok(text.includes('「陰の立役者」賞'), text);
        await page.goto(urls['message-german']);
        const german = await bodyText(page);
        assert.ok(german.includes('Grüße aus München 🎄'), german);
        assert.ok(german.includes('Bräustüberl'), german);
      });

      await t.test('the switch keeps the reader where they are, both ways', async () => {
        for (const name of ['list', 'message-long', 'settings']) {
          await page.goto(urls[name]);
          const japanese = new URL(page.url());
          await Promise.all([page.waitForNavigation(), page.click('.lang-switch a')]);
          const english = new URL(page.url());
          assert.equal(english.pathname, japanese.pathname, name);
          assert.match(english.search, /\?lang=eng$/, name);
          assert.match(await bodyText(page), /Go back to the list|Change Settings|Finish Reading/, name);
          if (name === 'message-long') await check(page, 'message-long-english', device, 'light');
          await Promise.all([page.waitForNavigation(), page.click('.lang-switch a')]);
          const back = new URL(page.url());
          assert.equal(back.pathname, japanese.pathname, name);
          assert.equal(back.search, japanese.search, name);
        }
      });
    } finally {
      await browser.close();
    }
  });
}
