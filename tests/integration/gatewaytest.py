"""The integration harness: gateways in scratch homes, the real mail servers
of mailservers.py in a World per test module, HTTP/1.0 exchanges made the way
a browser makes them, scripted mail servers, and .ref comparisons."""
import collections, html, json, os, re, shutil, socket, socketserver, ssl, struct, subprocess, sys
import pathlib, tempfile, threading, time, urllib.parse

sys.dont_write_bytecode = True
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The loopback mail-server kit is shared with the demo and the benchmarks,
# the mail corpus with the unit tests.
sys.path[:0] = [os.path.join(ROOT, "scripts"), os.path.join(ROOT, "tests", "corpus")]
from mailservers import (  # noqa: E402,F401
    DOVECOT, POSTFIX, Certificates, Dovecot, Poppassd, Postfix, free_port, pop3_login,
    port_answers, template, end_process as stop_process)

# ctest passes the binary first; taken off before unittest reads the rest.
BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.environ.get("TARNBOX_BIN")
REF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ref")
DOMAIN = "test.example"
FORM = b"application/x-www-form-urlencoded"
# Only the major version counts: Mozilla 5 gets the line ends of plain text.
MOZILLA5 = b"User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0\r\n"


def sjis(text):
    """The bytes of a page text: pages are Shift_JIS."""
    return text.encode("cp932")


# The sending page's own words.
DONE = sjis("送信終了")


def wait_until_listening(port, proc, seconds=10, host="127.0.0.1"):
    def up():
        if proc.poll() is not None:
            raise AssertionError("gateway ended at start: %d %s" % (
                proc.returncode, proc.stderr.read().decode() if proc.stderr else ""))
        return port_answers(port, host)
    if not wait_for(up, seconds):
        raise AssertionError("gateway did not start")


def raw_request(port, raw, host="127.0.0.1", timeout=10, ctx=None, slow=False, source=None,
                eof_ok=False):
    """raw as it stands, the answer until the server closes. eof_ok: a TLS
    close without its alert ends it too; slow: read late and in small pieces."""
    s = socket.create_connection((host, port), timeout=timeout,
                                 source_address=(source, 0) if source else None)
    if ctx:
        s = ctx.wrap_socket(s, server_hostname=host)
    with s:
        s.sendall(raw)
        if slow:
            time.sleep(0.5)
        chunks = [b"-"]
        while chunks[-1]:
            try:
                chunks.append(s.recv(4096 if slow else 1 << 20))
            except ssl.SSLError:
                if not eof_ok:
                    raise
                break
    return b"".join(chunks[1:])


def listening_addresses(port):
    """The local addresses of the TCP sockets listening on port."""
    found = []
    for path, family in (("/proc/net/tcp", socket.AF_INET), ("/proc/net/tcp6", socket.AF_INET6)):
        rows = [row.split() for row in file_bytes(path).splitlines()[1:]] if (
            os.path.exists(path)) else []
        for address, hex_port in (row[1].split(b":") for row in rows if row[3] == b"0A"):
            if int(hex_port, 16) == port:
                # The kernel prints the address as 32-bit words in host order.
                words = [int(address[i:i + 8], 16) for i in range(0, len(address), 8)]
                found.append(socket.inet_ntop(family, struct.pack("=%dI" % len(words), *words)))
    return sorted(found)


# The session cookie and the form token, which differ per login; the page
# head lines and the language switch, whose bytes are the unit tests'.
NOT_COMPARED = re.compile(
    rb'Set-Cookie: [^\r\n]*\r\n|<input type=hidden name="csrf" value="[0-9a-f]{32}">'
    rb'|<meta name="viewport" content="width=device-width, initial-scale=1">'
    rb'<link rel="stylesheet" href="/style/[0-9a-f]{12}\.css">'
    rb'|<div class="lang-switch"><a href="[^"]*" hreflang="(?:en|ja)" '
    rb'lang="(?:en|ja)">(?:English|\x93\xfa\x96\x7b\x8c\xea)</a></div>')


DATES = re.compile(rb"^(Date|Last-Modified): [^\r\n]*", re.M)


def mask_dates(answer):
    """Date and Last-Modified, which name the second of the answer, as *."""
    head, sep, body = answer.partition(b"\r\n\r\n")
    return DATES.sub(rb"\1: *", head) + sep + body


