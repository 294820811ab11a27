#!/usr/bin/env bash
# Runs the tarvox binary on every case folder under the given directory and
# compares what it did with what the folder expects, byte for byte.
#
#   run_cases.sh <tarvox-binary> <e2e-dir> [case-name...]
#
# A case folder holds:
#   args             the arguments, one per line (absent or empty: none)
#   setup.sh         optional, run first in the case's temp dir (must be
#                    executable); E2E_CASES names the cases' folder, for
#                    scripts the cases share
#   run.sh           optional, executable: the binary is run as
#                    ./run.sh <binary> <args...> (to set a limit or a
#                    redirection, and to print checks after the run)
#   stdin            optional, piped into standard input (else /dev/null)
#   expected.stdout  standard output (absent: must be empty)
#   expected.stderr  standard error (absent: must be empty)
#   expected.rc      exit status (absent: 0)
#   expected.out     content of out.qsm (absent: no out.qsm may be written)
# and whatever input files the arguments name. Each case runs in a fresh copy
# of its folder; setup.sh may also write large inputs and their expected
# files there, and the expected files are read from that copy. No
# temporary output file (.tarvox-*) may be left in it. With case names
# given, only those cases run.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <tarvox-binary> <e2e-dir> [case-name...]" >&2
  exit 2
fi

binary=$(realpath "$1")
cases_dir=$(realpath "$2")
shift 2
if [ ! -x "$binary" ]; then
  echo "not an executable: $binary" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

# Compares an actual file with an expected one (missing expected = empty).
# Prints a diff and returns 1 when they differ.
compare() {
  local what=$1 actual=$2 expected=$3
  if [ -f "$expected" ]; then
    cmp -s "$actual" "$expected" && return 0
  else
    [ ! -s "$actual" ] && return 0
    expected=/dev/null
  fi
  echo "  $what differs (expected vs actual):"
  diff -a "$expected" "$actual" | sed 's/^/    /' | head -n 60
  return 1
}

run_case() {
  local dir=$1 name
  name=$(basename "$dir")
  local run_dir="$work/$name" captured="$work/$name.captured"
  mkdir -p "$run_dir" "$captured"
  cp -a "$dir/." "$run_dir/"

  local -a args=()
  if [ -f "$dir/args" ]; then
    mapfile -t args < "$dir/args"
  fi

  if [ -f "$dir/setup.sh" ]; then
    if ! (cd "$run_dir" && E2E_CASES="$cases_dir" ./setup.sh) > "$captured/setup.log" 2>&1; then
      echo "  setup.sh failed:"
      sed 's/^/    /' "$captured/setup.log"
      return 1
    fi
  fi

  local -a command=("$binary")
  [ -f "$dir/run.sh" ] && command=(./run.sh "$binary")
  local stdin_source=/dev/null
  [ -f "$dir/stdin" ] && stdin_source="$run_dir/stdin"
  # cat makes standard input a pipe, not a file the program could reopen.
  cat "$stdin_source" | (cd "$run_dir" && "${command[@]}" "${args[@]+"${args[@]}"}") \
    > "$captured/stdout" 2> "$captured/stderr"
  local rc=${PIPESTATUS[1]}

  local expected_rc=0 ok=0
  if [ -f "$run_dir/expected.rc" ]; then
    expected_rc=$(tr -d ' \t\r\n' < "$run_dir/expected.rc")
  fi
  if [ "$rc" != "$expected_rc" ]; then
    echo "  exit status $rc, expected $expected_rc"
    ok=1
  fi
  compare stdout "$captured/stdout" "$run_dir/expected.stdout" || ok=1
  compare stderr "$captured/stderr" "$run_dir/expected.stderr" || ok=1
  if [ -f "$run_dir/expected.out" ]; then
    if [ -f "$run_dir/out.qsm" ]; then
      compare out.qsm "$run_dir/out.qsm" "$run_dir/expected.out" || ok=1
    else
      echo "  out.qsm was not written"
      ok=1
    fi
  elif [ -e "$run_dir/out.qsm" ]; then
    echo "  out.qsm was written, but none was expected"
    ok=1
  fi
  local left
  left=$(find "$run_dir" -name '.tarvox-*')
  if [ -n "$left" ]; then
    echo "  temporary files left: $left"
    ok=1
  fi
  return $ok
}

passed=0
failed=0
if [ $# -gt 0 ]; then
  selected=("$@")
else
  selected=()
  while IFS= read -r dir; do
    selected+=("$(basename "$dir")")
  done < <(find "$cases_dir" -mindepth 1 -maxdepth 1 -type d | LC_ALL=C sort)
fi

for name in "${selected[@]+"${selected[@]}"}"; do
  report=$(run_case "$cases_dir/$name" 2>&1)
  if [ $? -eq 0 ]; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    printf '%s\n' "$report"
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
