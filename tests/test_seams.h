// Control of the seams in the tests' build of the code: the nth call of a
// kind, counted from the last reset, fails as the system would fail it; the
// work is done in sizes of a chosen size.
#ifndef ORRINVALE_TESTS_TEST_SEAMS_H_
#define ORRINVALE_TESTS_TEST_SEAMS_H_

#include <cstdint>
#include <vector>

#include "runtime/seams.h"

// Data-changing file calls (write, sync, metadata copy, naming, replace) fail
// as on a full disk; 0 disables. fileChangeCount tells how many happened.
void failNthFileChange(int64_t n);
int64_t fileChangeCount();
// Instead of failing the nth data-changing call, runs action just before it.
void beforeNthFileChange(int64_t n, void (*action)());

// Opens of an existing file for reading fail as with no handles left.
void failNthOpen(int64_t n);

// Moves of the position fail as on an I/O error.
void failNthSeek(int64_t n);
int64_t seekCount();

// The steps noted since the last call, oldest first.
std::vector<seams::Step> takeSteps();

// The given size (0: the usual) for the work of every run.
void useSize(seams::Size what, int64_t bytes);
// Blocks of the given size (0: the usual mebibyte) for every scan.
void useBlockSize(int64_t bytes);
// Every size at once (0: all usual), so that small files meet every edge.
void useSmallSizes(int64_t bytes);

// Every scan splits the file in two at the first line that starts at offset
// or after (-1: as usual).
void splitScanAt(int64_t offset);
// The scan of a second half runs out of memory on its helper thread after
// its first block.
void failHelperScans(bool fail);
// The processor seems not to run the kernel of that number (-1: none hidden).
void hideKernel(int kernel);

#endif  // ORRINVALE_TESTS_TEST_SEAMS_H_
