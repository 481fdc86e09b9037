"""The configuration applet on a real display (Xvfb), driven through the
accessibility interface against a running osprey -d."""

import os
import poplib
import shutil
import smtplib
import struct
import subprocess
import unittest

from heron_env import ROOT, MailTestCase

KESTREL = os.environ.get("KESTREL", "kestrel")
SKYLARK = os.environ.get("SKYLARK", "skylark")
DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kestrel_driver.py")
RELOAD = "載入系統設定值..."


def desktop_available():
    return all(shutil.which(p) for p in ("xvfb-run", "dbus-run-session")) and \
        subprocess.run(["/usr/bin/python3", "-c", "import gi; gi.require_version('Atspi', '2.0')"],
                       capture_output=True).returncode == 0


@unittest.skipUnless(desktop_available(), "needs Xvfb, a session bus and the AT-SPI bindings")
class KestrelDesktopTest(MailTestCase):
    def drive(self, *steps, program=KESTREL):
        env = dict(self.home.env, ASAN_OPTIONS="detect_leaks=0")
        r = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                            "dbus-run-session", "--", "/usr/bin/python3", DRIVER, program, *steps],
                           env=env, capture_output=True, text=True, timeout=120)
        self.assertIn("ok", r.stdout, "exit %d\n%s%s" % (r.returncode, r.stdout, r.stderr))

    def number(self, name):
        row = self.home.get_value(ROOT + "\\Settings", name)
        return struct.unpack("<i", row[1])[0] if row else None

    def test_a_setting_changed_in_the_sheet_reaches_the_running_service(self):
        self.start()  # the start's own reading is never logged
        self.drive("set:檔案限制：=7", "tab:進階設定", "set:最大連線數：=321",
                   "check:允許遠端管理  ( 請確定有此需求再開啟，並經常更換管理者密碼 )",
                   "press:確定", "wait-exit")
        self.assertEqual(self.number("MaxLog"), 7)
        self.assertEqual(self.number("ConnectionsLimit"), 321)
        self.assertEqual(self.number("ManageRemote"), 1)
        # OK told the service, which read its settings again.
        self.assertTrue(self.home.wait_log(RELOAD), self.home.log_text())

    def test_a_domain_and_an_account_added_in_the_sheet_receive_mail(self):
        self.start()
        self.drive("tab:網域名稱", "press:新增(A)...", "in:新增網域名稱",
                   "set:網域名稱：=example.org", "press:確定", "in:",
                   "tab:郵件帳號", "press:新增", "in:新增郵件帳號", "set:帳號：=carol",
                   "set:密碼：=carol-secret", "set:全名：=Carol", "press:確定", "in:",
                   "press:確定", "wait-exit")
        self.assertTrue(self.home.wait_log(RELOAD), self.home.log_text())
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=30) as s:
            s.sendmail("someone@far.example", ["carol@example.org"],
                       b"Subject: hello\r\n\r\nfrom the sheet\r\n")
        mail = self.wait_mail("carol")
        self.assertIn(b"from the sheet", list(mail.values())[0])
        pop = poplib.POP3("127.0.0.1", self.server.pop3_port, timeout=30)
        try:
            pop.user("carol")
            pop.pass_("carol-secret")
            self.assertEqual(pop.stat()[0], 1)
        finally:
            pop.quit()

    def test_the_diagnosis_tool_runs_from_its_labelled_controls(self):
        # Started as the applet starts it, without a DNS server: the run
        # stops at its first check, in the result list.
        self.drive("set:網域名稱：=Example.ORG", "press:開始測試",
                   "expect:開始進行 [ Example.ORG ]之 DNS 與網路設定測試...",
                   "expect:無法取得 DNS 伺服器資料。", program=SKYLARK + ",/H:placeholder.test")

    def test_cancel_writes_nothing_and_tells_nobody(self):
        self.start()
        self.drive("set:檔案限制：=9", "press:取消", "wait-exit")
        self.assertIsNone(self.number("MaxLog"))
        self.assertNotIn(RELOAD, self.home.log_text())


if __name__ == "__main__":
    unittest.main()
