#!/usr/bin/env bash
# HTTP front end benchmark: the gateway beside nginx, both serving the same
# html folder on 127.0.0.1 in the same run, one request per connection (the
# gateway speaks HTTP/1.0 and closes after each answer, so nginx is asked to
# do the same). wrk drives the static files; bench/http_load.cpp drives the
# answers that end at the server's close and the clients whose fairness is
# checked.
#
#   bash bench/http_bench.sh /path/to/tarnbox
#
# Prints a table of numbers and tarnbox/nginx ratios with the targets beside
# them. Not a test: a slow or loaded machine changes the numbers, never the
# exit status. BENCH_SECONDS (default 5) sets the length of each load run;
# BENCH_KEEP=1 keeps the scratch folder (logs, load tool output) for a look.
set -uo pipefail

bin="${1:-}"
if [ -z "$bin" ]; then
  echo "usage: bash bench/http_bench.sh /path/to/tarnbox" >&2
  exit 2
fi
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
here="$(cd "$(dirname "$0")" && pwd)"
secs="${BENCH_SECONDS:-5}"
idle_count=500
started=$SECONDS
say() { printf '[%3ds] %s\n' $((SECONDS - started)) "$*" >&2; }

# ---------------------------------------------------------------- packages
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

policy_made=0
drop_policy() {
  if [ "$policy_made" = 1 ]; then
    $sudo rm -f /usr/sbin/policy-rc.d
    policy_made=0
  fi
}

