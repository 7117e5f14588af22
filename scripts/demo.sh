#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool's main job on the built-in
# virtual detector (state kept in build/demo-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
sim="build/demo-sim"
tool="build/bin/tessaly-tool"
"$tool" --simulate="$sim" list
"$tool" --simulate="$sim" read-page 0 0x110
