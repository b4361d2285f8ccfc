#!/bin/sh
# Runs the reader benchmark several times per tool on a home and prints the
# median of each figure, for the cold read and for the second refresh.
#
#   bench/run.sh HOME [RUNS]      (default 5 runs; build with the release preset first)
set -eu
home=$1
runs=${2:-5}
bin=$(dirname "$0")/../build/release/bench/brimvale-reader-bench
# Page cache warm: the targets are for files already in memory.
find "$home/.claude/projects" "$home/.codex/sessions" "$home/.gemini/tmp" -type f -exec cat {} + >/dev/null 2>&1 || true
for tool in claude codex gemini; do
  out=$(i=0; while [ $i -lt "$runs" ]; do "$bin" --home "$home" --tool $tool; i=$((i + 1)); done)
  echo "$out" | grep '^tool' | head -1
  for phase in cold again; do
    echo "$out" | grep "^$phase " | awk -v phase=$phase -v runs="$runs" '
      { for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1], NR] = kv[2]; keys[kv[1]] = 1 } }
      END {
        line = phase
        split("wall_s cpu_s MB_s events events_s peak_rss_MiB", order, " ")
        for (k = 1; k <= 6; k++) {
          key = order[k]; n = 0
          for (r = 1; r <= NR; r++) a[++n] = v[key, r] + 0
          for (x = 1; x <= n; x++) for (y = x + 1; y <= n; y++) if (a[y] < a[x]) { t = a[x]; a[x] = a[y]; a[y] = t }
          line = line sprintf(" %s=%s", key, a[int((n + 1) / 2)])
          if (key == "wall_s") line = line sprintf(" (min %s)", a[1])
        }
        print line " (median of " NR ")"
      }'
  done
done
