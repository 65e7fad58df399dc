#!/usr/bin/env bash
# Runs one test executable with a private XDG_RUNTIME_DIR that is removed afterwards.
set -u
rt=$(mktemp -d /tmp/kp-test-rt.XXXXXX)
chmod 700 "$rt"
export XDG_RUNTIME_DIR=$rt QT_QPA_PLATFORM=offscreen
"$@"
rc=$?
rm -rf "$rt"
exit $rc
