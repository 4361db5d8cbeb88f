// The block scan. Each block is classified 64 units at a time into bit masks:
// line ends, spaces, underscores, and the units that a rule may need first on
// a line ("}", and "m" or "M" before "a" or "p"). From these, by bit
// arithmetic, come the units that need a look: the first unit of a line that
// is not a space, where it is one of those, every '_', and every line end
// other than CR LF. Every other line is passed over without a single step of
// its own, and so are its units.
#include "app/block_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/language.h"
#include "app/line_rules.h"
#include "app/line_text.h"
#include "app/raw_units.h"
#include "runtime/helper_thread.h"
#include "runtime/os.h"
#include "runtime/seams.h"

namespace {

constexpr int64_t kBlockSize = int64_t{1} << 20;
// The least that is left of a file for its second half to be scanned on a
// thread of its own: each half then takes milliseconds.
constexpr int64_t kSplitMinimum = int64_t{4} << 20;

template <int kSize, bool kBigEndian>
struct SecondHalf;

template <int kSize, bool kBigEndian>
class BlockScanner {
  using U = Units<kSize, kBigEndian>;

 public:
  // Scans file from its position to its end, through the file.
  BlockScanner(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
               const CopyableObserver& copyable)
      : BlockScanner(file, format, state, edits, copyable, filePosition(file)) {}
  // Scans the rest of file, reading at offsets, as the second half of a scan
  // from unitsStart: from where startAt says, a line's start.
  BlockScanner(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
               int64_t unitsStart, const std::atomic<bool>* stop)
      : BlockScanner(file, format, state, edits, kNoObserver, unitsStart) {
    stop_ = stop;
  }
  void startAt(int64_t start) { start_ = start; }
  ~BlockScanner();

  void run() {
    int64_t bufferStart = start_;  // where buffer[0] lies in the file
    const int64_t blockSize = seams::sizeOf(seams::Size::ScanBlock, kBlockSize);
    // A small file needs no more than itself (and a byte to see its end).
    std::string buffer(
        static_cast<size_t>(std::clamp<int64_t>(file_->stampAtOpen.size - bufferStart + 1,
                                                std::min<int64_t>(4096, blockSize), blockSize)),
        '\0');
    size_t filled = 0;  // bytes held
    for (;;) {
      if (!splitDecided_) considerSplit(bufferStart + static_cast<int64_t>(filled));
      // The first read is short: the first lines decide early whether the
      // scan is split.
      int64_t want = static_cast<int64_t>(buffer.size() - filled);
      if (bufferStart == start_ && filled == 0) want = std::min(want, lookBack());
      int64_t got =
          readBlock(buffer.data() + filled, bufferStart + static_cast<int64_t>(filled), want);
      filled += static_cast<size_t>(got);
      const bool atFileEnd = got == 0;
      const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
      size_t units = filled / kSize;
      size_t taken = longLine_ ? takeLongLine(bytes, units, atFileEnd) : 0;
      if (!longLine_) {
        size_t complete = atFileEnd ? units : std::max(taken, completeLines(bytes, units));
        takeLines(bytes + taken * kSize, complete - taken,
                  bufferStart + static_cast<int64_t>(taken * kSize), atFileEnd);
        taken = complete;
        if (atFileEnd) {
          edits_->unitsEnd = bufferStart + static_cast<int64_t>(units * kSize);
          edits_->scannedEnd = bufferStart + static_cast<int64_t>(filled);
          return;
        }
        // A line that fills the buffer is taken in pieces from now on.
        if (taken == 0 && filled == buffer.size()) {
          longLine_ = true;
          head_ = true;
          longLineStart_ = bufferStart;
          taken = takeLongLine(bytes, units, atFileEnd);
        }
      }
      if (copyable_) {
        // A long line is known once its head is: if it is an invocation
        // line, the first invocation is at its start.
        int64_t known =
            longLine_ && head_ ? longLineStart_ : bufferStart + static_cast<int64_t>(taken * kSize);
        copyable_(std::min(edits_->firstInvocation, known));
      }
      // Keep what is not taken; the buffer grows only where a single head or
      // reference is longer than all of it.
      size_t kept = taken * kSize;
      memmove(buffer.data(), buffer.data() + kept, filled - kept);
      bufferStart += static_cast<int64_t>(kept);
      filled -= kept;
      if (filled == buffer.size()) buffer.resize(2 * buffer.size());
    }
  }

