#!/usr/bin/env python3
"""Tarnbox over POP3 beside Roundcube over IMAP, in one run, on one Dovecot
serving both protocols from the same Maildirs.

    python3 bench/peers.py /path/to/tarnbox      (bench/peers.sh installs first)

Every mailbox of a size is a hard-linked copy of one template, so both sides
read the same files; a cold view is a fresh user whose Maildir has never been
opened (no Dovecot index, nothing kept by either webmail), a warm view is the
second one. Roundcube runs from its Debian package with its own configuration
in the scratch folder (php-fpm pool and nginx master started here, stopped at
the end); its page size is the mailbox size, so both show every row.
Floors: a bare POP3 client doing what the gateway has to, one TOP after
another and all TOPs written at once.

PEERS_SIZES (default "1000 10000"), PEERS_REPEAT (default 5), PEERS_BROWSER
(default 1; 0 skips Chromium). Never fails on slowness.
"""
import base64
import http.cookiejar
import json
import os
import random
import re
import secrets
import shutil
import signal
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, HERE)
import mailservers  # noqa: E402
from bench_gateway import Gateway  # noqa: E402
from reading_bench import (ROWS, login, raw_first, raw_first_pipelined,  # noqa: E402
                           raw_retr, raw_second, small_message, timed)
from reading_bench import http as gateway_http  # noqa: E402

SIZES = [int(x) for x in os.environ.get("PEERS_SIZES", "1000 10000").split()]
REPEAT = int(os.environ.get("PEERS_REPEAT", "5"))
BROWSER = os.environ.get("PEERS_BROWSER", "1") != "0"
PHP_FPM = "/usr/sbin/php-fpm8.2"
NGINX = "/usr/sbin/nginx"
RC_PUBLIC = "/var/lib/roundcube/public_html"
RC_SHARE = "/usr/share/roundcube"
WEB_USER = "www-data"
START = time.monotonic()


def say(text):
    print("[%6.1fs] %s" % (time.monotonic() - START, text), file=sys.stderr, flush=True)


