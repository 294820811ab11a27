#!/bin/sh
# The output goes where standard output points: appended to all.s.
echo 'written before the run' > all.s
"$@" >> all.s
rc=$?
cat all.s
exit $rc
