// An account in Chromium: its login over the gateway's own HTTPS listener,
// whose certificate is checked against a test authority only this profile
// trusts (no warning), and a password change on the settings page that
// reaches the system account through Debian's poppassd (behind socat on
// 127.0.0.1:106).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import { journey, bodyText, fill, follow, logIn } from './harness.mjs';

const ACCOUNT = `tbx${crypto.randomBytes(3).toString('hex')}`;
const [OLD_PASSWORD, NEW_PASSWORD] = ['Old-Pass-41', 'New-Pass-52'];

// The list must come up once for a login to hold: Dovecot knows the account
// with its first password.
const j = journey({
  account: { user: ACCOUNT, password: OLD_PASSWORD },
  gateway: {
    settings: ['poppassd_changeable=1'],
    name: '鈴木 一郎',
    poppassd: true,
    https: true,
  },
  browser: (servers) => ({ env: { HOME: servers.browserHome } }),
});

test('a login over HTTPS, checked against the test authority, changes the password through poppassd', async () => {
  const { page, servers } = j;
  const answer = await page.goto(`${servers.httpsUrl}/`);
  assert.equal(answer.status(), 200);
  const security = await answer.securityDetails();
  assert.ok(security, 'served over TLS');
  assert.match(security.protocol, /^TLS 1\.[23]$/);
  assert.equal(security.subjectName, '127.0.0.1');
  await fill(page, { a: ACCOUNT, b: OLD_PASSWORD });
  await follow(page);
  assert.ok(page.url().startsWith(`${servers.httpsUrl}/mail/`), page.url());
  // The list page, with the user's links.
  assert.match(await page.content(), new RegExp(`\\?user=${ACCOUNT}\\?check=\\d+`));
  assert.match(await follow(page, 'a[href^="/mail/setup/index.html"]'), /鈴木 一郎 さんの設定変更/);
  await fill(page, { user_pass0: OLD_PASSWORD, user_pass1: NEW_PASSWORD, user_pass2: NEW_PASSWORD });
  await page.check('input[name=user_poppassd]');
  assert.match(await follow(page), /パスワードを poppassd を使用して変更した/);
  assert.equal((await servers.ask({ poppassd_accepts: NEW_PASSWORD })).accepts, true);
  // The gateway takes the new password too.
  await logIn(page, servers, ACCOUNT, NEW_PASSWORD);
  assert.doesNotMatch(await bodyText(page), /ID error/);
});
