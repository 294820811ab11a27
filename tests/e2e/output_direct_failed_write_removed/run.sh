#!/usr/bin/env bash
# An output in a directory whose name leaves no room for a temporary file
# beside it is written in place. When that write fails part-way (a
# file-size limit of 1 KiB), the truncated file is removed: no partial
# output passes for a result.
binary=$1
long=d
for i in $(seq 18); do long="$long/$(printf 'x%.0s' $(seq 226))"; done
mkdir -p "$long"
echo "old output" > "$long/out.qsm"
(ulimit -f 1; exec "$binary" in.qsm -o "$long/out.qsm") 2>&1 >/dev/null | sed "s#$long#<long directory>#" >&2
status=${PIPESTATUS[0]}
if [ -e "$long/out.qsm" ]; then echo "output left"; else echo "no output left"; fi
exit "$status"
