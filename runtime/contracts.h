// Preconditions in code: ORRINVALE_EXPECTS states what a function needs of
// its caller. The tests' sanitizer build checks each one and stops at the
// first that fails, where the misuse happens; Release builds (NDEBUG)
// compile them out, so they cost the program nothing.
#ifndef ORRINVALE_RUNTIME_CONTRACTS_H_
#define ORRINVALE_RUNTIME_CONTRACTS_H_

#include <cassert>

#define ORRINVALE_EXPECTS(condition) assert((condition) && "precondition")

#endif  // ORRINVALE_RUNTIME_CONTRACTS_H_
