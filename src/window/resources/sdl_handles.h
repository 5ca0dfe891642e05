// Owning handles for every SDL, SDL_ttf and SDL_image object the window
// backend keeps: each is a unique_ptr whose deleter is the library's own
// destroy call, so that no failure path can leak one or free one twice.
// Only the window backend's SDL-facing files include this header.
#pragma once

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <memory>

namespace lumora::window {

struct WindowDeleter {
  void operator()(SDL_Window* window) const noexcept { SDL_DestroyWindow(window); }
};
struct TextureDeleter {
  void operator()(SDL_Texture* texture) const noexcept { SDL_DestroyTexture(texture); }
};
struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const noexcept { SDL_FreeSurface(surface); }
};
struct FontDeleter {
  void operator()(TTF_Font* font) const noexcept { TTF_CloseFont(font); }
};
struct StreamDeleter {
  void operator()(SDL_RWops* stream) const noexcept { SDL_RWclose(stream); }
};
struct SdlTextDeleter {
  void operator()(char* text) const noexcept { SDL_free(text); }
};

using WindowPtr = std::unique_ptr<SDL_Window, WindowDeleter>;
using TexturePtr = std::unique_ptr<SDL_Texture, TextureDeleter>;
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;
using FontPtr = std::unique_ptr<TTF_Font, FontDeleter>;
using StreamPtr = std::unique_ptr<SDL_RWops, StreamDeleter>;
// Text that SDL allocated (base path, clipboard) and that SDL_free releases.
using SdlTextPtr = std::unique_ptr<char, SdlTextDeleter>;

}  // namespace lumora::window
