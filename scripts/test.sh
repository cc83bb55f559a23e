#!/usr/bin/env bash
# Installs what is missing, then runs every test stage in order
# (scripts/stages/NN-*.sh); the first stage that fails stops the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for stage in scripts/stages/[0-9][0-9]-*.sh; do
  echo "=== $(basename "$stage" .sh)"
  start=$SECONDS
  bash "$stage"
  echo "=== $(basename "$stage" .sh) passed in $((SECONDS - start)) s"
done
