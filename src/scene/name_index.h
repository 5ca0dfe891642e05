// The entries of a constant table found by name. Names are grouped by
// length, so a lookup compares the first letter of a handful of names and
// spells out one; a name longer than the longest entry (a 16 MiB string, for
// instance) is refused without being read in full.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

namespace lumora::scene {

// `Table` is an array of entries with a std::string_view `name`, at most
// kMaxNameBytes long, at most kMaxPerLength of one length.
template <std::size_t kMaxNameBytes, std::size_t kMaxPerLength>
class NameIndex {
 public:
  template <typename Table>
  constexpr explicit NameIndex(const Table& table) {
    for (std::size_t i = 0; i < std::size(table); ++i) {
      Slot& slot = slots_[table[i].name.size()];
      slot.entries[slot.count++] = static_cast<std::uint8_t>(i);
    }
  }

  // The entry of `table` (the one indexed) named `name`, or nullptr.
  template <typename Table>
  constexpr auto find(const Table& table, std::string_view name) const -> decltype(&table[0]) {
    if (name.empty() || name.size() > kMaxNameBytes) return nullptr;
    const Slot& slot = slots_[name.size()];
    for (std::size_t i = 0; i < slot.count; ++i) {
      const auto& entry = table[slot.entries[i]];
      if (entry.name[0] == name[0] && entry.name == name) return &entry;
    }
    return nullptr;
  }

  // A NUL-terminated name, read no further than one byte past the longest.
  template <typename Table>
  auto find(const Table& table, const char* name) const -> decltype(&table[0]) {
    if (name == nullptr) return nullptr;
    const std::size_t length = strnlen(name, kMaxNameBytes + 1);
    return find(table, std::string_view(name, length));
  }

 private:
  struct Slot {
    std::size_t count = 0;
    std::uint8_t entries[kMaxPerLength] = {};
  };
  std::array<Slot, kMaxNameBytes + 1> slots_{};
};

}  // namespace lumora::scene
