#!/bin/sh
# An input whose output is far larger than a pipe holds (64 KiB).
printf "\t._LANG\t'C',1\n" > in.qsm
i=0
while [ $i -lt 4000 ]; do
  echo "; a comment line long enough to fill the pipe quickly, number $i"
  i=$((i + 1))
done >> in.qsm
