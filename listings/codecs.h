// Character-set codecs: byte strings in ISO-8859-1, Windows-1252, UTF-8 or
// Windows-1255 to UTF-16 text and back.
//
// Nothing here ever fails: a byte or character that cannot be converted
// becomes "?" (U+003F when decoding, 0x3F when encoding); malformed UTF-8
// becomes one "?" per bad lead byte and a sequence cut off by the end of the
// string is dropped.
//
// Character sets are numbered as in the settings, the grabbers and the
// records: 1 ISO-8859-1, 2 Windows-1252, 3 UTF-8. Windows-1255 has no number;
// only the script function that turns Hebrew text into UTF-8 uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr int CharSetISO8859_1 = 1;
constexpr int CharSetWindows1252 = 2;
constexpr int CharSetUTF8 = 3;

// Common base: every codec replaces what it cannot convert, it never raises.
class TCustomUnicodeCodec {
public:
    virtual ~TCustomUnicodeCodec() = default;

    // An absent (null) or empty input gives an empty string.
    virtual std::u16string DecodeStr(const char* bytes, std::size_t length) const = 0;
    std::u16string DecodeStr(std::string_view bytes) const { return DecodeStr(bytes.data(), bytes.size()); }

    virtual std::string EncodeStr(std::u16string_view text) const = 0;

    // The character that stands for undecodable bytes.
    char16_t ReplacementChar() const { return FReplacementChar; }

protected:
    char16_t FReplacementChar = u'?';
};

// One byte per character, through a table for the bytes 0x80 to 0xFF.
class TCustomSingleByteCodec : public TCustomUnicodeCodec {
public:
    using TByteTable = std::array<char16_t, 128>;  // code unit of each byte 0x80..0xFF

    std::u16string DecodeStr(const char* bytes, std::size_t length) const override;
    using TCustomUnicodeCodec::DecodeStr;
    std::string EncodeStr(std::u16string_view text) const override;

    // The code unit of one byte.
    char16_t DecodeByte(unsigned char b) const { return b < 0x80 ? char16_t(b) : FHigh[b - 0x80]; }
    // The byte of one code unit, or -1 when this character set has none for it.
    int EncodeUnit(char16_t u) const;

    // The byte written for characters that have none.
    char ReplacementByte() const { return FReplacementByte; }

protected:
    // Encoding takes, for a code unit that more than one byte decodes to,
    // the lowest such byte.
    explicit TCustomSingleByteCodec(const TByteTable& high);

private:
    TByteTable FHigh;
    std::vector<std::pair<char16_t, unsigned char>> FReverse;  // sorted by code unit, units >= 0x80 only
    std::array<std::int16_t, 128> FLatin1;                     // byte or -1 for U+0080..U+00FF, from FReverse
    char FReplacementByte = '?';
};

class TUTF8Codec : public TCustomUnicodeCodec {
public:
    // Overlong forms are taken as they stand (0xC0 0x80 is U+0000); a four-byte
    // sequence up to U+10FFFF gives its surrogate pair, one beyond gives "?".
    std::u16string DecodeStr(const char* bytes, std::size_t length) const override;
    using TCustomUnicodeCodec::DecodeStr;
    // A surrogate pair becomes one four-byte sequence, a lone surrogate "?".
    std::string EncodeStr(std::u16string_view text) const override;
};

class TISO8859_1Codec : public TCustomSingleByteCodec {
public:
    TISO8859_1Codec();
};

class TWindows1252Codec : public TCustomSingleByteCodec {
public:
    TWindows1252Codec();
};

class TWindows1255Codec : public TCustomSingleByteCodec {
public:
    TWindows1255Codec();
};

// The program-wide codec instances, created on first use, never changed.
const TISO8859_1Codec& ISO8859_1Codec();
const TWindows1252Codec& Windows1252Codec();
const TUTF8Codec& UTF8Codec();
const TWindows1255Codec& Windows1255Codec();

// The codec of character set 1 to 3, or nullptr for any other number.
const TCustomUnicodeCodec* CodecForCharSet(int charSet);

// Decode with the codec of charSet; an unknown charSet gives an empty string.
std::u16string DecodeCharSet(std::string_view bytes, int charSet);
// Encode with the codec of charSet; an unknown charSet gives an empty string.
std::string EncodeCharSet(std::u16string_view text, int charSet);
// The same, appended to out (which keeps what it held before).
void AppendEncodedCharSet(std::string& out, std::u16string_view text, int charSet);

// Bytes in fromSet turned into bytes in toSet: exactly the bytes of
// EncodeCharSet(DecodeCharSet(bytes, fromSet), toSet), without the UTF-16 text
// in between; ASCII runs are copied as they are, and UTF-8 to UTF-8 still
// turns malformed sequences into "?". An unknown set on either side gives an
// empty string.
std::string ConvertCharSet(std::string_view bytes, int fromSet, int toSet);
// The same, appended to out (which keeps what it held before).
void AppendConvertedCharSet(std::string& out, std::string_view bytes, int fromSet, int toSet);

// Windows-1255 (Hebrew) bytes to UTF-8: the same bytes as
// UTF8Codec().EncodeStr(Windows1255Codec().DecodeStr(bytes)).
std::string Windows1255ToUTF8(std::string_view bytes);
