// Chromium on the gateway's own HTTPS listener, its certificate checked
// against a test authority only this profile trusts: no warning, and the
// login over TLS.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { journey, fill, follow } from './harness.mjs';

// No POP3 server runs here.
const j = journey({
  box: null,
  gateway: {
    users: [['--name', '山田太郎', '--mail-address', 'taro@test.example', '--id', 'taro', '--password', 'taro-pw']],
    https: true,
  },
  browser: (servers) => ({ env: { HOME: servers.browserHome } }),
});

test('the top page and a login over HTTPS, checked against the test authority', async () => {
  const { page, servers } = j;
  const answer = await page.goto(`${servers.httpsUrl}/`);
  assert.equal(answer.status(), 200);
  const security = await answer.securityDetails();
  assert.ok(security, 'served over TLS');
  assert.match(security.protocol, /^TLS 1\.[23]$/);
  assert.equal(security.subjectName, '127.0.0.1');
  assert.equal(await page.title(), 'Tarn Version 1.51');
  await fill(page, { a: 'taro', b: 'taro-pw' });
  await follow(page);
  assert.ok(page.url().startsWith(`${servers.httpsUrl}/mail/`), page.url());
  // The list page says it cannot reach the POP3 server, with the user's links.
  assert.match(await page.content(), /\?user=taro\?check=\d+/);
});
