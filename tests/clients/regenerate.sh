#!/usr/bin/env bash
# Makes the client jobs again from the pinned encoder packages and compares them with jobs/ and as-made/.
#
#   tests/clients/regenerate.sh           exit 0 when the committed jobs are reproduced byte for byte
#   tests/clients/regenerate.sh --write   replace jobs/ and as-made/ with the new ones
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
node "$work/generate.js" "$work/out"

if [[ $write -eq 1 ]]; then
    for d in jobs as-made; do
        rm -rf "${here:?}/$d"
        cp -r "$work/out/$d" "$here/$d"
    done
    echo "jobs/ and as-made/ rewritten"
    exit 0
fi

status=0
for d in jobs as-made; do
    if ! diff -r "$here/$d" "$work/out/$d" >/dev/null; then
        echo "client jobs: the committed $d/ differ from what the pinned encoders make:" >&2
        diff -rq "$here/$d" "$work/out/$d" >&2 || true
        status=1
    fi
done
[[ $status -eq 0 ]] && echo "client jobs: reproduced byte for byte"
exit $status
