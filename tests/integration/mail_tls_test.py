#!/usr/bin/env python3
"""POP3 and SMTP over TLS through the running gateway against Dovecot and
Postfix with certificates made for the run (trusted through HOME/mail-ca.pem
only): STLS, POP3S, STARTTLS and SMTPS with AUTH, bad certificates, servers
without TLS, and self-registration over STLS. What crossed the wire is read
in the servers' logs and the delivered bytes."""
import os, unittest, urllib.parse

from gatewaytest import (  # noqa: E402
    DONE, LIST_TIME, Certificates as Authority, Dovecot, Gateway, Postfix, ScriptedServer,
    Upgrade, World, assert_page, assert_page_ends, assert_ref, file_bytes, http, ref_json,
    wait_for)

WORKER_TIMEOUT = 4

TABLES = ref_json("mail-tls")


# login -> its password at the gateway, the servers (keys of WORLD and which
# of their ports) it reaches and its options, each after these defaults.
DEFAULTS = ["--pop3-security", "none", "--smtp-security", "none", "--smtp-auth", "none",
            "--verify", "on"]
USERS = {login: {"password": login + "-pw", "pop3": ["main", "port"], "smtp": ["smtp", "port"],
                 "pop3_name": "127.0.0.1", "options": [], **u} for login, u in TABLES["users"]}


def message(subject):
    return (b"From: Sender <sender@test.example>\nSubject: %s\nDate: Mon, 1 Jan 2024 09:00:00 +0900\n"
            b"\nbody of %s\n" % (subject, subject))


# Many TLS records, more than one read of the line buffer each.
LARGE = message(b"Large message") + b"".join(b"line %05d of a long message\n" % n
                                             for n in range(12000))


def upgrade_server(kind, cert=None):
    if kind == "pop3":
        return ScriptedServer((b"+OK ready\r\n", [b"+OK\r\nUSER\r\nSTLS\r\n.\r\n",
                                                 Upgrade(b"+OK begin TLS\r\n", cert)]))
    return ScriptedServer((b"220 upgrade.test ESMTP\r\n", [
        b"250-upgrade.test\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n",
        Upgrade(b"220 go ahead\r\n", cert)]))


def build(world, scratch):
    certs = WORLD["certs"] = Authority(os.path.join(scratch, "certs"))
    good = certs.server("127.0.0.1", "::1")
    main = os.path.join(scratch, "main")
    smtp = WORLD["smtp"] = Postfix(main, cert=good, smtps_mechanisms="login")
    pops = {"main": Dovecot(main, ssl="yes", cert=good, auth_socket=smtp.auth_socket,
                            addresses=("127.0.0.1", "::1")),
            "plain": Dovecot(os.path.join(scratch, "plain"))}
    for name, cert in (("expired", certs.server(expired=True)),
                       ("wrong-name", certs.server("127.0.0.2")),
                       ("untrusted", certs.server(trusted=False))):
        pops[name] = Dovecot(os.path.join(scratch, name), ssl="yes", cert=cert)
    for key, pop in pops.items():
        WORLD[key] = pop
        for login in USERS:
            # The servers know every user by the gateway's login name; the
            # one with a wrong password at the gateway keeps its own here.
            pop.add_user(login, login + "-pw")
        pop.start()
    for login in USERS:
        smtp.add_user(login)
    for login in TABLES["with_mail"]:
        box = WORLD[USERS[login]["pop3"][0]]
        for n in (1, 2):
            box.deliver(login, message(b"TLS message %d for %s" % (n, login.encode())))
    for login in ("pop3s", "stls"):
        WORLD["main"].deliver(login, LARGE)
    smtp.start()
    WORLD["silent"] = ScriptedServer()
    WORLD["pop3-broken-upgrade"] = upgrade_server("pop3")
    WORLD["smtp-broken-upgrade"] = upgrade_server("smtp")
    WORLD["smtp-expired-upgrade"] = upgrade_server("smtp", certs.server(expired=True))
    start_gateway([["set", "per_user_servers=1", "apop_changeable=1"]], [(login, [
        "--pop3-server", u["pop3_name"], "--smtp-server", "127.0.0.1",
        "--pop3-port", str(getattr(WORLD[u["pop3"][0]], u["pop3"][1])),
        "--smtp-port", str(getattr(WORLD[u["smtp"][0]], u["smtp"][1])), *DEFAULTS, *u["options"]])
        for login, u in USERS.items()])
    pop = WORLD["registration-pop"] = Dovecot(os.path.join(scratch, "registration"), ssl="yes",
                                              cert=good).start()
    for login in ("hanako", "jiro"):
        pop.add_user(login, login + "-pw")
    g = WORLD["registration"] = Gateway(pop.port, prefix="tarnbox-register-", trust=certs)
    # STLS on the plain port: the check goes the way every later login will.
    g.run("settings", "server", "browser_registration=on", "pop3_security=stls",
          "pop3_port=%d" % pop.port)
    g.start("--worker-timeout", "5")


