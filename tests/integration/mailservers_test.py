#!/usr/bin/env python3
"""The Dovecot of the harness serving IMAP beside POP3: one store, so a
benchmark comparing a POP3 client with an IMAP one reads the same mail."""
import imaplib, socket, sys, shutil, tempfile, unittest

sys.argv[1:] = []  # the gateway binary that ctest passes is not needed here
import mailservers  # noqa: E402

JAPANESE = ("Subject: =?ISO-2022-JP?B?GyRCMnFEazw8JE5KUTk5GyhC?=\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\n\n").encode() \
    + "会議室の変更\n".encode("iso2022_jp")


def pop3(port, *commands):
    """Logs in as alice, runs commands, quits; the reply lines of each."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        f = s.makefile("rb")
        f.readline()
        out = []
        for c in (b"USER alice", b"PASS alicepw") + commands + (b"QUIT",):
            s.sendall(c + b"\r\n")
            lines = [f.readline()]
            if c.startswith(b"RETR"):
                while lines[-1] != b".\r\n":
                    lines.append(f.readline())
            out.append(lines)
        return out


class ImapBesidePop3(unittest.TestCase):
    def test_both_protocols_read_one_store(self):
        scratch = tempfile.mkdtemp(prefix="tarnbox-imap-")
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        pop = mailservers.Dovecot(scratch, apop=False, imap=True).start()
        self.addCleanup(pop.stop)
        pop.add_user("alice", "alicepw")
        pop.deliver("alice", b"Subject: one\n\nfirst\n")
        pop.deliver("alice", JAPANESE)
        pop.deliver("alice", b"Subject: three\n\n.dotted\n")
        retr = pop3(pop.port, b"RETR 2")[2]
        imap = imaplib.IMAP4("127.0.0.1", pop.imap_port)
        imap.login("alice", "alicepw")
        self.assertEqual(imap.select("INBOX"), ("OK", [b"3"]))
        _, data = imap.fetch("2", "(RFC822)")
        self.assertEqual(data[0][1], b"".join(retr[1:-1]))
        # A deletion over POP3 is seen over IMAP: not a copy.
        self.assertTrue(pop3(pop.port, b"DELE 1")[2][0].startswith(b"+OK"))
        imap.noop()
        self.assertEqual(imap.select("INBOX"), ("OK", [b"2"]))
        imap.logout()


if __name__ == "__main__": unittest.main()
