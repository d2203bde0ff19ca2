#include "emulator/device_description.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string_view>

#include "capture/btsnoop.h"
#include "emulator/replay.h"
#include "protocol/client_state.h"
#include "protocol/wire.h"

namespace okt::emu {
namespace {

using Json = nlohmann::ordered_json;

// Abandons the element being loaded; its fault is already recorded.
struct DescriptionError {};
// Abandons the whole load: enough faults are listed.
struct TooManyFaults {};

enum class Kind { Text, Variable, Object, Event };

// Digits in the base and nothing else: no sign, no spaces, no prefix.
bool digits(std::string_view s, int base, uint64_t& v) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  return !s.empty() && ec == std::errc{} && end == s.data() + s.size() && s[0] != '-';
}

const char* kindName(Kind k) {
  switch (k) {
    case Kind::Text: return "text";
    case Kind::Variable: return "variable";
    case Kind::Object: return "object";
    case Kind::Event: return "event";
  }
  return "";
}

class Loader {
 public:
  Loader(const FileSource& files, DeviceDescription& d) : files_(files), d_(d) {}

  // Loads everything it can, recording each fault; the description is
  // good when faults() is empty.
  void load(const Json& root) {
    where_ = "the description";
    if (!root.is_object()) {
      record("", "the file must hold one JSON object");
      return;
    }
    checkFields(root, {"$schema", "name", "address", "rssi", "infoBytes", "homeScreen", "objectCount", "textCount",
                       "variableCount", "deviceInformation", "texts", "variables", "objects", "reactions", "timers"});
    guard([&] {
      if (root.contains("name")) d_.name = string(root["name"], "name");
    });
    guard([&] {
      if (root.contains("address")) d_.address = string(root["address"], "address");
    });
    guard([&] {
      if (root.contains("rssi")) d_.rssi = static_cast<int32_t>(signedNumber(root["rssi"], "rssi", -127, 20));
    });
    guard([&] {
      if (!root.contains("infoBytes")) return;
      const Json& b = root["infoBytes"];
      if (!b.is_array() || b.size() != 3) fail("infoBytes", "expected an array of three numbers");
      for (int i = 0; i < 3; ++i) d_.infoBytes[i] = static_cast<uint8_t>(number(b[i], "infoBytes", 0, 255));
    });
    if (root.contains("deviceInformation")) guard([&] { loadDeviceInformation(root["deviceInformation"]); });

    // First the ids and names of every element, so references can go forwards.
    collect(root, "texts", Kind::Text);
    collect(root, "variables", Kind::Variable);
    collect(root, "objects", Kind::Object);
    where_ = "the description";
    const bool haveObjects = !d_.objects.empty();
    if (!haveObjects && (!root.contains("objects") || root["objects"].is_array()))
      record("objects", "a device needs at least one object");

    d_.objectCount = maxId(Kind::Object);
    d_.textCount = maxId(Kind::Text);
    d_.variableCount = maxId(Kind::Variable);
    guard([&] { d_.objectCount = count(root, "objectCount", d_.objectCount); });
    guard([&] { d_.textCount = count(root, "textCount", d_.textCount); });
    guard([&] { d_.variableCount = count(root, "variableCount", d_.variableCount); });

    forEach(root, "texts", [&](const Json& j, size_t i) { loadText(j, i); });
    forEach(root, "variables", [&](const Json& j, size_t i) { loadVariable(j, i); });
    forEach(root, "objects", [&](const Json& j, size_t i) { loadObject(j, d_.objects[i]); });

    where_ = "the description";
    if (haveObjects)
      guard([&] {
        d_.homeScreen =
            root.contains("homeScreen") ? ref(root["homeScreen"], "homeScreen", Kind::Object) : d_.objects[0].id;
        if (d_.homeScreen >= d_.objectCount) fail("homeScreen", "names no object of the device");
      });

    forEach(root, "reactions", [&](const Json& j, size_t) { loadReaction(j); });
    forEach(root, "timers", [&](const Json& j, size_t) { loadTimer(j); });
  }

 public:
  const std::vector<std::string>& faults() const { return faults_; }

 private:
  // Notes a fault of the element being loaded and goes on with it. Once
  // kMaxFaults are listed, the load ends.
  void record(const std::string& field, const std::string& what) const {
    std::string msg = where_;
    if (!field.empty()) msg += ": field \"" + shortened(field) + "\"";
    msg += ": " + what;
    if (msg.size() > kMaxFaultBytes) msg = msg.substr(0, kMaxFaultBytes) + "...";
    for (const std::string& f : faults_)
      if (f == msg) return;  // an element refused twice over, for one reason
    if (faults_.size() == kMaxFaults) {
      faults_.push_back("more faults are not listed");
      throw TooManyFaults{};
    }
    faults_.push_back(std::move(msg));
  }
  // Names and values quoted in a fault, cut to a readable length.
  static std::string shortened(const std::string& s) {
    return s.size() <= kMaxQuotedBytes ? s : s.substr(0, kMaxQuotedBytes) + "...";
  }
  // Notes the fault and gives up the rest of the element (see guard).
  [[noreturn]] void fail(const std::string& field, const std::string& what) const {
    record(field, what);
    throw DescriptionError{};
  }
  // Runs one part of the loading; a fault in it ends that part only.
  template <typename F>
  void guard(F&& f) {
    try {
      f();
    } catch (const DescriptionError&) {
    } catch (const Json::exception& e) {
      record("", e.what());
    }
  }

  void checkFields(const Json& j, std::initializer_list<const char*> allowed) const {
    for (auto it = j.begin(); it != j.end(); ++it) {
      bool known = false;
      for (const char* a : allowed) known = known || it.key() == a;
      if (!known) record(it.key(), "unknown field");
    }
  }

  template <typename F>
  void forEach(const Json& root, const char* list, F&& f) {
    if (!root.contains(list)) return;
    const Json& arr = root[list];
    if (!arr.is_array()) {
      where_ = "the description";
      record(list, "expected an array");
      return;
    }
    for (size_t i = 0; i < arr.size(); ++i) {
      where_ = std::string(list) + "[" + std::to_string(i) + "]";
      guard([&] { f(arr[i], i); });
    }
  }

