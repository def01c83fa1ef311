"""What the load runs share: real Dovecot and Postfix on 127.0.0.1, a
gateway on a scratch home with many users (each its own mailbox of a few
messages), and a once-a-second sampler of the gateway's resident memory."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mailservers  # noqa: E402

DOMAIN = "test.example"
# Dovecot's own ceilings (a hundred processes, ten sessions of one user from
# one address) are below what a crowd of tabs opens at once through the one
# gateway address; the run is of the gateway, not of them.
DOVECOT_LOAD_LIMITS = """default_process_limit = 1000
default_client_limit = 10000
service pop3-login {
  service_count = 0
  process_min_avail = 2
}
protocol pop3 {
  mail_max_userip_connections = 10000
}
"""


def message(user, n):
    subject = "週次報告 %d / weekly report %d" % (n, n)
    body = ("%s さん\n\n今週の進捗をお知らせします。\n" % user) + "".join(
        "項目 %d: 順調です。 line %d of the report\n" % (i, i) for i in range(20))
    return ("From: Reporter <reporter@%s>\nTo: %s@%s\nSubject: =?UTF-8?B?%s?=\n"
            "Date: Mon, 7 Dec 2026 09:%02d:00 +0900\nMIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n%s"
            % (DOMAIN, user, DOMAIN, _b64(subject), n % 60, body)).encode("utf-8")


def _b64(text):
    import base64
    return base64.b64encode(text.encode("utf-8")).decode("ascii")


class World:
    """Mail servers and a gateway; stop() ends everything it started."""

    def __init__(self, bin_path, serve_args=()):
        self.bin = os.path.abspath(bin_path)
        self.scratch = tempfile.mkdtemp(prefix="tarnbox-load-")
        os.chmod(self.scratch, 0o755)
        self.serve_args = list(serve_args)
        self.pop = self.smtp = self.gateway = None
        self.home = os.path.join(self.scratch, "home")
        os.mkdir(self.home, 0o700)
        self.port = mailservers.free_port()

    def tarnbox(self, *args):
        r = subprocess.run([self.bin, "--home", self.home, *args], capture_output=True,
                           text=True, stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            raise RuntimeError("tarnbox %s: %s" % (" ".join(args), r.stderr))
        return r.stdout

    def start(self, users, messages):
        """users: [(login, password)], each given `messages` messages."""
        mail = os.path.join(self.scratch, "mail")
        self.pop = mailservers.Dovecot(mail, apop=False, extra_config=DOVECOT_LOAD_LIMITS).start()
        self.smtp = mailservers.Postfix(mail, domain=DOMAIN).start()
        self.tarnbox("init", "--http-port", str(self.port), "--smtp-server", "127.0.0.1",
                     "--smtp-port", str(self.smtp.port), "--pop3-server", "127.0.0.1",
                     "--pop3-port", str(self.pop.port))
        for login, password in users:
            self.pop.add_user(login, password)
            self.smtp.users.append(login)
            self.pop.boxes.create(login)
            for n in range(messages):
                self.pop.deliver(login, message(login, n + 1))
            self.tarnbox("users", "add", "--name", "Load " + login, "--mail-address",
                         "%s@%s" % (login, DOMAIN), "--id", login, "--password", password)
        self.smtp._write_vmailbox()
        self.smtp._postfix("reload")
        return self.start_gateway()

    def start_gateway(self):
        self.gateway = subprocess.Popen([self.bin, "--home", self.home, "serve", *self.serve_args],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.scratch, "serve.log"), "ab"))
        deadline = time.time() + 15
        while not mailservers.port_answers(self.port):
            if self.gateway.poll() is not None or time.time() > deadline:
                raise RuntimeError("gateway did not start")
            time.sleep(0.05)
        return self

    def stop(self):
        mailservers.end_process(self.gateway)
        for server in (self.smtp, self.pop):
            if server:
                server.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class RssSampler(threading.Thread):
    """The gateway's resident set, once a second, until stop()."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid = pid
        self.samples = [rss_kb(pid)]
        self._done = threading.Event()

    def run(self):
        while not self._done.wait(1.0):
            self.samples.append(rss_kb(self.pid))

    def stop(self):
        self._done.set()
        self.join()
        self.samples.append(rss_kb(self.pid))

    def summary(self):
        s = self.samples
        return "rss_kb start=%d middle=%d peak=%d end=%d samples=%d" % (
            s[0], s[len(s) // 2], max(s), s[-1], len(s))


def percentile(sorted_values, p):
    if not sorted_values:
        return 0.0
    k = min(len(sorted_values) - 1, int(round(p / 100.0 * (len(sorted_values) - 1))))
    return sorted_values[k]
