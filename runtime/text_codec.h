// Conversions between the program's UTF-16 strings and the byte encodings of
// text files: UTF-8, the ANSI code page (the system's where it has one,
// Windows-1252 elsewhere) and the UTF-16/UTF-32 byte orders. Every
// decoder accepts any bytes; malformed input becomes U+FFFD, never an error.
#ifndef ORRINVALE_RUNTIME_TEXT_CODEC_H_
#define ORRINVALE_RUNTIME_TEXT_CODEC_H_

#include <string>
#include <string_view>

// The encoding that a file's byte-order mark names.
enum class TextFormat { Ansi, Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };
inline constexpr size_t kTextFormatCount = 6;

// Bytes per line-reading unit: 1, 2 or 4.
int unitSize(TextFormat format);

// The byte-order mark of format (empty for Ansi).
std::string_view byteOrderMark(TextFormat format);

// CR LF encoded in format.
std::string_view lineEndBytes(TextFormat format);

// True when every unit below 0x80 in format is that ASCII character and no
// other unit or sequence decodes to one: rules about ASCII text can then be
// applied to the raw units. Not so for an ANSI code page with double-byte
// characters, whose second byte may look like ASCII.
bool rawUnitsShowAscii(TextFormat format);

// Appends the UTF-16 form of raw (whole units; a trailing partial unit is
// ignored) to *out.
void decodeText(TextFormat format, std::string_view raw, std::u16string* out);

// Appends the encoded form of text to *out.
void encodeText(TextFormat format, std::u16string_view text, std::string* out);

// UTF-8 in both directions; each maximal ill-formed subsequence and each
// unpaired surrogate becomes U+FFFD.
void decodeUtf8(std::string_view bytes, std::u16string* out);
void encodeUtf8(std::u16string_view text, std::string* out);

#endif  // ORRINVALE_RUNTIME_TEXT_CODEC_H_