  // Takes in the second half's findings, if a second half was scanned; call
  // once run has returned.
  void joinSecondHalf();

  // Whether the line at start_ lies inside a block, as a scan of everything
  // before it would find: the nearest line before it that starts with "}" or
  // opens a block decides, since after a "}" line a scan is outside a block,
  // whether the line closed one or not.
  bool insideMacroAtStart() {
    std::string chunk;
    for (int64_t end = start_; end > unitsStart_;) {
      int64_t from = std::max(unitsStart_, end - lookBack());
      chunk.resize(static_cast<size_t>(end - from));
      if (!readAt(from, &chunk)) return false;
      const auto* units = reinterpret_cast<const unsigned char*>(chunk.data());
      size_t count = chunk.size() / kSize;
      // The lines that start in the chunk, the last first; its first unit
      // starts one only at the start of the file.
      for (size_t i = count; i-- > 0;) {
        if (!endsLine(unit(units, i)) || (i + 1 == count && end == start_)) continue;
        int change = blockChangeAt(from + static_cast<int64_t>((i + 1) * kSize),
                                   units + (i + 1) * kSize, count - i - 1);
        if (change >= 0) return change == 1;
      }
      if (from == unitsStart_) return blockChangeAt(from, units, count) == 1;
      end = from;
    }
    return false;
  }

  bool readFailed() const { return readFailed_; }

 private:
  BlockScanner(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
               const CopyableObserver& copyable, int64_t unitsStart)
      : file_(file),
        format_(format),
        state_(state),
        edits_(edits),
        copyable_(copyable),
        rules_(format, state, edits),
        doubleByte_(!rawUnitsShowAscii(format)),
        decoded_(TextFormat::Utf16Le, state, edits),
        unitsStart_(unitsStart),
        start_(unitsStart) {}

  // How much a look back reads at once, and the first read of a scan.
  static int64_t lookBack() { return seams::sizeOf(seams::Size::LookBack, int64_t{1} << 16); }
  inline static const CopyableObserver kNoObserver;

  // Up to n bytes at offset, where the last read ended, into to; 0 at the
  // end of what this scan reads.
  int64_t readBlock(char* to, int64_t offset, int64_t n) {
    if (stop_) {
      if (stop_->load()) return 0;
      int64_t got = os::readAt(file_->handle, offset, to, n);
      if (got >= 0) return got;
      readFailed_ = true;
      return 0;
    }
    {
      // Up to the split, once the second half has chosen it.
      std::unique_lock<std::mutex> guard(splitLock_, std::defer_lock);
      if (second_) guard.lock();
      if (end_ - n < offset) n = end_ - offset;
      readFrom_ = offset;
      claimed_ = offset + n;
    }
    return readBytes(file_, to, n);
  }

  // The bytes at offset into *bytes, as many as it holds; false if they
  // could not all be read.
  bool readAt(int64_t offset, std::string* bytes) {
    int64_t got =
        os::readAt(file_->handle, offset, bytes->data(), static_cast<int64_t>(bytes->size()));
    if (got == static_cast<int64_t>(bytes->size())) return true;
    readFailed_ = true;
    return false;
  }

  // What the line at offset does to being inside a block, given its first
  // count units at units (more are read where needed): 0 if it starts with
  // "}", 1 if it opens a block, -1 if neither.
  int blockChangeAt(int64_t offset, const unsigned char* units, size_t count) {
    constexpr size_t kNeeds = language::kMacroStart.size();
    std::string more;
    for (bool fileEnds = false;;) {
      size_t first = 0;
      while (first < count && unit(units, first) == language::kSpace) ++first;
      if (first < count) {
        uint32_t lead = unit(units, first);
        if (lead == language::kMacroEnd) return 0;
        auto at = [&](size_t index) { return unit(units, index); };
        if (lead != static_cast<unsigned char>(language::kMacroStart[0]) ||
            first + kNeeds <= count || fileEnds)
          return language::isMacroStart(at, first, count) ? 1 : -1;
      } else if (fileEnds) {
        return -1;
      }
      // The spaces or the head go on past the units at hand.
      offset += static_cast<int64_t>(first * kSize);
      const int64_t step = lookBack();
      more.resize(static_cast<size_t>(step));
      int64_t got = os::readAt(file_->handle, offset, more.data(), step);
      if (got < 0) {
        readFailed_ = true;
        return -1;
      }
      fileEnds = got < step;
      more.resize(static_cast<size_t>(got));
      units = reinterpret_cast<const unsigned char*>(more.data());
      count = more.size() / kSize;
    }
  }

