"""What the integration tests share about a running gateway process: waiting
for its port, stopping it by PID, and one raw HTTP/1.0 exchange made the way a
browser makes it (its session cookie sent back, its forms' token posted)."""
import re
import signal
import socket
import subprocess
import time


def sjis(text):
    """The bytes of a page text: pages are Shift_JIS."""
    return text.encode("cp932")


# The sending pages' own words.
DONE = sjis("送信終了")
SEND_ERROR = sjis("メール送信時のエラー発生。")


def wait_until_listening(port, proc, seconds=10):
    """Returns once port accepts; fails when proc ends first or time runs out."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if proc.poll() is not None:
                raise AssertionError("gateway ended at start: %d" % proc.returncode)
            time.sleep(0.05)
    raise AssertionError("gateway did not start")


def stop_process(proc):
    """SIGTERM, then SIGKILL if it does not end within ten seconds."""
    if proc and proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


# Per (gateway port, user): the session cookie the gateway set and the form
# token of the last page it showed, as one browser per user would keep them.
_cookies = {}
_tokens = {}


def _user_of(raw):
    """The user a request speaks for: the login query's name, or the login
    form's field a."""
    line = raw.split(b"\r\n", 1)[0]
    m = re.search(rb"\?user=([^?\s]*)", line) or re.search(rb" /mail/~([^/\s]+)/", line)
    if m:
        return m.group(1)
    m = re.search(rb"(?:^|&|\r\n\r\n)a=([^&\r\n]*)", raw)
    return m.group(1) if m and raw.startswith(b"POST ") else None


def _set_length(head, length):
    return re.sub(rb"(?im)^content-length: *\d+", b"Content-Length: %d" % length, head)


def _with_token(raw, token):
    head, sep, body = raw.partition(b"\r\n\r\n")
    if not sep or b"csrf" in body:
        return raw
    m = re.search(rb"(?i)boundary=(\S+)", head)
    if m:
        body = (b"--" + m.group(1) + b'\r\nContent-Disposition: form-data; name="csrf"\r\n\r\n'
                + token + b"\r\n" + body)
    else:
        body = b"csrf=" + token + b"&" + body
    return _set_length(head, len(body)) + sep + body


def browser_request(key, raw):
    """raw as a browser of the request's user sends it to the gateway key."""
    user = _user_of(raw)
    cookie = _cookies.get((key, user))
    if cookie and b"\r\ncookie:" not in raw.lower():
        line, _, rest = raw.partition(b"\r\n")
        raw = line + b"\r\nCookie: " + cookie + b"\r\n" + rest
    token = _tokens.get((key, user))
    if token and raw.startswith(b"POST "):
        raw = _with_token(raw, token)
    return raw, user


def browser_keeps(key, user, answer):
    """Keeps what a browser keeps of the answer: its cookie and form token."""
    head, _, body = answer.partition(b"\r\n\r\n")
    m = re.search(rb"(?im)^Set-Cookie: *((?:__Host-)?tarnbox=[0-9a-f]*)", head)
    page_user = re.search(rb"\?user=([^?\s\"]*)\?check=", body)
    owner = page_user.group(1) if page_user else user
    if m:
        _cookies[(key, owner)] = m.group(1)
    t = re.search(rb'name="csrf" value="([0-9a-f]{32})"', body)
    if t:
        _tokens[(key, owner)] = t.group(1)


def raw_request(port, raw, host="127.0.0.1", timeout=10):
    """Sends raw as it stands and reads the answer until the gateway closes."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        s.sendall(raw)
        chunks = []
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    return b"".join(chunks)


def http_request(port, raw, host="127.0.0.1", timeout=10):
    """Sends raw the way a browser would and reads the answer until the
    gateway closes."""
    raw, user = browser_request((host, port), raw)
    answer = raw_request(port, raw, host, timeout)
    browser_keeps((host, port), user, answer)
    return answer


def listening_addresses(port):
    """The local addresses ("127.0.0.1", "::", ...) of every TCP socket in
    LISTEN state on port, read from /proc/net/tcp and /proc/net/tcp6."""
    import struct
    found = []
    for name, family in (("tcp", socket.AF_INET), ("tcp6", socket.AF_INET6)):
        try:
            with open("/proc/net/" + name) as f:
                rows = f.read().splitlines()[1:]
        except FileNotFoundError:
            continue
        for row in rows:
            fields = row.split()
            address, _, hex_port = fields[1].partition(":")
            if fields[3] != "0A" or int(hex_port, 16) != port:
                continue
            # The kernel prints the address as 32-bit words in host order.
            words = [int(address[i:i + 8], 16) for i in range(0, len(address), 8)]
            found.append(socket.inet_ntop(family, struct.pack("=%dI" % len(words), *words)))
    return sorted(found)


SESSION_PARTS = re.compile(rb'Set-Cookie: [^\r\n]*\r\n|<input type=hidden name="csrf" value="[0-9a-f]{32}">')


# The viewport and stylesheet every page head carries; the unit tests check
# their bytes, the real-server checks read pages without them.
HEAD_LINES = re.compile(rb'<meta name="viewport" content="width=device-width, initial-scale=1">'
                        rb'<link rel="stylesheet" href="/style/[0-9a-f]{12}\.css">')


# The language switch after <body>: the unit tests check where it leads,
# serve_test that it is on the pages.
LANG_SWITCH = re.compile(rb'<div class="lang-switch"><a href="[^"]*" hreflang="(?:en|ja)" '
                         rb'lang="(?:en|ja)">(?:English|\x93\xfa\x96\x7b\x8c\xea)</a></div>')


def plain_head(page):
    """The page with the head lines and the language switch taken out (an
    empty head with them)."""
    page = LANG_SWITCH.sub(b"", page)
    return HEAD_LINES.sub(b"", page).replace(b"<html><head></head>", b"<html>")


def without_session(answer):
    """The answer without what differs per login: the session cookie line
    and the form token (their own tests check them)."""
    return SESSION_PARTS.sub(b"", answer)
