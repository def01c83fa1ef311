#!/usr/bin/env python3
"""kill -9 at random moments while the data file is being written.

    python3 bench/kill_writes.py build/tarnbox [--writes 1000] [--seed N]

Writers run side by side against a running gateway on real Dovecot: users
added and deleted with `tarnbox users` (carried out by the gateway through
its control socket, or by the command itself on the file when no gateway
answers), a setting changed with `tarnbox settings set`, and registrations
through the browser's new-user form (the gateway asks the POP3 server
first). At a random moment the gateway is killed with SIGKILL; in every
other round the command line then writes on its own and one of those
commands is killed too.

After every kill the gateway must start again and `tarnbox users list`
must show every user whose add returned success or whose page said the
registration was done, and none whose deletion returned success; the
setting must hold the last value that was reported saved or a later one
that was under way. A write that was cut off may or may not have happened:
the next check learns which. Exits 1 on any loss, any resurrection, a
setting gone back, or a file that does not load.
"""
import argparse
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from load_world import World  # noqa: E402
import mailservers  # noqa: E402
from gatewaytest import raw_request  # noqa: E402

DONE_PAGE = b"Registration completed."
# Below the gateway's ceiling of users, so an add fails only when it is cut off.
MOST_USERS = 70
DAMAGE = "壊れて"


class Model:
    """What the writes that returned say the file must hold."""

    def __init__(self):
        self.lock = threading.Lock()
        self.state = {}  # id -> "present" | "absent" | "unknown"
        self.setting = 0  # last value reported saved
        self.setting_tried = set()  # values tried after it
        self.writes = self.committed = 0
        self.failed = {}  # kind -> writes that did not return success
        self.done = {}  # kind -> writes that did

    def record(self, uid, ok, present):
        with self.lock:
            kind = ("register" if uid[0] == "r" else "add") if present else "delete"
            tally = self.done if ok else self.failed
            tally[kind] = tally.get(kind, 0) + 1
            self.writes += 1
            self.committed += ok
            self.state[uid] = ("present" if present else "absent") if ok else "unknown"

    def record_setting(self, value, ok):
        with self.lock:
            self.writes += 1
            self.committed += ok
            tally = self.done if ok else self.failed
            tally["setting"] = tally.get("setting", 0) + 1
            if ok:
                self.setting = value
                self.setting_tried = {v for v in self.setting_tried if v > value}
            else:
                self.setting_tried.add(value)

    def present(self):
        with self.lock:
            return [u for u, s in self.state.items() if s == "present"]

    def crowded(self):
        with self.lock:
            return sum(s != "absent" for s in self.state.values()) >= MOST_USERS


