#include "audio/output/JuceAudioAdapter.h"

#include "audio/rack/MasterVstRack.h"
#include "session/CatalogValidation.h"
#include "platform/ThreadContract.h"

#include <chrono>
#include <cmath>
#include <set>

namespace vantrel
{
using orvane::audio::EngineCommand;
using orvane::audio::EngineCommandKind;
using orvane::audio::SinkAnswer;

namespace
{
const char* const rackBusyText = "VSTを準備中です。READYを保持しています";
const char* const notRegisteredText = "音源の登録がありません";
const char* const relinkText = "音源参照が変わりました。再リンクが必要です";
const char* const memoryLimitText = "再生用メモリ上限のため開始を保留しました";
const char* const rackSavingText = "VST設定を保存中です。READYを保持しています";
const char* const ringFullText = "音声命令が混雑しています";
const char* const preparingText = "音源を準備中です";

bool isTrackStartOfMain (EngineCommandKind kind)
{
    return kind == EngineCommandKind::goFromSilence || kind == EngineCommandKind::goHandOver
           || kind == EngineCommandKind::goFromPause;
}

std::int64_t steadyNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

std::string padMediaKey (int bank, int pad)
{
    return "pad-" + std::to_string (bank) + "-" + std::to_string (pad);
}

JuceAudioAdapter::JuceAudioAdapter()
    : JuceAudioAdapter (MediaLoader::LoadFunction {}, RackClock {}, MasterVstRackOptions {})
{
}

JuceAudioAdapter::JuceAudioAdapter (MediaLoader::LoadFunction load, RackClock rackClock, MasterVstRackOptions rackOptions)
    : masterRack (std::make_unique<MasterVstRack> (rackClock ? std::move (rackClock) : RackClock (steadyNanos), std::move (rackOptions))),
      registry (std::move (load)),
      session (engine, *masterRack, createDeviceType, millisecondCounter),
      offlineRenderer (session)
{
    engine.prepare (session.sampleRate());
    retired.reserve (8);
}

JuceAudioAdapter::~JuceAudioAdapter()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    stopOffline();
    closeDevice();
    session.stopRunning();
    masterRack->setPlaybackActive (false);
    registry.stopLoading();
    masterRack->stop();
}

// ---- commands ---------------------------------------------------------------------------------------

bool JuceAudioAdapter::pushCommand (EngineCommand command)
{
    return engine.push (command);
}

bool JuceAudioAdapter::pushAndDrainWhenIdle (EngineCommand command)
{
    if (! engine.push (command))
        return false;
    if (deviceIdle())
        engine.applyPending();
    return true;
}

SinkAnswer JuceAudioAdapter::submit (const orvane::audio::AudioCommand& command)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    using Kind = orvane::audio::AudioCommandKind;
    try
    {
        const auto key = command.sourceKey.value_or (std::string());
        const bool idleAllowed = command.kind == Kind::stopMain || command.kind == Kind::stopOutgoing
                                 || command.kind == Kind::mainEnded || command.kind == Kind::seekMain;
        if (! session.isRunning() && ! (! session.hasDevice() && idleAllowed))
            return SinkAnswer::refused;

        const auto answer = [] (bool ok) { return ok ? SinkAnswer::accepted : SinkAnswer::refused; };
        const auto push = [&] (EngineCommandKind kind, int voice, std::int64_t frames) {
            EngineCommand engineCommand;
            engineCommand.kind = kind;
            engineCommand.voice = voice;
            engineCommand.frames = frames;
            return answer (session.isRunning() ? pushCommand (engineCommand) : pushAndDrainWhenIdle (engineCommand));
        };
        switch (command.kind)
        {
            case Kind::goFromSilence:     return answer (startMedia (key, EngineCommandKind::goFromSilence, 1, command.playToken));
            case Kind::goHandOver:        return answer (startMedia (key, EngineCommandKind::goHandOver, 1, command.playToken));
            case Kind::goBesideOutgoing:  return answer (startMedia (key, EngineCommandKind::goBesideOutgoing, 1, command.playToken));
            case Kind::goRestartMain:     return answer (startMedia (key, EngineCommandKind::startTrackVoice, 1, command.playToken));
            case Kind::goRestartOutgoing: return answer (startMedia (key, EngineCommandKind::startTrackVoice, 0, command.playToken));
            case Kind::goFromPause:       return answer (startMedia (key, EngineCommandKind::goFromPause, 1, command.playToken));
            case Kind::stopMain:          return push (EngineCommandKind::stopVoice, 1, 0);
            case Kind::stopOutgoing:      return push (EngineCommandKind::stopVoice, 0, 0);
            case Kind::mainEnded:
            {
                const auto status = voiceStatus (0);
                if (status.playToken == slots[0].playToken && ! status.playing)
                    return SinkAnswer::accepted;
                return push (EngineCommandKind::stopVoice, 0, 0);
            }
            case Kind::togglePause:       return push (EngineCommandKind::togglePause, 1, 0);
            case Kind::seekMain:
                if (! std::isfinite (command.seconds) || std::abs (command.seconds) > 86400.0)
                    return SinkAnswer::refused;
                return push (EngineCommandKind::seek, 1, static_cast<std::int64_t> (session.sampleRate() * command.seconds));
        }
        // No default: the compiler checks that every kind is handled; a value outside the kinds is refused.
        return SinkAnswer::refused;
    }
    catch (...)
    {
        return SinkAnswer::refused;
    }
}

