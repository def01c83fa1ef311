"""A small browser for load and durability runs against the gateway.

It does what a browser does and nothing more clever: keeps the cookies a
page sets and sends them back, follows redirects, and submits a form the
way the page built it, with every hidden input of that form (a session or
CSRF token the gateway may add) posted back beside the fields the caller
fills in. So the same client keeps working whether the gateway carries the
login in the URL alone or also in a cookie and per-form tokens.

Each request is one HTTP/1.0 exchange on its own connection, as the gateway
closes after every answer. An answer is checked to be whole: a status line,
the end of the headers, a body as long as Content-Length says when there is
one, and an HTML page that reaches its closing tag.
"""
import html.parser
import re
import socket
import time
import urllib.parse

UA = "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0"
PAGE_CHARSET = "cp932"


class BrokenAnswer(Exception):
    """The gateway's answer was cut off, malformed, or never came."""


class Page:
    def __init__(self, url, status, headers, body):
        self.url = url
        self.status = status
        self.headers = headers  # [(lower-case name, value)]
        self.body = body
        self.text = body.decode(PAGE_CHARSET, errors="replace")
        self._parsed = None

    def header(self, name):
        for k, v in self.headers:
            if k == name:
                return v
        return None

    def _parse(self):
        if self._parsed is None:
            p = _PageParser()
            p.feed(self.text)
            p.close()
            self._parsed = p
        return self._parsed

    @property
    def links(self):
        return self._parse().links

    @property
    def forms(self):
        return self._parse().forms

    def link(self, pattern):
        """The first href matching the regular expression, or None."""
        for href in self.links:
            if re.search(pattern, href):
                return href
        return None

    def form(self, action_pattern=""):
        for f in self.forms:
            if re.search(action_pattern, f.action):
                return f
        return None


class Form:
    def __init__(self, action, method, enctype):
        self.action = action
        self.method = method.lower()
        self.enctype = enctype.lower()
        self.fields = []  # [(name, value, kind)] in page order

    def values(self, **filled):
        """What a browser posts: hidden inputs and prefilled fields as the
        page gave them, checked boxes, the selected option, with the given
        names overridden (a name the page lacks is added)."""
        out = []
        seen = set()
        for name, value, kind in self.fields:
            if name in filled:
                if name not in seen:
                    out.append((name, filled[name]))
                seen.add(name)
                continue
            out.append((name, value))
        out += [(k, v) for k, v in filled.items() if k not in seen]
        return out


class _PageParser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []
        self.forms = []
        self._form = None
        self._textarea = None
        self._select = None

    def handle_starttag(self, tag, attrs):
        a = {k: (v if v is not None else "") for k, v in attrs}
        if tag == "a" and "href" in a:
            self.links.append(a["href"])
        elif tag == "form":
            self._form = Form(a.get("action", ""), a.get("method", "get"),
                              a.get("enctype", "application/x-www-form-urlencoded"))
            self.forms.append(self._form)
        elif self._form is None:
            return
        elif tag == "input":
            self._input(a)
        elif tag == "textarea" and "name" in a:
            self._textarea = [a["name"], ""]
        elif tag == "select" and "name" in a:
            self._select = (a["name"], [])  # options as [value or None, selected, text]
        elif tag == "option" and self._select is not None:
            self._select[1].append([a.get("value"), "selected" in a, ""])

    def _input(self, a):
        kind = a.get("type", "text").lower()
        name = a.get("name")
        if not name or kind in ("submit", "reset", "button", "image", "file"):
            return
        if kind in ("checkbox", "radio"):
            if "checked" in a:
                self._form.fields.append((name, a.get("value", "on"), kind))
            return
        self._form.fields.append((name, a.get("value", ""), kind))

    def handle_data(self, data):
        if self._textarea is not None:
            self._textarea[1] += data
        elif self._select is not None and self._select[1]:
            self._select[1][-1][2] += data

    def handle_endtag(self, tag):
        if tag == "textarea" and self._textarea is not None and self._form is not None:
            # A browser drops the one line break that follows <textarea>.
            text = self._textarea[1]
            if text.startswith("\n"):
                text = text[1:]
            self._form.fields.append((self._textarea[0], text, "textarea"))
            self._textarea = None
        elif tag == "select" and self._select is not None and self._form is not None:
            name, options = self._select
            chosen = [o for o in options if o[1]] or options[:1]
            if chosen:
                value, _, text = chosen[0]
                self._form.fields.append((name, text.strip() if value is None else value, "select"))
            self._select = None
        elif tag == "form":
            self._form = None


def _encode(value):
    return value.encode(PAGE_CHARSET, errors="replace") if isinstance(value, str) else value


def urlencoded(pairs):
    return "&".join(urllib.parse.quote_plus(_encode(k)) + "=" + urllib.parse.quote_plus(_encode(v))
                    for k, v in pairs).encode("ascii")


def multipart(pairs, boundary="----tarnboxload7MA4YWxkTrZu0gW"):
    out = []
    for k, v in pairs:
        out.append(b"--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n"
                   % (boundary.encode(), _encode(k), _encode(v)))
    out.append(b"--%s--\r\n" % boundary.encode())
    return b"".join(out), "multipart/form-data; boundary=" + boundary


