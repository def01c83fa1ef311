"""What the integration tests share about a running gateway process: waiting
for its port, stopping it by PID, and one raw HTTP/1.0 exchange."""
import signal
import socket
import subprocess
import time


def sjis(text):
    """The bytes of a page text: pages are Shift_JIS."""
    return text.encode("cp932")


# The sending pages' own words.
DONE = sjis("送信終了")
SEND_ERROR = sjis("メール送信時のエラー発生。")


def wait_until_listening(port, proc, seconds=10):
    """Returns once port accepts; fails when proc ends first or time runs out."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if proc.poll() is not None:
                raise AssertionError("gateway ended at start: %d" % proc.returncode)
            time.sleep(0.05)
    raise AssertionError("gateway did not start")


def stop_process(proc):
    """SIGTERM, then SIGKILL if it does not end within ten seconds."""
    if proc and proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def http_request(port, raw, host="127.0.0.1", timeout=10):
    """Sends raw and reads the answer until the gateway closes."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        s.sendall(raw)
        chunks = []
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    return b"".join(chunks)


def listening_addresses(port):
    """The local addresses ("127.0.0.1", "::", ...) of every TCP socket in
    LISTEN state on port, read from /proc/net/tcp and /proc/net/tcp6."""
    import struct
    found = []
    for name, family in (("tcp", socket.AF_INET), ("tcp6", socket.AF_INET6)):
        try:
            with open("/proc/net/" + name) as f:
                rows = f.read().splitlines()[1:]
        except FileNotFoundError:
            continue
        for row in rows:
            fields = row.split()
            address, _, hex_port = fields[1].partition(":")
            if fields[3] != "0A" or int(hex_port, 16) != port:
                continue
            # The kernel prints the address as 32-bit words in host order.
            words = [int(address[i:i + 8], 16) for i in range(0, len(address), 8)]
            found.append(socket.inet_ntop(family, struct.pack("=%dI" % len(words), *words)))
    return sorted(found)