SinkAnswer JuceAudioAdapter::submit (const orvane::audio::PadAudioCommand& command)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    try
    {
        if (! session.isRunning())
            return SinkAnswer::refused;
        if (command.kind == orvane::audio::PadAudioCommandKind::stopAll)
        {
            EngineCommand stop;
            stop.kind = EngineCommandKind::stopAllPads;
            return pushCommand (stop) ? SinkAnswer::accepted : SinkAnswer::refused;
        }
        const auto index = padIndex (command.bank, command.pad);
        if (! index)
            return SinkAnswer::refused;
        const auto token = ++padTokenCounter;
        return startMedia (padMediaKey (command.bank, command.pad), EngineCommandKind::startPadVoice, *index + 2, token)
                   ? SinkAnswer::accepted : SinkAnswer::refused;
    }
    catch (...)
    {
        return SinkAnswer::refused;
    }
}

// ---- starts -----------------------------------------------------------------------------------------

bool JuceAudioAdapter::refuseStart (const char* text)
{
    return refuseStart (juce::String::fromUTF8 (text));
}

bool JuceAudioAdapter::refuseStart (const juce::String& text)
{
    lastErrorText = text;
    return false;
}

std::uint64_t JuceAudioAdapter::bytesInPlay (const std::shared_ptr<LoadedMedia>& candidate) const
{
    std::set<const PreparedPcm*> counted;
    std::uint64_t total = 0;
    const auto add = [&] (const std::shared_ptr<LoadedMedia>& m) {
        if (m != nullptr && m->pcm != nullptr && counted.insert (m->pcm.get()).second)
            total += m->pcm->byteSize();
    };
    for (const auto& slot : slots)
        add (slot.media);
    for (const auto& r : retired)
        add (r.media);
    add (candidate);
    return total;
}

void JuceAudioAdapter::retire (std::shared_ptr<LoadedMedia>& retiring) noexcept
{
    if (retiring == nullptr)
        return;
    // Room was reserved before the push, so this append cannot allocate.
    retired.push_back ({ std::move (retiring), engine.lastPushedSerial() });
    retiring.reset();
}

bool JuceAudioAdapter::startMedia (const std::string& key, EngineCommandKind engineKind, int voice, std::int64_t playToken)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (voice < 0 || voice >= numVoices)
        return refuseStart (notRegisteredText);
    if (masterRack->isBusy())
        return refuseStart (rackBusyText);
    const auto start = registry.prepareStart (key, session.sampleRate());
    using Readiness = MediaRegistry::Start::Readiness;
    switch (start.readiness)
    {
        case Readiness::notRegistered: return refuseStart (notRegisteredText);
        case Readiness::preparing:     return refuseStart (preparingText);
        case Readiness::loadFailed:    return refuseStart (start.loadError);
        case Readiness::fileChanged:   return refuseStart (relinkText);
        case Readiness::ready:         break;
    }

    const auto& pcm = start.media->pcm;
    const std::int64_t startFrame = (voice <= 1 && autoCueEnabled) ? pcm->cueFrame : 0;
    if (bytesInPlay (start.media) > playingLimit)
        return refuseStart (memoryLimitText);

    // Everything that can allocate or throw happens before the engine takes the command; after
    // the push only moves and swaps follow.
    retired.reserve (retired.size() + 2);
    const bool copiesMainToOutgoing = isTrackStartOfMain (engineKind);
    VoiceSlot newTarget { key, start.media, playToken };
    VoiceSlot newOutgoing = copiesMainToOutgoing ? slots[1] : VoiceSlot {};

    if (! masterRack->tryMarkPlaybackActive())
        return refuseStart (rackSavingText);

    EngineCommand command;
    command.kind = engineKind;
    command.pcm = pcm.get();
    command.playToken = playToken;
    command.frames = startFrame;
    command.voice = voice;
    command.gainDb = start.gainDb;
    command.stopOutgoingAtEnd = true;
    command.coefficients = orvane::audio::designEq (start.eq, session.sampleRate());
    command.playlistCoefficients = orvane::audio::designEq (playlistEq, session.sampleRate());
    command.playlistGainDb = playlistGainDb;
    command.sampleRate = session.sampleRate();
    if (! engine.push (command))
        return refuseStart (ringFullText);

    if (copiesMainToOutgoing)
    {
        retire (slots[0].media);
        std::swap (slots[0], newOutgoing);
    }
    retire (slots[(size_t) voice].media);
    std::swap (slots[(size_t) voice], newTarget);
    lastErrorText.clear();
    return true;
}

