// The switch between the shortcuts and the plain path.
#include "app/line_shortcuts.h"

namespace {
bool g_shortcuts = true;
}

void useShortcuts(bool enabled) { g_shortcuts = enabled; }
bool shortcutsEnabled() { return g_shortcuts; }

int32_t findAllMatches(Pattern pattern, std::u16string_view line,
                       std::vector<std::u16string>* matches) {
  if (!g_shortcuts && !patternMatches(pattern, line)) return 0;
  return extractMatches(pattern, line, matches);
}
