// The state envelope and the bounded stream plug-ins write their state into.
#include "vsthost/BoundedMemoryStream.h"
#include "vsthost/StateEnvelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <limits>

#include "pluginterfaces/base/ipluginbase.h"

using namespace orvane::vsthost;
using namespace Steinberg;

TEST (StateEnvelope, ThreeComponentBytesGiveA19ByteEnvelope)
{
    const auto text = stateEnvelopeText ({ 0x0A, 0xFF, 0x00 }, {});
    EXPECT_EQ (text, "4f56535433533200" "03000000" "00000000" "0aff00");
    EXPECT_EQ (text.size(), 38u);
    EXPECT_EQ (toHexString (std::vector<std::uint8_t> { 0x0A, 0xFF, 0x00 }.data(), 3), "0aff00");

    StateEnvelopeParts parts;
    std::string message;
    ASSERT_TRUE (decodeStateEnvelope (text, parts, message));
    EXPECT_EQ (parts.component, (std::vector<std::uint8_t> { 0x0A, 0xFF, 0x00 }));
    EXPECT_TRUE (parts.controller.empty());

    // Upper case reads the same.
    std::string upper = text;
    std::transform (upper.begin(), upper.end(), upper.begin(), [] (char c) { return static_cast<char> (std::toupper (c)); });
    StateEnvelopeParts upperParts;
    ASSERT_TRUE (decodeStateEnvelope (upper, upperParts, message));
    EXPECT_EQ (upperParts.component, parts.component);
}

TEST (StateEnvelope, MalformedTextsAreRefusedWithTheirMessages)
{
    const std::string valid = stateEnvelopeText ({ 1, 2 }, { 3 });
    const std::string invalid = "invalid or oversized VST3 state envelope";
    const std::string version = "unsupported VST3 state envelope version";
    const std::string sizes = "invalid VST3 state sizes";

    auto withByte = [&] (std::size_t byteIndex, const char* hex)
    {
        auto text = valid;
        text.replace (2 * byteIndex, 2, hex);
        return text;
    };

    struct EnvelopeCase
    {
        std::string text;
        std::string message;
    };

    const std::vector<EnvelopeCase> cases {
        { "", invalid },
        { valid.substr (0, 31), invalid },
        { valid.substr (0, 30), invalid },
        { valid + "0", invalid },
        { valid.substr (0, 36) + "0g" + valid.substr (38), invalid },
        { valid.substr (0, 36) + " 1" + valid.substr (38), invalid },
        { valid.substr (0, 36) + "+1" + valid.substr (38), invalid },
        // A bad character anywhere wins over a bad magic.
        { "00" + valid.substr (2, 34) + "zz" + valid.substr (38), invalid },
        { withByte (0, "4e"), version },
        { withByte (6, "33"), version },
        { withByte (7, "01"), version },
        { withByte (8, "03"), sizes },
        { withByte (8, "01"), sizes },
        { valid + "00", sizes },
        { withByte (11, "ff"), sizes },
        // Sizes beyond 64 MiB in total, before the payload is looked at.
        { "4f56535433533200" "00000004" "01000000", sizes },
        { "4f56535433533200" "ffffffff" "ffffffff", sizes },
        { std::string (134217794, '0'), invalid },
    };

    for (const auto& c : cases)
    {
        StateEnvelopeParts parts;
        std::string message;
        EXPECT_FALSE (decodeStateEnvelope (c.text, parts, message)) << c.text.substr (0, 60);
        EXPECT_EQ (message, c.message) << c.text.substr (0, 60);
    }
}

TEST (StateEnvelope, PartsAboveTheBoundGiveNoText)
{
    const std::vector<std::uint8_t> half (33554432, 1);
    EXPECT_EQ (stateEnvelopeText (half, half).size(), 32 + 2 * 67108864u);
    EXPECT_TRUE (stateEnvelopeText (half, std::vector<std::uint8_t> (33554433, 2)).empty());
}

