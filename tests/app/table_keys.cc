// Reads keys back out of the table's slots.
#include "tests/app/table_keys.h"

#include <algorithm>

struct TableKeys {
  static std::u16string spell(uint64_t value, uint32_t digits) {
    std::u16string text(u"_Procedure");
    text.resize(text.size() + digits, u'0');
    for (size_t i = text.size(); digits > 0; --digits, --i, value /= 10)
      text[i - 1] = static_cast<char16_t>(u'0' + value % 10);
    return text;
  }

  static std::u16string keyOf(const ProcedureTable& table, EntryIndex entry) {
    const auto& byNumber = table.byNumber_;
    auto found = std::find(byNumber.begin(), byNumber.end(), entry);
    if (entry != kMainCode && found != byNumber.end()) {
      uint64_t value = static_cast<uint64_t>(found - byNumber.begin());
      return spell(value, static_cast<uint32_t>(std::to_string(value).size()));
    }
    for (const ProcedureTable::Slot& slot : table.slots_) {
      if (slot.entry != entry) continue;
      if (slot.keyLength & ProcedureTable::kDigitKey)
        return spell(slot.key, slot.keyLength & ~ProcedureTable::kDigitKey);
      std::string_view stored = std::string_view(table.keyText_).substr(slot.key, slot.keyLength);
      if (stored.empty() || static_cast<unsigned char>(stored[0]) != kWideKey)
        return std::u16string(stored.begin(), stored.end());
      std::u16string key;
      for (size_t i = 1; i + 1 < stored.size(); i += 2)
        key.push_back(static_cast<char16_t>(static_cast<unsigned char>(stored[i]) |
                                            static_cast<unsigned char>(stored[i + 1]) << 8));
      return key;
    }
    return {};
  }
};

std::u16string keyOf(const ProcedureTable& table, EntryIndex entry) {
  return TableKeys::keyOf(table, entry);
}
