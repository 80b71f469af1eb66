#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it with lintian: any error fails the
# check, warnings and notes are shown. Usage: scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -1)
[ -f "$deb" ] || { echo "check-package: no package was built" >&2; exit 1; }

# Installed from the package alone, a station must be able to keep its journal.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6sql6-sqlite libpq5; do
    if ! grep -qE "(^|, )$needed( |,|$)" <<<"$depends"; then
        echo "check-package: the package does not depend on $needed" >&2
        exit 1
    fi
done

report=$(mktemp)
trap 'rm -f "$report"' EXIT
# lintian's own status also reflects warnings; the tags decide here. Its advice against running
# as root is about the machine, not the package.
lintian --display-level '>=warning' "$deb" 2>&1 |
    grep -v '^running with root privileges is not recommended!$' >"$report" || true
cat "$report"
errors=$(grep -c '^E: ' "$report" || true)
warnings=$(grep -c '^W: ' "$report" || true)
if [ "$errors" -gt 0 ]; then
    echo "check-package: lintian found $errors error(s) and $warnings warning(s) in $deb" >&2
    exit 1
fi
echo "check-package: lintian found no errors ($warnings warning(s)) in $(basename "$deb")"
