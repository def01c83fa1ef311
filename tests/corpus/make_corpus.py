#!/usr/bin/env python3
"""The mail corpus of the integration tests.

The committed messages live in mail/ (LF line ends; each says in its
X-Corpus-Note header what it exercises). Two more are made here from
templates/, because committing them would bloat the repository: one with
lines far beyond the gateway's 4,096-byte line buffer, and one with a 10 MiB
attachment. Both are the same bytes on every run.
"""
import base64, os, pathlib, random

HERE = os.path.dirname(os.path.abspath(__file__))
MAIL = os.path.join(HERE, "mail")

BIG_NAME = "backup-2024-12.bin"
BIG_SIZE = 10 * 1024 * 1024
BIG_SEED = 20241224


def committed():
    """(name, bytes) of the committed messages, in name order."""
    return [(name, pathlib.Path(MAIL, name).read_bytes()) for name in sorted(os.listdir(MAIL))
            if name.endswith(".eml")]


def _filled(template, **parts):
    """The message of templates/<template> with each ${part} put in."""
    text = pathlib.Path(HERE, "templates", template).read_bytes()
    for key, value in parts.items():
        text = text.replace(b"${%s}" % key.encode(), value)
    return text


def long_lines_message():
    """A text part with a 10,000-byte line and an HTML part written as one
    line of about 6,000 bytes (as some newsletter tools do), after a header
    line of 5,000 bytes."""
    rnd = random.Random(4096)
    words = [b"lorem", b"ipsum", b"dolor", b"sit", b"amet", b"tarn", b"mail", b"gateway"]
    long_text = b" ".join(rnd.choice(words) for _ in range(1700))[:9980] + b" END-OF-LONG-LINE"
    cells = b"".join(b"<td>cell %d</td>" % i for i in range(400))
    html = (b"<html><body><p>LONG-HTML-BEFORE</p><table><tr>" + cells +
            b"</tr></table><p>LONG-HTML-AFTER</p></body></html>")
    header = b"X-Long-Trace: " + b"-".join(b"hop%04d" % i for i in range(630))
    return _filled("90-long-lines.eml.in", header=header, long_text=long_text, html=html)


def big_attachment_message():
    """(message, payload): a short note with a 10 MiB base64 attachment."""
    payload = random.Random(BIG_SEED).randbytes(BIG_SIZE)
    return _filled("91-big-attachment.eml.in", name=BIG_NAME.encode(),
                   payload=base64.encodebytes(payload).rstrip(b"\n")), payload
