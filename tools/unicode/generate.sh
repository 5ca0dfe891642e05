#!/usr/bin/env bash
# Regenerates the terminal's Unicode tables. Installs the two pinned releases
# of the Unicode Character Database (package-lock.json) into node_modules/,
# which git ignores, then runs the generator.
set -euo pipefail
cd "$(dirname "$0")"
npm ci --no-audit --no-fund --loglevel=error
node generate.mjs