def start_gateway(settings, users):
    g = Gateway(WORLD["main"].port, WORLD["smtp"].port, prefix="tarnbox-tls-", trust=WORLD["certs"])
    WORLD.setdefault("gateways", []).append(g)
    for command in settings:
        g.run("settings", *command)
    for login, options in users:
        g.add_user(login, USERS[login]["password"], *options)
    return g.start("--worker-timeout", str(WORKER_TIMEOUT))


def browser(login, english=False, gateway=None):
    return (gateway or WORLD["gateways"][0]).browser(login, english=english)


WORLD = World("tarnbox-tls-mail-")
setUpModule, tearDownModule = WORLD.hooks(build)


class Registration(unittest.TestCase):
    def test_an_account_only_for_a_login_the_server_takes_over_stls(self):
        g, pop = WORLD["registration"], WORLD["registration-pop"]
        for login, password, away, said, made in (
                ("hanako", "guessed", False,
                 b"The POP3 server did not accept this user name and password.", False),
                ("hanako", "hanako-pw", True, b"The POP3 server could not be reached", False),
                ("jiro", "jiro-pw", False, b"Registration completed.", True)):
            with self.subTest(login, away=away):
                fields = {"user_name": "Hanako " + login, "user_id": login,
                          "user_mail_address": login + "@test.example", "user_pass1": password,
                          "user_pass2": password, "user_column_count": "80",
                          "user_row_count": "10", "user_upload_no": "1"}
                if away:
                    pop.stop()
                try:
                    answer = http(g.port, b"POST", b"/mail/new/index.html?lang=eng",
                                  urllib.parse.urlencode(fields).encode()).raw
                finally:
                    if away:
                        pop.start()
                self.assertIn(said, answer, answer[-1500:])
                self.assertEqual(g.run("users", "show", login, check=False).returncode == 0, made)
                if not made:
                    self.assertIn(b"name=\"user_id\"", answer, "the form is shown again")
        lines = pop.login_lines("jiro")
        self.assertTrue(lines and ", TLS," in lines[-1], pop.log_text()[-1500:])


class SecurePop3(unittest.TestCase):
    def test_pop3s_stls_and_ipv6_literals(self):
        for login, method in TABLES["secure logins"]:
            with self.subTest(login):
                pop = WORLD[USERS[login]["pop3"][0]]
                page = browser(login).first
                self.assertEqual(page.status, b"HTTP/1.0 200 OK", page.raw[:600])
                for n in (1, 2):
                    self.assertIn(b"TLS message %d for %s" % (n, login.encode()), page.body)
                assert_page_ends(self, page.body)
                lines = pop.login_lines(login)
                self.assertTrue(lines, pop.log_text()[-1500:])
                self.assertIn("method=%s," % method, lines[-1])
                self.assertIn(", TLS,", lines[-1])
                # An IPv6 literal is checked as an address.
                if "v6" in login:
                    self.assertIn("rip=::1,", lines[-1])

    def test_large_message_read_whole(self):
        for login in ("pop3s", "stls"):
            with self.subTest(login):
                b = browser(login)
                self.assertIn(b"Large message", b.first.body)
                page = b.page(b"/mail/a0003.html")
                self.assertEqual(page.status, b"HTTP/1.0 200 OK", page.raw[:600])
                text = page.body.replace(b"\r\n", b"\n")
                self.assertIn(b"\nline 00000 of a long message\n", text)
                self.assertIn(b"\nline 11999 of a long message\n", text)
                self.assertEqual(text.count(b" of a long message\n"), 12000)
                assert_page_ends(self, page.body)
                done = WORLD["main"].logouts(login)[-1]
                self.assertEqual((done["retr_count"], done["reason"]), (1, "Disconnected: Logged out"))

    def test_delete_over_stls(self):
        b = browser("stls-deleter")
        list_time = LIST_TIME.search(b.first.body).group(1)
        page = b.page(b"/mail/index.html", b"delete_a1=on&list_time=" + list_time)
        self.assertNotIn(b"TLS message 1 for", page.body, page.body[:1500])
        self.assertIn(b"TLS message 2 for stls-deleter", page.body)
        done = WORLD["main"].logouts("stls-deleter")[-1]
        self.assertEqual(done["deleted_count"], 1, done)
        self.assertEqual(len(WORLD["main"].boxes.messages("stls-deleter")), 1)

    def test_stls_not_announced_sends_no_password(self):
        pop = WORLD["plain"]
        before = len(pop.log_text())
        b = browser("no-stls")
        assert_page(self, "tls-no-stls", b.first.body, b.query)
        self.assertTrue(wait_for(lambda: "no auth attempts" in pop.log_text()[before:]),
                        pop.log_text()[before:])
        self.assertEqual(pop.logins(), [])
        self.assertNotIn("auth failed", pop.log_text())


