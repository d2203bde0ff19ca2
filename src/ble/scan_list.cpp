#include "ble/scan_list.h"

#include <algorithm>
#include <cctype>

#include "platform/tick.h"

namespace okt {

namespace {

bool sameLetters(unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); }

bool sameAddress(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameLetters);
}

bool contains(const std::string& text, const std::string& part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(), sameLetters) != text.end();
}

}  // namespace

int signalBars(int32_t rssi) {
  if (rssi >= -60) return 4;
  if (rssi >= -70) return 3;
  if (rssi >= -80) return 2;
  if (rssi >= -90) return 1;
  return 0;
}

ScanList::ScanList(Clock clock) : clock_(clock ? std::move(clock) : Clock(platform::tickCount)) {}

int ScanList::addScanResult(const std::string& address, const std::string& name, int32_t rssi, bool oktService) {
  uint32_t now = clock_();
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return sameAddress(r.address, address); });
  if (it == rows_.end()) {
    if (rows_.size() >= kMaxRows) return 1;
    rows_.emplace_back().address = address;
    it = rows_.end() - 1;
  }
  it->name = name;
  it->rssi = rssi;
  it->rssiText = std::to_string(rssi) + " dBm";
  it->oktService = it->oktService || oktService;
  it->heardAt = now;
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

std::vector<ScanList::Shown> ScanList::view(const Filter& filter) const {
  uint32_t now = clock_();
  std::vector<Shown> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Row& r : rows_) {
      if (filter.oktOnly && !r.oktService) continue;
      if (!contains(r.name, filter.text) && !contains(r.address, filter.text)) continue;
      out.push_back({r, now - r.heardAt >= kStaleAfterMs, signalBars(r.rssi)});
    }
  }
  // The address breaks ties, so rows of equal signal keep their places between refreshes.
  std::sort(out.begin(), out.end(), [](const Shown& a, const Shown& b) {
    if (a.stale != b.stale) return !a.stale;
    if (a.row.rssi != b.row.rssi) return a.row.rssi > b.row.rssi;
    return a.row.address < b.row.address;
  });
  return out;
}

}  // namespace okt
