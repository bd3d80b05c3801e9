#!/usr/bin/env bash
# Shows the tool on the bundled sample card image: scan it, then recover every deleted file.
set -euo pipefail
tool=${1:?usage: scripts/demo.sh <path to kestrel-recovery-cli>}
"$tool" devices || true
