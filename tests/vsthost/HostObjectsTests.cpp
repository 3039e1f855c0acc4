// The host-side objects plug-ins talk to: class-id text, UTF-16 text, the host application and
// its interface list, messages and attribute lists, and the component handler.
#include "vsthost/ClassIdText.h"
#include "vsthost/OrvaneComponentHandler.h"
#include "vsthost/OrvaneHostApplication.h"
#include "vsthost/PluginContext.h"
#include "vsthost/Utf16Text.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstprefetchablesupport.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace orvane::vsthost;
using namespace Steinberg;

TEST (ClassIdText, PrintsAndParsesTheDeclaredBytesStrictly)
{
    const TUID declared = INLINE_UID (0xABCDEF01, 0x9182FAEB, 0x4F727674, 0x4F676E31);
    EXPECT_EQ (classIdText (declared), "ABCDEF019182FAEB4F7276744F676E31");

    TUID parsed {};
    ASSERT_TRUE (parseClassIdText ("abcdef019182faeb4f7276744F676E31", parsed));
    EXPECT_EQ (std::memcmp (parsed, declared, sizeof (TUID)), 0);

    for (const std::string bad : { "ABCDEF019182FAEB4F7276744F676E3", "ABCDEF019182FAEB4F7276744F676E311",
                                   "+BCDEF019182FAEB4F7276744F676E31", " BCDEF019182FAEB4F7276744F676E31",
                                   "ABCDEF019182FAEB4F7276744F676EG1", "ABCDEF01-9182-FAEB-4F72-76744F676E" })
    {
        TUID untouched {};
        EXPECT_FALSE (parseClassIdText (bad, untouched)) << bad;
        EXPECT_EQ (classIdText (untouched), std::string (32, '0'));
    }
}

TEST (Utf16Text, ConvertsBothWaysWithSurrogates)
{
    const std::u16string text = u"Gain \u97f3\u91cf \U0001F3B5";
    const auto utf8 = utf16ToUtf8 (reinterpret_cast<const char16*> (text.c_str()), 128);
    EXPECT_EQ (utf8, "Gain \xe9\x9f\xb3\xe9\x87\x8f \xf0\x9f\x8e\xb5");

    std::u16string back;
    ASSERT_TRUE (utf8ToUtf16 (utf8, back));
    EXPECT_EQ (back, text);

    const char16 lone[] = { 'a', 0xD800, 'b', 0 };
    EXPECT_EQ (utf16ToUtf8 (lone, 4), "a\xef\xbf\xbd" "b");
    EXPECT_EQ (utf16ToUtf8 (reinterpret_cast<const char16*> (u"abcdef"), 3), "abc");
    EXPECT_FALSE (utf8ToUtf16 ("\xc0\xaf", back));
    EXPECT_FALSE (utf8ToUtf16 ("\xed\xa0\x80", back));
    EXPECT_FALSE (utf8ToUtf16 ("\xe9\x9f", back));
}

TEST (OrvaneHostApplication, OffersExactlyTheSixInterfacesAfterTheTrim)
{
    OrvaneHostApplication application;
    application.trimInterfaceSupport();
    application.trimInterfaceSupport();   // repeating it changes nothing

    Vst::IPlugInterfaceSupport* support = nullptr;
    ASSERT_EQ (application.queryInterface (Vst::IPlugInterfaceSupport::iid, reinterpret_cast<void**> (&support)), kResultOk);

    struct Expectation
    {
        const FUID& iid;
        bool supported;
    };

    const Expectation expectations[] {
        { Vst::IComponent::iid, true },
        { Vst::IAudioProcessor::iid, true },
        { Vst::IEditController::iid, true },
        { Vst::IConnectionPoint::iid, true },
        { Vst::IPrefetchableSupport::iid, true },
        { Vst::IProcessContextRequirements::iid, true },
        { Vst::IMidiMapping::iid, false },
        { Vst::IUnitInfo::iid, false },
        { Vst::IUnitData::iid, false },
        { Vst::IProgramListData::iid, false },
        { Vst::IEditController2::iid, false },
    };

    for (const auto& e : expectations)
        EXPECT_EQ (support->isPlugInterfaceSupported (e.iid.toTUID()), e.supported ? kResultTrue : kResultFalse);

    EXPECT_EQ (application.interfaceSupport().size(), 6u);
}

