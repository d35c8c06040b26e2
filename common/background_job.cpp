#include "common/background_job.h"

#include <condition_variable>
#include <mutex>
#include <thread>

struct BackgroundJob::State {
  std::mutex lock;
  std::condition_variable changed;
  std::function<int()> job;  // set while a job waits or runs
  int result = 0;
  bool stopping = false;
  std::thread worker;

  void run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      changed.wait(guard, [this] { return stopping || job; });
      if (!job) return;
      std::function<int()> current = job;
      guard.unlock();
      const int outcome = current();
      guard.lock();
      result = outcome;
      job = nullptr;
      changed.notify_all();
    }
  }
};

BackgroundJob::BackgroundJob() : state_(std::make_unique<State>()) {
  state_->worker = std::thread([state = state_.get()] { state->run(); });
}

BackgroundJob::~BackgroundJob() {
  wait();
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  state_->worker.join();
}

void BackgroundJob::start(std::function<int()> job) {
  wait();
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->job = std::move(job);
    state_->result = 0;
  }
  state_->changed.notify_all();
}

int BackgroundJob::wait() {
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->changed.wait(guard, [this] { return !state_->job; });
  const int result = state_->result;
  state_->result = 0;
  return result;
}
