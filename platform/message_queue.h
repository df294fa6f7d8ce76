// Window messages for the user-interface thread, posted from any thread. A
// message carries no parameters, so posts of one message that arrive before
// its handler runs make one call of that handler; messages are handled in
// the order they were first posted.
//
// The queue does not run a loop of its own. It keeps a descriptor that is
// readable while a message waits: the interface thread's event loop watches
// it and calls Dispatch when it turns readable (a thread without an event
// loop calls Wait, then Dispatch). Posting writes to that descriptor only,
// so a posting thread never calls into the loop's library.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

class MessageQueue {
 public:
  using Handler = std::function<void()>;

  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Interface thread: the handler of `message` (an empty one removes it).
  void SetHandler(uint32_t message, Handler handler);

  // Any thread. False once the queue is closed.
  bool Post(uint32_t message);

  // Any thread but the interface thread: posts `message` and waits until its
  // handler has run (true), or until `abandon` is set and ReleaseSenders is
  // called, or the queue closes (false).
  bool Send(uint32_t message, const std::atomic<bool>& abandon);
  // Wakes the senders so that they look at their `abandon` flags again.
  void ReleaseSenders();

  // Interface thread: runs the handlers of the messages waiting now (those
  // posted while it runs wait for the next call). Returns how many ran.
  int Dispatch();

  // For a thread without an event loop: blocks until a message waits or
  // `realMilliseconds` have passed (negative: no limit). True when one waits.
  bool Wait(int realMilliseconds = -1) const;

  // Readable while a message waits; Dispatch makes it unreadable again.
  int WakeDescriptor() const { return wake_; }

  // No further posts; waiting senders return false. Handlers are dropped.
  void Close();

 private:
  void Drain() const;

  int wake_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable handled_;
  std::vector<uint32_t> pending_;             // in the order first posted
  std::map<uint32_t, uint64_t> dispatched_;   // handler runs per message
  std::map<uint32_t, Handler> handlers_;
  bool closed_ = false;
};

}  // namespace platform
