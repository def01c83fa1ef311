"""Real mail servers on 127.0.0.1 for integration tests: Dovecot (POP3 with
USER/PASS and APOP) and Postfix (SMTP delivering into the same Maildirs).
Plain by default; with a certificate (see Certificates) Dovecot offers STLS
and a POP3S port, and Postfix a STARTTLS submission port and an SMTPS port,
both of which relay only for clients that logged in through Dovecot's SASL.

Everything lives in a scratch folder that the caller owns; nothing outside it is
written. Both servers are installed on first use (scripts/install-mail-servers.sh).

    with tempfile.TemporaryDirectory() as scratch:
        pop = Dovecot(scratch).start()
        pop.add_user("alice", "alicepw")
        pop.deliver("alice", b"Subject: hi\\n\\nhello\\n")
        ...  # POP3 on 127.0.0.1:pop.port
        pop.logouts("alice")  # what the sessions did, from the server's log
        pop.stop()
"""
import glob, os, re, shutil, signal, socket, string, subprocess, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
MAIL_UID = MAIL_GID = 65534  # nobody:nogroup; Dovecot refuses mail access as root
DOVECOT = "/usr/sbin/dovecot"
POSTFIX = "/usr/sbin/postfix"
DOVECOT_IMAP = "/usr/lib/dovecot/imap"

# Written by Dovecot when a POP3 session ends, so that tests can tell which
# commands ran: "top_count=1 retr_count=0 deleted_count=2 ...".
LOGOUT_FORMAT = ("top_count=%{top_count} retr_count=%{retr_count} "
                 "deleted_count=%{deleted_count} message_count=%{message_count} "
                 "input=%{input} output=%{output}")


def ensure_installed():
    if all(map(os.path.exists, (DOVECOT, DOVECOT_IMAP, POSTFIX))) and shutil.which("openssl"):
        return
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "install-mail-servers.sh")],
                   check=True, stdin=subprocess.DEVNULL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def end_process(proc, seconds=15):
    """SIGTERM to a process this code started, SIGKILL if it outlives seconds."""
    if proc and proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def port_answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


