// A scope left by an exception: `onException` runs when an exception thrown
// inside the scope unwinds it, never on a normal way out. It must not throw.
#pragma once

#include <exception>
#include <utility>

namespace station {

template <class F>
class ExceptionExit {
 public:
  explicit ExceptionExit(F onException) : onException_(std::move(onException)) {}
  ~ExceptionExit() {
    if (std::uncaught_exceptions() > pending_) onException_();
  }
  ExceptionExit(const ExceptionExit&) = delete;
  ExceptionExit& operator=(const ExceptionExit&) = delete;

 private:
  F onException_;
  const int pending_ = std::uncaught_exceptions();
};

}  // namespace station
