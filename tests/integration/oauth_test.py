#!/usr/bin/env python3
"""OAuth2 (SASL XOAUTH2) logins through the running gateway against a
provider of the test's own over HTTP and HTTPS: it approves at once, checks
PKCE S256, and tells Dovecot (and through its SASL Postfix) whether a token
is live. Redirects are followed by hand."""
import base64, hashlib, json, os, pathlib, re, secrets, ssl, threading, unittest, urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from gatewaytest import (  # noqa: E402
    DONE, Browser, Certificates, Dovecot, Gateway, Postfix, World, assert_page, assert_ref,
    file_bytes, http, sjis, wait_for)

CLIENT_ID, CLIENT_SECRET, WORKER_TIMEOUT = "tarnbox-test-client", "s3cret-of-the-client", 8
CONNECTED = sjis("アカウントを連携しました。")
STATE_REFUSED = sjis("連携の要求が無効か、期限が切れています。")
LIST, SETTINGS = b"/mail/index.html", b"/mail/setup/index.html"
TEXT = b"sent with a token"



class Provider:
    """Codes, tokens and counters shared by the HTTP and HTTPS endpoints."""

    def __init__(self):
        self.lock, self.approve_as = threading.Lock(), None
        # code -> grant; token -> {user, active}; user -> count, expires_in
        self.codes, self.access, self.refresh, self.refresh_grants, self.lifetime = {}, {}, {}, {}, {}
        self.long_tokens = set()  # users whose access tokens need the continuation

    def tokens_for(self, user, with_refresh):
        # Long access tokens are past POP3's 255-octet command line and
        # Postfix's 2048-octet one.
        access = "at-" + secrets.token_urlsafe(1800 if user in self.long_tokens else 24)
        self.access[access] = {"user": user, "active": True}
        answer = {"access_token": access, "token_type": "Bearer",
                  "expires_in": self.lifetime.get(user, 3600)}
        if with_refresh:
            token = "rt-" + secrets.token_urlsafe(24)
            self.refresh[token] = {"user": user, "active": True}
            answer["refresh_token"] = token
        return answer

    def revoke(self, user):
        with self.lock:
            for entry in [*self.access.values(), *self.refresh.values()]:
                entry["active"] = entry["active"] and entry["user"] != user


