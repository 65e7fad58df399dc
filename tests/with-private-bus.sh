#!/usr/bin/env bash
# Runs one test executable under a session bus of its own, whose configuration lists only a
# private service folder (empty unless the test writes .service files there), so that nothing
# of the machine's own session leaks into the test.
set -u
rt=$(mktemp -d /tmp/kp-test-bus.XXXXXX)
chmod 700 "$rt"
mkdir -p "$rt/services"
cat > "$rt/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$rt</listen>
  <servicedir>$rt/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
export XDG_RUNTIME_DIR=$rt QT_QPA_PLATFORM=offscreen KP_TEST_SERVICE_DIR=$rt/services
# "Failed to set fd limit" is the daemon's noise when run as root.
dbus-run-session --config-file="$rt/session.conf" -- "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
rc=$?
rm -rf "$rt"
exit $rc
