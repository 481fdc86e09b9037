"""POP3 against the real osprey: poplib and curl fetch what smtplib
delivered; QUIT deletes marked files, nothing else does."""

import os
import poplib
import re
import signal
import smtplib
import socket
import subprocess
import time
import unittest

from heron_env import ADMIN_PASSWORD, REG_BINARY, MailTestCase, encode_list, mailbox_files, wait_for


def shown(content):
    """A message file as POP3 gives it: without the envelope lines that name
    the recipients."""
    return re.sub(rb"(?im)\A((?:x-sender:[^\n]*\n)*)(?:x-receiver:[^\n]*\n)+", rb"\1", content)


class Pop3TestCase(MailTestCase):
    def deliver(self, count, to="admin@example.com"):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            for i in range(count):
                c.sendmail("a@remote.org", [to], "Subject: m%d\r\n\r\nbody %d\r\n" % (i, i))
        box = to.split("@")[0].lower()
        self.assertTrue(wait_for(lambda: len(mailbox_files(self.home, box)) >= count))
        return mailbox_files(self.home, box)

    def pop(self):
        return poplib.POP3("127.0.0.1", self.server.pop3_port, timeout=10)


class FetchTest(Pop3TestCase):
    def test_poplib_lists_fetches_and_deletes_on_quit(self):
        self.start()
        files = self.deliver(2)
        p = self.pop()
        self.assertEqual(p.getwelcome(), b"+OK Heron Mail Server ready")
        p.user("ADMIN")  # the folder is admin
        self.assertEqual(p.pass_(ADMIN_PASSWORD), b"+OK authentication successful")
        count, total = p.stat()
        self.assertEqual(count, 2)
        self.assertEqual(total, sum(len(shown(v)) for v in files.values()))
        uids = {u.split()[1].decode() + ".eml" for u in p.uidl()[1]}
        self.assertEqual(uids, set(files))
        resp, lines, _ = p.retr(1)
        n1 = p.uidl(1).split()[2].decode() + ".eml"
        self.assertEqual(resp, b"+OK %d octets" % len(shown(files[n1])))
        self.assertEqual(b"\r\n".join(lines) + b"\r\n", shown(files[n1]))
        self.assertNotIn(b"x-receiver", b"\r\n".join(lines))
        self.assertEqual(p.dele(1), b"+OK message 1 marked as deleted")
        self.assertEqual(p.stat()[0], 1)
        self.assertEqual(p.quit(), b"+OK session ended")
        self.assertEqual(set(mailbox_files(self.home, "admin")), set(files) - {n1})
        log = self.home.log_text()
        self.assertIn("<POP3> PASS ****", log)
        self.assertIn("<POP3> 正在刪除訊息...", log)

    def test_curl_fetches(self):
        self.start()
        files = self.deliver(1)
        (name, content), = files.items()
        r = subprocess.run(["curl", "-s", "-S", "--max-time", "20", "--user", "admin:" + ADMIN_PASSWORD,
                            "pop3://127.0.0.1:%d/1" % self.server.pop3_port], capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, shown(content))
        r = subprocess.run(["curl", "-s", "-S", "--max-time", "20", "--user", "admin:" + ADMIN_PASSWORD,
                            "pop3://127.0.0.1:%d/" % self.server.pop3_port], capture_output=True)
        self.assertEqual(r.stdout, b"1 %d\r\n" % len(shown(content)))
        self.assertEqual(mailbox_files(self.home, "admin"), files)  # nothing deleted

    def test_marks_are_kept_only_by_quit(self):
        self.home.set_number("Timeout", 1)
        self.start()
        files = self.deliver(2)
        # Dropped connection: nothing deleted.
        p = self.pop()
        p.user("admin")
        p.pass_(ADMIN_PASSWORD)
        p.dele(1)
        p.dele(2)
        p.sock.close()
        self.assertTrue(self.home.wait_log("<POP3> 用戶端中斷連線", count=1))
        # Timed out session: nothing deleted, no reply sent.
        with socket.create_connection(("127.0.0.1", self.server.pop3_port), timeout=10) as s:
            f = s.makefile("rb")
            f.readline()
            s.sendall(b"USER admin\r\nPASS \r\nDELE 1\r\n")
            for _ in range(3):
                f.readline()
            self.assertEqual(f.read(), b"")
        self.assertTrue(self.home.wait_log("<POP3> 連線逾時"))
        # Service stop with a session holding marks: nothing deleted.
        p = self.pop()
        p.user("admin")
        p.pass_(ADMIN_PASSWORD)
        p.dele(1)
        self.server.stop(signal.SIGTERM)
        self.assertEqual(mailbox_files(self.home, "admin"), files)

    def test_two_sessions_of_one_user(self):
        self.start()
        self.deliver(1)
        a, b = self.pop(), self.pop()
        for p in (a, b):
            p.user("admin")
            p.pass_(ADMIN_PASSWORD)
        a.dele(1)
        a.quit()
        with self.assertRaises(poplib.error_proto) as e:
            b.retr(1)
        self.assertEqual(str(e.exception), str(b"-ERR no such message"))
        b.quit()


