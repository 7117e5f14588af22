#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool's main job on the built-in
# virtual detector: identify it, then write the demo package into it. The detector's
# state is kept in build/demo-sim, so the update persists between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
sim="build/demo-sim"
tool="build/bin/tessaly-tool"
"$tool" --simulate="$sim" probe
"$tool" --simulate="$sim" inspect build/demo.dqx
"$tool" --simulate="$sim" update build/demo.dqx
"$tool" --simulate="$sim" probe
