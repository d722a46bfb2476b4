#!/usr/bin/env bash
# The main job: set everything up, then fit the four transformation families to the
# bundled daily precipitation series and print the comparison table.
# Extra arguments go to `ferrule fit` (see `scripts/run.sh --help`).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" >&2
exec "$ROOT/.venv/bin/ferrule" fit "$@"
