// The address-book page's script in Chromium: moving, sorting, editing,
// adding, deleting and resetting entries, and storing the book with Update;
// the list as it is drawn, and its entries on the compose page.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { startGateway, startBrowser } from './harness.mjs';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const PLACEHOLDER = '-'.repeat(40);
const BOOK = ['Zed <a@b.c>', 'Al <z@b.c>', 'Mi <m@b.c>'];

let browser, gateway, bridge, bookUrl;

// An empty POP3 box: a login holds only once the list has been shown.
function startBridge() {
  const proc = spawn('python3', [path.join(HERE, 'pop3_bridge.py')], { stdio: ['pipe', 'pipe', 'inherit'] });
  proc.stdin.write('[]\n');
  return new Promise((resolve, reject) => {
    proc.once('exit', (code) => reject(new Error(`POP3 bridge ended with ${code}`)));
    readline.createInterface({ input: proc.stdout })
      .once('line', (line) => resolve({ proc, info: JSON.parse(line) }));
  });
}

before(async () => {
  browser = await startBrowser();
  bridge = await startBridge();
  const pop = bridge.info;
  gateway = await startGateway({
    settings: [`pop3_port=${pop.port}`],
    users: [['--name', 'Hanako', '--mail-address', 'hanako@example.jp', '--id', pop.user, '--password', pop.password]],
  });
  const page = browser.page;
  await page.goto(`${gateway.url}/`);
  await page.fill('input[name=a]', pop.user);
  await page.fill('input[name=b]', pop.password);
  await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  const href = await page.locator('a[href^="/mail/book/index.html"]').first().getAttribute('href');
  const query = href.slice(href.indexOf('?'));
  bookUrl = `${gateway.url}/mail/book/index.html${query}`;
  // The book is filled the way a message view's link does it.
  for (const [i, entry] of BOOK.entries())
    await page.goto(`${gateway.url}/mail/book/index.html?back=a000${i + 1}?add=${encodeURIComponent(entry)}${query}`);
});

after(async () => {
  await browser?.close();
  await gateway?.stop();
  if (bridge && bridge.proc.exitCode === null) {
    const exited = new Promise((r) => bridge.proc.once('exit', r));
    bridge.proc.stdin.end();
    await exited;
  }
});

const options = (page) => page.$$eval('select[name=list] option', (os) => os.map((o) => o.text));
const select = (page, index) => page.selectOption('select[name=list]', { index });
const click = (page, call) => page.locator(`input[type=button][onclick="${call}"]`).click();

async function open(page) {
  await page.goto(bookUrl);
  assert.deepEqual(await options(page), BOOK, 'install_address_book() must be called by serve');
}

test('up, down and the two sorts', async () => {
  const page = browser.page;
  await open(page);
  await select(page, 2);
  await click(page, 'iup()');
  await click(page, 'iup()');
  assert.deepEqual(await options(page), [BOOK[2], BOOK[0], BOOK[1]]);
  await click(page, 'idown()');
  assert.deepEqual(await options(page), [BOOK[0], BOOK[2], BOOK[1]]);
  assert.equal(await page.$eval('select[name=list]', (s) => s.selectedIndex), 1);
  await click(page, 'isort(0)');
  assert.deepEqual(await options(page), ['Al <z@b.c>', 'Mi <m@b.c>', 'Zed <a@b.c>']);
  await click(page, 'isort(1)');
  assert.deepEqual(await options(page), ['Zed <a@b.c>', 'Mi <m@b.c>', 'Al <z@b.c>']);
});

test('edit takes an entry out; Back puts the changed entry where it was', async () => {
  const page = browser.page;
  await open(page);
  const bedit = page.locator('input[name=bedit]');
  const editLabel = await bedit.inputValue();
  await select(page, 1);
  await bedit.click();
  assert.equal(await page.inputValue('input[name=book_name]'), 'Al');
  assert.equal(await page.inputValue('input[name=book_mail_address]'), 'z@b.c');
  assert.deepEqual(await options(page), [BOOK[0], BOOK[2]]);
  assert.notEqual(await bedit.inputValue(), editLabel);
  await page.fill('input[name=book_name]', 'Alan');
  await bedit.click();
  assert.deepEqual(await options(page), [BOOK[0], 'Alan <z@b.c>', BOOK[2]]);
  assert.equal(await bedit.inputValue(), editLabel);
});

test('add checks its input, delete ends in the placeholder, reset restores', async () => {
  const page = browser.page;
  await open(page);
  const alerts = [];
  const onDialog = (d) => { alerts.push(d.message()); d.accept(); };
  page.on('dialog', onDialog);
  for (const [name, address] of [['X', 'no-at-sign'], ['A,B', 'ab@b.c'], ['', 'new@b.c']]) {
    await page.fill('input[name=book_name]', name);
    await page.fill('input[name=book_mail_address]', address);
    await click(page, 'iadd(-1)');
  }
  page.off('dialog', onDialog);
  assert.equal(alerts.length, 2);
  assert.deepEqual(await options(page), [...BOOK, '<new@b.c>']);
  for (let i = 0; i < 4; i++) {
    await select(page, 0);
    await click(page, 'idelete(-1)');
  }
  assert.deepEqual(await options(page), [PLACEHOLDER]);
  await page.click('input[type=reset]');
  assert.deepEqual(await options(page), BOOK);
});

