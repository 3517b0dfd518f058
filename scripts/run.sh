#!/usr/bin/env bash
# Sets up, builds and starts the game on the bundled city. Extra arguments go to the game
# (for example --headless --frames 600 --screenshot city.png).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCITYDRIVE_BENCH=OFF >/dev/null
cmake --build "$root/build/release" --target citydrive
exec "$root/build/release/app/citydrive" --data "$root/assets" "$@"
