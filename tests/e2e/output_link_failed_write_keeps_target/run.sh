#!/usr/bin/env bash
# The output is larger than the file-size limit of 1 KiB: its write fails.
# Afterwards both links are still links.
(ulimit -f 1; exec "$@")
rc=$?
readlink out.qsm d/link.qsm
exit $rc
