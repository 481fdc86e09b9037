"""Peers of the relay tests: a scripted SMTP server on a loopback address,
dnsmasq serving MX and A records, and a real Postfix in a folder of its own."""

import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import threading
import time

from heron_env import wait_for


class ScriptedSmtp:
    """An SMTP server on (address, 25). `rcpt` maps a recipient to the reply
    to its RCPT TO (default 250); `greet` False never greets; the reply to a
    message for a recipient in `hold` waits until `release` is set. Every
    session's bytes are kept in `sessions`, every message in `messages`."""

    def __init__(self, address, rcpt=None, greet=True, hold=()):
        self.rcpt = dict(rcpt or {})
        self.greet = greet
        self.hold = set(hold)
        self.release = threading.Event()
        self.sessions, self.messages = [], []
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, 25))
        self.sock.listen(64)
        self.closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self):
        self.closed = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.sock.close()

    def _accept(self):
        while not self.closed:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        record = bytearray()
        self.sessions.append(record)
        f = conn.makefile("rb")
        try:
            if not self.greet:
                time.sleep(3600)
            conn.sendall(b"220 scripted ESMTP\r\n")
            rcpts = []
            for line in f:
                record += line
                cmd = line.rstrip(b"\r\n")
                upper = cmd.upper()
                if upper.startswith(b"RCPT TO:"):
                    who = cmd[8:].strip().decode()
                    reply = self.rcpt.get(who, "250 ok")
                    if reply.startswith("250"):
                        rcpts.append(who)
                    conn.sendall(reply.encode() + b"\r\n")
                elif upper == b"DATA":
                    conn.sendall(b"354 go ahead\r\n")
                    data = bytearray()
                    for dl in f:
                        record += dl
                        if dl == b".\r\n":
                            break
                        data += dl
                    if self.hold & set(rcpts):
                        self.held = True
                        self.release.wait(120)
                        break  # the client is gone by now
                    self.messages.append((rcpts, bytes(data)))
                    rcpts = []
                    conn.sendall(b"250 queued\r\n")
                elif upper == b"QUIT":
                    conn.sendall(b"221 bye\r\n")
                    break
                else:
                    conn.sendall(b"250 ok\r\n")
        except OSError:
            pass
        finally:
            conn.close()


def run_dnsmasq(records):
    """dnsmasq on 127.0.0.53 with the given --mx-host/--host-record options."""
    args = ["dnsmasq", "--no-daemon", "--port=53", "--listen-address=127.0.0.53",
            "--bind-interfaces", "--no-resolv", "--no-hosts", "--log-facility=-", *records]
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    return proc


class Postfix:
    """A real Postfix listening on (address, 25) only (its master binds that
    address; inet_interfaces must name an interface), delivering mail for
    `domain` into one Maildir per recipient under `self.vmail`."""

    def __init__(self, address, domain, users):
        self.folder = tempfile.mkdtemp(prefix="heron-postfix-")
        os.chmod(self.folder, 0o755)
        pf = self.folder
        self.vmail = os.path.join(pf, "vmail")
        nobody = pwd.getpwnam("nobody")
        for d in ("etc", "queue", "data", "vmail"):
            os.makedirs(os.path.join(pf, d), exist_ok=True)
        shutil.chown(os.path.join(pf, "data"), "postfix")
        for u in users:
            for sub in ("new", "cur", "tmp"):
                os.makedirs(os.path.join(self.vmail, u, "Maildir", sub))
        for root, dirs, _ in os.walk(self.vmail):
            for d in dirs:
                os.chown(os.path.join(root, d), nobody.pw_uid, nobody.pw_gid)
        os.chown(self.vmail, nobody.pw_uid, nobody.pw_gid)
        with open(os.path.join(pf, "etc", "main.cf"), "w") as f:
            f.write(f"""compatibility_level = 3.6
queue_directory = {pf}/queue
data_directory = {pf}/data
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.{domain}
mydomain = {domain}
myorigin = {domain}
biff = no
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
smtpd_banner = $myhostname ESMTP
virtual_mailbox_domains = {domain}
virtual_mailbox_base = {self.vmail}
virtual_mailbox_maps = texthash:{pf}/etc/vmailbox
virtual_uid_maps = static:{nobody.pw_uid}
virtual_gid_maps = static:{nobody.pw_gid}
maillog_file_prefixes = {pf}
maillog_file = {pf}/maillog
""")
        with open(os.path.join(pf, "etc", "vmailbox"), "w") as f:
            for u in users:
                f.write(f"{u}@{domain} {u}/Maildir/\n")
        services = ["pickup unix n - n 60 1 pickup", "cleanup unix n - n - 0 cleanup",
                    "qmgr unix n - n 300 1 qmgr", "rewrite unix - - n - - trivial-rewrite",
                    "bounce unix - - n - 0 bounce", "defer unix - - n - 0 bounce",
                    "trace unix - - n - 0 bounce", "verify unix - - n - 1 verify",
                    "flush unix n - n 1000? 0 flush", "proxymap unix - - n - - proxymap", "proxywrite unix - - n - 1 proxymap",
                    "smtp unix - - n - - smtp", "relay unix - - n - - smtp",
                    "showq unix n - n - - showq", "error unix - - n - - error",
                    "retry unix - - n - - error", "discard unix - - n - - discard",
                    "local unix - n n - - local", "virtual unix - n n - - virtual",
                    "anvil unix - - n - 1 anvil", "scache unix - - n - 1 scache",
                    "postlog unix-dgram n - n - 1 postlogd"]
        with open(os.path.join(pf, "etc", "master.cf"), "w") as f:
            f.write(f"{address}:25 inet n - n - - smtpd\n" + "\n".join(services) + "\n")
        self.conf = os.path.join(pf, "etc")
        subprocess.run(["postfix", "-c", self.conf, "check"], capture_output=True)
        r = subprocess.run(["postfix", "-c", self.conf, "start"], capture_output=True, text=True)
        assert r.returncode == 0, "postfix did not start: " + r.stderr
        assert wait_for(lambda: _port_open(address, 25), 20), "postfix did not listen"

    def mails(self, user):
        folder = os.path.join(self.vmail, user, "Maildir", "new")
        return [open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))]

    def stop(self):
        subprocess.run(["postfix", "-c", self.conf, "stop"], capture_output=True)
        time.sleep(0.5)
        shutil.rmtree(self.folder, ignore_errors=True)


def _port_open(address, port):
    try:
        with socket.create_connection((address, port), 0.5):
            return True
    except OSError:
        return False
