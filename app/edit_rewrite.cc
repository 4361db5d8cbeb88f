// The fast rewrite. Stretches without a line end to mend are copied as they
// are, long ones by the system (no pass through the program at all, and put
// on their way to the disk at once); stretches with one are read through a
// window and copied with every line end other than CR LF made CR LF, 64
// units at a time. Removed invocation lines take their comment's place.
#include "app/edit_rewrite.h"

#include <algorithm>
#include <bit>
#include <string>

#include "app/raw_units.h"

namespace {

// Below this a stretch is cheaper to read and write than to hand to the system.
constexpr int64_t kSystemCopyMinimum = kMendRegionSize;
constexpr int64_t kWindowSize = int64_t{1} << 20;
constexpr size_t kAhead = 8;
constexpr int64_t kWriteBackStep = int64_t{8} << 20;

template <int kSize, bool kBigEndian>
class EditWriter {
  using U = Units<kSize, kBigEndian>;

 public:
  EditWriter(TextFile* source, TextFormat format, const EditList& edits, int64_t copied,
             TextFile* output)
      : source_(source), format_(format), edits_(edits), output_(output), done_(copied),
        lineEnd_(lineEndBytes(format)) {}

  bool apply(const ProcedureTable& table, RemovalCounts* counts) {
    // Whether a label is used is looked up anywhere in the table: a few
    // invocations ahead, so that the look-ups overlap.
    EditList::Reader reader(edits_), lookahead(edits_);
    Invocation invocation, next;
    for (size_t i = 0; i < kAhead && lookahead.next(&next); ++i) prefetch(table, next);
    while (reader.next(&invocation)) {
      if (lookahead.next(&next)) prefetch(table, next);
      if (!take(table, invocation, counts)) return false;
    }
    if (!copyUpTo(edits_.unitsEnd)) return false;
    if (edits_.missingLineEnd) put(lineEnd_);
    return copyRaw(edits_.scannedEnd);
  }

 private:
  static void prefetch(const ProcedureTable& table, const Invocation& invocation) {
    __builtin_prefetch(&table.entries[invocation.label]);
  }

  bool take(const ProcedureTable& table, const Invocation& invocation, RemovalCounts* counts) {
    ++counts->invocations;
    if (table.entries[invocation.label].used != 0) return true;
    ++counts->removed;
    return copyUpTo(invocation.start) && removeLine(invocation.start);
  }

  uint32_t unit(std::string_view bytes, size_t index) const {
    return U::at(reinterpret_cast<const unsigned char*>(bytes.data()) + index * kSize);
  }

  void put(std::string_view bytes) {
    writeBytes(output_, bytes.data(), static_cast<int64_t>(bytes.size()));
  }

  // The source's bytes [start, end), through the window; false if the file
  // ended early or could not be read.
  bool view(int64_t start, int64_t end, std::string_view* bytes) {
    if (start < windowStart_ || end > windowStart_ + static_cast<int64_t>(window_.size())) {
      int64_t size = std::max(end - start, std::min(kWindowSize, edits_.scannedEnd - start));
      if (sourceAt_ != start) seekFile(source_, start);
      window_.resize(static_cast<size_t>(size));
      int64_t got = readBytes(source_, window_.data(), size);
      window_.resize(static_cast<size_t>(got));
      windowStart_ = start;
      sourceAt_ = start + got;
      if (got < end - start || source_->readFailed) return false;
    }
    *bytes = std::string_view(window_).substr(static_cast<size_t>(start - windowStart_),
                                              static_cast<size_t>(end - start));
    return true;
  }

  // Everything from done_ to end, which lies on a unit boundary: regions with
  // a line end to mend through the converter, runs of others as they are.
  bool copyUpTo(int64_t end) {
    while (done_ < end) {
      int64_t stretchEnd = done_;
      bool mend = edits_.regionNeedsMending(done_);
      while (stretchEnd < end && edits_.regionNeedsMending(stretchEnd) == mend)
        stretchEnd = std::min(end, (stretchEnd | (kMendRegionSize - 1)) + 1);
      if (!(mend ? copyMending(stretchEnd) : copyRaw(stretchEnd))) return false;
    }
    return true;
  }

  // The bytes from done_ to end as they are.
  bool copyRaw(int64_t end) {
    int64_t n = end - done_;
    if (n <= 0) return true;
    if (n >= kSystemCopyMinimum) {
      copyBytes(source_, done_, n, output_);
      startWriteBack(output_);
      sourceAt_ = -1;  // the copy leaves the source's position undefined
    } else {
      std::string_view bytes;
      if (!view(done_, end, &bytes)) return false;
      put(bytes);
    }
    done_ = end;
    return true;
  }