  // Numbers may be written in decimal or as "0x..." strings.
  int64_t signedNumber(const Json& j, const std::string& field, int64_t min, int64_t max) const {
    int64_t v = 0;
    if (j.is_number_integer()) {
      v = j.get<int64_t>();
    } else if (j.is_boolean()) {
      v = j.get<bool>() ? 1 : 0;
    } else if (j.is_string()) {
      // Decimal, with a minus sign where it is negative, or "0x" and hex digits.
      const std::string& s = j.get_ref<const std::string&>();
      std::string_view d = s;
      bool negative = d.size() > 1 && d[0] == '-', hex = d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X');
      uint64_t u = 0;
      if (!digits(d.substr(negative ? 1 : hex ? 2 : 0), hex ? 16 : 10, u) || u > uint64_t{INT64_MAX})
        fail(field, "expected a number, got \"" + shortened(s) + "\"");
      v = negative ? -static_cast<int64_t>(u) : static_cast<int64_t>(u);
    } else {
      fail(field, "expected a number");
    }
    if (v < min || v > max)
      fail(field, "value " + std::to_string(v) + " is outside " + std::to_string(min) + ".." + std::to_string(max));
    return v;
  }
  uint32_t number(const Json& j, const std::string& field, int64_t min, int64_t max) const {
    return static_cast<uint32_t>(signedNumber(j, field, min, max));
  }
  uint32_t field(const Json& obj, const char* name, uint32_t def, int64_t max) const {
    return obj.contains(name) ? number(obj[name], name, 0, max) : def;
  }
  std::string string(const Json& j, const std::string& field) const {
    if (!j.is_string()) fail(field, "expected a string");
    return j.get<std::string>();
  }
  uint32_t colour(const Json& obj, const char* name, uint32_t def = 0) const {
    if (!obj.contains(name)) return def;
    const Json& j = obj[name];
    if (j.is_string() && !j.get_ref<const std::string&>().empty() && j.get_ref<const std::string&>()[0] == '#') {
      const std::string& s = j.get_ref<const std::string&>();
      uint64_t v = 0;
      if (s.size() != 7 || !digits(std::string_view(s).substr(1), 16, v))
        fail(name, "expected a colour \"#RRGGBB\", got \"" + shortened(s) + "\"");
      return static_cast<uint32_t>(v);
    }
    return number(j, name, 0, 0xFFFFFF);
  }

  // Ids: a number, "none", or the name of an element of the right kind.
  // Events may be named freely; each name gets a number of its own.
  uint32_t ref(const Json& j, const std::string& field, Kind kind) {
    if (j.is_string()) {
      const std::string& s = j.get_ref<const std::string&>();
      if (s == "none") return kNoId;
      if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) return number(j, field, 0, kNoId);
      auto& names = namesOf(kind);
      auto it = names.find(s);
      if (it != names.end()) return it->second;
      if (kind == Kind::Event) return nameEvent(s);
      fail(field, std::string("no ") + kindName(kind) + " is named \"" + shortened(s) + "\"");
    }
    uint32_t id = number(j, field, 0, kNoId);
    if (kind != Kind::Event && id != kNoId && !idExists(kind, id))
      fail(field, std::string("no ") + kindName(kind) + " has id " + std::to_string(id));
    return id;
  }
  uint32_t refField(const Json& obj, const char* name, Kind kind) {
    return obj.contains(name) ? ref(obj[name], name, kind) : kNoId;
  }

  uint32_t nameEvent(const std::string& name) {
    auto it = d_.eventNames.find(name);
    if (it != d_.eventNames.end()) return it->second;
    uint32_t id = nextEvent_++;
    d_.eventNames[name] = id;
    return id;
  }

  std::map<std::string, uint32_t>& namesOf(Kind k) {
    switch (k) {
      case Kind::Text: return textNames_;
      case Kind::Variable: return variableNames_;
      case Kind::Object: return objectNames_;
      default: return d_.eventNames;
    }
  }
  std::set<uint32_t>& idsOf(Kind k) {
    switch (k) {
      case Kind::Text: return textIds_;
      case Kind::Variable: return variableIds_;
      default: return objectIds_;
    }
  }
  bool idExists(Kind k, uint32_t id) { return idsOf(k).count(id) != 0 || id < declaredCount(k); }
  uint32_t declaredCount(Kind k) const {
    switch (k) {
      case Kind::Text: return d_.textCount;
      case Kind::Variable: return d_.variableCount;
      default: return d_.objectCount;
    }
  }
  uint32_t maxId(Kind k) {
    auto& ids = idsOf(k);
    return ids.empty() ? 0 : *ids.rbegin() + 1;
  }
  uint32_t count(const Json& root, const char* name, uint32_t needed) const {
    if (!root.contains(name)) return needed;
    uint32_t n = number(root[name], name, 0, 0xFFFFFF);
    if (n < needed) fail(name, "must be at least " + std::to_string(needed) + " (one more than the highest id)");
    return n;
  }

  void collect(const Json& root, const char* list, Kind kind) {
    uint32_t next = 0;
    forEach(root, list, [&](const Json& j, size_t) {
      uint32_t id = next;
      std::string name;
      // Every entry takes its place, so that the lists stay in step with the
      // file; a bad id does not hide the name, nor a bad name the id.
      if (!j.is_object() && (kind != Kind::Text || !j.is_string())) record("", "expected an object");
      if (j.is_object())
        guard([&] {
          if (j.contains("name")) name = string(j["name"], "name");
        });
      named(name);
      guard([&] {
        if (j.is_object() && j.contains("id")) id = number(j["id"], "id", 0, kMaxValidId);
        if (id > kMaxValidId) fail("id", "the id after the previous element's is past 0xFFFFFE");
        if (!idsOf(kind).insert(id).second) fail("id", "id " + std::to_string(id) + " is used twice");
      });
      guard([&] {
        if (!name.empty() && !namesOf(kind).emplace(name, id).second) fail("name", "the name is used twice");
      });
      next = id + 1;
      switch (kind) {
        case Kind::Text: d_.texts.push_back({id, name, {}}); break;
        case Kind::Variable: d_.variables.push_back({id, name, {}}); break;
        default: d_.objects.push_back({id, name, 0, {}}); break;
      }
    });
  }

  void named(const std::string& name) {
    if (!name.empty()) where_ += " \"" + shortened(name) + "\"";
  }

  void loadDeviceInformation(const Json& j) {
    where_ = "deviceInformation";
    if (!j.is_object()) fail("", "expected an object");
    checkFields(j, {"firmwareRevision", "modelNumber", "hardwareRevision", "manufacturer", "serialNumber"});
    auto set = [&](const char* key, std::string& out) {
      if (j.contains(key)) out = string(j[key], key);
    };
    set("firmwareRevision", d_.firmwareRevision);
    set("modelNumber", d_.modelNumber);
    set("hardwareRevision", d_.hardwareRevision);
    set("manufacturer", d_.manufacturer);
    set("serialNumber", d_.serialNumber);
  }

