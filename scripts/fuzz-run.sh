#!/usr/bin/env bash
# Short fuzz run: the seed corpus (read only) plus a scratch corpus in the build tree.
# Usage: fuzz-run.sh FUZZER SEED_DIR WORK_DIR SECONDS
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=${4:-20}
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" "$seeds"
