#pragma once

#include "audio/engine/MixEngine.h"
#include "platform/ThreadContract.h"
#include "support/CodePrinting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

namespace orvane::audio
{
inline void PrintTo (EngineCommandKind kind, std::ostream* out)  { *out << "EngineCommandKind " << vantrel::test::numberOf (kind); }

inline void PrintTo (const VoiceStatus& status, std::ostream* out)
{
    *out << "{token " << status.playToken << ", position " << status.position << ", playing " << status.playing
         << ", paused " << status.paused << ", reachedEnd " << status.reachedEnd << "}";
}
} // namespace orvane::audio

namespace orvane::audio::testing
{
using Pcm = std::shared_ptr<vantrel::PreparedPcm>;

/** PCM of the given length holding one value on both channels. Binary fractions keep every
    sum the engine makes exact, so outputs can be compared with ==. */
inline Pcm constantPcm (std::size_t frames, float left, float right)
{
    auto pcm = std::make_shared<vantrel::PreparedPcm>();
    pcm->left.assign (frames, left);
    pcm->right.assign (frames, right);
    return pcm;
}

inline Pcm constantPcm (std::size_t frames, float value)  { return constantPcm (frames, value, value); }

/** A stereo sine, different frequencies left and right. */
inline Pcm sinePcm (std::size_t frames, double rate, double frequency, float level = 0.5f)
{
    auto pcm = std::make_shared<vantrel::PreparedPcm>();
    pcm->sampleRate = rate;
    pcm->left.resize (frames);
    pcm->right.resize (frames);
    for (std::size_t i = 0; i < frames; ++i)
    {
        pcm->left[i] = level * (float) std::sin (2.0 * M_PI * frequency * (double) i / rate);
        pcm->right[i] = level * (float) std::sin (2.0 * M_PI * frequency * 1.5 * (double) i / rate + 0.3);
    }
    return pcm;
}

/** Renders one block as the device callback does: on a thread that holds the audio role for
    the call. */
inline void renderAsDevice (MixEngine& engine, float* const* channels, int numChannels, int numSamples, bool applyMaster)
{
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    engine.render (channels, numChannels, numSamples, applyMaster);
}

/** An engine on the heap with a stereo output buffer. */
struct EngineRig
{
    explicit EngineRig (double rate = 48000.0, int channelCount = 2) : engine (std::make_unique<MixEngine>())
    {
        engine->prepare (rate);
        buffers.assign ((std::size_t) channelCount, std::vector<float> (8192, -9.0f));
        for (auto& buffer : buffers)
            pointers.push_back (buffer.data());
    }

    /** Renders n samples (n <= 8192) without the master stage. */
    void render (int n)  { renderAsDevice (*engine, pointers.data(), (int) pointers.size(), n, false); }

    float left (int i) const  { return buffers[0][(std::size_t) i]; }
    float right (int i) const  { return buffers[1][(std::size_t) i]; }

    /** Renders n samples and returns the left channel. */
    std::vector<float> renderLeft (int n)
    {
        render (n);
        return std::vector<float> (buffers[0].begin(), buffers[0].begin() + n);
    }

    bool push (EngineCommand command)  { return engine->push (command); }

    /** Keeps a PCM alive for as long as the engine may read it (the adapter's job in the program). */
    const Pcm& hold (Pcm pcm)
    {
        held.push_back (std::move (pcm));
        return held.back();
    }
    VoiceStatus status (int voice) const  { return engine->voiceStatus (voice); }

    std::vector<Pcm> held; // declared first: destroyed after the engine
    std::unique_ptr<MixEngine> engine;
    std::vector<std::vector<float>> buffers;
    std::vector<float*> pointers;
};

/** A start command (kinds 0..5) at 0 dB with flat EQs, designed for 48000 Hz. */
inline EngineCommand start (EngineCommandKind kind, const Pcm& pcm, std::int64_t token, int voice = MixEngine::mainVoice,
                            std::int64_t frames = 0)
{
    EngineCommand command;
    command.kind = kind;
    command.pcm = pcm.get();
    command.playToken = token;
    command.frames = frames;
    command.voice = voice;
    command.gainDb = 0.0f;
    command.stopOutgoingAtEnd = true;
    command.sampleRate = 48000.0;
    return command;
}

inline EngineCommand simple (EngineCommandKind kind, int voice = MixEngine::mainVoice, std::int64_t frames = 0,
                             std::int64_t token = 0, float gainDb = 0.0f)
{
    EngineCommand command;
    command.kind = kind;
    command.voice = voice;
    command.frames = frames;
    command.playToken = token;
    command.gainDb = gainDb;
    return command;
}

inline VoiceStatus statusOf (std::int64_t token, std::int64_t position, bool playing, bool paused, bool reachedEnd)
{
    VoiceStatus status;
    status.playToken = token;
    status.position = position;
    status.playing = playing;
    status.paused = paused;
    status.reachedEnd = reachedEnd;
    return status;
}

inline double levelDb (double linear)  { return 20.0 * std::log10 (std::max (std::abs (linear), 1e-12)); }

/** RMS of a range of samples. */
inline double rms (const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += (double) samples[i] * (double) samples[i];
    return to > from ? std::sqrt (sum / (double) (to - from)) : 0.0;
}
} // namespace orvane::audio::testing
