"""skylark --text end to end: dnsmasq serves the MX and address records, a
loopback HTTP service echoes the "public" address, and a scripted SMTP
server answers on port 25 of the exchanger's address. Runs as root in a
network and mount namespace of its own (see heron_env.run_in_namespace)."""

import http.server
import os
import subprocess
import threading
import unittest

from heron_env import namespace_module
from relay_peers import ScriptedSmtp, run_dnsmasq

SKYLARK = os.environ.get("SKYLARK", "skylark")
MX = "127.0.0.26"
RECORDS = ["--mx-host=example.test,mx1.example.test,10",
           "--mx-host=example.test,mx2.example.test,20",
           f"--host-record=mx1.example.test,{MX}",
           "--host-record=mx2.example.test,127.0.0.27",
           "--mx-host=ghost.test,nowhere.ghost.test,10"]
INSIDE, NamespaceTest, setUpModule, tearDownModule = namespace_module(
    "test_skylark", "SkylarkTest", "HERON_SKYLARK_NETNS", lambda: run_dnsmasq(RECORDS))


class Echo(http.server.BaseHTTPRequestHandler):
    address = MX

    def do_GET(self):  # noqa: N802 - the handler's own name
        body = ("Current IP Address: %s\n" % Echo.address).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@unittest.skipUnless(INSIDE, "runs inside its own namespace")
class SkylarkTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.echo = http.server.HTTPServer(("127.0.0.1", 0), Echo)
        threading.Thread(target=cls.echo.serve_forever, daemon=True).start()
        cls.smtp = ScriptedSmtp(MX)

    @classmethod
    def tearDownClass(cls):
        cls.echo.shutdown()
        cls.smtp.close()

    def run_skylark(self, target, echo_urls=None):
        port = self.echo.server_address[1]
        urls = echo_urls or f"http://127.0.0.1:1/,http://127.0.0.1:{port}/ip"
        env = dict(os.environ, HERON_IP_ECHO_URLS=urls, ASAN_OPTIONS="detect_leaks=0")
        r = subprocess.run([SKYLARK, "--text", "/H:" + target], env=env, capture_output=True,
                           text=True, timeout=120)
        return r.returncode, r.stdout

    def test_a_domain_whose_exchanger_is_this_machine(self):
        # The first echo service is down: the second one answers.
        code, out = self.run_skylark("Example.TEST,127.0.0.53")
        self.assertEqual(code, 0, out)
        self.assertIn("]之 DNS 與網路設定測試...", out)
        self.assertIn("[ Example.TEST ]", out)
        self.assertIn(f"IP: {MX}\n", out)
        self.assertIn(f"] MX 紀錄與 IP 相符。 10 mx1.example.test [ {MX} ]\n", out)
        self.assertIn("] 220 scripted ESMTP\n", out)
        self.assertIn("]  恭喜您，網路連線正常！\n", out)  # the text begins with a blank
        self.assertTrue(out.rstrip("\n").endswith("完成！"), out)
        self.assertNotIn("\x1b[", out)  # no terminal colours into a pipe

    def test_exchangers_elsewhere_or_unknown(self):
        Echo.address = "203.0.113.9"
        try:
            code, out = self.run_skylark("example.test,127.0.0.53")
        finally:
            Echo.address = MX
        self.assertEqual(code, 1)
        self.assertIn("沒有對應這台主機的 MX 紀錄！", out)
        self.assertIn("::: 寄到 example.test 網域的信件將無法成功傳遞到這台主機！", out)
        code, out = self.run_skylark("ghost.test,127.0.0.53")
        self.assertEqual(code, 1)
        self.assertIn("10 nowhere.ghost.test [  ]\n", out)
        self.assertIn("::: 無法解析 IP 位置，請稍後再試或更換 DNS 伺服器IP。", out)
        code, out = self.run_skylark("example.test")
        self.assertEqual(code, 1)
        self.assertTrue(out.rstrip("\n").endswith("無法取得 DNS 伺服器資料。"), out)


if __name__ == "__main__":
    unittest.main()