PROVIDER = Provider()


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body=None, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        json_type = [("Content-Type", "application/json")] if data else []
        for k, v in [*headers, *json_type, ("Content-Length", str(len(data)))]:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path != "/authorize":
            return self.reply(404, {"error": "not_found"})
        # The URL's fields are the unit tests' (OAuthUrl); the challenge is
        # held against the verifier at the token endpoint.
        q = dict(urllib.parse.parse_qsl(url.query))
        code, target = secrets.token_urlsafe(16), q["redirect_uri"]
        with PROVIDER.lock:
            PROVIDER.codes[code] = {"user": PROVIDER.approve_as, "redirect_uri": target,
                                    "challenge": q["code_challenge"]}
        args = urllib.parse.urlencode({"code": code, "state": q["state"]})
        self.reply(302, None, [("Location", target + "?" + args)])

    def do_POST(self):
        n = int(self.headers.get("Content-Length", "0"))
        f = dict(urllib.parse.parse_qsl(self.rfile.read(n).decode()))
        if self.path == "/introspect":
            with PROVIDER.lock:
                entry = PROVIDER.access.get(f.get("token", ""), {"active": False})
            return self.reply(200, {"active": True, "username": entry["user"]} if entry["active"]
                              else {"active": False})
        if self.path != "/token":
            return self.reply(404, {"error": "not_found"})
        if f.get("client_id") != CLIENT_ID or f.get("client_secret") != CLIENT_SECRET:
            return self.reply(401, {"error": "invalid_client"})
        with PROVIDER.lock:
            if f.get("grant_type") == "authorization_code":
                grant = PROVIDER.codes.pop(f.get("code", ""), None)
                verifier = f.get("code_verifier", "").encode()
                challenge = base64.urlsafe_b64encode(
                    hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
                if (not grant or grant["challenge"] != challenge
                        or grant["redirect_uri"] != f.get("redirect_uri")):
                    return self.reply(400, {"error": "invalid_grant",
                                            "error_description": "code or verifier wrong"})
                return self.reply(200, PROVIDER.tokens_for(grant["user"], True))
            if f.get("grant_type") == "refresh_token":
                entry = PROVIDER.refresh.get(f.get("refresh_token", ""))
                if entry:
                    grants = PROVIDER.refresh_grants
                    grants[entry["user"]] = grants.get(entry["user"], 0) + 1
                if not entry or not entry["active"]:
                    return self.reply(400, {"error": "invalid_grant",
                                            "error_description": "Token has been revoked."})
                return self.reply(200, PROVIDER.tokens_for(entry["user"], False))
        return self.reply(400, {"error": "unsupported_grant_type"})


USERS = ("alice", "carol", "dave", "erin", "frank", "gina", "hank")


def redirect(answer):
    if not answer.status.startswith(b"HTTP/1.0 302"):
        raise AssertionError("no redirect: %r" % answer.raw[:800])
    return urllib.parse.urlsplit(answer.header(b"Location").decode())


def callback(path, query):
    """The provider's way back, taken without the login's cookie."""
    return http(WORLD["port"], b"GET", (path + "?" + query).encode())


class OAuthBrowser(Browser):
    def __init__(self, login, english=False):
        super().__init__(WORLD["port"], login, login + "-pw", english)

    def approved(self):
        """The settings link to the provider, which approves the login at once:
        the way back it gives, not yet taken."""
        page = self.page(SETTINGS)
        m = re.search(rb'href="(/mail/oauth/connect1[^"]*)"', page.body)
        if not m:
            raise AssertionError("no connect link: %r" % page.body[-800:])
        to = redirect(self.request(b"GET", m.group(1)))
        ctx = ssl.create_default_context(cafile=WORLD["certs"].authority_file()) if (
            to.scheme == "https") else None
        PROVIDER.approve_as = self.user
        back = redirect(http(to.port, b"GET", ("%s?%s" % (to.path, to.query)).encode(), ctx=ctx))
        assert back.port == WORLD["port"], back
        return back

    def connect(self):
        """The whole flow; returns the callback's page."""
        back = self.approved()
        return callback(back.path, back.query)


def build(world, scratch):
    certs = WORLD["certs"] = Certificates(os.path.join(scratch, "certs"))
    plain = WORLD["plain"] = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    secure = WORLD["secure"] = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*certs.server("127.0.0.1"))
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for server in (plain, secure):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    provider_url = "http://127.0.0.1:%d" % plain.server_port
    secure_url = "https://127.0.0.1:%d" % secure.server_port

    mail = os.path.join(scratch, "mail")
    cert = certs.server("127.0.0.1")
    smtp = WORLD["smtp"] = Postfix(mail, cert=cert)
    pop = WORLD["pop"] = Dovecot(mail, ssl="yes", cert=cert, auth_socket=smtp.auth_socket,
                                 introspection_url=provider_url + "/introspect")
    for login in USERS + ("plainuser",):
        pop.add_user(login, login + "-pw")
        smtp.add_user(login)
    for login in USERS:
        pop.deliver(login, b"From: x@test.example\nSubject: Token mail for %s\n\nhi\n"
                    % login.encode())
    pop.deliver("plainuser", b"From: x@test.example\nSubject: Password mail\n\nhi\n")
    pop.start()
    smtp.start()

    g = WORLD["gateway"] = Gateway(pop.port, smtp.port, prefix="tarnbox-oauth-home-", trust=certs)
    port = WORLD["port"] = g.port
    secret = os.path.join(scratch, "client-secret")
    pathlib.Path(secret).write_text(CLIENT_SECRET + "\n")
    g.run("settings", "set", "per_user_servers=1")
    callback = "http://127.0.0.1:%d/mail/oauth/callback" % port
    for name, base in (("test", provider_url), ("secure", secure_url)):
        g.run("oauth", "provider", name, "--client-id", CLIENT_ID, "--client-secret-file",
                secret, "--auth-url", base + "/authorize", "--token-url", base + "/token",
                "--scope", "mail offline", "--redirect-url", callback)
    for login in USERS + ("plainuser",):
        g.add_user(login, login + "-pw", "--pop3-port", str(pop.port), "--smtp-server",
                   "127.0.0.1", "--smtp-port", str(smtp.submission_port), "--smtp-security",
                   "starttls", *(["--smtp-auth", "pop3"] if login == "plainuser" else [
                       "--oauth", "secure" if login == "carol" else "test"]))
    g.start("--worker-timeout", str(WORKER_TIMEOUT))


