#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/UiText.h"

namespace vantrel
{
namespace
{
// The messages of the layers below are composed in Japanese; they are translated where shown.
juce::String translated (const juce::String& text)
{
    return translateMessage (text);
}
} // namespace

SessionCoordinator::SessionCoordinator (const juce::File& dataRoot, const juce::File& outputFile, bool enabled,
                                        SessionCoordinatorOptions opts)
    : options (std::move (opts)),
      store (dataRoot),
      library (dataRoot),
      preferences (outputFile.getSiblingFile ("preferences.json")),
      audio (options.loadMedia, options.rackClock, options.rackOptions),
      outputChoice (audio, outputFile),
      audioEnabled (enabled)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (options.createDeviceType)
        audio.createDeviceType = options.createDeviceType;

    // Each failure below replaces the alert of an earlier one (preferences, then catalog), except
    // that a closed output never hides damaged saved data: the output label and the status line's
    // first rule show the output anyway.
    const auto readPrefs = preferences.load();
    if (! readPrefs.ok)
        alert = readPrefs.message;

    // A load that succeeds may still have something to say: an entry moved aside, a snapshot
    // that could not be written. The show plays all the same; the operator is told.
    const auto loaded = store.load (state);
    history.reset (state.document);
    if (! loaded.ok || loaded.message.isNotEmpty())
        alert = loaded.message;

    // The engine's switches come first: the device may call back from the open below on.
    masterLevels.applyAtStart (state.limiterEnabled);
    padBus.setMute (state.ui.padsFolded);

    if (audioEnabled)
    {
        const auto opened = outputChoice.openAtStart (options.workerExecutable);
        if (! opened.ok)
        {
            status = opened.message;
            statusTime = now();
            if (loaded.ok && loaded.message.isEmpty() && readPrefs.ok)
                alert = opened.message;
        }
    }
    else
    {
        audio.startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    }

    registerMedia (true);
    updateReady();
    preloadMedia();

    // Copies that an earlier run left unfinished, or finished but not yet saved, are taken up again.
    if (! store.recoveryRequired.load())
        libraryCopies.resumeJournals();

    // The importer first offers the imports that an earlier run moved in but never saved.
    if ((audioEnabled || options.cdImportSetup.has_value()) && ! store.recoveryRequired.load())
        cdImports.setImporter (std::make_unique<AudioCdImport> (store.root, options.cdImportSetup.value_or (CdImportSetup {})));
}

SessionCoordinator::~SessionCoordinator()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // Jobs first: they write into members that go below. Then the device, so that nothing
    // renders while the rest is torn down; the members follow in reverse order of declaration.
    pool.stop();
    if (audioEnabled)
        audio.closeDevice();
    else
        audio.stopOffline();
    cdImports.setImporter (nullptr);   // joins its worker; a running import is cancelled and leaves nothing
}

std::uint32_t SessionCoordinator::now() const
{
    return options.millisecondClock ? options.millisecondClock() : juce::Time::getMillisecondCounter();
}

bool SessionCoordinator::isOutputOpen() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return audioEnabled && audio.hasDevice() && audio.isRunning();
}

// ---- status line --------------------------------------------------------------------------------

void SessionCoordinator::setStatus (const juce::String& text)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    status = text;
    statusTime = now();
    alert.clear();
}

void SessionCoordinator::setAlert (const juce::String& text)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    status = text;
    statusTime = now();
    alert = text;
}

void SessionCoordinator::setProgress (const juce::String& text)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    status = text;
    statusTime = now();
}

juce::String SessionCoordinator::outputProblem() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (isOutputOpen() || quit.isQuitting())
        return {};
    return translate ("OUT: 出力先なし — ") + translated (audio.lastError());
}

juce::String SessionCoordinator::statusText() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load() && ! store.hasRecoverySource())
        return translate ("保存データを読めず、読み取れるバックアップもありません。ファイルはそのまま残し、自動保存を保留しています。壊れたファイルを直すか移してから起動し直してください。")
             + translated (alert);
    if (store.recoveryRequired.load())
        return translate ("保存データの復旧確認が必要です。") + translated (alert);
    const auto lastSave = saves.lastResult();
    if (! lastSave.ok)
        return translate ("自動保存失敗: ") + translated (lastSave.message);
    if (const auto problem = outputProblem(); problem.isNotEmpty())
        return problem;
    if (alert.isNotEmpty())
        return translated (alert);
    if (audio.rack().needsAttention())
        return translate ("VSTに確認事項があります · VSTボタンで状態を確認してください");
    // Only PAUSE resumes: GO would drop the paused tracks and start READY, so it is not offered.
    if (playback.cue().paused)
        return liveLock.isOn() ? translate ("一時停止中 · LIVE LOCK ON") : translate ("一時停止中 · ") + preferences.pauseKeyText();
    // Unsigned difference: right across the counter's wrap.
    if (status.isNotEmpty() && (std::uint32_t) (now() - statusTime) < statusShowMs)
        return status;
    if (liveLock.isOn())
        return translate ("LIVE LOCK ON");
    if (saves.isBusy())
        return translate ("自動保存中");
    return translate ("Vantrel! · 準備完了");
}

bool SessionCoordinator::statusIsWarning() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return store.recoveryRequired.load() || ! saves.lastResult().ok || (! isOutputOpen() && ! quit.isQuitting())
        || alert.isNotEmpty() || audio.rack().needsAttention();
}

// ---- saving --------------------------------------------------------------------------------------

CatalogDocument SessionCoordinator::documentToSave() const
{
    auto document = history.current();
    // The live values of a drag are not an edit yet: what is saved is what was before it.
    mix.restoreBeforeDrag (document);
    return document;
}

void SessionCoordinator::submitState()
{
    state.document = documentToSave();
    saves.submit (state);
}
void SessionCoordinator::setOsApply (std::function<StoreResult (const Preferences&)> apply)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    preferences.setOsApply (std::move (apply));
}

bool SessionCoordinator::waitForSaves()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return saves.waitIdle();
}

std::size_t SessionCoordinator::postedCopies() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return jobResults.postedLibraryCopies();
}

} // namespace vantrel