class Run:
    def __init__(self, world, rnd):
        self.world = world
        self.rnd = rnd
        self.model = Model()
        self.next_id = 0
        self.next_setting = 0
        self.id_lock = threading.Lock()
        self.reg_logins = []
        self.kills = {"gateway": 0, "command": 0}
        self.checks = self.users_checked = 0
        self.faults = []

    def tarnbox(self, *args, kill_after=None):
        """Status of one command; None when it was killed."""
        p = subprocess.Popen([self.world.bin, "--home", self.world.home, *args],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        if kill_after is not None:
            try:
                return p.wait(timeout=kill_after)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                self.kills["command"] += 1
                return None
        return p.wait()

    def new_id(self, prefix):
        with self.id_lock:
            self.next_id += 1
            return "%s%05d" % (prefix, self.next_id)

    def cli_user_write(self, kill_after=None):
        present = self.model.present()
        if self.model.crowded() and present:
            uid = self.rnd.choice(present)
            r = self.tarnbox("users", "delete", "--yes", uid, kill_after=kill_after)
            self.model.record(uid, r == 0, present=False)
        else:
            uid = self.new_id("c")
            r = self.tarnbox("users", "add", "--name", "Kill " + uid, "--mail-address",
                             uid + "@test.example", "--id", uid, "--password", "pw-" + uid,
                             kill_after=kill_after)
            self.model.record(uid, r == 0, present=True)

    def setting_write(self, kill_after=None):
        with self.id_lock:
            self.next_setting += 1
            value = self.next_setting
        r = self.tarnbox("settings", "set", "log_size_kb=%d" % value, kill_after=kill_after)
        self.model.record_setting(value, r == 0)

    def registration(self):
        if self.model.crowded() or not self.reg_logins:
            return self.cli_user_write()
        uid = self.reg_logins.pop()
        fields = {"user_name": "Reg " + uid, "user_mail_address": uid + "@test.example",
                  "user_id": uid, "user_pass1": "pw-" + uid, "user_pass2": "pw-" + uid,
                  "user_column_count": "80", "user_row_count": "10", "user_upload_no": "1"}
        body = urllib.parse.urlencode(fields).encode()
        try:
            answer = raw_request(self.world.port, b"POST /mail/new/index.html?lang=eng HTTP/1.0\r\n"
                                 b"Content-Type: application/x-www-form-urlencoded\r\n"
                                 b"Content-Length: %d\r\n\r\n%s" % (len(body), body), timeout=20)
        except ConnectionRefusedError:
            # No gateway to write anything: not a write at all.
            self.reg_logins.append(uid)
            time.sleep(0.01)
            return
        except OSError:
            answer = b""
        self.model.record(uid, DONE_PAGE in answer, present=True)

    def writer(self, kind, stop):
        while not stop.is_set():
            if kind == "users":
                self.cli_user_write()
            elif kind == "settings":
                self.setting_write()
            else:
                self.registration()

    def start_gateway(self):
        try:
            self.world.start_gateway()
            return True
        except RuntimeError as e:
            self.faults.append("the gateway did not start: %s" % e)
            return False

    def check(self):
        """The file as it loads now against what the writes said."""
        self.checks += 1
        out = subprocess.run([self.world.bin, "--home", self.world.home, "users", "list"],
                             capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if out.returncode != 0:
            self.faults.append("users list failed: %s" % out.stderr.strip())
            return
        listed = set(re.findall(r"\b([cr]\d{5})\b", out.stdout))
        m = self.model
        with m.lock:
            for uid, state in m.state.items():
                if state == "present":
                    self.users_checked += 1
                    if uid not in listed:
                        self.faults.append("lost user %s" % uid)
                elif state == "absent" and uid in listed:
                    self.faults.append("deleted user %s is back" % uid)
                m.state[uid] = "present" if uid in listed else "absent"
        show = subprocess.run([self.world.bin, "--home", self.world.home, "settings", "show"],
                              capture_output=True, text=True, stdin=subprocess.DEVNULL)
        found = re.search(r"^log_size_kb=(\d+)", show.stdout, re.M)
        value = int(found.group(1)) if found else -1
        with m.lock:
            if self.checks > 1 and value != m.setting and value not in m.setting_tried:
                self.faults.append("log_size_kb=%d, last saved %d" % (value, m.setting))
            m.setting, m.setting_tried = max(value, 0), set()
        log = os.path.join(self.world.scratch, "serve.log")
        if os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as f:
                if DAMAGE in f.read():
                    self.faults.append("the gateway found the file damaged")

    def round(self, index):
        if not self.start_gateway():
            return False
        self.check()
        stop = threading.Event()
        writers = [threading.Thread(target=self.writer, args=(kind, stop))
                   for kind in ("users", "settings", "registration")]
        for t in writers:
            t.start()
        time.sleep(self.rnd.uniform(0.02, 0.5))
        self.world.gateway.send_signal(signal.SIGKILL)
        self.world.gateway.wait()
        self.kills["gateway"] += 1
        stop.set()
        for t in writers:
            t.join()
        if index % 2 == 1:
            # The command line alone on the file; a command takes some 5 to
            # 20 ms, and about half of them are killed within that.
            for _ in range(self.rnd.randrange(1, 5)):
                kill_after = self.rnd.uniform(0.0, 0.02) if self.rnd.random() < 0.5 else None
                if self.rnd.random() < 0.7:
                    self.cli_user_write(kill_after=kill_after)
                else:
                    self.setting_write(kill_after=kill_after)
        return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin", nargs="?", default=os.path.join(os.path.dirname(HERE), "build",
                                                           "tarnbox"))
    ap.add_argument("--writes", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    world = World(args.bin, ["--worker-timeout", "5"])
    run = Run(world, random.Random(args.seed))
    t0 = time.monotonic()
    try:
        world.pop = mailservers.Dovecot(os.path.join(world.scratch, "mail")).start()
        run.reg_logins = ["r%05d" % i for i in range(args.writes, 0, -1)]
        for login in run.reg_logins:
            world.pop.users[login] = "pw-" + login
            world.pop.boxes.create(login)
        world.pop.add_user("postmaster", "unused")
        world.tarnbox("init", "--http-port", str(world.port), "--smtp-server", "127.0.0.1",
                      "--pop3-server", "127.0.0.1", "--pop3-port", str(world.pop.port))
        world.tarnbox("settings", "server", "browser_registration=on")
        rounds = 0
        while run.model.writes < args.writes and not run.faults:
            if not run.round(rounds):
                break
            rounds += 1
        if not run.faults and run.start_gateway():
            run.check()
            mailservers.end_process(world.gateway)
            run.check()  # and once more from the file alone
        m = run.model
        print("rounds=%d writes=%d committed=%d kills_gateway=%d kills_command=%d checks=%d "
              "users_checked=%d users_at_end=%d faults=%d seconds=%.0f"
              % (rounds, m.writes, m.committed, run.kills["gateway"], run.kills["command"],
                 run.checks, run.users_checked, len(m.present()), len(run.faults),
                 time.monotonic() - t0))
        print("done:", m.done)
        print("not done (cut off by a kill, or refused meanwhile):", m.failed)
        for f in run.faults[:20]:
            print("  fault:", f)
        return 1 if run.faults else 0
    finally:
        world.stop()


if __name__ == "__main__":
    sys.exit(main())
