#!/bin/sh
umask 027
"$@"
rc=$?
stat -c %a out.qsm
exit $rc
