#include "support/fake_backend.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <string>

namespace lumora::host {
namespace {

// The call log keeps only the most recent entries.
constexpr std::size_t kMaxLogEntries = 1000;

class FakeBackend : public Backend {
 public:
  explicit FakeBackend(std::string kind) : kind_(std::move(kind)), queue_(cJSON_CreateArray()) {}

  JsonPtr info() override {
    JsonPtr object(cJSON_CreateObject());
    cJSON_AddStringToObject(object.get(), "backend", "fake");
    cJSON_AddStringToObject(object.get(), "kind", kind_.c_str());
    cJSON_AddNumberToObject(object.get(), "draws", static_cast<double>(draws_));
    cJSON_AddNumberToObject(object.get(), "presents", static_cast<double>(presents_));
    cJSON_AddNumberToObject(object.get(), "commits", static_cast<double>(commits_));
    cJSON_AddNumberToObject(object.get(), "resets", static_cast<double>(resets_));
    return object;
  }

  bool commit_scene(const cJSON* commands, ErrorText error) override {
    log("commit");
    if (!cJSON_IsArray(commands)) {
      error.set("Fake commit needs an array");
      return false;
    }
    const cJSON* first = cJSON_GetArrayItem(commands, 0);
    if (cJSON_IsString(first) && std::string(first->valuestring) == "fail") return false;
    ++commits_;
    commands_touched_ = static_cast<std::uint64_t>(cJSON_GetArraySize(commands));
    return true;
  }

  bool patch_scene(const cJSON* command, ErrorText) override {
    log("patch");
    if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(command, "fail"))) return false;
    ++commits_;
    return true;
  }

