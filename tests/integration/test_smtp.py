"""SMTP against the real osprey: smtplib and curl deliver byte-exact message
files into mailboxes and the queue; acknowledged mail survives kill -9."""

import os
import poplib
import re
import signal
import smtplib
import socket
import subprocess
import threading
import time
import unittest

from heron_env import (ADMIN_PASSWORD, FOOTER, REG_BINARY, MailTestCase, Osprey, encode_list, mailbox_files,
                       wait_for)

DATE = rb"\t(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d GMT\r\n"


def expected_file(sender, receivers, helo, body_without_end):
    head = b"x-sender: " + sender + b"\r\n"
    for r in receivers:
        head += b"x-receiver: " + r + b"\r\n"
    head += b"Received: from " + helo + b" ([127.0.0.1]) by example.com with Heron Mail Server;\r\n"
    return re.compile(re.escape(head) + DATE + re.escape(body_without_end + FOOTER) + b"$", re.S)


class SmtpTestCase(MailTestCase):
    def client(self):
        return smtplib.SMTP("127.0.0.1", self.server.smtp_port, local_hostname="client.test",
                            timeout=10)


class DeliveryTest(SmtpTestCase):
    def test_plain_login_local_and_remote(self):
        self.start()
        with self.client() as c:
            self.assertEqual(c.ehlo()[1], b"Supported extensions:\nAUTH PLAIN LOGIN\nVRFY\nOK")
            self.assertEqual(c.login("ADMIN", ADMIN_PASSWORD)[0], 235)  # PLAIN with an initial response
            c.sendmail("bob@remote.org", ["admin@example.com", "x@far.net"],
                       "Subject: hi\r\n\r\nHello\r\n..dot\r\n")
        # smtplib dot-stuffs the line; the stuffed form is what is stored.
        body = b"Subject: hi\r\n\r\nHello\r\n...dot\r\n"
        exp = expected_file(b"<bob@remote.org>", [b"<admin@example.com>", b"<x@far.net>"],
                            b"client.test", body[:-2])
        admin = self.wait_mail("admin")
        queue = self.wait_mail("queue")
        self.assertEqual(list(admin), list(queue))  # same name for every copy
        (name, content), = admin.items()
        self.assertRegex(name, r"^[0-9A-F]{32}\.eml$")
        self.assertRegex(content, exp)
        self.assertEqual(queue[name], content)
        # The drop file goes once the last copy is made, just after the queue copy.
        drop = os.path.join(self.home.path, "Mailboxes", "drop")
        self.assertTrue(wait_for(lambda: not os.listdir(drop)), os.listdir(drop))
        log = self.home.log_text()
        self.assertIn("<SMTP> AUTH PLAIN ****", log)
        self.assertIn("250 OK: Queued as: " + name[:32], log)

    def test_auth_login_with_and_without_initial_response(self):
        self.home.set_text("SpamTag", "[x]")
        self.start()
        for initial in (True, False):
            with self.client() as c:
                c.ehlo()
                c.user, c.password = "admin", ADMIN_PASSWORD
                code, _ = c.auth("LOGIN", c.auth_login, initial_response_ok=initial)
                self.assertEqual(code, 235)
                c.sendmail("a@remote.org", ["far@away.net"], "Subject: t\r\n\r\nx\r\n")
        self.wait_mail("queue", 2)
        log = self.home.log_text()
        self.assertNotIn("YWRtaW4", log)  # base64 of "admin" never logged

    def test_wrong_password_and_relay_refusal(self):
        self.start()
        with self.client() as c:
            c.ehlo()
            with self.assertRaises(smtplib.SMTPAuthenticationError) as e:
                c.login("admin", "wrong")
            self.assertEqual(e.exception.smtp_code, 501)
            c.mail("a@remote.org")
            self.assertEqual(c.rcpt("far@away.net"), (551, b"Client was not authenticated"))
            self.assertEqual(c.rcpt("nobody@example.com"), (550, b"Recipient unknown."))
            self.assertEqual(c.rcpt("<../../etc@example.com>"), (550, b"Recipient unknown."))
            self.assertEqual(c.rcpt("queue@example.com"), (550, b"Recipient unknown."))
            self.assertEqual(c.rcpt("Admin@Example.com")[0], 250)
            self.assertEqual(c.docmd("DATA"), (354, b"End with <CRLF>.<CRLF>"))
            c.send(b"Subject: s\r\n\r\nbody\r\n.\r\n")
            code, msg = c.getreply()
            self.assertEqual(code, 250)
            self.assertRegex(msg, rb"^OK: Queued as: [0-9A-F]{32}$")
        self.wait_mail("admin")
        self.assertEqual(sorted(os.listdir(os.path.join(self.home.path, "Mailboxes"))),
                         [".tmp", "admin", "drop"])

    def test_local_sender_needs_login(self):
        self.start()
        with self.client() as c:
            c.ehlo()
            self.assertEqual(c.mail("someone@example.com"), (551, b"Client was not authenticated"))
            self.assertEqual(c.rcpt("admin@example.com"), (503, b"Need MAIL FROM: first"))

    def test_curl_delivers(self):
        self.start()
        msg = os.path.join(self.home.path, "msg.txt")
        with open(msg, "wb") as f:
            f.write(b"From: a@remote.org\r\nSubject: via curl\r\n\r\nline one\r\nline two\r\n")
        r = subprocess.run(["curl", "-s", "-S", "--max-time", "20",
                            "smtp://127.0.0.1:%d/curl.test" % self.server.smtp_port,
                            "--mail-from", "a@remote.org", "--mail-rcpt", "admin@example.com",
                            "-T", msg], capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        (name, content), = self.wait_mail("admin").items()
        exp = expected_file(b"<a@remote.org>", [b"<admin@example.com>"], b"curl.test",
                            b"From: a@remote.org\r\nSubject: via curl\r\n\r\nline one\r\nline two")
        self.assertRegex(content, exp)
        # With a login curl relays to a remote domain.
        r = subprocess.run(["curl", "-s", "-S", "--max-time", "20", "--user", "admin:" + ADMIN_PASSWORD,
                            "smtp://127.0.0.1:%d/curl.test" % self.server.smtp_port,
                            "--mail-from", "admin@example.com", "--mail-rcpt", "z@far.net",
                            "-T", msg], capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.wait_mail("queue")

    def test_catch_all_copy_rules_and_cc(self):
        self.home.set_text("CatchAllAccount", "catchall")
        self.home.set_text("CcAccount", "audit")
        self.home.set_value("CopyRules", "Rules", REG_BINARY, encode_list([b"admin|boss , clerk"]))
        for box in ("boss", "audit"):
            os.makedirs(os.path.join(self.home.path, "Mailboxes", box))
        self.start()
        with self.client() as c:
            c.login("admin", ADMIN_PASSWORD)
            c.sendmail("admin@example.com", ["ghost@example.com", "admin@example.com", "r@far.net"],
                       "Subject: c\r\n\r\nx\r\n")
        for box in ("catchall", "admin", "boss", "queue", "audit"):
            self.assertEqual(len(self.wait_mail(box)), 1, box)
        self.assertFalse(os.path.exists(os.path.join(self.home.path, "Mailboxes", "clerk")))

    def test_forward_rule_expands_target(self):
        self.home.set_value("ForwardRules", "Rules", REG_BINARY,
                            encode_list([b"*@example.com|*@far.net", b"admin@*|admin@example.com"]))
        self.start()
        with self.client() as c:
            c.login("admin", ADMIN_PASSWORD)
            c.mail("admin@example.com")
            self.assertEqual(c.rcpt("admin@example.com")[0], 250)
            c.data(b"Subject: f\r\n\r\nx\r\n")
        (name, content), = self.wait_mail("admin").items()
        self.assertIn(b"x-receiver: <admin@far.net>\r\nx-receiver: <admin@example.com>\r\n", content)
        self.assertIn("Forwarding email to: <admin@far.net>,<admin@example.com>", self.home.log_text())


class RobustnessTest(SmtpTestCase):
    def test_disconnect_mid_data_stores_nothing(self):
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.smtp_port)) as s:
            f = s.makefile("rb")
            f.readline()
            s.sendall(b"HELO x\r\nMAIL FROM:<a@remote.org>\r\nRCPT TO:<admin@example.com>\r\nDATA\r\n")
            for _ in range(4):
                f.readline()
            s.sendall(b"Subject: cut\r\n\r\nhalf a message")
        self.assertTrue(self.home.wait_log("用戶端中斷連線"))
        time.sleep(0.3)
        self.assertEqual(mailbox_files(self.home, "admin"), {})

    def test_overlong_line_and_hostile_bytes(self):
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.smtp_port)) as s:
            f = s.makefile("rb")
            f.readline()
            s.sendall(b"HELO \x00\xff\xfe\r\nHELO \xff\r\nAUTH LOGIN\r\n%%%%\x00\r\n=\r\n")
            self.assertEqual(f.readline(), b"501 Syntax error in parameters or arguments\r\n")
            self.assertEqual(f.readline(), b"250 OK\r\n")
            self.assertEqual(f.readline(), b"334 VXNlcm5hbWU6\r\n")
            self.assertEqual(f.readline(), b"334 UGFzc3dvcmQ6\r\n")
            self.assertEqual(f.readline(), b"501 Authentication failed.\r\n")
            s.sendall(b"A" * 9000)
            self.assertEqual(f.read(), b"")  # closed without a reply
        self.assertTrue(self.home.wait_log("Buffer overflow"))
        with self.client() as c:  # still serving
            self.assertEqual(c.noop()[0], 503)  # before HELO
            c.helo()
            self.assertEqual(c.noop()[0], 250)

    def test_idle_client_times_out_without_reply(self):
        self.home.set_number("Timeout", 1)
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.smtp_port), timeout=10) as s:
            f = s.makefile("rb")
            self.assertTrue(f.readline().startswith(b"220 "))
            started = time.monotonic()
            self.assertEqual(f.read(), b"")
            self.assertLess(time.monotonic() - started, 5)
        self.assertTrue(self.home.wait_log("<SMTP> Connection timed out"))

    def test_ip_filter_refuses_at_connect(self):
        self.home.set_value("IpFilter", "Addresses", REG_BINARY, encode_list([b"127.*.*.*"]))
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.smtp_port), timeout=10) as s:
            self.assertEqual(s.makefile("rb").read(), b"421 Service not available\r\n")

    def test_stop_ends_busy_sessions(self):
        s = self.start()
        conns = [socket.create_connection(("127.0.0.1", s.smtp_port)) for _ in range(3)]
        for c in conns:
            c.makefile("rb").readline()
        started = time.monotonic()
        self.assertEqual(s.stop(signal.SIGTERM), 0)
        self.assertLess(time.monotonic() - started, 10)
        log = self.home.log_text()
        # The three, and perhaps the start-up probe's session if still open.
        self.assertGreaterEqual(log.count("執行緒已結束"), 3)
        self.assertEqual(log.count("執行緒已結束"), log.count("即將結束執行緒..."))
        self.assertNotIn("無法正常結束執行緒", log)
        for c in conns:
            c.close()


