#!/usr/bin/env bash
# Two veskad replicas behind HAProxy on loopback; one is killed mid-run and the
# searches must go on with no more failures than its connections (about 20 s).
# Uses the optimised build of 20-release.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build build-release -j"$(nproc)" --target veskad veska_api >/dev/null
DURATION=${DURATION:-6} deploy/scale-out.sh build-release/veskad build-release/api/API.so
