// Starting the run's helper threads (the background copy, the output
// writer) so that end signals never reach them.
#ifndef ORRINVALE_APP_HELPER_THREAD_H_
#define ORRINVALE_APP_HELPER_THREAD_H_

#include <system_error>
#include <thread>
#include <utility>

#include "runtime/os.h"

// Starts body on *thread; false, with *thread left empty, where no thread can
// start. The thread begins with end signals deferred and keeps them so: they
// go to the main thread, which defers them while it changes what the
// handler reads.
template <typename Body>
bool startHelperThread(std::thread* thread, Body&& body) {
  try {
    os::EndSignalsDeferred deferred;
    *thread = std::thread(std::forward<Body>(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

#endif  // ORRINVALE_APP_HELPER_THREAD_H_
