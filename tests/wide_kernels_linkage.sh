#!/bin/sh
# Checks that the units built for wider instruction sets than every processor
# has define nothing another unit could use but their kernel tables: no weak
# or unique definitions (inline functions, template instances) that the
# linker might pick in place of the same function built for the baseline, no
# other global symbol, and no code run at start-up.  The one weak symbol a
# unit with exception tables may hold, a pointer to the C++ personality
# routine, is data, not code, and is allowed.  Nor may they hold a fused
# multiply-add: the promised bits rest on separate multiplies and adds.
#   wide_kernels_linkage.sh ARCHIVE MEMBER...
set -eu
archive=$(realpath "$1")
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
ar x "$archive" "$@"
status=0
for member in "$@"; do
    exported=$(nm --defined-only "$member" |
        awk '$2 ~ /^[A-Zuiv]$/ && !($2 ~ /^[DR]$/ && $3 ~ /Kernels$/) &&
             $3 != "DW.ref.__gxx_personality_v0" { print "  " $2 " " $3 }')
    if [ -n "$exported" ]; then
        echo "$member defines symbols other units could use:"
        echo "$exported" | c++filt
        status=1
    fi
    if objdump -d "$member" | grep -Eq 'vfn?m(add|sub)'; then
        echo "$member uses fused multiply-adds"
        status=1
    fi
    if objdump -h "$member" | grep -Eq '\.(init_array|ctors)'; then
        echo "$member runs code at start-up"
        status=1
    fi
done
exit $status
