#!/bin/sh
# Fails when any of the given programs or libraries loads a Qt library:
# orvane-batch's analysis and the Python extension run where no desktop is
# installed.
status=0
for file in "$@"; do
    if ldd "$file" | grep -i 'libQt'; then
        echo "$file loads Qt" >&2
        status=1
    fi
done
exit $status
