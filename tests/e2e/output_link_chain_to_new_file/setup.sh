#!/bin/sh
# out.qsm -> d/link.qsm -> ../t/new.qsm, which does not exist yet.
mkdir d t
ln -s d/link.qsm out.qsm
ln -s ../t/new.qsm d/link.qsm
