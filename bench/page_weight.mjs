// Weight and load time of the top page, the list and a message on a phone
// (390x844, touch) in Debian's headless Chromium, against the demo's mail
// servers and messages. The gateway is TARNBOX_BIN. Each run is a fresh
// browser profile: the first visit of each page counts as cold (nothing
// cached), the second as warm. Prints one JSON line: per page the medians
// of bytes over the network (HTML and what it loads), the HTML alone, the
// requests and the time from navigation start to the load event. With
// PAGE_WEIGHT_SHOTS=PREFIX the first run also keeps screenshots of the list
// and the message as PREFIX-list.png and PREFIX-message.png.
import { startBrowser, startServers } from '../tests/e2e/harness.mjs';

const RUNS = Number(process.env.PAGE_WEIGHT_RUNS || 7);
const SHOTS = process.env.PAGE_WEIGHT_SHOTS;
const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 3 };

// What the browser fetched for the page now shown, and when it was done.
function pageCost() {
  const nav = performance.getEntriesByType('navigation')[0];
  const loads = performance.getEntriesByType('resource');
  return {
    bytes: nav.transferSize + loads.reduce((n, r) => n + r.transferSize, 0),
    html: nav.encodedBodySize,
    requests: 1 + loads.filter((r) => r.transferSize > 0).length,
    ms: nav.loadEventEnd - nav.startTime,
  };
}

async function visit(page, url) {
  await page.goto(url, { waitUntil: 'load' });
  return page.evaluate(pageCost);
}

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// The demo's Dovecot and Postfix with taro's mail waiting, and a gateway
// before them with taro and hanako registered.
const gateway = await startServers({ demo: true });
const seen = {};
const note = (name, when, cost) => {
  const key = `${name} ${when}`;
  (seen[key] ||= []).push(cost);
};
try {
  for (let run = 0; run < RUNS; run++) {
    const browser = await startBrowser({ options: PHONE });
    try {
      const { page } = browser;
      note('top', 'cold', await visit(page, `${gateway.url}/`));
      note('top', 'warm', await visit(page, `${gateway.url}/`));
      await page.fill('input[name=a]', 'taro');
      await page.fill('input[name=b]', 'taro-pw');
      await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
      const query = (await page.locator('a[href^="/mail/write/"]').first().getAttribute('href'))
        .replace(/^[^?]*/, '');
      const list = `${gateway.url}/mail/index.html${query}`;
      const message = `${gateway.url}/mail/a0005.html${query}`;
      // The list after the login: the stylesheet is cached by the top page
      // already, so a fresh profile's first list is warm for it; the
      // message is the first page of its kind.
      note('list', 'warm', await visit(page, list));
      if (run === 0 && SHOTS) await page.screenshot({ path: `${SHOTS}-list.png`, fullPage: true });
      note('message', 'warm', await visit(page, message));
      if (run === 0 && SHOTS) await page.screenshot({ path: `${SHOTS}-message.png`, fullPage: true });
      note('list', 'warm', await visit(page, list));
    } finally {
      await browser.close();
    }
  }
} finally {
  await gateway.stop();
}
const out = {};
for (const [key, costs] of Object.entries(seen)) {
  out[key] = Object.fromEntries(['bytes', 'html', 'requests', 'ms']
    .map((k) => [k, median(costs.map((c) => c[k]))]));
}
process.stdout.write(JSON.stringify(out) + '\n');
