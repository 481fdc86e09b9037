"""The real osprey on loopback: start, reload, clear, stop, service verbs."""

import os
import signal
import socket
import stat
import struct
import subprocess
import time
import unittest

from heron_env import (HeronHome, Osprey, REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_SZ, ROOT,
                       encode_list, free_port, port_open, wait_for)

SERVICE_KEY = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Heron Mail Service"
EVENTLOG_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\"
                "Application\\Heron Mail Service")


class OspreyTestCase(unittest.TestCase):
    def setUp(self):
        self.home = HeronHome()
        self.servers = []

    def tearDown(self):
        for s in self.servers:
            s.stop(signal.SIGKILL)
        self.home.cleanup()

    def osprey(self, **kw):
        s = Osprey(self.home, **kw)
        self.servers.append(s)
        return s


class ConsoleModeTest(OspreyTestCase):
    def test_serves_both_ports_and_logs_start(self):
        s = self.osprey().start()
        self.assertTrue(self.home.wait_log("<SMTP> 行程已啟動，通訊埠 %d。" % s.smtp_port))
        log = self.home.log_text()
        self.assertIn("<POP3> 行程已啟動，通訊埠 %d。" % s.pop3_port, log)
        # Every line: [tid]MM/DD/YYYY hh:mm:ss.mmm text CR LF
        with open(self.home.log_path(), "rb") as f:
            raw = f.read()
        self.assertTrue(raw.endswith(b"\r\n"))
        first = raw.split(b"\r\n")[0].decode("cp950")
        self.assertRegex(first, r"^\[\d+\]\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} <POP3> ")
        # The store and the run folder are private to the owner.
        self.assertEqual(stat.S_IMODE(os.stat(self.home.db).st_mode), 0o600)
        fifo = os.path.join(self.home.path, "run", "Heron Mail Service Event")
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertEqual(stat.S_IMODE(os.stat(fifo).st_mode), 0o666)

    def test_minute_timer_writes_its_counters(self):
        self.osprey().start()
        key = ROOT + "\\CheckTimer"
        counters = lambda: [self.home.get_value(key, n) for n in ("XRelayTimer", "ZRelayTimer")]
        one = (REG_DWORD, struct.pack("<I", 1))
        self.assertTrue(wait_for(lambda: counters() == [one, one], 80), counters())

    def test_second_body_returns_at_once(self):
        s = self.osprey().start()
        started = time.monotonic()
        r = self.home.run("-d", timeout=20)
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(r.returncode, 2)  # a second service body is a failure
        self.assertIsNone(s.proc.poll())
        self.assertTrue(port_open(s.smtp_port) and port_open(s.pop3_port))

    def test_reload_event_reloads_settings(self):
        s = self.osprey().start()
        self.assertTrue(self.home.wait_log("<SMTP> 行程已啟動"))
        r = self.home.run("-c")
        self.assertEqual(r.returncode, 0)
        self.assertTrue(self.home.wait_log("載入系統設定值..."))
        # A log setting changed by a reload reopens the log in the new folder.
        new_folder = os.path.join(self.home.path, "logs")
        os.mkdir(new_folder)
        self.home.set_text("LogPath", new_folder)
        self.home.run("-c")
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(new_folder, "Mailtrace.log"))))
        self.assertIsNone(s.proc.poll())

    def test_clear_log_event_starts_a_new_log(self):
        self.osprey().start()
        self.assertTrue(self.home.wait_log("<SMTP> 行程已啟動"))
        fifo = os.path.join(self.home.path, "run", "Heron Mail Server Clear Log")
        fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        os.write(fd, b"\1\1")
        os.close(fd)
        self.assertTrue(wait_for(lambda: "*** 開新記錄檔 ***" in self.home.log_text()))
        text = self.home.log_text()
        self.assertNotIn("<SMTP> 行程已啟動", text)
        # The new file starts with the marker line (no thread id).
        self.assertRegex(text, r"^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} \*\*\* 開新記錄檔 \*\*\*\r\n")

    def test_sigterm_stops_with_log_line(self):
        s = self.osprey().start()
        self.assertTrue(self.home.wait_log("<SMTP> 行程已啟動"))
        self.assertEqual(s.stop(signal.SIGTERM), 0)
        self.assertIn("郵件伺服器行程已停止", self.home.log_text())
        self.assertFalse(port_open(s.smtp_port))
        # The mutex is released: a new body can start on the same data root.
        self.osprey(pop3_port=s.pop3_port, smtp_port=s.smtp_port).start()

    def test_sigint_and_sighup_stop_too(self):
        for sig in (signal.SIGINT, signal.SIGHUP):
            s = self.osprey().start()
            self.assertEqual(s.stop(sig), 0)

    def test_smtp_port_taken_keeps_pop3(self):
        blocker = socket.socket()
        blocker.bind(("0.0.0.0", 0))
        blocker.listen(1)
        try:
            taken = blocker.getsockname()[1]
            s = self.osprey(smtp_port=taken).start(wait_ports=False)
            self.assertTrue(wait_for(lambda: port_open(s.pop3_port)))
            self.assertTrue(self.home.wait_log("<SMTP> 無法以通訊埠 %d " % taken))
            log = self.home.log_text()
            self.assertTrue("<SMTP> 無法以通訊埠 %d 建立 SMTP 通訊端。" % taken in log
                            or "<SMTP> 無法以通訊埠 %d 啟動 SMTP 行程。" % taken in log)
            self.assertIsNone(s.proc.poll())
        finally:
            blocker.close()

    def test_log_level_one_drops_information(self):
        self.home.set_number("LogLevel", 1)
        blocker = socket.socket()
        blocker.bind(("0.0.0.0", 0))
        blocker.listen(1)
        try:
            taken = blocker.getsockname()[1]
            s = self.osprey(pop3_port=taken).start(wait_ports=False)
            self.assertTrue(self.home.wait_log("<POP3> 無法以通訊埠 %d" % taken))
            s.stop()
            self.assertNotIn("行程已啟動", self.home.log_text())
            self.assertNotIn("郵件伺服器行程已停止", self.home.log_text())
        finally:
            blocker.close()

    def test_undecodable_list_is_logged_and_service_runs(self):
        # Ends inside its second entry.
        self.home.set_value("IpFilter", "Addresses", REG_BINARY, b"\x02\x00\x01a\x05ab")
        s = self.osprey().start()
        self.assertTrue(self.home.wait_log("IpFilter\\Addresses"))
        self.assertIsNone(s.proc.poll())

    def test_defaults_are_not_written_back(self):
        s = self.osprey().start()
        self.assertTrue(self.home.wait_log("<SMTP> 行程已啟動"))
        s.stop()
        for sub in ("Settings", "Domains", "IpFilter", "SafeIp", "ForwardRules", "CopyRules",
                    "BlockMailFrom", "BlockMailFrom2", "Relay"):
            self.assertTrue(self.home.key_exists(ROOT + "\\" + sub), sub)
        self.assertIsNone(self.home.get_value(ROOT + "\\Settings", "LogLevel"))
        self.assertIsNone(self.home.get_value(ROOT + "\\Domains", "Extensions"))


