// The hostile-HTML corpus: the stored public lists and our classes of
// generated.txt (README.md names sources, licences and counts).
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const HERE = path.dirname(fileURLToPath(import.meta.url));

function lines(file) {
  return fs.readFileSync(path.join(HERE, file), 'utf8').split('\n').filter((l) => l.trim() !== '');
}

// Vectors that span lines, separated by a line holding "%%".
function blocks(file) {
  const text = fs.readFileSync(path.join(HERE, file), 'utf8').replace(/\n$/, '');
  return text.split('\n%%\n');
}

function stored(source, prefix, list) {
  // Remote images are part of ordinary mail; only here, where the lists
  // name real sites, may an image request leave (and only an image).
  return { source, strict: false, vectors: list.map((html, i) => ({ id: `${prefix}-${i + 1}`, html })) };
}

const ESCAPES = { '\\': '\\', t: '\t', n: '\n', r: '\r' };
const unescape = (s) => s.replace(/\$\{(\d+)\*([^}]*)\}/g, (_, n, text) => text.repeat(n))
  .replace(/\\(x..|u....|.)/g, (_, e) => ESCAPES[e] ?? String.fromCharCode(parseInt(e.slice(1), 16)));

function generated(file) {
  const sources = [];
  for (const line of lines(file).filter((l) => !l.startsWith('#'))) {
    const head = /^== (\S+) (strict|loose) (\S+) (.+)$/.exec(line);
    if (head) {
      sources.push({ source: `generated: ${head[4]}`, strict: head[2] === 'strict', vectors: [], prefix: head[1], field: head[3] });
      continue;
    }
    const s = sources[sources.length - 1];
    const [field, value] = s.field === 'header' ? line.split(/: (.*)/) : [s.field, line];
    s.vectors.push({ id: `${s.prefix}-${s.vectors.length + 1}`, [field]: unescape(value) });
  }
  return sources.map(({ prefix, field, ...s }) => s);
}

export function corpus() {
  return [
    stored('PayloadsAllTheThings IntrudersXSS.txt', 'patt-intruders',
      lines('payloadsallthethings/IntrudersXSS.txt')),
    stored('PayloadsAllTheThings XSS_Polyglots.txt', 'patt-polyglots',
      lines('payloadsallthethings/XSS_Polyglots.txt')),
    stored('OWASP XSS Filter Evasion Cheat Sheet', 'owasp', blocks('owasp/filter_evasion.txt')),
    ...generated('generated.txt'),
  ];
}
