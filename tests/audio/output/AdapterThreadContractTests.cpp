// The adapter's entry points check the calling thread in checked builds: the commands, the
// setters, the tick and the device operations belong to the message thread, which the device
// callback and the offline renderer never are. A call from the wrong thread stops the program
// with the broken contract instead of racing the audio thread.
#include "AdapterTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{
using namespace vantrel;
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;

#if VANTREL_THREAD_CHECKS
TEST (JuceAudioAdapterThreadContracts, AMessageThreadEntryPointCalledFromAnotherThreadStopsWithTheBrokenContract)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    struct Case
    {
        ThreadRole caller;
        std::function<void (JuceAudioAdapter&)> call;
        const char* report;
    };

    const Case cases[] = {
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.submit (AudioCommand { AudioCommandKind::stopMain, {}, 0.0, 0 }); },
          "submit must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.submit (PadAudioCommand { PadAudioCommandKind::stopAll, 1, 0 }); },
          "submit must run on the message thread, called on the audio thread" },
        { ThreadRole::control, [] (JuceAudioAdapter& a) { a.registerMedia ("row", "/nowhere.wav", {}, 0.0f, {}, {}); },
          "registerMedia must run on the message thread, called on the control thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.requestPrepare ("row", true); },
          "requestPrepare must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.setMasterGainDb (-3.0f); },
          "setMasterGainDb must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.setMasterEq ({}); },
          "setMasterEq must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.setPadMute (true); },
          "setPadMute must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.tick(); },
          "tick must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.openOutput ({}, false); },
          "openOutput must run on the message thread, called on the audio thread" },
        { ThreadRole::control, [] (JuceAudioAdapter& a) { a.closeDevice(); },
          "closeDevice must run on the message thread, called on the control thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.listOutputDevices ({}); },
          "listOutputDevices must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.rack(); },
          "rack must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.renderOfflineFrames (1); },
          "renderOfflineFrames must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.lastError(); },
          "lastError must run on the message thread, called on the audio thread" },
        { ThreadRole::control, [] (JuceAudioAdapter& a) { a.hasDevice(); },
          "hasDevice must run on the message thread, called on the control thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.storedOutputSettings(); },
          "storedOutputSettings must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.openOutputName(); },
          "openOutputName must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.reopensAutomatically(); },
          "reopensAutomatically must run on the message thread, called on the audio thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.retiredCount(); },
          "retiredCount must run on the message thread, called on the audio thread" },
        { ThreadRole::control, [] (JuceAudioAdapter& a) { a.mediaRegistrations(); },
          "mediaRegistrations must run on the message thread, called on the control thread" },
        { ThreadRole::audio, [] (JuceAudioAdapter& a) { a.stopOffline(); },
          "stopOffline must run on the message thread, called on the audio thread" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.report);
        EXPECT_DEATH (
            {
                auto adapter = std::make_unique<JuceAudioAdapter> (test::constantMedia (1.0, 0.25f), [] { return std::int64_t { 0 }; },
                                                                   test::privateRackOptions());
                const ThreadRoleScope role (c.caller);
                c.call (*adapter);
            },
            c.report);
    }
}

// The device callback takes the audio role itself, whatever thread the driver calls it on, and
// gives the thread its role back afterwards.
TEST (JuceAudioAdapterThreadContracts, TheDeviceCallbackRendersInTheAudioRoleAndRestoresTheCallersRole)
{
    JuceAudioAdapter adapter { test::constantMedia (1.0, 0.25f), [] { return std::int64_t { 0 }; }, test::privateRackOptions() };
    std::vector<float> left (64), right (64);
    float* channels[] = { left.data(), right.data() };
    adapter.audioDeviceIOCallbackWithContext (nullptr, 0, channels, 2, 64, {});
    EXPECT_EQ (currentThreadRole(), ThreadRole::message);
    EXPECT_EQ (adapter.statistics().callbacks.load(), 1);
}
#endif
} // namespace