class RefusalTest(Pop3TestCase):
    def test_login_failures(self):
        self.start()
        p = self.pop()
        with self.assertRaises(poplib.error_proto):
            p.pass_("x")  # before USER
        p.user("../admin")
        with self.assertRaises(poplib.error_proto) as e:
            p.pass_(ADMIN_PASSWORD)
        self.assertEqual(str(e.exception), str(b"-ERR login failed"))
        p.user("admin")
        with self.assertRaises(poplib.error_proto):
            p.pass_("wrong")
        with self.assertRaises(poplib.error_proto) as e:
            p.stat()
        self.assertEqual(str(e.exception), str(b"-ERR Command not valid in this state"))
        p.quit()

    def test_ip_filter_forbids(self):
        self.home.set_value("IpFilter", "Addresses", REG_BINARY, encode_list([b"127.0.0.1"]))
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.pop3_port), timeout=10) as s:
            self.assertEqual(s.makefile("rb").read(), b"-ERR forbidden\r\n")
        self.assertTrue(self.home.wait_log("<POP3> 拒絕連線：IP位址已被伺服器封鎖！"))

    def test_overflow_ends_session(self):
        self.start()
        with socket.create_connection(("127.0.0.1", self.server.pop3_port), timeout=10) as s:
            f = s.makefile("rb")
            f.readline()
            s.sendall(b"x" * 8193)
            self.assertEqual(f.read(), b"")
        self.assertTrue(self.home.wait_log("<POP3> 緩衝區溢位！"))

    def test_large_message_does_not_block_others(self):
        self.start()
        big = os.path.join(self.home.path, "Mailboxes", "admin", "BIG.eml")
        with open(big, "wb") as f:
            f.write((b"x" * 998 + b"\r\n") * 30000)  # about 30 MB
        slow = socket.create_connection(("127.0.0.1", self.server.pop3_port), timeout=30)
        f = slow.makefile("rb")
        f.readline()
        slow.sendall(b"USER admin\r\nPASS \r\nRETR 1\r\n")
        f.readline()
        f.readline()  # the reader now stalls with most of the message unsent
        started = time.monotonic()
        p = self.pop()
        p.user("admin")
        p.pass_(ADMIN_PASSWORD)
        self.assertEqual(p.stat()[0], 1)
        p.quit()
        self.assertLess(time.monotonic() - started, 5)
        slow.close()



class SoundReadingTest(Pop3TestCase):
    def test_last_bcc_and_lone_dots(self):
        self.start()
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            c.login("admin", ADMIN_PASSWORD)
            # hidden-bcc is a Bcc recipient: named in no header.
            c.sendmail("admin@example.com", ["admin@example.com", "hidden-bcc@far.net"],
                       "Subject: dots\r\nTo: <admin@example.com>\r\n\r\nbefore\r\n..\r\nafter\r\n")
        self.wait_mail("admin")
        p = self.pop()
        p.user("admin")
        p.pass_(ADMIN_PASSWORD)
        self.assertEqual(p._shortcmd("LAST"), b"+OK 0")  # fetchmail asks first
        _, lines, _ = p.retr(1)
        text = b"\r\n".join(lines)
        self.assertNotIn(b"hidden-bcc", text)
        # The line ".." the sender wrote arrives as it was, and the text goes on.
        at = lines.index(b"before")
        self.assertEqual(lines[at:at + 3], [b"before", b"..", b"after"])
        self.assertEqual(p._shortcmd("LAST"), b"+OK 1")
        p.quit()

if __name__ == "__main__":
    unittest.main()
