#pragma once

#include <cstdint>

namespace okt {

// One built-in icon: its number and its SVG text. The table is sorted by id
// and ended by an entry whose id is 0.
struct IconEntry {
  uint32_t id;
  const char* text;
};

// A run of consecutive icon ids, all of one theme.
struct IconRun {
  uint32_t first;
  uint32_t count;
  const char* theme;
};

extern const IconEntry kIconTable[];
// The drawing each icon shows, in table order (for the catalogue).
extern const char* const kIconNames[];
// The runs in table order, ended by one whose count is 0.
extern const IconRun kIconRuns[];

constexpr uint32_t kFirstIconId = 0xFF1000;
inline bool isIconId(uint32_t id) { return id >= kFirstIconId && id <= 0xFFFFFE; }

// The SVG text of an icon, or null for a number that is not an icon.
const char* iconText(uint32_t id);
const char* iconName(uint32_t id);

}  // namespace okt