  JsonPtr run_operation(const cJSON* command, ErrorText error) override {
    std::string op = member_string(command, "op");
    if (op == "configure") {
      const cJSON* ms = cJSON_GetObjectItemCaseSensitive(command, "transition_ms");
      log(cJSON_IsNumber(ms) ? "configure:" + number_text(ms->valuedouble) : std::string("configure"));
      if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(command, "fail"))) return nullptr;
      return JsonPtr(cJSON_CreateNull());
    }
    log(op);
    if (op == "reload_image") return JsonPtr(cJSON_CreateNull());
    if (op == "fake_queue_events") {
      const cJSON* event = nullptr;
      cJSON_ArrayForEach(event, cJSON_GetObjectItemCaseSensitive(command, "events")) {
        cJSON_AddItemToArray(queue_.get(), cJSON_Duplicate(event, true));
      }
      return JsonPtr(cJSON_CreateNull());
    }
    if (op == "fake_flood") {
      flood_per_drain_ = member_number(command, "per_drain");
      flood_text_.assign(member_number(command, "text_bytes"), 'x');
      return JsonPtr(cJSON_CreateNull());
    }
    if (op == "fake_fail") {
      read_failure(command, "draw", &draw_fails_, &draw_error_);
      read_failure(command, "present", &present_fails_, &present_error_);
      return JsonPtr(cJSON_CreateNull());
    }
    if (op == "fake_set") {
      const cJSON* animating = cJSON_GetObjectItemCaseSensitive(command, "animating");
      if (cJSON_IsBool(animating)) animating_ = cJSON_IsTrue(animating);
      const cJSON* pending = cJSON_GetObjectItemCaseSensitive(command, "input_pending");
      if (cJSON_IsBool(pending)) input_pending_ = cJSON_IsTrue(pending);
      const cJSON* descriptor = cJSON_GetObjectItemCaseSensitive(command, "wait_descriptor");
      if (cJSON_IsNumber(descriptor)) wait_source_.descriptor = descriptor->valueint;
      const cJSON* ready = cJSON_GetObjectItemCaseSensitive(command, "wait_ready");
      if (cJSON_IsBool(ready)) wait_source_.ready = cJSON_IsTrue(ready);
      return JsonPtr(cJSON_CreateNull());
    }
    if (op == "fake_fail_op") {
      error.set(member_string(command, "message"));
      return nullptr;
    }
    if (op == "fake_echo") {
      const cJSON* value = cJSON_GetObjectItemCaseSensitive(command, "value");
      return JsonPtr(value != nullptr ? cJSON_Duplicate(value, true) : cJSON_CreateNull());
    }
    if (op == "fake_drains") return JsonPtr(cJSON_CreateNumber(static_cast<double>(drains_)));
    if (op == "fake_wait_preparations") return JsonPtr(cJSON_CreateNumber(static_cast<double>(wait_preparations_)));
    if (op == "fake_log") {
      JsonPtr entries(cJSON_CreateArray());
      for (const std::string& entry : log_) cJSON_AddItemToArray(entries.get(), cJSON_CreateString(entry.c_str()));
      return entries;
    }
    return nullptr;
  }

  void reset_statistics() override {
    log("reset");
    draws_ = presents_ = commits_ = 0;
    ++resets_;
  }

  JsonPtr drain_events() override {
    ++drains_;
    for (std::size_t k = 0; k < flood_per_drain_; ++k) {
      cJSON* event = cJSON_CreateObject();
      cJSON_AddStringToObject(event, "kind", "text");
      cJSON_AddStringToObject(event, "text", flood_text_.c_str());
      cJSON_AddItemToArray(queue_.get(), event);
    }
    JsonPtr drained = std::move(queue_);
    queue_.reset(cJSON_CreateArray());
    return drained;
  }

  bool draw_retained_scene(ErrorText error) override {
    log("draw");
    if (draw_fails_) {
      error.set(draw_error_);
      return false;
    }
    ++draws_;
    return true;
  }

  bool present_frame(ErrorText error) override {
    log("present");
    if (present_fails_) {
      error.set(present_error_);
      return false;
    }
    ++presents_;
    return true;
  }

  SceneCounts last_scene_counts() const override { return {commands_touched_, 7}; }
  std::uint64_t last_segments_tested() const override { return 3; }
  bool is_animating() const override { return animating_; }
  bool input_pending() const override { return input_pending_; }
  WaitSource prepare_wait() override {
    ++wait_preparations_;
    return wait_source_;
  }

 private:
  static std::string member_string(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(item) ? std::string(item->valuestring) : std::string();
  }
  static std::size_t member_number(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsNumber(item) && item->valuedouble > 0 ? static_cast<std::size_t>(item->valuedouble) : 0;
  }
  static std::string number_text(double value) {
    if (value == std::floor(value)) return std::to_string(static_cast<long long>(value));
    return std::to_string(value);
  }
  static void read_failure(const cJSON* command, const char* name, bool* fails, std::string* message) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(command, name);
    if (item == nullptr) return;
    *fails = cJSON_IsString(item);
    *message = *fails ? item->valuestring : "";
  }
  void log(std::string entry) {
    if (log_.size() == kMaxLogEntries) log_.pop_front();
    log_.push_back(std::move(entry));
  }

  std::string kind_;
  JsonPtr queue_;
  std::deque<std::string> log_;
  std::uint64_t draws_ = 0, presents_ = 0, commits_ = 0, resets_ = 0, drains_ = 0;
  std::uint64_t commands_touched_ = 0;
  std::size_t flood_per_drain_ = 0;
  std::string flood_text_;
  bool draw_fails_ = false, present_fails_ = false;
  std::string draw_error_, present_error_;
  bool animating_ = false, input_pending_ = false;
  WaitSource wait_source_;
  std::uint64_t wait_preparations_ = 0;
};

}  // namespace

std::unique_ptr<Backend> open_fake_backend(const cJSON* command, ErrorText error) {
  const cJSON* open_error = cJSON_GetObjectItemCaseSensitive(command, "fake_open_error");
  if (cJSON_IsString(open_error)) {
    error.set(open_error->valuestring);
    return nullptr;
  }
  const cJSON* backend = cJSON_GetObjectItemCaseSensitive(command, "backend");
  bool terminal = cJSON_IsString(backend) && std::string(backend->valuestring) == "terminal";
  return std::make_unique<FakeBackend>(terminal ? "terminal" : "window");
}

}  // namespace lumora::host
