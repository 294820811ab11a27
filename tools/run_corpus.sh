#!/usr/bin/env bash
# Runs a tarvox binary over a set of inputs written by write_corpus (and any
# other NAME.qsm with an optional NAME.args beside it) and keeps, for each,
# the output file, standard error and exit status in RESULTS. Two binaries'
# RESULTS compared with diff -r show any change in what the program does.
#
#   run_corpus.sh BINARY CORPUS RESULTS
#
# Each input runs as in.qsm in a scratch directory, so the shared labels made
# from its name are the same whatever the corpus is called.
set -euo pipefail
binary=$(realpath "$1")
corpus=$(realpath "$2")
mkdir -p "$3"
results=$(realpath "$3")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for input in "$corpus"/*.qsm; do
  name=$(basename "$input" .qsm)
  args=()
  [ -f "$corpus/$name.args" ] && mapfile -t args < "$corpus/$name.args"
  cp "$input" "$scratch/in.qsm"
  rm -f "$scratch/out.qsm"
  rc=0
  (cd "$scratch" && "$binary" in.qsm -o out.qsm "${args[@]+"${args[@]}"}") \
    > /dev/null 2> "$results/$name.stderr" || rc=$?
  echo "$rc" > "$results/$name.rc"
  if [ -f "$scratch/out.qsm" ]; then mv "$scratch/out.qsm" "$results/$name.out"; else rm -f "$results/$name.out"; fi
done