install_missing() {
  local want=() p
  have_pkg nginx || have_pkg nginx-light || have_pkg nginx-core || have_pkg nginx-full ||
    have_pkg nginx-extras || want+=(nginx)
  have_pkg wrk || want+=(wrk)
  have_pkg curl || want+=(curl)
  command -v python3 >/dev/null || want+=(python3)
  command -v g++ >/dev/null || want+=(g++)
  [ ${#want[@]} -eq 0 ] && return 0
  echo "installing: ${want[*]}" >&2
  # The package's own service must not start: it would take port 80 and
  # /etc/nginx's settings, neither of which this benchmark wants. A
  # policy-rc.d answering 101 makes the maintainer scripts skip the start.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null &&
      $sudo chmod 755 /usr/sbin/policy-rc.d && policy_made=1
  fi
  $sudo apt-get update -qq
  local ok=1
  for p in "${want[@]}"; do
    if [ "$p" = nginx ]; then
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx-light ||
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx || ok=0
    else
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" || ok=0
    fi
  done
  drop_policy
  [ "$ok" = 1 ]
}

# ------------------------------------------------------ processes and cleanup
work=""
gw_pid=""
ng_pid=""
ng_workers=""
bg_pids=()

stop_pid() { # pid signal: signal, wait up to 5 s, then SIGKILL
  local pid="$1" sig="$2" i
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill "-$sig" "$pid" 2>/dev/null
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

child_pids() { pgrep -P "$1" 2>/dev/null || true; }

cleaned=0
cleanup() {
  [ "$cleaned" = 1 ] && return
  cleaned=1
  local p workers=""
  for p in "${bg_pids[@]}"; do stop_pid "$p" TERM; done
  if [ -n "$ng_pid" ]; then
    workers="$(child_pids "$ng_pid")"
    stop_pid "$ng_pid" TERM
    # Workers leave with their master; any that did not are ours as well.
    for p in $workers; do kill -0 "$p" 2>/dev/null && kill -KILL "$p" 2>/dev/null; done
  fi
  stop_pid "$gw_pid" TERM
  drop_policy
  if [ -n "$work" ] && [ -d "$work" ]; then
    if [ "${BENCH_KEEP:-0}" = 1 ]; then
      echo "scratch folder kept: $work" >&2
    else
      rm -rf "$work"
    fi
  fi
}
trap cleanup EXIT
trap 'echo "interrupted" >&2; cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

install_missing || { echo "could not install nginx/wrk; nothing measured" >&2; exit 0; }

work="$(mktemp -d /tmp/tarnbox-http-bench.XXXXXX)"
home="$work/home"
html="$home/html"
# The system's Python starts in a fraction of the time a version manager's
# shim takes, which matters on a loaded machine.
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

# The load tool is kept beside the gateway's build and rebuilt when its
# source changes; compiling it takes longer than a whole case on a busy
# machine.
load="$(dirname "$bin")/http_load"
[ -d "$(dirname "$bin")" ] && [ -w "$(dirname "$bin")" ] || load="$work/http_load"
if [ ! -x "$load" ] || [ "$here/http_load.cpp" -nt "$load" ]; then
  say "building $load"
  if ! g++ -std=c++20 -O2 -pthread -o "$load.new" "$here/http_load.cpp" 2>"$work/load-build.log"; then
    cat "$work/load-build.log" >&2
    echo "could not build bench/http_load.cpp; nothing measured" >&2
    exit 0
  fi
  mv -f "$load.new" "$load"
fi

# Two distinct free ports, chosen while both are held so they differ.
read -r gw_port ng_port < <($py -c '
import socket
a, b = socket.socket(), socket.socket()
a.bind(("127.0.0.1", 0)); b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])')

wait_http() { # url pid seconds: 0 once the url answers, 1 if pid died or time ran out
  local url="$1" pid="$2" n=$(($3 * 10)) i
  for i in $(seq "$n"); do
    kill -0 "$pid" 2>/dev/null || return 1
    curl -s -o /dev/null --max-time 2 "$url" && return 0
    sleep 0.1
  done
  return 1
}

notes=()
note() { notes+=("$*"); }

say "setting up the gateway home and the html folder"
# ---------------------------------------------------------------- the gateway
gw_ok=0
# A user needs mail servers on record; nothing here ever contacts them.
if [ -x "$bin" ] &&
  "$bin" --home "$home" init --http-port "$gw_port" --smtp-server 127.0.0.1 --pop3-server 127.0.0.1 >"$work/init.log" 2>&1 &&
  "$bin" --home "$home" users add --name "Bench User" --mail-address bench@example.jp \
    --id bench --password bench-pass >>"$work/init.log" 2>&1; then
  gw_ok=1
elif [ ! -x "$bin" ]; then
  note "tarnbox: $bin is not an executable file; only nginx was measured"
else
  note "tarnbox: could not create a home with $bin ($(tail -n 3 "$work/init.log" 2>/dev/null | tr '\n' ' '))"
fi
mkdir -p "$html"

# The 2 KB file and the small page are what a browser fetches beside every
# page (style, small images); the 10 MB file stands for an attachment.
make_page() { # (file size title)... : plain HTML of exactly size bytes
  $py - "$@" <<'EOF'
import sys
args = sys.argv[1:]
for path, size, title in zip(args[0::3], args[1::3], args[2::3]):
    size = int(size)
    head = f"<!DOCTYPE html>\n<html><head><title>{title}</title></head><body>\n"
    tail = "</body></html>\n"
    line = "<p>The quick brown fox jumps over the lazy dog 0123456789.</p>\n"
    body = ""
    while len(head) + len(body) + len(line) + len(tail) <= size:
        body += line
    pad = size - len(head) - len(body) - len(tail)
    body += "<!--" + "x" * (pad - 8) + "-->\n" if pad >= 8 else " " * pad
    data = (head + body + tail).encode()
    assert len(data) == size, len(data)
    open(path, "wb").write(data)
EOF
}
make_page "$html/bench-2k.html" 2048 "2 KB" "$html/bench-small.html" 300 "small"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$html/bench-10m.bin"

gw_rss_start=""
if [ "$gw_ok" = 1 ]; then
  "$bin" --home "$home" serve >"$work/tarnbox.log" 2>&1 &
  gw_pid=$!
  if wait_http "http://127.0.0.1:$gw_port/" "$gw_pid" 15; then
    gw_rss_start="$(awk '/^VmRSS:/ {print $2}' "/proc/$gw_pid/status" 2>/dev/null)"
  else
    gw_ok=0
    note "tarnbox: serve did not answer GET / within 15 s ($(tail -n 3 "$work/tarnbox.log" | tr '\n' ' '))"
    stop_pid "$gw_pid" TERM
    gw_pid=""
  fi
fi

# nginx answers the top-page case with the gateway's own top page saved as a
# file: the same bytes, so only the serving differs.
top_copy="$html/bench-top.html"
if [ "$gw_ok" = 1 ]; then
  curl -s --max-time 5 -o "$top_copy" "http://127.0.0.1:$gw_port/"
  curl -s --max-time 5 -o "$work/top-again.html" "http://127.0.0.1:$gw_port/"
  if ! cmp -s "$top_copy" "$work/top-again.html"; then
    note "tarnbox: GET / gave different bodies on two fetches ($(stat -c %s "$top_copy") and $(stat -c %s "$work/top-again.html") bytes); nginx serves the first"
  fi
  if [ ! -s "$top_copy" ]; then
    note "tarnbox: GET / gave an empty answer; nginx's top-page case serves a 1.5 KB stand-in"
    make_page "$top_copy" 1536 "stand-in top page"
  elif ! grep -qi '<form' "$top_copy"; then
    note "tarnbox: the top page has no login form although a user exists"
  fi
else
  make_page "$top_copy" 1536 "stand-in top page"
  note "no gateway: nginx's top-page case serves a 1.5 KB stand-in"
fi
top_bytes="$(stat -c %s "$top_copy")"

# ------------------------------------------------------------------- nginx
ng_dir="$work/nginx"
mkdir -p "$ng_dir/tmp"
temp_paths=""
for m in client_body proxy fastcgi uwsgi scgi; do
  case "$m" in
    client_body) temp_paths+="  client_body_temp_path $ng_dir/tmp/client_body;"$'\n' ;;
    *) nginx -V 2>&1 | grep -q -- "--without-http_${m}_module" ||
         temp_paths+="  ${m}_temp_path $ng_dir/tmp/$m;"$'\n' ;;
  esac
