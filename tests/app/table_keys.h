// The keys of a table read back, so that tests can compare tables by them.
#ifndef ORRINVALE_TESTS_APP_TABLE_KEYS_H_
#define ORRINVALE_TESTS_APP_TABLE_KEYS_H_

#include <string>

#include "app/procedure_table.h"

// The key of an entry ("" for the main code); a search of the whole table.
std::u16string keyOf(const ProcedureTable& table, EntryIndex entry);

#endif  // ORRINVALE_TESTS_APP_TABLE_KEYS_H_
