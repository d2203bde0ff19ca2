#include <cstring>
#include <string>

#include "emulator/device_description.h"

namespace okt::emu {

struct EmbeddedFile {
  const char* path;
  const unsigned char* data;
  std::size_t size;
};
extern const EmbeddedFile kDemoFiles[];

namespace {

const EmbeddedFile* findDemoFile(const std::string& path) {
  for (const EmbeddedFile* f = kDemoFiles; f->path; ++f)
    if (path == f->path) return f;
  return nullptr;
}

}  // namespace

bool loadDemoDevice(DeviceDescription& out, std::string& error) {
  const EmbeddedFile* json = findDemoFile("demo.json");
  if (!json) {
    error = "demo.json: not built into this program";
    return false;
  }
  FileSource files = [](const std::string& relative, std::vector<uint8_t>& bytes) {
    const EmbeddedFile* f = findDemoFile(relative);
    if (!f) return false;
    bytes.assign(f->data, f->data + f->size);
    return true;
  };
  std::string text(reinterpret_cast<const char*>(json->data), json->size);
  return parseDeviceDescription(text, "demo.json", files, out, error);
}

}  // namespace okt::emu