  // For the first scan: once the copy in the background has met the first
  // invocation line, the other processor is free, and a large rest of the
  // file is split, the second half scanned meanwhile on a thread of its own.
  // where is how far the file is read.
  void considerSplit(int64_t where);
  // On the second half's thread, once it runs: where the second half
  // starts, or -1 for none. It takes half of what the first has not read by
  // then (from forced on, if not -1), at a line's start.
  int64_t claimSecondHalf(int64_t forced);

  uint32_t unit(const unsigned char* line, size_t index) const { return rules_.unit(line, index); }

  // The units of a line longer than the buffer, which started before it at
  // longLineStart_: up to its end, if the buffer holds it, or else as far as
  // a piece can go without splitting what a rule must see whole. Returns how
  // many units it took; longLine_ is false once the line is done.
  size_t takeLongLine(const unsigned char* bytes, size_t units, bool atFileEnd) {
    if (doubleByte_) return takeLongLineWith(decoded_, bytes, units, atFileEnd);
    return takeLongLineWith(rules_, bytes, units, atFileEnd);
  }
  template <typename Rules>
  size_t takeLongLineWith(Rules& rules, const unsigned char* bytes, size_t units, bool atFileEnd) {
    size_t end = firstLineEnd(bytes, units);
    const bool ends = end < units || atFileEnd;
    size_t at = 0;
    if (head_) {
      while (at < end && unit(bytes, at) == language::kSpace) ++at;
      if (at == end && !ends) return at;  // spaces so far
    }
    size_t cut = ends ? end : pieceEnd(bytes, at, end);
    auto [piece, count] = pieceAsRulesTakeIt(bytes, at, cut);
    if (head_ && ends) {
      rules.takeLine(piece, count * Rules::kUnitSize, longLineStart_);
    } else {
      if (head_) {
        if (!rules.headReady(piece, count)) return at;  // judged once more of it is held
        size_t taken = rules.takeHead(piece, count, longLineStart_);
        head_ = false;
        piece += taken * Rules::kUnitSize;
        count -= taken;
      }
      rules.takeRest(piece, count);
      if (ends) rules.endLongLine();
    }
    rules.creditPending();
    if (ends) {
      longLine_ = false;
      if (end == units) edits_->missingLineEnd = true;  // only the file's end ends it so
    }
    return cut;
  }

  // The units [from, to) as the rules for them take them: as they are,
  // or decoded under a double-byte code page.
  std::pair<const unsigned char*, size_t> pieceAsRulesTakeIt(const unsigned char* bytes,
                                                             size_t from, size_t to) {
    if (!doubleByte_) return {bytes + from * kSize, to - from};
    text_.clear();
    decodeText(format_, std::string_view(reinterpret_cast<const char*>(bytes) + from, to - from),
               &text_);
    wide_.clear();
    encodeText(TextFormat::Utf16Le, text_, &wide_);
    return {reinterpret_cast<const unsigned char*>(wide_.data()), wide_.size() / 2};
  }

  // Where the first line end in the units lies, or units.
  size_t firstLineEnd(const unsigned char* bytes, size_t units) const {
    constexpr size_t kChunk = 64;
    UnitMasks masks[kChunk];
    for (size_t word = 0; word < units / 64; word += kChunk) {
      size_t n = std::min(kChunk, units / 64 - word);
      U::classifyWords(bytes + 64 * word * kSize, n, masks);
      for (size_t i = 0; i < n; ++i)
        if (uint64_t ends = masks[i].ends()) return 64 * (word + i) + std::countr_zero(ends);
    }
    size_t at = units / 64 * 64;
    while (at < units && !endsLine(unit(bytes, at))) ++at;
    return at;
  }