class EnvelopeForgeryTest(SmtpTestCase):
    def test_headers_and_arguments_add_no_recipient(self):
        self.start()
        with self.client() as c:
            c.ehlo()
            self.assertEqual(c.mail("<a@remote.org> x-receiver:<v@far.net>")[0], 250)
            c.rcpt("admin@example.com")
            c.data(b"Subject: x-receiver: <w@far.net>\r\nX-Receiver: <z@far.net>\r\n\r\nhi\r\n")
        (name, content), = self.wait_mail("admin").items()
        time.sleep(0.3)
        self.assertFalse(os.path.exists(os.path.join(self.home.path, "Mailboxes", "queue")))


class Ipv6Test(SmtpTestCase):
    def test_ipv6_and_ipv4_clients(self):
        s = self.start()
        try:
            sock = socket.create_connection(("::1", s.smtp_port), timeout=5)
        except OSError:
            self.skipTest("no IPv6 loopback here")
        with sock:
            self.assertTrue(sock.makefile("rb").readline().startswith(b"220 "))
        with self.client() as c:
            c.noop()
        # A message over IPv6 carries the address in its trace line; POP3
        # serves IPv6 too.
        with smtplib.SMTP("::1", s.smtp_port, local_hostname="v6.test", timeout=20) as c:
            c.sendmail("a@far.net", ["admin@example.com"], "Subject: v6\r\n\r\nhi\r\n")
        (content,) = self.wait_mail("admin").values()
        self.assertIn(b"Received: from v6.test ([::1]) by ", content)
        p = poplib.POP3("::1", s.pop3_port, timeout=20)
        p.user("admin")
        p.pass_(ADMIN_PASSWORD)
        self.assertEqual(p.stat()[0], 1)
        p.quit()
        log = self.home.log_text()
        self.assertIn("IP: ::1", log)
        self.assertIn("IP: 127.0.0.1", log)  # an IPv4 client is its dotted quad
        self.assertNotIn("::ffff:", log)


