#!/usr/bin/env bash
# Loopback throughput of two builds of the send path, alternating round by round so that a noisy
# moment on a shared machine hits both alike; prints each build's median per block size, the
# ratio new / old and, where iperf3 is installed, each build's ratio to the iperf3 run that
# followed it in the same round (median of the rounds' ratios) beside iperf3's median.
#
#   bash bench/compare_builds.sh OLD_BIN_DIR NEW_BIN_DIR [ROUNDS, default 5] [SECONDS per run, default 3]
set -euo pipefail
old="${1:?Ordner der alten Programme fehlt}"
new="${2:?Ordner der neuen Programme fehlt}"
rounds="${3:-5}"
seconds="${4:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Each kept line: block size, our MiB/s, iperf3's MiB/s (0 when iperf3 is not installed).
for ((round = 1; round <= rounds; round++)); do
  for build in old new; do
    dir=$old
    [ $build = new ] && dir=$new
    timeout 300 "$dir/korvaden-throughput-bench" "$seconds" 1 2>/dev/null \
      | sed -n -e 's/^Blockgröße *\([0-9]*\): korvaden *\([0-9.]*\) MiB\/s, iperf3 *\([0-9.]*\) MiB.*/\1 \2 \3/p' \
        -e 's/^Blockgröße *\([0-9]*\): korvaden *\([0-9.]*\) MiB\/s (iperf3 nicht.*/\1 \2 0/p' >>"$work/$build"
  done
  echo "Runde $round von $rounds"
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for size in $(awk '{ print $1 }' "$work/new" | sort -un); do
  before=$(awk -v s="$size" '$1 == s { print $2 }' "$work/old" | median)
  after=$(awk -v s="$size" '$1 == s { print $2 }' "$work/new" | median)
  awk -v s="$size" -v a="$before" -v b="$after" -v r="$rounds" \
    'BEGIN { printf "Blockgröße %6d: vorher %8.1f MiB/s, nachher %8.1f MiB/s (Median aus %d Runden), Verhältnis %.3f\n", s, a, b, r, b / a }'
  if awk -v s="$size" '$1 == s && $3 > 0 { found = 1 } END { exit !found }' "$work/old" "$work/new"; then
    iperf=$(awk -v s="$size" '$1 == s && $3 > 0 { print $3 }' "$work/old" "$work/new" | median)
    oldRatio=$(awk -v s="$size" '$1 == s && $3 > 0 { print $2 / $3 }' "$work/old" | median)
    newRatio=$(awk -v s="$size" '$1 == s && $3 > 0 { print $2 / $3 }' "$work/new" | median)
    awk -v s="$size" -v i="$iperf" -v a="$oldRatio" -v b="$newRatio" \
      'BEGIN { printf "Blockgröße %6d: iperf3 %8.1f MiB/s (Median aller Läufe); zu iperf3 derselben Runde: vorher %.3f, nachher %.3f\n", s, i, a, b }'
  fi
done
