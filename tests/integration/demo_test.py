#!/usr/bin/env python3
"""scripts/demo.sh as a user runs it: on 127.0.0.1 only, its address shown
once the gateway answers, ordinary mail, a busy port reported in the
terminal's language, and Ctrl-C leaving nothing of its own and ending
nothing else."""
import os, re, select, shutil, signal, socket, subprocess, tempfile, time
import unittest

from gatewaytest import (  # noqa: E402
    BIN, DOVECOT, POSTFIX, ROOT, Browser, Gateway, file_bytes, free_port, listening_addresses,
    pop3_login, raw_request, ref_json, stop_process)

DEMO = os.path.join(ROOT, "scripts", "demo.sh")


class Demo:
    """demo.sh in a session of its own, as a terminal holds it, with a TMPDIR
    of its own so that whatever it leaves there is seen."""

    def __init__(self, port, **env):
        self.tmp = tempfile.mkdtemp(prefix="tarnbox-demo-test-")
        # The mail servers' users pass through it, as through /tmp.
        os.chmod(self.tmp, 0o755)
        e = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
        e.update(TMPDIR=self.tmp, DEMO_PORT=str(port), TARNBOX_BIN=BIN, LANG="C.UTF-8")
        e.update(env)
        self.proc = subprocess.Popen(["bash", DEMO], env=e, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True, bufsize=0)

    def wait_for(self, pattern, seconds=90):
        # Unbuffered: what select sees waiting is all there is.
        deadline, seen, out = time.time() + seconds, [], self.proc.stdout
        while select.select([out], [], [], max(0, deadline - time.time()))[0]:
            line = out.readline().decode("utf-8", "replace")
            if not line:
                break
            seen.append(line)
            m = re.search(pattern, line)
            if m:
                return m
        raise AssertionError(f"no {pattern!r} in {''.join(seen)!r}; stderr: {self.stderr()}")

    def stderr(self):
        return "(still running)" if self.proc.poll() is None else self.proc.stderr.read().decode(
            "utf-8", "replace")

    def ctrl_c(self, seconds=30):
        os.killpg(self.proc.pid, signal.SIGINT)
        return self.proc.wait(timeout=seconds)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        stop_process(self.proc)
        self.proc.stdout.close()
        self.proc.stderr.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


def processes_naming(text):
    """PIDs of the processes whose command line holds text."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            found += [int(pid)] if text.encode() in file_bytes(f"/proc/{pid}/cmdline") else []
        except OSError:
            pass
    return found


@unittest.skipUnless(os.path.exists(DOVECOT) and os.path.exists(POSTFIX),
                     "Dovecot or Postfix is missing: run scripts/install-mail-servers.sh")
class DemoScript(unittest.TestCase):
    def test_loopback_only_ordinary_mail_and_ctrl_c_cleans_up(self):
        # Another gateway that the demo must leave alone when it stops.
        other = Gateway(prefix="tarnbox-demo-other-", owner=self).start("--listen", "127.0.0.1")
        port = free_port()
        with Demo(port) as demo:
            demo.wait_for(re.escape(f"open http://127.0.0.1:{port}/"))
            # Shown only once the gateway takes connections: no retry here.
            self.assertTrue(raw_request(port, b"GET / HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.0 200"))
            m = demo.wait_for(r"POP3 127\.0\.0\.1:(\d+), SMTP 127\.0\.0\.1:(\d+)")
            pop3_port, smtp_port = int(m.group(1)), int(m.group(2))
            for p in (port, pop3_port, smtp_port):
                self.assertEqual(listening_addresses(p), ["127.0.0.1"], p)

            pop = pop3_login(pop3_port, "taro", "taro-pw")
            count = pop.stat()[0]
            self.assertGreaterEqual(count, 3)
            for n in range(1, count + 1):
                head = b"\n".join(pop.retr(n)[1]).split(b"\n\n", 1)[0]
                names = [line.split(b":", 1)[0].lower() for line in head.split(b"\n")
                         if line and line[:1] not in (b" ", b"\t")]
                self.assertLessEqual({b"date", b"from", b"to", b"subject", b"message-id"}, set(names), head)
                self.assertIn(b"<taro@test.example>", head)
                self.assertFalse([x for x in names if x.startswith(b"x-corpus")], head)
            pop.quit()

            scratch = [os.path.join(demo.tmp, n) for n in os.listdir(demo.tmp)]
            self.assertEqual(len(scratch), 1, scratch)
            self.assertTrue(processes_naming(scratch[0]))
            self.assertEqual(demo.ctrl_c(), 0, demo.stderr())
            self.assertEqual(os.listdir(demo.tmp), [])
            self.assertEqual(processes_naming(scratch[0]), [])
            for p in (port, pop3_port, smtp_port):
                self.assertEqual(listening_addresses(p), [], p)
            self.assertIsNone(other.proc.poll(), "the demo ended a gateway it did not start")

    def test_tls_demo_reads_over_pop3s_with_its_own_authority(self):
        port = free_port()
        with Demo(port, DEMO_TLS="1") as demo:
            m = demo.wait_for(r"POP3 127\.0\.0\.1:(\d+), SMTP 127\.0\.0\.1:(\d+) \(POP3S, STARTTLS \+ AUTH\)")
            page = Browser(port, "taro", "taro-pw").first
            self.assertEqual(page.status, b"HTTP/1.0 200 OK", page.raw[:200])
            self.assertGreaterEqual(len(re.findall(rb'name="delete_a\d+"', page.body)), 3,
                                    page.body[-800:])
            # Nothing but TLS answers on the POP3 port the gateway uses.
            with socket.create_connection(("127.0.0.1", int(m.group(1))), timeout=5) as s:
                s.settimeout(1)
                try:
                    self.assertFalse(s.recv(100).startswith(b"+OK"))
                except socket.timeout:
                    pass
            self.assertEqual(demo.ctrl_c(), 0, demo.stderr())

    def test_busy_port_says_so_in_the_terminal_language(self):
        with socket.create_server(("127.0.0.1", 0)) as holder:
            port = holder.getsockname()[1]
            for env, expected in ref_json("demo-busy-port")["cases"]:
                with Demo(port, **env) as demo:
                    self.assertEqual(demo.proc.wait(timeout=60), 1)
                    err = demo.stderr()
                    self.assertIn(expected, err, env)
                    self.assertIn(f"DEMO_PORT={port + 1} bash scripts/demo.sh", err)
                    self.assertEqual(os.listdir(demo.tmp), [])


if __name__ == "__main__": unittest.main(verbosity=2)
