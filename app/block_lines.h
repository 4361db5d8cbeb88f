// The walk of a block's lines through the rules: the lines that the block's
// masks say need a look go to the line rules as they lie in the block; a
// line longer than the buffer goes in pieces, so that memory stays flat.
// Under an ANSI code page with characters of two bytes, whose second byte
// may look like ASCII, a line that holds a byte of 0x80 or more is decoded
// and its text goes to the same rules as UTF-16. The walk knows nothing of
// where its blocks come from, nor of threads.
#ifndef ORRINVALE_APP_BLOCK_LINES_H_
#define ORRINVALE_APP_BLOCK_LINES_H_

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "app/block_masks.h"
#include "app/edit_list.h"
#include "app/language.h"
#include "app/line_rules.h"
#include "app/scan_rules.h"
#include "runtime/contracts.h"
#include "runtime/os.h"
#include "runtime/text_codec.h"

template <int kSize, bool kBigEndian>
class BlockLines {
  using U = Units<kSize, kBigEndian>;

 public:
  BlockLines(TextFormat format, ScanState& state, EditList* edits)
      : format_(format),
        state_(state),
        edits_(edits),
        rules_(format, state, edits),
        doubleByte_(!rawUnitsShowAscii(format)),
        decoded_(TextFormat::Utf16Le, state, edits) {}

  // Takes what it can of the units at bytes, which lie at offset in the file
  // and start where the last take stopped: every complete line, or a piece
  // of a line longer than the buffer (full says the buffer is full).
  // atEnd says that no more units follow. Returns how many it took.
  size_t take(const unsigned char* bytes, size_t units, int64_t offset, bool atEnd, bool full) {
    size_t taken = longLine_ ? takeLongLine(bytes, units, atEnd) : 0;
    if (longLine_) return taken;
    size_t complete = atEnd ? units : std::max(taken, completeLines(bytes, units));
    takeLines(bytes + taken * kSize, complete - taken, offset + static_cast<int64_t>(taken * kSize),
              atEnd);
    if (atEnd || complete > 0 || !full) return complete;
    // A line that fills the buffer is taken in pieces from now on.
    longLine_ = true;
    head_ = true;
    longLineStart_ = offset;
    return takeLongLine(bytes, units, atEnd);
  }

  // How far, given that taken units from offset are taken, the file is
  // known to the rules: a long line is known once its head is.
  int64_t knownUpTo(int64_t offset, size_t taken) const {
    return longLine_ && head_ ? longLineStart_ : offset + static_cast<int64_t>(taken * kSize);
  }

 private:
  uint32_t unit(const unsigned char* line, size_t index) const { return rules_.unit(line, index); }

  // Takes every line in the first count units of bytes, which start a line;
  // at the end of the file, the last may lack a line end. Two steps: the
  // block becomes bit masks, then the units they want a look at are taken.
  void takeLines(const unsigned char* bytes, size_t count, int64_t offset, bool atEnd) {
    masks_.classify(bytes, count, offset, edits_);
    size_t nextLine = takeWantedUnits(bytes, count, offset);
    rules_.creditPending();
    // A last line without a line end that no rule wanted still gets one.
    if (atEnd && nextLine < count && !endsLine(unit(bytes, count - 1)))
      edits_->missingLineEnd = true;
  }

  // Each wanted unit in file order: a reference, or a line to take whole.
  // Returns where the line after the last one taken starts. What a line's
  // wanted units need of it (its start, end and first unit that is not a
  // space; whether it needs decoding) is found once per line, so that a line
  // of any length costs time in proportion to its length, whatever it holds.
  size_t takeWantedUnits(const unsigned char* bytes, size_t count, int64_t offset) {
    size_t nextLine = 0;
    LineFacts line;
    const std::vector<uint64_t>& wanted = masks_.wanted();
    for (size_t word = 0; word < wanted.size(); ++word) {
      for (uint64_t bits = wanted[word]; bits; bits &= bits - 1) {
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
          rules_.takeLine(bytes + line.start * kSize, (line.end - line.start) * kSize,
                          offset + static_cast<int64_t>(line.start * kSize),
                          unit(bytes, at) == language::kReferenceStart ||
                              masks_.wantedWithin(at + 1, line.end));
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
    LineFacts line{masks_.lineStart(at), masks_.lineEnd(at, count), masks_.firstUnitBefore(at),
                   false};
    if (doubleByte_) {
      const unsigned char* from = bytes + line.start * kSize;
      line.needsDecoding = std::any_of(from, from + (line.end - line.start) * kSize,
                                       [](unsigned char byte) { return byte >= 0x80; });
    }
    return line;
  }

  void takeDecoded(const LineFacts& line, const unsigned char* bytes, int64_t offset) {
    rules_.creditPending();
    auto [text, count] = pieceAsRulesTakeIt(bytes, line.start, line.end);
    decoded_.takeLine(text, count * 2, offset + static_cast<int64_t>(line.start * kSize));
    decoded_.creditPending();
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

  // The units of a line longer than the buffer, which started before it at
  // longLineStart_: up to its end, if the buffer holds it, or else as far as
  // a piece can go without splitting what a rule must see whole. Returns how
  // many units it took; longLine_ is false once the line is done.
  size_t takeLongLine(const unsigned char* bytes, size_t units, bool atEnd) {
    if (doubleByte_) return takeLongLineWith(decoded_, bytes, units, atEnd);
    return takeLongLineWith(rules_, bytes, units, atEnd);
  }
  template <typename Rules>
  size_t takeLongLineWith(Rules& rules, const unsigned char* bytes, size_t units, bool atEnd) {
    size_t end = U::firstLineEnd(bytes, units);
    const bool ends = end < units || atEnd;
    size_t at = 0;
    if (head_) {
      at = language::skipSpaces([&](size_t i) { return unit(bytes, i); }, 0, end);
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

  // Where a piece of a long line that ends by count must end, so that no
  // reference is cut before it is known to be one: before the last '_' that
  // may start one. (The digits of one that is known may go on into the next
  // piece: the rules hold it open.) Under a double-byte code page, whose
  // second bytes may look like '_', it ends on a character's first byte too.
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
    auto at = [&](size_t i) { return unit(bytes, i); };
    if (underscore < end && language::referenceUndecided(at, underscore, end)) return underscore;
    return end;
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

  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  LineRules<kSize, kBigEndian> rules_;
  BlockMasks<kSize, kBigEndian> masks_;
  // Decoded lines of a double-byte code page, and their rules.
  const bool doubleByte_;
  std::u16string text_;
  std::string wide_;
  LineRules<2, false> decoded_;
  // A line longer than the buffer, taken in pieces: where it starts, and
  // whether its head is still to be judged.
  bool longLine_ = false, head_ = false;
  int64_t longLineStart_ = 0;
};

#endif  // ORRINVALE_APP_BLOCK_LINES_H_
