// One person reading mail in Chromium, from login to deleting, against a real
// Dovecot on 127.0.0.1 (started through pop3_bridge.py). What the message
// pages show is reading_test's over HTTP; that mail runs no script is
// hostile_html's; here the list's own form, as the browser posts it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { journey, boxOwner, bodyText, follow, logIn } from './harness.mjs';

const SUBJECTS = ['会議室の変更について', '請求書送付のご案内'];
const j = journey({
  box: ['02-iso2022jp.eml', '03-shift-jis.eml', '01-plain-ascii.eml'],
  gateway: (pop) => ({ settings: [`pop3_port=${pop.port}`], users: [boxOwner(pop)] }),
});

test('log in, tick a message, delete it', async () => {
  const { page, gateway, info: pop } = j;
  const rowLinks = () => page.locator('a[href^="/mail/a0"]');
  const listUrl = await logIn(page, gateway, pop.user, pop.password);
  let text = await bodyText(page);
  assert.match(text, /hanako@example\.jp/);
  assert.equal(await rowLinks().count(), 3, text);
  for (const subject of SUBJECTS) assert.ok(text.includes(subject), subject);
  assert.equal(await page.locator('input[type=checkbox][name^=delete_a]').count(), 3);

  await page.check('input[name=delete_a2]');
  text = await follow(page, 'form input[type=submit]:not([name])');
  assert.equal(await rowLinks().count(), 2, text);
  assert.ok(!text.includes(SUBJECTS[1]) && text.includes(SUBJECTS[0]), text);
  // Still gone on a fresh load: deleted on the server, not only hidden.
  await page.goto(listUrl);
  assert.equal(await rowLinks().count(), 2);
});