class PipeliningTest(SmtpTestCase):
    def test_quit_after_the_end_marker_is_answered_at_once(self):
        s = self.start()
        with socket.create_connection(("127.0.0.1", s.smtp_port), timeout=5) as sock:
            f = sock.makefile("rb")
            f.readline()
            sock.sendall(b"HELO c\r\nMAIL FROM:<a@far.net>\r\nRCPT TO:<admin@example.com>\r\n"
                         b"DATA\r\nSubject: p\r\n\r\nbody\r\n.\r\nQUIT\r\n")
            replies = [f.readline() for _ in range(6)]
        self.assertTrue(replies[4].startswith(b"250 OK: Queued as: "), replies)
        self.assertEqual(replies[5], b"221 Bye\r\n")
        (content,) = self.wait_mail("admin").values()
        self.assertNotIn(b"QUIT", content)

    def test_a_forged_log_line_is_impossible(self):
        s = self.start()
        with socket.create_connection(("127.0.0.1", s.smtp_port), timeout=5) as sock:
            f = sock.makefile("rb")
            f.readline()
            sock.sendall(b"NOOP x\r[1]01/01/2026 00:00:00.000 <SMTP> forged\r\nQUIT\r\n")
            f.readline()
        log = self.home.log_text()
        self.assertIn("\\r[1]01/01/2026 00:00:00.000 <SMTP> forged", log)
        self.assertFalse(any(l.startswith("[1]01/01/2026") for l in log.splitlines()))


