#!/usr/bin/env bash
# Builds everything under AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test: unit tests on the fake platform, the Linux port layer and
# the shared library on pseudo-terminals with the controller simulator, the
# command-line host end to end, and the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --workflow --preset test
