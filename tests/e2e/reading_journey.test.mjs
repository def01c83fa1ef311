// One person reading mail in Chromium, from login to deleting, against a real
// Dovecot on 127.0.0.1 (started through pop3_bridge.py).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import { journey, boxOwner, localMail, bodyText, download, follow, logIn, MOJIBAKE } from './harness.mjs';

// Binary on purpose: every byte value, so that a download through a text
// path (line ends, charset conversion, a NUL cut) cannot pass.
const PAYLOAD = Buffer.concat([
  Buffer.from(Array.from({ length: 256 }, (_, i) => i)),
  crypto.createHash('sha512').update('tarnbox').digest(),
  Buffer.from(Array.from({ length: 200000 }, (_, i) => (i * 7919 + (i >> 8)) & 0xff)),
  Buffer.from('\r\n.\r\n\n.\nend', 'latin1'),
]);
const ATTACHMENT = 'quarterly-figures.bin';

// The message is kept in mail/; the payload's base64 lines go in its place.
const ATTACHED_MESSAGE = localMail('figures-attached.eml').bytes.toString('latin1')
  .replace('@PAYLOAD@', PAYLOAD.toString('base64').replace(/.{76}/g, '$&\n'));

// Row order of the list: delivery order. The HTML mails carry handlers, a
// javascript: link and a script element; each would leave a mark if it ran.
const j = journey({
  box: [
    localMail('flash-offer.eml'), // 1
    '02-iso2022jp.eml', // 2: 会議室の変更について
    localMail('winter-sale.eml'), // 3
    { name: 'attached', bytes: ATTACHED_MESSAGE }, // 4
    '03-shift-jis.eml', // 5: 請求書送付のご案内
  ],
  gateway: (pop) => ({ settings: [`pop3_port=${pop.port}`], users: [boxOwner(pop)] }),
});

// The journey is one story: each step starts where the previous one left
// the page, so they run in order within one test.
test('log in, read, download, delete', async (t) => {
  const { page, gateway, info: pop } = j;
  let listUrl;
  const rowLinks = () => page.locator('a[href^="/mail/a0"]');
  const open = async (subject) => {
    await page.goto(listUrl);
    return follow(page, `text=${subject}`);
  };

  await t.test('log in shows the received-mail list', async () => {
    listUrl = await logIn(page, gateway, pop.user, pop.password);
    const text = await bodyText(page);
    assert.match(text, /hanako@example\.jp/);
    assert.equal(await rowLinks().count(), 5, text);
    for (const subject of ['会議室の変更について', 'Flash offer', 'Winter sale']) assert.ok(text.includes(subject), subject);
    assert.equal(await page.locator('input[type=checkbox][name^=delete_a]').count(), 5);
  });

  await t.test('the ISO-2022-JP message reads as Japanese', async () => {
    const text = await open('会議室の変更について');
    assert.match(page.url(), /\/mail\/a0002\.html\?/);
    assert.match(text, /件名\s*:\s*会議室の変更について/);
    for (const line of ['鈴木一郎', '第二会議室から第五会議室へ変更になりました。', '開始時刻は午後三時のままです。']) {
      assert.ok(text.includes(line), text);
    }
    assert.doesNotMatch(text, MOJIBAKE);
  });

  for (const [subject, first, last] of [['Winter sale', 'WINTER-SALE-TEXT: everything half price.', 'WINTER-SALE-END'],
    ['Flash offer', 'FLASH-OFFER-TEXT', 'FLASH-OFFER-END']]) {
    await t.test(`the HTML message "${subject}" shows its text and runs no script`, async () => {
      await open(subject);
      await page.waitForLoadState('load');
      const text = await bodyText(page);
      assert.ok(text.includes(first) && text.includes(last), text);
      const [title, ran] = await page.evaluate(() => [document.title, window.__ran]);
      assert.doesNotMatch(title, /RAN/);
      assert.equal(ran, undefined);
      // A javascript: link or a handler that survived as markup would run on
      // a click or a hover.
      assert.equal(await page.locator('a[href*="javascript:" i], script').count(), 0);
      assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('*')]
        .filter((e) => [...e.attributes].some((a) => a.name.startsWith('on')))
        .map((e) => e.outerHTML)), []);
    });
  }

  await t.test('the attachment downloads byte for byte', async () => {
    assert.match(await open('Figures attached'), /FIGURES-NOTE: the numbers are attached\./);
    const link = page.locator(`a[href^="/mail/~${pop.user}/"]`, { hasText: ATTACHMENT });
    assert.equal(await link.count(), 1);
    const got = await download(page, link);
    assert.equal(got.length, PAYLOAD.length);
    assert.ok(got.equals(PAYLOAD), 'downloaded bytes differ from the attachment');
  });

  await t.test('two ticked messages are deleted', async () => {
    await page.goto(listUrl);
    assert.equal(await rowLinks().count(), 5);
    await page.check('input[name=delete_a1]');
    await page.check('input[name=delete_a5]');
    const text = await follow(page, 'form input[type=submit]:not([name])');
    assert.equal(await rowLinks().count(), 3, text);
    assert.doesNotMatch(text, /Flash offer|請求書送付のご案内/);
    for (const subject of ['会議室の変更について', 'Winter sale', 'Figures attached']) assert.ok(text.includes(subject), subject);
    // Still gone on a fresh load: deleted on the server, not only hidden.
    await page.goto(listUrl);
    assert.equal(await rowLinks().count(), 3);
  });
});
