// The hostile-HTML corpus: the stored public lists (README.md names each
// source, its licence and its count) and the generated classes.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { generatedSources } from './generated.mjs';

const HERE = path.dirname(fileURLToPath(import.meta.url));

// One vector per line.
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

export function corpus() {
  return [
    stored('PayloadsAllTheThings IntrudersXSS.txt', 'patt-intruders',
      lines('payloadsallthethings/IntrudersXSS.txt')),
    stored('PayloadsAllTheThings XSS_Polyglots.txt', 'patt-polyglots',
      lines('payloadsallthethings/XSS_Polyglots.txt')),
    stored('OWASP XSS Filter Evasion Cheat Sheet', 'owasp', blocks('owasp/filter_evasion.txt')),
    ...generatedSources(),
  ];
}
