// rigctld's replies as the connection splits them into lines: extended answers (PTT state,
// rig type) and answers to raw CAT commands. Whatever the bytes, the readers return, and
// what they read re-serialises to a reply they read the same way.
#include "FuzzCheck.h"
#include "rig/RigctldReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> lines = bytes.split('\n');

    if (const std::optional<int> ptt = RigctldReply::ptt(lines))
        FUZZ_CHECK(RigctldReply::ptt({ "PTT: " + QByteArray::number(*ptt) }) == ptt);
    const QString rigType = RigctldReply::rigType(lines);
    FUZZ_CHECK(!rigType.contains(u'\n'));

    const QByteArray raw = RigctldReply::rawReply(lines);
    FUZZ_CHECK(raw.size() <= bytes.size());

    // The raw bytes of a binary answer, in every form rigctld gives them, come back unchanged.
    if (!bytes.isEmpty()) {
        const QByteArray encoded = RigctldReply::encodeRaw(bytes);
        FUZZ_CHECK(encoded.size() == 5 * bytes.size());
        FUZZ_CHECK(RigctldReply::rawReply({ encoded }) == bytes);
        const QByteArray count = " " + QByteArray::number(bytes.size());
        FUZZ_CHECK(RigctldReply::rawReply({ "Reply: " + encoded + count }) == bytes);
        FUZZ_CHECK(RigctldReply::rawReply({ "Reply: " + encoded.left(10), encoded.mid(10) + count })
            == bytes);
    }
    return 0;
}
