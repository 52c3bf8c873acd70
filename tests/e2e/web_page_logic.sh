#!/bin/bash
# The page's logic (parsing, bodies, input checks, following, log handling)
# under node's test runner.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root/tests/web"
node --test unit/
