// What the platform files share: the buffered copy and the making of unique
// names.
#ifndef ORRINVALE_RUNTIME_OS_SHARED_H_
#define ORRINVALE_RUNTIME_OS_SHARED_H_

#include <cstdint>
#include <string>

#include "runtime/os.h"

namespace os {

// copyRange where the system cannot copy by itself: read, then write, a
// mebibyte at a time. False when from ends early or either side fails.
bool copyThroughBuffer(FileHandle from, int64_t offset, FileHandle to, int64_t n);

// Eight characters that make a temporary name unlikely to be taken, from
// whatever varies between calls and processes (time, process number).
std::string uniqueSuffix(uint64_t entropy);

}  // namespace os

#endif  // ORRINVALE_RUNTIME_OS_SHARED_H_
