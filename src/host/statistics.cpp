#include "host/statistics.h"

#include <string>

#include "json/json_writer.h"

namespace lumora::host {
namespace {

using json::add_member;
using json::add_number;

// The ring as one raw array, printed here once: 120 number items would cost
// an allocation and a free each on every "stats" of a live UI.
bool add_samples(cJSON* object, const HostStatistics& stats) {
  std::string text = "[";
  // Oldest first: once the ring is full the slot written next holds the oldest.
  std::uint32_t first = stats.sample_count < kUpdateSampleCapacity ? 0 : stats.next_sample;
  for (std::uint32_t k = 0; k < stats.sample_count; ++k) {
    if (k > 0) text += ',';
    json::append_json_number(text, stats.update_samples[(first + k) % kUpdateSampleCapacity] * 1000.0);
  }
  text += ']';
  return add_member(object, "scene_update_samples_ms", json::make_raw_json(text));
}

}  // namespace

JsonPtr build_statistics(HostSession& session, double now) {
  Backend* backend = session.backend.get();
  JsonPtr object = backend != nullptr ? backend->info() : JsonPtr(cJSON_CreateObject());
  if (!object || !cJSON_IsObject(object.get())) return nullptr;
  const HostStatistics& s = session.stats;
  double elapsed = now - session.start_time;
  double fps = elapsed > 0 ? static_cast<double>(s.frames) / elapsed : 0;
  cJSON* o = object.get();
  bool ok = add_number(o, "frames", static_cast<double>(s.frames)) && add_number(o, "elapsed_seconds", elapsed) &&
            add_number(o, "fps", fps) && add_number(o, "draw_seconds", s.draw_total) &&
            add_number(o, "present_seconds", s.present_total) && add_number(o, "last_draw_seconds", s.last_draw) &&
            add_number(o, "max_draw_seconds", s.max_draw) && add_number(o, "last_present_seconds", s.last_present) &&
            add_number(o, "max_present_seconds", s.max_present) &&
            add_number(o, "scene_update_seconds", s.update_total) &&
            add_number(o, "last_scene_update_seconds", s.last_update) &&
            add_number(o, "max_scene_update_seconds", s.max_update) && add_number(o, "update_seconds", s.update_total) &&
            add_number(o, "last_update_seconds", s.last_update) && add_number(o, "max_update_seconds", s.max_update) &&
            add_number(o, "scene_commit_seconds", s.commit_total) &&
            add_number(o, "last_scene_commit_seconds", s.last_commit) &&
            add_number(o, "max_scene_commit_seconds", s.max_commit) &&
            add_number(o, "last_commit_seconds", s.last_commit) &&
            add_number(o, "scene_render_seconds", s.render_total) &&
            add_number(o, "last_scene_render_seconds", s.last_render) &&
            add_number(o, "max_scene_render_seconds", s.max_render) &&
            add_number(o, "last_update_draw_seconds", s.last_update_draw) &&
            add_number(o, "last_update_present_seconds", s.last_update_present) &&
            add_number(o, "last_scene_commands_touched", static_cast<double>(s.last_scene_commands_touched)) &&
            add_number(o, "last_scene_commands_replayed", static_cast<double>(s.last_scene_commands_replayed)) &&
            add_number(o, "last_scene_segments_tested", static_cast<double>(s.last_scene_segments_tested)) &&
            add_samples(o, s) && add_number(o, "requests", static_cast<double>(s.requests)) &&
            add_number(o, "input_events", static_cast<double>(s.input_events)) &&
            add_number(o, "scene_updates", static_cast<double>(s.scene_updates)) &&
            add_member(o, "continuous", cJSON_CreateBool(session.continuous)) &&
            add_number(o, "fps_limit", session.fps_limit);
  if (!ok) return nullptr;
  return object;
}

void reset_host_statistics(HostSession& session, double now) {
  session.stats = HostStatistics{};
  session.start_time = now;
}

void record_timing(double elapsed, double* last, double* total, double* max) {
  *last = elapsed;
  *total += elapsed;
  if (elapsed > *max) *max = elapsed;
}

void record_update_sample(HostStatistics& stats, double seconds) {
  stats.update_samples[stats.next_sample] = seconds;
  stats.next_sample = (stats.next_sample + 1) % kUpdateSampleCapacity;
  if (stats.sample_count < kUpdateSampleCapacity) ++stats.sample_count;
}

}  // namespace lumora::host
