#include "zub_encrypt.h"

#include "img_enc.h"
#include "platform_messagebox.h"

namespace {

// Windows-1252 bytes 0x80..0x9F and the characters they stand for; 0 marks
// the five bytes the code page leaves undefined, which the platform's
// conversion maps to the control characters of the same number.
constexpr char32_t kHighHalf[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToWindows1252(char32_t C) {
  if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) return static_cast<char>(C);
  for (int i = 0; i < 32; ++i) {
    const char32_t mapped = kHighHalf[i] != 0 ? kHighHalf[i] : static_cast<char32_t>(0x80 + i);
    if (mapped == C) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string Windows1252Bytes(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  size_t i = 0;
  while (i < Text.size()) {
    const auto b0 = static_cast<unsigned char>(Text[i]);
    size_t len = 0;
    char32_t c = 0;
    if (b0 < 0x80) {
      len = 1, c = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2, c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3, c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4, c = b0 & 0x07;
    }
    bool valid = len > 0 && i + len <= Text.size();
    for (size_t k = 1; valid && k < len; ++k) {
      const auto b = static_cast<unsigned char>(Text[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (valid && ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                  (c >= 0xD800 && c <= 0xDFFF)))
      valid = false;
    if (!valid) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(ToWindows1252(c));
    i += len;
  }
  return out;
}

int32_t EncryptImage(TEditor& Editor, const TActionArgument& Argument) {
  const std::string* phrase = std::get_if<std::string>(&Argument);
  if (phrase == nullptr || Editor.gTarget == nullptr) return arDone;
  EncryptBitmap(Editor.gTarget, Windows1252Bytes(*phrase));
  Editor.gTarget->Changed();
  return arDone;
}

void Encrypt1Click(TEditor& Editor, std::string& KeyPhrase) {
  std::string phrase = KeyPhrase;
  if (!Editor.Ui().InputQuery(ApplicationTitle(), "Encryption key phrase:", phrase)) return;
  KeyPhrase = phrase;
  // An empty phrase spreads no key: no command, so no undo step that changes nothing.
  if (phrase.empty()) return;
  try {
    Editor.ApplyAction(EncryptImage, TActionArgument(phrase), true);
  } catch (const std::exception& E) {
    Editor.Ui().ExceptionBox(E, "on action EncryptImage");
  }
}
