#!/usr/bin/env bash
# Peak memory and time to the offer after a crash, for journals of 65 000,
# 1 million and 5 million rows. Each BIN folder holds a build of
# tarvex-bench-journal-offer (an older build beside this one gives a
# baseline from the same run):
#
#   bench/journal_offer.sh [BIN ...]      default: build/bin
set -euo pipefail
cd "$(dirname "$0")/.."
bins=("$@")
[ ${#bins[@]} -eq 0 ] && bins=(build/bin)
work=$(mktemp -d /tmp/tarvex-journal-offer.XXXXXX)
trap 'rm -rf "$work"' EXIT
for rows in 65000 1000000 5000000; do
  "${bins[0]}/tarvex-bench-journal-offer" --write "$rows" "$work/$rows"
  size=$(du -m "$work/$rows/journal.txt" | cut -f1)
  for bin in "${bins[@]}"; do
    echo "journal_rows=$rows journal_mb=$size build=$bin $("$bin/tarvex-bench-journal-offer" --offer "$work/$rows")"
  done
  rm -rf "${work:?}/$rows"
done
