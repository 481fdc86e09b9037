"""Relaying by the real osprey: mail for remote domains reaches a real
Postfix, scripted peers and unreachable hosts on loopback addresses (port 25)
through MX records served by dnsmasq. The test runs itself inside a network
and mount namespace of its own (see heron_env.run_in_namespace)."""

import glob
import os
import signal
import smtplib
import subprocess
import time
import unittest

from heron_env import (ADMIN_PASSWORD, HERONCTL, MailTestCase, mailbox_files, namespace_module,
                       wait_for)
from relay_peers import Postfix, ScriptedSmtp, run_dnsmasq

POSTFIX, TEMPFAIL, DOWN, PEER, NOMX = "127.0.0.25", "127.0.0.21", "127.0.0.22", "127.0.0.23", \
    "127.0.0.24"
RECORDS = [f"--mx-host={d}.test,mx.{d}.test,10" for d in ("pf", "tmp", "down", "peer")] + [
    f"--host-record=mx.pf.test,{POSTFIX}", f"--host-record=mx.tmp.test,{TEMPFAIL}",
    f"--host-record=mx.down.test,{DOWN}", f"--host-record=mx.peer.test,{PEER}",
    f"--host-record=nomx.test,{NOMX}"]
INSIDE, NamespaceTest, setUpModule, tearDownModule = namespace_module(
    "test_relay", "RelayTest", "HERON_RELAY_NETNS", lambda: run_dnsmasq(RECORDS))


