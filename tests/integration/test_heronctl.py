"""heronctl against a real store and a running osprey: settings checked by
the table's rules, lists with their duplicate rules, accounts with passwords
from standard input, reload seen by the service."""

import os
import poplib
import smtplib
import subprocess
import unittest

from heron_env import ADMIN_PASSWORD, MailTestCase, Osprey, port_open, wait_for

HERONCTL = os.environ.get("HERONCTL", "heronctl")


class HeronctlTest(MailTestCase):
    def ctl(self, *args, stdin=None):
        r = subprocess.run([HERONCTL, "--home", self.home.path, *args], input=stdin,
                           capture_output=True, text=True, timeout=30)
        return r.returncode, r.stdout, r.stderr

    def test_settings_are_checked_and_refusals_write_nothing(self):
        self.assertEqual(self.ctl("show", "Port")[1], "Port = 110  (default)\n")
        for name, value in (("Port", "70000"), ("Port", "12x"), ("LogLevel", "4"),
                            ("NoSuchSetting", "1"), ("RetryTimes", "-1"),
                            ("SpamTag", "x" * 25), ("IpCacheSize", "101")):
            code, _, err = self.ctl("set", name, value)
            self.assertEqual(code, 1, name)
            self.assertTrue(err.startswith("heronctl: "), err)
        self.assertEqual(self.ctl("show", "Port", "LogLevel")[1],
                         "LogLevel = 2  (default)\nPort = 110  (default)\n")
        self.assertEqual(self.ctl("set", "ServerID", "郵件伺服器")[0], 0)
        self.assertEqual(self.ctl("show", "serverid")[1], "ServerID = 郵件伺服器\n")
        self.assertEqual(self.ctl("reset", "ServerID")[0], 0)
        self.assertIn("(default)", self.ctl("show", "ServerID")[1])
        self.assertEqual(self.ctl("frobnicate")[0], 2)
        self.assertEqual(self.ctl("--help")[0], 0)

    def test_lists_keep_their_rules(self):
        self.assertEqual(self.ctl("add", "Domains", "second.org")[0], 0)
        self.assertEqual(self.ctl("add", "Domains", "SECOND.org")[0], 1)  # duplicate
        self.assertEqual(self.ctl("list", "Domains")[1], "example.com\nsecond.org\n")
        self.assertEqual(self.ctl("add", "ForwardRules", "a@example.com|b@example.com")[0], 0)
        self.assertEqual(self.ctl("add", "ForwardRules", "b@example.com|a@example.com")[0], 1)
        self.assertEqual(self.ctl("add", "ForwardRules", "no bar")[0], 1)
        self.assertEqual(self.ctl("add", "CopyRules", "bob|BOB")[0], 1)  # to itself
        self.assertEqual(self.ctl("show", "NoSuchList")[0], 1)
        self.assertEqual(self.ctl("remove", "Domains", "nowhere.org")[0], 1)
        self.assertEqual(self.ctl("remove", "Domains", "second.org")[0], 0)
        self.assertEqual(self.ctl("list", "Domains")[1], "example.com\n")

    def test_accounts_and_reload_reach_the_running_service(self):
        self.start()
        self.assertEqual(self.ctl("user", "add", "carol", "--full-name", "Carol", stdin="pw1\n")[0], 0)
        self.assertEqual(self.ctl("user", "add", "carol", stdin="x\n")[0], 1)
        self.assertEqual(self.ctl("user", "add", "../x", stdin="x\n")[0], 1)
        self.assertEqual(self.ctl("user", "remove", "admin")[0], 1)
        self.assertEqual(self.ctl("user", "add", "Bert", stdin="pw\n")[0], 0)
        # Stored in the applet's order: by name, case ignored.
        self.assertEqual([l.split()[0] for l in self.ctl("user", "list")[1].splitlines()],
                         ["admin", "Bert", "carol"])
        self.assertIn("carol  Carol\n", self.ctl("user", "list")[1])
        self.assertEqual(self.ctl("user", "passwd", "carol", stdin="pw2\n")[0], 0)
        # A new local domain is refused until the service reloads.
        self.assertEqual(self.ctl("add", "Domains", "later.org")[0], 0)
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            c.ehlo()
            c.mail("x@far.net")
            self.assertEqual(c.rcpt("carol@later.org")[0], 551)
        self.assertEqual(self.ctl("reload")[0], 0)
        self.assertTrue(self.home.wait_log("載入系統設定值..."))  # the start's line is never written
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            c.sendmail("x@far.net", ["carol@later.org"], "Subject: hi\r\n\r\nhello\r\n")
        self.wait_mail("carol")
        p = poplib.POP3("127.0.0.1", self.server.pop3_port, timeout=10)
        p.user("carol")
        p.pass_("pw2")
        self.assertEqual(p.stat()[0], 1)
        p.quit()
        self.assertIn("<POP3> PASS ****", self.ctl("log", "-n", "50")[1])

    def test_queue_backup_and_restore(self):
        self.start()
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=10) as c:
            c.login("admin", ADMIN_PASSWORD)
            c.sendmail("admin@example.com", ["far@far.net"], "Subject: out\r\n\r\nx\r\n")
        self.wait_mail("queue")
        code, out, _ = self.ctl("queue")
        self.assertEqual(code, 0)
        folder, ident, _, _, sender, recipients = out.splitlines()[0].split("\t")
        self.assertEqual((folder, sender, recipients), ("queue", "<admin@example.com>", "<far@far.net>"))
        self.assertRegex(ident, r"^[0-9A-F]{32}$")

        backup = os.path.join(self.home.path, "settings-backup.db")
        self.assertEqual(self.ctl("backup", backup)[0], 0)
        self.assertEqual(self.ctl("set", "Timeout", "30")[0], 0)
        code, _, err = self.ctl("restore", backup)
        self.assertEqual(code, 1)  # refused while the service runs
        self.assertIn("stop it first", err)
        self.server.stop()
        self.assertEqual(self.ctl("restore", backup)[0], 0)
        self.assertEqual(self.ctl("show", "Timeout")[1], "Timeout = 90  (default)\n")

    def test_service_control_and_account_removal(self):
        self.assertIn("not installed", self.ctl("status")[1])
        self.assertEqual(self.ctl("start")[0], 1)
        server = Osprey(self.home)  # free ports for the installed service
        self.assertEqual(self.home.run("-i").returncode, 0)
        self.assertEqual(self.ctl("status")[1], "stopped\n")
        try:
            self.assertEqual(self.ctl("start")[0], 0)
            self.assertTrue(wait_for(lambda: port_open(server.smtp_port)))
            self.assertTrue(self.ctl("status")[1].startswith("running (pid "))
        finally:
            self.assertEqual(self.ctl("stop")[0], 0)
        self.assertEqual(self.ctl("status")[1], "stopped\n")
        self.home.run("-u")

        self.assertEqual(self.ctl("user", "add", "dave", stdin="pw\n")[0], 0)
        box = os.path.join(self.home.path, "Mailboxes", "dave")
        os.makedirs(box, exist_ok=True)
        open(os.path.join(box, "m.eml"), "w").close()
        self.assertEqual(self.ctl("user", "remove", "dave", "--delete-mail")[0], 0)
        self.assertFalse(os.path.exists(box))
        self.assertNotIn("dave", self.ctl("user", "list")[1])


if __name__ == "__main__":
    unittest.main()
