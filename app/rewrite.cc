// The rewrite. Stretches without a line end to mend are copied as they are,
// long ones by the system (not through the program at all, and put on their
// way to the disk at once); stretches with one go through the mending copier.
// Removed invocation lines take their comment's place, made in place in the
// output file's room.
#include "app/rewrite.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/language.h"
#include "app/line_end_mending.h"
#include "app/mending_copy.h"
#include "app/source_window.h"

namespace {

// Below this a stretch is cheaper to read and write than to hand to the system.
constexpr int64_t kSystemCopyMinimum = kMendRegionSize;
constexpr size_t kAhead = 8;

template <int kSize, bool kBigEndian>
class EditWriter {
  using U = Units<kSize, kBigEndian>;

 public:
  EditWriter(TextFile* source, TextFormat format, const EditList& edits, int64_t copied,
             OutputFile* output)
      : source_(source),
        edits_(edits),
        output_(output),
        done_(copied),
        window_(source, edits.scannedEnd),
        lineEnd_(lineEndBytes(format)),
        removed_(removedLineParts(format)),
        mending_(edits.unitsEnd, kSize, &mendLineEnds<kSize, kBigEndian>) {}

  // used holds a byte per entry: one load per invocation, and a table of
  // millions of entries is still only megabytes, looked up a few
  // invocations ahead so that the look-ups overlap.
  bool apply(const LiveFlags& used, RemovalCounts* counts) {
    // A ring of the next few: slot i holds the invocation after the one that
    // was taken from it kAhead steps before.
    EditList::Reader reader(edits_);
    Invocation ring[kAhead];
    size_t held = 0;
    while (held < kAhead && reader.next(&ring[held])) __builtin_prefetch(&used[ring[held++].label]);
    for (size_t i = 0; held > 0; i = (i + 1) % kAhead) {
      Invocation invocation = ring[i];
      if (reader.next(&ring[i])) __builtin_prefetch(&used[ring[i].label]);
      else --held;
      ++counts->invocations;
      if (used[invocation.label]) continue;
      ++counts->removed;
      // Removed lines often follow one another: nothing lies between them.
      if (done_ < invocation.start && !copyUpTo(invocation.start)) return false;
      if (!removeLine(invocation.start)) return false;
    }
    if (!copyUpTo(edits_.unitsEnd)) return false;
    if (edits_.missingLineEnd) output_->write(lineEnd_);
    return copyRaw(edits_.scannedEnd);
  }

 private:
  uint32_t unit(std::string_view bytes, size_t index) const {
    return U::at(reinterpret_cast<const unsigned char*>(bytes.data()) + index * kSize);
  }

  bool view(int64_t start, int64_t end, std::string_view* bytes) {
    return window_.view(start, end, bytes);
  }

  // Everything from done_ to end, which lies on a unit boundary: regions with
  // a line end to mend through the mender, runs of others as they are.
  bool copyUpTo(int64_t end) {
    while (done_ < end) {
      int64_t stretchEnd = endOfLikeRegions(edits_.mendRegions(), done_, end);
      bool mend = edits_.regionNeedsMending(done_);
      if (!(mend ? copyMending(stretchEnd) : copyRaw(stretchEnd))) return false;
    }
    return true;
  }

  // The bytes from done_ to end as they are.
  bool copyRaw(int64_t end) {
    int64_t n = end - done_;
    if (n <= 0) return true;
    if (n >= kSystemCopyMinimum) {
      output_->copyFrom(source_->handle, done_, n);
      window_.forgetPosition();  // the copy leaves the source's position undefined
    } else {
      std::string_view bytes;
      if (!view(done_, end, &bytes)) return false;
      output_->write(bytes);
    }
    done_ = end;
    return true;
  }

  // The units from done_ to end with every line end other than CR LF made
  // CR LF.
  bool copyMending(int64_t end) {
    auto window = [this](int64_t start, int64_t stop, std::string_view* bytes) {
      return view(start, stop, bytes);
    };
    if (!mending_.copy(done_, end, window, output_)) return false;
    done_ = end;
    return true;
  }

