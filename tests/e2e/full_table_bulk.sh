#!/bin/sh
# Writes in.qsm and expected.out of a case about a full occurrence table:
# in.head or out.head, then N lines "inc.w R0" and M lines "mov.w R0,R1",
# each cut from the next by a jne (they come out as they went in), then the
# end of the file: a CODE section of another name, where every search that
# has not filled its table before fails.
#
#   full_table_bulk.sh N M
set -eu
bulk() {
  i=0
  while [ $i -lt "$1" ]; do printf '\tinc.w\tR0\n\tjne\tL1\n'; i=$((i + 1)); done
  i=0
  while [ $i -lt "$2" ]; do printf '\tmov.w\tR0,R1\n\tjne\tL1\n'; i=$((i + 1)); done
  printf '\trts\nE2:\n\t.section\tother,CODE\n\t.glb\t_f3\n_f3:\n\tnop\n\trts\nE3:\n'
}
{ cat in.head; bulk "$1" "$2"; } > in.qsm
{ cat out.head; bulk "$1" "$2"; } > expected.out
