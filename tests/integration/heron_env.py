"""Helpers for end-to-end tests: a temporary data root, settings written
straight into its store, and the real osprey started and stopped."""

import os
import resource
import shutil
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = "HKEY_LOCAL_MACHINE\\Software\\Tallyworks, Inc.\\Heron Mail Service"
SCHEMA = """
CREATE TABLE IF NOT EXISTS reg_keys(path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS reg_values(
  key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));
"""
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4

OSPREY = os.environ.get("OSPREY", "osprey")
HERONCTL = os.environ.get("HERONCTL", "heronctl")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port, timeout=0.2):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout):
            return True
    except OSError:
        return False


def wait_for(predicate, timeout=10.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def encode_list(entries):
    out = bytearray(struct.pack("<H", len(entries)))
    for e in entries:
        if len(e) < 255:
            out.append(len(e))
        else:
            out += b"\xff" + struct.pack("<H", len(e))
        out += e
    return bytes(out)


def encode_accounts(entries):
    """The stored account list of (name, full name, password) in bytes, with
    NoExternalMail 0."""
    def text(b):
        return bytes([len(b)]) + b
    out = bytearray(struct.pack("<H", len(entries)))
    for name, full_name, password in entries:
        out += text(name) + text(full_name) + text(password) + struct.pack("<I", 0)
    return bytes(out)


# The admin account's password in every MailTestCase (the fresh store's admin
# has none, and an empty password never logs in).
ADMIN_PASSWORD = "adminpw"


class HeronHome:
    """A temporary HERON_HOME with helpers to write settings and read the log."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="heron-")
        self.env = dict(os.environ, HERON_HOME=self.path)
        self.env.pop("HERON_SCM_SERVICE", None)
        self.env["HERON_SYSTEMD"] = "0"  # the small service manager, whatever the host runs

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    @property
    def db(self):
        return os.path.join(self.path, "registry.db")

    def _connect(self):
        c = sqlite3.connect(self.db, timeout=10)
        c.executescript(SCHEMA)
        return c

    def set_value(self, subkey, name, typ, data, key=None):
        key = key or (ROOT + "\\" + subkey if subkey else ROOT)
        with self._connect() as c:
            parts = key.split("\\")
            for i in range(1, len(parts) + 1):
                c.execute("INSERT OR IGNORE INTO reg_keys VALUES(?)", ("\\".join(parts[:i]),))
            c.execute("INSERT OR REPLACE INTO reg_values VALUES(?,?,?,?)", (key, name, typ, data))

    def set_number(self, name, value, subkey="Settings"):
        self.set_value(subkey, name, REG_DWORD, struct.pack("<i", value))

    def set_text(self, name, text, subkey="Settings"):
        self.set_value(subkey, name, REG_SZ, text.encode("cp950") + b"\0")

    def get_value(self, key, name):
        with self._connect() as c:
            row = c.execute("SELECT type, data FROM reg_values WHERE key=? AND name=?",
                            (key, name)).fetchone()
        return row

    def key_exists(self, key):
        with self._connect() as c:
            return c.execute("SELECT 1 FROM reg_keys WHERE path=?", (key,)).fetchone() is not None

    def log_path(self):
        return os.path.join(self.path, "Mailtrace.log")

    def _read_log(self):
        try:
            with open(self.log_path(), "rb") as f:
                return f.read().decode("cp950", errors="replace")
        except FileNotFoundError:
            return ""

    def log_text(self):
        """The log once its writer has caught up: lines are written by a
        thread of their own, shortly after they happen."""
        text = self._read_log()
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            time.sleep(0.15)
            again = self._read_log()
            if again == text:
                break
            text = again
        return text

    def wait_log(self, text, timeout=10.0, count=1):
        return wait_for(lambda: self._read_log().count(text) >= count, timeout)

    def run(self, *args, timeout=30):
        return subprocess.run([OSPREY, *args], env=self.env, capture_output=True,
                              timeout=timeout)

    def start_debug(self, nofile=None):
        def limit():
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))
        return subprocess.Popen([OSPREY, "-d"], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=limit)


class Osprey:
    """osprey -d on free loopback ports."""

    def __init__(self, home, pop3_port=None, smtp_port=None):
        self.home = home
        self.pop3_port = pop3_port or free_port()
        self.smtp_port = smtp_port or free_port()
        home.set_number("Port", self.pop3_port)
        home.set_number("SmtpPort", self.smtp_port)
        self.proc = None

    def start(self, wait_ports=True, nofile=None):
        self.proc = self.home.start_debug(nofile)
        if wait_ports:
            assert wait_for(lambda: port_open(self.pop3_port) and port_open(self.smtp_port)), \
                "osprey did not open its ports"
        return self

    def stop(self, sig=signal.SIGTERM, timeout=20):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.proc.stdout.close()
            self.proc.stderr.close()
        return self.proc.returncode if self.proc else None


def mailbox_files(home, mailbox):
    folder = os.path.join(home.path, "Mailboxes", mailbox)
    try:
        return {f: open(os.path.join(folder, f), "rb").read()
                for f in os.listdir(folder) if f.endswith(".eml")}
    except FileNotFoundError:
        return {}


FOOTER = (b"\r\n " + b"_" * 50 + b" \r\n Powered By Heron Mail Server \r\n Made In Taiwan\r\n"
          b" https://heron-mail.example/\r\n")


class MailTestCase(unittest.TestCase):
    """A data root whose local domain is example.com; start() runs osprey."""

    def setUp(self):
        self.home = HeronHome()
        self.home.set_value("Domains", "Extensions", REG_BINARY, encode_list([b"example.com"]))
        self.home.set_value("UserAccounts", "Users", REG_BINARY, encode_accounts(
            [(b"admin", b"Administrator", ADMIN_PASSWORD.encode())]))
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop(signal.SIGKILL)
        self.home.cleanup()

    def start(self):
        self.server = Osprey(self.home).start()
        return self.server

    def wait_mail(self, mailbox, count=1):
        self.assertTrue(wait_for(lambda: len(mailbox_files(self.home, mailbox)) >= count),
                        "no mail in " + mailbox)
        return mailbox_files(self.home, mailbox)


def run_in_namespace(case, module, suite, flag):
    """Runs `module.suite` in a new network and mount namespace, as root, with
    /etc/resolv.conf naming 127.0.0.53 and a bare /etc/hosts bind-mounted, and
    `flag`=1 in its environment; `case` asserts that every test passed."""
    if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("dnsmasq"):
        case.skipTest("needs root, unshare and dnsmasq")
    folder = tempfile.mkdtemp(prefix="heron-ns-")
    try:
        with open(os.path.join(folder, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.53\noptions timeout:2 attempts:1\n")
        with open(os.path.join(folder, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n")
        script = (
            "set -e; ip link set lo up; "
            f"mount --bind {folder}/resolv.conf /etc/resolv.conf; "
            f"mount --bind {folder}/hosts /etc/hosts; "
            f"exec {sys.executable} -W ignore -m unittest -v {module}.{suite}")
        env = dict(os.environ, **{flag: "1"})
        r = subprocess.run(["unshare", "--net", "--mount", "bash", "-c", script], env=env,
                           capture_output=True, text=True, timeout=540,
                           cwd=os.path.dirname(os.path.abspath(__file__)))
        sys.stderr.write(r.stderr)
        case.assertEqual(r.returncode, 0)
        case.assertIn("OK", r.stderr)
        case.assertNotIn("skipped", r.stderr.split("Ran")[-1])
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def namespace_module(module, suite, flag, start=None):
    """The frame of an end-to-end module whose `suite` runs as root in a
    network namespace of its own: whether this process is inside it, the
    NamespaceTest case that runs the module there, and setUpModule and
    tearDownModule, which inside run the server that `start()` launches (a
    Popen: dnsmasq, say) for the module's length."""
    inside = os.environ.get(flag) == "1"
    servers = []

    class NamespaceTest(unittest.TestCase):
        @unittest.skipIf(inside, "already inside")
        def test_inside_a_namespace(self):
            run_in_namespace(self, module, suite, flag)

    def set_up_module():
        if inside and start:
            servers.append(start())

    def tear_down_module():
        while servers:
            proc = servers.pop()
            proc.terminate()
            proc.wait()

    return inside, NamespaceTest, set_up_module, tear_down_module
