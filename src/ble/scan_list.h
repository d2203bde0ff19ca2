#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace okt {

// The devices a scan has seen, as the "Select BT Device" list shows them:
// one row per address (letter case ignored), the latest name and signal.
class ScanList {
 public:
  static constexpr size_t kMaxRows = 1000;
  struct Row {
    std::string address;
    std::string name;
    int32_t rssi = 0;
    std::string rssiText;  // "%i dBm"
  };

  // 0 when the row was added or updated, 1 when the list is full.
  int addScanResult(const std::string& address, const std::string& name, int32_t rssi);
  void clear();
  std::vector<Row> rows() const;
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Row> rows_;
};

}  // namespace okt