  // The units from done_ to end with every line end other than CR LF made
  // CR LF. The units just before and after tell whether a CR or an LF at
  // either edge is half of a CR LF.
  bool copyMending(int64_t end) {
    while (done_ < end) {
      int64_t piece = std::min(end, done_ + kWindowSize / 2);
      int64_t from = done_ > 0 ? done_ - kSize : 0;
      int64_t to = std::min(edits_.unitsEnd, piece + kSize);
      std::string_view bytes;
      if (!view(from, to, &bytes)) return false;
      size_t first = static_cast<size_t>((done_ - from) / kSize);
      size_t count = static_cast<size_t>((piece - done_) / kSize);
      bool returnBefore = first > 0 && unit(bytes, 0) == kCarriageReturn;
      bool feedAfter = to > piece && unit(bytes, first + count) == kLineFeed;
      mendLineEnds(bytes.substr(first * kSize, count * kSize), returnBefore, feedAfter);
      done_ = piece;
      // The disk writes what is ready while the rest is mended.
      if (done_ - writtenBack_ >= kWriteBackStep) {
        startWriteBack(output_);
        writtenBack_ = done_;
      }
    }
    return true;
  }

  void mendLineEnds(std::string_view bytes, bool returnBefore, bool feedAfter) {
    const auto* units = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t count = bytes.size() / kSize, copiedTo = 0;
    // At most every unit becomes a CR LF: twice the bytes, and room for the
    // last copy's overshoot.
    if (mended_.size() < 2 * bytes.size() + 16) mended_.resize(2 * bytes.size() + 16);
    char* out = mended_.data();
    const unsigned char* end = units + bytes.size();
    // The lines between line ends are short: copied 16 bytes at a time
    // where the source has room to read past them, not through a call.
    auto append = [&out, end](const unsigned char* from, size_t n) {
      if (from + n + 16 <= end) {
        for (size_t i = 0; i < n; i += 16) copy16(out + i, from + i);
      } else {
        memcpy(out, from, n);
      }
      out += n;
    };
    for (size_t word = 0; 64 * word < count; ++word) {
      size_t base = 64 * word, inWord = std::min<size_t>(64, count - base);
      UnitMasks masks = classifyAt(units + base * kSize, inWord);
      bool feedNext = base + 64 < count ? unit(bytes, base + 64) == kLineFeed : feedAfter;
      uint64_t lone = masks.loneEnds(returnBefore, feedNext, inWord);
      returnBefore = masks.returns >> (inWord - 1) & 1;
      for (; lone; lone &= lone - 1) {
        size_t at = base + std::countr_zero(lone);
        append(units + copiedTo * kSize, (at - copiedTo) * kSize);
        memcpy(out, lineEnd_.data(), lineEnd_.size());
        out += lineEnd_.size();
        copiedTo = at + 1;
      }
    }
    append(units + copiedTo * kSize, (count - copiedTo) * kSize);
    put(std::string_view(mended_.data(), static_cast<size_t>(out - mended_.data())));
  }

  static void copy16(char* to, const unsigned char* from) {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
#else
    memcpy(to, from, 16);
#endif
  }

  // The masks of n units at p, n at most 64; a short run is classified alone.
  static UnitMasks classifyAt(const unsigned char* p, size_t n) {
    if (n == 64) return U::classify(p);
    unsigned char last[64 * kSize] = {};
    memcpy(last, p, n * kSize);
    UnitMasks masks = U::classify(last);
    masks.zeros &= bitsBelow(n);
    masks.returns &= bitsBelow(n);
    masks.feeds &= bitsBelow(n);
    return masks;
  }

  // The invocation line at start becomes its comment; its line end follows
  // with the next stretch.
  bool removeLine(int64_t start) {
    std::string_view line;
    int64_t length = std::min<int64_t>(4096, edits_.unitsEnd - start);
    for (;;) {
      if (!view(start, start + length, &line)) return false;
      size_t units = line.size() / kSize, end = 0;
      while (end < units && !endsLine(unit(line, end))) ++end;
      if (end < units || start + length == edits_.unitsEnd) {
        line = line.substr(0, end * kSize);
        break;
      }
      length = std::min(2 * length, edits_.unitsEnd - start);
    }
    comment_.clear();
    appendRemovedLine(format_, trimSpaceUnits(format_, line), &comment_);
    put(comment_);
    done_ = start + static_cast<int64_t>(line.size());
    return true;
  }

  TextFile* source_;
  TextFormat format_;
  const EditList& edits_;
  TextFile* output_;
  int64_t done_;           // the source's bytes before this are written or replaced
  int64_t sourceAt_ = -1;  // where the next read from source takes place; -1 unknown
  int64_t writtenBack_ = 0;  // where the source stood when the disk was last set writing
  std::string window_;     // the source's bytes from windowStart_
  int64_t windowStart_ = 0;
  const std::string_view lineEnd_;
  std::string comment_;  // what takes a removed line's place
  std::string mended_;   // a stretch with its line ends made CR LF
};

}  // namespace

bool writeWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                    const ProcedureTable& table, int64_t copied, TextFile* output,
                    RemovalCounts* counts) {
  return withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
    return EditWriter<kSize, kBigEndian>(source, format, edits, copied, output)
        .apply(table, counts);
  });
}
