# The page in headless Chromium against the mock service behind nginx, with
# the mock's hooks for a restart and a refused write (tests/web).
set -euo pipefail
exec bash "$(dirname "$0")/../web/run-against-mock.sh" "$1"