done
# Workers run as the invoking user (root here): the scratch folder is 0700
# and the benchmark has nothing to protect. Settings as a stock nginx site:
# sendfile on, no access log.
cat >"$ng_dir/nginx.conf" <<EOF
daemon off;
worker_processes auto;
worker_rlimit_nofile 8192;
user $(id -un) $(id -gn);
pid $ng_dir/nginx.pid;
error_log $ng_dir/error.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  types { text/html html; application/octet-stream bin; }
  default_type application/octet-stream;
$temp_paths  server {
    listen 127.0.0.1:$ng_port;
    root $html;
  }
}
EOF
ng_ok=0
nginx -c "$ng_dir/nginx.conf" -p "$ng_dir" -e "$ng_dir/error.log" >"$ng_dir/stdout.log" 2>&1 &
ng_pid=$!
if wait_http "http://127.0.0.1:$ng_port/bench-small.html" "$ng_pid" 10; then
  ng_ok=1
  ng_workers="$(child_pids "$ng_pid" | tr '\n' ' ')"
else
  note "nginx did not start: $(tail -n 3 "$ng_dir/error.log" "$ng_dir/stdout.log" 2>/dev/null | tr '\n' ' ')"
  ng_pid=""
fi
ng_rss_start=""
[ "$ng_ok" = 1 ] && ng_rss_start="$(for p in "$ng_pid" $(child_pids "$ng_pid"); do
  awk '/^VmRSS:/ {print $2}' "/proc/$p/status" 2>/dev/null; done | awk '{s += $1} END {print s}')"

