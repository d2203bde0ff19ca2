#include "images/icons.h"

namespace okt {

namespace {

int iconIndex(uint32_t id) {
  for (int i = 0; kIconTable[i].id != 0; ++i)
    if (kIconTable[i].id == id) return i;
  return -1;
}

}  // namespace

const char* iconText(uint32_t id) {
  int i = iconIndex(id);
  return i < 0 ? nullptr : kIconTable[i].text;
}

const char* iconName(uint32_t id) {
  int i = iconIndex(id);
  return i < 0 ? nullptr : kIconNames[i];
}

}  // namespace okt
