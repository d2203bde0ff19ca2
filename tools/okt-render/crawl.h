// okt-render --crawl: every display of a device reached by clicks from home,
// breadth first, as a contact sheet.
#pragma once

#include <cstddef>
#include <string>

#include "emulator/device_description.h"

namespace okt::render {

struct CrawlOptions {
  std::string outDir;
  size_t limit = 200;  // entries of the sheet: displays and dialogs
  int width = 0, height = 0;
};

// Presses everything on each display that reacts to a click (menu rows,
// buttons, gauges, value boxes, a lock's unlock button) and pages menus,
// each path replayed on a fresh connection to the device. Each display
// with pixels not seen before is written as a PNG; pop-ups, password
// prompts and editors are listed in the sheet, and each pop-up button and
// password outcome is followed. Writes OUTDIR/index.html.
// 0 when the sheet is written; 1 when the device drew nothing or a file
// could not be written.
int crawl(const emu::DeviceDescription& device, const CrawlOptions& options);

}  // namespace okt::render