WORLD = World("tarnbox-oauth-")
setUpModule, tearDownModule = WORLD.hooks(build)


class Connecting(unittest.TestCase):
    def test_settings_link_to_stored_tokens_then_list_over_xoauth2(self):
        b = OAuthBrowser("alice")
        # Before the account is connected the list names why it cannot log in.
        self.assertIn(b"not connected", b.first.body)
        self.assertIn(sjis("未連携"), b.page(SETTINGS).body)
        # The authorization URL's fields are the unit tests' (OAuthUrl).
        page = b.connect()
        self.assertEqual(page.status, b"HTTP/1.0 200 OK")
        self.assertIn(CONNECTED, page.body, page.body[:800])
        # The way back keeps the login.
        self.assertIn(b"/mail/setup/index.html" + b.query, page.body)
        self.assertIn(sjis("連携済み"), b.page(SETTINGS).body)
        shown = WORLD["gateway"].run("users", "show", "alice").stdout
        self.assertRegex(shown, r"oauth.*test.*連携済み")
        self.assertNotIn(CLIENT_SECRET, WORLD["gateway"].run("oauth", "show").stdout)

        listed = b.page(LIST)
        self.assertIn(b"Token mail for alice", listed.body, listed.body[:1500])
        self.assertIn(("alice", "XOAUTH2"), WORLD["pop"].logins("alice"))
        self.assertEqual(PROVIDER.refresh_grants.get("alice", 0), 0)

    def test_another_provider_drops_the_tokens(self):
        b = OAuthBrowser("hank")
        self.assertIn(CONNECTED, b.connect().body)
        self.assertIn(b"Token mail for hank", b.page(LIST).body)
        # Carried out by the running gateway.
        WORLD["gateway"].run("users", "change", "hank", "--oauth", "secure")
        self.assertIn(sjis("未連携"), b.page(SETTINGS).body)
        self.assertIn(b"not connected", b.page(LIST).body)
        self.assertEqual(PROVIDER.refresh_grants.get("hank", 0), 0)

    def test_token_endpoint_over_https_trusting_the_home_authority(self):
        b = OAuthBrowser("carol", english=True)
        self.assertIn(b"Connect account", b.page(SETTINGS).body)
        page = b.connect()
        self.assertIn(b"The account is connected.", page.body, page.body[:800])
        self.assertIn(b"Token mail for carol", b.page(LIST).body)

    def test_long_token_goes_on_the_continuation_line(self):
        PROVIDER.long_tokens.add("gina")
        b = OAuthBrowser("gina")
        self.assertIn(CONNECTED, b.connect().body)
        listed = b.page(LIST)
        self.assertIn(b"Token mail for gina", listed.body, listed.body[:1500])
        self.assertIn(("gina", "XOAUTH2"), WORLD["pop"].logins("gina"))
        answer = b.send(b"gina@test.example", b"Sent by gina with a long token", TEXT)
        self.assertIn(DONE, answer.body, answer.body[:1500])
        self.assertIn("sasl_method=XOAUTH2, sasl_username=gina", WORLD["smtp"].log_text())

    def test_a_state_that_does_not_match_or_outlived_its_login_is_refused(self):
        for login, forged in (("dave", True), ("frank", False)):
            with self.subTest(login):
                b = OAuthBrowser(login)
                back = b.approved()
                q = dict(urllib.parse.parse_qsl(back.query))
                if forged:
                    q["state"] = "x" + q["state"]
                else:
                    b.page(b"/mail/logout/index.html")
                page = callback(back.path, urllib.parse.urlencode(q))
                self.assertIn(STATE_REFUSED, page.body, page.body[:800])
                self.assertNotIn(CONNECTED, page.body)
        # No state, a state taken twice and the real one after a forged one:
        # OAuthState.TakenOnceAndOnlyWhileYoung.


