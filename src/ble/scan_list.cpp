#include "ble/scan_list.h"

#include <algorithm>
#include <cctype>

namespace okt {

namespace {

bool sameAddress(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

int ScanList::addScanResult(const std::string& address, const std::string& name, int32_t rssi) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return sameAddress(r.address, address); });
  if (it == rows_.end()) {
    if (rows_.size() >= kMaxRows) return 1;
    rows_.push_back({address});
    it = rows_.end() - 1;
  }
  it->name = name;
  it->rssi = rssi;
  it->rssiText = std::to_string(rssi) + " dBm";
  return 0;
}

void ScanList::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.clear();
}

std::vector<ScanList::Row> ScanList::rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_;
}

size_t ScanList::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_.size();
}

}  // namespace okt
