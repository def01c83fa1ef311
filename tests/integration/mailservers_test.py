#!/usr/bin/env python3
"""The Dovecot of the harness serving IMAP beside POP3: one store, so a
benchmark comparing a POP3 client with an IMAP one reads the same mail."""
import imaplib, os, sys, shutil, tempfile, unittest

sys.argv[1:] = []  # the gateway binary that ctest passes is not needed here
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts"))
import mailservers  # noqa: E402

JAPANESE = ("Subject: =?ISO-2022-JP?B?GyRCMnFEazw8JE5KUTk5GyhC?=\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\n\n").encode() \
    + "会議室の変更\n".encode("iso2022_jp")


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
        client = mailservers.pop3_login(pop.port, "alice", "alicepw")
        retr = b"".join(line + b"\r\n" for line in client.retr(2)[1])
        client.quit()
        imap = imaplib.IMAP4("127.0.0.1", pop.imap_port)
        imap.login("alice", "alicepw")
        self.assertEqual(imap.select("INBOX"), ("OK", [b"3"]))
        _, data = imap.fetch("2", "(RFC822)")
        self.assertEqual(data[0][1], retr)
        # A deletion over POP3 is seen over IMAP: not a copy.
        client = mailservers.pop3_login(pop.port, "alice", "alicepw")
        self.assertTrue(client.dele(1).startswith(b"+OK"))
        client.quit()
        imap.noop()
        self.assertEqual(imap.select("INBOX"), ("OK", [b"2"]))
        imap.logout()


if __name__ == "__main__": unittest.main()
