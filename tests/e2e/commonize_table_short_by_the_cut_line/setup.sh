#!/bin/sh
# The search from the cut inc.w after L2 finds 1,020 lines ahead and the
# copy of the first run's inc.w: 1,021, one short of a full table. It fails
# at the CODE section of another name and leaves that section's name in
# scan_section, so the second run's search fails at the next data section
# and nothing of it is shared.
exec "$E2E_CASES/full_table_bulk.sh" 1020 1021
