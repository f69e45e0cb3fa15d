#!/usr/bin/env bash
# Tests of the JavaScript client: the unit tests with node's test runner,
# then the browser test (Chromium through puppeteer-core) against the built
# service in ZQT_BUILD_DIR (default build/default), which needs zqtca-service
# and the reference module built there.
#
# The browser test starts the service on its fixed ports 9651/9652; as root,
# where unshare works, it runs in a private network namespace so that it
# neither meets nor disturbs another service on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(cd ../.. && pwd)

if [[ ! -d node_modules/puppeteer-core ]]; then
  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund
fi

echo "== zqtca-client unit tests"
node --test test/*.test.js

build=${ZQT_BUILD_DIR:-build/default}
[[ $build = /* ]] || build="$root/$build"
export ZQT_BUILD_DIR=$build

echo "== zqtca-client browser test ($build)"
browser=(node test/browser/run.js)
if [[ $(id -u) -eq 0 ]] && unshare -n true 2>/dev/null; then
  # shellcheck disable=SC2016
  unshare -n sh -c 'ip link set lo up && exec "$@"' sh "${browser[@]}"
else
  "${browser[@]}"
fi