@unittest.skipUnless(INSIDE, "runs inside its own namespace (see NamespaceTest)")
class RelayTest(MailTestCase):
    def setUp(self):
        super().setUp()
        for name, value in (("RelayMessages", 1), ("RelayTimeout", 5)):
            self.home.set_number(name, value)
        self.home.set_text("DNSServer", "127.0.0.53")
        self.home.set_text("HostName", "heron.example.com")
        os.makedirs(os.path.join(self.home.path, "Mailboxes", "admin"))
        self.peers = []

    def tearDown(self):
        for p in self.peers:
            p.close()
        super().tearDown()

    def peer(self, address, **kw):
        p = ScriptedSmtp(address, **kw)
        self.peers.append(p)
        return p

    def send(self, rcpts, body="Subject: relay test\r\n\r\nHello over there.\r\n"):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=30) as c:
            c.login("admin", ADMIN_PASSWORD)
            c.sendmail("admin@example.com", rcpts, body)

    def folder(self, name):
        return sorted(os.listdir(os.path.join(self.home.path, "Mailboxes", name)))

    def reports(self):
        return [m for m in mailbox_files(self.home, "admin").values()
                if b"Returned Mail:see transcript" in m]

    def test_postfix_receives_the_stored_message(self):
        postfix = Postfix(POSTFIX, "pf.test", ["bob"])
        try:
            self.start()
            body = ("From: <admin@example.com>\r\nTo: <bob@pf.test>\r\nSubject: to postfix\r\n"
                    "Date: Tue, 08 Dec 2026 10:00:00 +0800\r\nMessage-ID: <m1@example.com>\r\n"
                    "X-Tag: %d%%\r\n\r\nline one\r\n.leading dot\r\n\r\nlast line\r\n")
            self.send(["bob@pf.test", "admin@example.com"], body)
            self.assertTrue(wait_for(lambda: postfix.mails("bob"), 30), "postfix got nothing")
            stored = next(iter(mailbox_files(self.home, "admin").values()))
            # What was stored (its last line ended), without its envelope lines,
            # and the empty line the relay ends the data with; Postfix keeps
            # lines with LF ends.
            # The stored lines keep their transparency dots; Postfix takes
            # them off.
            text = b"".join(l[1:] if l.startswith(b"..") else l for l in stored.splitlines(True)
                            if not l.startswith((b"x-sender:", b"x-receiver:")))
            text = text.replace(b"\r\n", b"\n")
            got = postfix.mails("bob")[0]
            self.assertTrue(got.endswith(text + b"\n"), (got, text))
            self.assertIn(b"Return-Path: <admin@example.com>", got)
            self.assertTrue(wait_for(lambda: not self.folder("queue")))
            self.assertEqual(self.reports(), [])
        finally:
            postfix.stop()

    def test_temporary_failures_are_retried_until_delivered(self):
        tmp = self.peer(TEMPFAIL, rcpt={"<late@tmp.test>": "451 try later"})
        self.start()
        self.send(["late@tmp.test", "now@down.test"])
        self.assertTrue(wait_for(lambda: len(self.folder("yqueue")) == 2, 30))
        names = self.folder("yqueue")
        self.assertTrue(any(n.endswith("[late@tmp.test]#0.eml") for n in names), names)
        self.assertTrue(wait_for(lambda: len(self.reports()) == 2))
        texts = b"".join(self.reports()).decode("cp950")
        self.assertIn("451 try later", texts)
        self.assertIn("無法與遠端伺服器建立連線", texts)  # unreachable: a reason, and a retry
        self.assertEqual(self.folder("queue"), [])

        # Old enough for the Y pass, which a reload starts.
        tmp.rcpt.clear()
        for n in names:
            p = os.path.join(self.home.path, "Mailboxes", "yqueue", n)
            os.utime(p, (time.time() - 600, time.time() - 600))
        subprocess.run([HERONCTL, "--home", self.home.path, "reload"], check=True)
        self.assertTrue(wait_for(lambda: tmp.messages, 30))
        self.assertEqual(tmp.messages[0][0], ["<late@tmp.test>"])
        # down.test: counted on, not lost.
        self.assertTrue(wait_for(lambda: [n[32:] for n in self.folder("yqueue")] ==
                                 ["[now@down.test]#1.eml"], 20), self.folder("yqueue"))

    def test_data_cannot_end_early_and_domain_as_host(self):
        self.home.set_number("DomainAsHost", 1)
        peer = self.peer(PEER)
        nomx = self.peer(NOMX)
        self.start()
        # A bare LF before and after a dot: stored inside the data.
        self.send(["x@peer.test"], "Subject: s\r\n\r\na\n.\nMAIL FROM:<evil@x>\r\nb\r\n")
        self.send(["y@nomx.test"])
        self.assertTrue(wait_for(lambda: peer.messages and nomx.messages, 30))
        self.assertEqual(len(peer.messages), 1)
        data = peer.messages[0][1]
        self.assertIn(b"\r\na\r\n..\r\nMAIL FROM:<evil@x>\r\nb\r\n", data)
        self.assertEqual(nomx.messages[0][0], ["<y@nomx.test>"])
        log = self.home.log_text()
        self.assertIn("以網域名稱作為主機名稱直接傳遞", log)
        self.assertIn("<RELAY> 啟用外寄郵件服務行程", log)
        self.server.stop()
        self.assertIn("<RELAY> 停止外寄郵件服務行程", self.home.log_text())

    def test_kill_during_a_pass_loses_nothing_and_repeats_nothing(self):
        peer = self.peer(PEER, hold={"<c@peer.test>"})
        self.start()
        self.send(["b@peer.test", "c@peer.test"])
        self.assertTrue(wait_for(lambda: getattr(peer, "held", False), 30))
        self.server.stop(signal.SIGKILL)  # while c's message waits for its reply
        peer.release.set()
        peer.hold.clear()
        self.start()
        # The interrupted file is handed to the X relay thread, which a
        # reload starts again.
        self.assertTrue(wait_for(lambda: self.folder("xqueue") or not self.folder("queue"), 20))
        subprocess.run([HERONCTL, "--home", self.home.path, "reload"], check=True)
        self.assertTrue(wait_for(lambda: any(r == ["<c@peer.test>"] for r, _ in peer.messages),
                                 30))
        self.assertTrue(wait_for(lambda: not self.folder("xqueue"), 10))
        self.assertEqual([r for r, _ in peer.messages], [["<b@peer.test>"], ["<c@peer.test>"]])
        reports = self.reports()
        self.assertEqual(len(reports), 1)  # the deferred notice names c only
        self.assertIn(b"\t<c@peer.test>\r\n", reports[0])
        self.assertNotIn(b"<b@peer.test>", reports[0])


if __name__ == "__main__":
    unittest.main()
