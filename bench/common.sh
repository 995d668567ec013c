# Shared setup of the benchmark scripts: a release build of the program,
# hyperfine, and a scratch directory that goes away at the end.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ! command -v hyperfine >/dev/null; then
  apt-get update -qq && apt-get install -y -qq hyperfine >/dev/null
fi
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 >/dev/null
hushmark="$root/build/hushmark"

scratch=$(mktemp -d /tmp/hushmark-bench-XXXXXX)
trap 'cd / && rm -rf "$scratch"' EXIT

export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null
export GIT_AUTHOR_NAME=bench GIT_AUTHOR_EMAIL=bench@example.invalid
export GIT_COMMITTER_NAME=bench GIT_COMMITTER_EMAIL=bench@example.invalid

# ratio JSON NAME_A NAME_B: mean time of command A over mean time of command B.
ratio() {
  python3 - "$@" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
a, b = results[sys.argv[2]], results[sys.argv[3]]
print(f"{a['mean'] / b['mean']:.3f}")
PY
}
