#!/usr/bin/env bash
# Page weight and load time on a phone, this gateway beside a baseline
# revision built in a scratch worktree (by default the last one whose pages
# had neither viewport nor stylesheet). Medians of PAGE_WEIGHT_RUNS (7)
# fresh browser profiles each; see bench/page_weight.mjs.
#
#   bench/page_weight.sh [GATEWAY_BINARY] [BASELINE_REVISION]
#
# BASELINE_BIN names an already built baseline gateway instead.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bin="${1:-$top/build/tarnbox}"
base_rev="${2:-9ddf0ee}"
bash scripts/install-mail-servers.sh >/dev/null
bash scripts/install-browser.sh >/dev/null
scratch="$(mktemp -d /tmp/tarnbox-page-weight-XXXXXX)"
trap 'git worktree remove --force "$scratch/base" 2>/dev/null || true; rm -rf "$scratch"' EXIT
base_bin="${BASELINE_BIN:-}"
if [ -z "$base_bin" ]; then
  git worktree add -q --detach "$scratch/base" "$base_rev"
  cmake -S "$scratch/base" -B "$scratch/base/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNBOX_TESTS=OFF -DTARNBOX_BENCH=OFF >/dev/null
  cmake --build "$scratch/base/build" -j"${JOBS:-2}" --target tarnbox >/dev/null
  base_bin="$scratch/base/build/tarnbox"
fi
TARNBOX_BIN="$base_bin" node bench/page_weight.mjs >"$scratch/before.json"
TARNBOX_BIN="$bin" node bench/page_weight.mjs >"$scratch/after.json"
python3 - "$scratch/before.json" "$scratch/after.json" "$base_rev" <<'PY'
import json, sys
before, after = (json.load(open(p)) for p in sys.argv[1:3])
print(f"phone 390x844, medians; before = {sys.argv[3]}, after = this build")
print(f"{'page':<14}{'bytes before':>13}{'after':>8}{'ratio':>7}{'html before':>13}{'after':>8}"
      f"{'requests':>10}{'load ms before':>16}{'after':>8}{'ratio':>7}")
for key in after:
    b, a = before[key], after[key]
    print(f"{key:<14}{b['bytes']:>13.0f}{a['bytes']:>8.0f}{a['bytes'] / b['bytes']:>6.2f}x"
          f"{b['html']:>13.0f}{a['html']:>8.0f}{b['requests']:>5.0f}/{a['requests']:<4.0f}"
          f"{b['ms']:>16.1f}{a['ms']:>8.1f}{a['ms'] / b['ms']:>6.2f}x")
PY
