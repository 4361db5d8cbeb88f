// Text encodings of files and of the pattern engine.
#include "runtime/text_codec.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/os.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Windows-1252 row 0x80-0x9F. The five bytes that the code page leaves
// unassigned map to the C1 controls of the same value so that every byte
// survives a read and a write.
// clang-format off
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
// clang-format on

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendCodePoint(char32_t code, std::u16string* out) {
  if (code >= 0xD800 && code <= 0xDFFF) code = kReplacement;
  if (code > 0x10FFFF) code = kReplacement;
  if (code < 0x10000) {
    out->push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

// Calls emit for each code point of text; unpaired surrogates become U+FFFD.
template <typename Emit>
void forEachCodePoint(std::u16string_view text, Emit emit) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      emit(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      emit(kReplacement);
    } else {
      emit(unit);
    }
  }
}

uint32_t readUnit(const unsigned char* p, int size, bool bigEndian) {
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) {
    int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
    value |= static_cast<uint32_t>(p[i]) << shift;
  }
  return value;
}

void appendUnit(uint32_t value, int size, bool bigEndian, std::string* out) {
  for (int i = 0; i < size; ++i) {
    int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
    out->push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

bool isBigEndian(TextFormat format) {
  return format == TextFormat::Utf16Be || format == TextFormat::Utf32Be;
}

void decodeWindows1252(std::string_view bytes, std::u16string* out) {
  for (unsigned char byte : bytes) {
    out->push_back(byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80]
                                               : static_cast<char16_t>(byte));
  }
}

char encodeWindows1252Char(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (int i = 0; i < 32; ++i)
    if (kWindows1252High[i] == code) return static_cast<char>(0x80 + i);
  return '?';
}

// Length of the leading run of ASCII bytes.
size_t asciiPrefix(const unsigned char* p, size_t n) {
  size_t i = 0;
  // Eight bytes at a time while no byte has its top bit set.
  while (i + 8 <= n) {
    uint64_t word;
    memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Appends n ASCII bytes as UTF-16 units.
void widenAscii(const unsigned char* p, size_t n, std::u16string* out) {
  size_t start = out->size();
  out->resize(start + n);
  char16_t* target = out->data() + start;
  for (size_t i = 0; i < n; ++i) target[i] = p[i];
}

// Appends the UTF-8 form of one code point.
void appendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

int unitSize(TextFormat format) {
  switch (format) {
    case TextFormat::Utf16Le:
    case TextFormat::Utf16Be: return 2;
    case TextFormat::Utf32Le:
    case TextFormat::Utf32Be: return 4;
    default: return 1;
  }
}

std::string_view byteOrderMark(TextFormat format) {
  using namespace std::string_view_literals;
  switch (format) {
    case TextFormat::Utf8: return "\xEF\xBB\xBF"sv;
    case TextFormat::Utf16Le: return "\xFF\xFE"sv;
    case TextFormat::Utf16Be: return "\xFE\xFF"sv;
    case TextFormat::Utf32Le: return "\xFF\xFE\x00\x00"sv;
    case TextFormat::Utf32Be: return "\x00\x00\xFE\xFF"sv;
    default: return ""sv;
  }
}

std::string_view lineEndBytes(TextFormat format) {
  using namespace std::string_view_literals;
  switch (format) {
    case TextFormat::Utf16Le: return "\r\0\n\0"sv;
    case TextFormat::Utf16Be: return "\0\r\0\n"sv;
    case TextFormat::Utf32Le: return "\r\0\0\0\n\0\0\0"sv;
    case TextFormat::Utf32Be: return "\0\0\0\r\0\0\0\n"sv;
    default: return "\r\n"sv;
  }
}

bool rawUnitsShowAscii(TextFormat format) {
  return format != TextFormat::Ansi || os::ansiCodePageIsSingleByte();
}

void decodeUtf8(std::string_view bytes, std::u16string* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    unsigned char lead = p[i];
    if (lead < 0x80) {
      size_t run = asciiPrefix(p + i, n - i);
      widenAscii(p + i, run, out);
      i += run;
      continue;
    }
    // Length and the allowed range of the second byte, which excludes
    // overlong forms, surrogates and values above U+10FFFF.
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    // clang-format off
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead == 0xE0) { length = 3; low = 0xA0; }
    else if (lead == 0xED) { length = 3; high = 0x9F; }
    else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
    else if (lead == 0xF0) { length = 4; low = 0x90; }
    else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
    else if (lead == 0xF4) { length = 4; high = 0x8F; }
    // clang-format on
    if (length == 0) {
      out->push_back(kReplacement);
      ++i;
      continue;
    }
    char32_t code = lead & (0xFF >> (length + 1));
    size_t j = i + 1;
    bool complete = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n || p[j] < low || p[j] > high) {
        complete = false;
        break;
      }
      code = (code << 6) | (p[j] & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (complete) appendCodePoint(code, out);
    else out->push_back(kReplacement);  // one U+FFFD per maximal subpart
    i = j;
  }
}

void encodeUtf8(std::u16string_view text, std::string* out) {
  size_t i = 0;
  while (i < text.size()) {
    // ASCII runs, the bulk of any assembler source, are narrowed in one go.
    size_t run = 0;
    while (i + run < text.size() && text[i + run] < 0x80) ++run;
    if (run > 0) {
      size_t start = out->size();
      out->resize(start + run);
      char* target = out->data() + start;
      for (size_t k = 0; k < run; ++k) target[k] = static_cast<char>(text[i + k]);
      i += run;
      continue;
    }
    size_t end = i + 1;
    if (isHighSurrogate(text[i]) && end < text.size() && isLowSurrogate(text[end])) ++end;
    forEachCodePoint(text.substr(i, end - i), [out](char32_t code) { appendUtf8(code, out); });
    i = end;
  }
}

void decodeText(TextFormat format, std::string_view raw, std::u16string* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  switch (format) {
    case TextFormat::Utf8: decodeUtf8(raw, out); return;
    case TextFormat::Ansi:
      if (asciiPrefix(p, raw.size()) == raw.size()) return widenAscii(p, raw.size(), out);
      if (!os::decodeAnsiCodePage(raw, out)) decodeWindows1252(raw, out);
      return;
    default: break;
  }
  int size = unitSize(format);
  bool bigEndian = isBigEndian(format);
  size_t units = raw.size() / size;
  if (format == TextFormat::Utf16Le && std::endian::native == std::endian::little) {
    size_t start = out->size();
    out->resize(start + units);
    memcpy(out->data() + start, p, units * 2);
    return;
  }
  out->reserve(out->size() + units);
  for (size_t i = 0; i < units; ++i) {
    uint32_t value = readUnit(p + i * size, size, bigEndian);
    if (size == 2) out->push_back(static_cast<char16_t>(value));
    else appendCodePoint(value, out);  // out-of-range units become U+FFFD
  }
}

void encodeText(TextFormat format, std::u16string_view text, std::string* out) {
  switch (format) {
    case TextFormat::Utf8: encodeUtf8(text, out); return;
    case TextFormat::Utf16Le:
    case TextFormat::Utf16Be:
      // Code units go out as they are, unpaired surrogates included, so that
      // a UTF-16 file round-trips exactly.
      if (format == TextFormat::Utf16Le && std::endian::native == std::endian::little) {
        out->append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        return;
      }
      for (char16_t unit : text) appendUnit(unit, 2, isBigEndian(format), out);
      return;
    case TextFormat::Utf32Le:
    case TextFormat::Utf32Be:
      forEachCodePoint(text, [&](char32_t code) { appendUnit(code, 4, isBigEndian(format), out); });
      return;
    default:
      if (os::encodeAnsiCodePage(text, out)) return;
      forEachCodePoint(text, [out](char32_t code) { out->push_back(encodeWindows1252Char(code)); });
      return;
  }
}
