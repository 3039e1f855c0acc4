#include "audio/engine/MixEngine.h"


#include "platform/ThreadContract.h"
#include "session/GainRange.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane::audio
{
namespace
{
constexpr std::uint64_t ringMask = MixEngine::ringSize - 1;
static_assert ((MixEngine::ringSize & ringMask) == 0, "the ring size must be a power of two");

/** 10^(clamp(dB, -60, +12) / 20). A non-finite value counts as 0 dB, as every gain that
    enters the session does, so one bad command cannot turn a voice into NaN for good. */
float linearGain (float dB) noexcept
{
    if (! std::isfinite (dB))
        return 1.0f;
    return (float) std::pow (10.0, (double) std::clamp (dB, vantrel::minGainDb, vantrel::maxGainDb) / 20.0);
}

bool isPadVoice (int voice) noexcept
{
    return voice >= MixEngine::firstPadVoice;
}

bool isValidVoice (std::int32_t voice) noexcept
{
    return (std::uint32_t) voice < (std::uint32_t) MixEngine::numVoices;
}

/** A rate the smoothing and ramp lengths can be derived from. */
double usableRate (double sampleRate) noexcept
{
    return std::isfinite (sampleRate) ? sampleRate : 48000.0;
}
} // namespace

// Every member starts as its initialiser says: idle voices (gains 1, flat TRACK EQ, stop-OUTGOING
// flag set), zero status slots, inert ring slots, flat buses, 48000 Hz until prepared.
MixEngine::MixEngine() = default;

void MixEngine::prepare (double sampleRate)
{
    const bool rateChanged = ! (sampleRate == rate);
    rate = sampleRate;

    const double derived = usableRate (sampleRate);
    smoothing = (float) (1.0 - std::exp (-1.0 / (0.02 * std::max (derived, 1.0))));
    rampLength = (std::int32_t) std::min (std::max (0.02 * derived, 1.0), (double) std::numeric_limits<std::int32_t>::max());
    master.prepare (sampleRate);

    if (rateChanged)
    {
        busEq.setCoefficients (EqCoefficients::identity());
        finalEq.setCoefficients (EqCoefficients::identity());
    }
}

void MixEngine::clearHeldAudio()
{
    finalEq.clearState();
    master.reset();
}

bool MixEngine::sounding() const noexcept
{
    VANTREL_ASSERT_AUDIO_THREAD;
    for (int v = firstPadVoice; v < numVoices; ++v)
        if (voices[(std::size_t) v].playing)
            return true;
    return ! trackPause && trackVoicePlays();
}

bool MixEngine::push (EngineCommand& command)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::uint64_t producer = producerIndex.load (std::memory_order_relaxed);
    const std::uint64_t next = (producer + 1) & ringMask;
    if (next == consumerIndex.load (std::memory_order_acquire))
        return false;
    if (! isValidVoice (command.voice))
        return false;
    if (command.pcm != nullptr && (command.pcm->left.empty() || command.pcm->right.size() != command.pcm->left.size()))
        return false;

    command.serial = ++serialCounter;
    ring[(std::size_t) producer] = command;
    producerIndex.store (next, std::memory_order_release);
    return true;
}

int MixEngine::queuedCommands() const noexcept
{
    const std::uint64_t producer = producerIndex.load (std::memory_order_acquire);
    const std::uint64_t consumer = consumerIndex.load (std::memory_order_acquire);
    return (int) ((producer - consumer) & ringMask);
}

void MixEngine::drainRing()
{
    std::uint64_t consumer = consumerIndex.load (std::memory_order_relaxed);
    const std::uint64_t producer = producerIndex.load (std::memory_order_acquire);
    while (consumer != producer)
    {
        applyCommand (ring[(std::size_t) consumer]);
        consumer = (consumer + 1) & ringMask;
        consumerIndex.store (consumer, std::memory_order_release);
    }
}

bool MixEngine::trackVoicePlays() const noexcept
{
    return voices[outgoingVoice].playing || voices[mainVoice].playing;
}

