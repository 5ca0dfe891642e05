#include "window_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <string_view>
#include <utility>

#include "png_encode.h"

namespace lumora::demo {
namespace {

// ---- Generated pictures, made once and sent inside the scene ----

// 96 x 64: wider than high, so that "contain" and "cover" differ visibly.
std::string make_picture() {
  RgbaImage image(96, 64);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double u = x / 95.0, v = y / 63.0;
      const double wave = 0.5 + 0.5 * std::sin(u * 9.0 + std::cos(v * 5.0) * 2.0);
      const auto r = static_cast<std::uint8_t>(40 + 200 * u);
      const auto g = static_cast<std::uint8_t>(60 + 150 * wave);
      const auto b = static_cast<std::uint8_t>(220 - 150 * v);
      image.set(x, y, r, g, b, 255);
    }
  }
  // A sun in the upper right corner and a horizon, so that cropping shows.
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double dx = x - 74, dy = y - 16;
      if (dx * dx + dy * dy <= 100) image.set(x, y, 255, 214, 102, 255);
      if (y >= 48) image.set(x, y, 28, 38 + (x % 8 < 4 ? 10 : 0), 52, 255);
    }
  }
  return png_data_uri(encode_png(image));
}

// 24 x 24 frame with 8-pixel corners: a rounded border, a light edge and a
// translucent centre, drawn stretched as a nine-slice.
std::string make_frame() {
  RgbaImage image(24, 24);
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 24; ++x) {
      // Distance outside the 8-pixel rounded corner, in pixels.
      const double cx = x < 8 ? 8 - (x + 0.5) : (x > 15 ? (x + 0.5) - 16 : 0);
      const double cy = y < 8 ? 8 - (y + 0.5) : (y > 15 ? (y + 0.5) - 16 : 0);
      const double d = std::sqrt(cx * cx + cy * cy);
      if (d > 8) continue;
      const double edge = 8 - d;  // pixels inside the outline
      if (edge < 1.5) {
        image.set(x, y, 255, 212, 121, 255);
      } else if (edge < 3) {
        image.set(x, y, 120, 90, 40, 255);
      } else {
        image.set(x, y, 40, 48, 70, 200);
      }
    }
  }
  return png_data_uri(encode_png(image));
}

// Frames of the sprite sheet: eight of 64 x 64 pixels, drawn at one image
// pixel per logical unit.
constexpr int kSpriteFrame = 64;
constexpr int kSpriteFrames = 8;
constexpr int kSpriteColumns = 4;

