// The address-book page's script in Chromium: moving, sorting, editing,
// adding, deleting, resetting and storing entries, the list as drawn, and
// its entries on the compose page.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { journey, logIn, fill, follow, queryOf } from './harness.mjs';

const PLACEHOLDER = '-'.repeat(40);
const BOOK = ['Zed <a@b.c>', 'Al <z@b.c>', 'Mi <m@b.c>'];
const BY_NAME = ['Al <z@b.c>', 'Mi <m@b.c>', 'Zed <a@b.c>'];

let query, bookUrl;
// An empty POP3 box: a login holds only once the list has been shown.
const j = journey({
  box: [],
  async ready({ page, servers }) {
    query = queryOf(await logIn(page, servers, servers.user, servers.password));
    const book = `${servers.url}/mail/book/index.html`;
    bookUrl = book + query;
    // The book is filled the way a message view's link does it.
    for (const [i, entry] of BOOK.entries()) await page.goto(`${book}?back=a000${i + 1}?add=${encodeURIComponent(entry)}${query}`);
  },
});

const options = () => j.page.$$eval('select[name=list] option', (os) => os.map((o) => o.text));
const select = (index) => j.page.selectOption('select[name=list]', { index });
const click = (call) => j.page.locator(`input[type=button][onclick="${call}"]`).click();
const add = async (name, address) => {
  await fill(j.page, { book_name: name, book_mail_address: address });
  await click('iadd(-1)');
};
const deleteFirst = async (n) => {
  for (let i = 0; i < n; i++) await select(0).then(() => click('idelete(-1)'));
};
// Update, then the list as the stored book brings it back.
const stored = async () => {
  await follow(j.page);
  await j.page.goto(bookUrl);
  return options();
};

const open = async () => {
  await j.page.goto(bookUrl);
  assert.deepEqual(await options(), BOOK, 'install_address_book() must be called by serve');
};

test('up, down and the two sorts; edit and Back; add checks its input, delete ends in the placeholder, reset restores', async () => {
  const { page } = j;
  await open();
  await select(2);
  for (const [calls, entries, selected] of [[['iup()', 'iup()'], [BOOK[2], BOOK[0], BOOK[1]], 0],
    [['idown()'], [BOOK[0], BOOK[2], BOOK[1]], 1], [['isort(0)'], BY_NAME],
    [['isort(1)'], ['Zed <a@b.c>', 'Mi <m@b.c>', 'Al <z@b.c>']]]) {
    for (const call of calls) await click(call);
    assert.deepEqual(await options(), entries, calls.join());
    if (selected !== undefined) assert.equal(await page.$eval('select[name=list]', (l) => l.selectedIndex), selected);
  }

  // Edit takes an entry out; Back puts the changed entry where it was.
  await open();
  const bedit = page.locator('input[name=bedit]');
  const editLabel = await bedit.inputValue();
  await select(1);
  await bedit.click();
  assert.deepEqual([await page.inputValue('input[name=book_name]'), await page.inputValue('input[name=book_mail_address]')],
    ['Al', 'z@b.c']);
  assert.deepEqual(await options(), [BOOK[0], BOOK[2]]);
  assert.notEqual(await bedit.inputValue(), editLabel);
  await fill(page, { book_name: 'Alan' });
  await bedit.click();
  assert.deepEqual(await options(), [BOOK[0], 'Alan <z@b.c>', BOOK[2]]);
  assert.equal(await bedit.inputValue(), editLabel);

  await open();
  const alerts = [];
  const onDialog = (d) => alerts.push(d.message()) && d.accept();
  page.on('dialog', onDialog);
  for (const [name, address] of [['X', 'no-at-sign'], ['A,B', 'ab@b.c'], ['', 'new@b.c']]) await add(name, address);
  page.off('dialog', onDialog);
  assert.equal(alerts.length, 2);
  assert.deepEqual(await options(), [...BOOK, '<new@b.c>']);
  await deleteFirst(4);
  assert.deepEqual(await options(), [PLACEHOLDER]);
  await page.click('input[type=reset]');
  assert.deepEqual(await options(), BOOK);
});

// The list box as it is drawn: its box and where each entry sits in it.
const listBoxes = () => j.page.$eval('select[name=list]', (s) => ({
  list: s.getBoundingClientRect().toJSON(),
  entries: [...s.options].map((o) => ({ text: o.text, box: o.getBoundingClientRect().toJSON() })),
}));

// Picks an entry the way a user does, by clicking where it is drawn.
async function clickEntry(text) {
  const entry = (await listBoxes()).entries.find((e) => e.text === text);
  assert.ok(entry, `${text} is listed`);
  await j.page.mouse.click(entry.box.x + entry.box.width / 2, entry.box.y + entry.box.height / 2);
  assert.equal(await j.page.$eval('select[name=list]', (s) => s.options[s.selectedIndex]?.text), text);
}

const widthOf = (selector) => j.page.$eval(selector, (s) => s.getBoundingClientRect().width);

test('update stores the list; emptied to the placeholder it removes the book; added entries are drawn, reach the To field of both compose forms, and go', async () => {
  const { page } = j;
  const [taro, zed] = ['山田 太郎 <taro@test.example>', 'Zed <a@b.c>'];
  await open();
  await click('isort(0)');
  assert.deepEqual(await stored(), BY_NAME);
  await deleteFirst(3);
  assert.deepEqual(await stored(), [PLACEHOLDER]);
  await add('Zed', 'a@b.c');
  await add('山田 太郎', 'taro@test.example');
  assert.deepEqual(await stored(), [zed, taro]);

  const { list, entries } = await listBoxes();
  assert.ok(list.width > 150 && list.height > 100, `list box drawn ${list.width}x${list.height}`);
  for (const { text, box } of entries) {
    assert.ok(box.width > 100 && box.height > 5, `${text} drawn ${box.width}x${box.height}`);
    assert.ok(box.x >= list.x && box.x + box.width <= list.x + list.width + 1
      && box.y >= list.y && box.y + box.height <= list.y + list.height + 1, `${text} inside the list`);
  }
  await clickEntry(taro);

  // Script variant: the book's select and "Add to To".
  const compose = `${j.servers.url}/mail/write/index.html${query}`;
  await page.goto(compose);
  assert.ok(await widthOf('select[name=book_to]') > 150, 'book select drawn too narrow');
  for (const [label, to] of [[taro, taro], [zed, `${taro},${zed}`]]) {
    await page.selectOption('select[name=book_to]', { label });
    await page.locator('input[type=button][onclick="add_to(1)"]').click();
    assert.equal(await page.inputValue('input[name=send_to]'), to);
  }

  // Plain variant: the entry goes as a second To value; a typed address
  // that fails the check brings the form back with both.
  await page.setExtraHTTPHeaders({ 'User-Agent': 'Lynx/2.8.9rel.1' });
  try {
    await page.goto(compose);
    assert.equal(await page.locator('select[name=book_to]').count(), 0);
    assert.ok(await widthOf('select[name=send_to]') > 150);
    await fill(page, { send_to: 'nobody@host' });
    await page.selectOption('select[name=send_to]', { label: taro });
    await follow(page);
    assert.equal(await page.inputValue('input[name=send_to]'), `nobody@host,${taro}`);
  } finally {
    await page.setExtraHTTPHeaders({});
  }

  await page.goto(bookUrl);
  await clickEntry(zed);
  await click('idelete(-1)');
  assert.deepEqual(await stored(), [taro]);
});
