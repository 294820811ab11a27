#!/bin/sh
# out.qsm -> d/link.qsm -> ../t/old.qsm, a file of an earlier run.
mkdir d t
ln -s d/link.qsm out.qsm
ln -s ../t/old.qsm d/link.qsm
echo 'written by an earlier run' > t/old.qsm
