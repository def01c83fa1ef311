// A password change on the settings page in Chromium that reaches the system
// account through Debian's poppassd (behind socat on 127.0.0.1:106).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import net from 'node:net';
import readline from 'node:readline';
import { journey, sleep, bodyText, fill, follow, logIn } from './harness.mjs';

const ACCOUNT = `tbx${crypto.randomBytes(3).toString('hex')}`;
const [OLD_PASSWORD, NEW_PASSWORD] = ['Old-Pass-41', 'New-Pass-52'];

const answers = (port) => new Promise((resolve) => {
  const s = net.connect(port, '127.0.0.1', () => { s.end(); resolve(true); });
  s.on('error', () => resolve(false));
});

let socat;
// The list must come up once for a login to hold: Dovecot knows the account
// with its first password.
const j = journey({
  account: { user: ACCOUNT, password: OLD_PASSWORD },
  gateway: {
    settings: ['poppassd_changeable=1'],
    users: [['--name', '鈴木 一郎', '--mail-address', `${ACCOUNT}@example.jp`, '--id', ACCOUNT, '--password', OLD_PASSWORD]],
  },
  async prepare() {
    execFileSync('useradd', ['-M', '-d', '/nonexistent', '-s', '/usr/sbin/nologin', ACCOUNT]);
    execFileSync('chpasswd', { input: `${ACCOUNT}:${OLD_PASSWORD}\n` });
    // Through a shell that exits 0: socat may drop poppassd's last reply
    // when poppassd fails.
    socat = spawn('socat', ['TCP-LISTEN:106,bind=127.0.0.1,reuseaddr,fork', 'SYSTEM:/usr/sbin/poppassd; exit 0'],
      { stdio: 'ignore', detached: true });
    for (let i = 0; i < 100 && !(await answers(106)); i++) await sleep(50);
  },
  async cleanUp() {
    if (socat && socat.exitCode === null) process.kill(-socat.pid, 'SIGTERM');
    try { execFileSync('userdel', [ACCOUNT]); } catch { /* already gone */ }
  },
});

async function passwordWorks(password) {
  const s = net.connect(106, '127.0.0.1');
  const replies = readline.createInterface({ input: s })[Symbol.asyncIterator]();
  const ok = async () => ((await replies.next()).value ?? '').startsWith('200');
  try {
    for (const line of [`user ${ACCOUNT}`, `pass ${password}`]) {
      if (!(await ok())) return false;
      s.write(`${line}\r\n`);
    }
    return await ok();
  } finally {
    s.end('quit\r\n');
  }
}

test('the password changes on the server through poppassd', async () => {
  const { page, servers } = j;
  await logIn(page, servers, ACCOUNT, OLD_PASSWORD);
  assert.match(await follow(page, 'a[href^="/mail/setup/index.html"]'), /鈴木 一郎 さんの設定変更/);
  await fill(page, { user_pass0: OLD_PASSWORD, user_pass1: NEW_PASSWORD, user_pass2: NEW_PASSWORD });
  await page.check('input[name=user_poppassd]');
  assert.match(await follow(page), /パスワードを poppassd を使用して変更した/);
  assert.equal(await passwordWorks(NEW_PASSWORD), true);
  // The gateway takes the new password too.
  await logIn(page, servers, ACCOUNT, NEW_PASSWORD);
  assert.doesNotMatch(await bodyText(page), /ID error/);
});