TEST (BoundedMemoryStream, WritesStopAtTheCapacityForGood)
{
    BoundedMemoryStream stream (10);
    char bytes[16] = "0123456789abcde";
    int32 written = -1;

    EXPECT_EQ (stream.write (bytes, 6, &written), kResultOk);
    EXPECT_EQ (written, 6);
    EXPECT_EQ (stream.write (bytes, 5, &written), kOutOfMemory);
    EXPECT_EQ (written, 0);
    EXPECT_TRUE (stream.overflowed());
    EXPECT_EQ (stream.write (bytes, 4, &written), kResultOk);
    EXPECT_EQ (stream.data().size(), 10u);
    EXPECT_TRUE (stream.overflowed());
    EXPECT_EQ (stream.write (nullptr, 1, nullptr), kInvalidArgument);
    EXPECT_EQ (stream.write (bytes, -1, nullptr), kInvalidArgument);
}

TEST (BoundedMemoryStream, SeeksAreCheckedAndMayPassTheEnd)
{
    BoundedMemoryStream stream (100);
    char bytes[100] {};
    int64 position = -1;

    stream.write (bytes, 100, nullptr);
    EXPECT_EQ (stream.seek (0, IBStream::kIBSeekSet, &position), kResultOk);
    stream.write (bytes, 10, nullptr);
    EXPECT_EQ (stream.data().size(), 100u);   // the extent written, not the cursor

    EXPECT_EQ (stream.seek (-11, IBStream::kIBSeekCur, &position), kResultFalse);
    EXPECT_EQ (stream.position(), 10);
    EXPECT_EQ (stream.seek (std::numeric_limits<int64>::max(), IBStream::kIBSeekCur, &position), kResultFalse);
    EXPECT_EQ (stream.seek (std::numeric_limits<int64>::min(), IBStream::kIBSeekEnd, &position), kResultFalse);
    EXPECT_EQ (stream.seek (1, IBStream::kIBSeekEnd, &position), kResultFalse);
    EXPECT_EQ (stream.seek (0, 7, &position), kInvalidArgument);

    BoundedMemoryStream roomy (1000);
    roomy.write (bytes, 4, nullptr);
    ASSERT_EQ (roomy.seek (20, IBStream::kIBSeekSet, &position), kResultOk);
    EXPECT_EQ (position, 20);
    int32 got = -1;
    EXPECT_EQ (roomy.read (bytes, 4, &got), kResultOk);
    EXPECT_EQ (got, 0);
    char marker = 'm';
    roomy.write (&marker, 1, nullptr);
    EXPECT_EQ (roomy.data().size(), 21u);
    EXPECT_EQ (roomy.data()[10], 0);

    int64 size = 0;
    roomy.getStreamSize (size);
    EXPECT_EQ (size, 21);
    EXPECT_EQ (roomy.setStreamSize (5), kResultOk);
    EXPECT_EQ (roomy.position(), 5);
    EXPECT_EQ (roomy.setStreamSize (1001), kOutOfMemory);
    EXPECT_TRUE (roomy.overflowed());
    EXPECT_EQ (roomy.tell (nullptr), kInvalidArgument);
}

TEST (BoundedMemoryStream, AnswersItsTwoInterfaces)
{
    BoundedMemoryStream stream;
    void* object = nullptr;
    EXPECT_EQ (stream.queryInterface (IBStream::iid, &object), kResultOk);
    EXPECT_EQ (object, static_cast<IBStream*> (&stream));
    EXPECT_EQ (stream.queryInterface (ISizeableStream::iid, &object), kResultOk);
    EXPECT_EQ (object, static_cast<ISizeableStream*> (&stream));
    EXPECT_EQ (stream.queryInterface (IPluginBase::iid, &object), kNoInterface);
    EXPECT_EQ (object, nullptr);
    EXPECT_EQ (stream.queryInterface (IBStream::iid, nullptr), kInvalidArgument);
}
