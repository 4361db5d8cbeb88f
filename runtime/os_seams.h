// The failure seams of the platform layer, shared by every platform file:
// each counts the calls of one kind and can make a chosen one fail, so that
// tests reach every failure path without a broken disk.
#ifndef ORRINVALE_RUNTIME_OS_SEAMS_H_
#define ORRINVALE_RUNTIME_OS_SEAMS_H_

namespace os::seams {

// Each counts one call and says whether it is the one chosen to fail.
bool fileChangeFails();
bool openFails();
bool seekFails();

}  // namespace os::seams

#endif  // ORRINVALE_RUNTIME_OS_SEAMS_H_