class BadStoreTest(unittest.TestCase):
    def test_not_a_store_is_a_clear_error(self):
        home = HeronHome()
        try:
            with open(home.db, "wb") as f:
                f.write(b"this is not a settings store" * 100)
            r = home.run("-d", timeout=20)
            self.assertNotEqual(r.returncode, 0)
            self.assertNotEqual(r.returncode, 1)
            self.assertIn(b"settings store", r.stderr)
            self.assertLess(r.returncode, 128)  # an exit, not a signal
        finally:
            home.cleanup()

    def test_unwritable_home_is_a_clear_error(self):
        home = HeronHome()
        try:
            if os.geteuid() == 0:
                # root ignores modes: make the data root a plain file instead.
                os.rmdir(home.path)
                open(home.path, "w").close()
            else:
                os.chmod(home.path, 0o500)
            r = home.run("-d", timeout=20)
            self.assertNotIn(r.returncode, (0, 1))
            self.assertLess(r.returncode, 128)
            self.assertIn(b"settings store", r.stderr)
        finally:
            if os.path.isfile(home.path):
                os.unlink(home.path)
            else:
                os.chmod(home.path, 0o700)
            home.cleanup()


class BlockedEventTest(OspreyTestCase):
    def test_event_that_cannot_be_made_ends_in_order(self):
        os.makedirs(os.path.join(self.home.path, "run", "Heron Mail Service Event"))
        r = self.home.run("-d", timeout=20)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"cannot create the events", r.stderr)