def request_path(href):
    """The request target a browser sends for an href: entities are already
    undone by the parser; bytes outside ASCII go out %-escaped."""
    parts = urllib.parse.urlsplit(href)
    path = parts.path or "/"
    if parts.query:
        path += "?" + parts.query
    return urllib.parse.quote(path, safe="/~%!$&'()*+,;=:@?-._")


class Browser:
    def __init__(self, port, host="127.0.0.1", timeout=60, source=None):
        self.port = port
        self.host = host
        self.timeout = timeout
        self.source = source  # local address to connect from
        self.cookies = {}
        self.last = None

    # ----------------------------------------------------------- cookies
    def _keep_cookies(self, headers):
        for name, value in headers:
            if name != "set-cookie":
                continue
            pair, _, attrs = value.partition(";")
            k, eq, v = pair.strip().partition("=")
            if not eq or not k:
                continue
            gone = re.search(r"(?i)max-age\s*=\s*0\b", attrs) or v == ""
            if gone:
                self.cookies.pop(k, None)
            else:
                self.cookies[k] = v

    def _cookie_line(self):
        if not self.cookies:
            return b""
        return b"Cookie: " + "; ".join("%s=%s" % kv for kv in self.cookies.items()).encode() + b"\r\n"

    # ---------------------------------------------------------- exchange
    def exchange(self, method, target, body=None, content_type=None):
        head = ("%s %s HTTP/1.0\r\nHost: %s:%d\r\nUser-Agent: %s\r\n"
                "Accept: text/html,*/*\r\n" % (method, target, self.host, self.port, UA)).encode()
        head += self._cookie_line()
        if self.last is not None:
            head += b"Referer: http://%s:%d%s\r\n" % (self.host.encode(), self.port,
                                                       request_path(self.last.url).encode())
        if body is not None:
            head += b"Content-Type: %s\r\nContent-Length: %d\r\n" % (content_type.encode(), len(body))
        raw = head + b"\r\n" + (body or b"")
        try:
            s = socket.socket(socket.AF_INET6 if ":" in self.host else socket.AF_INET)
            s.settimeout(self.timeout)
            if self.source:
                s.bind((self.source, 0))
            with s:
                s.connect((self.host, self.port))
                s.sendall(raw)
                chunks = []
                while True:
                    b = s.recv(65536)
                    if not b:
                        break
                    chunks.append(b)
        except OSError as e:
            raise BrokenAnswer("%s %s: %s" % (method, target, e)) from None
        return parse_answer(target, b"".join(chunks))

    def open(self, href, method="GET", body=None, content_type=None, follow=5):
        target = request_path(href)
        page = self.exchange(method, target, body, content_type)
        self._keep_cookies(page.headers)
        while page.status in (301, 302, 303, 307, 308) and follow > 0:
            location = page.header("location")
            if not location:
                raise BrokenAnswer("redirect without Location from %s" % target)
            if page.status not in (307, 308):
                method, body, content_type = "GET", None, None
            target = request_path(urllib.parse.urljoin("http://x" + target, location))
            page = self.exchange(method, target, body, content_type)
            self._keep_cookies(page.headers)
            follow -= 1
        self.last = page
        return page

    def get(self, href):
        return self.open(href)

    def submit(self, form, **filled):
        pairs = form.values(**filled)
        action = form.action or (self.last.url if self.last else "/")
        if form.method == "post":
            if form.enctype.startswith("multipart/"):
                body, kind = multipart(pairs)
            else:
                body, kind = urlencoded(pairs), "application/x-www-form-urlencoded"
            return self.open(action, "POST", body, kind)
        sep = "&" if "?" in action else "?"
        return self.open(action + sep + urlencoded(pairs).decode())


def parse_answer(url, raw):
    head, sep, body = raw.partition(b"\r\n\r\n")
    if not sep:
        raise BrokenAnswer("%s: no end of headers in %d bytes: %r" % (url, len(raw), raw[:200]))
    lines = head.split(b"\r\n")
    m = re.match(rb"HTTP/1\.[01] (\d{3})", lines[0])
    if not m:
        raise BrokenAnswer("%s: no status line: %r" % (url, raw[:200]))
    headers = []
    for line in lines[1:]:
        k, _, v = line.partition(b":")
        headers.append((k.strip().lower().decode("latin-1"), v.strip().decode("latin-1")))
    page = Page(url, int(m.group(1)), headers, body)
    length = page.header("content-length")
    if length is not None and int(length) != len(body):
        raise BrokenAnswer("%s: %d body bytes of %s" % (url, len(body), length))
    kind = (page.header("content-type") or "").lower()
    if kind.startswith("text/html") and body and b"</html>" not in body[-64:].lower():
        raise BrokenAnswer("%s: page cut off: ...%r" % (url, body[-120:]))
    return page


def timed(fn, *args, **kwargs):
    """(result, seconds) of one call."""
    t0 = time.perf_counter()
    r = fn(*args, **kwargs)
    return r, time.perf_counter() - t0
