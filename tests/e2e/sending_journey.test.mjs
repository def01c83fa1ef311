// Two people writing to each other in Chromium, through a real Postfix that
// delivers into a real Dovecot (both on 127.0.0.1, started by the demo's
// mail-server script).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startGateway, startBrowser, startDemoMail, logIn } from './harness.mjs';

const SUBJECT = '来週の打ち合わせ資料';
const BODY_LINES = ['花子さん', '資料を添付しますので、ご確認ください。', 'ﾃｽﾄ用の半角ｶﾀｶﾅも入れました。', '山田'];
const FILE_NAME = '打ち合わせ資料.bin';
const FILE_BYTES = Buffer.from(Array.from({ length: 70000 }, (_, i) => (i * 131 + (i >> 9)) & 0xff));
const REPLY_LINE = '資料を受け取りました。ありがとうございます。';

let mail;
let servers;
let gateway;
let browser;

before(async () => {
  mail = await startDemoMail();
  servers = mail.info;
  gateway = await startGateway({
    // Replies quote with "> " for everyone.
    settings: [`pop3_port=${servers.pop3_port}`, `smtp_port=${servers.smtp_port}`,
      'language_policy=17', 'fixed_quotation=> '],
    users: [
      ['--name', '山田 太郎', '--mail-address', `taro@${servers.domain}`, '--id', 'taro',
        '--password', 'taro-pw'],
      ['--name', '佐藤 花子', '--mail-address', `hanako@${servers.domain}`, '--id', 'hanako',
        '--password', 'hanako-pw', '--cc'],
    ],
  });
  browser = await startBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (gateway) await gateway.stop();
  if (mail) await mail.stop();
});

const bodyText = (page) => page.evaluate(() => document.body.innerText);

// Postfix delivers in the background: the list is asked again until the
// message is there.
async function waitForRow(page, listUrl, text) {
  for (let i = 0; i < 60; i++) {
    await page.goto(listUrl);
    if ((await bodyText(page)).includes(text)) return;
    await new Promise((r) => setTimeout(r, 500));
  }
  assert.fail(`no row with ${text}: ${await bodyText(page)}`);
}

test('write, send, read, download and reply', async (t) => {
  const page = browser.page;

  await t.test('taro sends a Japanese message with a Japanese-named attachment', async () => {
    await logIn(page, gateway, 'taro', 'taro-pw');
    await Promise.all([page.waitForNavigation(), page.click('a[href^="/mail/write/"]')]);
    await page.fill('input[name=send_to]', `hanako@${servers.domain}`);
    await page.fill('input[name=send_subject]', SUBJECT);
    await page.fill('textarea[name=message]', BODY_LINES.join('\n'));
    await page.setInputFiles('input[name=upload1]',
      { name: FILE_NAME, mimeType: 'application/octet-stream', buffer: FILE_BYTES });
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    const text = await bodyText(page);
    assert.match(text, /送信終了/);
    assert.ok(text.includes(`件名: ${SUBJECT}`), text);
    assert.ok(text.includes(FILE_NAME), text);

    await Promise.all([page.waitForNavigation(), page.click('text=送信済メール一覧')]);
    const sent = await bodyText(page);
    assert.ok(sent.includes(SUBJECT), sent);
    assert.match(sent, /添付/);
  });

  let hanakoList;
  await t.test('hanako reads it and downloads the attachment byte-identical', async () => {
    hanakoList = await logIn(page, gateway, 'hanako', 'hanako-pw');
    await waitForRow(page, hanakoList, SUBJECT);
    await Promise.all([page.waitForNavigation(), page.click(`text=${SUBJECT}`)]);
    const text = await bodyText(page);
    assert.match(text, /山田 太郎/);
    for (const line of BODY_LINES) {
      // Half-width katakana arrive widened.
      const wide = line.normalize('NFKC');
      assert.ok(text.includes(wide), `${wide} in ${text}`);
    }
    assert.doesNotMatch(text, /\x1b|\$B|\uFFFD/);
    const link = page.locator(`a:has-text("${FILE_NAME}")`);
    assert.equal(await link.count(), 1, text);
    const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
    const saved = await download.path();
    assert.ok(Buffer.compare(fs.readFileSync(saved), FILE_BYTES) === 0, 'attachment differs');
  });

  await t.test('hanako replies below the message', async () => {
    const subject = page.locator('input[name=send_subject]');
    assert.equal(await subject.inputValue(), `Re: ${SUBJECT}`);
    const quoted = await page.locator('textarea[name=message]').inputValue();
    assert.ok(quoted.includes('> 資料を添付しますので、ご確認ください。'), quoted);
    await page.fill('textarea[name=message]', `${REPLY_LINE}\n\n${quoted}`);
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    assert.match(await bodyText(page), /送信終了/);
  });

  await t.test('taro sees the reply in Japanese', async () => {
    const taroList = await logIn(page, gateway, 'taro', 'taro-pw');
    await waitForRow(page, taroList, `Re: ${SUBJECT}`);
    await Promise.all([page.waitForNavigation(), page.click(`text=Re: ${SUBJECT}`)]);
    const text = await bodyText(page);
    assert.match(text, /佐藤 花子/);
    assert.ok(text.includes(REPLY_LINE), text);
    assert.ok(text.includes('> 資料を添付しますので、ご確認ください。'), text);
  });
});
