// One person looking after an account in Chromium: registration from the
// top page, the settings of two sets, and a password change that reaches the
// system account through Debian's poppassd (behind socat on 127.0.0.1:106).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import net from 'node:net';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { startGateway, startBrowser } from './harness.mjs';

const HERE = path.dirname(fileURLToPath(import.meta.url));

const ACCOUNT = `tbx${crypto.randomBytes(3).toString('hex')}`;
const OLD_PASSWORD = 'Old-Pass-41';
const NEW_PASSWORD = 'New-Pass-52';

let socat;
let bridge;
let gateway;
let browser;

function poppassdListening() {
  return new Promise((resolve) => {
    const s = net.connect(106, '127.0.0.1', () => { s.end(); resolve(true); });
    s.on('error', () => resolve(false));
  });
}

// Asks poppassd directly whether password opens the account.
function passwordWorks(password) {
  return new Promise((resolve, reject) => {
    const s = net.connect(106, '127.0.0.1');
    let seen = '';
    const steps = [`user ${ACCOUNT}\r\n`, `pass ${password}\r\n`];
    s.on('data', (d) => {
      seen += d.toString('latin1');
      const lines = seen.split('\r\n').filter((l) => l);
      if (lines.length > steps.length) {
        s.end('quit\r\n');
        resolve(lines[steps.length].startsWith('200'));
      } else if (!lines[lines.length - 1].startsWith('200')) {
        s.end();
        resolve(false);
      } else if (seen.endsWith('\r\n')) {
        s.write(steps[lines.length - 1]);
      }
    });
    s.on('error', reject);
  });
}

before(async () => {
  execFileSync('useradd', ['-M', '-d', '/nonexistent', '-s', '/usr/sbin/nologin', ACCOUNT]);
  execFileSync('chpasswd', { input: `${ACCOUNT}:${OLD_PASSWORD}\n` });
  // Through a shell that exits 0: socat may drop poppassd's last reply when
  // poppassd itself exits with a failure status.
  socat = spawn('socat', ['TCP-LISTEN:106,bind=127.0.0.1,reuseaddr,fork', 'SYSTEM:/usr/sbin/poppassd; exit 0'],
    { stdio: 'ignore', detached: true });
  for (let i = 0; i < 100 && !(await poppassdListening()); i++) await new Promise((r) => setTimeout(r, 50));
  // The list must come up once for a login to hold: Dovecot knows the
  // account with its first password.
  const proc = spawn('python3', [path.join(HERE, 'pop3_bridge.py')], { stdio: ['pipe', 'pipe', 'inherit'] });
  proc.stdin.write(JSON.stringify({ messages: [], user: ACCOUNT, password: OLD_PASSWORD }) + '\n');
  const info = await new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`POP3 bridge ended with ${code}`)));
    readline.createInterface({ input: proc.stdout }).once('line', (l) => resolve(JSON.parse(l)));
  });
  bridge = proc;
  gateway = await startGateway({
    settings: ['browser_registration=1', 'multiple_addresses=1', 'poppassd_changeable=1',
      `pop3_port=${info.port}`],
  });
  browser = await startBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (gateway) await gateway.stop();
  if (socat && socat.exitCode === null) process.kill(-socat.pid, 'SIGTERM');
  if (bridge && bridge.exitCode === null) {
    const exited = new Promise((r) => bridge.once('exit', r));
    bridge.stdin.end();
    await exited;
  }
  try { execFileSync('userdel', [ACCOUNT]); } catch { /* already gone */ }
});

const bodyText = (page) => page.evaluate(() => document.body.innerText);

async function submit(page, selector = 'input[type=submit]') {
  await Promise.all([page.waitForNavigation(), page.click(selector)]);
  return bodyText(page);
}

test('register, change settings, add and delete a set, change the password', async (t) => {
  const page = browser.page;
  let settingsUrl;

  await t.test('a visitor registers from the top page', async () => {
    await page.goto(`${gateway.url}/`);
    await Promise.all([page.waitForNavigation(), page.click('a[href^="/mail/new/"]')]);
    assert.match(await bodyText(page), /ユーザーの追加/);
    await page.fill('input[name=user_name]', '鈴木 一郎');
    await page.fill('input[name=user_mail_address]', `${ACCOUNT}@example.jp`);
    await page.fill('input[name=user_id]', ACCOUNT);
    await page.fill('input[name=user_pass1]', OLD_PASSWORD);
    await page.fill('input[name=user_pass2]', OLD_PASSWORD);
    const text = await submit(page);
    assert.match(text, /登録終了/);
    assert.ok(text.includes('鈴木 一郎'), text);
  });

  await t.test('the new user logs in and changes the name and the signature', async () => {
    await page.goto(`${gateway.url}/`);
    await page.fill('input[name=a]', ACCOUNT);
    await page.fill('input[name=b]', OLD_PASSWORD);
    await submit(page);
    // No POP3 server runs here: the list reports that, with its links.
    await Promise.all([page.waitForNavigation(), page.click('a[href^="/mail/setup/index.html"]')]);
    settingsUrl = page.url();
    assert.match(await bodyText(page), /鈴木 一郎 さんの設定変更/);
    await page.fill('input[name=user_name]', '鈴木 一朗');
    await page.fill('textarea[name=message]', '--\n鈴木 一朗\n営業部');
    const text = await submit(page);
    assert.match(text, /変更終了/);
    assert.ok(text.includes('鈴木 一朗'), text);
    assert.ok(text.includes('営業部'), text);
  });

  await t.test('Settings 2 is added and deleted again', async () => {
    await page.goto(settingsUrl);
    await Promise.all([page.waitForNavigation(), page.click('text=設定2追加')]);
    await page.fill('input[name=user_name]', '鈴木 (個人)');
    await page.fill('input[name=user_mail_address]', 'ichiro@example.net');
    await page.fill('input[name=user_id]', `${ACCOUNT}2`);
    await page.fill('input[name=user_pass1]', 'second-pw');
    await page.fill('input[name=user_pass2]', 'second-pw');
    let text = await submit(page);
    assert.match(text, /変更終了/);
    assert.match(text, /設定2内容/);
    await page.goto(settingsUrl);
    await Promise.all([page.waitForNavigation(), page.click('text=設定2変更')]);
    text = await submit(page, 'form[action^="/mail/setup/delete2"] input[type=submit]');
    assert.match(text, /設定2の内容を削除しました/);
    await page.goto(settingsUrl);
    assert.match(await bodyText(page), /設定2追加/);
  });

  await t.test('the password changes on the server through poppassd', async () => {
    await page.goto(settingsUrl);
    await page.fill('input[name=user_pass0]', OLD_PASSWORD);
    await page.fill('input[name=user_pass1]', NEW_PASSWORD);
    await page.fill('input[name=user_pass2]', NEW_PASSWORD);
    await page.check('input[name=user_poppassd]');
    const text = await submit(page);
    assert.match(text, /パスワードを poppassd を使用して変更した/, text);
    assert.equal(await passwordWorks(NEW_PASSWORD), true);
    // The gateway takes the new password too.
    await page.goto(`${gateway.url}/`);
    await page.fill('input[name=a]', ACCOUNT);
    await page.fill('input[name=b]', NEW_PASSWORD);
    assert.doesNotMatch(await submit(page), /ID error/);
  });
});
