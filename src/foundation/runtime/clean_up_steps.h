#pragma once

#include <exception>

namespace brn {

// Runs a chain of clean-up steps to the end: a step that throws does not
// stop the later ones, and the first failure is kept to be raised once
// every step was tried (later failures are dropped). Used by one thread.
class TBRNCleanUpSteps {
 public:
  template <typename Step>
  void Run(Step&& step) {
    try {
      step();
    } catch (...) {
      if (!failure_) failure_ = std::current_exception();
    }
  }
  bool Failed() const { return bool(failure_); }
  // Raises the first failure, if any.
  void RaiseFirst() {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
};

}  // namespace brn
