// The mix engine at 48 kHz in 512-frame blocks with all 47 voices playing and every EQ on
// (two TRACK EQs, the PLAYLIST EQ, the MASTER EQ; all eight bands active): time per block as a
// share of the block's real-time length (10.667 ms), median and p99, for render followed by
// the master output stage (as the device callback runs them) and for render alone. And the
// waveform peak computation in multiples of real time. And a block of 256 frames of silence with
// nothing playing, through render and the master output stage, once the stages are at rest:
// computed in full and given out at rest (the program's idle blocks), in microseconds.

#include "audio/engine/MixEngine.h"
#include "audio/media/WaveformPeaks.h"
#include "platform/ThreadContract.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

namespace
{
using namespace orvane::audio;

constexpr double rate = 48000.0;
constexpr int blockFrames = 512;
constexpr int measuredBlocks = 6000;
constexpr double blockMicros = 1.0e6 * blockFrames / rate;

std::shared_ptr<vantrel::PreparedPcm> noisePcm (std::size_t frames)
{
    auto pcm = std::make_shared<vantrel::PreparedPcm>();
    pcm->left.resize (frames);
    pcm->right.resize (frames);
    std::mt19937 random (1);
    std::uniform_real_distribution<float> level (-0.3f, 0.3f);
    for (std::size_t i = 0; i < frames; ++i)
    {
        pcm->left[i] = level (random);
        pcm->right[i] = level (random);
    }
    return pcm;
}

EqCoefficients everyBandOn (double gainSign)
{
    vantrel::EqSettings settings;
    settings.enabled = true;
    for (int b = 0; b < vantrel::EqSettings::numBands; ++b)
        settings.bands[(std::size_t) b].gainDb = gainSign * (1.0 + 0.5 * b);
    return designEq (settings, rate);
}

/** An engine with 47 voices playing long noise and every EQ on. */
std::unique_ptr<MixEngine> fullEngine (const vantrel::PreparedPcm& pcm)
{
    auto engine = std::make_unique<MixEngine>();
    engine->prepare (rate);

    const auto trackStart = [&] (EngineCommandKind kind, std::int64_t token, std::int64_t frames) {
        EngineCommand command;
        command.kind = kind;
        command.pcm = &pcm;
        command.playToken = token;
        command.frames = frames;
        command.voice = MixEngine::mainVoice;
        command.gainDb = -6.0f;
        command.coefficients = everyBandOn (token % 2 == 0 ? 1.0 : -1.0);
        command.playlistCoefficients = everyBandOn (1.0);
        command.playlistGainDb = -2.0f;
        command.sampleRate = rate;
        engine->push (command);
    };
    trackStart (EngineCommandKind::goFromSilence, 1, 0);
    trackStart (EngineCommandKind::goHandOver, 2, 12345);

    for (int voice = MixEngine::firstPadVoice; voice < MixEngine::numVoices; ++voice)
    {
        EngineCommand pad;
        pad.kind = EngineCommandKind::startPadVoice;
        pad.pcm = &pcm;
        pad.playToken = 100 + voice;
        pad.frames = voice * 4801;
        pad.voice = voice;
        pad.gainDb = -20.0f;
        engine->push (pad);
    }

    EngineCommand master;
    master.kind = EngineCommandKind::setMasterEq;
    master.coefficients = everyBandOn (-1.0);
    master.sampleRate = rate;
    engine->push (master);
    return engine;
}

void reportShares (benchmark::State& state, std::vector<double>& micros)
{
    std::sort (micros.begin(), micros.end());
    const auto at = [&] (double share) { return micros[(std::size_t) (share * (double) (micros.size() - 1))]; };
    state.counters["median_us"] = at (0.5);
    state.counters["p99_us"] = at (0.99);
    state.counters["median_pct_rt"] = 100.0 * at (0.5) / blockMicros;
    state.counters["p99_pct_rt"] = 100.0 * at (0.99) / blockMicros;
}

void renderBlocks (benchmark::State& state, bool withMaster)
{
    // Rendered as the device callback renders: with the audio role.
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    const auto pcm = noisePcm ((std::size_t) (rate * 75));
    auto engine = fullEngine (*pcm);
    std::vector<float> left (blockFrames), right (blockFrames);
    float* channels[] = { left.data(), right.data() };
    for (int i = 0; i < 20; ++i) // warm up: commands applied, caches filled
        engine->render (channels, 2, blockFrames, withMaster);

    std::vector<double> micros;
    micros.reserve (measuredBlocks);
    for (auto _ : state)
    {
        const auto begin = std::chrono::steady_clock::now();
        engine->render (channels, 2, blockFrames, withMaster);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize (left.data());
        const double elapsed = std::chrono::duration<double, std::micro> (end - begin).count();
        micros.push_back (elapsed);
        state.SetIterationTime (elapsed * 1.0e-6);
    }

    for (int v = 0; v < MixEngine::numVoices; ++v)
        if (! engine->voiceStatus (v).playing)
            state.SkipWithError ("a voice stopped during the measurement");
    reportShares (state, micros);
}

void BM_RenderWithMasterStage_47Voices_AllEq (benchmark::State& state)  { renderBlocks (state, true); }
void BM_RenderAlone_47Voices_AllEq (benchmark::State& state)  { renderBlocks (state, false); }

void silentBlocks (benchmark::State& state, bool skipsRest)
{
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    auto engine = std::make_unique<MixEngine>();
    engine->prepare (rate);
    engine->masterOutput().setSkipsRest (skipsRest);
    constexpr int frames = 256;
    std::vector<float> left (frames), right (frames);
    float* channels[] = { left.data(), right.data() };
    for (int warm = 0; warm < 100; ++warm)
        engine->render (channels, 2, frames, true);
    std::vector<double> micros;
    micros.reserve (measuredBlocks);
    for (auto _ : state)
    {
        const auto begin = std::chrono::steady_clock::now();
        engine->render (channels, 2, frames, true);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize (left.data());
        const double elapsed = std::chrono::duration<double, std::micro> (end - begin).count();
        micros.push_back (elapsed);
        state.SetIterationTime (elapsed * 1.0e-6);
    }
    std::sort (micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

void BM_SilentBlock256_Computed (benchmark::State& state)  { silentBlocks (state, false); }
void BM_SilentBlock256_AtRest (benchmark::State& state)  { silentBlocks (state, true); }

void BM_WaveformPeaks (benchmark::State& state)
{
    // A five-minute stereo track (115 MB of samples): larger than any cache, as after a decode.
    const auto seconds = 300.0;
    std::vector<float> interleaved ((std::size_t) (rate * seconds) * 2);
    std::mt19937 random (2);
    std::uniform_real_distribution<float> level (-1.0f, 1.0f);
    for (auto& sample : interleaved)
        sample = level (random);

    double totalSeconds = 0.0;
    for (auto _ : state)
    {
        const auto begin = std::chrono::steady_clock::now();
        auto peaks = computeWaveformPeaks (interleaved.data(), interleaved.size(), 2, rate, defaultFramesPerPeak);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize (peaks.minima.data());
        const double elapsed = std::chrono::duration<double> (end - begin).count();
        totalSeconds += elapsed;
        state.SetIterationTime (elapsed);
    }
    state.counters["x_real_time"] = seconds * (double) state.iterations() / totalSeconds;
    state.counters["Mframes_per_s"] = rate * seconds * (double) state.iterations() / totalSeconds / 1.0e6;
}
} // namespace

BENCHMARK (BM_RenderWithMasterStage_47Voices_AllEq)->UseManualTime()->Iterations (measuredBlocks)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_RenderAlone_47Voices_AllEq)->UseManualTime()->Iterations (measuredBlocks)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_SilentBlock256_Computed)->UseManualTime()->Iterations (measuredBlocks)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_SilentBlock256_AtRest)->UseManualTime()->Iterations (measuredBlocks)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_WaveformPeaks)->UseManualTime()->Iterations (10)->Unit (benchmark::kMillisecond);

BENCHMARK_MAIN();
