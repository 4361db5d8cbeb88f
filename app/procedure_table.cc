// Keyed access to the procedure table.
#include "app/procedure_table.h"

ProcedureEntry& entryFor(ProcedureTable& table, std::u16string_view key) {
  auto found = table.entries.find(key);
  if (found != table.entries.end()) return found->second;
  return table.entries.try_emplace(std::u16string(key)).first->second;
}

void clearTable(ProcedureTable& table) { table.entries.clear(); }
