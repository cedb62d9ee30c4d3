// Work split between this thread and one more, for the long passes over big archives on
// machines with a second core.
#pragma once

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace kestrix {

// Walks over at least this many objects are worth a second thread; shorter ones stay on one.
constexpr size_t kSecondThreadFrom = 65536;

// Runs `second` on another thread while `first` runs on this one, and returns true when both
// are done. What `first` threw is thrown on, else what `second` threw: when both parts hold one
// half of an ordered walk, the error is the one a single walk would have met first. `first`
// must not leave `second` waiting for it when it throws.
// Returns false, having run neither, when the system starts no more threads (a limit on
// processes or threads): the caller then does the work on its own.
template <typename First, typename Second>
bool TryRunBoth(First&& first, Second&& second) {
  std::exception_ptr second_error;
  std::thread other;
  try {
    other = std::thread([&] {
      try {
        second();
      } catch (...) {
        second_error = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  try {
    first();
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  if (second_error) std::rethrow_exception(second_error);
  return true;
}

// The same for parts that never wait for each other: without another thread they run here,
// `first` and then `second`.
template <typename First, typename Second>
void RunBoth(First&& first, Second&& second) {
  if (!TryRunBoth(first, second)) {
    first();
    second();
  }
}

}  // namespace kestrix
