// The edit list's compact form.
#include "app/edit_list.h"

#include <algorithm>

namespace {

void appendNumber(std::vector<uint8_t>* bytes, uint64_t value) {
  while (value >= 0x80) {
    bytes->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  bytes->push_back(static_cast<uint8_t>(value));
}

uint64_t readNumber(const std::vector<uint8_t>& bytes, size_t* at) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    uint8_t byte = bytes[(*at)++];
    value |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

}  // namespace

void EditList::addInvocation(int64_t start, EntryIndex label) {
  firstInvocation = std::min(firstInvocation, start);
  appendNumber(&invocations_, static_cast<uint64_t>(start - lastStart_));
  appendNumber(&invocations_, label);
  lastStart_ = start;
  ++count_;
}

void EditList::markRegion(size_t region) {
  if (region / 64 >= mendRegions_.size()) mendRegions_.resize(region / 64 + 1);
  mendRegions_[region / 64] |= uint64_t{1} << (region % 64);
  lastMarked_ = region;
}

bool EditList::Reader::next(Invocation* invocation) {
  if (at_ == list_.invocations_.size()) return false;
  start_ += static_cast<int64_t>(readNumber(list_.invocations_, &at_));
  invocation->start = start_;
  invocation->label = static_cast<EntryIndex>(readNumber(list_.invocations_, &at_));
  return true;
}
