"""The real osprey at its limits: more connections than descriptors or
ConnectionsLimit allow, and a drop file kept by a failed copy that must
never give a mailbox a second copy."""

import os
import poplib
import signal
import smtplib
import socket
import unittest

from heron_env import (ADMIN_PASSWORD, REG_BINARY, MailTestCase, Osprey, encode_accounts,
                       mailbox_files, wait_for)


def greeting(sock):
    sock.settimeout(10)
    try:
        return sock.recv(200)
    except OSError:
        return b""


class LimitsTest(MailTestCase):
    def setUp(self):
        super().setUp()
        # One address holds every session here: the per-address cap is off.
        self.home.set_number("MaxConnectionsPerIp", 0)

    def mail_goes_through(self):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            c.sendmail("a@remote.org", ["admin@example.com"], "Subject: after\r\n\r\nok\r\n")
        self.wait_mail("admin")

    def test_more_connections_than_descriptors(self):
        self.server = Osprey(self.home).start(nofile=200)
        held = []
        try:
            for _ in range(200):
                try:
                    held.append(socket.create_connection(("127.0.0.1", self.server.smtp_port), 5))
                except OSError:
                    break
            replies = [greeting(s) for s in held]
        finally:
            for s in held:
                s.close()
        greeted = sum(1 for r in replies if r.startswith(b"220 "))
        self.assertGreater(greeted, 20)
        self.assertLess(greeted, 100)  # the rest were closed, not left hanging
        self.assertIsNone(self.server.proc.poll(), "osprey ended")
        # Once the sessions have gone, mail is accepted again.
        self.assertTrue(self.home.wait_log("用戶端中斷連線", count=greeted))
        self.mail_goes_through()

    def test_connections_limit_refuses_the_rest(self):
        self.home.set_number("ConnectionsLimit", 20)
        self.start()
        held = []
        try:
            for _ in range(30):
                s = socket.create_connection(("127.0.0.1", self.server.smtp_port), 5)
                held.append((s, greeting(s)))
            replies = [r for _, r in held]
        finally:
            for s, _ in held:
                s.close()
        # 20 counted: the next is still greeted; at 21 counted, refused.
        self.assertEqual(sum(1 for r in replies if r.startswith(b"220 ")), 21)
        self.assertEqual(replies[21:], [b"421 Service not available. Too many users!\r\n"] * 9)
        self.assertTrue(wait_for(lambda: self.home.log_text().count("IP:  127.0.0.1") >= 30))
        self.mail_goes_through()


class OneClientTest(MailTestCase):
    """A client address can neither crowd others out nor guess passwords;
    the other loopback addresses are served as usual."""

    def connect(self, source, port):
        s = socket.create_connection(("127.0.0.1", port), 5, source_address=(source, 0))
        return s, greeting(s)

    def test_sessions_per_address_are_capped(self):
        self.home.set_number("MaxConnectionsPerIp", 3)
        self.start()
        held = []
        try:
            for _ in range(5):
                held.append(self.connect("127.0.0.2", self.server.pop3_port))
            held.append(self.connect("127.0.0.3", self.server.pop3_port))
            replies = [r for _, r in held]
        finally:
            for s, _ in held:
                s.close()
        self.assertTrue(all(r.startswith(b"+OK") for r in replies[:3]), replies)
        self.assertEqual(replies[3:5], [b"-ERR too many users\r\n"] * 2)
        self.assertTrue(replies[5].startswith(b"+OK"), replies)

    def test_a_guessing_address_is_refused_for_a_while(self):
        self.home.set_value("UserAccounts", "Users", REG_BINARY, encode_accounts(
            [(b"admin", b"Administrator", ADMIN_PASSWORD.encode())]))
        self.start()

        def login(source, password):
            s, _ = self.connect(source, self.server.pop3_port)
            with s, s.makefile("rb") as f:
                s.sendall(b"USER admin\r\n")
                f.readline()
                s.sendall(b"PASS " + password + b"\r\n")
                return f.readline()

        for _ in range(10):
            self.assertEqual(login("127.0.0.4", b"guess"), b"-ERR login failed\r\n")
        # Now even the right password fails from there, and only from there.
        self.assertEqual(login("127.0.0.4", ADMIN_PASSWORD.encode()), b"-ERR login failed\r\n")
        self.assertTrue(login("127.0.0.5", ADMIN_PASSWORD.encode()).startswith(b"+OK"))
        self.assertTrue(self.home.wait_log("Too many failed logins from 127.0.0.4"))
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10,
                          source_address=("127.0.0.4", 0)) as c:
            c.ehlo("guesser")
            with self.assertRaises(smtplib.SMTPException):
                c.login("admin", ADMIN_PASSWORD)


class FreshStoreTest(MailTestCase):
    def test_admin_without_a_password_is_refused_everywhere(self):
        self.home.set_value("UserAccounts", "Users", REG_BINARY,
                            encode_accounts([(b"admin", b"Administrator", b"")]))
        self.home.set_number("ManageRemote", 1)
        s = self.start()
        with smtplib.SMTP("127.0.0.1", s.smtp_port, timeout=10) as c:
            c.ehlo()
            with self.assertRaises(smtplib.SMTPAuthenticationError):
                c.login("admin", "")
            self.assertEqual(c.docmd("CPWD"), (334, b"VXNlcm5hbWU6"))
            c.docmd("YWRtaW4=")  # admin
            self.assertEqual(c.docmd(""), (501, b"Authentication failed."))
            self.assertEqual(c.docmd("ADMN"), (334, b"UGFzc3dvcmQ6"))
            self.assertEqual(c.docmd(""), (501, b"Authentication failed."))
        p = poplib.POP3("127.0.0.1", s.pop3_port, timeout=10)
        p.user("admin")
        with self.assertRaises(poplib.error_proto):
            p.pass_("")
        p.quit()


class KeptDropFileTest(MailTestCase):
    def test_a_retry_after_kill_9_gives_no_second_copy(self):
        self.home.set_value("UserAccounts", "Users", REG_BINARY, encode_accounts([(b"admin", b"", b"pw")]))
        mail = os.path.join(self.home.path, "Mailboxes")
        os.makedirs(mail)
        with open(os.path.join(mail, "queue"), "w") as f:
            f.write("a file where the queue folder belongs")
        s = self.start()
        with smtplib.SMTP("127.0.0.1", s.smtp_port, timeout=10) as c:
            c.login("admin", "pw")
            c.sendmail("admin@example.com", ["admin@example.com", "far@far.net"],
                       "Subject: kept\r\n\r\nbody\r\n")
        self.wait_mail("admin")
        drop = os.path.join(mail, "drop")
        self.assertTrue(self.home.wait_log("複製失敗"))
        self.assertEqual(len([f for f in os.listdir(drop) if f.endswith(".eml")]), 1)

        # admin fetches and deletes the copy, then the service dies.
        p = poplib.POP3("127.0.0.1", s.pop3_port, timeout=10)
        p.user("admin")
        p.pass_("pw")
        p.retr(1)
        p.dele(1)
        p.quit()
        s.proc.send_signal(signal.SIGKILL)
        s.proc.wait()
        os.remove(os.path.join(mail, "queue"))

        self.server = Osprey(self.home, pop3_port=s.pop3_port, smtp_port=s.smtp_port).start()
        self.assertTrue(wait_for(lambda: not os.listdir(drop)), os.listdir(drop))
        self.assertEqual(len(mailbox_files(self.home, "queue")), 1)
        self.assertEqual(mailbox_files(self.home, "admin"), {})


if __name__ == "__main__":
    unittest.main()
