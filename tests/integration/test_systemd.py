"""osprey as systemd sees it: readiness and stopping notices on a notify
socket of the test's own, journal lines through a fake JOURNAL_STREAM, and
the service verbs mapped onto a unit through a stand-in systemctl."""

import os
import signal
import socket
import stat
import subprocess
import tempfile
import textwrap
import unittest

from heron_env import HERONCTL, HeronHome, Osprey, wait_for


class SystemdTestCase(unittest.TestCase):
    def setUp(self):
        self.home = HeronHome()
        self.folder = tempfile.mkdtemp(prefix="heron-sd-")
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop(signal.SIGKILL)
        subprocess.run(["rm", "-rf", self.folder])
        self.home.cleanup()


class NotifyAndJournalTest(SystemdTestCase):
    def test_ready_reloading_stopping(self):
        path = os.path.join(self.folder, "notify")
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        sock.bind(path)
        sock.settimeout(20)
        self.home.env["NOTIFY_SOCKET"] = path
        self.server = Osprey(self.home).start()
        self.assertEqual(sock.recv(256), b"READY=1")
        self.assertEqual(self.home.run("-c").returncode, 0)  # what ExecReload runs
        self.assertEqual(sock.recv(256), b"RELOADING=1")
        self.assertEqual(sock.recv(256), b"READY=1")
        self.server.proc.send_signal(signal.SIGTERM)
        self.assertEqual(sock.recv(256), b"STOPPING=1")
        self.assertEqual(self.server.proc.wait(30), 0)
        sock.close()

    def test_journal_gets_every_line_in_plain_text(self):
        err = os.path.join(self.folder, "stderr")
        with open(err, "wb") as f:
            st = os.fstat(f.fileno())
            self.home.env["JOURNAL_STREAM"] = "%d:%d" % (st.st_dev, st.st_ino)
            s = Osprey(self.home)
            proc = subprocess.Popen([os.environ.get("OSPREY", "osprey"), "-d"], env=self.home.env,
                                    stdout=subprocess.DEVNULL, stderr=f)
        try:
            self.assertTrue(wait_for(lambda: "行程已啟動" in open(err, encoding="utf-8").read()))
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(30)
        lines = open(err, encoding="utf-8").read().splitlines()
        self.assertIn("<6>", lines[0][:3])
        self.assertTrue(any(l.startswith("<6>[") and "<SMTP> 行程已啟動，通訊埠 %d。" % s.smtp_port in l
                            for l in lines), lines[:5])
        self.assertTrue(any("郵件伺服器行程已停止" in l for l in lines))
        self.assertFalse(any(l.startswith("osprey: ") for l in lines))  # no second copy


STAND_IN = textwrap.dedent("""\
    #!/bin/sh
    # A stand-in systemctl: records its calls, keeps the unit's state in files.
    dir=$(dirname "$0")
    echo "$*" >>"$dir/calls"
    case "$1" in
      show) prop=$3
            case $prop in
              LoadState) echo "LoadState=loaded" ;;
              UnitFileState) echo "UnitFileState=$(cat "$dir/enabled" 2>/dev/null || echo disabled)" ;;
              ActiveState) echo "ActiveState=$(cat "$dir/active" 2>/dev/null || echo inactive)" ;;
              MainPID) echo "MainPID=4242" ;;
              ExecStart) echo "ExecStart={ path=/usr/sbin/osprey ; argv[]=/usr/sbin/osprey -d ; }" ;;
              Description) echo "Description=Heron mail service" ;;
            esac ;;
      enable) echo enabled >"$dir/enabled" ;;
      disable) echo disabled >"$dir/enabled" ;;
      start) echo active >"$dir/active" ;;
      stop) echo inactive >"$dir/active" ;;
    esac
    """)


class UnitMappingTest(SystemdTestCase):
    def test_verbs_and_status_go_to_the_unit(self):
        tool = os.path.join(self.folder, "systemctl")
        with open(tool, "w") as f:
            f.write(STAND_IN)
        os.chmod(tool, stat.S_IRWXU)
        env = dict(self.home.env, HERON_SYSTEMD="1", PATH=self.folder + ":" + os.environ["PATH"])
        run = lambda *a: subprocess.run(list(a), env=env, capture_output=True, timeout=60)
        osprey = os.environ.get("OSPREY", "osprey")
        self.assertEqual(run(osprey, "-i").returncode, 0)
        self.assertEqual(run(osprey, "-s").returncode, 0)
        status = run(HERONCTL, "--home", self.home.path, "status")
        self.assertIn(b"running", status.stdout.lower() + status.stderr.lower())
        self.assertEqual(run(osprey, "-e").returncode, 0)
        self.assertEqual(run(osprey, "-u").returncode, 0)
        calls = open(os.path.join(self.folder, "calls")).read().splitlines()
        self.assertEqual([c for c in calls if not c.startswith("show")],
                         ["enable heron.service", "start --no-block heron.service",
                          "stop --no-block heron.service", "disable heron.service"])
        # The small manager's own list was never written.
        self.assertIsNone(self.home.get_value(
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Heron Mail Service",
            "ImagePath"))


if __name__ == "__main__":
    unittest.main()