class DurabilityTest(SmtpTestCase):
    def test_kill_9_loses_no_acknowledged_message(self):
        s = self.start()
        acked = []
        stop = threading.Event()

        def send_loop():
            try:
                with self.client() as c:
                    c.ehlo()
                    i = 0
                    while not stop.is_set():
                        c.mail("a@remote.org")
                        c.rcpt("admin@example.com")
                        code, msg = c.data(("Subject: %d\r\n\r\n" % i + "x" * 2000 + "\r\n").encode())
                        if code == 250:
                            acked.append(msg.decode().split()[-1])
                        i += 1
            except (smtplib.SMTPException, OSError):
                pass

        t = threading.Thread(target=send_loop)
        t.start()
        self.assertTrue(wait_for(lambda: len(acked) >= 20, 30))
        s.proc.send_signal(signal.SIGKILL)
        s.proc.wait()
        stop.set()
        t.join(20)
        # A new body finishes the distribution of whatever was left in drop.
        self.server = Osprey(self.home, pop3_port=s.pop3_port, smtp_port=s.smtp_port).start()
        self.assertTrue(wait_for(lambda: not os.listdir(
            os.path.join(self.home.path, "Mailboxes", "drop"))))
        stored = mailbox_files(self.home, "admin")
        missing = [q for q in acked if q + ".eml" not in stored]
        self.assertEqual(missing, [])
        for content in stored.values():
            self.assertTrue(content.endswith(FOOTER), "partial message file")


if __name__ == "__main__":
    unittest.main()
