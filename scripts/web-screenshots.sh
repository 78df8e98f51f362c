#!/usr/bin/env bash
# Takes the README's pictures of the web inbox (light and dark) with Debian's chromium, headless.
# Needs the program built in build/ (./run.sh or ./test.sh does that).
set -euo pipefail
cd "$(dirname "$0")/.."
(cd tests/web/node && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
node tools/web-screenshots.mjs build/src/app/quellpost docs/screenshots
