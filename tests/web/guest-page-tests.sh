#!/bin/bash
# Runs in the sequencer machine (tests/alsa/run-in-vm.sh --host-root, started by
# web-guest-test.sh): the page in Chromium against the virtual unit (guest-page-test.mjs).
#   guest-page-tests.sh SITE-DIR RELEASE-BUILD
set -u
here=$(cd "$(dirname "$0")" && pwd)
# The page is served on 127.0.0.1, and the guest's loopback is down until brought up; Chromium
# and bash want /dev/fd, which devtmpfs does not make.
ip link set lo up
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
cd /tmp || exit 1
exec node "$here/guest-page-test.mjs" "$1" "$2"
