"""The Debian package: built with scripts/build-deb.sh, installed on this
machine (as root), its osprey run under a notify socket of the test's own,
reloaded without systemctl, and removed again, leaving the data root."""

import glob
import os
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import unittest

from heron_env import HeronHome, free_port, port_open, wait_for

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def installed(pkg):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", pkg], capture_output=True, text=True)
    return "install ok installed" in r.stdout


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("dpkg") and shutil.which("apt-get"),
                     "needs root on Debian")
class PackageTest(unittest.TestCase):
    def test_build_install_run_remove(self):
        if installed("heron"):
            self.skipTest("a heron package is installed here already")
        r = subprocess.run(["bash", "scripts/build-deb.sh"], cwd=ROOT, capture_output=True,
                           text=True, timeout=900)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        debs = glob.glob(os.path.join(ROOT, "build-deb", "heron_*_*.deb"))
        self.assertEqual(len(debs), 1, debs)
        r = subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", debs[0]],
                           capture_output=True, text=True, timeout=600,
                           env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        try:
            self.check_installed()
        finally:
            r = subprocess.run(["apt-get", "remove", "-y", "-qq", "heron"], capture_output=True,
                               text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertFalse(os.path.exists("/usr/sbin/osprey"))
        self.assertTrue(os.path.isdir("/var/lib/heron"))  # the mail stays

    def check_applet_opens(self):
        """The installed kestrel finds its library and shows the sheet (which
        then waits for the user) instead of ending at once."""
        home = HeronHome()
        try:
            env = dict(home.env, QT_QPA_PLATFORM="offscreen")
            proc = subprocess.Popen(["/usr/bin/kestrel"], env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT)
            try:
                out = proc.communicate(timeout=3)[0]
                self.fail("kestrel ended: %r" % out)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
        finally:
            home.cleanup()

    def check_installed(self):
        for path in ("/usr/sbin/osprey", "/usr/bin/heronctl", "/usr/lib/systemd/system/heron.service",
                     "/usr/share/man/man8/osprey.8", "/usr/share/man/man8/heronctl.8",
                     "/usr/bin/kestrel", "/usr/share/applications/kestrel.desktop",
                     "/usr/bin/skylark", "/usr/sbin/skylark", "/usr/share/man/man1/kestrel.1",
                     "/usr/share/man/man1/skylark.1",
                     "/usr/share/icons/hicolor/scalable/apps/heron-kestrel.svg"):
            self.assertTrue(os.path.exists(path), path)
        self.assertTrue(glob.glob("/usr/lib/*/heron/libkestrel.so"))
        # The diagnosis tool, beside the service program too, runs.
        r = subprocess.run(["/usr/sbin/skylark", "--text", "/H:example.com"], capture_output=True,
                           text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn("無法取得 DNS 伺服器資料。", r.stdout)
        self.check_applet_opens()
        self.assertEqual(stat.S_IMODE(os.stat("/var/lib/heron").st_mode), 0o700)
        if shutil.which("systemd-analyze"):
            r = subprocess.run(["systemd-analyze", "verify", "/usr/lib/systemd/system/heron.service"],
                               capture_output=True, text=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # The installed service on a data root of the test's own.
        home = HeronHome()
        folder = tempfile.mkdtemp(prefix="heron-pkg-")
        try:
            env = dict(home.env, NOTIFY_SOCKET=os.path.join(folder, "notify"))
            smtp, pop3 = free_port(), free_port()
            for name, value in (("SmtpPort", smtp), ("Port", pop3)):
                subprocess.run(["/usr/bin/heronctl", "--home", home.path, "set", name, str(value)],
                               check=True, capture_output=True)
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            sock.bind(env["NOTIFY_SOCKET"])
            sock.settimeout(30)
            proc = subprocess.Popen(["/usr/sbin/osprey", "-d"], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                self.assertEqual(sock.recv(64), b"READY=1")
                self.assertTrue(port_open(smtp) and port_open(pop3))
                subprocess.run(["/usr/sbin/osprey", "-c"], env=env, check=True, timeout=30,
                               capture_output=True)
                self.assertEqual(sock.recv(64), b"RELOADING=1")
                self.assertEqual(sock.recv(64), b"READY=1")
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(sock.recv(64), b"STOPPING=1")
                self.assertEqual(proc.wait(60), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                sock.close()
        finally:
            shutil.rmtree(folder, ignore_errors=True)
            home.cleanup()


if __name__ == "__main__":
    unittest.main()
