// Chromium reaching the gateway's own HTTPS listener, the certificate
// checked against a test authority that only this browser profile trusts:
// no warning, the login and the list over TLS, HSTS sent, and the plain port
// still as it was.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startGateway, startBrowser, freePort } from './harness.mjs';

let scratch;
let gateway;
let browser;
let httpsPort;

function openssl(...args) {
  execFileSync('openssl', args, { cwd: scratch, stdio: 'pipe' });
}

before(async () => {
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnbox-https-e2e-'));
  openssl('req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '30', '-subj', '/CN=Tarnbox Browser Test CA',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign');
  openssl('req', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-keyout', 'server.key', '-out', 'server.csr', '-subj', '/CN=127.0.0.1');
  fs.writeFileSync(path.join(scratch, 'ext.cnf'),
    'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n');
  openssl('x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key',
    '-CAcreateserial', '-out', 'server.pem', '-days', '30', '-extfile', 'ext.cnf');
  // Chromium on Linux trusts what the NSS database of $HOME/.pki holds.
  const nss = path.join(scratch, '.pki', 'nssdb');
  fs.mkdirSync(nss, { recursive: true });
  execFileSync('certutil', ['-N', '-d', `sql:${nss}`, '--empty-password']);
  execFileSync('certutil', ['-A', '-d', `sql:${nss}`, '-n', 'tarnbox-test-ca', '-t', 'C,,', '-i',
    path.join(scratch, 'ca.pem')]);
  httpsPort = await freePort();
  gateway = await startGateway({
    users: [['--name', '山田太郎', '--mail-address', 'taro@test.example', '--id', 'taro', '--password', 'taro-pw']],
    files: {
      'https-cert.pem': fs.readFileSync(path.join(scratch, 'server.pem')),
      'https-key.pem': fs.readFileSync(path.join(scratch, 'server.key')),
    },
    serveArgs: ['--https-listen', `127.0.0.1:${httpsPort}`],
  });
  browser = await startBrowser({ env: { HOME: scratch } });
});

after(async () => {
  if (browser) await browser.close();
  if (gateway) await gateway.stop();
  if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
});

test('the top page and a login over HTTPS, checked against the test authority', async () => {
  const page = browser.page;
  const url = `https://127.0.0.1:${httpsPort}/`;
  const answer = await page.goto(url);
  assert.equal(answer.status(), 200);
  assert.equal(answer.headers()['strict-transport-security'], 'max-age=31536000');
  const security = await answer.securityDetails();
  assert.ok(security, 'served over TLS');
  assert.match(security.protocol, /^TLS 1\.[23]$/);
  assert.equal(security.subjectName, '127.0.0.1');
  assert.equal(await page.title(), 'Tarn Version 1.51');
  await page.fill('input[name=a]', 'taro');
  await page.fill('input[name=b]', 'taro-pw');
  await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  assert.ok(page.url().startsWith(`https://127.0.0.1:${httpsPort}/mail/`), page.url());
  // No POP3 server runs here: the list page reports that, with the links of
  // the logged-in user.
  assert.match(await page.content(), /\?user=taro\?check=\d+/);
});

test('the plain listener answers as before, without HSTS', async () => {
  const answer = await browser.page.goto(`${gateway.url}/`);
  assert.equal(answer.status(), 200);
  assert.equal(answer.headers()['strict-transport-security'], undefined);
  assert.ok(answer.url().startsWith("http://"), answer.url());
});

test('an authority the browser does not trust is refused', async () => {
  const other = await startBrowser();
  try {
    await assert.rejects(other.page.goto(`https://127.0.0.1:${httpsPort}/`), /ERR_CERT_AUTHORITY_INVALID/);
  } finally { await other.close(); }
});
