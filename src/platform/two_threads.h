// Work split between this thread and one more, for the long passes over big archives on
// machines with a second core.
#pragma once

#include <exception>
#include <thread>
#include <utility>

namespace kestrix {

// Runs `second` on another thread while `first` runs on this one, and returns when both are
// done. What `first` threw is thrown on, else what `second` threw: when both parts hold one
// half of an ordered walk, the error is the one a single walk would have met first. `first`
// must not leave `second` waiting for it when it throws.
template <typename First, typename Second>
void RunBoth(First&& first, Second&& second) {
  std::exception_ptr second_error;
  std::thread other([&] {
    try {
      second();
    } catch (...) {
      second_error = std::current_exception();
    }
  });
  try {
    first();
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  if (second_error) std::rethrow_exception(second_error);
}

}  // namespace kestrix