# ------------------------------------------------------------------ mailboxes
def attachment_message(i, rng):
    """Every so often a message carries a document, as real inboxes do; the
    list only needs its header, the message page all of it."""
    size = rng.choice((30, 80, 200, 600)) * 1024
    blob = rng.randbytes(size * 3 // 4)
    b64 = base64.encodebytes(blob)
    head = small_message(i, rng).split(b"MIME-Version:")[0]
    return (head + b"MIME-Version: 1.0\n"
            b"Content-Type: multipart/mixed; boundary=\"peers-%d\"\n\n"
            b"--peers-%d\nContent-Type: text/plain; charset=ISO-2022-JP\n\n" % (i, i)
            + "資料を添付します。ご確認ください。\n".encode("iso2022_jp")
            + b"\n--peers-%d\nContent-Type: application/pdf; name=\"report-%d.pdf\"\n"
              b"Content-Transfer-Encoding: base64\n"
              b"Content-Disposition: attachment; filename=\"report-%d.pdf\"\n\n" % (i, i, i)
            + b64 + b"\n--peers-%d--\n" % i)


def make_template(folder, count):
    """A Maildir/new of count messages, owned by the mail user; returns the
    file names (in delivery order) and the total size."""
    rng = random.Random(count)
    new = os.path.join(folder, "new")
    os.makedirs(new)
    names, total = [], 0
    for i in range(count):
        data = attachment_message(i, rng) if i % 40 == 39 else small_message(i, rng)
        name = "1733500000.M%06dP1.peers" % i
        path = os.path.join(new, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chown(path, mailservers.MAIL_UID, mailservers.MAIL_GID)
        names.append(name)
        total += len(data)
    return names, total


def fresh_box(pop, template, names, user):
    """A never-opened copy of template for user: links, so thousands of
    copies cost no disk and both sides read the same bytes."""
    box = pop.boxes.maildir(user)
    for name in names:
        os.link(os.path.join(template, "new", name), os.path.join(box, "new", name))


# ------------------------------------------------------------------ Roundcube
class Roundcube:
    """Debian's Roundcube behind its own php-fpm pool and nginx master, all
    configured in folder and listening on 127.0.0.1 only."""

    def __init__(self, folder, imap_port, page_size):
        self.dir = os.path.abspath(folder)
        self.port = mailservers.free_port()
        self.fpm = self.nginx = None
        conf = os.path.join(self.dir, "config")
        for d in ("config", "logs", "temp", "db", "nginx/logs"):
            os.makedirs(os.path.join(self.dir, d), exist_ok=True)
        # The package's defaults are read as they are; only our own file
        # differs from a stock installation.
        for name in ("defaults.inc.php", "mimetypes.php"):
            os.symlink(os.path.join("/etc/roundcube", name), os.path.join(conf, name))
        db = os.path.join(self.dir, "db", "roundcube.db")
        with open(os.path.join(RC_SHARE, "SQL", "sqlite.initial.sql")) as f:
            schema = f.read()
        con = sqlite3.connect(db)
        con.executescript(schema)
        con.close()
        settings = {
            "db_dsnw": "sqlite:///%s?mode=0640" % db,
            "imap_host": "127.0.0.1:%d" % imap_port,
            "smtp_host": "127.0.0.1:25",
            "log_dir": os.path.join(self.dir, "logs"),
            "temp_dir": os.path.join(self.dir, "temp"),
            "des_key": secrets.token_urlsafe(18)[:24],
            "plugins": [],
            "mail_pagesize": page_size,
            "max_pagesize": page_size,
            "login_rate_limit": 0,
            "enable_spellcheck": False,
            "support_url": "",
        }
        with open(os.path.join(conf, "config.inc.php"), "w") as f:
            f.write("<?php\n$config = [];\n")
            for k, v in settings.items():
                f.write("$config[%s] = %s;\n" % (json.dumps(k), php_value(v)))
        sock = os.path.join(self.dir, "php-fpm.sock")
        with open(os.path.join(self.dir, "php-fpm.conf"), "w") as f:
            f.write(f"""[global]
pid = {self.dir}/php-fpm.pid
error_log = {self.dir}/logs/php-fpm.log
daemonize = no

[roundcube]
user = {WEB_USER}
group = {WEB_USER}
listen = {sock}
listen.mode = 0666
pm = static
pm.max_children = 4
env[ROUNDCUBE_CONFIG_DIR] = {conf}
php_admin_value[error_log] = {self.dir}/logs/php-errors.log
php_admin_value[upload_max_filesize] = 25M
php_admin_value[post_max_size] = 30M
""")
        n = os.path.join(self.dir, "nginx")
        with open(os.path.join(n, "nginx.conf"), "w") as f:
            f.write(f"""daemon off;
user {WEB_USER};
worker_processes 1;
pid {n}/nginx.pid;
error_log {n}/logs/error.log;
events {{ worker_connections 256; }}
http {{
    include /etc/nginx/mime.types;
    access_log off;
    client_body_temp_path {n}/body;
    proxy_temp_path {n}/proxy;
    fastcgi_temp_path {n}/fastcgi;
    uwsgi_temp_path {n}/uwsgi;
    scgi_temp_path {n}/scgi;
    client_max_body_size 30m;
    server {{
        listen 127.0.0.1:{self.port};
        root {RC_PUBLIC};
        index index.php;
        location ~ \\.php$ {{
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME $document_root$fastcgi_script_name;
            fastcgi_pass unix:{sock};
        }}
    }}
}}
""")
        subprocess.run(["chown", "-R", WEB_USER + ":", os.path.join(self.dir, "logs"),
                        os.path.join(self.dir, "temp"), os.path.join(self.dir, "db")], check=True)
        os.chmod(self.dir, 0o755)

    def start(self):
        if mailservers.port_answers(self.port):
            raise RuntimeError("port %d already answers" % self.port)
        log = open(os.path.join(self.dir, "logs", "start.log"), "ab")
        self.fpm = subprocess.Popen([PHP_FPM, "-F", "-y", os.path.join(self.dir, "php-fpm.conf")],
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        conf = os.path.join(self.dir, "nginx", "nginx.conf")
        err = os.path.join(self.dir, "nginx", "logs", "error.log")
        self.nginx = subprocess.Popen([NGINX, "-p", os.path.join(self.dir, "nginx"), "-c", conf,
                                      "-e", err], stdin=subprocess.DEVNULL, stdout=log,
                                     stderr=log)
        log.close()
        sock = os.path.join(self.dir, "php-fpm.sock")
        deadline = time.time() + 15
        while time.time() < deadline:
            for p, name in ((self.fpm, "php-fpm"), (self.nginx, "nginx")):
                if p.poll() is not None:
                    raise RuntimeError("%s ended at start (%s)" % (name, self.logs()))
            if os.path.exists(sock) and mailservers.port_answers(self.port):
                return self
            time.sleep(0.05)
        raise RuntimeError("Roundcube did not start: " + self.logs())

    def logs(self):
        out = []
        for name in ("logs/start.log", "logs/php-fpm.log", "logs/errors.log",
                     "logs/php-errors.log", "nginx/logs/error.log"):
            try:
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    text = f.read().strip()
                if text:
                    out.append("%s: %s" % (name, text[-1500:]))
            except OSError:
                pass
        return "\n".join(out)

    def stop(self):
        mailservers.end_process(self.nginx)
        mailservers.end_process(self.fpm)
        self.nginx = self.fpm = None


def php_value(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, list):
        return "[" + ", ".join(php_value(x) for x in v) + "]"
    return "'" + str(v).replace("\\", "\\\\").replace("'", "\\'") + "'"


class RoundcubeClient:
    """One browser's worth of Roundcube: its cookies and request token."""

    def __init__(self, port):
        self.base = "http://127.0.0.1:%d/" % port
        self.jar = http.cookiejar.CookieJar()
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(self.jar))
        self.token = None

    def get(self, query, headers=None):
        req = urllib.request.Request(self.base + "?" + query, headers=headers or {})
        with self.opener.open(req, timeout=600) as r:
            return r.read()

    def open_login(self):
        """The login form, as a browser has it before the user types."""
        page = self.get("_task=login").decode("utf-8", "replace")
        self.form_token = re.search(r'name="_token" value="([^"]+)"', page).group(1)

    def login(self, user, password):
        """The form's POST and the mail page it leads to."""
        body = urllib.parse.urlencode({"_token": self.form_token, "_task": "login", "_action": "login",
                                       "_timezone": "Asia/Tokyo", "_url": "", "_user": user,
                                       "_pass": password}).encode()
        with self.opener.open(self.base + "?_task=login", body, timeout=600) as r:
            page = r.read().decode("utf-8", "replace")
        m = re.search(r'"request_token":"([^"]+)"', page)
        if not m:
            raise RuntimeError("Roundcube login of %s failed: %s" % (user, page[:600]))
        self.token = m.group(1)
        return page

    def ajax(self, query):
        return self.get(query + "&_remote=1", {"X-Roundcube-Request": self.token,
                                               "X-Requested-With": "XMLHttpRequest"})

    def list(self):
        """The list action the mail page asks for; returns how many rows it added."""
        data = self.ajax("_task=mail&_action=list&_mbox=INBOX&_page=1")
        return data.count(b"add_message_row(")

    def show(self, uid):
        return self.get("_task=mail&_action=show&_uid=%d&_mbox=INBOX" % uid)


# ----------------------------------------------------------------- browser
def browser_times(jobs):
    """Runs the jobs in Chromium (bench/peers_browser.mjs); the results in
    order, or [] when the browser cannot run here."""
    if not jobs:
        return []
    proc = subprocess.run(["node", os.path.join(HERE, "peers_browser.mjs")],
                          input=json.dumps(jobs), capture_output=True, text=True,
                          cwd=HERE)
    results = [json.loads(line) for line in proc.stdout.splitlines() if line.startswith("{")]
    if proc.returncode != 0:
        say("WARNING: browser runs failed: " + proc.stderr.strip()[-1500:])
    good = []
    for r in results:
        if "error" in r:
            say("WARNING: browser, %s: %s" % (r["user"], r["error"]))
        elif r["shown"] < next(j["rows"] for j in jobs if j["user"] == r["user"]):
            say("WARNING: %s showed %d rows in the browser" % (r["user"], r["shown"]))
        else:
            good.append(r)
    return good


# -------------------------------------------------------------------- main
def measure_size(size, pop, gateway, rc, scratch, users):
    template = os.path.join(scratch, "template-%d" % size)
    names, total = make_template(template, size)
    say("%d messages, %.1f MB (%.1f KB average)" % (size, total / 1e6, total / size / 1024))
    pick = size // 2  # the message opened: Japanese body, mid-list
    t = {k: [] for k in ("tb_cold", "tb_warm", "tb_open", "rc_login", "rc_cold", "rc_warm",
                         "rc_both", "rc_open", "seq_cold", "seq_warm", "pipe_cold",
                         "pipe_warm", "statlist", "retr")}

    def tarnbox(k):
        u = users["tb", size, "h", k]
        fresh_box(pop, template, names, u)
        dt, (page, query) = timed(login, gateway.port, u, u + "-pw")
        shown = len(ROWS.findall(page))
        if shown != size:
            say("WARNING: the gateway's list of %s shows %d rows, not %d" % (u, shown, size))
        t["tb_cold"].append(dt)
        t["tb_warm"].append(timed(gateway_http, gateway.port, b"GET",
                                  b"/mail/index.html" + query)[0])
        m = re.search(rb'href="(/mail/a0*%d\.html[^"]*)"' % pick, page)
        if not m:
            raise RuntimeError("no link to message %d on the gateway's list" % pick)
        dt, body = timed(gateway_http, gateway.port, b"GET", m.group(1))
        t["tb_open"].append(dt)

    def roundcube(k):
        u = users["rc", size, "h", k]
        fresh_box(pop, template, names, u)
        c = RoundcubeClient(rc.port)
        c.open_login()
        t["rc_login"].append(timed(c.login, u, u + "-pw")[0])
        dt, shown = timed(c.list)
        if shown != size:
            say("WARNING: Roundcube's list of %s shows %d rows, not %d" % (u, shown, size))
        t["rc_cold"].append(dt)
        t["rc_both"].append(t["rc_login"][-1] + dt)
        t["rc_warm"].append(timed(c.list)[0])
        t["rc_open"].append(timed(c.show, pick)[0])

    def floors(k):
        for how, fn in (("seq", raw_first), ("pipe", raw_first_pipelined)):
            u = users["fl", size, how, k]
            fresh_box(pop, template, names, u)
            t[how + "_cold"].append(timed(fn, pop.port, u, u + "-pw")[0])
            if how == "pipe":
                # The gateway's warm list is the second session on its box,
                # after a pipelined first one: the floor is taken at the
                # same point of the box's life.
                t["statlist"].append(timed(raw_second, pop.port, u, u + "-pw")[0])
            t[how + "_warm"].append(timed(fn, pop.port, u, u + "-pw")[0])
        t["retr"].append(timed(raw_retr, pop.port, u, u + "-pw", pick)[0])

    for k in range(REPEAT):
        # Alternating who goes first keeps page-cache luck from favouring one side.
        order = (tarnbox, roundcube) if k % 2 == 0 else (roundcube, tarnbox)
        for fn in order + (floors,):
            fn(k)
        say("size %d run %d: gateway cold %.3fs, Roundcube cold %.3fs, floor %.3fs"
            % (size, k + 1, t["tb_cold"][-1], t["rc_cold"][-1], t["seq_cold"][-1]))

    tb_browser, rc_browser = [], []
    if BROWSER:
        jobs = []
        for k in range(REPEAT):
            for side, port, key in (("tarnbox", gateway.port, "tb"), ("roundcube", rc.port, "rc")):
                u = users[key, size, "b", k]
                fresh_box(pop, template, names, u)
                jobs.append({"side": side, "base": "http://127.0.0.1:%d" % port, "user": u,
                             "password": u + "-pw", "rows": size})
        results = browser_times(jobs)
        tb_browser = [r for r in results if r["side"] == "tarnbox"]
        rc_browser = [r for r in results if r["side"] == "roundcube"]
    shutil.rmtree(template, ignore_errors=True)

    rows = [
        ("list, cold", t["tb_cold"], t["rc_cold"], t["seq_cold"], t["pipe_cold"]),
        ("  Roundcube login + list", t["tb_cold"], t["rc_both"], None, None),
        ("list, warm", t["tb_warm"], t["rc_warm"], t["seq_warm"], t["pipe_warm"]),
        ("  floor STAT+LIST only", t["tb_warm"], t["rc_warm"], t["statlist"], None),
        ("open one message", t["tb_open"], t["rc_open"], t["retr"], None),
    ]
    if tb_browser and rc_browser:
        rows.append(("browser: login -> rows, cold", [r["cold"] for r in tb_browser],
                     [r["cold"] for r in rc_browser], None, None))
        rows.append(("browser: list -> rows, warm", [r["warm"] for r in tb_browser],
                     [r["warm"] for r in rc_browser], None, None))
    return rows


def report(size, rows):
    print()
    print("== %d messages (medians of %d runs, ms)" % (size, REPEAT))
    print("%-30s %10s %10s %8s   %10s %7s %10s %7s" % (
        "measure", "Tarnbox", "Roundcube", "TB/RC", "POP3 seq", "TB/seq", "POP3 pipe",
        "TB/pipe"))
    print("-" * 102)

    def med(xs):
        return statistics.median(xs) if xs else None

    def cell(x):
        return "%10.1f" % (x * 1000) if x is not None else "%10s" % "-"

    def ratio(a, b):
        return "%6.2fx" % (a / b) if a is not None and b else "%7s" % "-"
    for name, tb, rc, seq, pipe in rows:
        # A browser run that never showed its rows is left out; say so.
        short = [n for n in (len(tb), len(rc)) if n < REPEAT]
        if short:
            name += " (n=%s)" % "/".join(map(str, (len(tb), len(rc))))
        a, b, s, p = med(tb), med(rc), med(seq or []), med(pipe or [])
        print("%-30s %s %s %s   %s %s %s %s" % (name, cell(a), cell(b), ratio(a, b), cell(s),
                                              ratio(a, s), cell(p), ratio(a, p)), flush=True)


def main(bin_path):
    scratch = tempfile.mkdtemp(prefix="tarnbox-peers-")
    os.chmod(scratch, 0o755)
    pop = gateway = rc = None
    try:
        pop = mailservers.Dovecot(scratch, apop=False, imap=True).start()
        say("Dovecot: POP3 on %d, IMAP on %d" % (pop.port, pop.imap_port))
        rc = Roundcube(os.path.join(scratch, "roundcube"), pop.imap_port, max(SIZES)).start()
        say("Roundcube on %d" % rc.port)
        gateway = Gateway(bin_path, pop.port)
        # Every user a run needs, made up front, each with an empty Maildir
        # that gets its messages just before it is first opened.
        users = {}
        for size in SIZES:
            for k in range(REPEAT):
                for key in (("tb", "h"), ("tb", "b"), ("rc", "h"), ("rc", "b"),
                            ("fl", "seq"), ("fl", "pipe")):
                    users[key[0], size, key[1], k] = "%s%d%s%d" % (key[0], size, key[1], k)
        for (side, _, _, _), u in users.items():
            # Dovecot rereads its passwd file only when the file looks
            # changed, which a second write within the same second may not.
            pop.add_user(u, u + "-pw")
            if side == "tb":
                gateway.run("users", "add", "--name", u, "--mail-address", u + "@example.jp",
                            "--id", u, "--password", u + "-pw")
        gateway.start()
        say("gateway on %d" % gateway.port)
        results = []
        for size in SIZES:
            rows = measure_size(size, pop, gateway, rc, scratch, users)
            report(size, rows)
            results.append((size, rows))
        print("\n(ratios: Tarnbox median over the other median; the floors are a bare POP3 "
              "client on the same Dovecot, cold on a never-opened copy, warm on the second pass)")
    finally:
        if rc:
            errors = rc.logs()
            if "ERROR" in errors or "PHP Fatal" in errors:
                say("Roundcube logged: " + errors[-800:])
            rc.stop()
        if gateway:
            gateway.stop()
        if pop:
            pop.stop()
        if os.environ.get("PEERS_KEEP"):
            say("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    # A Ctrl-C or a TERM ends the run through main's finally, which stops
    # the servers this run started and nothing else.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    try:
        main(os.path.abspath(sys.argv[1]))
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        sys.exit(130)