  void loadText(const Json& j, size_t i) {
    TextDef& t = d_.texts[i];
    named(t.name);
    if (j.is_string()) {
      t.text = j.get<std::string>();
    } else {
      if (!j.is_object()) fail("", "expected an object");
      checkFields(j, {"id", "name", "text"});
      if (!j.contains("text")) fail("text", "missing");
      t.text = string(j["text"], "text");
    }
    if (t.text.size() > 65535) fail("text", "longer than 65535 bytes");
  }

  static uint16_t variableType(const std::string& s) {
    static const char* names[] = {"NONE", "BOOL",   "U8",   "S8",   "U16",         "S16",  "U32",
                                  "S32",  "STRING", "DATE", "TIME", "HOUR_MINUTE", "LIST", "WEEKDAYS"};
    for (uint16_t t = 0; t < 14; ++t)
      if (s == names[t]) return t;
    return 0xFFFF;
  }

  // Limits of signed types are written as signed numbers and sent as their bits.
  uint32_t limit(const Json& j, const char* name, uint16_t type) const {
    bool isSigned = type == VariableType::S8 || type == VariableType::S16 || type == VariableType::S32;
    return static_cast<uint32_t>(isSigned ? signedNumber(j, name, INT32_MIN, INT32_MAX)
                                          : signedNumber(j, name, 0, UINT32_MAX));
  }

  void loadVariable(const Json& j, size_t i) {
    VariableDef& v = d_.variables[i];
    named(v.name);
    if (!j.is_object()) fail("", "expected an object");
    checkFields(j, {"id", "name", "type", "access", "unit", "minimum", "maximum", "extra", "value"});
    if (!j.contains("type")) fail("type", "missing");
    uint16_t type = variableType(string(j["type"], "type"));
    if (type == 0xFFFF) fail("type", "unknown variable type \"" + j["type"].get<std::string>() + "\"");
    VariableDescription& d = v.desc;
    d.type = type;
    d.access = 2;
    if (j.contains("access")) {
      const Json& a = j["access"];
      if (a.is_string() && a == "rw")
        d.access = 2;
      else if (a.is_string() && a == "ro")
        d.access = 0;
      else
        d.access = static_cast<uint8_t>(number(a, "access", 0, 255));
    }
    d.unitText = refField(j, "unit", Kind::Text);
    if (j.contains("minimum")) d.minimum = limit(j["minimum"], "minimum", type);
    if (j.contains("maximum")) d.maximum = limit(j["maximum"], "maximum", type);
    if (j.contains("extra")) d.extra = number(j["extra"], "extra", 0, UINT32_MAX);
    if (type == VariableType::NONE) return;
    if (!j.contains("value")) fail("value", "missing");
    d.value = value(j["value"], type, "value");
    if (type == VariableType::LIST && !j.contains("maximum"))
      d.maximum = static_cast<uint32_t>((d.value.size() - 2) / 3);
    if (type == VariableType::STRING && !j.contains("maximum")) d.maximum = 255;
    if (d.value.size() > 65535 - 20) fail("value", "too long");
  }

