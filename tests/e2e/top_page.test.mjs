// The top page as a person sees it in Chromium, in each language setting.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startGateway, startBrowser } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

async function textOf(page, url) {
  await page.goto(url);
  return page.evaluate(() => [document.characterSet, document.title, document.body.innerText]);
}

test('Japanese top page renders its login form in Japanese', async () => {
  const g = await startGateway({ users: [['--name', '太郎', '--mail-address', 't@e.jp', '--id', 'taro', '--password', 'pw']] });
  try {
    const [charset, title, text] = await textOf(browser.page, `${g.url}/`);
    assert.equal(charset, 'Shift_JIS');
    assert.equal(title, 'Tarn Version 1.51');
    assert.match(text, /ユーザー名\s*:/);
    assert.match(text, /パスワード\s*:/);
    assert.match(text, /ユーザーの追加/);
    assert.match(text, /読み書き終了をクリックしてブラウザを終了させてください/);
    assert.doesNotMatch(text, /User Name/);
    assert.equal(await browser.page.locator('input[name=a]').count(), 1);
  } finally { await g.stop(); }
});

test('English and bilingual top pages', async () => {
  const g = await startGateway({
    settings: ['language_policy=3'],
    users: [['--name', 'Taro', '--mail-address', 't@e.jp', '--id', 'taro', '--password', 'pw']],
  });
  try {
    let [, , text] = await textOf(browser.page, `${g.url}/`);
    assert.match(text, /ユーザー名/);
    assert.match(text, /User Name/);
    [, , text] = await textOf(browser.page, `${g.url}/index.html?lang=eng`);
    assert.match(text, /User Name/);
    assert.doesNotMatch(text, /ユーザー名/);
    assert.equal(await browser.page.locator('input[type=submit]').getAttribute('value'), 'Read/Write Mail');
  } finally { await g.stop(); }
});

test('a failed form login shows the ID error page', async () => {
  const g = await startGateway({ users: [['--name', 'Taro', '--mail-address', 't@e.jp', '--id', 'taro', '--password', 'pw']] });
  try {
    const page = browser.page;
    await page.goto(`${g.url}/`);
    await page.fill('input[name=a]', 'taro');
    await page.fill('input[name=b]', 'wrong');
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    const text = await page.evaluate(() => document.body.innerText);
    assert.match(text, /ID error/);
  } finally { await g.stop(); }
});
