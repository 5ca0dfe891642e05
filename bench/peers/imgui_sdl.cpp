#include "peers/imgui_sdl.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include <utility>
#include <vector>

#include "peers/software_window.h"

namespace lumora::bench::peers {

namespace {

ImU32 im_colour(const Colour& colour) { return IM_COL32(colour.r, colour.g, colour.b, colour.a); }

}  // namespace

struct ImGuiSdl::State {
  SoftwareWindow window;  // first, so that it closes after the backend's texture
  SDL_Renderer* renderer = nullptr;
  ImGuiContext* context = nullptr;
  bool platform_started = false;
  bool backend_started = false;
  std::vector<std::pair<int, ImFont*>> fonts;  // by pixel size, owned by the atlas

  ~State() {
    if (context != nullptr) {
      ImGui::SetCurrentContext(context);
      if (backend_started) ImGui_ImplSDLRenderer_Shutdown();
      if (platform_started) ImGui_ImplSDL2_Shutdown();
      ImGui::DestroyContext(context);
    }
  }

  ImFont* font(int size) const {
    for (const auto& [font_size, font] : fonts) {
      if (font_size == size) return font;
    }
    return fonts.empty() ? nullptr : fonts.front().second;
  }
};

ImGuiSdl::ImGuiSdl(std::unique_ptr<State> state) : state_(std::move(state)) {}
ImGuiSdl::~ImGuiSdl() = default;

std::unique_ptr<ImGuiSdl> ImGuiSdl::open(const std::string& font_dir, const Dashboard& dashboard, std::string* error) {
  auto state = std::make_unique<State>();
  if (!state->window.open(error)) return nullptr;
  state->renderer = state->window.renderer();

  ImGuiContext* previous = ImGui::GetCurrentContext();
  state->context = ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.DisplaySize = ImVec2(static_cast<float>(kDashboardWidth), static_cast<float>(kDashboardHeight));
  const std::string path = font_dir + "/DejaVuSans.ttf";
  for (const Item& item : dashboard.items) {
    if (item.kind != ItemKind::text) continue;
    bool known = false;
    for (const auto& entry : state->fonts) known = known || entry.first == item.size;
    if (known) continue;
    ImFont* font = io.Fonts->AddFontFromFileTTF(path.c_str(), static_cast<float>(item.size));
    if (font == nullptr) {
      *error = "Cannot load " + path + " into the font atlas";
      ImGui::SetCurrentContext(previous);
      return nullptr;
    }
    state->fonts.emplace_back(item.size, font);
  }
  state->platform_started = ImGui_ImplSDL2_InitForSDLRenderer(state->window.window());
  state->backend_started = state->platform_started && ImGui_ImplSDLRenderer_Init(state->renderer);
  ImGui::SetCurrentContext(previous);
  if (!state->backend_started) {
    *error = "The ImGui SDL2 and SDL_Renderer backends did not start";
    return nullptr;
  }
  return std::unique_ptr<ImGuiSdl>(new ImGuiSdl(std::move(state)));
}

const char* ImGuiSdl::version() { return IMGUI_VERSION; }

bool ImGuiSdl::draw_and_present(const Dashboard& dashboard, std::string* error) {
  State& s = *state_;
  ImGuiContext* previous = ImGui::GetCurrentContext();
  ImGui::SetCurrentContext(s.context);
  ImGui_ImplSDLRenderer_NewFrame();
  ImGui_ImplSDL2_NewFrame();
  ImGui::NewFrame();
  ImDrawList* list = ImGui::GetBackgroundDrawList();
  for (const Item& item : dashboard.items) {
    if (!box_visible(item.box)) continue;
    const ImVec2 min(static_cast<float>(item.box.x), static_cast<float>(item.box.y));
    const ImVec2 max(static_cast<float>(item.box.x + item.box.w), static_cast<float>(item.box.y + item.box.h));
    switch (item.kind) {
      case ItemKind::panel:
        list->AddRectFilled(min, max, im_colour(item.fill), static_cast<float>(item.radius));
        if (item.border_width > 0) {
          list->AddRect(min, max, im_colour(item.border), static_cast<float>(item.radius), 0,
                        static_cast<float>(item.border_width));
        }
        break;
      case ItemKind::fill:
        list->AddRectFilled(min, max, im_colour(item.fill));
        break;
      case ItemKind::text:
        list->AddText(s.font(item.size), static_cast<float>(item.size), min, im_colour(item.fill), item.text.c_str(),
                      item.text.c_str() + item.text.size());
        break;
    }
  }
  ImGui::Render();
  const Colour& bg = dashboard.background;
  bool ok = SDL_SetRenderDrawColor(s.renderer, bg.r, bg.g, bg.b, bg.a) == 0 && SDL_RenderClear(s.renderer) == 0;
  if (ok) {
    ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
    SDL_RenderPresent(s.renderer);
  } else {
    *error = std::string("Clear: ") + SDL_GetError();
  }
  ImGui::SetCurrentContext(previous);
  return ok;
}

}  // namespace lumora::bench::peers