  // The invocation line at start becomes its comment, and its line end, of
  // whatever kind, CR LF.
  bool removeLine(int64_t start) {
    std::string_view line;
    size_t end = 0;
    if (!viewLine(start, &line, &end)) return false;
    if (line.empty()) return removeLongLine(start);
    auto at = [&line, this](size_t i) { return unit(line, i); };
    size_t first = language::skipSpaces(at, 0, end);
    size_t last = language::trimmedEnd(at, first, end);
    // Past the line end, CR LF counting as one. The file's last line may
    // have none: the end of the rewrite adds it.
    bool hasEnd = end * kSize < line.size();
    size_t next = end;
    if (hasEnd) {
      bool crlf = unit(line, end) == kCarriageReturn && (end + 1) * kSize < line.size() &&
                  unit(line, end + 1) == kLineFeed;
      next = end + (crlf ? 2 : 1);
    }
    std::string_view trimmed = line.substr(first * kSize, (last - first) * kSize);
    const PaddedPiece& after = hasEnd ? afterWithEnd_ : afterWithoutEnd_;
    char* out = output_->room(before_.size + trimmed.size() + after.size + kShortCopy);
    out = copyShort(out, before_.bytes.data(), before_.size,
                    before_.bytes.data() + before_.bytes.size());
    out = copyShort(out, trimmed.data(), trimmed.size(),
                    window_.held().data() + window_.held().size());
    out = copyShort(out, after.bytes.data(), after.size, after.bytes.data() + after.bytes.size());
    output_->used(out);
    done_ = start + static_cast<int64_t>(next * kSize);
    return true;
  }

  // A removed line longer than the window, so that memory stays flat
  // whatever its length: one pass finds its trimmed units and its end, then
  // they are copied like any stretch.
  bool removeLongLine(int64_t start) {
    int64_t first = -1, last = start, at = start;  // last: after the last unit not a space
    for (bool ended = false; !ended;) {
      int64_t stop = std::min(at + SourceWindow::size(), edits_.unitsEnd);
      std::string_view bytes;
      if (!view(at, stop, &bytes)) return false;
      size_t units = bytes.size() / kSize, i = 0;
      auto notSpace = [&](size_t from, size_t to) {
        if (first < 0) first = at + static_cast<int64_t>(from * kSize);
        last = at + static_cast<int64_t>(to * kSize);
      };
      // A word of 64 units at a time: its line ends and spaces in one look.
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
      for (UnitMasks masks; i + 64 <= units; i += 64) {
        U::classifyWords(p + i * kSize, 1, &masks);
        uint64_t ends = masks.ends();
        uint64_t inLine = ends ? bitsBelow(std::countr_zero(ends)) : ~uint64_t{0};
        if (uint64_t others = ~masks.spaces & inLine)
          notSpace(i + std::countr_zero(others), i + 64 - std::countl_zero(others));
        if (ends) {
          i += std::countr_zero(ends);
          break;
        }
      }
      for (; i < units && !endsLine(unit(bytes, i)); ++i)
        if (unit(bytes, i) != language::kSpace) notSpace(i, i + 1);
      ended = i < units || stop == edits_.unitsEnd;
      at += static_cast<int64_t>(i * kSize);
    }
    // Past the line end, CR LF counting as one.
    int64_t next = at;
    std::string_view end;
    if (at < edits_.unitsEnd) {
      if (!view(at, std::min(at + 2 * kSize, edits_.unitsEnd), &end)) return false;
      bool crlf =
          unit(end, 0) == kCarriageReturn && end.size() == 2 * kSize && unit(end, 1) == kLineFeed;
      next += (crlf ? 2 : 1) * kSize;
    }
    const PaddedPiece& after = at < edits_.unitsEnd ? afterWithEnd_ : afterWithoutEnd_;
    output_->write(std::string_view(before_.bytes.data(), before_.size));
    done_ = first;
    if (!copyRaw(last)) return false;
    output_->write(std::string_view(after.bytes.data(), after.size));
    done_ = next;
    return true;
  }

