// One job at a time on a second thread, so that the caller can do other work
// meanwhile (a conversion overlaps its file transfers with its encoding and
// takes about as long as the longer of the two, not their sum).
#pragma once

#include <functional>
#include <memory>

class BackgroundJob {
 public:
  BackgroundJob();
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;
  // Waits for the job in flight, then stops the thread.
  ~BackgroundJob();
  // Starts `job`; the job in flight, if any, is waited for first. The job
  // must not throw.
  void start(std::function<int()> job);
  // Waits for the job in flight and returns its result (0 when none was in
  // flight).
  int wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
