// One person looking after an account in Chromium: registration from the
// top page, the settings of two sets, and a password change that reaches the
// system account through Debian's poppassd (behind socat on 127.0.0.1:106).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import net from 'node:net';
import readline from 'node:readline';
import { journey, answers, sleep, bodyText, fill, follow, logIn } from './harness.mjs';

const ACCOUNT = `tbx${crypto.randomBytes(3).toString('hex')}`;
const OLD_PASSWORD = 'Old-Pass-41';
const NEW_PASSWORD = 'New-Pass-52';

let socat;
// The list must come up once for a login to hold: Dovecot knows the account
// with its first password.
const j = journey({
  box: [], account: { user: ACCOUNT, password: OLD_PASSWORD },
  gateway: (pop) => ({
    settings: ['browser_registration=1', 'multiple_addresses=1', 'poppassd_changeable=1', `pop3_port=${pop.port}`],
  }),
  async prepare() {
    execFileSync('useradd', ['-M', '-d', '/nonexistent', '-s', '/usr/sbin/nologin', ACCOUNT]);
    execFileSync('chpasswd', { input: `${ACCOUNT}:${OLD_PASSWORD}\n` });
    // Through a shell that exits 0: socat may drop poppassd's last reply when
    // poppassd itself exits with a failure status.
    socat = spawn('socat', ['TCP-LISTEN:106,bind=127.0.0.1,reuseaddr,fork', 'SYSTEM:/usr/sbin/poppassd; exit 0'],
      { stdio: 'ignore', detached: true });
    for (let i = 0; i < 100 && !(await answers(106)); i++) await sleep(50);
  },
  async cleanUp() {
    if (socat && socat.exitCode === null) process.kill(-socat.pid, 'SIGTERM');
    try { execFileSync('userdel', [ACCOUNT]); } catch { /* already gone */ }
  },
});

// Asks poppassd directly whether password opens the account.
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

const person = (name, address, id, password) => ({
  user_name: name, user_mail_address: address, user_id: id, user_pass1: password, user_pass2: password,
});

test('register, change settings, add and delete a set, change the password', async (t) => {
  const { page } = j;
  let settingsUrl;
  const openSettings = async (link) => {
    await page.goto(settingsUrl);
    if (link) await follow(page, link);
  };

  await t.test('a visitor registers from the top page', async () => {
    await page.goto(`${j.gateway.url}/`);
    assert.match(await follow(page, 'a[href^="/mail/new/"]'), /ユーザーの追加/);
    await fill(page, person('鈴木 一郎', `${ACCOUNT}@example.jp`, ACCOUNT, OLD_PASSWORD));
    const text = await follow(page);
    assert.ok(/登録終了/.test(text) && text.includes('鈴木 一郎'), text);
  });

  await t.test('the new user logs in and changes the name and the signature', async () => {
    await logIn(page, j.gateway, ACCOUNT, OLD_PASSWORD);
    assert.match(await follow(page, 'a[href^="/mail/setup/index.html"]'), /鈴木 一郎 さんの設定変更/);
    settingsUrl = page.url();
    await fill(page, { user_name: '鈴木 一朗', message: '--\n鈴木 一朗\n営業部' });
    const text = await follow(page);
    assert.ok(/変更終了/.test(text) && text.includes('鈴木 一朗') && text.includes('営業部'), text);
  });

  await t.test('Settings 2 is added and deleted again', async () => {
    await openSettings('text=設定2追加');
    await fill(page, person('鈴木 (個人)', 'ichiro@example.net', `${ACCOUNT}2`, 'second-pw'));
    let text = await follow(page);
    assert.ok(/変更終了/.test(text) && /設定2内容/.test(text), text);
    await openSettings('text=設定2変更');
    text = await follow(page, 'form[action^="/mail/setup/delete2"] input[type=submit]');
    assert.match(text, /設定2の内容を削除しました/);
    await openSettings();
    assert.match(await bodyText(page), /設定2追加/);
  });

  await t.test('the password changes on the server through poppassd', async () => {
    await openSettings();
    await fill(page, { user_pass0: OLD_PASSWORD, user_pass1: NEW_PASSWORD, user_pass2: NEW_PASSWORD });
    await page.check('input[name=user_poppassd]');
    assert.match(await follow(page), /パスワードを poppassd を使用して変更した/);
    assert.equal(await passwordWorks(NEW_PASSWORD), true);
    // The gateway takes the new password too.
    await logIn(page, j.gateway, ACCOUNT, NEW_PASSWORD);
    assert.doesNotMatch(await bodyText(page), /ID error/);
  });
});
