"""A gateway on a scratch home for the benchmarks: made, started and stopped
by the benchmark that uses it."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mailservers  # noqa: E402


class Gateway:
    def __init__(self, bin_path, pop3_port, smtp_port=25):
        self.bin = bin_path
        self.home = tempfile.mkdtemp(prefix="tarnbox-bench-home-")
        self.port = mailservers.free_port()
        self.proc = None
        self.run("init", "--http-port", str(self.port), "--smtp-server", "127.0.0.1",
                 "--smtp-port", str(smtp_port), "--pop3-server", "127.0.0.1",
                 "--pop3-port", str(pop3_port))

    def run(self, *args):
        r = subprocess.run([self.bin, "--home", self.home, *args], capture_output=True,
                           text=True, stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            raise RuntimeError("tarnbox %s: %s" % (" ".join(args), r.stderr))

    def start(self):
        self.proc = subprocess.Popen([self.bin, "--home", self.home, "serve"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("gateway ended at start: %d" % self.proc.returncode)
            if mailservers.port_answers(self.port):
                return self
            time.sleep(0.05)
        raise RuntimeError("gateway did not start")

    def stop(self):
        mailservers.end_process(self.proc)
        self.proc = None
        shutil.rmtree(self.home, ignore_errors=True)
