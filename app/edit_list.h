// What the block scan records for the rewrite: the invocation lines, each as
// where it starts and the label it invokes, and which stretches of the file
// hold a line end other than CR LF. Everything else goes to the new file
// exactly as it is, so the list grows with the invocation lines alone, a few
// bytes each, whatever the line ends.
#ifndef ORRINVALE_APP_EDIT_LIST_H_
#define ORRINVALE_APP_EDIT_LIST_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/procedure_table.h"

// The stretches whose line ends are looked at again by the rewrite; the
// others it may hand to the system to copy.
inline constexpr int kMendRegionBits = 16;
inline constexpr int64_t kMendRegionSize = int64_t{1} << kMendRegionBits;

// Whether offset lies in a region that regions (a bit per region) marks.
inline bool regionMarked(const std::vector<uint64_t>& regions, int64_t offset) {
  size_t region = static_cast<size_t>(offset >> kMendRegionBits);
  return region / 64 < regions.size() && (regions[region / 64] >> (region % 64) & 1);
}

// Where the run of regions that are marked as from's is (or are unmarked as
// from's is) ends, at most at end: one stretch to copy one way.
inline int64_t endOfLikeRegions(const std::vector<uint64_t>& regions, int64_t from, int64_t end) {
  bool marked = regionMarked(regions, from);
  int64_t stretchEnd = from;
  while (stretchEnd < end && regionMarked(regions, stretchEnd) == marked)
    stretchEnd = std::min(end, (stretchEnd | (kMendRegionSize - 1)) + 1);
  return stretchEnd;
}

struct Invocation {
  int64_t start = 0;  // where the line starts (spaces included)
  EntryIndex label = 0;
};

class EditList {
  struct Chunk {
    std::unique_ptr<uint8_t[]> bytes;
    size_t used = 0;  // set when the next chunk starts
  };

 public:
  // Invocations come in file order.
  [[gnu::always_inline]] void addInvocation(int64_t start, EntryIndex label) {
    if (start < firstInvocation) firstInvocation = start;
    // Written in place: two numbers take at most 15 bytes.
    if (chunkEnd_ - at_ < 16) startChunk();
    at_ += putNumber(static_cast<uint64_t>(start - lastStart_), at_);
    at_ += putNumber(label, at_);
    lastStart_ = start;
    ++count_;
  }
  // A line end other than CR LF at offset: the rewrite makes it CR LF.
  void addLineEndToMend(int64_t offset) {
    size_t region = static_cast<size_t>(offset >> kMendRegionBits);
    if (region != lastMarked_) markRegion(region);
  }

  // Appends the edits of later, the scan of the rest of the file, whose
  // invocations name labels by another table's numbering: entryOf gives
  // each one's entry in this list's. The file's end is later's. Once only.
  void append(EditList&& later, std::vector<EntryIndex> entryOf);

  size_t invocationCount() const { return count_; }
  // A bit per region of kMendRegionSize bytes: whether it needs mending.
  const std::vector<uint64_t>& mendRegions() const { return mendRegions_; }
  bool regionNeedsMending(int64_t offset) const { return regionMarked(mendRegions_, offset); }

  // Reads the invocations back in file order.
  class Reader {
   public:
    explicit Reader(const EditList& list) : list_(list) {}
    bool next(Invocation* invocation) {
      while (at_ == end_) {
        if (chunk_ == list_.chunks_.size()) return false;
        if (chunk_ == list_.laterChunk_) {
          start_ = 0;
          entryOf_ = list_.laterEntryOf_.data();
        }
        const Chunk& chunk = list_.chunks_[chunk_++];
        at_ = chunk.bytes.get();
        end_ = chunk_ == list_.chunks_.size() ? list_.at_ : at_ + chunk.used;
      }
      start_ += static_cast<int64_t>(takeNumber(&at_));
      invocation->start = start_;
      auto label = static_cast<EntryIndex>(takeNumber(&at_));
      invocation->label = entryOf_ ? entryOf_[label] : label;
      return true;
    }

   private:
    const EditList& list_;
    size_t chunk_ = 0;
    const uint8_t* at_ = nullptr;
    const uint8_t* end_ = nullptr;
    int64_t start_ = 0;
    const EntryIndex* entryOf_ = nullptr;  // from the appended chunks on
  };

  // Where the first invocation line starts: before it, nothing changes but
  // line ends.
  int64_t firstInvocation = INT64_MAX;
  // Where the file's whole units end; a partial unit after them stays as it is.
  int64_t unitsEnd = 0;
  // Where the scan found the end of the file.
  int64_t scannedEnd = 0;
  // The last line has no line end: CR LF goes at unitsEnd.
  bool missingLineEnd = false;

 private:
  // Per invocation, two numbers seven bits a byte (the high bit says more
  // follow): the distance from the previous invocation's start, and the label.
  // They go in chunks that never move: growing copies nothing, and no
  // byte is touched before it is written.
  std::vector<Chunk> chunks_;
  uint8_t* at_ = nullptr;  // where the next invocation goes in the last chunk
  uint8_t* chunkEnd_ = nullptr;
  size_t count_ = 0;
  int64_t lastStart_ = 0;
  // The first appended chunk, whose numbers start afresh, and the entries
  // that its labels and those after it stand for.
  size_t laterChunk_ = SIZE_MAX;
  std::vector<EntryIndex> laterEntryOf_;
  void markRegion(size_t region);
  void startChunk();

  // Seven bits a byte, the high bit set where more follow.
  static size_t putNumber(uint64_t value, uint8_t* out) {
    size_t n = 0;
    for (; value >= 0x80; value >>= 7) out[n++] = static_cast<uint8_t>(value | 0x80);
    out[n++] = static_cast<uint8_t>(value);
    return n;
  }
  static uint64_t takeNumber(const uint8_t** at) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t byte = *(*at)++;
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if (byte < 0x80) return value;
    }
  }

  std::vector<uint64_t> mendRegions_;  // a bit per region
  size_t lastMarked_ = SIZE_MAX;
};

#endif  // ORRINVALE_APP_EDIT_LIST_H_
