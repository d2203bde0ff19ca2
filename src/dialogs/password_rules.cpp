#include "dialogs/password_rules.h"

#include <cstring>

namespace okt {

bool passwordCharsAllowed(uint16_t allowed, const std::string& text) {
  static const char symbols[] = "#%&'()*+,-.:;?[\\]^_{}~@`";
  for (unsigned char c : text) {
    uint16_t needs = PasswordClass::Others;
    if (c >= 'A' && c <= 'Z')
      needs = PasswordClass::Upper;
    else if (c >= 'a' && c <= 'z')
      needs = PasswordClass::Lower;
    else if (c >= '0' && c <= '9')
      needs = PasswordClass::Digits;
    else if (c != 0 && std::strchr(symbols, c))
      needs = PasswordClass::Symbols;
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

}  // namespace okt