# Spans many TLS records on the way out.
LONG_TEXT = b"\r\n".join(b"line %04d of a long text sent over TLS" % n for n in range(2500))


class SecureSmtp(unittest.TestCase):
    def sent(self, login, subject, text=b"secure text"):
        b = browser(login)
        return b, b.send(b"submit@test.example", subject, text)

    def delivered(self, subject):
        def find():
            return next((data for data in map(file_bytes, WORLD["smtp"].boxes.messages("submit"))
                         if b"Subject: " + subject in data), None)
        wait_for(lambda: find() is not None)
        return find()

    def test_authenticated_over_starttls_and_smtps(self):
        # own-login's mailbox login is not the one the SMTP server takes.
        for login, method, sasl_user in (("submit", "PLAIN", "submit"), ("smtps", "LOGIN", "smtps"),
                                         ("own-login", "PLAIN", "submit")):
            with self.subTest(login):
                subject = b"Sent by " + login.encode()
                _, answer = self.sent(login, subject, LONG_TEXT)
                self.assertIn(DONE, answer.body, answer.raw[:1500])
                data = self.delivered(subject)
                self.assertIsNotNone(data, WORLD["smtp"].log_text()[-2000:])
                # Postfix notes the TLS session in its Received field.
                self.assertRegex(data, rb"Received: from [^\r\n]*\r?\n\s+\(using TLSv1\.[23] ")
                self.assertIn(b"\n\n" + LONG_TEXT.replace(b"\r\n", b"\n"),
                              data.replace(b"\r\n", b"\n"))
                self.assertIn("sasl_method=%s, sasl_username=%s" % (method, sasl_user),
                              WORLD["smtp"].log_text())
        self.assertNotIn("sasl_username=own-login", WORLD["smtp"].log_text())

    def test_wrong_password_is_refused_and_nothing_delivered(self):
        b, answer = self.sent("bad-auth", b"Never delivered")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
        # Postfix's refusal stands on the page.
        assert_ref(self, "smtp-auth-refused", answer.body, query=b.query)
        self.assertIn("authentication failed", WORLD["smtp"].log_text())
        self.assertIsNone(self.delivered(b"Never delivered"))

    def test_starttls_not_offered(self):
        b, answer = self.sent("no-starttls", b"Not offered")
        # After the greeting the page goes on as a refused command's would,
        # without a frame of its own at the top.
        assert_ref(self, "smtp-starttls-not-offered", answer.body, query=b.query)
        self.assertNotIn("sasl_username=no-starttls", WORLD["smtp"].log_text())


class BasicSettingsForEverybody(unittest.TestCase):
    def test_security_of_the_basic_settings_with_their_ports(self):
        smtp = WORLD["smtp"]
        g = start_gateway(
            [["server", "pop3_security=stls", "smtp_security=tls", "smtp_auth=pop3",
              "pop3_port=%d" % WORLD["main"].port, "smtp_port=%d" % smtp.smtps_port]],
            [("by-default", [])])
        # The authorities were read at the start; the file may go now.
        os.remove(os.path.join(g.home, "mail-ca.pem"))
        b = browser("by-default", gateway=g)
        self.assertIn(b"TLS message 2 for by-default", b.first.body, b.first.body[:1500])
        self.assertIn(", TLS,", WORLD["main"].login_lines("by-default")[-1])
        answer = b.send(b"submit@test.example", b"Sent by default", b"x")
        self.assertIn(DONE, answer.body, answer.raw[:1500])
        self.assertTrue(wait_for(lambda: "sasl_method=LOGIN, sasl_username=by-default"
                                 in smtp.log_text()), smtp.log_text()[-1500:])


class FailurePages(unittest.TestCase):
    """Bad certificates, plain or silent servers on the TLS port (a plain one
    fails at once, a silent one after the worker time-out), and servers that
    agree to STLS or STARTTLS and then break the handshake or show a bad
    certificate: the page names the failure, and nothing of the login or the
    message reaches the server."""

    def test_each_failure_named_on_its_page(self):
        for login, protocol, languages, late, server, words in TABLES["failure pages"]:
            for english in languages:
                with self.subTest(login, english=english):
                    b = browser(login, english)
                    page = b.first if protocol == "POP3" else b.send(b"submit@test.example", b"x", b"x")
                    assert_page(self, "tls-" + login + "-en" * english, page.body, b.query)
                    if late is not None:
                        self.assertLess(page.seconds, WORKER_TIMEOUT + late)
            heard = WORLD[server] if server else None
            if words is not None:
                self.assertEqual([c.split(b" ")[0].upper() for c in heard.commands],
                                 [w.encode() for w in words], heard.commands)
                self.assertFalse([h for h in heard.commands if b"-pw" in h], heard.commands)
            elif heard:
                self.assertEqual(heard.logins(), [], login)


if __name__ == "__main__": unittest.main(verbosity=2)
