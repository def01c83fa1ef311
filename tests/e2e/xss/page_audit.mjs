// Run inside the browser, so they may use nothing from this module: the
// trap installed before any page script, and the audit of the parsed page.

// What a vector calls to show it ran reports through the binding, which
// outlives a navigation the vector might cause.
export const TRAP = `(() => {
  const report = (kind, detail) => {
    try { window.__xssReport(kind, String(detail).slice(0, 200)); } catch (e) {}
  };
  const trap = (name) => function (...args) { report(name, args.join(' ')); };
  for (const name of ['alert', 'confirm', 'prompt', 'print', 'open']) {
    try {
      Object.defineProperty(window, name, { value: trap(name), writable: false, configurable: false });
    } catch (e) {}
  }
  try {
    const real = Document.prototype.write;
    Document.prototype.write = function (...a) { report('document.write', a.join('')); return real.apply(this, a); };
  } catch (e) {}
})();
//# sourceURL=xss-trap.js`;

// The parsed page. baseline (null off message pages): where the gateway's
// reply form and back links sit for a harmless message; a mail that moves
// them has swallowed the page. Returns the findings and this page's shape.
export function auditPage(baseline) {
  const findings = [];
  const html = 'http://www.w3.org/1999/xhtml';
  const words = (text) => new Set(text.split(' '));
  const banned = words('script iframe frame frameset object embed applet param base link form input button '
    + 'select textarea isindex keygen template portal fencedframe video audio source track noscript xmp '
    + 'plaintext noembed noframes dialog details meta');
  const urlAttributes = words('href src action formaction data background poster lowsrc dynsrc codebase cite '
    + 'longdesc ping usemap manifest icon profile srcset imagesrcset xlink:href');
  const schemes = words('http: https: ftp: mailto: news:');
  const snippet = (el) => el.outerHTML.slice(0, 120).replace(/\s+/g, ' ');
  const forms = [...document.querySelectorAll('form[name="mail"]')];
  const last = forms[forms.length - 1];
  const replyForm = last && (last.getAttribute('action') || '').startsWith('/mail/write/') ? last : null;
  // The reply form is the gateway's: its own controls may stand there, but
  // what the quoted mail might bring into it is audited like the rest.
  const formParts = new Set(['form', 'pre', 'input', 'textarea', 'br']);
  const ours = (el) => replyForm && (el === replyForm || replyForm.contains(el)) && formParts.has(el.localName);
  // The page head is the gateway's, closed before any mail: its viewport and
  // its own stylesheet stand there.
  const head = (el) => el.parentElement === document.head &&
    ((el.localName === 'meta' && el.getAttribute('name') === 'viewport') ||
     (el.localName === 'link' && el.getAttribute('rel') === 'stylesheet' &&
      /^\/style\/[^/]+\.css$/.test(el.getAttribute('href') || '')));

  const checkStyle = (css, where) => {
    const flat = css.toLowerCase().replace(/\/\*[\s\S]*?\*\//g, '');
    for (const bad of ['expression(', 'javascript:', 'vbscript:', '-moz-binding', 'behavior', 'behaviour',
      '@import', 'image-set(', '\\']) {
      if (flat.includes(bad)) findings.push(`active style (${bad}) in ${where}`);
    }
    for (const m of flat.matchAll(/url\(\s*(['"]?)([^'")]*)/g)) {
      const u = m[2].trim();
      if (!/^(https?:|\/mail\/~|#)/.test(u)) findings.push(`style loads "${u.slice(0, 60)}" in ${where}`);
    }
  };

  for (const el of document.querySelectorAll('*')) {
    const name = el.localName;
    if (el.namespaceURI !== html) findings.push(`foreign element <${name}>: ${snippet(el)}`);
    const metaKept = name === 'meta' && !el.hasAttribute('http-equiv') && !el.hasAttribute('name');
    const contentType = name === 'meta' &&
      /^\s*content-(type|language)\s*$/i.test(el.getAttribute('http-equiv') || '');
    if (banned.has(name) && !metaKept && !contentType && !ours(el) && !head(el)) findings.push(`element <${name}>: ${snippet(el)}`);
    for (const a of el.attributes) {
      const n = a.name.toLowerCase();
      if (n.startsWith('on')) findings.push(`handler ${n}: ${snippet(el)}`);
      if (n === 'srcdoc' || n === 'formaction' || (n === 'form' && !ours(el))) findings.push(`attribute ${n}: ${snippet(el)}`);
      if (urlAttributes.has(n) || n.endsWith(':href')) {
        const urls = n.endsWith('srcset') ? a.value.split(',').map((s) => s.trim().split(/\s+/)[0]) : [a.value];
        for (const u of urls) {
          let scheme;
          try {
            scheme = new URL(u, document.baseURI).protocol;
          } catch (e) {
            // A URL that does not parse goes nowhere; only its scheme matters.
            const m = /^([a-z][a-z0-9+.-]*:)/i.exec(u.replace(/[\t\n\r]/g, '').replace(/^[\x00-\x20]+/, ''));
            scheme = m ? m[1].toLowerCase() : 'unparsable';
          }
          if (!schemes.has(scheme)) findings.push(`${scheme} URL in ${n}: ${snippet(el)}`);
        }
      }
      if (n === 'style') checkStyle(a.value, snippet(el));
    }
    if (name === 'style') checkStyle(el.textContent, '<style>');
  }

  // The gateway opens a <pre> again after every HTML part, so a message
  // of many parts nests them; only other ancestors count.
  const chain = (el) => {
    const names = [];
    for (let e = el; e; e = e.parentElement) names.push(e.localName);
    return names.join('<').replace(/pre(<pre)+/g, 'pre');
  };
  const backs = [...document.querySelectorAll('a[href^="/mail/index.html?"]')];
  const shape = {
    form: last ? chain(last) : 'missing',
    fields: last ? last.elements.length : 0,
    back: backs.length ? chain(backs[backs.length - 1]) : 'missing',
  };
  for (const key of Object.keys(baseline || {})) {
    if (shape[key] !== baseline[key]) {
      findings.push(`the gateway's page moved: ${key} ${shape[key]} instead of ${baseline[key]}`);
    }
  }
  return { findings, shape };
}

// Lets the page finish what it starts by itself (fonts, queued tasks, first
// frames), bounded so a page that never settles cannot hold the test.
export function settle(limitMs) {
  const frames = new Promise((resolve) =>
    requestAnimationFrame(() => requestAnimationFrame(() => setTimeout(resolve, 0))));
  const fonts = document.fonts ? document.fonts.ready : Promise.resolve();
  const limit = new Promise((resolve) => setTimeout(resolve, limitMs));
  return Promise.race([Promise.all([frames, fonts]), limit]);
}
