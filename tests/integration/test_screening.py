"""Screening at MAIL against the real osprey, from loopback client addresses
that are not private, with a resolver of the test's own: the test runs
itself inside a new network and mount namespace (unshare --net --mount),
with /etc/resolv.conf and /etc/hosts bind-mounted, and dnsmasq answering the
blocklist zone and the reverse names. No real blocklist is ever asked."""

import smtplib
import unittest

from heron_env import (REG_BINARY, MailTestCase, encode_list, mailbox_files, namespace_module,
                       wait_for)
from relay_peers import run_dnsmasq

# Client addresses: listed on the blocklist; a good reverse name; a name
# without a dot; a name with a suspect keyword.
LISTED, GOOD, NODOT, DYNAMIC = "127.0.0.30", "127.0.0.31", "127.0.0.32", "127.0.0.33"
# The zone answers this one with its error code for refused resolvers.
ZONE_ERROR = "127.0.0.34"


RECORDS = ["--address=/30.0.0.127.zen.spamhaus.org/127.0.0.2",
           "--address=/30.0.0.127.sbl-xbl.spamhaus.org/127.0.0.2",
           "--ptr-record=30.0.0.127.in-addr.arpa,listed.example.org",
           "--ptr-record=31.0.0.127.in-addr.arpa,good.example.org",
           "--ptr-record=32.0.0.127.in-addr.arpa,nodot",
           "--ptr-record=33.0.0.127.in-addr.arpa,cust-33.dynamic.example.net",
           "--address=/34.0.0.127.zen.spamhaus.org/127.255.255.254",
           "--ptr-record=34.0.0.127.in-addr.arpa,error.example.org"]
INSIDE, NamespaceTest, setUpModule, tearDownModule = namespace_module(
    "test_screening", "ScreeningTest", "HERON_SCREENING_NETNS", lambda: run_dnsmasq(RECORDS))


@unittest.skipUnless(INSIDE, "runs inside its own namespace (see NamespaceTest)")
class ScreeningTest(MailTestCase):
    def setUp(self):
        super().setUp()
        self.home.set_value("BlockMailFrom", "Rules", REG_BINARY, encode_list([b"*@junk.example"]))
        self.home.set_value("BlockMailFrom2", "Rules", REG_BINARY, encode_list([b"DYNAMIC"]))

    def mail_from(self, client, sender="a@far.example"):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=20,
                          source_address=(client, 0)) as c:
            c.ehlo()
            return c.mail(sender)

    def test_block_mode(self):
        self.start()
        self.assertEqual(self.mail_from(LISTED), (550, b"We generally do not accept email from IPs "
                                                       b"if they were identified by "
                                                       b"https://www.spamhaus.org/"))
        self.assertEqual(self.mail_from(LISTED)[0], 551)  # the rejected cache answers now
        verify = (550, b"Sender verify failed, smtp relay was rejected by Heron Mail Server!")
        self.assertEqual(self.mail_from(NODOT), verify)
        self.assertEqual(self.mail_from(DYNAMIC), verify)
        self.assertEqual(self.mail_from(GOOD), (250, b"OK"))
        self.assertEqual(self.mail_from(ZONE_ERROR), (250, b"OK"))  # an error is no listing
        self.assertEqual(self.mail_from(GOOD, "x@junk.example"),
                         (550, b"Sender was blocked by Heron Mail Server!"))

    def test_filter_mode_tags_the_subject(self):
        self.home.set_number("FilterMode", 1)
        self.start()
        for client in (LISTED, NODOT):
            with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=20,
                              source_address=(client, 0)) as c:
                c.sendmail("a@far.example", ["admin@example.com"], "Subject: hi\r\n\r\nx\r\n")
        self.assertTrue(wait_for(lambda: len(mailbox_files(self.home, "admin")) == 2))
        for content in mailbox_files(self.home, "admin").values():
            self.assertIn(b"Subject: [--SPAM--] hi", content)


if __name__ == "__main__":
    unittest.main()