// 256 x 128 sheet of eight frames, four per row: a ball bouncing on a little
// floor, its colour running through the hues, its edge anti-aliased.
std::string make_sprite_sheet() {
  constexpr double kRadius = 11;
  constexpr int kFloor = 56;  // first row of the floor
  RgbaImage image(kSpriteFrame * kSpriteColumns, kSpriteFrame * (kSpriteFrames / kSpriteColumns));
  for (int frame = 0; frame < kSpriteFrames; ++frame) {
    const int ox = (frame % kSpriteColumns) * kSpriteFrame, oy = (frame / kSpriteColumns) * kSpriteFrame;
    const double phase = static_cast<double>(frame) / kSpriteFrames;
    const double turn = phase * 2 * std::numbers::pi;
    const double bx = 32 + 14 * std::sin(turn);
    const double by = kFloor - kRadius - 30 * std::fabs(std::sin(turn));
    const double hue[3] = {127 + 127 * std::sin(turn), 127 + 127 * std::sin(turn + 2.1), 127 + 127 * std::sin(turn + 4.2)};
    for (int x = 4; x < kSpriteFrame - 4; ++x) {
      for (int y = kFloor; y < kFloor + 4; ++y) image.set(ox + x, oy + y, 90, 100, 130, 255);
    }
    // The shadow on the floor shrinks as the ball rises.
    const double shadow = 4 + (by - 14) / 3;
    for (int x = static_cast<int>(bx - shadow); x <= static_cast<int>(bx + shadow); ++x) {
      image.set(ox + x, oy + kFloor, 30, 34, 48, 255);
    }
    for (int y = 0; y < kFloor; ++y) {
      for (int x = 0; x < kSpriteFrame; ++x) {
        const double dx = x + 0.5 - bx, dy = y + 0.5 - by;
        const double coverage = std::clamp(kRadius + 0.5 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        if (coverage <= 0) continue;
        // Lit from the upper left.
        const double lx = dx + 4, ly = dy + 4;
        const double k = std::clamp(1.15 - std::sqrt(lx * lx + ly * ly) / (2.2 * kRadius), 0.35, 1.0);
        image.set(ox + x, oy + y, static_cast<std::uint8_t>(hue[0] * k), static_cast<std::uint8_t>(hue[1] * k),
                  static_cast<std::uint8_t>(hue[2] * k), static_cast<std::uint8_t>(std::lround(255 * coverage)));
      }
    }
  }
  return png_data_uri(encode_png(image));
}

const std::string& picture_uri() {
  static const std::string uri = make_picture();
  return uri;
}
const std::string& frame_uri() {
  static const std::string uri = make_frame();
  return uri;
}
const std::string& sprite_sheet_uri() {
  static const std::string uri = make_sprite_sheet();
  return uri;
}

// ---- Building commands ----

cJSON* number(double value) { return cJSON_CreateNumber(value); }
cJSON* string(std::string_view value) { return cJSON_CreateString(std::string(value).c_str()); }
cJSON* boolean(bool value) { return cJSON_CreateBool(value); }

template <typename... Items>
cJSON* command(const char* kind, Items*... items) {
  cJSON* array = cJSON_CreateArray();
  cJSON_AddItemToArray(array, string(kind));
  (cJSON_AddItemToArray(array, items), ...);
  return array;
}

cJSON* rect(double x, double y, double w, double h) {
  const double values[] = {x, y, w, h};
  return cJSON_CreateDoubleArray(values, 4);
}

cJSON* insets(double each) {
  const double values[] = {each, each, each, each};
  return cJSON_CreateDoubleArray(values, 4);
}

cJSON* text(std::string_view value, double x, double y, const char* colour, double size, bool mono = false) {
  return command("text", string(value), number(x), number(y), string(colour), number(size), boolean(mono));
}

// A style object from name/value pairs: strings for colours and keywords,
// numbers for the rest.
struct StyleMember {
  const char* name;
  const char* text = nullptr;
  double value = 0;
  StyleMember(const char* n, const char* t) : name(n), text(t) {}
  StyleMember(const char* n, double v) : name(n), value(v) {}
};

cJSON* style(std::initializer_list<StyleMember> members) {
  cJSON* object = cJSON_CreateObject();
  for (const StyleMember& m : members) {
    if (m.text != nullptr) {
      cJSON_AddStringToObject(object, m.name, m.text);
    } else {
      cJSON_AddNumberToObject(object, m.name, m.value);
    }
  }
  return object;
}

cJSON* styled(double x, double y, double w, double h, cJSON* style_object) {
  return command("styled_rect", rect(x, y, w, h), style_object);
}

// A panel: a raised card with a soft shadow, its title and a rule under it.
cJSON* panel(double x, double y, double w, double h, const char* title) {
  cJSON* list = cJSON_CreateArray();
  cJSON_AddItemToArray(list, styled(x, y, w, h,
                                    style({{"fill", "#151a25"}, {"border", "#2a3447"},
                                           {"border_width", 1}, {"radius", 12}, {"shadow", "#00000090"},
                                           {"shadow_blur", 16}, {"shadow_y", 5}, {"highlight", "#ffffff12"}})));
  cJSON_AddItemToArray(list, text(title, x + 16, y + 9, "#ffd479", 15));
  cJSON_AddItemToArray(list, command("line", number(x + 16), number(y + 34), number(x + w - 16), number(y + 34),
                                     string("#ffffff18"), number(1)));
  return list;
}

void add(cJSON* list, cJSON* item) { cJSON_AddItemToArray(list, item); }

// A segment entry: id, bounds and the commands in `list` (taken over).
cJSON* segment(const char* id, double x, double y, double w, double h, cJSON* list) {
  cJSON* entry = cJSON_CreateObject();
  cJSON_AddStringToObject(entry, "id", id);
  cJSON_AddItemToObject(entry, "bounds", rect(x, y, w, h));
  cJSON_AddItemToObject(entry, "commands", list);
  return entry;
}

// ---- Layout ----

constexpr double kRow1 = 80, kRow1Height = 300;
constexpr double kRow2 = 396, kRow2Height = 228;
constexpr double kColumnA = 16, kColumnB = 332, kColumnC = 648;
constexpr double kPanelWidth = 300, kLastPanelWidth = 296;

constexpr double kButtonX = 352, kButtonY = 244, kButtonW = 150, kButtonH = 40;
constexpr double kMarkerX = 352, kMarkerSize = 18, kMarkerLabelWidth = 170;
constexpr double kMarkerRows[] = {122, 150, 180, 208};
constexpr double kFieldX = 352, kFieldY = 300, kFieldW = 260, kFieldH = 34;

bool inside(double x, double y, double rx, double ry, double rw, double rh) {
  return x >= rx && y >= ry && x < rx + rw && y < ry + rh;
}

// ---- Segments ----

cJSON* header_segment() {
  cJSON* list = cJSON_CreateArray();
  add(list, command("gradient_rect", rect(0, 0, kWindowWidth, 64), string("#1d3160"), string("#5b2a6e"),
                    string("horizontal"), number(0), number(0)));
  add(list, command("line", number(0), number(63.5), number(kWindowWidth), number(63.5), string("#ffffff30"),
                    number(1)));
  add(list, text("Lumora", 24, 14, "#ffffff", 26));
  add(list, text("window backend \u00b7 retained segments \u00b7 SDL2 renderer", 140, 25, "#d8def0", 14));
  add(list, styled(840, 18, 96, 28,
                   style({{"fill", "#0d1117c0"}, {"border", "#7ee787"}, {"border_width", 1}, {"radius", 14},
                          {"glow", "#7ee78790"}, {"glow_width", 6}})));
  add(list, text("LIVE", 871, 23, "#7ee787", 13));
  return segment("header", 0, 0, kWindowWidth, 64, list);
}

cJSON* styles_segment() {
  cJSON* list = panel(kColumnA, kRow1, kPanelWidth, kRow1Height, "Styles");
  struct Card {
    const char* label;
    const char* label_colour;
    cJSON* style;
  };
  Card cards[] = {
      {"soft shadow", "#1b2233",
       style({{"fill", "#eef1f8"}, {"radius", 10}, {"shadow", "#000000b0"}, {"shadow_blur", 14}, {"shadow_y", 6}})},
      {"glow", "#cfe9ff",
       style({{"fill", "#14203a"}, {"border", "#5cc8ff"}, {"border_width", 1.5}, {"radius", 10}, {"glow", "#3fb6ff"},
              {"glow_width", 10}})},
      {"gradient, raised", "#ffffff",
       style({{"fill", "#5b8cff"}, {"fill_end", "#2443a8"}, {"bevel", "raised"}, {"bevel_width", 2},
              {"bevel_light", "#ffffff90"}, {"bevel_dark", "#00000080"}})},
      {"sunken bevel", "#c8cfe0",
       style({{"fill", "#1a1f2b"}, {"bevel", "sunken"}, {"bevel_width", 2}, {"bevel_light", "#4a5468"},
              {"bevel_dark", "#07090d"}})},
      {"scanlines", "#9ff0c0",
       style({{"fill", "#0e2a1d"}, {"fill_end", "#0a1f15"}, {"pattern", "scanlines"}, {"pattern_color", "#2ecc7150"},
              {"pattern_spacing", 4}, {"border", "#2ecc71"}, {"border_width", 1}, {"radius", 6},
              {"highlight", "#ffffff30"}})},
      {"grid pattern", "#e8dcff",
       style({{"fill", "#221833"}, {"pattern", "grid"}, {"pattern_color", "#b48cff38"}, {"pattern_spacing", 10},
              {"border", "#b48cff"}, {"border_end", "#ff7ab6"}, {"border_width", 2}, {"radius", 10},
              {"inner_border", "#ffffff20"}, {"gradient_axis", "horizontal"}})},
  };
  for (int i = 0; i < 6; ++i) {
    const double x = i % 2 == 0 ? 36 : 176;
    const double y = 124 + (i / 2) * 80;
    add(list, styled(x, y, 124, 64, cards[i].style));
    add(list, text(cards[i].label, x + 10, y + 42, cards[i].label_colour, 12));
  }
  return segment("styles", kColumnA, kRow1, kPanelWidth, kRow1Height, list);
}

cJSON* controls_segment(const WindowDemoState& state) {
  cJSON* list = panel(kColumnB, kRow1, kPanelWidth, kRow1Height, "Controls");
  const struct {
    const char* shape;
    bool checked;
    const char* label;
  } markers[] = {
      {"square", state.checks[0], state.checks[0] ? "Check box, checked" : "Check box, clear"},
      {"square", state.checks[1], state.checks[1] ? "Check box, checked" : "Check box, clear"},
      {"circle", state.radio == 0, state.radio == 0 ? "Radio, selected" : "Radio, not selected"},
      {"circle", state.radio == 1, state.radio == 1 ? "Radio, selected" : "Radio, not selected"},
  };
  for (int i = 0; i < 4; ++i) {
    const bool on = markers[i].checked;
    cJSON* marker_style =
        style({{"fill", on ? "#1f3b73" : "#0d1117"}, {"border", on ? "#58a6ff" : "#8fa2d8"}, {"border_width", 1.5},
               {"radius", 4}, {"foreground", i < 2 ? "#7ee787" : "#58a6ff"}});
    add(list, command("marker", rect(kMarkerX, kMarkerRows[i], kMarkerSize, kMarkerSize), marker_style,
                      string(markers[i].shape), boolean(on)));
    add(list, text(markers[i].label, kMarkerX + 28, kMarkerRows[i] + 1, "#e6e9f2", 14));
  }
  if (state.interactive) add(list, text("click to toggle", 520, 91, "#8b93a7", 12));
  add(list, text("cross-fades", 516, 249, "#8b93a7", 12));
  add(list, text("on hover", 516, 265, "#8b93a7", 12));
  return segment("controls", kColumnB, kRow1, kPanelWidth, kRow1Height, list);
}

cJSON* button_segment(const WindowDemoState& state) {
  cJSON* list = cJSON_CreateArray();
  cJSON* button_style =
      state.button_hovered
          ? style({{"fill", "#f59e42"}, {"fill_end", "#e0662f"}, {"radius", 8}, {"border", "#ffd1a1"},
                   {"border_width", 1}, {"shadow", "#00000090"}, {"shadow_blur", 10}, {"shadow_y", 4},
                   {"glow", "#ffb266a0"}, {"glow_width", 8}, {"highlight", "#ffffff60"}})
          : style({{"fill", "#2f6fed"}, {"fill_end", "#2557c7"}, {"radius", 8}, {"border", "#5b8cff"},
                   {"border_width", 1}, {"shadow", "#00000090"}, {"shadow_blur", 8}, {"shadow_y", 3},
                   {"highlight", "#ffffff40"}});
  add(list, styled(kButtonX, kButtonY, kButtonW, kButtonH, button_style));
  add(list, text(kButtonLabel, kButtonX + (kButtonW - state.button_label_width) / 2, kButtonY + 10, "#ffffff",
                 kButtonLabelPoints));
  // Glow and shadow reach beyond the rectangle.
  return segment("button", kButtonX - 12, kButtonY - 12, kButtonW + 24, kButtonH + 30, list);
}

cJSON* field_segment(const WindowDemoState& state) {
  cJSON* list = cJSON_CreateArray();
  add(list, styled(kFieldX, kFieldY, kFieldW, kFieldH,
                   style({{"fill", "#0d1117"}, {"border", "#30363d"}, {"border_width", 1}, {"radius", 6}})));
  add(list, command("clip", rect(kFieldX + 4, kFieldY + 2, kFieldW - 8, kFieldH - 4)));
  const double text_x = kFieldX + 10;
  if (state.typed.empty()) {
    add(list, text(state.interactive ? "Type here\u2026" : "A text field", text_x, kFieldY + 8, "#6e7681",
                   kFieldTextPoints));
  } else {
    add(list, text(state.typed, text_x, kFieldY + 8, "#e6e9f2", kFieldTextPoints));
  }
  add(list, command("caret", number(text_x + state.typed_width + 1), number(kFieldY + 7), number(20),
                    string("#ffd479")));
  add(list, command("clip", cJSON_CreateNull()));
  add(list, command("focus_ring", rect(kFieldX - 4, kFieldY - 4, kFieldW + 8, kFieldH + 8), string("#58a6ff"),
                    number(9)));
  return segment("field", kFieldX - 4, kFieldY - 4, kFieldW + 8, kFieldH + 8, list);
}

cJSON* scripts_segment() {
  cJSON* list = panel(kColumnC, kRow1, kLastPanelWidth, kRow1Height, "Scripts");
  const struct {
    const char* label;
    const char* sample;
    bool mono;
  } lines[] = {
      {"Latin", "Hello, w\u00f6rld \u2014 \u00c7a va?", false},
      {"Greek", "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5", false},
      {"Cyrillic", "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440", false},
      {"Armenian", "\u0532\u0561\u0580\u0565\u0582 \u0561\u0577\u056d\u0561\u0580\u0570", false},
      {"Georgian", "\u10d2\u10d0\u10db\u10d0\u10e0\u10ef\u10dd\u10d1\u10d0", false},
      {"Symbols", "\u2190 \u2191 \u2192 \u2193 \u2713 \u2665 \u263c \u263e \u221e \u2211", false},
      {"Math", "\u2200x \u2208 \u211d: x\u00b2 \u2265 0", false},
      {"Mono", "0O 1lI {} => != <>", true},
  };
  double y = 122;
  for (const auto& line : lines) {
    add(list, text(line.label, kColumnC + 16, y + 2, "#8b93a7", 12));
    add(list, text(line.sample, kColumnC + 96, y, "#e6e9f2", 14, line.mono));
    y += 25;
  }
  const double sizes[] = {10, 14, 20, 26};
  double x = kColumnC + 16;
  for (double size : sizes) {
    add(list, text("Aa", x, 340 + (26 - size), "#a5d6ff", size));
    x += size * 1.6 + 12;
  }
  return segment("scripts", kColumnC, kRow1, kLastPanelWidth, kRow1Height, list);
}

cJSON* images_segment() {
  cJSON* list = panel(kColumnA, kRow2, kPanelWidth, kRow2Height, "Images");
  const char* fits[] = {"stretch", "contain", "cover"};
  for (int i = 0; i < 3; ++i) {
    const double x = 36 + i * 92;
    add(list, command("rect", rect(x, 436, 80, 80), string("#0d1117"), number(4), string("#30363d"), number(1)));
    add(list, command("image", string(picture_uri()), rect(x + 1, 437, 78, 78), string("#ffffff"), string(fits[i])));
    add(list, text(fits[i], x, 521, "#8b93a7", 12));
  }
  add(list, command("image_nine", string(frame_uri()), rect(36, 544, 264, 64), insets(8),
                    string("#ffffff")));
  add(list, text("nine-slice frame, 24 px source", 54, 567, "#ffe7b0", 13));
  return segment("images", kColumnA, kRow2, kPanelWidth, kRow2Height, list);
}

cJSON* motion_segment() {
  cJSON* list = panel(kColumnB, kRow2, kPanelWidth, kRow2Height, "Motion");
  add(list, text("sprite sheet, 8 frames", 428, 442, "#e6e9f2", 13));
  add(list, text("8 fps, looping", 428, 462, "#8b93a7", 12));
  return segment("motion", kColumnB, kRow2, kPanelWidth, kRow2Height, list);
}

cJSON* sprite_segment() {
  cJSON* list = cJSON_CreateArray();
  add(list, command("sprite", string(sprite_sheet_uri()), rect(352, 432, kSpriteFrame, kSpriteFrame),
                    number(kSpriteFrame), number(kSpriteFrame), number(kSpriteFrames), number(8), boolean(true),
                    string("#ffffff")));
  return segment("sprite", 352, 432, 64, 64, list);
}

cJSON* animation(const char* property, double from, double to, double duration) {
  cJSON* object = cJSON_CreateObject();
  cJSON_AddStringToObject(object, "property", property);
  cJSON_AddNumberToObject(object, "from", from);
  cJSON_AddNumberToObject(object, "to", to);
  cJSON_AddNumberToObject(object, "duration", duration);
  cJSON_AddBoolToObject(object, "loop", true);
  cJSON_AddBoolToObject(object, "yoyo", true);
  return object;
}

cJSON* slider_segment() {
  cJSON* list = cJSON_CreateArray();
  add(list, command("rect", rect(352, 506, 260, 24), string("#0d1117"), number(12), string("#30363d"), number(1)));
  add(list, command("animated_rect", rect(354, 508, 48, 20), string("#7ee787"), number(10), string(""), number(0),
                    animation("x", 354, 562, 1.5)));
  add(list, command("animated_rect", rect(352, 538, 260, 4), string("#58a6ff"), number(2), string(""), number(0),
                    animation("opacity", 0.15, 1, 1)));
  return segment("slider", 352, 506, 260, 36, list);
}

cJSON* progress_segment(const WindowDemoState& state) {
  cJSON* list = cJSON_CreateArray();
  constexpr double kBarX = 352, kBarY = 570, kBarW = 200, kBarH = 10;
  add(list, text("progress", kBarX, 550, "#8b93a7", 12));
  add(list, command("rect", rect(kBarX, kBarY, kBarW, kBarH), string("#21262d"), number(5), string(""), number(0)));
  const double filled = std::round(state.progress * kBarW);
  if (filled > 0) {
    add(list, command("gradient_rect", rect(kBarX, kBarY, filled, kBarH), string("#2ea043"), string("#a5d6ff"),
                      string("horizontal"), number(5), number(0)));
  }
  char percent[16];
  std::snprintf(percent, sizeof percent, "%d %%", static_cast<int>(state.progress * 100));
  add(list, text(percent, kBarX + kBarW + 12, kBarY - 4, "#ffffff", 13));
  return segment("progress", kBarX, 550, 280, 34, list);
}

cJSON* clock_segment(const WindowDemoState& state) {
  cJSON* list = cJSON_CreateArray();
  add(list, text("clock", 352, 596, "#8b93a7", 12));
  add(list, text(state.clock, 400, 593, "#ffd479", 16, true));
  return segment("clock", 352, 590, 200, 26, list);
}

cJSON* events_segment(const WindowDemoState& state) {
  cJSON* list = panel(kColumnC, kRow2, kLastPanelWidth, kRow2Height, "Events");
  add(list, command("clip", rect(kColumnC + 8, kRow2 + 36, kLastPanelWidth - 16, kRow2Height - 44)));
  double y = kRow2 + 42;
  if (state.event_log.empty()) {
    add(list, text(state.interactive ? "Type, click, scroll or resize\u2026" : "Headless: no input", kColumnC + 16, y,
                   "#8b93a7", 12));
  }
  for (const std::string& line : state.event_log) {
    add(list, text(line, kColumnC + 16, y, "#e6e9f2", 12, true));
    y += 19;
  }
  add(list, command("clip", cJSON_CreateNull()));
  return segment("events", kColumnC, kRow2, kLastPanelWidth, kRow2Height, list);
}

cJSON* footer_segment(const WindowDemoState& state) {
  cJSON* list = cJSON_CreateArray();
  add(list, command("line", number(16), number(640.5), number(kWindowWidth - 16), number(640.5), string("#ffffff18"),
                    number(1)));
  add(list, text(state.interactive ? "Esc or closing the window quits" : "Rendered offscreen by lumora-host", 24, 652,
                 "#8b93a7", 13));
  add(list, text(state.footer_note, 560, 652, "#8b93a7", 13));
  return segment("footer", 0, 640, kWindowWidth, 40, list);
}

cJSON* part_segment(const WindowDemoState& state, WindowPart part) {
  switch (part) {
    case WindowPart::kHeader: return header_segment();
    case WindowPart::kStyles: return styles_segment();
    case WindowPart::kControls: return controls_segment(state);
    case WindowPart::kButton: return button_segment(state);
    case WindowPart::kField: return field_segment(state);
    case WindowPart::kScripts: return scripts_segment();
    case WindowPart::kImages: return images_segment();
    case WindowPart::kMotion: return motion_segment();
    case WindowPart::kSprite: return sprite_segment();
    case WindowPart::kSlider: return slider_segment();
    case WindowPart::kProgress: return progress_segment(state);
    case WindowPart::kClock: return clock_segment(state);
    case WindowPart::kEvents: return events_segment(state);
    case WindowPart::kFooter: return footer_segment(state);
  }
  return nullptr;
}

constexpr WindowPart kAllParts[] = {
    WindowPart::kHeader, WindowPart::kStyles,   WindowPart::kControls, WindowPart::kButton, WindowPart::kField,
    WindowPart::kScripts, WindowPart::kImages,  WindowPart::kMotion,   WindowPart::kSprite, WindowPart::kSlider,
    WindowPart::kProgress, WindowPart::kClock,  WindowPart::kEvents,   WindowPart::kFooter,
};

}  // namespace

