// Keyed access to the procedure table, and the reference sets.
#include "app/procedure_table.h"

#include <algorithm>
#include <new>

#include "app/language.h"
#include "runtime/contracts.h"

namespace {

using language::kKeyPrefix;

// "_Procedure" + 1 to 19 digits, as the digits' value and count; the count
// keeps leading zeros apart (_Procedure012 is not _Procedure12).
bool packDigitKey(KeyBytes pieces, uint64_t* value, uint32_t* digits) {
  if (pieces.size() <= kKeyPrefix.size() || pieces.size() > kKeyPrefix.size() + kMaxNumberDigits)
    return false;
  // Short enough to be joined on the stack.
  char joined[kKeyPrefix.size() + kMaxNumberDigits];
  std::copy(pieces.tail.begin(), pieces.tail.end(),
            std::copy(pieces.head.begin(), pieces.head.end(), joined));
  std::string_view key(joined, pieces.size());
  if (!key.starts_with(kKeyPrefix)) return false;
  uint64_t number = 0;
  for (char c : key.substr(kKeyPrefix.size())) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = number;
  *digits = static_cast<uint32_t>(key.size() - kKeyPrefix.size());
  return true;
}

// A key's hash, the same however it is cut into pieces.
uint64_t hashOf(KeyBytes key) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (std::string_view piece : {key.head, key.tail})
    for (char c : piece) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
  return hash;
}

uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

ProcedureTable::ProcedureTable() : slots_(16) { entries.emplace_back(); }

ProcedureTable::Slot& ProcedureTable::slotFor(KeyBytes key, uint64_t hash, uint64_t packed,
                                              uint32_t keyLength) {
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.entry == kNoEntry) return slot;
    if (slot.hash != hash || slot.keyLength != keyLength) continue;
    if (keyLength & kDigitKey ? slot.key == packed
                              : key == std::string_view(keyText_).substr(slot.key, keyLength))
      return slot;
  }
}

void ProcedureTable::growSlots() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.entry == kNoEntry) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].entry != kNoEntry) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

EntryIndex ProcedureTable::newEntry() {
  if (entries.size() >= kNoEntry - 1) throw std::bad_alloc();
  entries.emplace_back();
  return static_cast<EntryIndex>(entries.size() - 1);
}

// The hashed entry for a key: packed is the digits' value for digit keys
// (keyLength then has kDigitKey set), else key is stored as text.
EntryIndex ProcedureTable::find(KeyBytes key, uint64_t hash, uint64_t packed, uint32_t keyLength) {
  Slot* slot = &slotFor(key, hash, packed, keyLength);
  if (slot->entry != kNoEntry) return slot->entry;
  if (2 * (entries.size() + 1) > slots_.size()) {
    growSlots();
    slot = &slotFor(key, hash, packed, keyLength);
  }
  if (!(keyLength & kDigitKey)) {
    packed = keyText_.size();
    keyText_.append(key.head).append(key.tail);
  }
  EntryIndex index = newEntry();
  *slot = {hash, packed, index, keyLength};
  return index;
}

EntryIndex ProcedureTable::entryForNumber(uint64_t value, uint32_t digits) {
  // Numbers up to about a million, or a little beyond the entries there are,
  // go in the array; a file that names a few huge numbers costs no memory
  // for the gaps.
  if (!hasLeadingZero(value, digits) &&
      value < std::max<uint64_t>(1 << 20, 8 * static_cast<uint64_t>(entries.size()))) {
    if (value >= byNumber_.size())
      byNumber_.resize(std::max<size_t>(value + 1, 2 * byNumber_.size()), kNoEntry);
    EntryIndex& entry = byNumber_[value];
    if (entry == kNoEntry) {
      // Met before the array reached it, the number was hashed; it stays
      // the same entry.
      const Slot& slot = slotFor({}, mix(value + digits), value, kDigitKey | digits);
      entry = slot.entry != kNoEntry ? slot.entry : newEntry();
    }
    return entry;
  }
  return find({}, mix(value + digits), value, kDigitKey | digits);
}

