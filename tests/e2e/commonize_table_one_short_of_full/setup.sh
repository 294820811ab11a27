#!/bin/sh
# As commonize_table_fills_at_1022_matches, but the second run's search
# finds 1,021 matches: it reaches the CODE section of another name and
# fails, so nothing of it is shared.
exec "$E2E_CASES/full_table_bulk.sh" 1021 1020
