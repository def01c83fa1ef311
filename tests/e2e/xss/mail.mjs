// Corpus vectors in messages as hostile mail arrives: each in a part of its
// own (one the cleaner gives up on must not hide the next), in the Japanese
// charsets or UTF-8, in every transfer encoding, inside multipart/mixed or
// /alternative, or as the whole message.

// "会議のお知らせ" in front of the vector: the part really is in its charset.
const NOTICE = {
  'iso-2022-jp': Buffer.from('\x1b$B2q5D$N$*CN$i$;\x1b(B ', 'latin1'),
  shift_jis: Buffer.from('\x89\xef\x8bc\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9 ', 'latin1'),
  'euc-jp': Buffer.from('\xb2\xf1\xb5\xc4\xa4\xce\xa4\xaa\xc3\xce\xa4\xe9\xa4\xbb ', 'latin1'),
  'utf-8': Buffer.from('会議のお知らせ ', 'utf8'),
  'us-ascii': Buffer.alloc(0),
};

// [charset, transfer encoding]; a vector's index picks among those that fit.
const ENCODINGS = [
  ['us-ascii', 'base64'], ['iso-2022-jp', '7bit'], ['utf-8', 'quoted-printable'],
  ['shift_jis', 'base64'], ['euc-jp', '8bit'], ['utf-8', 'base64'], ['us-ascii', '7bit'],
];

// A raw body line loses NULs and controls to the transport, an empty line
// of an HTML part is dropped and a line is at most 998 bytes.
const canTravelRaw = (text) => !/[\x00-\x08\x0b-\x1f\x7f]/.test(text) && !/\n[ \t]*\n/.test(text) &&
  text.split('\n').every((l) => l.length < 900);

function pickEncoding(text, index) {
  const fits = ENCODINGS.filter(([cs, te]) => (!/[^\x00-\x7f]/.test(text) || cs === 'utf-8') &&
    (te === 'base64' || te === 'quoted-printable' || canTravelRaw(text)));
  return fits[index % fits.length];
}

function quotedPrintable(buf) {
  const lines = [];
  let line = '';
  for (let i = 0; i < buf.length; i++) {
    const b = buf[i];
    if (b === 0x0a) {
      lines.push(line);
      line = '';
      continue;
    }
    const blank = (b === 32 || b === 9) && i + 1 < buf.length && buf[i + 1] !== 0x0a;
    const piece = (b >= 33 && b <= 126 && b !== 61) || blank ? String.fromCharCode(b)
      : `=${b.toString(16).toUpperCase().padStart(2, '0')}`;
    if (line.length + piece.length > 75) {
      lines.push(`${line}=`);
      line = '';
    }
    line += piece;
  }
  return [...lines, line].join('\n');
}

const plain = (body) => ({ head: 'Content-Type: text/plain; charset=us-ascii\n', body });

function vectorPart(vector, index) {
  const text = vector.html ?? vector.text;
  const [charset, transfer] = pickEncoding(text, index);
  const body = Buffer.concat([NOTICE[charset], Buffer.from(text, charset === 'utf-8' ? 'utf8' : 'latin1')]);
  const type = vector.html !== undefined ? 'text/html' : 'text/plain';
  return {
    head: `Content-Type: ${type}; charset=${charset}\nContent-Transfer-Encoding: ${transfer}\n`,
    body: transfer === 'base64' ? body.toString('base64').replace(/.{76}/g, '$&\n')
      : transfer === 'quoted-printable' ? quotedPrintable(body) : body.toString('latin1'),
  };
}

const multipart = (type, boundary, parts) => ({
  head: `Content-Type: multipart/${type}; boundary="${boundary}"\n`,
  body: parts.map((p) => `--${boundary}\n${p.head}\n${p.body}\n`).join('') + `--${boundary}--\n`,
});

// Shapes: 'mixed' (a marker and the vector, per vector), 'alternative' (each
// HTML vector behind a plain alternative the page must hide), 'whole'. A
// vector of header fields makes a message of its own with a harmless body.
export function message({ number, subject, vectors, shape }) {
  let content;
  let from = 'Hostile Sender <sender@evil.example>';
  if (vectors[0].subject !== undefined || vectors[0].from !== undefined) {
    if (vectors[0].subject) subject = `${subject} ${vectors[0].subject}`;
    if (vectors[0].from) from = vectors[0].from;
    content = plain('nothing here');
  } else if (shape === 'whole') {
    content = vectorPart(vectors[0], number);
  } else {
    content = multipart('mixed', `mix-${number}`, vectors.flatMap((v, k) => {
      const part = vectorPart(v, number + k);
      return [plain(`VECTOR ${v.id}`), shape === 'alternative' && v.html !== undefined
        ? multipart('alternative', `alt-${number}-${k}`, [plain(`ALT-TEXT ${v.id}`), part]) : part];
    }));
  }
  const head = [
    'Date: Mon, 16 Dec 2024 09:00:00 +0900', `From: ${from}`, 'To: hanako@test.example',
    `Subject: ${subject}`, `Message-ID: <xss.${number}@evil.example>`, 'MIME-Version: 1.0',
  ].join('\n');
  return Buffer.from(`${head}\n${content.head}\n${content.body}`, 'latin1');
}
