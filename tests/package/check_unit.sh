#!/usr/bin/env bash
# systemd-analyze verify on the template unit as the package ships it. verify
# runs here without a running systemd; it checks that ExecStart is executable
# and that the Documentation= manual page exists, so the package is unpacked
# into a scratch folder, the unit's program path pointed at the unpacked
# program and man looked up in the unpacked manual pages. Any line verify
# prints about the unit fails the test, since unknown keys are only warned of.
# Usage: check_unit.sh DEB
set -euo pipefail
deb=$1
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is missing: run scripts/bootstrap.sh" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
template="$scratch/root/lib/systemd/system/vorlane-relay@.service"
[ -f "$template" ] || { echo "the package holds no /lib/systemd/system/vorlane-relay@.service" >&2; exit 1; }
grep -qx 'ExecStart=/usr/bin/vorlane-relay --config /etc/vorlane/%i.ini' "$template" ||
    { echo "the unit does not start /usr/bin/vorlane-relay with /etc/vorlane/%i.ini" >&2; exit 1; }
# Type=notify: systemctl start waits for the relay's READY=1.
grep -qx 'Type=notify' "$template" && grep -qx 'NotifyAccess=main' "$template" ||
    { echo "the unit is not Type=notify with NotifyAccess=main" >&2; exit 1; }
# A drain the relay accepts, with its final close (5 s), ends before systemd's SIGKILL.
stop=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)$/\1/p' "$template")
[ -n "$stop" ] || { echo "the unit sets no TimeoutStopSec in seconds" >&2; exit 1; }
relay="$scratch/root/usr/bin/vorlane-relay"
"$relay" --check-config >/dev/null || { echo "the unpacked relay does not run" >&2; exit 1; }
if "$relay" --check-config --drain-timeout $((stop - 5)) >/dev/null 2>&1; then
    echo "the relay accepts a drain of $((stop - 5)) s, which TimeoutStopSec=$stop cuts" >&2
    exit 1
fi
mkdir "$scratch/units"
unit="$scratch/units/vorlane-relay@check.service"
sed "s#^ExecStart=/usr/bin/vorlane-relay #ExecStart=$scratch/root/usr/bin/vorlane-relay #" "$template" >"$unit"

status=0
report=$(MANPATH="$scratch/root/usr/share/man" systemd-analyze verify "$unit" 2>&1) || status=$?
printf '%s\n' "$report"
if [ "$status" -ne 0 ] || grep -q 'vorlane-relay' <<<"$report"; then
    echo "systemd-analyze verify rejects the unit (exit $status)" >&2
    exit 1
fi
# For the reader only: how exposed the service is by systemd's own measure.
systemd-analyze security --offline=true "$unit" 2>/dev/null | grep 'Overall exposure' || true
echo "systemd-analyze verify: vorlane-relay@.service passes"