void MixEngine::applyCommand (const EngineCommand& command)
{
    const std::int32_t target = command.voice;
    const bool targetValid = isValidVoice (target);

    switch (command.kind)
    {
        case EngineCommandKind::goFromSilence:
        case EngineCommandKind::goHandOver:
            voices[outgoingVoice] = voices[mainVoice];
            startVoice (mainVoice, command);
            trackPause = false;
            break;

        case EngineCommandKind::goBesideOutgoing:
            startVoice (mainVoice, command);
            trackPause = false;
            break;

        case EngineCommandKind::goFromPause:
            voices[outgoingVoice] = voices[mainVoice];
            voices[outgoingVoice].playing = false;
            voices[outgoingVoice].reachedEnd = false;
            startVoice (mainVoice, command);
            trackPause = false;
            break;

        case EngineCommandKind::startTrackVoice:
        case EngineCommandKind::startPadVoice:
            if (targetValid)
                startVoice (target, command);
            break;

        case EngineCommandKind::stopVoice:
            if (targetValid)
            {
                voices[(std::size_t) target].playing = false;
                voices[(std::size_t) target].reachedEnd = false;
            }
            break;

        case EngineCommandKind::stopAllPads:
            for (int v = firstPadVoice; v < numVoices; ++v)
            {
                voices[(std::size_t) v].playing = false;
                voices[(std::size_t) v].reachedEnd = false;
            }
            break;

        case EngineCommandKind::togglePause:
            trackPause = ! trackPause;
            break;

        case EngineCommandKind::seek:
            if (targetValid)
                seekVoice (voices[(std::size_t) target], command.frames);
            break;

        case EngineCommandKind::setVoiceGain:
            if (targetValid)
            {
                auto& voice = voices[(std::size_t) target];
                if (command.playToken == 0 || command.playToken == voice.playToken)
                    voice.targetGain = linearGain (command.gainDb);
            }
            break;

        case EngineCommandKind::setTrackEq:
            if (target == outgoingVoice || target == mainVoice)
            {
                auto& voice = voices[(std::size_t) target];
                const bool tokenMatches = command.playToken == 0 || command.playToken == voice.playToken;
                const bool rateMatches = command.sampleRate == 0.0 || command.sampleRate == rate;
                if (tokenMatches && rateMatches)
                    voice.trackEq.rampTo (command.coefficients, rampLength);
            }
            break;

        case EngineCommandKind::setPlaylistBus:
            if (command.sampleRate == rate)
            {
                busEq.rampTo (command.coefficients, rampLength);
                playlistTargetGain = linearGain (command.gainDb);
            }
            break;

        case EngineCommandKind::setMasterEq:
            if (command.sampleRate == rate)
                finalEq.rampTo (command.coefficients, rampLength);
            break;
    }
    // No default: the compiler checks that every kind is handled; a value outside the kinds
    // falls through and changes nothing but the applied serial.

    if (! trackVoicePlays())
        trackPause = false;

    lastApplied.store (command.serial, std::memory_order_release);
}

void MixEngine::startVoice (int index, const EngineCommand& command)
{
    if (! isPadVoice (index))
    {
        const float busGain = linearGain (command.playlistGainDb);
        if (! trackVoicePlays())
        {
            busEq.setCoefficients (command.playlistCoefficients);
            playlistGain = busGain;
        }
        else
        {
            busEq.rampTo (command.playlistCoefficients, rampLength);
        }
        playlistTargetGain = busGain;
    }

    auto& voice = voices[(std::size_t) index];
    voice.pcm = command.pcm;
    voice.playToken = command.playToken;
    voice.position = command.pcm != nullptr ? std::clamp<std::int64_t> (command.frames, 0, voice.length() - 1) : 0;
    voice.playing = command.pcm != nullptr;
    voice.reachedEnd = false;
    voice.stopOutgoingAtEnd = command.stopOutgoingAtEnd;
    voice.gain = voice.targetGain = linearGain (command.gainDb);
    voice.trackEq = EqProcessor();
    voice.trackEq.setCoefficients (command.coefficients);
}