MAIL_ADDRESS = sjis("メールアドレス")
LIST_TIME = re.compile(rb'<input type="hidden" value="(-?\d+)" name="list_time">')


def list_region(page):
    """Every section of the list: from the first mail-address heading to list_time."""
    start = page.find(b"<pre>" + MAIL_ADDRESS)
    end = page.find(b'<input type="hidden"', start)
    if start < 0 or end < 0:
        raise AssertionError("no list on the page: %r" % page[:800])
    return page[start:end]


def browser_path(href):
    """What a browser requests for an href of a Shift_JIS page."""
    text = html.unescape(href.decode("cp932"))
    return urllib.parse.quote(text, safe="/~%!$&'()*+,;=:@?-._").encode("ascii")


def assert_page_ends(test, body):
    test.assertTrue(body.rstrip().endswith(b"</html>"), body[-300:])


class World(dict):
    """A test module's scratch folder and the servers kept in it, stopped in
    reverse order when the module ends (or its start fails)."""

    def __init__(self, prefix):
        super().__init__()
        self.prefix = prefix

    def hooks(self, build):
        def start():
            self.scratch = tempfile.mkdtemp(prefix=self.prefix)
            os.chmod(self.scratch, 0o755)
            try:
                build(self, self.scratch)
            except BaseException:
                self.stop()
                raise
        return start, self.stop

    def stop(self):
        for thing in reversed(list(self.values())):
            for t in thing if isinstance(thing, list) else [thing]:
                if isinstance(t, subprocess.Popen):
                    stop_process(t)
                elif hasattr(t, "server_close"):
                    t.shutdown()
                    t.server_close()
                elif hasattr(t, "stop"):
                    t.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)


def file_bytes(path):
    return pathlib.Path(path).read_bytes()


def wait_for(predicate, seconds=10):
    deadline = time.time() + seconds
    while not predicate() and time.time() < deadline:
        time.sleep(0.05)
    return predicate()


class Answer:
    def __init__(self, raw, seconds=0.0):
        self.raw, self.seconds = raw, seconds
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        self.status, self.headers = lines[0], lines[1:]

    def header(self, name):
        prefix = name.lower() + b":"
        return next((h[len(prefix):].strip() for h in self.headers
                     if h.lower().startswith(prefix)), None)


def http(port, method, path, body=None, content_type=FORM, headers=b"", timeout=60, **options):
    """options: those of raw_request."""
    raw = method + b" " + path + b" HTTP/1.0\r\n" + headers
    if body is not None:
        raw += b"Content-Type: %s\r\nContent-Length: %d\r\n" % (content_type, len(body))
    started = time.time()
    answer = raw_request(port, raw + b"\r\n" + (body or b""), timeout=timeout, **options)
    return Answer(answer, time.time() - started)


BOUNDARY = b"---------------------------4176538729170345213941187351"


SET_COOKIE = re.compile(rb"(?i)Set-Cookie: *((?:__Host-)?tarnbox=[0-9a-f]*)")
FORM_TOKEN = re.compile(rb'name="csrf" value="([0-9a-f]{32})"')


