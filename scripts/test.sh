#!/usr/bin/env bash
# Installs what is missing, then runs every test stage in order
# (scripts/stages/NN-*.sh); the first stage that fails stops the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Every stage's build treats warnings as errors (a user's own build does not).
export VESKA_WERROR=ON
for stage in scripts/stages/[0-9][0-9]-*.sh; do
  echo "=== $(basename "$stage" .sh)"
  start=$SECONDS
  bash "$stage"
  echo "=== $(basename "$stage" .sh) passed in $((SECONDS - start)) s"
done
