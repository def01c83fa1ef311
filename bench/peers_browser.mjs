// Times, in Debian's headless Chromium, how long after the login click the
// list rows of a mailbox are in the page, then the same for a second view.
// Driven by bench/peers.py: one JSON job list on stdin, one JSON line of
// results per job on stdout. Each job has its own fresh browser profile;
// the launch is not timed.
import { startBrowser } from '../tests/e2e/harness.mjs';

const SIDES = {
  tarnbox: {
    loginPath: '/',
    user: 'input[name=a]', password: 'input[name=b]', submit: 'input[type=submit]',
    rows: 'input[type=checkbox][name^=delete_a]',
    async listUrl(page, base) {
      const m = (await page.content()).match(/\/mail\/index\.html\?user=[^"?&]+\?check=\d+/);
      if (!m) throw new Error('no list link on the gateway page');
      return base + m[0];
    },
  },
  roundcube: {
    loginPath: '/?_task=login',
    user: '#rcmloginuser', password: '#rcmloginpwd', submit: '#rcmloginsubmit',
    rows: '#messagelist tbody tr',
    async listUrl(page, base) { return base + '/?_task=mail&_mbox=INBOX'; },
  },
};

const TIMEOUT = Number(process.env.PEERS_BROWSER_TIMEOUT || 300) * 1000;

async function rowsShown(page, selector, count) {
  // Polled once a frame: the rows count when the browser could paint them.
  try {
    await page.waitForFunction(([sel, n]) => document.querySelectorAll(sel).length >= n,
      [selector, count], { polling: 'raf', timeout: TIMEOUT });
  } catch (e) {
    const seen = await page.evaluate((sel) => [document.querySelectorAll(sel).length,
      document.characterSet, document.documentElement.outerHTML.length,
      document.readyState], selector).catch(() => null);
    throw new Error(`rows not shown in ${TIMEOUT / 1000} s at ${page.url()}: ` +
      `(rows, charset, html length, state) = ${JSON.stringify(seen)}`);
  }
}

async function run(job) {
  const side = SIDES[job.side];
  const browser = await startBrowser();
  try {
    const { page } = browser;
    page.setDefaultTimeout(600000);
    await page.goto(job.base + side.loginPath);
    await page.fill(side.user, job.user);
    await page.fill(side.password, job.password);
    let t = performance.now();
    await Promise.all([page.waitForNavigation({ waitUntil: 'commit' }), page.click(side.submit)]);
    await rowsShown(page, side.rows, job.rows);
    const cold = performance.now() - t;
    const url = await side.listUrl(page, job.base);
    t = performance.now();
    await page.goto(url, { waitUntil: 'commit' });
    await rowsShown(page, side.rows, job.rows);
    const warm = performance.now() - t;
    const shown = await page.locator(side.rows).count();
    return { side: job.side, user: job.user, cold: cold / 1000, warm: warm / 1000, shown };
  } finally {
    await browser.close();
  }
}

let input = '';
for await (const chunk of process.stdin) input += chunk;
for (const job of JSON.parse(input)) {
  // One stuck job is reported, and the others still run.
  const result = await run(job).catch((e) => ({ side: job.side, user: job.user, error: e.message }));
  process.stdout.write(JSON.stringify(result) + '\n');
}
