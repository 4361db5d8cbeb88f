// A whole replacement as a run makes it, for the replacement tests.
#ifndef ORRINVALE_TESTS_FILE_REPLACE_SUPPORT_H_
#define ORRINVALE_TESTS_FILE_REPLACE_SUPPORT_H_

#include <functional>
#include <string>

#include "runtime/file_replace.h"
#include "runtime/text_file.h"
#include "tests/test_support.h"

// Replaces path's content with text through the file as opened by a run;
// meanwhile runs between the writing and the commit. Returns whether the
// replacement landed.
inline bool replaceWith(const std::string& path, const std::string& text, ReplaceStart* start,
                        const std::function<void()>& meanwhile = {}) {
  TextFile* source = openForReadingExclusively(utf16(path));
  if (!source) return false;
  bool landed = false;
  {
    Replacement replacement(utf16(path), source);
    *start = replacement.begin();
    if (*start == ReplaceStart::Ready) {
      replacement.output()->write(text);
      if (meanwhile) meanwhile();
      landed = replacement.commit();
    }
  }
  closeFile(source);
  return landed;
}

#endif  // ORRINVALE_TESTS_FILE_REPLACE_SUPPORT_H_
