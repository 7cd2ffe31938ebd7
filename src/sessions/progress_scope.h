// A progress bracket held for the length of a scope.
#pragma once

namespace brn {

// Owner's BeginProgress on construction and its EndProgress however the
// scope is left. A failing EndProgress is dropped: the scope may be left by
// an error, which is the one reported. Owner is a session or database
// manager; the scope is used by the thread that runs the owner's command.
template <typename Owner>
class TBRNProgressScope {
 public:
  explicit TBRNProgressScope(Owner& owner) : owner_(owner) { owner_.BeginProgress(); }
  ~TBRNProgressScope() {
    try {
      owner_.EndProgress();
    } catch (...) {
    }
  }
  TBRNProgressScope(const TBRNProgressScope&) = delete;
  TBRNProgressScope& operator=(const TBRNProgressScope&) = delete;

 private:
  Owner& owner_;
};

}  // namespace brn
