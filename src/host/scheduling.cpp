#include "host/scheduling.h"

#include <cmath>

#include "host/dispatch.h"
#include "host/frames.h"
#include "host/statistics.h"
#include "platform/clock.h"

namespace lumora::host {
namespace {

// A finite number, else 0, and never below 0.
double non_negative_number(const cJSON* item) {
  if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return 0;
  return item->valuedouble > 0 ? item->valuedouble : 0;
}

}  // namespace

void apply_scheduling_members(HostSession& session, const cJSON* command) {
  const cJSON* continuous = cJSON_GetObjectItemCaseSensitive(command, "continuous");
  if (cJSON_IsBool(continuous)) session.continuous = cJSON_IsTrue(continuous);
  const cJSON* interval = cJSON_GetObjectItemCaseSensitive(command, "redraw_interval");
  if (interval != nullptr) {
    // Any non-number, null included, switches continuous redraw off.
    session.continuous = cJSON_IsNumber(interval);
    session.redraw_interval = non_negative_number(interval);
  }
  const cJSON* fps_limit = cJSON_GetObjectItemCaseSensitive(command, "fps_limit");
  if (fps_limit != nullptr) session.fps_limit = non_negative_number(fps_limit);
}

double time_until_next_present(const HostSession& session, double now) {
  if (session.last_present_time == 0) return 0;
  double interval = session.continuous && !session.present_requested ? session.redraw_interval : 0;
  if (session.fps_limit > 0 && 1.0 / session.fps_limit > interval) interval = 1.0 / session.fps_limit;
  double remaining = session.last_present_time + interval - now;
  return remaining > 0 ? remaining : 0;
}

bool present_wanted(HostSession& session) {
  if (!session.backend || !session.scene_committed || session.closing || session.suspended) {
    return false;
  }
  return session.present_requested || session.continuous || session.backend->is_animating();
}

bool present(HostSession& session, scene::ErrorText error) {
  Backend* backend = session.backend.get();
  if (backend == nullptr) return false;
  HostStatistics& stats = session.stats;
  double draw_start = platform::now_seconds();
  bool drawn = backend->draw_retained_scene(error);
  record_timing(platform::now_seconds() - draw_start, &stats.last_draw, &stats.draw_total, &stats.max_draw);
  if (!drawn) return false;
  double present_start = platform::now_seconds();
  bool presented = backend->present_frame(error);
  record_timing(platform::now_seconds() - present_start, &stats.last_present, &stats.present_total,
                &stats.max_present);
  if (!presented) return false;
  ++stats.frames;
  session.present_requested = false;
  session.last_present_time = platform::now_seconds();
  if (session.update_pending) {
    record_timing(stats.last_draw + stats.last_present, &stats.last_render, &stats.render_total, &stats.max_render);
    stats.last_update_draw = stats.last_draw;
    stats.last_update_present = stats.last_present;
    SceneCounts counts = backend->last_scene_counts();
    stats.last_scene_commands_touched = counts.commands_touched;
    stats.last_scene_commands_replayed = counts.commands_replayed;
    stats.last_scene_segments_tested = backend->last_segments_tested();
    record_timing(platform::now_seconds() - session.update_start_time, &stats.last_update, &stats.update_total,
                  &stats.max_update);
    record_update_sample(stats, stats.last_update);
    session.update_pending = false;
  }
  return true;
}

void present_if_due(HostSession& session, scene::ErrorText error) {
  if (!present_wanted(session)) return;
  if (time_until_next_present(session, platform::now_seconds()) > 0) return;
  if (present(session, error) || session.closing) return;
  send_final_notice(session, "native_error", error.c_str());
}

double wait_timeout(HostSession& session, double now) {
  // Buffered commands are parsed only while not closing; a closing host
  // must not spin on them until its deadline.
  if (!session.closing && whole_frame_buffered(session)) return 0;
  if (!present_wanted(session)) return kMaxWaitSeconds;
  double until_present = time_until_next_present(session, now);
  return until_present < kMaxWaitSeconds ? until_present : kMaxWaitSeconds;
}

WaitOutcome wait_for_activity(HostSession& session) {
  // While closing nothing drains the backend, so its descriptor would stay
  // readable and keep the loop spinning: only the socket counts then.
  WaitSource source;
  if (!session.closing && session.backend) {
    // The backend stopped its drain at the per-call limit: drain again at once.
    if (session.backend->input_pending()) return WaitOutcome::not_waited;
    source = session.backend->prepare_wait();
    if (source.ready) return WaitOutcome::not_waited;
  }
  double timeout = wait_timeout(session, platform::now_seconds());
  platform::WaitStatus status = platform::wait_socket_and(session.socket, reading_allowed(session),
                                                          session.send_length > 0, source.descriptor, timeout, nullptr);
  if (status == platform::WaitStatus::failed) {
    session.stopped = true;
    return WaitOutcome::failed;
  }
  return status == platform::WaitStatus::ready ? WaitOutcome::woken : WaitOutcome::timed_out;
}

}  // namespace lumora::host