test('update stores the list; a list emptied to the placeholder removes the book', async () => {
  const page = browser.page;
  const update = () => Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  await open(page);
  await click(page, 'isort(0)');
  await update();
  await page.goto(bookUrl);
  assert.deepEqual(await options(page), ['Al <z@b.c>', 'Mi <m@b.c>', 'Zed <a@b.c>']);
  for (let i = 0; i < 3; i++) {
    await select(page, 0);
    await click(page, 'idelete(-1)');
  }
  await update();
  await page.goto(bookUrl);
  assert.deepEqual(await options(page), [PLACEHOLDER]);
});

// The list box as it is drawn: its box and where each entry sits in it.
const listBoxes = (page) => page.$eval('select[name=list]', (s) => ({
  list: s.getBoundingClientRect().toJSON(),
  entries: [...s.options].map((o) => ({ text: o.text, box: o.getBoundingClientRect().toJSON() })),
}));

// Picks an entry the way a user does, by clicking where it is drawn.
async function clickEntry(page, text) {
  const { entries } = await listBoxes(page);
  const entry = entries.find((e) => e.text === text);
  assert.ok(entry, `${text} is listed`);
  await page.mouse.click(entry.box.x + entry.box.width / 2, entry.box.y + entry.box.height / 2);
  assert.equal(await page.$eval('select[name=list]', (s) => s.options[s.selectedIndex]?.text), text);
}

test('added entries are drawn in the list, reach the To field of both compose forms, and go', async () => {
  const page = browser.page;
  const taro = '山田 太郎 <taro@test.example>';
  const zed = 'Zed <a@b.c>';
  const update = () => Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
  await page.goto(bookUrl);
  // Whatever the tests before left, this one starts from the placeholder.
  while ((await options(page))[0] !== PLACEHOLDER) {
    await select(page, 0);
    await click(page, 'idelete(-1)');
  }
  for (const [name, address] of [['Zed', 'a@b.c'], ['山田 太郎', 'taro@test.example']]) {
    await page.fill('input[name=book_name]', name);
    await page.fill('input[name=book_mail_address]', address);
    await click(page, 'iadd(-1)');
  }
  await update();
  await page.goto(bookUrl);

  const { list, entries } = await listBoxes(page);
  assert.deepEqual(entries.map((e) => e.text), [zed, taro]);
  assert.ok(list.width > 150 && list.height > 100, `list box drawn ${list.width}x${list.height}`);
  for (const { text, box } of entries) {
    assert.ok(box.width > 100 && box.height > 5, `${text} drawn ${box.width}x${box.height}`);
    assert.ok(box.x >= list.x && box.x + box.width <= list.x + list.width + 1
      && box.y >= list.y && box.y + box.height <= list.y + list.height + 1, `${text} inside the list`);
  }
  await clickEntry(page, taro);

  // Script variant: the book's select and "Add to To".
  const compose = `${gateway.url}/mail/write/index.html${bookUrl.slice(bookUrl.indexOf('?'))}`;
  await page.goto(compose);
  const picker = await page.$eval('select[name=book_to]', (s) => s.getBoundingClientRect().width);
  assert.ok(picker > 150, `book select drawn ${picker} px wide`);
  const addToTo = page.locator('input[type=button][onclick="add_to(1)"]');
  await page.selectOption('select[name=book_to]', { label: taro });
  await addToTo.click();
  assert.equal(await page.inputValue('input[name=send_to]'), taro);
  await page.selectOption('select[name=book_to]', { label: zed });
  await addToTo.click();
  assert.equal(await page.inputValue('input[name=send_to]'), `${taro},${zed}`);

  // Plain variant: the chosen entry is posted as a second To value. A typed
  // address that fails the check brings the form back with both, without
  // any mail server.
  await page.setExtraHTTPHeaders({ 'User-Agent': 'Lynx/2.8.9rel.1' });
  try {
    await page.goto(compose);
    assert.equal(await page.locator('select[name=book_to]').count(), 0);
    assert.ok(await page.$eval('select[name=send_to]', (s) => s.getBoundingClientRect().width) > 150);
    await page.fill('input[name=send_to]', 'nobody@host');
    await page.selectOption('select[name=send_to]', { label: taro });
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    assert.equal(await page.inputValue('input[name=send_to]'), `nobody@host,${taro}`);
  } finally {
    await page.setExtraHTTPHeaders({});
  }

  await page.goto(bookUrl);
  await clickEntry(page, zed);
  await click(page, 'idelete(-1)');
  await update();
  await page.goto(bookUrl);
  assert.deepEqual(await options(page), [taro]);
});