  // Where a piece of a long line that ends by count must end, so that no
  // reference is split: before the last '_' that may go on. Under a
  // double-byte code page, whose second bytes may look like '_', it ends on
  // a character's first byte too.
  size_t pieceEnd(const unsigned char* bytes, size_t from, size_t count) const {
    size_t underscore = count;  // the last '_', if any
    size_t end = count;
    if (doubleByte_) {
      const std::array<bool, 256>& leadBytes = os::ansiLeadBytes();
      for (end = from; end < count;) {
        if (!leadBytes[bytes[end]]) {
          if (bytes[end] == language::kReferenceStart) underscore = end;
          ++end;
        } else if (end + 1 < count) {
          end += 2;
        } else {
          break;  // a first byte whose second is not held yet
        }
      }
    } else {
      for (size_t at = count; at > from && underscore == count; --at)
        if (unit(bytes, at - 1) == language::kReferenceStart) underscore = at - 1;
    }
    if (underscore < end && rules_.referenceGoesOn(bytes, underscore, end)) return underscore;
    return end;
  }

  // How many of the first units lines hold whose end is known: up to the
  // last line end, unless that is a CR that an LF may follow in the next block.
  size_t completeLines(const unsigned char* bytes, size_t units) const {
    size_t end = units;
    while (end > 0 && !endsLine(unit(bytes, end - 1))) --end;
    if (end == units && end > 0 && unit(bytes, end - 1) == kCarriageReturn) {
      --end;
      while (end > 0 && !endsLine(unit(bytes, end - 1))) --end;
    }
    return end;
  }

  // Takes every line in the first count units of bytes, which start a line;
  // at the end of the file, the last may lack a line end. Two steps: the
  // block becomes bit masks, then the units they want a look at are taken.
  void takeLines(const unsigned char* bytes, size_t count, int64_t offset, bool atFileEnd) {
    classifyBlock(bytes, count, offset);
    size_t nextLine = takeWantedUnits(bytes, count, offset);
    rules_.creditPending();
    // A last line without a line end that no rule wanted still gets one.
    if (atFileEnd && nextLine < count && !endsLine(unit(bytes, count - 1)))
      edits_->missingLineEnd = true;
  }

  // Fills ends_, firstUnits_ and wanted_ for the count units at bytes, and
  // marks the stretches whose line ends need mending.
  void classifyBlock(const unsigned char* bytes, size_t count, int64_t offset) {
    size_t words = (count + 63) / 64;
    ends_.assign(words, 0);
    firstUnits_.assign(words, 0);
    wanted_.assign(words, 0);
    uint64_t lineStartIn = 1;  // the first unit starts a line
    uint64_t spaceCarry = 0;   // a run of leading spaces goes on into the next word
    bool returnBefore = false;
    // Classified a chunk at a time, one word ahead, since a unit's meaning
    // may depend on the first unit of the next word.
    constexpr size_t kChunk = 256;
    UnitMasks chunk[kChunk + 1];
    for (size_t from = 0; from < words; from += kChunk) {
      size_t n = std::min(kChunk, words - from);
      classifyRange(bytes, count, from, std::min(n + 1, words - from), chunk);
      if (from + n == words) chunk[n] = UnitMasks{};
      for (size_t i = 0; i < n; ++i) {
        const UnitMasks& masks = chunk[i];
        const UnitMasks& next = chunk[i + 1];
        size_t word = from + i;
        uint64_t ends = masks.ends();
        // The first unit of every line that is not a space: a line start plus
        // the run of spaces after it carries to that unit.
        uint64_t starts = (ends << 1) | lineStartIn;
        uint64_t sum, total;
        bool carried = __builtin_add_overflow(starts, masks.spaces, &sum);
        carried |= __builtin_add_overflow(sum, spaceCarry, &total);
        uint64_t firstUnits = total & ~masks.spaces;
        lineStartIn = ends >> 63;
        spaceCarry = carried;
        // Line ends to mend are marked where they lie, a word at a time; a
        // word may reach into the next stretch, so its last one counts too.
        if (uint64_t lone = masks.loneEnds(returnBefore, next.feeds & 1)) {
          size_t base = 64 * word;
          mendLineEnd(offset, base + std::countr_zero(lone));
          mendLineEnd(offset, base + 63 - std::countl_zero(lone));
        }
        returnBefore = masks.returns >> 63;
        ends_[word] = ends;
        firstUnits_[word] = firstUnits;
        uint64_t leads =
            masks.leads | (masks.ms & ((masks.followers >> 1) | (next.followers << 63)));
        wanted_[word] = (firstUnits & leads) | masks.underscores;
      }
    }
  }

