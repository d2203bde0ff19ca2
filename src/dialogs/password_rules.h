#pragma once

#include <cstdint>
#include <string>

namespace okt {

// Character classes of a password prompt's allowedChars.
struct PasswordClass {
  enum : uint16_t { Upper = 0x80, Lower = 0x40, Digits = 0x20, Symbols = 0x10, Others = 0x08 };
};

// True when every byte belongs to an allowed class (an empty text too).
bool passwordCharsAllowed(uint16_t allowedChars, const std::string& text);

// How the entry field is set up from the prompt's options and classes.
struct PasswordField {
  bool showCancel = false;  // options 0x10
  bool masked = true;       // options without 0x40: '*' for each character
  bool digitsOnly = false;  // allowedChars exactly 0x20
  bool lowerCase = false;   // exactly 0x40: typed capitals become lower case
  bool upperCase = false;   // exactly 0x80
  int maxLength = 0;        // 0: no limit of its own
};
PasswordField passwordField(uint16_t options, uint16_t allowedChars, uint8_t maxLength);

}  // namespace okt
