// The edit list's bitmap of stretches to mend, and its chunks.
#include "app/edit_list.h"

#include <algorithm>
#include <utility>

void EditList::markRegion(size_t region) {
  if (region / 64 >= mendRegions_.size()) mendRegions_.resize(region / 64 + 1);
  mendRegions_[region / 64] |= uint64_t{1} << (region % 64);
  lastMarked_ = region;
}

void EditList::startChunk() {
  // Small at first, for the many files with few invocation lines.
  size_t size = chunks_.empty() ? size_t{4096} : size_t{1} << 20;
  if (!chunks_.empty()) chunks_.back().used = static_cast<size_t>(at_ - chunks_.back().bytes.get());
  chunks_.push_back({std::make_unique_for_overwrite<uint8_t[]>(size), 0});
  at_ = chunks_.back().bytes.get();
  chunkEnd_ = at_ + size;
}

void EditList::append(EditList&& later, std::vector<EntryIndex> entryOf) {
  if (!later.chunks_.empty()) {
    if (!chunks_.empty())
      chunks_.back().used = static_cast<size_t>(at_ - chunks_.back().bytes.get());
    laterChunk_ = chunks_.size();
    laterEntryOf_ = std::move(entryOf);
    for (Chunk& chunk : later.chunks_) chunks_.push_back(std::move(chunk));
    at_ = later.at_;
    chunkEnd_ = later.chunkEnd_;
    lastStart_ = later.lastStart_;
    count_ += later.count_;
  }
  firstInvocation = std::min(firstInvocation, later.firstInvocation);
  if (later.mendRegions_.size() > mendRegions_.size())
    mendRegions_.resize(later.mendRegions_.size());
  for (size_t i = 0; i < later.mendRegions_.size(); ++i) mendRegions_[i] |= later.mendRegions_[i];
  unitsEnd = later.unitsEnd;
  scannedEnd = later.scannedEnd;
  missingLineEnd = later.missingLineEnd;
}