 public:
  // The value bytes of a variable of `type`, as the device stores them.
  std::vector<uint8_t> value(const Json& j, uint16_t type, const char* name) {
    std::vector<uint8_t> out;
    auto bigEndian = [&](uint32_t n, int bytes) {
      for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(n >> (8 * k)));
    };
    auto parts = [&](const char* sep, int count, const char* form) {
      std::vector<uint32_t> values;
      if (!j.is_string()) fail(name, std::string("expected \"") + form + "\"");
      std::stringstream ss(j.get<std::string>());
      std::string piece;
      while (std::getline(ss, piece, sep[0])) {
        uint64_t v = 0;
        if (!digits(piece, 10, v) || v > UINT32_MAX) fail(name, std::string("expected \"") + form + "\"");
        values.push_back(static_cast<uint32_t>(v));
      }
      if (static_cast<int>(values.size()) != count) fail(name, std::string("expected \"") + form + "\"");
      return values;
    };
    switch (type) {
      case VariableType::BOOL: bigEndian(number(j, name, 0, 1), 1); break;
      case VariableType::U8: bigEndian(number(j, name, 0, 255), 1); break;
      case VariableType::S8: bigEndian(static_cast<uint32_t>(signedNumber(j, name, -128, 127)), 1); break;
      case VariableType::U16: bigEndian(number(j, name, 0, 65535), 2); break;
      case VariableType::S16: bigEndian(static_cast<uint32_t>(signedNumber(j, name, -32768, 32767)), 2); break;
      case VariableType::U32: bigEndian(number(j, name, 0, UINT32_MAX), 4); break;
      case VariableType::S32: bigEndian(static_cast<uint32_t>(signedNumber(j, name, INT32_MIN, INT32_MAX)), 4); break;
      case VariableType::STRING: {
        std::string s = string(j, name);
        out.assign(s.begin(), s.end());
        out.push_back(0);
        break;
      }
      case VariableType::DATE: {
        auto p = parts("/", 3, "DD/MM/YYYY");
        if (p[0] < 1 || p[0] > 31 || p[1] < 1 || p[1] > 12 || p[2] < 2000 || p[2] > 2255)
          fail(name, "not a date between 2000 and 2255");
        bigEndian(p[0], 1), bigEndian(p[1], 1), bigEndian(p[2] - 2000, 1);
        break;
      }
      case VariableType::TIME: {
        auto p = parts(":", 3, "HH:MM:SS");
        if (p[0] > 23 || p[1] > 59 || p[2] > 59) fail(name, "not a time of day");
        bigEndian(p[0], 1), bigEndian(p[1], 1), bigEndian(p[2], 1);
        break;
      }
      case VariableType::HOUR_MINUTE: {
        auto p = parts(":", 2, "HH:MM");
        if (p[0] > 255 || p[1] > 59) fail(name, "not hours and minutes");
        bigEndian(p[0], 1), bigEndian(p[1], 1);
        break;
      }
      case VariableType::LIST: {
        if (!j.is_object() || !j.contains("choices") || !j["choices"].is_array())
          fail(name, "expected {\"selected\": N, \"choices\": [texts]}");
        const Json& choices = j["choices"];
        uint32_t selected = j.contains("selected") ? number(j["selected"], "selected", 0, 65535) : 0;
        if (!choices.empty() && selected >= choices.size()) fail("selected", "there is no such choice");
        bigEndian(selected, 2);
        for (const Json& c : choices) bigEndian(ref(c, "choices", Kind::Text), 3);
        break;
      }
      case VariableType::WEEKDAYS: {
        if (j.is_array()) {
          static const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
          uint32_t bits = 0;
          for (const Json& d : j) {
            bool found = false;
            for (int k = 0; k < 7; ++k)
              if (d.is_string() && d == days[k]) bits |= 1u << k, found = true;
            if (!found) fail(name, "days are written Mon, Tue, Wed, Thu, Fri, Sat, Sun");
          }
          bigEndian(bits, 1);
        } else {
          bigEndian(number(j, name, 0, 127), 1);
        }
        break;
      }
      default: fail(name, "this variable type has no value");
    }
    return out;
  }

 private:
  static uint32_t objectType(const std::string& s) {
    static const std::pair<const char*, uint32_t> types[] = {{"Screen", ObjectType::Screen},
                                                             {"Button", ObjectType::Button},
                                                             {"Menu", ObjectType::Menu},
                                                             {"Polyline", ObjectType::Polyline},
                                                             {"TextBox", ObjectType::TextBox},
                                                             {"SvgPicture", ObjectType::SvgPicture},
                                                             {"GifPicture", ObjectType::GifPicture},
                                                             {"DataBlock", ObjectType::DataBlock},
                                                             {"Gauge", ObjectType::Gauge},
                                                             {"PasswordPrompt", ObjectType::PasswordPrompt},
                                                             {"Popup", ObjectType::Popup},
                                                             {"LockObject", ObjectType::LockObject},
                                                             {"JpegPicture", ObjectType::JpegPicture},
                                                             {"Canvas", ObjectType::Canvas}};
    for (const auto& [name, code] : types)
      if (s == name) return code;
    return 0;
  }

 public:
  void loadObjectFields(const Json& j, ObjectDef& o, bool withId) {
    if (!j.is_object()) fail("", "expected an object");
    if (!j.contains("type")) fail("type", "missing");
    o.type = objectType(string(j["type"], "type"));
    if (o.type == 0) fail("type", "unknown object type \"" + j["type"].get<std::string>() + "\"");
    makeBody(o.type, o.body);
    auto allowed = [&](std::initializer_list<const char*> fields) {
      std::vector<const char*> all(fields);
      all.push_back("type");
      if (withId) all.push_back("id"), all.push_back("name");
      for (auto it = j.begin(); it != j.end(); ++it) {
        bool known = false;
        for (const char* a : all) known = known || it.key() == a;
        if (!known) record(it.key(), "not a field of a " + j["type"].get<std::string>());
      }
    };
    std::visit([&](auto& b) { loadBody(j, b, allowed); }, o.body);
  }

 private:
  void loadObject(const Json& j, ObjectDef& o) {
    named(o.name);
    loadObjectFields(j, o, true);
  }

  template <typename Allowed>
  void loadBody(const Json& j, ScreenBody& b, Allowed allowed) {
    allowed({"background", "children"});
    b.background = colour(j, "background");
    if (j.contains("children")) {
      const Json& c = j["children"];
      if (!c.is_array()) fail("children", "expected an array");
      if (c.size() > 65535) fail("children", "more than 65535 placements");
      for (const Json& p : c) guard([&] { b.children.push_back(placement(p, "children")); });
    }
    b.childCount = static_cast<uint32_t>(b.children.size());
  }
  Placement placement(const Json& p, const char* field) {
    if (!p.is_object() || !p.contains("object"))
      fail(field, "each placement needs \"object\", \"x\", \"y\", \"width\", \"height\"");
    for (auto it = p.begin(); it != p.end(); ++it)
      if (it.key() != "object" && it.key() != "x" && it.key() != "y" && it.key() != "width" && it.key() != "height")
        fail(std::string(field) + "." + it.key(), "unknown field of a placement");
    Placement out;
    out.objectId = ref(p["object"], std::string(field) + ".object", Kind::Object);
    out.x = static_cast<uint16_t>(field16(p, "x"));
    out.y = static_cast<uint16_t>(field16(p, "y"));
    out.width = static_cast<uint16_t>(field16(p, "width"));
    out.height = static_cast<uint16_t>(field16(p, "height"));
    return out;
  }
  uint32_t field16(const Json& j, const char* name) const { return field(j, name, 0, 65535); }
  uint32_t field8(const Json& j, const char* name) const { return field(j, name, 0, 255); }

  template <typename Allowed>
  void loadBody(const Json& j, ButtonBody& b, Allowed allowed) {
    allowed({"style", "fontHeight", "fillColour", "textColour", "frameColour", "pressedFillColour", "pressedTextColour",
             "pressedFrameColour", "textId", "iconId", "pressEvent", "targetScreen"});
    b.style = static_cast<uint16_t>(field16(j, "style"));
    b.fontHeight = static_cast<uint16_t>(field(j, "fontHeight", 18, 65535));
    b.fillColour = colour(j, "fillColour");
    b.textColour = colour(j, "textColour");
    b.frameColour = colour(j, "frameColour");
    b.pressedFillColour = colour(j, "pressedFillColour");
    b.pressedTextColour = colour(j, "pressedTextColour");
    b.pressedFrameColour = colour(j, "pressedFrameColour");
    b.textId = refField(j, "textId", Kind::Text);
    b.iconId = field(j, "iconId", kNoId, kNoId);
    b.pressEvent = refField(j, "pressEvent", Kind::Event);
    b.targetScreen = refField(j, "targetScreen", Kind::Object);
  }

  template <typename Allowed>
  void loadBody(const Json& j, MenuBody& b, Allowed allowed) {
    allowed({"iconId", "titleText", "enterEvent", "leaveEvent", "items"});
    b.iconId = field(j, "iconId", kNoId, kNoId);
    b.titleText = refField(j, "titleText", Kind::Text);
    b.enterEvent = refField(j, "enterEvent", Kind::Event);
    b.leaveEvent = refField(j, "leaveEvent", Kind::Event);
    if (!j.contains("items")) return;
    const Json& items = j["items"];
    if (!items.is_array()) fail("items", "expected an array");
    if (items.size() > 65535) fail("items", "more than 65535 items");
    for (size_t k = 0; k < items.size(); ++k) guard([&] { loadItem(items[k], k, b); });
    b.itemCount = static_cast<uint16_t>(b.items.size());
  }
  void loadItem(const Json& it, size_t k, MenuBody& b) {
    {
      std::string f = "items[" + std::to_string(k) + "]";
      MenuItem item;
      if (it.is_string() && it == "empty") {
        item.kind = 1;
        b.items.push_back(item);
        return;
      }
      if (!it.is_object()) fail(f, "expected an item object or \"empty\"");
      for (auto e = it.begin(); e != it.end(); ++e) {
        static const char* known[] = {"textId", "iconId", "event", "targetScreen", "variableId", "label"};
        bool ok = false;
        for (const char* kname : known) ok = ok || e.key() == kname;
        if (!ok) fail(f + "." + e.key(), "unknown field of a menu item");
      }
      if (it.contains("textId"))
        item.flags |= MenuItemFlag::Text, item.textId = ref(it["textId"], f + ".textId", Kind::Text);
      if (it.contains("iconId"))
        item.flags |= MenuItemFlag::Icon, item.iconId = number(it["iconId"], f + ".iconId", 0, kNoId);
      if (it.contains("event"))
        item.flags |= MenuItemFlag::Event, item.event = ref(it["event"], f + ".event", Kind::Event);
      if (it.contains("targetScreen"))
        item.flags |= MenuItemFlag::Target,
            item.targetScreen = ref(it["targetScreen"], f + ".targetScreen", Kind::Object);
      if (it.contains("variableId"))
        item.flags |= MenuItemFlag::Variable,
            item.variableId = ref(it["variableId"], f + ".variableId", Kind::Variable);
      if (it.contains("label")) {
        item.flags |= MenuItemFlag::Label;
        item.label = string(it["label"], f + ".label");
        if (item.label.size() > kMenuLabelMaxChars) fail(f + ".label", "longer than 253 bytes");
      }
      b.items.push_back(item);
    }
  }

  template <typename Allowed>
  void loadBody(const Json& j, PolylineBody& b, Allowed allowed) {
    allowed({"colour", "lineStyle", "lineWidth", "groups"});
    b.colour = colour(j, "colour");
    b.lineStyle = static_cast<uint8_t>(field8(j, "lineStyle"));
    b.lineWidth = static_cast<uint8_t>(field(j, "lineWidth", 1, 255));
    if (j.contains("groups")) {
      const Json& groups = j["groups"];
      if (!groups.is_array()) fail("groups", "expected an array of point lists");
      for (const Json& g : groups) {
        if (!g.is_array() || g.empty() || g.size() > 255)
          fail("groups", "each group is a list of 1 to 255 [x, y] points");
        b.points.push_back(static_cast<uint16_t>(g.size()));
        for (const Json& pt : g) {
          if (!pt.is_array() || pt.size() != 2) fail("groups", "each point is [x, y]");
          b.points.push_back(static_cast<uint16_t>(number(pt[0], "groups", 0, 65535)));
          b.points.push_back(static_cast<uint16_t>(number(pt[1], "groups", 0, 65535)));
        }
      }
    }
    b.points.push_back(0);
  }

  template <typename Allowed>
  void loadBody(const Json& j, TextBoxBody& b, Allowed allowed) {
    allowed({"frameless", "fontHeight", "fillColour", "textColour", "frameColour", "textId", "variableId"});
    b.frameless = static_cast<uint16_t>(field16(j, "frameless"));
    b.fontHeight = static_cast<uint16_t>(field(j, "fontHeight", 18, 65535));
    b.fillColour = colour(j, "fillColour", 0xFFFFFF);
    b.textColour = colour(j, "textColour");
    b.frameColour = colour(j, "frameColour");
    b.textId = refField(j, "textId", Kind::Text);
    b.variableId = refField(j, "variableId", Kind::Variable);
  }

  template <typename Allowed>
  void loadBody(const Json& j, BlobBody& b, Allowed allowed) {
    // SVG text for SVG pictures, hex bytes for data blocks, a file for all.
    const std::string type = j["type"].get<std::string>();
    if (type == "SvgPicture")
      allowed({"file", "svg"});
    else if (type == "DataBlock")
      allowed({"file", "data"});
    else
      allowed({"file"});
    std::vector<uint8_t> bytes;
    int sources = j.contains("file") + j.contains("svg") + j.contains("data");
    if (sources != 1)
      fail("file", std::string("give ") + (type == "SvgPicture"  ? "\"file\" or \"svg\""
                                           : type == "DataBlock" ? "\"file\" or \"data\""
                                                                 : "\"file\""));
    if (j.contains("file")) {
      std::string path = string(j["file"], "file");
      if (!files_ || !files_(path, bytes)) fail("file", "cannot read \"" + path + "\"");
    } else if (j.contains("svg")) {
      std::string s = string(j["svg"], "svg");
      bytes.assign(s.begin(), s.end());
    } else {
      std::string hex = string(j["data"], "data");
      if (hex.size() % 2) fail("data", "expected pairs of hex digits");
      for (size_t k = 0; k < hex.size(); k += 2) {
        uint64_t v = 0;
        if (!digits(std::string_view(hex).substr(k, 2), 16, v)) fail("data", "expected pairs of hex digits");
        bytes.push_back(static_cast<uint8_t>(v));
      }
    }
    if (bytes.size() > 65535) fail(j.contains("file") ? "file" : "data", "larger than 65535 bytes");
    b.size = static_cast<uint32_t>(bytes.size());
    b.data = std::move(bytes);
    b.data.push_back(0);
    b.data.push_back(0);
  }

  template <typename Allowed>
  void loadBody(const Json& j, GaugeBody& b, Allowed allowed) {
    allowed({"flags",           "needleStyle",  "bandStart",       "bandEnd",         "bandOuterRadius",
             "bandInnerRadius", "needleLength", "needleHalfWidth", "tickOuterRadius", "tickInnerRadius",
             "faceColour",      "bandColour",   "valueColour",     "needleColour",    "tickColour",
             "tickStart",       "tickEnd",      "tickCount",       "tickWidth",       "variableId",
             "pressEvent"});
    b.flags = static_cast<uint8_t>(field8(j, "flags"));
    b.needleStyle = static_cast<uint8_t>(field8(j, "needleStyle"));
    b.bandStart = static_cast<uint16_t>(field16(j, "bandStart"));
    b.bandEnd = static_cast<uint16_t>(field16(j, "bandEnd"));
    b.bandOuterRadius = static_cast<uint16_t>(field16(j, "bandOuterRadius"));
    b.bandInnerRadius = static_cast<uint16_t>(field16(j, "bandInnerRadius"));
    b.needleLength = static_cast<uint16_t>(field16(j, "needleLength"));
    b.needleHalfWidth = static_cast<uint16_t>(field16(j, "needleHalfWidth"));
    b.tickOuterRadius = static_cast<uint16_t>(field16(j, "tickOuterRadius"));
    b.tickInnerRadius = static_cast<uint16_t>(field16(j, "tickInnerRadius"));
    b.faceColour = colour(j, "faceColour");
    b.bandColour = colour(j, "bandColour");
    b.valueColour = colour(j, "valueColour");
    b.needleColour = colour(j, "needleColour");
    b.tickColour = colour(j, "tickColour");
    b.tickStart = static_cast<uint16_t>(field16(j, "tickStart"));
    b.tickEnd = static_cast<uint16_t>(field16(j, "tickEnd"));
    b.tickCount = static_cast<uint16_t>(field16(j, "tickCount"));
    b.tickWidth = static_cast<uint16_t>(field16(j, "tickWidth"));
    b.variableId = refField(j, "variableId", Kind::Variable);
    b.pressEvent = refField(j, "pressEvent", Kind::Event);
  }

  template <typename Allowed>
  void loadBody(const Json& j, PasswordPromptBody& b, Allowed allowed) {
    allowed({"options", "allowedChars", "maxLength", "titleText", "labelText", "submitEvent", "cancelEvent", "okEvent",
             "errorEvent", "nextScreen", "errorScreen", "password"});
    b.options = static_cast<uint16_t>(field16(j, "options"));
    b.allowedChars = static_cast<uint16_t>(field(j, "allowedChars", 0xF8, 65535));
    b.maxLength = static_cast<uint8_t>(field8(j, "maxLength"));
    b.titleText = refField(j, "titleText", Kind::Text);
    b.labelText = refField(j, "labelText", Kind::Text);
    b.submitEvent = refField(j, "submitEvent", Kind::Event);
    b.cancelEvent = refField(j, "cancelEvent", Kind::Event);
    b.okEvent = refField(j, "okEvent", Kind::Event);
    b.errorEvent = refField(j, "errorEvent", Kind::Event);
    b.nextScreen = refField(j, "nextScreen", Kind::Object);
    b.errorScreen = refField(j, "errorScreen", Kind::Object);
    if (j.contains("password")) b.password = string(j["password"], "password");
    if (b.password.size() > 255) fail("password", "longer than 255 bytes");
    b.passwordLength = static_cast<uint8_t>(b.password.size());
  }

  template <typename Allowed>
  void loadBody(const Json& j, PopupBody& b, Allowed allowed) {
    allowed({"titleText", "messageText", "iconId", "buttons"});
    b.titleText = refField(j, "titleText", Kind::Text);
    b.messageText = refField(j, "messageText", Kind::Text);
    b.iconId = field(j, "iconId", kNoId, kNoId);
    if (j.contains("buttons")) {
      const Json& buttons = j["buttons"];
      if (!buttons.is_array() || buttons.size() > 255) fail("buttons", "expected an array of at most 255 buttons");
      for (size_t k = 0; k < buttons.size(); ++k) {
        const Json& bj = buttons[k];
        std::string f = "buttons[" + std::to_string(k) + "]";
        if (!bj.is_object()) fail(f, "expected an object");
        for (auto it = bj.begin(); it != bj.end(); ++it)
          if (it.key() != "labelText" && it.key() != "event" && it.key() != "targetScreen")
            fail(f + "." + it.key(), "unknown field of a pop-up button");
        PopupButton button;
        button.labelText = bj.contains("labelText") ? ref(bj["labelText"], f + ".labelText", Kind::Text) : kNoId;
        button.event = bj.contains("event") ? ref(bj["event"], f + ".event", Kind::Event) : kNoId;
        button.targetScreen =
            bj.contains("targetScreen") ? ref(bj["targetScreen"], f + ".targetScreen", Kind::Object) : kNoId;
        b.buttons.push_back(button);
      }
    }
    b.buttonCount = static_cast<uint8_t>(b.buttons.size());
  }

  template <typename Allowed>
  void loadBody(const Json& j, LockObjectBody& b, Allowed allowed) {
    allowed({"animation", "lockFlags", "timeoutSeconds", "messageText", "unlockText", "unlockEvent", "unlockScreen",
             "timeoutEvent", "timeoutScreen", "releaseEvent", "releaseScreen", "enterEvent"});
    b.animation = static_cast<uint16_t>(field16(j, "animation"));
    b.lockFlags = static_cast<uint16_t>(field16(j, "lockFlags"));
    b.timeoutSeconds = static_cast<uint16_t>(field16(j, "timeoutSeconds"));
    b.messageText = refField(j, "messageText", Kind::Text);
    b.unlockText = refField(j, "unlockText", Kind::Text);
    b.unlockEvent = refField(j, "unlockEvent", Kind::Event);
    b.unlockScreen = refField(j, "unlockScreen", Kind::Object);
    b.timeoutEvent = refField(j, "timeoutEvent", Kind::Event);
    b.timeoutScreen = refField(j, "timeoutScreen", Kind::Object);
    b.releaseEvent = refField(j, "releaseEvent", Kind::Event);
    b.releaseScreen = refField(j, "releaseScreen", Kind::Object);
    b.enterEvent = refField(j, "enterEvent", Kind::Event);
  }

  template <typename Allowed>
  void loadBody(const Json& j, CanvasBody& b, Allowed allowed) {
    allowed({"program"});
    if (!j.contains("program") || !j["program"].is_array() || j["program"].empty())
      fail("program", "expected a non-empty array of operations");
    WireWriter w;
    const Json& ops = j["program"];
    for (size_t k = 0; k < ops.size(); ++k) {
      const Json& op = ops[k];
      std::string f = "program[" + std::to_string(k) + "]";
      if (!op.is_object() || !op.contains("op") || !op["op"].is_string()) fail(f, "each operation needs \"op\"");
      std::string name = op["op"].get<std::string>();
      static const std::map<std::string, std::set<std::string>> kOperandsOf = {
          {"word", {"value"}},           {"fontHeight", {"value"}},
          {"textColour", {"value"}},     {"fillColour", {"value"}},
          {"lineColour", {"value"}},     {"lineWidth", {"value"}},
          {"lineStyle", {"value"}},      {"text", {"x", "y", "textId"}},
          {"label", {"x", "y", "text"}}, {"place", {"x", "y", "width", "height", "object"}},
          {"line", {"points"}}};
      auto operands = kOperandsOf.find(name);
      if (operands == kOperandsOf.end()) fail(f + ".op", "unknown operation \"" + shortened(name) + "\"");
      for (auto it = op.begin(); it != op.end(); ++it)
        if (it.key() != "op" && !operands->second.count(it.key()))
          fail(f + "." + it.key(), "not an operand of \"" + name + "\"");
      auto num = [&](const char* key, int64_t max) {
        if (!op.contains(key)) fail(f + "." + key, "missing");
        return number(op[key], f + "." + key, 0, max);
      };
      auto col = [&](const char* key) {
        if (!op.contains(key)) fail(f + "." + key, "missing");
        return colour(op, key);
      };
      if (name == "word")
        w.u8(0x01).u16(num("value", 65535));
      else if (name == "fontHeight")
        w.u8(0x02).u16(num("value", 65535));
      else if (name == "textColour")
        w.u8(0x03).u24(col("value"));
      else if (name == "fillColour")
        w.u8(0x04).u24(col("value"));
      else if (name == "lineColour")
        w.u8(0x05).u24(col("value"));
      else if (name == "lineWidth")
        w.u8(0x06).u8(num("value", 255));
      else if (name == "lineStyle")
        w.u8(0x07).u8(num("value", 255));
      else if (name == "text") {
        if (!op.contains("textId")) fail(f + ".textId", "missing");
        w.u8(0x20).u16(num("x", 65535)).u16(num("y", 65535)).u24(ref(op["textId"], f + ".textId", Kind::Text));
      } else if (name == "label") {
        if (!op.contains("text")) fail(f + ".text", "missing");
        w.u8(0x21).u16(num("x", 65535)).u16(num("y", 65535)).text(string(op["text"], f + ".text"));
      } else if (name == "place") {
        if (!op.contains("object")) fail(f + ".object", "missing");
        w.u8(0x22).u16(num("x", 65535)).u16(num("y", 65535)).u16(num("width", 65535)).u16(num("height", 65535));
        w.u24(ref(op["object"], f + ".object", Kind::Object));
      } else if (name == "line") {
        if (!op.contains("points") || !op["points"].is_array() || op["points"].size() > 255)
          fail(f + ".points", "expected up to 255 [x, y] points");
        w.u8(0x23).u8(static_cast<uint32_t>(op["points"].size()));
        for (const Json& pt : op["points"]) {
          if (!pt.is_array() || pt.size() != 2) fail(f + ".points", "each point is [x, y]");
          w.u16(number(pt[0], f + ".points", 0, 65535)).u16(number(pt[1], f + ".points", 0, 65535));
        }
      } else {
        fail(f + ".op", "unknown operation \"" + name + "\"");
      }
    }
    b.program = w.take();
    b.program.push_back(0x00);
    b.program.push_back(0);
    b.program.push_back(0);
  }

  std::vector<Action> actions(const Json& j, const std::string& field) {
    if (!j.is_array()) fail(field, "expected an array of actions");
    std::vector<Action> out;
    for (size_t k = 0; k < j.size(); ++k)
      guard([&] { out.push_back(action(j[k], field + "[" + std::to_string(k) + "]")); });
    return out;
  }

  Action action(const Json& j, const std::string& f) {
    if (!j.is_object() || j.empty()) fail(f, "expected an action object");
    Action a;
    auto only = [&](std::initializer_list<const char*> keys) {
      for (auto it = j.begin(); it != j.end(); ++it) {
        bool ok = false;
        for (const char* key : keys) ok = ok || it.key() == key;
        if (!ok) fail(f + "." + it.key(), "not part of this action");
      }
    };
    if (j.contains("set")) {
      only({"set", "value"});
      a.kind = Action::Kind::SetVariable;
      a.id = ref(j["set"], f + ".set", Kind::Variable);
      const VariableDef* v = variableById(a.id);
      if (!v) fail(f + ".set", "the variable is not described");
      if (!j.contains("value")) fail(f + ".value", "missing");
      a.value = value(j["value"], v->desc.type, "value");
    } else if (j.contains("sweep")) {
      only({"sweep", "step"});
      a.kind = Action::Kind::SweepVariable;
      a.id = ref(j["sweep"], f + ".sweep", Kind::Variable);
      const VariableDef* v = variableById(a.id);
      if (!v || variableValueWidth(v->desc.type) == 0) fail(f + ".sweep", "needs a described numeric variable");
      a.step = j.contains("step") ? static_cast<int32_t>(signedNumber(j["step"], f + ".step", -1000000, 1000000)) : 1;
    } else if (j.contains("sendVariable")) {
      only({"sendVariable"});
      a.kind = Action::Kind::SendVariable;
      a.id = ref(j["sendVariable"], f + ".sendVariable", Kind::Variable);
    } else if (j.contains("sendObject")) {
      only({"sendObject"});
      a.kind = Action::Kind::SendObject;
      a.id = ref(j["sendObject"], f + ".sendObject", Kind::Object);
    } else if (j.contains("replaceObject")) {
      only({"replaceObject", "with"});
      a.kind = Action::Kind::ReplaceObject;
      a.id = ref(j["replaceObject"], f + ".replaceObject", Kind::Object);
      if (!j.contains("with")) fail(f + ".with", "missing");
      a.replacement = std::make_shared<ObjectDef>();
      a.replacement->id = a.id;
      std::string saved = where_;
      where_ += ": " + f + ".with";
      guard([&] { loadObjectFields(j["with"], *a.replacement, false); });
      where_ = saved;
    } else if (j.contains("sendText")) {
      only({"sendText"});
      a.kind = Action::Kind::SendText;
      a.id = ref(j["sendText"], f + ".sendText", Kind::Text);
    } else if (j.contains("setText")) {
      only({"setText", "text"});
      a.kind = Action::Kind::SetText;
      a.id = ref(j["setText"], f + ".setText", Kind::Text);
      if (!j.contains("text")) fail(f + ".text", "missing");
      a.text = string(j["text"], f + ".text");
    } else if (j.contains("event")) {
      only({"event"});
      a.kind = Action::Kind::SendEvent;
      a.id = ref(j["event"], f + ".event", Kind::Object);
    } else if (j.contains("errorReport")) {
      only({"errorReport"});
      const Json& e = j["errorReport"];
      if (!e.is_object()) fail(f + ".errorReport", "expected {\"code\", \"elementType\", \"elementId\"}");
      a.kind = Action::Kind::SendErrorReport;
      a.errorCode = field(e, "code", 0, UINT32_MAX);
      a.elementType = static_cast<uint8_t>(field(e, "elementType", 0, 255));
      a.elementId = field(e, "elementId", 0, UINT32_MAX);
    } else if (j.contains("after")) {
      only({"after", "actions"});
      a.kind = Action::Kind::After;
      a.delayMs = number(j["after"], f + ".after", 0, 3600000);
      if (!j.contains("actions")) fail(f + ".actions", "missing");
      if (afterDepth_ >= kMaxAfterDepth) fail(f + ".actions", "delayed actions nested too deeply");
      ++afterDepth_;
      guard([&] { a.actions = actions(j["actions"], f + ".actions"); });
      --afterDepth_;
    } else if (j.contains("dropLink")) {
      only({"dropLink"});
      if (!j["dropLink"].is_boolean() || !j["dropLink"].get<bool>()) fail(f + ".dropLink", "expected true");
      a.kind = Action::Kind::DropLink;
    } else {
      fail(f,
           "unknown action (set, sweep, sendVariable, sendObject, replaceObject, sendText, setText, event, "
           "errorReport, after, dropLink)");
    }
    return a;
  }

  const VariableDef* variableById(uint32_t id) const {
    for (const VariableDef& v : d_.variables)
      if (v.id == id) return &v;
    return nullptr;
  }

  void loadReaction(const Json& j) {
    if (!j.is_object()) fail("", "expected an object");
    checkFields(j, {"event", "variable", "dataText", "dataTextNot", "actions"});
    if (j.contains("event") == j.contains("variable"))
      fail("event", "a reaction names one \"event\" or one \"variable\"");
    if (!j.contains("actions")) fail("actions", "missing");
    std::vector<Action> acts = actions(j["actions"], "actions");
    if (j.contains("variable")) {
      if (j.contains("dataText") || j.contains("dataTextNot")) fail("dataText", "only event reactions look at data");
      d_.variableReactions.emplace(ref(j["variable"], "variable", Kind::Variable), std::move(acts));
      return;
    }
    EventReaction r;
    if (j.contains("dataText") && j.contains("dataTextNot"))
      fail("dataText", "give \"dataText\" or \"dataTextNot\", not both");
    if (j.contains("dataText") || j.contains("dataTextNot")) {
      r.matchData = true;
      r.negate = j.contains("dataTextNot");
      r.dataText = string(r.negate ? j["dataTextNot"] : j["dataText"], r.negate ? "dataTextNot" : "dataText");
    }
    r.actions = std::move(acts);
    d_.eventReactions.emplace(ref(j["event"], "event", Kind::Event), std::move(r));
  }

  void loadTimer(const Json& j) {
    if (!j.is_object()) fail("", "expected an object");
    checkFields(j, {"periodMs", "actions"});
    TimerDef t;
    if (!j.contains("periodMs")) fail("periodMs", "missing");
    t.periodMs = number(j["periodMs"], "periodMs", 10, 3600000);
    if (!j.contains("actions")) fail("actions", "missing");
    t.actions = actions(j["actions"], "actions");
    d_.timers.push_back(std::move(t));
  }

  const FileSource& files_;
  DeviceDescription& d_;
  std::string where_;
  static constexpr size_t kMaxFaults = 100;
  static constexpr size_t kMaxFaultBytes = 300;
  static constexpr size_t kMaxQuotedBytes = 60;
  mutable std::vector<std::string> faults_;
  std::map<std::string, uint32_t> textNames_, variableNames_, objectNames_;
  std::set<uint32_t> textIds_, variableIds_, objectIds_;
  uint32_t nextEvent_ = 0x100;
  static constexpr int kMaxAfterDepth = 16;
  int afterDepth_ = 0;
};

