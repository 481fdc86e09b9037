"""Remote administration over SMTP against the real osprey: accounts are
listed, added, changed and deleted, and the trace log is mailed."""

import base64
import poplib
import smtplib
import unittest

from heron_env import ADMIN_PASSWORD, MailTestCase, mailbox_files, wait_for


def b64(text):
    return base64.b64encode(text.encode("cp950")).decode()


class AdminTest(MailTestCase):
    def setUp(self):
        super().setUp()
        self.home.set_number("ManageRemote", 1)
        self.start()

    def client(self):
        c = smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10)
        c.ehlo()
        return c

    def admn(self, c, task, password=ADMIN_PASSWORD):
        self.assertEqual(c.docmd("ADMN"), (334, b"UGFzc3dvcmQ6"))
        self.assertEqual(c.docmd(b64(password)), (334, b"TASK"))
        return c.docmd(b64(task))

    def test_accounts_round_trip(self):
        c = self.client()
        try:
            code, text = self.admn(c, "QUSR")
            self.assertEqual(code, 250)
            self.assertEqual(text.decode("cp950"),
                             "User Accounts:\n帳號：[ admin ]  全名:Administrator\nOK")
            self.assertEqual(self.admn(c, "qusr")[0], 500)  # task words are exact
            self.assertEqual(c.docmd(b64("NONE")), (250, b"OK"))
            # AUSR: a new account that POP3 then accepts.
            self.assertEqual(self.admn(c, "AUSR"), (334, b"VXNlcm5hbWU6"))
            self.assertEqual(c.docmd(b64("carol")), (334, b"UGFzc3dvcmQ6"))
            self.assertEqual(c.docmd(b64("s3cret")), (250, b"A new user account is created!"))
            # An unsafe name is refused; the dialogue stays on the password.
            self.admn(c, "AUSR")
            c.docmd(b64("../evil"))
            self.assertEqual(c.docmd(b64("x")), (501, b"Fail to add account!"))
            # Every line is now a password again, QUIT included.
            self.assertEqual(c.docmd("QUIT"), (501, b"Fail to add account!"))
        finally:
            c.close()
        p = poplib.POP3("127.0.0.1", self.server.pop3_port, timeout=10)
        p.user("carol")
        self.assertEqual(p.pass_("S3CRET"), b"+OK authentication successful")
        p.quit()
        log = self.home.log_text()
        self.assertNotIn(b64("s3cret"), log)
        self.assertIn("<SMTP> ****", log)
        with self.client() as c:
            self.admn(c, "DUSR")
            self.assertEqual(c.docmd(b64("nobody")), (250, b"A user account is deleted!"))
            self.admn(c, "EUSR")
            c.docmd(b64("ghost"))
            self.assertEqual(c.docmd(b64("pw")), (501, b"Fail to change user's password!"))

    def test_cpwd_then_auth_login(self):
        with self.client() as c:
            self.assertEqual(c.docmd("CPWD"), (334, b"VXNlcm5hbWU6"))
            c.docmd(b64("admin"))
            self.assertEqual(c.docmd(b64(ADMIN_PASSWORD)), (334, b"UGFzc3dvcmQ6"))
            self.assertEqual(c.docmd(b64("n3w")), (250, b"OK"))
        with self.client() as c:
            c.user, c.password = "admin", "n3w"
            self.assertEqual(c.auth("LOGIN", c.auth_login, initial_response_ok=False)[0], 235)
            self.assertEqual(c.docmd("ADMN"), (334, b"UGFzc3dvcmQ6"))
            # The old admin password is gone.
            self.assertEqual(c.docmd(b64(ADMIN_PASSWORD)), (501, b"Authentication failed."))

    def test_vlog_mails_the_trace_log(self):
        with self.client() as c:
            self.assertEqual(self.admn(c, "VLOG"), (334, b"UGFzc3dvcmQ6"))
            self.assertEqual(c.docmd(b64("admin@example.com")), (250, b"Log Sent!"))
        self.assertTrue(wait_for(lambda: len(mailbox_files(self.home, "admin")) == 1))
        (name, content), = mailbox_files(self.home, "admin").items()
        head, _, body = content.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"x-sender: <admin@example.com>\r\n"
                                        b"x-receiver: admin@example.com\r\nReceived: from "))
        self.assertIn("Subject: 系統紀錄".encode("cp950"), head)
        self.assertIn(b"To: <admin@example.com>", head)
        self.assertIn("<SMTP> 行程已啟動".encode("cp950"), body)
        self.assertTrue(content.endswith(b"\r\n\r\n."))

    def test_disabled_commands(self):
        self.home.set_number("ManageRemote", 0)
        self.home.set_number("CpwdRemote", 0)
        self.home.run("-c")
        self.assertTrue(self.home.wait_log("載入系統設定值..."))
        with self.client() as c:
            self.assertEqual(c.docmd("ADMN"), (500, b"Command not implemented."))
            self.assertEqual(c.docmd("CPWD"), (500, b"Command not implemented."))
            self.assertEqual(c.noop()[0], 250)


if __name__ == "__main__":
    unittest.main()
