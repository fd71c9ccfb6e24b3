#!/usr/bin/env bash
# 1 GiB download from nginx on loopback: GetFileFromURL against curl -o, same file, same run.
# Usage: bench/run download [size MiB (1024)] [rounds (5)]
set -euo pipefail
source "$(dirname "$0")/lib.bash"
bench_prepare orvo_bench_download
# Written to memory by default, so that disk write-back does not decide the race.
if [ -z "${ORVO_BENCH_OUT:-}" ] && [ -w /dev/shm ]; then export ORVO_BENCH_OUT=/dev/shm; fi
"$bench_build/bench/orvo_bench_download" "${1:-1024}" "${2:-5}"