void MixEngine::seekVoice (MixVoice& voice, std::int64_t offset)
{
    if (! voice.playing || voice.pcm == nullptr)
        return;

    // position + offset clamped to 0..length, without overflowing for any offset.
    const std::int64_t length = voice.length();
    const std::int64_t position = std::clamp<std::int64_t> (voice.position, 0, length);
    if (offset >= length - position)
        voice.position = length;
    else if (offset <= -position)
        voice.position = 0;
    else
        voice.position = position + offset;
}

void MixEngine::render (float* const* channels, int numChannels, int numSamples, bool applyMaster)
{
    VANTREL_ASSERT_AUDIO_THREAD;
    if (channels == nullptr || numChannels < 1 || numSamples < 1)
        return;

    drainRing();

    const float padTarget = linearGain (padBusGain.load (std::memory_order_relaxed));
    const bool padsMuted = padMute.load (std::memory_order_relaxed);
    const std::intptr_t selection = tap.beginBlock (rate);

    for (int offset = 0; offset < numSamples; offset += chunkFrames)
        mixChunk (channels, numChannels, offset, std::min (chunkFrames, numSamples - offset), selection, padTarget,
                  padsMuted);

    if (applyMaster)
        master.process (channels, numChannels, numSamples);

    publishStatus();
}

void MixEngine::mixPads (int count)
{
    std::fill (padSumLeft.begin(), padSumLeft.begin() + count, 0.0f);
    std::fill (padSumRight.begin(), padSumRight.begin() + count, 0.0f);

    // Voice by voice into the per-sample sums: each sample still adds the pads in index order,
    // so the sums equal those of a sample-by-sample loop.
    const float c = smoothing;
    for (int v = firstPadVoice; v < numVoices; ++v)
    {
        auto& voice = voices[(std::size_t) v];
        if (! voice.playing || voice.pcm == nullptr)
            continue;

        const std::int64_t left = std::max<std::int64_t> (voice.length() - voice.position, 0);
        const int frames = (int) std::min<std::int64_t> (count, left);
        const float* inLeft = voice.pcm->left.data() + voice.position;
        const float* inRight = voice.pcm->right.data() + voice.position;
        float gain = voice.gain;
        const float targetGain = voice.targetGain;
        if (gain + (targetGain - gain) * c == gain)
        {
            // A settled gain: every smoothing step would leave it exactly as it is.
            for (int i = 0; i < frames; ++i)
            {
                padSumLeft[(std::size_t) i] += inLeft[i] * gain;
                padSumRight[(std::size_t) i] += inRight[i] * gain;
            }
        }
        else
        {
            for (int i = 0; i < frames; ++i)
            {
                gain = gain + (targetGain - gain) * c;
                padSumLeft[(std::size_t) i] += inLeft[i] * gain;
                padSumRight[(std::size_t) i] += inRight[i] * gain;
            }
            voice.gain = gain;
        }
        voice.position += frames;

        if (frames < count)
        {
            voice.playing = false; // the sample after its last frame finds it at its end
            voice.reachedEnd = true;
        }
    }
}

