#!/usr/bin/env bash
# The manual page and the README's option table name the same options:
# every option of the table has an entry in the manual's OPTIONS section,
# and that section has no entry for an option the table lacks.
#
#   manual_options.sh <README.md> <tarvox.1>
set -euo pipefail

from_readme=$(grep -E '^\| `-' "$1" | grep -oE '`-[A-Za-z0-9_]+=?' | tr -d '`' | sort -u)
from_manual=$(awk '/^\.SH /{in_options = ($2 == "OPTIONS")} in_options && after_tp {print} {after_tp = /^\.TP/}' "$2" |
  grep -oE '\\-[A-Za-z0-9_]+=?' | tr -d '\\' | sort -u)

if [ "$from_readme" != "$from_manual" ]; then
  echo "the README's option table and the manual page differ (< README, > manual):"
  diff <(echo "$from_readme") <(echo "$from_manual")
  exit 1
fi
if [ -z "$from_readme" ]; then
  echo "no options found"
  exit 1
fi
echo "$(echo "$from_readme" | wc -l) options in both"
