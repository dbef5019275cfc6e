#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
#   tools/run.sh          the program
#   tools/run.sh --demo   the program beside the device simulator, published as the virtual
#                         port "korbenit-demo"; ending the program ends the simulator
# KORBENIT_NO_BUILD=1 skips installing and building (the end-to-end check uses it);
# BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
demo=false
if [ "${1:-}" = "--demo" ]; then
  demo=true
  shift
fi
if [ -z "${KORBENIT_NO_BUILD:-}" ]; then
  tools/install-deps.sh
  tools/build.sh
fi
build=${BUILD_DIR:-build}
if ! $demo; then
  exec "$build/app/korbenit-screenshot" "$@"
fi
coproc SIMULATOR { exec "$build/tools/simulator/korbenit-sim" --name korbenit-demo --moving --delay-us 856; }
simulator=$SIMULATOR_PID
trap 'kill "$simulator" 2>/dev/null || true; wait "$simulator" 2>/dev/null || true' EXIT
# Its first line says where it is published: from then on the port list offers it.
read -r published <&"${SIMULATOR[0]}"
echo "device simulator: $published"
"$build/app/korbenit-screenshot" "$@"