void MixEngine::mixChunk (float* const* channels, int numChannels, int offset, int count, std::intptr_t selection,
                          float padTarget, bool padsMuted)
{
    mixPads (count);

    const float c = smoothing;
    auto& outgoing = voices[outgoingVoice];
    auto& main = voices[mainVoice];

    for (int i = 0; i < count; ++i)
    {
        // MAIN's end comes first: with its flag set it silences OUTGOING in the same sample.
        if (main.playing && ! trackPause && main.pcm != nullptr && main.position >= main.length())
        {
            main.playing = false;
            main.reachedEnd = true;
            if (main.stopOutgoingAtEnd)
            {
                outgoing.playing = false;
                outgoing.reachedEnd = false;
            }
        }

        float trackLeft = 0.0f;
        float trackRight = 0.0f;
        if (! trackPause)
        {
            for (auto* voice : { &outgoing, &main })
            {
                if (! voice->playing || voice->pcm == nullptr)
                    continue;
                if (voice->position >= voice->length())
                {
                    voice->playing = false;
                    voice->reachedEnd = true;
                    continue;
                }

                voice->gain = voice->gain + (voice->targetGain - voice->gain) * c;
                double left = voice->pcm->left[(std::size_t) voice->position];
                double right = voice->pcm->right[(std::size_t) voice->position];
                voice->trackEq.process (left, right);
                if (selection != 0 && selection == voice->playToken)
                    tap.push ((float) left, (float) right, selection, rate);
                ++voice->position;
                trackLeft += (float) (left * voice->gain);
                trackRight += (float) (right * voice->gain);
            }
        }

        if (! trackPause && (outgoing.playing || main.playing))
        {
            double left = trackLeft;
            double right = trackRight;
            busEq.process (left, right);
            if (selection == AnalyzerFrame::trackBus)
                tap.push ((float) left, (float) right, selection, rate);
            playlistGain = playlistGain + (playlistTargetGain - playlistGain) * c;
            trackLeft = (float) (left * playlistGain);
            trackRight = (float) (right * playlistGain);
        }

        padGain = padGain + (padTarget - padGain) * c;
        if (! padsMuted)
        {
            trackLeft += padGain * padSumLeft[(std::size_t) i];
            trackRight += padGain * padSumRight[(std::size_t) i];
        }

        double left = trackLeft;
        double right = trackRight;
        finalEq.process (left, right);
        if (selection == AnalyzerFrame::masterOutput)
            tap.push ((float) left, (float) right, selection, rate);

        const int frame = offset + i;
        if (numChannels == 1)
        {
            if (channels[0] != nullptr)
                channels[0][frame] = (float) ((left + right) * 0.5);
            continue;
        }
        if (channels[0] != nullptr)
            channels[0][frame] = (float) left;
        if (channels[1] != nullptr)
            channels[1][frame] = (float) right;
        for (int ch = 2; ch < numChannels; ++ch)
            if (channels[ch] != nullptr)
                channels[ch][frame] = 0.0f;
    }
}

void MixEngine::applyPending()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    std::uint64_t consumer = consumerIndex.load (std::memory_order_relaxed);
    const std::uint64_t producer = producerIndex.load (std::memory_order_acquire);
    while (consumer != producer)
    {
        applyCommand (ring[(std::size_t) consumer]);
        consumer = (consumer + 1) & ringMask;
    }
    consumerIndex.exchange (consumer, std::memory_order_acq_rel);

    trackPause = trackVoicePlays();
    for (int v = firstPadVoice; v < numVoices; ++v)
        voices[(std::size_t) v].playing = false;

    publishStatus();
}

VoiceStatus MixEngine::voiceStatus (int voice) const noexcept
{
    if (! isValidVoice (voice))
        return {};
    return statusSlots[(std::size_t) voice].read();
}

void MixEngine::setPadBusGain (float dB) noexcept
{
    if (! std::isfinite (dB))
        return;
    padBusGain.exchange (std::clamp (dB, vantrel::minGainDb, vantrel::maxGainDb), std::memory_order_relaxed);
}

void MixEngine::publishStatus() noexcept
{
    for (int v = 0; v < numVoices; ++v)
    {
        const auto& voice = voices[(std::size_t) v];
        std::uint32_t flags = 0;
        if (voice.playing)
            flags |= VoiceStatusSlot::playingFlag;
        if (trackPause && ! isPadVoice (v))
            flags |= VoiceStatusSlot::pausedFlag;
        if (voice.reachedEnd)
            flags |= VoiceStatusSlot::reachedEndFlag;
        statusSlots[(std::size_t) v].publish (voice.playToken, voice.position, flags);
    }
}
} // namespace orvane::audio