void prefetchNumber(const ProcedureTable& table, uint64_t value) {
  if (value < table.byNumber_.size()) __builtin_prefetch(&table.byNumber_[value]);
}

// A key as stored: its bytes where every unit is ASCII; otherwise a byte
// that no ASCII key holds, then each unit in two bytes, so that no two keys
// are stored alike.
EntryIndex indexForStored(ProcedureTable& table, KeyBytes key) {
  uint64_t value;
  uint32_t digits;
  if (packDigitKey(key, &value, &digits)) return indexForNumber(table, value, digits);
  if (key.size() >= ProcedureTable::kDigitKey) throw std::bad_alloc();
  return table.find(key, mix(hashOf(key)), 0, static_cast<uint32_t>(key.size()));
}

EntryIndex indexForAscii(ProcedureTable& table, KeyBytes key) {
  ORRINVALE_EXPECTS(key.size() == 0 || static_cast<unsigned char>((
                                           key.head.empty() ? key.tail : key.head)[0]) != kWideKey);
  return indexForStored(table, key);
}

EntryIndex indexFor(ProcedureTable& table, std::u16string_view key) {
  std::string stored;
  if (std::all_of(key.begin(), key.end(), [](char16_t c) { return c < 0x80; })) {
    stored.assign(key.begin(), key.end());
  } else {
    stored.reserve(1 + 2 * key.size());
    stored.push_back(static_cast<char>(kWideKey));
    for (char16_t c : key) {
      stored.push_back(static_cast<char>(c & 0xFF));
      stored.push_back(static_cast<char>(c >> 8));
    }
  }
  return indexForStored(table, {stored, {}});
}

EntryIndex addUnnamedEntry(ProcedureTable& table) { return table.newEntry(); }

std::vector<EntryIndex> addEntriesOf(ProcedureTable& into, const ProcedureTable& from) {
  constexpr EntryIndex kNoEntry = ProcedureTable::kNoEntry;
  std::vector<EntryIndex> entryOf(from.entries.size(), kNoEntry);
  entryOf[kMainCode] = kMainCode;
  // The numbers in the array have no leading zero: their digits are their
  // value's. A number met before the array reached it is in both.
  uint32_t digits = 1;
  uint64_t nextPower = 10;
  for (uint64_t value = 0; value < from.byNumber_.size(); ++value) {
    if (value == nextPower) {
      ++digits;
      nextPower *= 10;
    }
    if (EntryIndex entry = from.byNumber_[value]; entry != kNoEntry)
      entryOf[entry] = indexForNumber(into, value, digits);
  }
  for (const ProcedureTable::Slot& slot : from.slots_) {
    if (slot.entry == kNoEntry || entryOf[slot.entry] != kNoEntry) continue;
    entryOf[slot.entry] =
        slot.keyLength & ProcedureTable::kDigitKey
            ? indexForNumber(into, slot.key, slot.keyLength & ~ProcedureTable::kDigitKey)
            : indexForStored(
                  into, {std::string_view(from.keyText_).substr(slot.key, slot.keyLength), {}});
  }
  return entryOf;
}

void clearTable(ProcedureTable& table) {
  table.entries.clear();
  table.entries.emplace_back();
  std::vector<EntryIndex>().swap(table.byNumber_);
  table.slots_.assign(16, ProcedureTable::Slot{});
  table.keyText_.clear();
}

void addReference(ReferenceSet& refs, EntryIndex label) {
  // Repeats in a row are common (a loop calling one helper) and cost nothing.
  if (!refs.labels.empty() && refs.labels.back() == label) return;
  refs.labels.push_back(label);
  if (refs.labels.size() >= 2 * static_cast<size_t>(refs.foldedSize) + 32) foldReferences(refs);
}

void foldReferences(ReferenceSet& refs) {
  auto& labels = refs.labels;
  if (labels.size() != refs.foldedSize) {
    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
    refs.foldedSize = static_cast<uint32_t>(labels.size());
  }
  labels.shrink_to_fit();
}