  // Each wanted unit in file order: a reference, or a line to take whole.
  // Returns where the line after the last one taken starts. What a line's
  // wanted units need of it (its start, end and first unit that is not a
  // space; whether it needs decoding) is found once per line, so that a line
  // of any length costs time in proportion to its length, whatever it holds.
  size_t takeWantedUnits(const unsigned char* bytes, size_t count, int64_t offset) {
    size_t nextLine = 0;
    LineFacts line;
    for (size_t word = 0; word < wanted_.size(); ++word) {
      for (uint64_t bits = wanted_[word]; bits; bits &= bits - 1) {
        size_t at = 64 * word + std::countr_zero(bits);
        if (at < nextLine) continue;
        if (at >= line.end) line = factsOf(bytes, at, count);
        const bool decoded = line.needsDecoding;
        if (decoded) takeDecoded(line, bytes, offset);
        else if (unit(bytes, at) == language::kReferenceStart) {
          switch (
              language::whatAnUnderscoreNeeds(unit(bytes, line.first), line.first == at,
                                              state_.insideMacro || state_.insideMacroUnknown)) {
            case language::UnderscoreNeeds::Nothing: continue;
            case language::UnderscoreNeeds::ItselfAlone:
              rules_.takeReferenceAt(bytes, at, count);
              continue;
            case language::UnderscoreNeeds::ItsLine: break;
          }
        }
        if (!decoded)
          rules_.takeLine(
              bytes + line.start * kSize, (line.end - line.start) * kSize,
              offset + static_cast<int64_t>(line.start * kSize),
              unit(bytes, at) == language::kReferenceStart || wantedWithin(at + 1, line.end));
        if (line.end == count) {
          // Only at the end of the file does a line lack its end.
          edits_->missingLineEnd = true;
          nextLine = count;
          continue;
        }
        nextLine = line.end + 1;
      }
    }
    return nextLine;
  }

  // The line that holds a wanted unit: where it starts and ends (its line
  // end, or count), its first unit that is not a space, and whether it is
  // to be decoded first.
  struct LineFacts {
    size_t start = 0, end = 0, first = 0;
    bool needsDecoding = false;
  };
  LineFacts factsOf(const unsigned char* bytes, size_t at, size_t count) const {
    LineFacts line{lineStart(at), lineEnd(at, count), firstUnitBefore(at), false};
    if (doubleByte_) {
      const unsigned char* from = bytes + line.start * kSize;
      line.needsDecoding = std::any_of(from, from + (line.end - line.start) * kSize,
                                       [](unsigned char byte) { return byte >= 0x80; });
    }
    return line;
  }

  // Whether a unit in [from, end) is wanted. Past the first unit of a line
  // that is not a space, only a '_' is.
  bool wantedWithin(size_t from, size_t end) const {
    if (from >= end) return false;
    size_t word = from / 64, lastWord = (end - 1) / 64;
    uint64_t bits = wanted_[word] & ~bitsBelow(from % 64);
    while (word < lastWord && !bits) bits = wanted_[++word];
    if (word == lastWord) bits &= ~uint64_t{0} >> (63 - (end - 1) % 64);
    return bits != 0;
  }

  // A line end other than CR LF at unit at of the units from offset.
  void mendLineEnd(int64_t offset, size_t at) {
    edits_->addLineEndToMend(offset + static_cast<int64_t>(at * kSize));
  }

  // Classifies the words [from, from + n) of the count units at bytes into
  // masks; the units of a last, partial word are classified alone.
  static void classifyRange(const unsigned char* bytes, size_t count, size_t from, size_t n,
                            UnitMasks* masks) {
    size_t whole = std::min(n, count / 64 - from);  // from is at most the last word
    U::classifyWords(bytes + 64 * from * kSize, whole, masks);
    if (whole == n) return;
    unsigned char last[64 * kSize] = {};
    size_t units = count - 64 * (from + whole);
    memcpy(last, bytes + 64 * (from + whole) * kSize, units * kSize);
    UnitMasks& tail = masks[whole] = U::classify(last);
    for (uint64_t* m : {&tail.returns, &tail.feeds, &tail.zeros, &tail.spaces, &tail.underscores,
                        &tail.leads, &tail.ms, &tail.followers})
      *m &= bitsBelow(units);
  }

