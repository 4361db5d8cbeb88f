// Keyed access to the procedure table, and the reference sets.
#include "app/procedure_table.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

uint64_t hashKey(std::u16string_view key) { return std::hash<std::u16string_view>()(key); }

size_t slotCountFor(size_t wanted) {
  size_t count = 16;
  while (count < wanted) count *= 2;
  return count;
}

// The slot that holds key's entry, or the empty slot where it belongs.
ProcedureTable::Slot& slotFor(ProcedureTable& table, std::u16string_view key, uint64_t hash) {
  size_t mask = table.slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    ProcedureTable::Slot& slot = table.slots[i];
    if (slot.entry == ProcedureTable::kNoEntry) return slot;
    if (slot.hash == hash && slot.keyLength == key.size() &&
        std::u16string_view(table.keyText).substr(slot.keyOffset, slot.keyLength) == key)
      return slot;
  }
}

void growSlots(ProcedureTable& table) {
  std::vector<ProcedureTable::Slot> old(table.slots.size() * 2);
  old.swap(table.slots);
  size_t mask = table.slots.size() - 1;
  for (const ProcedureTable::Slot& slot : old) {
    if (slot.entry == ProcedureTable::kNoEntry) continue;
    size_t i = slot.hash & mask;
    while (table.slots[i].entry != ProcedureTable::kNoEntry) i = (i + 1) & mask;
    table.slots[i] = slot;
  }
}

}  // namespace

ProcedureTable::ProcedureTable(size_t slotCount) : slots(slotCountFor(slotCount)) {}

std::u16string_view keyOf(const ProcedureTable& table, EntryIndex entry) {
  for (const ProcedureTable::Slot& slot : table.slots)
    if (slot.entry == entry)
      return std::u16string_view(table.keyText).substr(slot.keyOffset, slot.keyLength);
  return {};
}

EntryIndex indexFor(ProcedureTable& table, std::u16string_view key) {
  uint64_t hash = hashKey(key);
  ProcedureTable::Slot* slot = &slotFor(table, key, hash);
  if (slot->entry != ProcedureTable::kNoEntry) return slot->entry;
  if (table.entries.size() >= ProcedureTable::kNoEntry - 1) throw std::bad_alloc();
  if (2 * (table.entries.size() + 1) > table.slots.size()) {
    growSlots(table);
    slot = &slotFor(table, key, hash);
  }
  if (key.size() > UINT32_MAX) throw std::bad_alloc();
  auto index = static_cast<EntryIndex>(table.entries.size());
  size_t offset = table.keyText.size();
  table.keyText.append(key);
  table.entries.emplace_back();
  *slot = {hash, offset, index, static_cast<uint32_t>(key.size())};
  return index;
}

void clearTable(ProcedureTable& table) {
  table.entries.clear();
  std::fill(table.slots.begin(), table.slots.end(), ProcedureTable::Slot{});
  table.keyText.clear();
}

void addReference(ReferenceSet& refs, EntryIndex label) {
  // Repeats in a row are common (a loop calling one helper) and cost nothing.
  if (!refs.labels.empty() && refs.labels.back() == label) return;
  refs.labels.push_back(label);
  if (refs.labels.size() >= 2 * refs.foldedSize + 32) foldReferences(refs);
}

void foldReferences(ReferenceSet& refs) {
  auto& labels = refs.labels;
  if (labels.size() != refs.foldedSize) {
    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
    refs.foldedSize = labels.size();
  }
  labels.shrink_to_fit();
}
