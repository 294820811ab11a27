#!/bin/sh
# After the run both links are still links, and the file they lead to was
# made in t/.
"$@"
rc=$?
readlink out.qsm d/link.qsm
ls t
exit $rc