  // Where the line that holds unit at starts: after the last line end before it.
  size_t lineStart(size_t at) const {
    size_t word = at / 64;
    uint64_t before = ends_[word] & bitsBelow(at % 64);
    while (!before) {
      if (word == 0) return 0;
      before = ends_[--word];
    }
    return 64 * word + 63 - std::countl_zero(before) + 1;
  }

  // The first unit that is not a space of the line that holds unit at.
  size_t firstUnitBefore(size_t at) const {
    size_t word = at / 64;
    uint64_t before = firstUnits_[word] & (bitsBelow(at % 64) | (uint64_t{1} << (at % 64)));
    while (!before) before = firstUnits_[--word];  // the block's first line has one
    return 64 * word + 63 - std::countl_zero(before);
  }

  // Where the line that holds unit at ends: its line end, or count.
  size_t lineEnd(size_t at, size_t count) const {
    size_t word = at / 64;
    uint64_t after = ends_[word] & ~bitsBelow(at % 64);
    while (!after) {
      if (++word == ends_.size()) return count;
      after = ends_[word];
    }
    return 64 * word + std::countr_zero(after);
  }

  // Under an ANSI code page with characters of two bytes, whose second byte
  // may look like ASCII, a line that holds a byte of 0x80 or more is decoded
  // and its text goes to the same rules as UTF-16.
  void takeDecoded(const LineFacts& line, const unsigned char* bytes, int64_t offset) {
    rules_.creditPending();
    auto [text, count] = pieceAsRulesTakeIt(bytes, line.start, line.end);
    decoded_.takeLine(text, count * 2, offset + static_cast<int64_t>(line.start * kSize));
    decoded_.creditPending();
  }

  TextFile* file_;
  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  const CopyableObserver& copyable_;
  LineRules<kSize, kBigEndian> rules_;
  // Decoded lines of a double-byte code page, and their rules.
  const bool doubleByte_;
  std::u16string text_;
  std::string wide_;
  LineRules<2, false> decoded_;
  // A bit per unit of the block: line ends, the first unit of each line that
  // is not a space, and the units that need a look.
  std::vector<uint64_t> ends_, firstUnits_, wanted_;
  // A line longer than the buffer, taken in pieces: where it starts, and
  // whether its head is still to be judged.
  bool longLine_ = false, head_ = false;
  int64_t longLineStart_ = 0;
  // Where the file's units start, and where this scan starts and ends.
  int64_t unitsStart_, start_;
  int64_t end_ = INT64_MAX;
  // A second half: set on the thread that scans it, to stop early.
  const std::atomic<bool>* stop_ = nullptr;
  bool readFailed_ = false;
  // The first half's second half, once one is started; end_ and how far
  // the first half has read are guarded by splitLock_ from then on.
  bool splitDecided_ = false;
  std::mutex splitLock_;
  std::condition_variable claimedChanged_;
  int64_t readFrom_ = 0, claimed_ = 0;  // the first half's last read
  bool splitClaimed_ = false;
  std::unique_ptr<SecondHalf<kSize, kBigEndian>> second_;
};

// The scan of a file's second half, on a thread of its own, into its own
// table and edit list. It starts in a context that no key names, the one
// that the first half ends in.
template <int kSize, bool kBigEndian>
struct SecondHalf {
  SecondHalf(TextFile* file, TextFormat format, int64_t unitsStart)
      : state(table),
        startContext(addUnnamedEntry(table)),
        scanner(file, format, state, &edits, unitsStart, &stop) {
    state.current = startContext;
    state.insideMacroUnknown = true;
    state.findInsideMacroAtStart = [this] { return scanner.insideMacroAtStart(); };
  }
  ~SecondHalf() {
    stop = true;
    if (thread.joinable()) thread.join();
  }