// ---- media registry -----------------------------------------------------------------------------

void JuceAudioAdapter::registerMedia (const std::string& key, const juce::String& audioPath, const FileSignature& signature,
                                      float gainDb, const juce::String& waveformCachePath, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! registry.registerMedia (key, audioPath, signature, gainDb, waveformCachePath, eq, session.sampleRate()))
        return;
    for (int v = 0; v < 2; ++v)
        if (slots[(size_t) v].key == key)
            trackEqRetry[(size_t) v] = true;
}

void JuceAudioAdapter::requestPrepare (const std::string& key, bool urgent)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    registry.requestPrepare (key, urgent, session.sampleRate());
}

// ---- gain and EQ ------------------------------------------------------------------------------------

std::optional<JuceAudioAdapter::HeldMix> JuceAudioAdapter::heldMix (const std::string& key) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return registry.heldMix (key);
}

void JuceAudioAdapter::setMediaGain (const std::string& key, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto clamped = clampGainDb (gainDb);
    if (! registry.storeGain (key, clamped))
        return;
    for (int v = 0; v < numVoices; ++v)
    {
        if (slots[(size_t) v].key != key)
            continue;
        EngineCommand command;
        command.kind = EngineCommandKind::setVoiceGain;
        command.voice = v;
        command.gainDb = clamped;
        gainRetry[(size_t) v] = ! pushAndDrainWhenIdle (command);
    }
}

void JuceAudioAdapter::setMediaEq (const std::string& key, const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    registry.storeEq (key, eq);
    for (int v = 0; v < 2; ++v)
        if (slots[(size_t) v].key == key)
            trackEqRetry[(size_t) v] = true;
}

void JuceAudioAdapter::setPlaylistEq (const EqSettings& eq, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (eq == playlistEq && gainDb == playlistGainDb)
        return;
    playlistEq = eq;
    playlistGainDb = gainDb;
    playlistEqDirty = true;
}

void JuceAudioAdapter::setMasterEq (const EqSettings& eq)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (eq == masterEq)
        return;
    masterEq = eq;
    masterEqDirty = true;
}

void JuceAudioAdapter::releasePad (int bank, int pad)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto index = padIndex (bank, pad);
    if (! index)
        return;
    auto& slot = slots[(size_t) (*index + 2)];
    if (slot.media == nullptr)
        return;
    retired.reserve (retired.size() + 1);
    retire (slot.media);
    slot.key.clear();
    slot.playToken = 0;
}

// ---- queries ----------------------------------------------------------------------------------------

std::shared_ptr<LoadedMedia> JuceAudioAdapter::loadedMedia (const std::string& key) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return registry.loadedMedia (key);
}

std::shared_ptr<LoadedMedia> JuceAudioAdapter::voiceMedia (int voice) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return voice >= 0 && voice < numVoices ? slots[(size_t) voice].media : nullptr;
}

std::int64_t JuceAudioAdapter::voiceToken (int voice) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return voice >= 0 && voice < numVoices ? slots[(size_t) voice].playToken : 0;
}

orvane::audio::VoiceStatus JuceAudioAdapter::voiceStatus (int voice)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (voice < 0 || voice >= numVoices)
        return {};
    const auto status = engine.voiceStatus (voice);
    if (status.playToken != 0)
        statusCache[(size_t) voice] = status;
    return statusCache[(size_t) voice];
}

std::int64_t JuceAudioAdapter::eqTargetPlayToken (const std::string& target)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    std::int64_t result = 0;
    const auto sounds = [] (const orvane::audio::VoiceStatus& s) { return s.playing && ! s.paused; };
    if (target == "@playlist")
    {
        const bool any = sounds (voiceStatus (0)) | sounds (voiceStatus (1));
        result = any ? -2 : 0;
    }
    else if (target == "@master")
    {
        bool any = false;
        for (int v = 0; v < numVoices; ++v)
            any = sounds (voiceStatus (v)) || any;
        result = any ? -1 : 0;
    }
    else if (! target.empty())
    {
        for (int v = 0; v < 2; ++v)
        {
            if (target != slots[(size_t) v].key)
                continue;
            const auto s = voiceStatus (v);
            if (sounds (s) && s.playToken == slots[(size_t) v].playToken)
                result = s.playToken;
        }
    }
    engine.analyzerTap().setSourceSelection (static_cast<std::intptr_t> (result));
    return result;
}
} // namespace vantrel
