#!/bin/sh
# 1,000,000 short lines.
{
  printf '\t._LANG\t\047C\047\n'
  i=0
  yes '	rts' | head -n 999999
} > in.qsm
cp in.qsm expected.out