say "checking both servers answer the files on disk"
# Both must hand out exactly the files on disk before their speed means
# anything.
verify() { # server port path expected-file
  local got="$work/verify.out" code
  code="$(curl -s --max-time 20 -o "$got" -w '%{http_code}' "http://127.0.0.1:$2$3")"
  if [ "$code" != 200 ] || ! cmp -s "$got" "$4"; then
    note "$1: GET $3 gave status $code and $(stat -c %s "$got" 2>/dev/null || echo 0) bytes, not the $(stat -c %s "$4") bytes on disk"
  fi
}
for f in bench-2k.html bench-small.html bench-10m.bin; do
  [ "$gw_ok" = 1 ] && verify tarnbox "$gw_port" "/$f" "$html/$f"
  [ "$ng_ok" = 1 ] && verify nginx "$ng_port" "/$f" "$html/$f"
done
[ "$ng_ok" = 1 ] && verify nginx "$ng_port" /bench-top.html "$top_copy"

# -------------------------------------------------------------- load runs
declare -A R # "server|key" -> value
alive() { # server: is it still up? Notes the first time the gateway is found dead.
  if [ "$1" = tarnbox ]; then
    [ "$gw_ok" = 1 ] || return 1
    if ! kill -0 "$gw_pid" 2>/dev/null; then
      wait "$gw_pid" 2>/dev/null
      note "tarnbox: the serve process exited (status $?) during or before '$2'; log: $(tail -n 5 "$work/tarnbox.log" | tr '\n' ' ')"
      gw_ok=0
      gw_pid=""
      return 1
    fi
  else
    [ "$ng_ok" = 1 ] || return 1
  fi
  return 0
}
port_of() { [ "$1" = tarnbox ] && echo "$gw_port" || echo "$ng_port"; }

# CPU time a server spent, in clock ticks, into CPU: the gateway's process
# (its finished threads included) or nginx's master and workers. Divided by
# the answers given it is the cost of an answer, which other work on the
# machine disturbs far less than the rates.
tick_us=$((1000000 / $(getconf CLK_TCK)))
cpu_ticks() { # server
  local p pids st
  CPU=0
  if [ "$1" = tarnbox ]; then pids="$gw_pid"; else pids="$ng_pid $ng_workers"; fi
  for p in $pids; do
    [ -r "/proc/$p/stat" ] || continue
    read -r st </proc/"$p"/stat
    st="${st##*) }" # after the command name: state is field 1, utime 12, stime 13
    read -r -a st <<<"$st"
    CPU=$((CPU + st[11] + st[12]))
  done
}

