// What the recording dialog sinks of the tests share: every request kept in
// order, answers handed out from a queue, then "cancelled" (none).
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

template <class Request>
class RecordedRequests {
 public:
  std::optional<std::string> Take(const Request& request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (answers_.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }
  void QueueAnswer(std::optional<std::string> answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
  }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    answers_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::deque<std::optional<std::string>> answers_;
};

}  // namespace platform
