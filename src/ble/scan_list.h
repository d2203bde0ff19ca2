#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace okt {

// The devices a scan has seen, as the "Select BT Device" list shows them:
// one row per address (letter case ignored), the latest name and signal,
// and when the device was last heard.
class ScanList {
 public:
  static constexpr size_t kMaxRows = 1000;
  // A device not heard for this long is shown as gone, but kept.
  static constexpr uint32_t kStaleAfterMs = 10000;
  // Milliseconds from any start, wrapping as a 32-bit tick does.
  using Clock = std::function<uint32_t()>;

  struct Row {
    std::string address;
    std::string name;
    int32_t rssi = 0;
    std::string rssiText;     // "%i dBm"
    bool oktService = false;  // has advertised the OKT service
    uint32_t heardAt = 0;
  };
  // What the dialog shows of a row.
  struct Shown {
    Row row;
    bool stale = false;
    int bars = 0;  // 0 to 4
  };
  struct Filter {
    std::string text;  // part of the name or the address, any letter case
    bool oktOnly = false;
  };

  // The clock defaults to the platform's tick.
  explicit ScanList(Clock clock = {});

  // 0 when the row was added or updated, 1 when the list is full.
  // A device that once advertised the OKT service stays marked: not every
  // advertisement carries the service list.
  int addScanResult(const std::string& address, const std::string& name, int32_t rssi, bool oktService = false);
  void clear();
  // In the order first seen.
  std::vector<Row> rows() const;
  size_t size() const;
  // The rows the filter lets through: devices heard lately first, each part
  // by signal strength, the strongest first.
  std::vector<Shown> view(const Filter& filter) const;

 private:
  Clock clock_;
  mutable std::mutex mutex_;
  std::vector<Row> rows_;
};

// Signal bars for a strength in dBm: 4 at -60 and above, none below -90.
int signalBars(int32_t rssi);

}  // namespace okt
