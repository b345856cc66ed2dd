#!/usr/bin/env bash
# Builds the driver and the command-line host, then runs the demo: the driver
# reads and writes every kind of tag on the built-in controller simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target dazaraz dazaraz_cli
exec build/release/host/cli/dazaraz demo "$@"