  // The line at start: *end is where its line end is (or its unit count
  // if it has none), and *line its units from start with one more after the
  // line end, where the file has them; empty if the line is longer than the
  // window.
  bool viewLine(int64_t start, std::string_view* line, size_t* end) {
    // Usually the window holds the line and more, and the line is short:
    // its end is found in one look at the next few units.
    constexpr int64_t kLook = U::kNearUnits * kSize;
    const int64_t windowStart = window_.heldStart();
    int64_t lookEnd =
        std::min(edits_.unitsEnd, windowStart + static_cast<int64_t>(window_.held().size()));
    if (start >= windowStart && start + kLook + kSize <= lookEnd) {
      const auto* units =
          reinterpret_cast<const unsigned char*>(window_.held().data()) + (start - windowStart);
      if (uint32_t ends = U::nearEnds(units)) {
        *end = static_cast<size_t>(std::countr_zero(ends));
        *line = std::string_view(reinterpret_cast<const char*>(units), (*end + 2) * kSize);
        return true;
      }
    }
    int64_t length = std::min<int64_t>(256, edits_.unitsEnd - start);
    *end = 0;
    for (;;) {
      if (!view(start, std::min(start + length + kSize, edits_.unitsEnd), line)) return false;
      size_t units = static_cast<size_t>(length / kSize);
      while (*end < units && !endsLine(unit(*line, *end))) ++*end;
      if (*end < units || start + length == edits_.unitsEnd) return true;
      if (length >= SourceWindow::size()) {
        *line = {};
        return true;
      }
      length = std::min(2 * length, edits_.unitsEnd - start);
    }
  }

  // A piece of the usual comment, a few dozen bytes, is copied by a move of
  // fixed size (a few instructions, no call) where the bytes after it may be
  // read, as they may be written in the output's room.
  static constexpr size_t kShortCopy = 32;
  [[gnu::always_inline]] static char* copyShort(char* out, const char* from, size_t n,
                                                const char* readableEnd) {
    if (n <= kShortCopy && from + kShortCopy <= readableEnd) memcpy(out, from, kShortCopy);
    else memcpy(out, from, n);
    return out + n;
  }

  TextFile* source_;
  const EditList& edits_;
  OutputFile* output_;
  int64_t done_;  // the source's bytes before this are written or replaced
  SourceWindow window_;
  const std::string_view lineEnd_;
  const RemovedLineParts removed_;  // what a removed line's comment is made of
  // The comment's fixed parts, zeros after them, so that a short one goes by
  // one fixed move.
  struct PaddedPiece {
    explicit PaddedPiece(std::string text)
        : bytes(std::move(text) + std::string(kShortCopy, '\0')), size(bytes.size() - kShortCopy) {}
    std::string bytes;
    size_t size;
  };
  const PaddedPiece before_{std::string(removed_.before)};
  const PaddedPiece afterWithEnd_{std::string(removed_.after) + std::string(lineEnd_)};
  const PaddedPiece afterWithoutEnd_{std::string(removed_.after)};
  MendingCopier mending_;
};

}  // namespace

bool rewriteWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                      const LiveFlags& live, int64_t copied, OutputFile* output,
                      RemovalCounts* counts) {
  return withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
    return EditWriter<kSize, kBigEndian>(source, format, edits, copied, output).apply(live, counts);
  });
}

RemovedLineParts removedLineParts(TextFormat format) {
  // Encoded once per format.
  static const auto parts = [] {
    std::array<std::array<std::string, 2>, kTextFormatCount> all;
    for (size_t i = 0; i < all.size(); ++i) {
      encodeText(static_cast<TextFormat>(i), u"; ", &all[i][0]);
      encodeText(static_cast<TextFormat>(i), u"; AUTOMATICALLY REMOVED", &all[i][1]);
    }
    return all;
  }();
  const auto& spelled = parts[static_cast<size_t>(format)];
  return {spelled[0], spelled[1]};
}

void appendRemovedLine(TextFormat format, std::string_view trimmed, std::string* out) {
  RemovedLineParts parts = removedLineParts(format);
  out->append(parts.before);
  out->append(trimmed);
  out->append(parts.after);
}
