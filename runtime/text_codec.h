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

// Bytes per line-reading unit: 1, 2 or 4.
int unitSize(TextFormat format);

// The byte-order mark of format (empty for Ansi).
std::string_view byteOrderMark(TextFormat format);

// CR LF encoded in format.
std::string_view lineEndBytes(TextFormat format);

// raw, whole units of format, without its leading and trailing space units
// (U+0020 in format); tabs and everything else stay.
std::string_view trimSpaceUnits(TextFormat format, std::string_view raw);

// True when raw, decoded and encoded again in format, gives raw back: an
// unchanged line can then be written without converting it at all.
bool roundTripsUnchanged(TextFormat format, std::string_view raw);

// True when format encodes each ASCII character as one byte and no other
// character uses bytes below 0x80 (ANSI and UTF-8): a search for ASCII text
// on the raw bytes then finds what it would find in the decoded text.
bool asciiIsSingleBytes(TextFormat format);

// True when format encodes ASCII as single bytes and raw holds only ASCII:
// its bytes are then its characters.
bool isAsciiText(TextFormat format, std::string_view raw);

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