class ServiceVerbsTest(OspreyTestCase):
    def test_install_start_stop_remove(self):
        s = Osprey(self.home)
        r = self.home.run("-i")
        self.assertEqual(r.returncode, 0, r.stderr)
        typ, data = self.home.get_value(SERVICE_KEY, "ImagePath")
        self.assertEqual(typ, REG_EXPAND_SZ)
        self.assertEqual(data, os.path.realpath(os.environ["OSPREY"]).encode() + b"\0")
        self.assertEqual(self.home.get_value(SERVICE_KEY, "Type"), (REG_DWORD, struct.pack("<I", 0x10)))
        self.assertEqual(self.home.get_value(SERVICE_KEY, "Start"), (REG_DWORD, struct.pack("<I", 2)))
        self.assertEqual(self.home.get_value(SERVICE_KEY, "ObjectName"), (REG_SZ, b"LocalSystem\0"))
        self.assertEqual(self.home.get_value(EVENTLOG_KEY, "TypesSupported"),
                         (REG_DWORD, struct.pack("<I", 7)))
        self.assertEqual(self.home.run("-i").returncode, 0)  # already installed

        r = self.home.run("-s", timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(wait_for(lambda: port_open(s.smtp_port) and port_open(s.pop3_port)))
        with open(os.path.join(self.home.path, "run", "Heron Mail Service.status")) as f:
            status = f.read()
        self.assertIn("state 4", status)
        self.assertEqual(self.home.run("-s", timeout=60).returncode, 1)  # already running

        r = self.home.run("-e", timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(port_open(s.smtp_port))
        self.assertIn("郵件伺服器行程已停止", self.home.log_text())
        self.assertEqual(self.home.run("-e", timeout=60).returncode, 1)  # not running

        r = self.home.run("-u")
        self.assertEqual(r.returncode, 0)
        self.assertIsNone(self.home.get_value(SERVICE_KEY, "ImagePath"))
        self.assertEqual(self.home.run("-u").returncode, 0)  # not installed: still success

    def test_start_of_a_service_that_dies_at_once_fails(self):
        self.assertEqual(self.home.run("-i").returncode, 0)
        self.home.set_value(None, "ImagePath", REG_EXPAND_SZ, b"/bin/false\0", key=SERVICE_KEY)
        started = time.monotonic()
        self.assertEqual(self.home.run("-s", timeout=30).returncode, 1)
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(self.home.run("-e", timeout=30).returncode, 1)

    def test_dispatcher_refuses_without_service_manager(self):
        r = self.home.run()
        self.assertEqual(r.returncode, 1)
        # An unknown verb letter also means the dispatcher.
        self.assertEqual(self.home.run("-x").returncode, 1)
        self.assertIn(b"Heron Mail Service", r.stdout)

    def test_gnu_options(self):
        r = self.home.run("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"-d  run in the console", r.stdout)
        self.assertEqual(self.home.run("--version").returncode, 0)
        # "--stop" is no verb "-s": refused, nothing started.
        r = self.home.run("--stop")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"unknown option --stop", r.stderr)
        r = self.home.run("-s")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not installed", r.stderr)

    def test_reload_verb_without_service_is_harmless(self):
        self.assertEqual(self.home.run("-c").returncode, 0)


if __name__ == "__main__":
    unittest.main()