class Exchanges(unittest.TestCase):
    def test_expired_access_token_is_renewed_before_the_exchange(self):
        PROVIDER.lifetime["erin"] = 60  # within the two minutes
        b = OAuthBrowser("erin")
        self.assertIn(CONNECTED, b.connect().body)
        PROVIDER.lifetime["erin"] = 3600
        with PROVIDER.lock:
            first = [t for t, e in PROVIDER.access.items() if e["user"] == "erin"]
            # Only a renewed token can log in now.
            for t in first:
                PROVIDER.access[t]["active"] = False
        listed = b.page(LIST)
        self.assertIn(b"Token mail for erin", listed.body, listed.body[:1500])
        self.assertEqual(PROVIDER.refresh_grants.get("erin"), 1)
        # The renewed token is good for an hour: the next exchanges keep it,
        # sending over SMTP XOAUTH2 too.
        answer = b.send(b"erin@test.example", b"Sent by erin with a token", TEXT)
        self.assertIn(DONE, answer.body, answer.body[:1500])
        self.assertTrue(wait_for(lambda: any(b"Sent by erin with a token" in file_bytes(p)
                                             for p in WORLD["pop"].boxes.messages("erin"))))
        self.assertIn("sasl_method=XOAUTH2, sasl_username=erin", WORLD["smtp"].log_text())
        b.page(LIST)
        self.assertEqual(PROVIDER.refresh_grants.get("erin"), 1)

    def test_revoked_token_gives_the_error_page_with_the_servers_text(self):
        b = OAuthBrowser("dave")
        if sjis("連携済み") not in b.page(SETTINGS).body:
            self.assertIn(CONNECTED, b.connect().body)
        self.assertIn(b"Token mail for dave", b.page(LIST).body)
        PROVIDER.revoke("dave")
        page = b.page(LIST)
        self.assertLess(page.seconds, WORKER_TIMEOUT)
        # The server's text, and the JSON of the challenge it refused the
        # token with, on the list page and after the SMTP refusal.
        assert_page(self, "oauth-revoked-list", page.body, b.query)
        assert_ref(self, "oauth-revoked-send", b.send(b"dave@test.example", b"never sent", TEXT).body, query=b.query)

    def test_revoked_refresh_token_names_the_token_endpoint(self):
        b = OAuthBrowser("frank")
        PROVIDER.lifetime["frank"] = 30
        self.assertIn(CONNECTED, b.connect().body)
        PROVIDER.revoke("frank")
        page = b.page(LIST)
        self.assertIn(b"invalid_grant: Token has been revoked.", page.body, page.body[:1500])
        self.assertEqual(WORLD["pop"].logins("frank"), [])

    def test_password_logins_are_untouched(self):
        b = OAuthBrowser("plainuser")
        self.assertIn(b"Password mail", b.first.body)
        self.assertIn(("plainuser", "PLAIN"), WORLD["pop"].logins("plainuser"))
        self.assertNotIn(b"oauth/connect", b.page(SETTINGS).body)


if __name__ == "__main__": unittest.main(verbosity=2)
