#!/usr/bin/env bash
# Regenerates the kept seed corpus of fuzz_package with the package writer.
# Usage: tests/fuzz/make_package_corpus.sh <build folder holding bin/tessaly-mkpkg>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mkpkg="${1:?build folder}/bin/tessaly-mkpkg"
out="$here/corpus/package"
mkdir -p "$out"
rm -f "$out"/*.dqx

small=(--segment 1=64 --segment 3=48 --segment 4=32 --segment 5=40)
mk() { local name=$1; shift; "$mkpkg" -o "$out/$name.dqx" "$@"; }

mk valid "${small[@]}" --variant SH01=32 --variant 'ZUR =24' --date 2026-12-01
mk valid-prefix --prefix-size 37 "${small[@]}" --variant SH01=16
mk one-other-variant --segment 5=16 --variant XX99=40
mk many-variants --segment 1=8 --variant AAAA=8 --variant 'V73 =8' --variant RKVD=8 \
   --variant 0x00000000=8 --variant SH01=8
mk empty-table --segment 3=24 --variant-table
mk all-absent
mk wrong-brand "${small[@]}" --brand 'Sable Harbos'
mk version-2 "${small[@]}" --version 2
mk checksum-off "${small[@]}" --checksum-delta 1
mk size-312 "${small[@]}" --size-field 312
mk seg1-over-limit "${small[@]}" --length-field 1=0x7001
mk huge-count "${small[@]}" --variant SH01=16 --variant-count 0xFFFFFFFF
mk table-past-end "${small[@]}" --variant SH01=16 --offset-field 2=0xFFFFFFF0
mk present-zero "${small[@]}" --variant-present 0 --offset-field 2=0x12345678
mk seg-outside "${small[@]}" --offset-field 4=0xFFFFFF00
ls -l "$out"