class Browser:
    """A user logged in through the top page's form; later requests carry
    the login query its links carry, the session cookie, and in a post the
    form token of the last page; with ctx over TLS."""

    def __init__(self, port, user, password, english=False, headers=b"", ctx=None):
        self.port, self.user, self.password = port, user, password
        self.lang = b"?lang=eng" if english else b""
        self.headers, self.ctx = headers, ctx
        self.query = self.cookie = self.token = None
        self.first = self.login()

    def login(self):
        body = b"a=%s&b=%s" % (self.user.encode(), urllib.parse.quote(self.password).encode())
        answer = self.request(b"POST", b"/mail/index.html" + self.lang, body)
        m = re.search(rb"\?user=%s\?check=\d+" % re.escape(self.user.encode()), answer.body)
        if not m:
            raise AssertionError("no login query for %s: %r" % (self.user, answer.raw[:800]))
        self.query = m.group(0) + self.lang
        return answer

    def request(self, method, path, body=None, content_type=FORM):
        headers = self.headers + (b"Cookie: %s\r\n" % self.cookie if self.cookie else b"")
        if body is not None and self.token and content_type == FORM:
            body = b"csrf=%s&" % self.token + body
        answer = http(self.port, method, path, body, content_type, headers, ctx=self.ctx)
        cookie = next(filter(None, map(SET_COOKIE.match, answer.headers)), None)
        token = FORM_TOKEN.search(answer.body)
        self.cookie = cookie.group(1) if cookie else self.cookie
        self.token = token.group(1) if token else self.token
        return answer

    def page(self, path, body=None):
        """path with the login query: GET, or POST of body."""
        return self.request(b"POST" if body is not None else b"GET", path + self.query, body)

    def send(self, to=b"", subject=b"", text=b"", cc=b"", bcc=b"", uploads=()):
        """The compose form as multipart/form-data; uploads: (file name, bytes)."""
        fields = [(b"csrf", self.token)] if self.token else []
        fields += [(b"send_to", to), (b"send_cc", cc), (b"send_bcc", bcc),
                   (b"send_subject", subject), (b"message", text)]
        parts = [b'--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                 % (BOUNDARY, name, value) for name, value in fields]
        parts += [b'--%s\r\nContent-Disposition: form-data; name="upload%d"; filename="%s"\r\n'
                  b"Content-Type: application/octet-stream\r\n\r\n%s\r\n"
                  % (BOUNDARY, i + 1, name, data) for i, (name, data) in enumerate(uploads)]
        return self.request(b"POST", b"/mail/write/index.html" + self.query,
                            b"".join(parts) + b"--%s--\r\n" % BOUNDARY,
                            b"multipart/form-data; boundary=" + BOUNDARY)


class Gateway:
    """A gateway in a scratch home of its own, serving on a free port."""

    def __init__(self, pop3_port=None, smtp_port=None, pop3_server="127.0.0.1",
                 prefix="tarnbox-it-", home=None, https=False, owner=None, trust=None):
        """https: an HTTPS listener on https_port too, with the pair at cert and
        key; owner: a test or test class whose end stops it; trust: Certificates
        whose authority the mail servers' certificates are checked against."""
        self.home = home or tempfile.mkdtemp(prefix=prefix)
        self.port, self.https_port = free_port(), free_port() if https else None
        self.cert, self.key = (os.path.join(self.home, n) for n in ("https-cert.pem", "https-key.pem"))
        self.proc, self.passwords = None, {}
        if owner:
            (owner.addClassCleanup if isinstance(owner, type) else owner.addCleanup)(self.stop)
        ports = (["--pop3-port", str(pop3_port)] if pop3_port else []) + (
            ["--smtp-port", str(smtp_port)] if smtp_port else [])
        self.run("init", "--http-port", str(self.port), "--smtp-server", "127.0.0.1",
                 "--pop3-server", pop3_server, *ports)
        if trust:
            shutil.copy(trust.authority_file(), os.path.join(self.home, "mail-ca.pem"))

    def run(self, *args, check=True, stdin=None, timeout=None):
        r = subprocess.run([BIN, "--home", self.home, *args], capture_output=True, text=True,
                           input=stdin, stdin=None if stdin is not None else subprocess.DEVNULL,
                           timeout=timeout)
        if check and r.returncode != 0:
            raise AssertionError(f"tarnbox {' '.join(args)}: {r.returncode} {r.stderr}")
        return r

    def add_user(self, user, password, *options, name=None):
        self.passwords[user] = password
        self.run("users", "add", "--name", name or user, "--mail-address", f"{user}@{DOMAIN}",
                 "--id", user, "--password", password, *options)

    def use_certificate(self, certs):
        """The HTTPS pair: a new server certificate of the Certificates certs."""
        for made, kept in zip(certs.server(), (self.cert, self.key)):
            shutil.copy(made, kept)
    def start(self, *extra, env=None, stderr=subprocess.DEVNULL, host="127.0.0.1"):
        listen = ["--https-listen", f"127.0.0.1:{self.https_port}"] if self.https_port else []
        self.proc = subprocess.Popen([BIN, "--home", self.home, "serve", *listen, *extra], env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=stderr)
        wait_until_listening(self.port, self.proc, host=host)
        if self.https_port:
            wait_until_listening(self.https_port, self.proc)
        return self

    def stop(self):
        stop_process(self.proc)
        if self.proc and self.proc.stderr:
            self.proc.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def get(self, path, ctx=None, slow=False):
        """The answer to GET path; with ctx over TLS to https_port."""
        return raw_request(self.https_port if ctx else self.port,
                            b"GET " + path + b" HTTP/1.0\r\n\r\n", timeout=20 if ctx else 10,
                            ctx=ctx, slow=slow)

    def browser(self, user, password=None, english=False, headers=b""):
        """user logged in; password: the one it was added with unless given."""
        return Browser(self.port, user, password or self.passwords[user], english, headers)


# A reply after which TLS starts with cert, or without it bytes that are no TLS.
Upgrade = collections.namedtuple("Upgrade", "reply cert", defaults=(None,))


class ScriptedServer(socketserver.ThreadingTCPServer):
    """Plays one script per connection, the last for every later one: a
    greeting (None: none) and one reply per command line (CLOSE closes, an
    Upgrade starts TLS), then silence. commands keeps every line read and
    the first bytes after a handshake. No script: it never says a word."""
    CLOSE, allow_reuse_address, request_queue_size = object(), True, 8

    def __init__(self, *scripts, host="127.0.0.1", port=0):
        self.scripts, self.commands = list(scripts) or [(None, [])], []
        super().__init__((host, port), None)
        self.port = self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def process_request(self, conn, address):
        # The scripts go to the connections in the order they came.
        script = self.scripts.pop(0) if len(self.scripts) > 1 else self.scripts[0]
        threading.Thread(target=self._play, args=(conn, *script), daemon=True).start()

    def _play(self, conn, greeting, replies):
        replies = list(replies)
        try:
            if greeting is not None:
                conn.sendall(greeting)
            # A client says nothing past a line it wants an answer to, so
            # nothing of a handshake waits in the file's buffer.
            with conn.makefile("rb") as lines:
                for line in lines:
                    self.commands.append(line.rstrip(b"\r\n"))
                    reply = replies.pop(0) if replies else None
                    if reply is self.CLOSE:
                        return
                    if isinstance(reply, Upgrade):
                        return self._upgrade(conn, reply)
                    if reply is not None:
                        conn.sendall(reply)
        except (OSError, ssl.SSLError):
            pass
        finally:
            conn.close()

    def _upgrade(self, conn, upgrade):
        conn.sendall(upgrade.reply)
        if upgrade.cert is None:
            conn.sendall(b"this is no TLS record at all\r\n" * 4)
            return
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*upgrade.cert)
        conn.settimeout(10)
        with context.wrap_socket(conn, server_side=True) as secure:
            self.commands.append(secure.recv(100))