json::JsonPtr window_initial_patch(const WindowDemoState& state) {
  json::JsonPtr patch(cJSON_CreateObject());
  cJSON_AddStringToObject(patch.get(), "op", "patch");
  cJSON_AddStringToObject(patch.get(), "background", "#0d1117");
  cJSON* upsert = cJSON_AddArrayToObject(patch.get(), "upsert");
  // Drawing order follows "upsert" for new segments.
  for (WindowPart part : kAllParts) cJSON_AddItemToArray(upsert, part_segment(state, part));
  return patch;
}

json::JsonPtr window_patch(const WindowDemoState& state, std::initializer_list<WindowPart> parts,
                            double transition_seconds) {
  json::JsonPtr patch(cJSON_CreateObject());
  cJSON_AddStringToObject(patch.get(), "op", "patch");
  cJSON* upsert = cJSON_AddArrayToObject(patch.get(), "upsert");
  for (WindowPart part : parts) cJSON_AddItemToArray(upsert, part_segment(state, part));
  if (transition_seconds > 0) cJSON_AddNumberToObject(patch.get(), "transition_seconds", transition_seconds);
  return patch;
}

WindowTarget window_target_at(double x, double y) {
  if (inside(x, y, kButtonX, kButtonY, kButtonW, kButtonH)) return WindowTarget::kButton;
  if (inside(x, y, kFieldX, kFieldY, kFieldW, kFieldH)) return WindowTarget::kField;
  const WindowTarget markers[] = {WindowTarget::kCheck0, WindowTarget::kCheck1, WindowTarget::kRadio0,
                                  WindowTarget::kRadio1};
  for (int i = 0; i < 4; ++i) {
    if (inside(x, y, kMarkerX - 2, kMarkerRows[i] - 2, kMarkerLabelWidth, kMarkerSize + 4)) return markers[i];
  }
  return WindowTarget::kNothing;
}

std::array<double, 4> window_field_rect() { return {kFieldX, kFieldY, kFieldW, kFieldH}; }

}  // namespace lumora::demo
