#pragma once

// Threads: push() runs on the message thread (the one producer). render() runs on the device
// callback thread (the audio role) and is realtime-safe: no allocation,
// no lock, no system call, any block size.
// applyPending() is the message thread's consumer while no callback can run. voiceStatus(),
// setPadBusGain(), setPadMute() and lastAppliedSerial() are for any thread. prepare() runs while
// no block is rendered. The stated threads are checked in debug and sanitizer builds.

#include "audio/dsp/AnalyzerTap.h"
#include "audio/engine/EngineCommand.h"
#include "audio/dsp/EqProcessor.h"
#include "audio/dsp/MasterOutputProcessor.h"
#include "audio/engine/MixVoice.h"
#include "audio/engine/VoiceStatus.h"
#include "audio/engine/VoiceStatusSlot.h"

#include "platform/ThreadContract.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace orvane::audio
{
/** The real-time mixer of 47 voices (0 OUTGOING, 1 MAIN, 2..46 the pads): the two track voices
    through their TRACK EQ into the playlist bus (PLAYLIST EQ and gain), the pads into the pad bus
    (gain and PAD MUTE), the sum through the MASTER EQ into the device's channels. Commands arrive
    through a single-producer single-consumer ring of 256 slots (at most 255 wait); voice states
    leave through 47 sequence-guarded status slots. About 320 KB: keep it on the heap. */
class MixEngine
{
public:
    static constexpr int numVoices = 47;
    static constexpr int outgoingVoice = 0;
    static constexpr int mainVoice = 1;
    static constexpr int firstPadVoice = 2;
    static constexpr int ringSize = 256;

    MixEngine();
    MixEngine (const MixEngine&) = delete;
    MixEngine& operator= (const MixEngine&) = delete;

    /** Before the first block and on every device start: smoothing and ramp lengths for the rate
        (20 ms), the master stage prepared (and so reset), and on a changed rate the PLAYLIST and
        MASTER EQ reset to flat (their commands must be sent again for the new rate). */
    void prepare (double sampleRate);

    /** While no block is rendered (a device about to start): the MASTER EQ's memory and the
        master stage's delay lines forget what played before, so a new device start sounds none
        of it. Voices, their positions and the pause stay. */
    void clearHeldAudio();

    /** Audio thread, after render: whether a voice sounds (a pad plays, or a track plays and the
        tracks are not paused). */
    bool sounding() const noexcept;

    /** Producer side, message thread only. Writes a fresh serial into the command and queues a
        copy. Refuses (false, nothing changes) when 255 commands already wait, when the voice is
        not 0..46, or when the command's PCM has an empty left channel or channels of unequal
        length. */
    bool push (EngineCommand& command);

    /** One device block: applies the queued commands, mixes numSamples frames into the channels
        (0 left, 1 right; mono gets (L + R) / 2; channels 2 and up get silence; null channel
        pointers are skipped) and publishes the voice states. With applyMaster the master output
        stage runs over the result too (the device callback runs it itself after the rack). A null
        array, no channel or no sample returns at once and leaves everything queued. */
    void render (float* const* channels, int numChannels, int numSamples, bool applyMaster);

    /** The consumer while no device callback runs (device closed, stopped or lost): applies every
        queued command, then pauses the track voices if one plays (positions kept), stops the pads
        (reached end kept) and publishes all states. Message thread only. */
    void applyPending();

    /** Any thread. All zero for a voice outside 0..46 or for a slot met while it is written. */
    VoiceStatus voiceStatus (int voice) const noexcept;

    /** Any thread. A non-finite value is ignored; otherwise clamped to -60..+12 dB. */
    void setPadBusGain (float dB) noexcept;
    float padBusGainDb() const noexcept  { return padBusGain.load (std::memory_order_relaxed); }

    /** PAD MUTE; any thread, read once per block. */
    void setPadMute (bool muted) noexcept  { padMute.store (muted, std::memory_order_relaxed); }
    bool isPadMuted() const noexcept  { return padMute.load (std::memory_order_relaxed); }

    /** The serial of the newest command the engine has applied; any thread. PCM retired at this
        serial or below is no longer referenced by the engine. */
    std::uint64_t lastAppliedSerial() const noexcept  { return lastApplied.load (std::memory_order_acquire); }

    /** The serial handed to the newest accepted push; message thread. */
    std::uint64_t lastPushedSerial() const noexcept
    {
        VANTREL_ASSERT_MESSAGE_THREAD;
        return serialCounter;
    }

    /** Commands waiting in the ring; exact on the producer's thread, a snapshot elsewhere. */
    int queuedCommands() const noexcept;

    double sampleRate() const noexcept  { return rate; }
    int rampLengthSamples() const noexcept  { return rampLength; }
    float smoothingCoefficient() const noexcept  { return smoothing; }

    MasterOutputProcessor& masterOutput() noexcept  { return master; }
    const MasterOutputProcessor& masterOutput() const noexcept  { return master; }
    AnalyzerTap& analyzerTap() noexcept  { return tap; }

private:
    /** Frames mixed per pass; the pads are summed voice by voice into scratch of this size. */
    static constexpr int chunkFrames = 256;

    void drainRing();
    void applyCommand (const EngineCommand& command);
    void startVoice (int voice, const EngineCommand& command);
    void seekVoice (MixVoice& voice, std::int64_t offset);
    bool trackVoicePlays() const noexcept;
    void mixPads (int count);
    void mixChunk (float* const* channels, int numChannels, int offset, int count, std::intptr_t selection,
                   float padTarget, bool padsMuted);
    void publishStatus() noexcept;

    // 1-2: the master stage and the analyser tap.
    MasterOutputProcessor master;
    AnalyzerTap tap;

    // 3-4: the voices and their status slots.
    std::array<MixVoice, numVoices> voices;
    std::array<VoiceStatusSlot, numVoices> statusSlots;

    // 5-7: the command ring; each index on a cache line of its own.
    std::array<EngineCommand, ringSize> ring;
    alignas (64) std::atomic<std::uint64_t> consumerIndex { 0 };
    alignas (64) std::atomic<std::uint64_t> producerIndex { 0 };
    std::atomic<std::uint64_t> lastApplied { 0 };
    std::uint64_t serialCounter = 0;                  // producer only
    std::atomic<float> padBusGain { 0.0f };           // dB
    std::atomic<bool> padMute { false };
    bool trackPause = false;                          // audio thread, or applyPending

    // 8-13: buses, smoothing and rate.
    EqProcessor busEq;                                // PLAYLIST EQ
    EqProcessor finalEq;                              // MASTER EQ
    float playlistGain = 1.0f;
    float playlistTargetGain = 1.0f;
    float smoothing = 0.001f;
    float padGain = 1.0f;
    std::int32_t rampLength = 960;
    double rate = 48000.0;

    // Per-pass pad sums (audio thread scratch).
    std::array<float, chunkFrames> padSumLeft {};
    std::array<float, chunkFrames> padSumRight {};
};
} // namespace orvane::audio