POLICY = re.compile(rb"Content-Security-Policy: [^\r]*")


def assert_page(test, name, page, query):
    """assert_ref of a page but for its session parts, head lines and list
    time; of a whole answer also but for its dates and page policy."""
    page = NOT_COMPARED.sub(b"", page).replace(b"<html><head></head>", b"<html>")
    if page.startswith(b"HTTP/"):
        page = mask_dates(POLICY.sub(b"Content-Security-Policy: *", page))
    m = LIST_TIME.search(page)
    assert_ref(test, name, page, query=query, **({"list_time": m.group(1)} if m else {}))


def ref_json(name):
    return json.loads(pathlib.Path(REF, name + ".json").read_text(encoding="utf-8"))


def assert_ref(test, name, got, **masks):
    """got is ref/<name>.ref once each value of masks is {key}; TARNBOX_WRITE_REFS=1 writes it."""
    for key, value in masks.items():
        got = got.replace(value, b"{%s}" % key.encode())
    if os.environ.get("TARNBOX_WRITE_REFS"):
        pathlib.Path(REF, name + ".ref").write_bytes(got)
    wanted = file_bytes(os.path.join(REF, name + ".ref"))
    n = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b),
             min(len(got), len(wanted)))
    test.assertTrue(got == wanted, "%s: first difference at byte %d of %d/%d:\n got    %r\n "
                    "wanted %r" % (name, n, len(got), len(wanted), got[max(0, n - 80):n + 80],
                                   wanted[max(0, n - 80):n + 80]))
