// Test support for everything that talks SCSI: a transport that records every
// command (and answers from a script, a responder, or a transport behind it,
// such as the emulated bus), scoped installation of a transport, of the
// environment and of the sleep function.
#pragma once

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/console.h"
#include "scsi/transport.h"

namespace cdm_test {

// One command as it reached the transport.
struct RecordedCommand {
  ScsiRequest request;            // the request as received, before it ran
  std::vector<uint8_t> cdb;       // the cdb_length bytes of the command block
  std::vector<uint8_t> data_out;  // the bytes sent with SRB_DIR_OUT

  uint8_t opcode() const { return cdb.empty() ? 0xFF : cdb[0]; }
  uint8_t direction() const { return request.direction(); }
  uint32_t length() const { return request.buffer_length; }
};

// How a scripted command ends; data_in is copied into the caller's buffer.
struct ScriptedReply {
  uint8_t srb_status = SS_COMP;
  uint8_t ha_status = HASTAT_OK;
  uint8_t target_status = STATUS_GOOD;
  std::array<uint8_t, SENSE_LENGTH> sense{};
  std::vector<uint8_t> data_in;
  std::optional<uint32_t> transferred;  // bytes the device moved; all of them when absent
};

inline ScriptedReply good_reply(std::vector<uint8_t> data_in = {}) {
  ScriptedReply reply;
  reply.data_in = std::move(data_in);
  return reply;
}

// CHECK CONDITION with fixed-format sense data.
inline ScriptedReply check_reply(uint8_t key, uint8_t asc = 0, uint8_t ascq = 0,
                                 uint8_t flags = 0) {
  ScriptedReply reply;
  reply.srb_status = SS_ERR;
  reply.target_status = STATUS_CHECK_CONDITION;
  reply.sense[0] = 0x70;
  reply.sense[2] = static_cast<uint8_t>(key | flags);
  reply.sense[7] = 10;
  reply.sense[12] = asc;
  reply.sense[13] = ascq;
  return reply;
}

// Records every command. Answers, in this order of preference: the next
// scripted reply, the responder, the transport behind it, GOOD.
class RecordingTransport : public ScsiTransport {
 public:
  RecordingTransport() = default;
  explicit RecordingTransport(std::unique_ptr<ScsiTransport> inner) : inner_(std::move(inner)) {}

  bool open() override { return open_result && (!inner_ || inner_->open()); }
  uint8_t adapter_count() const override { return inner_ ? inner_->adapter_count() : adapters; }

  void execute(ScsiRequest& request) override {
    RecordedCommand record;
    record.request = request;
    record.cdb.assign(request.cdb, request.cdb + std::min<std::size_t>(request.cdb_length, 16));
    if (request.direction() == SRB_DIR_OUT && request.buffer != nullptr)
      record.data_out.assign(request.buffer, request.buffer + request.buffer_length);
    commands.push_back(record);
    if (!replies_.empty()) {
      const ScriptedReply reply = replies_.front();
      replies_.pop_front();
      apply(reply, request);
    } else if (responder) {
      responder(request);
    } else if (inner_) {
      inner_->execute(request);
    } else {
      request.srb_status = SS_COMP;
    }
  }

  void push_reply(ScriptedReply reply) { replies_.push_back(std::move(reply)); }
  void push_replies(std::size_t count, const ScriptedReply& reply) {
    for (std::size_t i = 0; i < count; ++i) replies_.push_back(reply);
  }
  ScsiTransport* inner() const { return inner_.get(); }

  std::vector<RecordedCommand> commands;
  std::function<void(ScsiRequest&)> responder;
  uint8_t adapters = 1;
  bool open_result = true;

  static void apply(const ScriptedReply& reply, ScsiRequest& request) {
    request.srb_status = reply.srb_status;
    request.ha_status = reply.ha_status;
    request.target_status = reply.target_status;
    std::memcpy(request.sense_area, reply.sense.data(), SENSE_LENGTH);
    if (request.buffer != nullptr && request.direction() == SRB_DIR_IN && !reply.data_in.empty())
      std::memcpy(request.buffer, reply.data_in.data(),
                  std::min<std::size_t>(reply.data_in.size(), request.buffer_length));
    if (reply.transferred) request.transferred = *reply.transferred;
  }

 private:
  std::unique_ptr<ScsiTransport> inner_;
  std::deque<ScriptedReply> replies_;
};

// Installs a transport for its lifetime and puts the previous one back.
template <typename T>
class ScopedTransport {
 public:
  explicit ScopedTransport(std::unique_ptr<T> transport) : transport_(transport.get()) {
    previous_ = install_scsi_transport(std::move(transport));
  }
  template <typename... Args>
  explicit ScopedTransport(Args&&... args)
      : ScopedTransport(std::make_unique<T>(std::forward<Args>(args)...)) {}
  ~ScopedTransport() { install_scsi_transport(std::move(previous_)); }
  ScopedTransport(const ScopedTransport&) = delete;
  ScopedTransport& operator=(const ScopedTransport&) = delete;

  T& operator*() const { return *transport_; }
  T* operator->() const { return transport_; }

 private:
  T* transport_;
  std::unique_ptr<ScsiTransport> previous_;
};

// Sets (or, with nullopt, removes) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

// Replaces the sleep function for its lifetime and records every pause.
class SleepRecorder {
 public:
  SleepRecorder() {
    set_sleep_function([this](unsigned milliseconds) { pauses.push_back(milliseconds); });
  }
  ~SleepRecorder() { set_sleep_function({}); }
  SleepRecorder(const SleepRecorder&) = delete;
  SleepRecorder& operator=(const SleepRecorder&) = delete;

  std::vector<unsigned> pauses;
};

}  // namespace cdm_test
