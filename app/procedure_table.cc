// Keyed access to the procedure table, and the reference sets.
#include "app/procedure_table.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr std::u16string_view kProcedurePrefix = u"_Procedure";
constexpr size_t kMaxPackedDigits = 19;  // below 2^64 whatever the digits

// A key's identity as held in a slot (all but the hash).
struct KeyForm {
  uint64_t key;
  uint32_t keyLength;
};

// "_Procedure" + 1 to 19 digits, as the digits' value and count; the count
// keeps leading zeros apart (_Procedure012 is not _Procedure12).
bool packDigitKey(std::u16string_view key, KeyForm* form) {
  if (key.size() <= kProcedurePrefix.size() ||
      key.size() > kProcedurePrefix.size() + kMaxPackedDigits || !key.starts_with(kProcedurePrefix))
    return false;
  uint64_t value = 0;
  for (char16_t c : key.substr(kProcedurePrefix.size())) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  *form = {value, ProcedureTable::kDigitKey |
                      static_cast<uint32_t>(key.size() - kProcedurePrefix.size())};
  return true;
}

uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

size_t slotCountFor(size_t wanted) {
  size_t count = 16;
  while (count < wanted) count *= 2;
  return count;
}

bool holdsKey(const ProcedureTable& table, const ProcedureTable::Slot& slot,
              std::u16string_view key, bool packed, const KeyForm& form) {
  if (slot.keyLength != form.keyLength) return false;
  if (packed) return slot.key == form.key;
  return std::u16string_view(table.keyText).substr(slot.key, slot.keyLength) == key;
}

// The slot that holds key's entry, or the empty slot where it belongs.
ProcedureTable::Slot& slotFor(ProcedureTable& table, std::u16string_view key, uint64_t hash,
                              bool packed, const KeyForm& form) {
  size_t mask = table.slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    ProcedureTable::Slot& slot = table.slots[i];
    if (slot.entry == ProcedureTable::kNoEntry) return slot;
    if (slot.hash == hash && holdsKey(table, slot, key, packed, form)) return slot;
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

std::u16string keyOf(const ProcedureTable& table, EntryIndex entry) {
  for (const ProcedureTable::Slot& slot : table.slots) {
    if (slot.entry != entry) continue;
    if (!(slot.keyLength & ProcedureTable::kDigitKey))
      return std::u16string(std::u16string_view(table.keyText).substr(slot.key, slot.keyLength));
    std::u16string text = u"_Procedure";
    size_t digits = slot.keyLength & ~ProcedureTable::kDigitKey;
    text.resize(text.size() + digits, u'0');
    uint64_t value = slot.key;
    for (size_t i = text.size(); digits > 0; --digits, --i, value /= 10)
      text[i - 1] = static_cast<char16_t>(u'0' + value % 10);
    return text;
  }
  return {};
}

EntryIndex indexFor(ProcedureTable& table, std::u16string_view key) {
  KeyForm form{};
  bool packed = packDigitKey(key, &form);
  if (!packed) {
    if (key.size() >= ProcedureTable::kDigitKey) throw std::bad_alloc();
    form = {table.keyText.size(), static_cast<uint32_t>(key.size())};
  }
  uint64_t hash = packed ? mix(form.key + form.keyLength) : std::hash<std::u16string_view>()(key);
  ProcedureTable::Slot* slot = &slotFor(table, key, hash, packed, form);
  if (slot->entry != ProcedureTable::kNoEntry) return slot->entry;
  if (table.entries.size() >= ProcedureTable::kNoEntry - 1) throw std::bad_alloc();
  if (2 * (table.entries.size() + 1) > table.slots.size()) {
    growSlots(table);
    slot = &slotFor(table, key, hash, packed, form);
  }
  auto index = static_cast<EntryIndex>(table.entries.size());
  if (!packed) table.keyText.append(key);
  table.entries.emplace_back();
  *slot = {hash, form.key, index, form.keyLength};
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
