// A running answer's handle, shared between its panel session and the job's
// own threads. Cancelling only asks the job to end (terminates the tool
// process, or sets the mock job's flag); the job still delivers its finished
// item, which is what makes the panel idle again. Dropping a handle does not
// cancel the job.
#pragma once

#include <atomic>
#include <memory>

namespace lumaro {

class JobControl {
 public:
  virtual ~JobControl() = default;
  virtual void cancel() noexcept = 0;
};

// The flag variant, polled by the job's own thread.
class CancelFlag final : public JobControl {
 public:
  void cancel() noexcept override { cancelled_.store(true); }
  bool cancelled() const noexcept { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

class JobHandle {
 public:
  explicit JobHandle(std::shared_ptr<JobControl> control) : control_(std::move(control)) {}
  void cancel() const noexcept {
    if (control_) control_->cancel();
  }
  // A handle without a job marks a turn that is still being started.
  bool is_placeholder() const noexcept { return control_ == nullptr; }

 private:
  std::shared_ptr<JobControl> control_;
};

}  // namespace lumaro