// One fault a line.
std::string joinFaults(const std::vector<std::string>& faults) {
  std::string out;
  for (const std::string& f : faults) out += (out.empty() ? "" : "\n") + f;
  return out;
}

}  // namespace

bool parseDeviceDescription(const std::string& jsonText, const std::string& fileName, const FileSource& files,
                            DeviceDescription& out, std::vector<std::string>& faults) {
  faults.clear();
  Json root;
  try {
    root = Json::parse(jsonText);
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers the parser cannot hold.
    faults.push_back(fileName + ": not valid JSON: " + e.what());
    return false;
  }
  DeviceDescription d;
  Loader loader(files, d);
  try {
    loader.load(root);
  } catch (const DescriptionError&) {
  } catch (const TooManyFaults&) {
  } catch (const Json::exception& e) {
    faults.push_back(fileName + ": " + e.what());
  }
  for (const std::string& f : loader.faults()) faults.push_back(fileName + ": " + f);
  if (!faults.empty()) return false;
  out = std::move(d);
  return true;
}

bool parseDeviceDescription(const std::string& jsonText, const std::string& fileName, const FileSource& files,
                            DeviceDescription& out, std::string& error) {
  std::vector<std::string> faults;
  bool ok = parseDeviceDescription(jsonText, fileName, files, out, faults);
  error = joinFaults(faults);
  return ok;
}