# Splits a RESULT line into F[name]=value, without forking: on a loaded
# machine every subshell costs tens of milliseconds.
declare -A F
parse() {
  local kv
  F=()
  for kv in $1; do
    [[ $kv == *=* ]] && F[${kv%%=*}]=${kv#*=}
  done
}

# Reads one RESULT line (wrk_report.lua or http_load) into R: requests per
# second, latencies in ms, megabytes (10^6) per second, and any errors as a
# note.
store() { # server key result-line label
  local s="$1" k="$2" line="$3" label="$4"
  if [ -z "$line" ]; then
    note "$s $label: the load tool printed no result"
    return
  fi
  parse "$line"
  local req="${F[requests]:-0}" rps mbs p50 p99 max
  read -r rps mbs p50 p99 max < <(awk -v r="$req" -v d="${F[duration_us]:-1}" -v b="${F[bytes]:-0}" \
    -v p50="${F[p50_us]:-0}" -v p99="${F[p99_us]:-0}" -v m="${F[max_us]:-0}" \
    'BEGIN {printf "%.0f %.1f %.2f %.2f %.2f\n", r / (d / 1e6), b / d, p50 / 1000, p99 / 1000, m / 1000}')
  R["$s|$k.rps"]="$rps"
  R["$s|$k.mbs"]="$mbs"
  R["$s|$k.p50"]="$p50"
  R["$s|$k.p99"]="$p99"
  R["$s|$k.max"]="$max"
  [ -n "${F[min_per_client]:-}" ] && R["$s|$k.fewest"]="${F[min_per_client]}"
  local e errs=""
  for e in connect read write status timeout body reset_late; do
    [ "${F[$e]:-0}" != 0 ] && errs+=" $e=${F[$e]}"
  done
  [ -n "$errs" ] && note "$s $label: errors:$errs (beside $req good answers)"
  [ "$req" = 0 ] && note "$s $label: no request completed"
}

wrk_run() { # server conns path seconds outfile
  local t=$(($2 < 2 ? $2 : 2))
  wrk -t"$t" -c"$2" -d"$4"s --timeout 10s --latency -H 'Connection: close' \
    -s "$here/wrk_report.lua" "http://127.0.0.1:$(port_of "$1")$3" >"$5" 2>&1
}

# For answers that end at the server's close, and where a count per client
# is wanted (see http_load.cpp for why wrk does not do here).
load_run() { # server conns path seconds outfile expected-body-bytes
  local t=$(($2 < 2 ? $2 : 2))
  "$load" --port "$(port_of "$1")" --path "$3" --conns "$2" --threads "$t" --seconds "$4" \
    --expect-body "$6" >"$5" 2>&1
}

bench_case() { # key conns path label (path "top": the gateway's / and nginx's copy of it)
  local s out path
  for s in tarnbox nginx; do
    alive "$s" "$4" || continue
    out="$work/wrk-$s-$1.txt"
    say "$s: $4"
    path="$3"
    if [ "$path" = top ]; then
      path=/bench-top.html
      [ "$s" = tarnbox ] && path=/
    fi
    cpu_ticks "$s"
    local cpu0=$CPU
    if [ "$3" = top ]; then
      load_run "$s" "$2" "$path" "$secs" "$out" "$top_bytes"
    else
      wrk_run "$s" "$2" "$path" "$secs" "$out"
    fi
    cpu_ticks "$s"
    store "$s" "$1" "$(grep '^RESULT' "$out")" "$4"
    [ "${F[requests]:-0}" -gt 0 ] &&
      R["$s|$1.cpu"]=$(((CPU - cpu0) * tick_us / F[requests]))
    alive "$s" "$4"
  done
}

load_start="$(cut -d' ' -f1-3 /proc/loadavg)"
say "${secs}s per run, tarnbox on 127.0.0.1:$gw_port, nginx on 127.0.0.1:$ng_port"
for c in 1 8 64; do
  bench_case "top.c$c" "$c" top "top page c=$c"
done
for c in 1 8 64; do
  bench_case "2k.c$c" "$c" /bench-2k.html "2 KB file c=$c"
done
bench_case big 1 /bench-10m.bin "10 MB file alone"

# The large download beside 32 clients of small pages, started together:
# the download's rate and whether any small client waited far too long.
for s in tarnbox nginx; do
  alive "$s" "10 MB + 32 small" || continue
  say "$s: 10 MB file beside 32 small-page clients"
  # Started directly, not through load_run, so that $! is the load tool
  # itself and the trap can stop it.
  "$load" --port "$(port_of "$s")" --path /bench-small.html --conns 32 --threads 2 \
    --seconds "$secs" --expect-body 300 >"$work/load-$s-mix-small.txt" 2>&1 &
  small_pid=$!
  bg_pids=("$small_pid")
  wrk_run "$s" 1 /bench-10m.bin "$secs" "$work/wrk-$s-mix-big.txt"
  wait "$small_pid"
  bg_pids=()
  store "$s" mixbig "$(grep '^RESULT' "$work/wrk-$s-mix-big.txt")" "10 MB beside 32 small"
  store "$s" mixsmall "$(grep '^RESULT' "$work/load-$s-mix-small.txt")" "32 small beside 10 MB"
  alive "$s" "10 MB + 32 small"
done

# ------------------------------------------------------ segments per answer
# Every send() of a small piece can leave as a TCP segment of its own; on a
# real network, pieces held back by Nagle wait for the client's delayed ACK.
# The count is machine-wide, so other loopback traffic adds a little noise.
out_segs() { awk '/^Tcp:/ {if (!h) {for (i = 1; i <= NF; i++) if ($i == "OutSegs") k = i; h = 1} else print $k}' /proc/net/snmp; }
say "TCP segments per answer"
for s in tarnbox nginx; do
  for what in top 2k; do
    alive "$s" "segment count" || continue
    if [ "$what" = top ]; then
      path=/bench-top.html
      [ "$s" = tarnbox ] && path=/
      size="$top_bytes"
    else
      path=/bench-2k.html
      size=2048
    fi
    a="$(out_segs)"
    "$load" --port "$(port_of "$s")" --path "$path" --conns 1 --threads 1 --seconds 1 \
      --expect-body "$size" >"$work/segs-$s-$what.txt" 2>&1
    b="$(out_segs)"
    parse "$(grep '^RESULT' "$work/segs-$s-$what.txt")"
    req="${F[requests]:-0}"
    [ "$req" -gt 0 ] &&
      R["$s|segs.$what"]="$(awk -v a="$a" -v b="$b" -v n="$req" 'BEGIN {printf "%.1f", (b - a) / n}')"
  done
done

# --------------------------------------------------------- idle connections
for s in tarnbox nginx; do
  alive "$s" "$idle_count idle connections" || continue
  say "$s: RSS with $idle_count idle connections"
  if [ "$s" = tarnbox ]; then
    line="$($py "$here/idle_rss.py" --port "$gw_port" --pid "$gw_pid" --count "$idle_count")"
  else
    line="$($py "$here/idle_rss.py" --port "$ng_port" --pid "$ng_pid" --count "$idle_count" --children)"
  fi
  if [ -z "$line" ]; then
    note "$s: idle-connection measurement printed nothing"
    continue
  fi
  parse "$line"
  before="${F[before_kb]:-0}"
  during="${F[during_kb]:-0}"
  opened="${F[opened]:-0}"
  R["$s|rss.before"]="$(awk -v v="$before" 'BEGIN {printf "%.1f", v / 1024}')"
  R["$s|rss.idle"]="$(awk -v v="$during" 'BEGIN {printf "%.1f", v / 1024}')"
  R["$s|rss.per"]="$(awk -v a="$before" -v b="$during" -v n="$opened" 'BEGIN {printf "%.1f", n ? (b - a) / n : 0}')"
  [ "$opened" != "$idle_count" ] && note "$s: only $opened of $idle_count idle connections could be opened"
  for k in closed answered; do
    [ "${F[$k]:-0}" != 0 ] && note "$s: ${F[$k]} of $opened idle connections were $k by the server within 2 s"
  done
  [ "$s" = tarnbox ] && note "tarnbox: threads ${F[threads_before]:-?} before, ${F[threads_during]:-?} with $opened idle connections"
  alive "$s" "$idle_count idle connections"
done
if [ -n "$gw_rss_start" ]; then R["tarnbox|rss.start"]="$(awk -v v="$gw_rss_start" 'BEGIN {printf "%.1f", v / 1024}')"; fi
if [ -n "$ng_rss_start" ]; then R["nginx|rss.start"]="$(awk -v v="$ng_rss_start" 'BEGIN {printf "%.1f", v / 1024}')"; fi

# ------------------------------------------------------------------ table
# label|key|target: a target is the least tarnbox/nginx ratio wanted, and
# only rates (more is better) have one.
rows=()
for c in 1 8 64; do
  rows+=("top page ${top_bytes} B c=$c   req/s|top.c$c.rps|0.5")
  rows+=("top page ${top_bytes} B c=$c   p50 ms|top.c$c.p50|")
  rows+=("top page ${top_bytes} B c=$c   p99 ms|top.c$c.p99|")
  rows+=("top page ${top_bytes} B c=$c   CPU us/answer|top.c$c.cpu|")
done
for c in 1 8 64; do
  rows+=("2 KB file c=$c   req/s|2k.c$c.rps|0.5")
  rows+=("2 KB file c=$c   p50 ms|2k.c$c.p50|")
  rows+=("2 KB file c=$c   p99 ms|2k.c$c.p99|")
  rows+=("2 KB file c=$c   CPU us/answer|2k.c$c.cpu|")
done
rows+=("10 MB file alone   MB/s|big.mbs|0.8")
rows+=("10 MB file alone   CPU us/answer|big.cpu|")
rows+=("10 MB + 32 small: 10 MB MB/s|mixbig.mbs|0.8")
rows+=("10 MB + 32 small: small req/s|mixsmall.rps|0.5")
rows+=("10 MB + 32 small: small p99 ms|mixsmall.p99|")
rows+=("10 MB + 32 small: small max ms|mixsmall.max|")
rows+=("10 MB + 32 small: fewest answers/client|mixsmall.fewest|")
rows+=("TCP segments per top page exchange|segs.top|")
rows+=("TCP segments per 2 KB exchange|segs.2k|")
rows+=("RSS at start MB|rss.start|")
rows+=("RSS before $idle_count idle MB|rss.before|")
rows+=("RSS with $idle_count idle MB|rss.idle|")
rows+=("RSS per idle connection KB|rss.per|")

echo
printf '%-38s %12s %12s %8s  %s\n' case tarnbox nginx ratio target
printf '%-38s %12s %12s %8s  %s\n' "--------------------------------------" ------------ ------------ -------- -----------
for row in "${rows[@]}"; do
  IFS='|' read -r label key target <<<"$row"
  t="${R[tarnbox|$key]:-n/a}"
  n="${R[nginx|$key]:-n/a}"
  ratio="n/a"
  if [ "$t" != n/a ] && [ "$n" != n/a ]; then
    ratio="$(awk -v a="$t" -v b="$n" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}')"
  fi
  verdict=""
  if [ -n "$target" ]; then
    verdict=">= $target"
    if [ "$ratio" != n/a ]; then
      verdict+="$(awk -v r="$ratio" -v g="$target" 'BEGIN {print (r >= g ? " met" : " BELOW")}')"
    fi
  fi
  printf '%-38s %12s %12s %8s  %s\n' "$label" "$t" "$n" "$ratio" "$verdict"
done

# A small-page client waiting over a second beside one download on loopback,
# or getting no answer at all, has been starved, whatever the averages say.
for s in tarnbox nginx; do
  m="${R[$s|mixsmall.max]:-}"
  [ -n "$m" ] && awk -v m="$m" 'BEGIN {exit !(m > 1000)}' &&
    note "$s: a small-page client waited ${m} ms beside the 10 MB download"
  f="${R[$s|mixsmall.fewest]:-}"
  r="${R[$s|mixsmall.rps]:-}"
  [ -n "$f" ] && [ -n "$r" ] &&
    awk -v f="$f" -v r="$r" -v d="$secs" 'BEGIN {exit !(f < 0.25 * r * d / 32)}' &&
    note "$s: the least served of the 32 small-page clients got $f answers, under a quarter of the mean ($(awk -v r="$r" -v d="$secs" 'BEGIN {printf "%.0f", r * d / 32}'))"
done

echo
echo "tarnbox answers the top-page case from GET / (generated); nginx from a saved copy of that page (same bytes)."
echo "Top page and small pages beside the 10 MB file: bench/http_load (reads to the close; latency from connect() on)."
echo "2 KB and 10 MB: wrk (latency from the request's send to the answer's end, connection set-up not included)."
echo "CPU us/answer: the server's user+system CPU time over the run divided by its answers (clock-tick resolution)."
echo "MB = 10^6 bytes. Ratios are tarnbox/nginx; for latency and RSS rows lower is better. Targets are goals, not limits."
echo "TCP segments: both directions on loopback, per exchange of one request (connect to close)."
echo "Load average at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg), on $(nproc) CPUs: other work on the machine makes these numbers noisy."
if [ ${#notes[@]} -gt 0 ]; then
  echo
  echo "notes:"
  for n in "${notes[@]}"; do echo "  - $n"; done
fi
exit 0
