// Starting the run's helper threads (the background copy, the output
// file's writer): where no thread can start, the run does their work itself.
#ifndef ORRINVALE_RUNTIME_HELPER_THREAD_H_
#define ORRINVALE_RUNTIME_HELPER_THREAD_H_

#include <system_error>
#include <thread>
#include <utility>

// Starts body on *thread; false, with *thread left empty, where no thread can
// start. An end signal that reaches the thread is passed on to the main
// thread (os::watchEndSignals).
template <typename Body>
bool startHelperThread(std::thread* thread, Body&& body) {
  try {
    *thread = std::thread(std::forward<Body>(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

#endif  // ORRINVALE_RUNTIME_HELPER_THREAD_H_
