#!/bin/sh
# A long headless drive in the bundled city with the HUD's numbers changing all the time:
# resident memory sampled against the frame count the trace has reached, and the trace
# checked for NaN. A benchmark-style run, not a test:
#   bench/font/hud_soak.sh [build dir] [frames] [views]
set -eu
build=${1:-build}
frames=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Throttle, steer, brake and reverse by turns, so position, speed and contacts keep changing;
# with a third argument "views", F3 also cycles the camera (new views make Mesa's software
# renderer compile new shader variants, which shows in resident memory too).
views=${3:-}
awk -v n="$frames" -v views="$views" 'BEGIN { while (done < n) { print "240 UP"; print "90 UP LEFT";
    print "60 DOWN"; print "120 UP RIGHT"; print "90 DOWN"; print (views == "views" ? "30 F3" : "30");
    done += 630 } }' > "$work/keys"

"$build/app/citydrive" --headless --data assets --fixed-step 0.0166666 --frames "$frames" \
    --keys "$work/keys" --trace "$work/trace.csv" &
pid=$!
: > "$work/rss"
while kill -0 "$pid" 2> /dev/null; do
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2> /dev/null || true)
    lines=1
    [ -f "$work/trace.csv" ] && lines=$(wc -l < "$work/trace.csv")
    [ -n "$rss" ] && echo "$((lines - 1)) $rss" >> "$work/rss"
    sleep 0.5
done
status=0
wait "$pid" || status=$?
echo "exit status: $status"
awk 'NR > 1 { if (tolower($0) ~ /nan/) bad++ } END { printf "frames traced: %d, lines with NaN: %d\n", NR - 1, bad + 0 }' \
    "$work/trace.csv"
awk -v n="$frames" '$1 >= 1000 && !first { first = $2; at = $1 }
    { last = $2; lastAt = $1; if ($2 > peak) peak = $2 }
    END { printf "resident memory: %d KiB at frame %d, %d KiB at frame %d (%+d KiB), peak %d KiB\n",
          first, at, last, lastAt, last - first, peak }' "$work/rss"
# Where memory grew after frame 1,000, if it did.
awk '$1 >= 1000 { if (prev && $2 != prev) printf "  frame %d: %d KiB\n", $1, $2; prev = $2 }' "$work/rss" | head -20
