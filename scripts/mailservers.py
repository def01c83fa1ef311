"""Real Dovecot (POP3, APOP, optionally STLS/POP3S, IMAP, SASL for Postfix)
and Postfix (delivering into the same Maildirs) on 127.0.0.1, everything in
a scratch folder of the caller's, installed on first use; and poppassd."""
import glob, os, poplib, re, shutil, signal, socket, string, subprocess, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
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


def pop3_login(port, user, password):
    """A POP3 client logged in on 127.0.0.1:port."""
    pop = poplib.POP3("127.0.0.1", port, timeout=10)
    pop.user(user)
    pop.pass_(password)
    return pop


def port_answers(port, host="127.0.0.1"):
    try:
        socket.create_connection((host, port), timeout=0.5).close()
        return True
    except OSError:
        return False


def read_greeting(port, prefix, timeout=30.0):
    """Waits for the greeting: a connection dropped before it makes Dovecot's
    stop wait for seconds. A loaded machine (a build on every core) has kept
    Dovecot from greeting for more than ten seconds."""
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
    [os.makedirs(p, exist_ok=True) for p in paths]


def _chown_tree(path):
    os.chown(path, MAIL_UID, MAIL_GID)
    for top, dirs, files in os.walk(path):
        for name in dirs + files:
            os.chown(os.path.join(top, name), MAIL_UID, MAIL_GID)


class Certificates:
    """A trusted test authority, an untrusted one, and server certificates
    of either; EC keys keep the run short."""

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
        _write(os.path.join(folder, "index.txt"), "")
        _write(os.path.join(folder, "serial"), "01\n")
        _write(os.path.join(folder, "ca.cnf"), template("openssl-ca.cnf", db=folder))
        return name

    def server(self, *ips, expired=False, trusted=True):
        """(certificate, key) for the addresses ips; expired: valid in 2020 only."""
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
    """scratch/mail/<user>/Maildir, which both servers use."""

    def __init__(self, scratch):
        self.root, self.sequence = os.path.join(os.path.abspath(scratch), "mail"), 0
        # The mail processes run as 65534 and must reach the Maildirs.
        _make_dirs(self.root)
        os.chmod(scratch, 0o755)
        os.chown(self.root, MAIL_UID, MAIL_GID)

    def maildir(self, user):
        return os.path.join(self.root, user, "Maildir")

    def create(self, user):
        box = self.maildir(user)
        _make_dirs(*(os.path.join(box, d) for d in ("cur", "new", "tmp")))
        _chown_tree(os.path.join(self.root, user))

    def deliver(self, user, message):
        """Written in tmp and renamed into new, so no server sees half a file."""
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
        found = glob.glob(os.path.join(self.maildir(user), "new", "*")) + glob.glob(
            os.path.join(self.maildir(user), "cur", "*"))
        return sorted(found, key=lambda p: (os.stat(p).st_mtime, p))