bool loadDeviceDescription(const std::string& path, DeviceDescription& out, std::vector<std::string>& faults) {
  faults.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    faults.push_back(path + ": cannot open the file");
    return false;
  }
  char start[8] = {};
  in.read(start, sizeof start);
  auto read = static_cast<size_t>(in.gcount());
  if (path.ends_with(".btsnoop") || capture::looksLikeCapture(reinterpret_cast<const uint8_t*>(start), read)) {
    std::string error;
    if (loadCaptureDevice(path, out, error)) return true;
    faults.push_back(error);
    return false;
  }
  in.clear();
  in.seekg(0);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string folder;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) folder = path.substr(0, slash + 1);
  FileSource files = [folder](const std::string& relative, std::vector<uint8_t>& bytes) {
    if (relative.empty() || relative[0] == '/' || relative.find("..") != std::string::npos) return false;
    std::ifstream f(folder + relative, std::ios::binary);
    if (!f) return false;
    bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
  };
  return parseDeviceDescription(text, path, files, out, faults);
}

bool loadDeviceDescription(const std::string& path, DeviceDescription& out, std::string& error) {
  std::vector<std::string> faults;
  bool ok = loadDeviceDescription(path, out, faults);
  error = joinFaults(faults);
  return ok;
}

}  // namespace okt::emu
