#!/bin/sh
# The search from the second run (mov.w R0,R1 ...) finds exactly 1,022
# matches before the CODE section of another name: its table fills and the
# run is shared. Before it, the search from the cut inc.w after L2 finds
# 1,021 lines ahead and the copy of the first run's inc.w, 1,022 in all:
# its table fills too, so the second run's search starts in the
# reference's section.
exec "$E2E_CASES/full_table_bulk.sh" 1021 1021