class Dovecot:
    """Dovecot POP3 as a child process (dovecot -F)."""

    def __init__(self, scratch, apop=True, ssl="no", cert=None, auth_socket=None,
                 addresses=("127.0.0.1",), introspection_url=None, imap=False, extra_config=""):
        """ssl "yes" offers STLS and POP3S (cert: certificate and key files);
        auth_socket: where Dovecot's SASL answers Postfix; addresses: where
        the ports listen, 127.0.0.1 first; introspection_url: XOAUTH2 and
        OAUTHBEARER tokens are checked there (RFC 7662) by a passdb of their
        own, plain logins stay with the passwd file; imap: IMAP on imap_port;
        extra_config: appended to the configuration as it stands."""
        ensure_installed()
        self.scratch, self.port, self.ssl, self.cert = os.path.abspath(scratch), free_port(), ssl, cert
        self.pop3s_port = free_port() if ssl != "no" else 0
        self.imap_port = free_port() if imap else 0
        self.auth_socket, self.introspection_url = auth_socket, introspection_url
        self.extra_config = extra_config
        self.addresses = ", ".join(addresses)
        self.boxes = Mailboxes(self.scratch)
        self.passwd, self.config, self.log = (os.path.join(self.scratch, n) for n in (
            "passwd", "dovecot.conf", os.path.join("log", "dovecot.log")))
        self.apop, self.proc, self.users = apop, None, {}
        _make_dirs(*(os.path.join(self.scratch, d) for d in ("log", "run", "state")))
        if not os.path.exists(self.passwd):
            _write(self.passwd, "")
        v = dict(vars(self), s=self.scratch, uid=MAIL_UID, gid=MAIL_GID,
                 logout_format=LOGOUT_FORMAT,
                 oauth_file=os.path.join(self.scratch, "dovecot-oauth2.conf.ext"))
        mechanisms = ("plain apop" if apop else "plain") + (" login" if auth_socket else "")
        if introspection_url:
            mechanisms += " xoauth2 oauthbearer"
            _write(v["oauth_file"], template("dovecot-oauth2.conf.ext", **v))
        v.update(mechanisms=mechanisms, imap_protocol=" imap" if imap else "",
                 tls="ssl_cert = <%s\nssl_key = <%s\n" % cert if ssl != "no" else "",
                 oauth=template("dovecot-oauth.conf", **v) if introspection_url else "",
                 sasl=template("dovecot-sasl.conf", **v) if auth_socket else "",
                 imap=template("dovecot-imap.conf", **v) if imap else "")
        _write(self.config, template("dovecot.conf", **v))

    def start(self):
        _refuse_taken(self.port)
        with open(os.path.join(self.scratch, "log", "dovecot.err"), "ab") as err:
            self.proc = subprocess.Popen([DOVECOT, "-F", "-c", self.config],
                                         stdin=subprocess.DEVNULL, stdout=err, stderr=err)
        return _greeted(self, b"+OK")

    def stop(self):
        end_process(self.proc)
        self.proc = None

    def add_user(self, user, password):
        """Adds or changes a POP3 user; Dovecot reads the file on every login."""
        self.users[user] = password
        _write(self.passwd, "".join(f"{n}:{{PLAIN}}{pw}\n" for n, pw in self.users.items()))
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
        """The log line of each successful login ("TLS" in it when secured)."""
        pattern = re.compile(r"pop3-login: (?:Info: )?Login: user=<%s>"
                             % (re.escape(user) if user else "[^>]*"))
        return _settled(lambda: [line for line in self.log_text().splitlines()
                                 if pattern.search(line)], 1.0, 0.05)

    def logouts(self, user=None, wait=2.0):
        """The counters of each finished session as dicts of ints (keys of
        LOGOUT_FORMAT, "user" and "reason"); written just after QUIT's answer."""
        pattern = re.compile(r"pop3\(([^)]*)\)<[^>]*><[^>]*>: (?:Info: )?(.*?) ?(top_count=.*)$")

        def read():
            found = []
            for m in filter(None, map(pattern.search, self.log_text().splitlines())):
                if user is None or m.group(1) == user:
                    found.append({"user": m.group(1), "reason": m.group(2).strip(), **{
                        k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", m.group(3))}})
            return found
        return _settled(read, wait, 0.2)


class Postfix:
    """Postfix as a daemon, delivering mail for domain into the scratch
    folder's Maildirs."""

    def __init__(self, scratch, domain="test.example", cert=None, smtps_mechanisms=None):
        """With cert, submission_port requires STARTTLS and smtps_port speaks
        TLS at once, both taking mail only after AUTH through the Dovecot
        whose auth_socket is self.auth_socket (start it first);
        smtps_mechanisms limits what SMTPS offers."""
        ensure_installed()
        self.scratch, self.port, self.domain, self.cert = (os.path.abspath(scratch), free_port(),
                                                           domain, cert)
        self.submission_port, self.smtps_port = (free_port(), free_port()) if cert else (0, 0)
        self.boxes = Mailboxes(self.scratch)
        self.etc, self.spool, self.data = (os.path.join(self.scratch, "postfix", d)
                                           for d in ("etc", "spool", "data"))
        self.vmailbox = os.path.join(self.etc, "vmailbox")
        self.log = os.path.join(self.scratch, "log", "postfix.log")
        self.users, self.running = [], False
        # The queue and data folders must not lie inside the config folder.
        _make_dirs(self.etc, self.spool, self.data, os.path.join(self.scratch, "log"))
        shutil.chown(self.data, user="postfix")
        # Dovecot puts its SASL socket here, so it must exist before Postfix
        # starts, with the owner and mode Postfix's own set-up gives it.
        private = os.path.join(self.spool, "private")
        _make_dirs(private)
        shutil.chown(private, user="postfix")
        os.chmod(private, 0o700)
        self.auth_socket = os.path.join(private, "auth")
        v = dict(vars(self), s=self.scratch, uid=MAIL_UID, gid=MAIL_GID)
        main, master = template("postfix-main.cf", **v), template("postfix-master.cf", **v)
        if cert:
            main += template("postfix-tls.cf", cert=cert[0], key=cert[1])
            master += template("postfix-secure-master.cf", **v, mechanism_filter=(
                "  -o smtpd_sasl_mechanism_filter=%s\n" % smtps_mechanisms
                if smtps_mechanisms else ""))
        _write(os.path.join(self.etc, "main.cf"), main)
        _write(os.path.join(self.etc, "master.cf"), master)
        self._write_vmailbox()

    def _write_vmailbox(self):
        _write(self.vmailbox, "".join(f"{u}@{self.domain} {u}/Maildir/\n" for u in self.users))
        # Postfix waits until a changed map or main.cf is about two seconds
        # old; files dated a minute back are taken at once.
        past = time.time() - 60
        for name in ("main.cf", "vmailbox"):
            os.utime(os.path.join(self.etc, name), (past, past))

    def _postfix(self, *args, check=False):
        r = subprocess.run([POSTFIX, "-c", self.etc, *args], stdin=subprocess.DEVNULL,
                           capture_output=True, text=True)
        if check and r.returncode != 0:
            raise RuntimeError("postfix %s: %s" % (args[0], r.stderr))

    def add_user(self, user):
        """Accepts mail for user@domain from now on."""
        if user not in self.users:
            self.users.append(user)
        self.boxes.create(user)
        self._write_vmailbox()
        if self.running:
            self._postfix("reload")

    def start(self):
        _refuse_taken(self.port)
        self._postfix("check", check=True)
        self._postfix("start", check=True)
        self.running = True
        return _greeted(self, b"220")

    def stop(self):
        if not self.running:
            return
        pids = os.path.join(self.spool, "pid")
        try:
            with open(os.path.join(pids, "master.pid")) as f:
                pid = int(f.read().strip() or 0)
        except (OSError, ValueError):
            pid = 0
        self._postfix("stop")
        # The reaper of this machine may leave the master as a zombie for a
        # moment; a zombie counts as gone.
        deadline = time.time() + 10
        while pid and time.time() < deadline and _alive(pid):
            time.sleep(0.02)
        for path in [os.path.join(pids, "master.pid")] + glob.glob(os.path.join(pids, "inet.*")):
            try:
                os.remove(path)
            except OSError:
                pass
        self.running = False

    def log_text(self):
        return _text_of(self.log)


class Poppassd:
    """A throwaway system account and Debian's poppassd for it, one per
    connection under socat on 127.0.0.1:106 (root only); stop removes both.
    socat runs in a session of its own, so that stopping the group ends
    conversations still running. poppassd exits with 1 after a refusal,
    which socat takes as its own error, maybe before passing the refusal
    on: a shell in between turns the status into 0."""
    PORT = 106
    PROGRAM = "/usr/sbin/poppassd"

    def __init__(self, user, password, log=subprocess.DEVNULL):
        self.user, self.log, self.proc, self.port = user, log, None, self.PORT
        subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", user],
                       check=True)
        try:
            subprocess.run(["chpasswd"], input=f"{user}:{password}\n".encode(), check=True)
        except BaseException:
            self.stop()
            raise

    def start(self):
        _refuse_taken(self.PORT)
        self.proc = subprocess.Popen(
            [shutil.which("socat"), "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % self.PORT,
             "SYSTEM:%s; exit 0" % self.PROGRAM], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=self.log, start_new_session=True)
        # Reading the greeting lets that poppassd end cleanly.
        return _greeted(self, b"200")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)
                self.proc.wait(timeout=10)
            except ProcessLookupError:
                pass
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc = None
        subprocess.run(["userdel", self.user], capture_output=True)

    def accepts(self, password):
        """poppassd takes password as the account's (a wrong one costs PAM's delay)."""
        with socket.create_connection(("127.0.0.1", self.PORT), timeout=15) as s:
            f = s.makefile("rb")
            assert f.readline().startswith(b"200")
            s.sendall(b"user %s\r\n" % self.user.encode())
            assert f.readline().startswith(b"200")
            s.sendall(b"pass %s\r\n" % password.encode())
            answer = f.readline()
            try:
                s.sendall(b"quit\r\n")
            except OSError:
                pass
            return answer.startswith(b"200")


def _refuse_taken(port):
    if port_answers(port):
        raise RuntimeError(f"port {port} already answers; refusing to test it")


def _greeted(server, prefix):
    try:
        read_greeting(server.port, prefix)
    except RuntimeError:
        server.stop()
        raise
    return server


def _settled(read, seconds, pause):
    """read() once two reads pause apart agree (a log is written a little
    after the event), or after seconds."""
    deadline, last = time.time() + seconds, None
    while True:
        now = read()
        if now == last or time.time() > deadline:
            return now
        last = now
        time.sleep(pause)


def template(name, **values):
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
