#!/bin/sh
# Runs one QtTest executable and passes only when it exits with status 0 and every totals
# line it printed says "0 failed". An executable that ends with status 0 before all its
# cases ran (a case calling exit(), a signal handler quitting the application) prints no
# totals line, and so fails here instead of counting as passed.
log=$(mktemp /tmp/qtest-totals.XXXXXX) || exit 1
status=$(mktemp /tmp/qtest-status.XXXXXX) || exit 1
trap 'rm -f "$log" "$status"' EXIT
# Shown as it comes, so that a suite stopped by the time limit still shows how far it got.
{
    "$@" 2>&1
    echo $? >"$status"
} | tee "$log"
code=$(cat "$status")
[ "$code" = 0 ] || exit "${code:-1}"
if ! grep -Eq '^Totals: [0-9]+ passed, [0-9]+ failed' "$log"; then
    echo "qtest-totals: exit status 0 but no totals line: the suite stopped before its end" >&2
    exit 1
fi
if grep -E '^Totals: [0-9]+ passed, [0-9]+ failed' "$log" | grep -Evq ', 0 failed,'; then
    echo "qtest-totals: exit status 0 but failures in the totals line" >&2
    exit 1
fi
exit 0
