// The value of one hex digit. Here, at the lowest portable floor, because the address text of
// the printer bridge and the stand-ins' transcript and world file all read hex digits, and the
// native build needs it as well as the Windows one.
#ifndef KESTRO_ENGINE_CLIENT_CODEC_HEX_DIGIT_H_
#define KESTRO_ENGINE_CLIENT_CODEC_HEX_DIGIT_H_

namespace kestro {

// 0 to 15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace kestro

#endif  // KESTRO_ENGINE_CLIENT_CODEC_HEX_DIGIT_H_