TEST (OrvaneHostApplication, NameMessagesAndAttributeLists)
{
    auto& application = OrvaneHostApplication::instance();
    Vst::String128 name {};
    ASSERT_EQ (application.getName (name), kResultOk);
    EXPECT_EQ (utf16ToUtf8 (name, 128), "Orvane VST Host");

    TUID messageId;
    std::memcpy (messageId, Vst::IMessage::iid.toTUID(), sizeof (TUID));
    Vst::IMessage* message = nullptr;
    ASSERT_EQ (application.createInstance (messageId, messageId, reinterpret_cast<void**> (&message)), kResultTrue);
    message->setMessageID ("hello");
    EXPECT_STREQ (message->getMessageID(), "hello");

    auto* attributes = message->getAttributes();
    attributes->setInt ("n", -5);
    attributes->setFloat ("f", 0.25);
    attributes->setString ("s", reinterpret_cast<const Vst::TChar*> (u"text"));
    const char blob[] = { 1, 2, 3 };
    attributes->setBinary ("b", blob, 3);

    int64 n = 0;
    double f = 0;
    Vst::TChar text[3] {};
    const void* data = nullptr;
    uint32 size = 0;
    EXPECT_EQ (attributes->getInt ("n", n), kResultOk);
    EXPECT_EQ (n, -5);
    EXPECT_EQ (attributes->getFloat ("f", f), kResultOk);
    EXPECT_EQ (f, 0.25);
    EXPECT_EQ (attributes->getString ("s", text, sizeof (text)), kResultOk);
    EXPECT_EQ (utf16ToUtf8 (text, 3), "te");
    EXPECT_EQ (attributes->getBinary ("b", data, size), kResultOk);
    ASSERT_EQ (size, 3u);
    EXPECT_EQ (std::memcmp (data, blob, 3), 0);
    EXPECT_EQ (attributes->getInt ("f", n), kResultFalse);
    EXPECT_EQ (attributes->getInt ("missing", n), kResultFalse);
    message->release();

    TUID otherId {};
    void* object = &otherId;
    EXPECT_EQ (application.createInstance (otherId, messageId, &object), kResultFalse);
    EXPECT_EQ (object, nullptr);
}

TEST (PluginContext, ABackendReleasingLateNeverClearsTheContextOfALiveOne)
{
    auto& application = OrvaneHostApplication::instance();
    acquirePluginContext (&application);   // the old backend
    acquirePluginContext (&application);   // the backend that replaces it
    releasePluginContext (&application);   // the old one goes
    EXPECT_EQ (currentPluginContext(), &application);
    releasePluginContext (&application);
    EXPECT_EQ (currentPluginContext(), nullptr);
    releasePluginContext (&application);
    EXPECT_EQ (currentPluginContext(), nullptr);
}

TEST (OrvaneComponentHandler, ForwardsWhatThePluginReports)
{
    std::vector<std::pair<std::uint32_t, double>> edits;
    std::int32_t restartFlags = 0;
    std::vector<bool> dirtyCalls;
    OrvaneComponentHandler handler ([&] (std::uint32_t id, double value) { edits.push_back ({ id, value }); },
                                    [&] (std::int32_t flags) { restartFlags |= flags; },
                                    [&] (bool dirty) { dirtyCalls.push_back (dirty); });

    EXPECT_EQ (handler.performEdit (7, 0.5), kResultOk);
    EXPECT_EQ (handler.performEdit (7, 1.0), kResultOk);
    EXPECT_EQ (handler.performEdit (7, 1.0000001), kInvalidArgument);
    EXPECT_EQ (handler.performEdit (7, -0.0001), kInvalidArgument);
    EXPECT_EQ (handler.performEdit (7, std::nan ("")), kInvalidArgument);
    EXPECT_EQ (edits.size(), 2u);
    EXPECT_EQ (handler.restartComponent (Vst::kIoChanged), kResultOk);
    EXPECT_EQ (handler.restartComponent (Vst::kLatencyChanged), kResultOk);
    EXPECT_EQ (restartFlags, Vst::kIoChanged | Vst::kLatencyChanged);
    handler.setDirty (true);
    handler.setDirty (false);
    EXPECT_EQ (dirtyCalls, (std::vector<bool> { true, false }));
    EXPECT_EQ (handler.requestOpenEditor ("editor"), kNotImplemented);
    EXPECT_EQ (handler.beginEdit (1), kResultOk);
    EXPECT_EQ (handler.addRef(), 1000u);

    void* object = nullptr;
    ASSERT_EQ (handler.queryInterface (Vst::IComponentHandler2::iid, &object), kResultOk);
    EXPECT_EQ (object, static_cast<Vst::IComponentHandler2*> (&handler));
    EXPECT_EQ (handler.queryInterface (Vst::IMessage::iid, &object), kNoInterface);
    EXPECT_EQ (handler.queryInterface (Vst::IMessage::iid, nullptr), kInvalidArgument);
}
