#!/usr/bin/env bash
# 1 GiB multipart upload to a loopback receiver: PostToUrl against curl -F, same file, same run.
# Usage: bench/run upload [size MiB (1024)] [rounds (3)]
set -euo pipefail
source "$(dirname "$0")/lib.bash"
bench_prepare orvo_bench_upload
"$bench_build/bench/orvo_bench_upload" "${1:-1024}" "${2:-3}"
