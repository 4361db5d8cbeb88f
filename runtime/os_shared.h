// What the platform files share: the failure seams, each of which counts the
// calls of one kind and can make a chosen one fail, so that tests reach every
// failure path without a broken disk; and the making of unique names.
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

namespace seams {

// Each counts one call and says whether it is the one chosen to fail.
bool fileChangeFails();
bool openFails();
bool seekFails();

}  // namespace seams
}  // namespace os

#endif  // ORRINVALE_RUNTIME_OS_SHARED_H_
