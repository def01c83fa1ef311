#!/usr/bin/env python3
"""HTTPS benchmark: small pages from the gateway's own HTTPS listener beside
nginx serving the same bytes over TLS with the same certificate, both on
127.0.0.1 in the same run, and the gateway's plain HTTP beside both.

    python3 bench/https_bench.py /path/to/tarnbox

Each request is a new connection with a full handshake (the gateway closes
after every answer, HTTP/1.0), from one client and from twenty at once.
Never fails on slowness. BENCH_REQUESTS (default 400) changes the count.
"""
import os
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "scripts"))
import mailservers  # noqa: E402

REQUESTS = int(os.environ.get("BENCH_REQUESTS", "400"))
CROWD = 20
NGINX = "/usr/sbin/nginx"


def get(port, context, path=b"/"):
    t = time.perf_counter()
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    if context:
        s = context.wrap_socket(s, server_hostname="127.0.0.1")
    with s:
        s.sendall(b"GET " + path + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
        data = b""
        while True:
            try:
                b = s.recv(65536)
            except ssl.SSLError:
                break
            if not b:
                break
            data += b
    if b" 200 " not in data.split(b"\r\n", 1)[0]:
        raise RuntimeError("answer: %r" % data[:200])
    return time.perf_counter() - t, data.partition(b"\r\n\r\n")[2]


def sequential(port, context):
    return [get(port, context)[0] for _ in range(REQUESTS)]


def crowd(port, context):
    """Requests per second with CROWD clients asking at once."""
    per = max(1, REQUESTS // CROWD)
    gate = threading.Barrier(CROWD)
    errors = []

    def one():
        try:
            gate.wait()
            for _ in range(per):
                get(port, context)
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(str(e))
    threads = [threading.Thread(target=one) for _ in range(CROWD)]
    t = time.perf_counter()
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    if errors:
        print("WARNING: %d failures, first: %s" % (len(errors), errors[0]), file=sys.stderr)
    return per * CROWD / (time.perf_counter() - t)


def start_nginx(folder, port, cert, key, root):
    conf = os.path.join(folder, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off;
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/error.log;
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        ssl_protocols TLSv1.2 TLSv1.3;
        keepalive_timeout 0;
        root {root};
        location = / {{ try_files /top.html =404; default_type "text/html; charset=Shift_JIS"; }}
    }}
}}
""")
    return subprocess.Popen([NGINX, "-p", folder, "-c", conf, "-e", folder + "/error.log"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def wait_port(port, proc):
    for _ in range(200):
        if proc.poll() is not None:
            raise RuntimeError("ended at start: %d" % proc.returncode)
        if mailservers.port_answers(port):
            return
        time.sleep(0.05)
    raise RuntimeError("port %d never answered" % port)


def main(bin_path):
    scratch = tempfile.mkdtemp(prefix="tarnbox-bench-https-")
    os.chmod(scratch, 0o755)
    gateway = nginx = None
    try:
        certs = mailservers.Certificates(os.path.join(scratch, "certs"))
        cert, key = certs.server()
        context = ssl.create_default_context(cafile=certs.authority_file())
        home = os.path.join(scratch, "home")
        os.mkdir(home, 0o700)
        http_port, https_port, nginx_port = (mailservers.free_port() for _ in range(3))
        subprocess.run([bin_path, "--home", home, "init", "--http-port", str(http_port)],
                       check=True, capture_output=True)
        shutil.copy(cert, os.path.join(home, "https-cert.pem"))
        shutil.copy(key, os.path.join(home, "https-key.pem"))
        gateway = subprocess.Popen([bin_path, "--home", home, "serve", "--listen", "127.0.0.1",
                                    "--https-listen", "127.0.0.1:%d" % https_port],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_port(https_port, gateway)
        # nginx serves exactly the gateway's top page.
        root = os.path.join(scratch, "root")
        os.mkdir(root)
        with open(os.path.join(root, "top.html"), "wb") as f:
            f.write(get(http_port, None)[1])
        folder = os.path.join(scratch, "nginx")
        os.mkdir(folder)
        nginx = start_nginx(folder, nginx_port, cert, key, root)
        wait_port(nginx_port, nginx)
        for port, ctx in ((https_port, context), (nginx_port, context), (http_port, None)):
            for _ in range(20):
                get(port, ctx)  # warm both
        rows = [("gateway HTTPS", sequential(https_port, context), crowd(https_port, context)),
                ("nginx HTTPS (same page)", sequential(nginx_port, context),
                 crowd(nginx_port, context)),
                ("gateway plain HTTP", sequential(http_port, None), crowd(http_port, None))]
        base_median = statistics.median(rows[1][1])
        base_rate = rows[1][2]
        print()
        print("%-26s %10s %10s %12s   %s" % ("small page, new connection", "median ms", "p90 ms",
                                            "%d at once/s" % CROWD, "ratio to nginx (median, rate)"))
        print("-" * 96)
        for name, times, rate in rows:
            times = sorted(times)
            print("%-26s %10.2f %10.2f %12.0f   %.2fx, %.2fx" % (
                name, statistics.median(times) * 1000, times[int(len(times) * 0.9)] * 1000, rate,
                statistics.median(times) / base_median, rate / base_rate))
    finally:
        for p in (nginx, gateway):
            mailservers.end_process(p)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(os.path.abspath(sys.argv[1]))
