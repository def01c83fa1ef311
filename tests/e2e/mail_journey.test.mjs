// A user writing and sending in Chromium and the recipient reading it,
// through a real Postfix delivering into a real Dovecot (the demo's mail
// servers), on a phone (390x844, touch) and a desktop (1280x900). Every main
// page, light and dark: nothing wider than the screen, no text too small,
// targets big enough to tap, a visible language switch. The demo's mail
// (a long subject and link, German with an emoji) is laid out too; that
// such text comes out right is the corpus pages' of reading_test.py.
// Screenshots land in TARNBOX_SCREENSHOTS for a person to look at.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { journey, startBrowser, bodyText, fill, follow, logIn, sleep, MOJIBAKE } from './harness.mjs';

const SHOTS = process.env.TARNBOX_SCREENSHOTS || path.join(os.tmpdir(), 'tarnbox-screenshots');

const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 3 };
const DESKTOP = { viewport: { width: 1280, height: 900 } };
// Smallest readable text and WCAG 2.2's smallest target.
const [MIN_FONT_PX, MIN_TARGET_PX] = [12, 24];
const [LONG_SUBJECT, GERMAN_SUBJECT] = ['【ご案内】愛知支店・下関営業所合同会議の仮予約について', 'Grüße aus München'];
const BODY_LINES = ['花子さん', '資料を添付しますので、ご確認ください。', 'ﾃｽﾄ用の半角ｶﾀｶﾅも入れました。', '山田'];
const FILE_NAME = '打ち合わせ資料.bin';
const FILE_BYTES = Buffer.from(Array.from({ length: 70000 }, (_, i) => (i * 131 + (i >> 9)) & 0xff));

fs.mkdirSync(SHOTS, { recursive: true });
const j = journey({ demo: true, browser: false });

// Overflow, the smallest visible text, small targets, the switch, colours.
function measure(minTarget) {
  const width = document.documentElement.clientWidth;
  const visible = (el) => {
    const r = el.getBoundingClientRect();
    const s = getComputedStyle(el);
    return r.width > 0 && r.height > 0 && s.visibility !== 'hidden' && s.display !== 'none';
  };
  let [minFont, minFontAt] = [Infinity, ''];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  while (walker.nextNode()) {
    const el = walker.currentNode.parentElement;
    if (!walker.currentNode.textContent.trim() || !el || !visible(el)) continue;
    const size = parseFloat(getComputedStyle(el).fontSize);
    if (size < minFont) [minFont, minFontAt] = [size, el.outerHTML.slice(0, 100)];
  }
  const [small, wide] = [[], []];
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

const luminance = (css) => css.match(/[\d.]+/g).slice(0, 3).map((v) => v / 255)
  .map((c) => (c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4))
  .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);

// The pages of a logged-in visit by name, reached from the list.
async function pageUrls(page, listUrl) {
  await page.goto(listUrl);
  const urls = { list: listUrl };
  for (const [name, link] of Object.entries({
    'message-long': `a:has-text("${LONG_SUBJECT.slice(0, 10)}")`, 'message-german': `a:has-text("${GERMAN_SUBJECT}")`,
    compose: 'a[href^="/mail/write/"]', sent: 'a[href^="/mail/sent/"]', book: 'a[href^="/mail/book/"]',
    settings: 'a[href^="/mail/setup/"]',
  })) urls[name] = j.servers.url + await page.locator(link).first().getAttribute('href');
  return urls;
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
  test(`sending, reading and the main pages on the ${deviceName}`, async (t) => {
    const gateway = j.servers;
    const browser = await startBrowser({ options: device });
    const page = browser.page;
    try {
      await t.test('top page, in both languages', async () => {
        await page.goto(`${gateway.url}/`);
        // The browser decodes the page as Shift_JIS, whose text it shows.
        const [charset, title, text] = await page.evaluate(() => [document.characterSet, document.title, document.body.innerText]);
        assert.deepEqual([charset, title], ['Shift_JIS', 'Tarn Version 1.51']);
        assert.match(text, /ユーザー名\s*:[^]*パスワード\s*:[^]*ユーザーの追加/);
        await check(page, 'top', device, 'dark');
        assert.equal((await check(page, 'top', device, 'light')).switchLang, 'en');
        assert.match(await follow(page, '.lang-switch a'), /User Name/);
        await check(page, 'top-english', device, 'light');
      });

      // The sent list gets a row with a long subject to lay out.
      const subject = `${LONG_SUBJECT} 資料 ${deviceName}`;
      const listUrl = await logIn(page, gateway, 'taro', 'taro-pw');
      await t.test('taro sends a Japanese message with a Japanese-named attachment', async () => {
        await follow(page, 'a[href^="/mail/write/"]');
        await fill(page, { send_to: `hanako@${gateway.domain}`, send_subject: subject, message: BODY_LINES.join('\n') });
        await page.setInputFiles('input[name=upload1]',
          { name: FILE_NAME, mimeType: 'application/octet-stream', buffer: FILE_BYTES });
        const text = await follow(page);
        assert.match(text, /送信終了/);
        assert.ok(text.includes(`件名: ${subject}`) && text.includes(FILE_NAME), text);
        const sent = await follow(page, 'text=送信済メール一覧');
        assert.ok(sent.includes(subject) && sent.includes('添付'), sent);
      });
      const urls = await pageUrls(page, listUrl);

      for (const [name, url] of Object.entries(urls)) {
        await t.test(`${name} page`, async () => {
          await page.goto(url);
          for (const scheme of ['light', 'dark']) await check(page, name, device, scheme);
        });
      }

      await t.test('the English message page fits too', async () => {
        await page.goto(urls['message-long']);
        assert.match(await follow(page, '.lang-switch a'), /Go back to the list/);
        await check(page, 'message-long-english', device, 'light');
      });

      await t.test('hanako reads it and downloads the attachment byte-identical', async () => {
        const hanakoList = await logIn(page, gateway, 'hanako', 'hanako-pw');
        // Postfix may not have delivered it yet.
        for (let i = 0; i < 60 && !(await bodyText(page)).includes(subject); i++) {
          await sleep(500);
          await page.goto(hanakoList);
        }
        const text = await follow(page, `text=${subject}`);
        assert.match(text, /山田 太郎/);
        // Half-width katakana arrive widened.
        for (const line of BODY_LINES) assert.ok(text.includes(line.normalize('NFKC')), `${line} in ${text}`);
        assert.doesNotMatch(text, MOJIBAKE);
        const link = page.locator(`a:has-text("${FILE_NAME}")`);
        assert.equal(await link.count(), 1, text);
        const [file] = await Promise.all([page.waitForEvent('download'), link.click()]);
        assert.ok(fs.readFileSync(await file.path()).equals(FILE_BYTES), 'attachment differs');
      });
    } finally {
      await browser.close();
    }
  });
}
