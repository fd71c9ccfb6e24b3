# Shared by the benchmark scripts: installs what is missing and builds the Release bench tree.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_build=${ORVO_BENCH_BUILD:-$root/build/bench}

bench_prepare() {
  "$root/scripts/setup" >&2
  cmake -S "$root" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVO_BENCH=ON -DORVO_TESTS=ON >/dev/null
  cmake --build "$bench_build" -j "$(nproc)" --target "$@" >&2
}
