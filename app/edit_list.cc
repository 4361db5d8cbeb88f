// The edit list's bitmap of stretches to mend.
#include "app/edit_list.h"

void EditList::markRegion(size_t region) {
  if (region / 64 >= mendRegions_.size()) mendRegions_.resize(region / 64 + 1);
  mendRegions_[region / 64] |= uint64_t{1} << (region % 64);
  lastMarked_ = region;
}
