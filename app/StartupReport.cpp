#include "app/StartupReport.h"

#include "app/SessionCoordinator.h"
#include "session/AtomicFileWriter.h"
#include "session/UiLanguage.h"

#include <cstdlib>

namespace vantrel
{
juce::var startupReport (const SessionCoordinator& session, const StartupFacts& facts)
{
    bool padActive = false;
    for (int bank = 1; bank <= numPadBanks && ! padActive; ++bank)
        for (int pad = 1; pad <= numPadsPerBank && ! padActive; ++pad)
            padActive = session.isPadActive (bank, pad);
    const bool open = session.isOutputOpen();

    auto* report = new juce::DynamicObject();
    report->setProperty ("application", "Vantrel!");
    report->setProperty ("version", "1.0.0");
    report->setProperty ("windowCreated", facts.windowCreated);
    report->setProperty ("english", uiLanguage());
    report->setProperty ("profileRoot", session.dataRoot().getFullPathName());
    report->setProperty ("audioOpened", open);
    report->setProperty ("actualOutput", open ? session.audioAdapter().openOutputName() : juce::String());
    report->setProperty ("keyboardEdgeFilter", facts.keyboardEdgeFilter);
    report->setProperty ("powerRequest", facts.powerRequest);
    report->setProperty ("automaticPlayback", session.cueState().main.has_value() || session.cueState().outgoing.has_value() || padActive);
    report->setProperty ("physicalAudibility", "NOT_VERIFIED");
    report->setProperty ("status", session.statusText());
    report->setProperty ("sampleRate", session.audioAdapter().sampleRate());
    report->setProperty ("bufferSamples", session.audioAdapter().bufferSamples());
    report->setProperty ("reportedOutputLatencySamples", session.audioAdapter().driverLatencySamples());
    report->setProperty ("dspLatencySamples", 192);
    report->setProperty ("systemSoundsGuardRunning", facts.systemSoundsGuardRunning);
    report->setProperty ("systemSoundsReady", facts.systemSoundsReady);
    report->setProperty ("systemSoundsMutedSessions", facts.systemSoundsMutedSessions);
    report->setProperty ("systemSoundsError", facts.systemSoundsError);
    return juce::var (report);
}

namespace
{
juce::String reportPath()
{
    const char* value = std::getenv ("VANTREL_STARTUP_REPORT");
    const auto path = juce::String::fromUTF8 (value != nullptr ? value : "");
    return path.startsWithChar ('/') ? path : juce::String();
}
} // namespace

bool startupReportAsked()
{
    return reportPath().isNotEmpty();
}

void writeStartupReportIfAsked (SessionCoordinator& session, const StartupFacts& facts)
{
    const auto path = reportPath();
    if (path.isEmpty())
        return;
    session.whenOutputSettled ([&session, facts, path] {
        (void) writeFileAtomically (juce::File (path), juce::JSON::toString (startupReport (session, facts), false, 15), false);
    });
}
} // namespace vantrel
