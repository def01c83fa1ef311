// Chromium on the gateway's own HTTPS listener, its certificate checked
// against a test authority only this profile trusts: no warning, and the
// login over TLS.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { journey, freePort, fill, follow } from './harness.mjs';

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnbox-https-e2e-'));
const at = (name) => path.join(scratch, name);
const openssl = (...args) => execFileSync('openssl', args, { cwd: scratch, stdio: 'pipe' });
const EC = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes'];
let httpsPort;

async function makeCertificates() {
  openssl('req', '-x509', ...EC, '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '30', '-subj', '/CN=Tarnbox Browser Test CA',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign');
  openssl('req', ...EC, '-keyout', 'server.key', '-out', 'server.csr', '-subj', '/CN=127.0.0.1');
  fs.writeFileSync(at('ext.cnf'), 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n');
  openssl('x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key',
    '-CAcreateserial', '-out', 'server.pem', '-days', '30', '-extfile', 'ext.cnf');
  // Chromium on Linux trusts what the NSS database of $HOME/.pki holds.
  fs.mkdirSync(at('.pki/nssdb'), { recursive: true });
  for (const args of [['-N', '--empty-password'], ['-A', '-n', 'tarnbox-test-ca', '-t', 'C,,', '-i', at('ca.pem')]])
    execFileSync('certutil', ['-d', `sql:${at('.pki/nssdb')}`, ...args]);
  httpsPort = await freePort();
}

const j = journey({
  prepare: makeCertificates,
  cleanUp: async () => fs.rmSync(scratch, { recursive: true, force: true }),
  gateway: () => ({
    users: [['--name', '山田太郎', '--mail-address', 'taro@test.example', '--id', 'taro', '--password', 'taro-pw']],
    files: { 'https-cert.pem': fs.readFileSync(at('server.pem')), 'https-key.pem': fs.readFileSync(at('server.key')) },
    serveArgs: ['--https-listen', `127.0.0.1:${httpsPort}`],
  }),
  browser: { env: { HOME: scratch } },
});

test('the top page and a login over HTTPS, checked against the test authority', async () => {
  const { page } = j;
  const url = `https://127.0.0.1:${httpsPort}/`;
  const answer = await page.goto(url);
  assert.equal(answer.status(), 200);
  const security = await answer.securityDetails();
  assert.ok(security, 'served over TLS');
  assert.match(security.protocol, /^TLS 1\.[23]$/);
  assert.equal(security.subjectName, '127.0.0.1');
  assert.equal(await page.title(), 'Tarn Version 1.51');
  await fill(page, { a: 'taro', b: 'taro-pw' });
  await follow(page);
  assert.ok(page.url().startsWith(`https://127.0.0.1:${httpsPort}/mail/`), page.url());
  // No POP3 server runs here: the list page says so, with the user's links.
  assert.match(await page.content(), /\?user=taro\?check=\d+/);
});