  ProcedureTable table;
  ScanState state;
  EditList edits;
  const EntryIndex startContext;
  std::atomic<bool> stop{false};
  BlockScanner<kSize, kBigEndian> scanner;
  bool scanned = false;  // a second half was claimed and scanned
  std::exception_ptr failure;
  std::thread thread;
};

template <int kSize, bool kBigEndian>
BlockScanner<kSize, kBigEndian>::~BlockScanner() = default;

template <int kSize, bool kBigEndian>
void BlockScanner<kSize, kBigEndian>::considerSplit(int64_t where) {
  // Not for a second half, nor where reading at an offset moves the position.
  if (stop_ || !os::copyRangeKeepsPosition()) {
    splitDecided_ = true;
    return;
  }
  const int64_t forced = seams::scanSplitTarget();
  if (forced < 0 && edits_->firstInvocation == INT64_MAX) return;  // the copy goes on
  splitDecided_ = true;
  if (forced < 0 && file_->stampAtOpen.size - where < kSplitMinimum) return;
  auto second = std::make_unique<SecondHalf<kSize, kBigEndian>>(file_, format_, unitsStart_);
  SecondHalf<kSize, kBigEndian>* half = second.get();
  bool started = startHelperThread(&half->thread, [this, half, forced] {
    try {
      int64_t start = claimSecondHalf(forced);
      if (start < 0) return;
      half->scanner.startAt(start);
      half->scanner.run();
      half->scanned = true;
    } catch (...) {
      half->failure = std::current_exception();
    }
  });
  if (!started) return;
  second_ = std::move(second);
  // A split where it is asked for, whatever the thread's start: the first
  // half reads on once the split is chosen.
  if (forced < 0) return;
  std::unique_lock<std::mutex> guard(splitLock_);
  claimedChanged_.wait(guard, [this] { return splitClaimed_; });
}

template <int kSize, bool kBigEndian>
int64_t BlockScanner<kSize, kBigEndian>::claimSecondHalf(int64_t forced) {
  std::lock_guard<std::mutex> guard(splitLock_);
  auto claim = [&] {
    // The first half reads on from readFrom_ once it has taken the block it
    // read last; it has read up to claimed_.
    const int64_t size = file_->stampAtOpen.size;
    if (forced < 0 && size - readFrom_ < kSplitMinimum) return int64_t{-1};
    int64_t target = std::max(claimed_, forced >= 0 ? forced : readFrom_ + (size - readFrom_) / 2);
    target -= (target - unitsStart_) % kSize;
    // After the first line end at or after target, within a block's length.
    // (A CR LF split between the halves stays one line end: the rewrite
    // mends by the bytes, and both halves mark the stretch for a look.)
    std::string bytes;
    for (int64_t at = target; at < size && at - target < kBlockSize;) {
      bytes.resize(static_cast<size_t>(std::min(lookBack(), size - at)));
      int64_t got = os::readAt(file_->handle, at, bytes.data(), static_cast<int64_t>(bytes.size()));
      if (got < kSize) break;
      size_t count = static_cast<size_t>(got) / kSize;
      size_t i = firstLineEnd(reinterpret_cast<const unsigned char*>(bytes.data()), count);
      if (i < count) return at + static_cast<int64_t>((i + 1) * kSize);
      at += static_cast<int64_t>(count * kSize);
    }
    return int64_t{-1};  // none near, or a file that grew meanwhile
  };
  int64_t split = -1;
  try {
    split = claim();
  } catch (const std::bad_alloc&) {
    split = -1;  // no split, and the first half hears so
  }
  if (split >= 0) end_ = split;
  splitClaimed_ = true;
  claimedChanged_.notify_all();
  return split;
}

template <int kSize, bool kBigEndian>
void BlockScanner<kSize, kBigEndian>::joinSecondHalf() {
  if (!second_) return;
  if (file_->readFailed) second_->stop = true;  // the scan is incomplete anyway
  second_->thread.join();
  if (second_->failure) std::rethrow_exception(second_->failure);
  if (second_->scanned) {
    if (second_->scanner.readFailed()) file_->readFailed = true;
    edits_->append(std::move(second_->edits),
                   ::joinSecondHalf(state_, second_->state, second_->startContext));
  }
  second_.reset();
}

}  // namespace

void scanFile(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
              const CopyableObserver& copyable) {
  withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
    BlockScanner<kSize, kBigEndian> scanner(file, format, state, edits, copyable);
    scanner.run();
    scanner.joinSecondHalf();
  });
}