def read_greeting(port, prefix, timeout=10.0):
    """Waits until the server on port sends a greeting line starting with
    prefix. Reading the greeting (not just connecting) matters: a connection
    dropped before its greeting makes Dovecot's stop wait for seconds."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
                line = s.makefile("rb").readline()
                if line.startswith(prefix):
                    s.sendall(b"QUIT\r\n")
                    s.recv(100)
                    return line
        except OSError:
            pass
        time.sleep(0.02)
    raise RuntimeError(f"no greeting on port {port}")


def _make_dirs(*paths):
    for p in paths:
        os.makedirs(p, exist_ok=True)


def _chown_tree(path):
    os.chown(path, MAIL_UID, MAIL_GID)
    for top, dirs, files in os.walk(path):
        for name in dirs + files:
            os.chown(os.path.join(top, name), MAIL_UID, MAIL_GID)


class Certificates:
    """A test authority (ca.pem, for the client to trust), a second one that
    nobody trusts, and server certificates issued by either, made with the
    openssl command in folder. EC keys keep the run short."""

    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        _make_dirs(self.folder)
        self.count = 0
        self.ca = self._authority("ca", "Tarnbox Test CA")
        self.other_ca = self._authority("other-ca", "Untrusted Test CA")

    def _openssl(self, *args, env=None):
        r = subprocess.run(["openssl", *args], cwd=self.folder, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, env=dict(os.environ, **(env or {})))
        if r.returncode != 0:
            raise RuntimeError("openssl %s: %s" % (args[0], r.stderr))

    def _new_key(self, name, *args):
        self._openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-keyout", name + ".key", *args)

    def _authority(self, name, common_name):
        self._new_key(name, "-x509", "-days", "3650", "-out", name + ".pem", "-subj",
                      "/CN=" + common_name, "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        folder = os.path.join(self.folder, name + ".db")
        _make_dirs(folder)
        open(os.path.join(folder, "index.txt"), "w").close()
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("01\n")
        _write(os.path.join(folder, "ca.cnf"), _template("openssl-ca.cnf", db=folder))
        return name

    def server(self, *ips, expired=False, trusted=True):
        """(certificate file, key file) for a server at the addresses ips
        (127.0.0.1 when none). An expired one was valid for 2020 only; an
        untrusted one is signed by other_ca."""
        ips = ips or ("127.0.0.1",)
        self.count += 1
        name = "server%d" % self.count
        self._new_key(name, "-out", name + ".csr", "-subj", "/CN=" + ips[0])
        ca = self.ca if trusted else self.other_ca
        dates = (["-startdate", "20200101000000Z", "-enddate", "20210101000000Z"] if expired
                 else ["-days", "3650"])
        db = os.path.join(self.folder, ca + ".db")
        self._openssl("ca", "-batch", "-config", os.path.join(db, "ca.cnf"), "-cert", ca + ".pem",
                      "-keyfile", ca + ".key", "-in", name + ".csr", "-out", name + ".pem",
                      "-extensions", "server", "-notext", *dates,
                      env={"SAN": ",".join("IP:" + ip for ip in ips)})
        cert, key = (os.path.join(self.folder, name + e) for e in (".pem", ".key"))
        # Dovecot and Postfix read them as root; the key stays private.
        os.chmod(key, 0o600)
        return cert, key

    def authority_file(self):
        return os.path.join(self.folder, self.ca + ".pem")


class Mailboxes:
    """The Maildirs under scratch/mail/<user>/Maildir that both servers use."""

    def __init__(self, scratch):
        self.scratch = os.path.abspath(scratch)
        self.root = os.path.join(self.scratch, "mail")
        # The mail processes run as 65534 and must reach the Maildirs.
        _make_dirs(self.scratch)
        os.chmod(self.scratch, 0o755)
        _make_dirs(self.root)
        os.chown(self.root, MAIL_UID, MAIL_GID)
        self.sequence = 0

    def maildir(self, user):
        return os.path.join(self.root, user, "Maildir")

    def create(self, user):
        box = self.maildir(user)
        _make_dirs(*(os.path.join(box, d) for d in ("cur", "new", "tmp")))
        _chown_tree(os.path.join(self.root, user))

    def deliver(self, user, message):
        """Drops message (bytes, LF or CRLF line ends) into the user's
        Maildir/new, written in tmp and renamed, so that no server ever sees a
        half-written file. Messages are numbered in delivery order."""
        self.create(user)
        self.sequence += 1
        name = f"{int(time.time())}.M{self.sequence:06d}P{os.getpid()}.tarnbox-test"
        box = self.maildir(user)
        tmp = os.path.join(box, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(message)
        os.chown(tmp, MAIL_UID, MAIL_GID)
        os.rename(tmp, os.path.join(box, "new", name))
        return name

    def messages(self, user):
        """File names in new/ and cur/, oldest first."""
        box = self.maildir(user)
        found = []
        for d in ("new", "cur"):
            path = os.path.join(box, d)
            if os.path.isdir(path):
                found += [os.path.join(path, n) for n in os.listdir(path)]
        return sorted(found, key=lambda p: (os.stat(p).st_mtime, p))


class Dovecot:
    """Dovecot POP3 on 127.0.0.1 as a child process (dovecot -F)."""

    def __init__(self, scratch, port=None, apop=True, ssl="no", cert=None, auth_socket=None,
                 addresses=("127.0.0.1",), introspection_url=None, imap=False, extra_config=""):
        """ssl: "no", "yes" (STLS offered) or "required" (no login in clear);
        with ssl on, cert is (certificate file, key file) and POP3S listens
        on pop3s_port. auth_socket: a path where Dovecot's SASL service
        answers Postfix. addresses: where both ports listen (127.0.0.1
        first, which start() waits on). introspection_url: XOAUTH2 and
        OAUTHBEARER logins are offered too, their tokens checked there (RFC
        7662, POSTed) by a passdb that serves only those mechanisms, so
        plain logins stay with the passwd file. imap: IMAP on imap_port too,
        over the same Maildirs (needs dovecot-imapd). extra_config: settings
        appended to the configuration as they stand."""
        ensure_installed()
        self.scratch = os.path.abspath(scratch)
        self.port = port or free_port()
        self.ssl = ssl
        self.cert = cert
        self.pop3s_port = free_port() if ssl != "no" else 0
        self.imap_port = free_port() if imap else 0
        self.auth_socket = auth_socket
        self.addresses = ", ".join(addresses)
        self.introspection_url = introspection_url
        self.extra_config = extra_config
        self.boxes = Mailboxes(self.scratch)
        self.passwd = os.path.join(self.scratch, "passwd")
        self.config = os.path.join(self.scratch, "dovecot.conf")
        self.log = os.path.join(self.scratch, "log", "dovecot.log")
        self.apop = apop
        self.proc = None
        self.users = {}
        _make_dirs(*(os.path.join(self.scratch, d) for d in ("log", "run", "state")))
        if not os.path.exists(self.passwd):
            open(self.passwd, "w").close()
        self._write_config()

    def _write_config(self):
        v = dict(vars(self), s=self.scratch, uid=MAIL_UID, gid=MAIL_GID,
                 logout_format=LOGOUT_FORMAT, oauth_file=os.path.join(self.scratch,
                                                                      "dovecot-oauth2.conf.ext"))
        mechanisms = "plain apop" if self.apop else "plain"
        if self.auth_socket:
            mechanisms += " login"
        if self.introspection_url:
            mechanisms += " xoauth2 oauthbearer"
            _write(v["oauth_file"], _template("dovecot-oauth2.conf.ext", **v))
        v.update(mechanisms=mechanisms, imap_protocol=" imap" if self.imap_port else "",
                 tls="ssl_cert = <%s\nssl_key = <%s\n" % self.cert if self.ssl != "no" else "",
                 oauth=_template("dovecot-oauth.conf", **v) if self.introspection_url else "",
                 sasl=_template("dovecot-sasl.conf", **v) if self.auth_socket else "",
                 imap=_template("dovecot-imap.conf", **v) if self.imap_port else "")
        _write(self.config, _template("dovecot.conf", **v))

    def start(self):
        if port_answers(self.port):
            raise RuntimeError(f"port {self.port} already answers; refusing to test it")
        err = open(os.path.join(self.scratch, "log", "dovecot.err"), "ab")
        self.proc = subprocess.Popen([DOVECOT, "-F", "-c", self.config],
                                     stdin=subprocess.DEVNULL, stdout=err, stderr=err)
        err.close()
        try:
            self.greeting = read_greeting(self.port, b"+OK")
        except RuntimeError:
            self.stop()
            raise
        return self

    def stop(self):
        end_process(self.proc)
        self.proc = None

    def add_user(self, user, password):
        """Adds or changes a POP3 user; Dovecot reads the file on every login."""
        self.users[user] = password
        with open(self.passwd, "w") as f:
            for name, pw in self.users.items():
                f.write(f"{name}:{{PLAIN}}{pw}\n")
        self.boxes.create(user)

    def deliver(self, user, message):
        return self.boxes.deliver(user, message)

    def log_text(self):
        return _text_of(self.log)

    def logins(self, user=None):
        """(user, method) of each successful login, in order."""
        return [re.search(r"user=<([^>]*)>, method=(\w+)", line).groups()
                for line in self.login_lines(user)]

    def login_lines(self, user=None):
        """The whole log line of each successful login; "TLS" stands in it
        when the session was secured."""
        pattern = re.compile(r"pop3-login: (?:Info: )?Login: user=<%s>"
                             % (re.escape(user) if user else "[^>]*"))
        # The log process writes a little after the login itself: read until
        # two reads 50 ms apart agree.
        deadline = time.time() + 1.0
        found = None
        while True:
            now = [line for line in self.log_text().splitlines() if pattern.search(line)]
            if now == found or time.time() > deadline:
                return now
            found = now
            time.sleep(0.05)

    def logouts(self, user=None, wait=2.0):
        """The counters of each finished session, in order, as dicts of ints
        (keys of LOGOUT_FORMAT plus "user" and "reason"). A session's line is
        written just after the client's QUIT is answered, so this waits up to
        `wait` seconds for the log to settle."""
        pattern = re.compile(r"pop3\(([^)]*)\)<[^>]*><[^>]*>: (?:Info: )?(.*?) ?(top_count=.*)$")
        deadline = time.time() + wait
        last = None
        while True:
            found = []
            for line in self.log_text().splitlines():
                m = pattern.search(line)
                if not m or (user is not None and m.group(1) != user):
                    continue
                entry = {"user": m.group(1), "reason": m.group(2).strip()}
                for key, value in re.findall(r"(\w+)=(\d+)", m.group(3)):
                    entry[key] = int(value)
                found.append(entry)
            if found == last or time.time() > deadline:
                return found
            last = found
            time.sleep(0.2)


class Postfix:
    """Postfix SMTP on 127.0.0.1 delivering mail for one virtual domain into
    the Maildirs of the scratch folder. Runs as a daemon (postfix start); stop()
    ends it and waits until the master is gone."""

    def __init__(self, scratch, port=None, domain="test.example", cert=None,
                 smtps_mechanisms=None):
        """With cert (certificate file, key file), STARTTLS is required on
        submission_port and TLS starts at once on smtps_port; both take mail
        only after AUTH, checked by the Dovecot whose auth_socket is
        self.auth_socket (start that Dovecot first). smtps_mechanisms limits
        what the SMTPS port offers ("login")."""
        ensure_installed()
        self.scratch = os.path.abspath(scratch)
        self.port = port or free_port()
        self.domain = domain
        self.cert = cert
        self.submission_port = free_port() if cert else 0
        self.smtps_port = free_port() if cert else 0
        self.smtps_mechanisms = smtps_mechanisms
        self.boxes = Mailboxes(self.scratch)
        self.etc = os.path.join(self.scratch, "postfix", "etc")
        self.spool = os.path.join(self.scratch, "postfix", "spool")
        self.data = os.path.join(self.scratch, "postfix", "data")
        self.vmailbox = os.path.join(self.etc, "vmailbox")
        self.log = os.path.join(self.scratch, "log", "postfix.log")
        self.users = []
        self.running = False
        # The queue and data folders must not lie inside the config folder.
        _make_dirs(self.etc, self.spool, self.data, os.path.join(self.scratch, "log"))
        shutil.chown(self.data, user="postfix")
        # Where Dovecot puts its SASL socket, so it must exist before Postfix
        # starts; Postfix's own set-up gives the folder the same owner and mode.
        private = os.path.join(self.spool, "private")
        _make_dirs(private)
        shutil.chown(private, user="postfix")
        os.chmod(private, 0o700)
        self.auth_socket = os.path.join(private, "auth")
        self._write_config()

    def _write_config(self):
        v = dict(vars(self), s=self.scratch, uid=MAIL_UID, gid=MAIL_GID)
        main, master = _template("postfix-main.cf", **v), _template("postfix-master.cf", **v)
        if self.cert:
            main += _template("postfix-tls.cf", cert=self.cert[0], key=self.cert[1])
            master += _template("postfix-secure-master.cf", **v, mechanism_filter=(
                "  -o smtpd_sasl_mechanism_filter=%s\n" % self.smtps_mechanisms
                if self.smtps_mechanisms else ""))
        _write(os.path.join(self.etc, "main.cf"), main)
        _write(os.path.join(self.etc, "master.cf"), master)
        self._write_vmailbox()

    def _write_vmailbox(self):
        with open(self.vmailbox, "w") as f:
            for user in self.users:
                f.write(f"{user}@{self.domain} {user}/Maildir/\n")
        # Postfix waits until a changed map or main.cf is about two seconds
        # old; files dated a minute back are taken at once.
        past = time.time() - 60
        for name in ("main.cf", "vmailbox"):
            os.utime(os.path.join(self.etc, name), (past, past))

    def _postfix(self, *args):
        return subprocess.run([POSTFIX, "-c", self.etc, *args], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)

    def add_user(self, user):
        """Accepts mail for user@domain from now on."""
        if user not in self.users:
            self.users.append(user)
        self.boxes.create(user)
        self._write_vmailbox()
        if self.running:
            self._postfix("reload")

    def start(self):
        if port_answers(self.port):
            raise RuntimeError(f"port {self.port} already answers; refusing to test it")
        r = self._postfix("check")
        if r.returncode != 0:
            raise RuntimeError("postfix check: " + r.stderr)
        r = self._postfix("start")
        if r.returncode != 0:
            raise RuntimeError("postfix start: " + r.stderr)
        self.running = True
        try:
            self.greeting = read_greeting(self.port, b"220")
        except RuntimeError:
            self.stop()
            raise
        return self

    def _master_pid(self):
        try:
            with open(os.path.join(self.spool, "pid", "master.pid")) as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return 0

    def stop(self):
        if not self.running:
            return
        pid = self._master_pid()
        self._postfix("stop")
        # The reaper of this machine may leave the master as a zombie for a
        # moment; a zombie counts as gone.
        deadline = time.time() + 10
        while pid and time.time() < deadline and _alive(pid):
            time.sleep(0.02)
        for path in [os.path.join(self.spool, "pid", "master.pid")] + glob.glob(
                os.path.join(self.spool, "pid", "inet.*")):
            try:
                os.remove(path)
            except OSError:
                pass
        self.running = False

    def log_text(self):
        return _text_of(self.log)


def _template(name, **values):
    """A configuration file of servers/ with values put in for its ${names}."""
    with open(os.path.join(HERE, "servers", name)) as f:
        return string.Template(f.read()).substitute(values)


def _write(path, text):
    with open(path, "w") as f:
        f.write(text)


def _text_of(path):
    """The log at path so far ("" before the server wrote it)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False
