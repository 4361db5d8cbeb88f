// The look back from a stretch's start.
#include "app/look_back.h"

#include <algorithm>
#include <string>

#include "app/block_reader.h"
#include "app/language.h"
#include "app/raw_units.h"

namespace {

// The line's effect on being inside a block, once known.
enum Change { kCloses = 0, kOpens = 1, kNeither = -1 };

}  // namespace

bool LookBack::startsInsideBlock() {
  return withUnitsOf(format_, [this]<int kSize, bool kBigEndian>() {
    return startsInsideBlockIn<kSize, kBigEndian>();
  });
}

template <int kSize, bool kBigEndian>
bool LookBack::startsInsideBlockIn() {
  std::string chunk;
  for (int64_t end = start_; end > unitsStart_;) {
    int64_t from = std::max(unitsStart_, end - lookBackSize());
    chunk.resize(static_cast<size_t>(end - from));
    if (os::readAt(file_, from, chunk.data(), static_cast<int64_t>(chunk.size())) !=
        static_cast<int64_t>(chunk.size())) {
      failed_ = true;
      return false;
    }
    const auto* units = reinterpret_cast<const unsigned char*>(chunk.data());
    size_t count = chunk.size() / kSize;
    // The lines that start in the chunk, the last first; its first unit
    // starts one only at the start of the file.
    for (size_t i = count; i-- > 0;) {
      if (!endsLine(unitAt<kSize, kBigEndian>(units + i * kSize)) ||
          (i + 1 == count && end == start_))
        continue;
      int change = blockChangeAt<kSize, kBigEndian>(from + static_cast<int64_t>((i + 1) * kSize),
                                                    units + (i + 1) * kSize, count - i - 1);
      if (change != kNeither) return change == kOpens;
    }
    if (from == unitsStart_) return blockChangeAt<kSize, kBigEndian>(from, units, count) == kOpens;
    end = from;
  }
  return false;
}

template <int kSize, bool kBigEndian>
int LookBack::blockChangeAt(int64_t offset, const unsigned char* units, size_t count) {
  std::string more;
  for (bool complete = false;;) {
    auto at = [&units](size_t i) { return unitAt<kSize, kBigEndian>(units + i * kSize); };
    switch (language::blockChangeOf(at, 0, count, complete)) {
      case language::BlockChange::Closes: return kCloses;
      case language::BlockChange::Opens: return kOpens;
      case language::BlockChange::Neither: return kNeither;
      case language::BlockChange::NeedsMore: break;
    }
    // The spaces or the head go on past the units at hand: read from where
    // they start, which blockChangeOf judges again from there.
    offset += static_cast<int64_t>(language::skipSpaces(at, 0, count) * kSize);
    const int64_t step = lookBackSize();
    more.resize(static_cast<size_t>(step));
    int64_t got = os::readAt(file_, offset, more.data(), step);
    if (got < 0) {
      failed_ = true;
      return kNeither;
    }
    complete = got < step;
    more.resize(static_cast<size_t>(got));
    units = reinterpret_cast<const unsigned char*>(more.data());
    count = more.size() / kSize;
  }
}
