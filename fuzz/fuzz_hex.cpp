// Hexadecimal text as the rig-control interface passes CAT bytes, and the decoding of poll
// replies: bytes survive a trip through text, and text decodes the same way on both roads.
#include "FuzzCheck.h"
#include "core/HexStr.h"

#include <array>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // Bytes -> text -> bytes is the identity; the text is upper case, two digits a byte.
    const QString hex = VariantToHexText(VariantBytes(bytes));
    FUZZ_CHECK(hex.size() == 2 * bytes.size());
    FUZZ_CHECK(hex == hex.toUpper());
    const VariantBytes back = HexTextToVariant(hex);
    FUZZ_CHECK(back.IsArray() && back.Bytes() == bytes);
    // A shifted lower bound is not a zero-based array: no text.
    FUZZ_CHECK(VariantToHexText(VariantBytes(bytes, 1)).isEmpty());

    // The input read as text: both decoders agree on the bytes up to the first bad pair.
    const QString text = QString::fromLatin1(bytes);
    const VariantBytes decoded = HexTextToVariant(text);
    FUZZ_CHECK(decoded.IsArray() && decoded.Bytes().size() == text.size() / 2);
    std::array<quint8, 64> buffer {};
    const int stored = DecodeHexText(text, buffer.data(), int(buffer.size()));
    FUZZ_CHECK(stored == std::min<int>(int(buffer.size()), int(text.size() / 2)));
    const auto isHex = [](QChar c) { return QStringLiteral("0123456789abcdefABCDEF").contains(c); };
    for (int i = 0; i < stored && isHex(text[2 * i]) && isHex(text[2 * i + 1]); ++i)
        FUZZ_CHECK(buffer[std::size_t(i)] == quint8(decoded.Bytes()[i]));
    FUZZ_CHECK(HexDigitValue(text.isEmpty() ? QChar() : text.front()) < 16);
    return 0;
}
