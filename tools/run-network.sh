#!/usr/bin/env bash
# The routed tests (tests/network): the robot (tarn-sim), a Zenoh router
# (zenohd 1.10.2, built once by tools/zenohd.sh) and the client, each in a
# network namespace of its own inside tools/isolated, joined only through the
# router. Every accessor, the Python module and tarn through the router; the
# router killed and restarted; the client's link silently dead; the link
# shaped below what the streams need; the secure recipe (mutual TLS, access
# rules) against a rogue, and without it; samples and replies of 64 and
# 512 MiB. Certificates are made for each run. Prints the figures as
# "[ figure   ]" lines. Sets up and builds first.
#
#   tools/run-network.sh [short]   about four minutes (the test command runs it)
#   tools/run-network.sh long      three router restarts, a link outage past Zenoh's lease, longer windows
#   tools/run-network.sh tls-cost  plain TCP beside the secure recipe: connection time and CPU (a table)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
stage=${1:-short}
case "$stage" in
  short | tls-cost) export NORVIK_NETWORK_LONG=0 ;;
  long) export NORVIK_NETWORK_LONG=1 ;;
  *)
    echo "usage: tools/run-network.sh [short | long | tls-cost]" >&2
    exit 2
    ;;
esac
"$root/tools/setup.sh"
export NORVIK_ZENOHD=$("$root/tools/zenohd.sh")
export NORVIK_TARN_BUILD_DIR=$(cd "${BUILD_DIR:-build}" && pwd)
if [[ "$stage" == tls-cost ]]; then
  exec tools/isolated "$root/.venv/bin/python" tests/network/measure_tls_cost.py --rounds 3 --seconds 10
fi
tools/isolated "$root/.venv/bin/python" -m pytest -s -q -p no:cacheprovider tests/network
