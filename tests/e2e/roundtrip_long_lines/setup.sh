#!/bin/sh
# A 1 MB comment line and a 1 MB instruction line, written back whole.
{
  printf '\t._LANG\t\047C\047\n;'
  head -c 1048576 /dev/zero | tr '\0' 'x'
  printf '\n\tmov.w\t#'
  head -c 1048576 /dev/zero | tr '\0' '1'
  printf ',R0\n'
} > in.qsm
cp in.qsm expected.out
