// A message written in Chromium and read by its recipient through a real
// Postfix delivering into a real Dovecot (the demo's mail servers).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { journey, demoUser, bodyText, download, fill, follow, logIn, sleep, MOJIBAKE } from './harness.mjs';

const SUBJECT = '来週の打ち合わせ資料';
const BODY_LINES = ['花子さん', '資料を添付しますので、ご確認ください。', 'ﾃｽﾄ用の半角ｶﾀｶﾅも入れました。', '山田'];
const FILE_NAME = '打ち合わせ資料.bin';
const FILE_BYTES = Buffer.from(Array.from({ length: 70000 }, (_, i) => (i * 131 + (i >> 9)) & 0xff));

const j = journey({
  demo: true,
  gateway: (servers) => ({
    settings: [`pop3_port=${servers.pop3_port}`, `smtp_port=${servers.smtp_port}`],
    users: [demoUser(servers, 'taro', '山田 太郎'), demoUser(servers, 'hanako', '佐藤 花子', '--cc')],
  }),
});

// Logs in and opens the message once Postfix has delivered it.
async function openArrived(page, user, subject) {
  const listUrl = await logIn(page, j.gateway, user, `${user}-pw`);
  for (let i = 0; i < 60 && !(await bodyText(page)).includes(subject); i++) {
    await sleep(500);
    await page.goto(listUrl);
  }
  return follow(page, `text=${subject}`);
}

test('write, send, read and download', async (t) => {
  const { page, info: servers } = j;

  await t.test('taro sends a Japanese message with a Japanese-named attachment', async () => {
    await logIn(page, j.gateway, 'taro', 'taro-pw');
    await follow(page, 'a[href^="/mail/write/"]');
    await fill(page, { send_to: `hanako@${servers.domain}`, send_subject: SUBJECT, message: BODY_LINES.join('\n') });
    await page.setInputFiles('input[name=upload1]',
      { name: FILE_NAME, mimeType: 'application/octet-stream', buffer: FILE_BYTES });
    const text = await follow(page);
    assert.match(text, /送信終了/);
    assert.ok(text.includes(`件名: ${SUBJECT}`) && text.includes(FILE_NAME), text);
    const sent = await follow(page, 'text=送信済メール一覧');
    assert.ok(sent.includes(SUBJECT) && sent.includes('添付'), sent);
  });

  await t.test('hanako reads it and downloads the attachment byte-identical', async () => {
    const text = await openArrived(page, 'hanako', SUBJECT);
    assert.match(text, /山田 太郎/);
    // Half-width katakana arrive widened.
    for (const line of BODY_LINES) assert.ok(text.includes(line.normalize('NFKC')), `${line} in ${text}`);
    assert.doesNotMatch(text, MOJIBAKE);
    const link = page.locator(`a:has-text("${FILE_NAME}")`);
    assert.equal(await link.count(), 1, text);
    assert.ok((await download(page, link)).equals(FILE_BYTES), 'attachment differs');
  });
});
