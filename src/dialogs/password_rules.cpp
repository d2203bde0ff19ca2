#include "dialogs/password_rules.h"

#include <algorithm>
#include <cstring>

namespace okt {

bool passwordCharsAllowed(uint16_t allowed, const std::string& text) {
  static const char symbols[] = "#%&'()*+,-.:;?[\\]^_{}~@`";
  for (unsigned char c : text) {
    uint16_t needs = PasswordClass::Others;
    if (c >= 'A' && c <= 'Z') needs = PasswordClass::Upper;
    else if (c >= 'a' && c <= 'z') needs = PasswordClass::Lower;
    else if (c >= '0' && c <= '9') needs = PasswordClass::Digits;
    else if (c != 0 && std::strchr(symbols, c)) needs = PasswordClass::Symbols;
    if (!(allowed & needs)) return false;
  }
  return true;
}

PasswordField passwordField(uint16_t options, uint16_t allowedChars, uint8_t maxLength) {
  PasswordField f;
  f.showCancel = options & 0x10;
  f.masked = !(options & 0x40);
  f.digitsOnly = allowedChars == PasswordClass::Digits;
  f.lowerCase = allowedChars == PasswordClass::Lower;
  f.upperCase = allowedChars == PasswordClass::Upper;
  f.maxLength = maxLength;
  return f;
}

std::vector<PopupButtonPlace> popupButtonPlaces(int n) {
  std::vector<PopupButtonPlace> out;
  if (n <= 0) return out;
  int step = 200 / n, spacing = std::min(step, 100), width = spacing - 10, x = 220 - step * n;
  for (int i = 0; i < n; ++i, x += spacing) out.push_back({kFirstPopupButtonId + i, x, width});
  return out;
}

}  // namespace okt
