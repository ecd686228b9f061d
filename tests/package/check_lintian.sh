#!/usr/bin/env bash
# lintian on the relay's package: no error and no warning (informational tags
# are printed, and the packaging code says why each one stays).
# Usage: check_lintian.sh DEB
set -euo pipefail
deb=$1
command -v lintian >/dev/null || { echo "lintian is missing: run scripts/bootstrap.sh" >&2; exit 1; }
# lintian only grumbles about root; the package is the same for any user.
lintian --info --fail-on error,warning "$deb" 2>&1 | grep -v 'running with root privileges' || status=${PIPESTATUS[0]}
if [ "${status:-0}" -ne 0 ]; then
    echo "lintian found errors or warnings in $(basename "$deb")" >&2
    exit 1
fi
echo "lintian: no errors or warnings in $(basename "$deb")"
