#!/usr/bin/env bash
# Makes the client jobs again from the pinned encoder packages and compares them with jobs/.
#
#   tests/clients/regenerate.sh           exit 0 when the committed jobs are reproduced byte for byte
#   tests/clients/regenerate.sh --write   replace jobs/ with the new ones
#
# Needs node and npm with access to the npm registry. Works in a temporary folder, so no node_modules
# appears in the tree.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
write=0
if [[ "${1:-}" == "--write" ]]; then
    write=1
elif [[ $# -gt 0 ]]; then
    echo "usage: $0 [--write]" >&2
    exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$here/package.json" "$here/package-lock.json" "$here/generate.js" "$work/"
(cd "$work" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
node "$work/generate.js" "$work/jobs"

if [[ $write -eq 1 ]]; then
    rm -rf "$here/jobs"
    cp -r "$work/jobs" "$here/jobs"
    echo "jobs/ rewritten"
    exit 0
fi

if diff -r "$here/jobs" "$work/jobs" >/dev/null; then
    echo "client jobs: reproduced byte for byte"
else
    echo "client jobs: the committed jobs differ from what the pinned encoders make:" >&2
    diff -rq "$here/jobs" "$work/jobs" >&2 || true
    exit 1
fi
