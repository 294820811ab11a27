#include "optimizer/units.h"

#include "driver/memory.h"

namespace {

SourceUnit* unit_head = nullptr;
SourceUnit* unit_tail = nullptr;

}  // namespace

void add_source_unit(std::string_view file_name, Statement* first_statement) {
  SourceUnit* unit = alloc_record<SourceUnit>();
  unit->file_name = copy_string(file_name);
  unit->first_statement = first_statement;
  unit->prev = unit_tail;
  unit->next = nullptr;
  if (unit_tail)
    unit_tail->next = unit;
  else
    unit_head = unit;
  unit_tail = unit;
}

SourceUnit* first_source_unit() { return unit_head; }

void reset_units() {
  unit_head = nullptr;
  unit_tail = nullptr;
}
