#!/usr/bin/env python3
"""Administration commands against a running gateway: they go through the
gateway's control socket and are in effect for the very next request."""
import base64, os, pathlib, pty, select, shutil, socket, stat, subprocess, sys, time, unittest

from gatewaytest import (  # noqa: E402
    BIN, Gateway, free_port, http, port_answers as answers, ref_json)


def basic(port, path, user, password):
    token = base64.b64encode(("%s:%s" % (user, password)).encode())
    headers = b"User-Agent: Mozilla/5.0\r\nAuthorization: Basic %s\r\n" % token
    return http(port, b"GET", path, headers=headers).raw


def logs_in(port, user, password):
    return b'name="send_to"' in basic(port, b"/mail/write/index.html", user, password)


class RunningGateway(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.g = Gateway(prefix="tarnbox-control-", owner=cls).start(stderr=subprocess.PIPE)
        cls.home, cls.port, cls.proc = cls.g.home, cls.g.port, cls.g.proc

    def test_1_users_added_changed_and_deleted_hold_at_once(self):
        for args, stdin, logins in ref_json("control-terminal")["steps"]:
            self.g.run(*args, stdin=stdin)
            for user, password, holds in logins:
                self.assertEqual(logs_in(self.port, user, password), holds, (args, user, password))
        self.assertIn("bob", self.g.run("users", "list").stdout)

    def test_2_shared_book_reaches_the_compose_page(self):
        self.g.run("shared-book", "add", "--name", "Ken", "--mail-address", "ken@example.jp")
        page = basic(self.port, b"/mail/write/index.html", "bob", "bob-pw")
        self.assertIn(b"<option>Ken&lt;ken@example.jp&gt;", page)

    def test_3_port_moves_or_stays(self):
        with socket.create_server(("0.0.0.0", 0)) as busy:
            r = self.g.run("settings", "set", "http_port=%d" % busy.getsockname()[1], check=False)
            self.assertEqual(r.returncode, 1)
            self.assertIn("TCP/IP ポート番号が使用されています。", r.stderr)
            self.assertTrue(answers(self.port))
            shown = self.g.run("settings", "show").stdout
            self.assertIn("http_port=%d\n" % self.port, shown)
        # The server page moves it too, and a refused value of the same page
        # leaves the listener where it is.
        new = free_port()
        r = self.g.run("settings", "server", "http_port=%d" % new, "log_size_kb=30001", check=False)
        self.assertIn("送信ログサイズの上限値が大きすぎます。", r.stderr)
        self.assertTrue(answers(self.port))
        # A request the old listener accepted, finished after the move, is
        # still answered in full.
        with socket.create_connection(("127.0.0.1", self.port), timeout=15) as pending:
            pending.sendall(b"GET / HTTP/1.0\r\nUser-Agent: Mozilla/5.0\r\n")
            time.sleep(0.2)
            self.g.run("settings", "server", "http_port=%d" % new)
            pending.sendall(b"\r\n")
            reply = pending.makefile("rb").read()
        self.assertTrue(reply.startswith(b"HTTP/1.0 200 OK\r\n"), reply[:200])
        self.assertTrue(reply.rstrip().endswith(b"</html>"), reply[-200:])
        self.assertTrue(answers(new))
        self.assertFalse(answers(self.port))
        type(self).port = new
        page = self.g.run("settings", "server").stdout
        self.assertIn("http_port=%d " % new, page)

    def test_3c_passwords_off_the_command_line(self):
        secret = os.path.join(self.home, "dave-password")
        pathlib.Path(secret).write_text("dave-file\r\n")
        self.g.run("users", "change", "dave", "--password-file", secret)
        self.assertTrue(logs_in(self.port, "dave", "dave-file"))

        # On a terminal: asked twice without echo, a mismatch said and asked
        # again; three mismatches change nothing; a new user without a
        # password option is asked for one.
        # tarnbox on a terminal of its own types the next reply at each prompt
        # (output ending in ": ").
        for args, replies, status, texts, user, password in ref_json("control-terminal")["cases"]:
            pid, fd = pty.fork()
            if pid == 0:
                os.execv(BIN, [BIN, "--home", self.home, *args])
            shown = b""
            deadline = time.time() + 20
            try:
                while time.time() < deadline and select.select([fd], [], [],
                                                               max(0, deadline - time.time()))[0]:
                    try:
                        chunk = os.read(fd, 4096)
                    except OSError:  # the terminal closed with the command
                        chunk = b""
                    if not chunk:
                        break
                    shown += chunk
                    if replies and shown.endswith(b": "):
                        os.write(fd, replies.pop(0).encode() + b"\n")
            finally:
                # Closing the terminal hangs up on a command still asking
                # (given too few replies).
                os.close(fd)
                got = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
            shown = shown.decode(errors="replace")
            self.assertEqual(got, status, shown)
            for text in texts:
                self.assertIn(text, shown)
            self.assertNotIn("typed", shown)
            self.assertTrue(logs_in(self.port, user, password))

        # A new POP3 user name is the new login name at once.
        self.g.run("users", "change", "dave", "--id", "david", "--cc", "on")
        self.assertTrue(logs_in(self.port, "david", "typed-3"))
        self.assertFalse(logs_in(self.port, "dave", "typed-3"))
        shown = self.g.run("users", "show", "david").stdout
        self.assertIn("id=david ", shown)
        self.assertIn("cc=on ", shown)

    def test_4_socket_is_the_owners_only(self):
        path = os.path.join(self.home, "tarnbox.sock")
        mode = stat.S_IMODE(os.stat(path).st_mode)
        self.assertEqual(mode, 0o600)
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to try another user")
        probe = ("import socket; s = socket.socket(socket.AF_UNIX); s.connect(%r)" % path)
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            sys.executable, "-c", probe], capture_output=True, timeout=30)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"PermissionError", r.stderr)

    def test_5_admin_password_then_the_gate(self):
        self.assertIn("パスワードを設定しました。",
                      self.g.run("admin-password", stdin="Adm-1\nAdm-1\n").stdout)
        self.assertNotEqual(self.g.run("users", "list", check=False).returncode, 0)
        secret = os.path.join(self.home, "secret")
        pathlib.Path(secret).write_text("Adm-1\n")
        self.g.run("--admin-password-file", secret, "users", "list")

    def test_6_stop(self):
        secret = os.path.join(self.home, "secret")
        self.g.run("--admin-password-file", secret, "stop")
        self.assertEqual(self.proc.wait(timeout=15), 0)
        self.assertFalse(os.path.exists(os.path.join(self.home, "tarnbox.sock")))
        r = self.g.run("--admin-password-file", secret, "stop", check=False)
        self.assertEqual(r.returncode, 1)


if __name__ == "__main__": unittest.main()
