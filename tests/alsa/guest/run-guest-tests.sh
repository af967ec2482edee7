# Runs in the test machine: the sequencer's clients, then the backend's tests against them.
grep '^Client' /proc/asound/seq/clients
./kv5_alsa_guest_tests --gtest_color=no "$@"
