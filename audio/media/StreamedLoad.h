#pragma once

#include "audio/media/MediaLimits.h"
#include "audio/media/MediaRecords.h"
#include "audio/media/ResampleKernel.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace vantrel
{
/** Reads frames of one file as interleaved floats: in large blocks straight from the file where
    the sample data is plain PCM (PcmFileReader), else through the file's reader. */
class FrameSource
{
public:
    FrameSource (juce::AudioFormatReader& reader, const juce::File& file);
    ~FrameSource();

    /** Frames [start, start + count), count at most blockFrames. False when the read failed. */
    bool read (float* interleaved, std::int64_t start, int count);

    static constexpr int blockFrames = 65536;

private:
    juce::AudioFormatReader& reader;
    std::unique_ptr<class PcmFileReader> bulk;
    std::vector<float> planes;
};

/** A second reader on the reader's file that can read from any frame and gives the same
    samples there as reading from the start: for WAV, AIFF and FLAC files. nullptr for any other
    format, or when it does not open; raises the changed-while-loading failure when the file it
    opens no longer has the first reader's rate, channels or length. */
std::unique_ptr<juce::AudioFormatReader> openSecondReader (const juce::AudioFormatReader& first, const juce::File& file);

/** Loads a file whose reader opened and whose rate is not the target's: the whole file is
    decoded into one interleaved buffer block by block and resampled in chunks as the blocks
    arrive, so the source is still in the cache when the resampler reads it. With two workers
    a WAV, AIFF or FLAC file is decoded in two halves at once (then both resample), any other
    file is decoded by the calling thread while the helper resamples what has arrived. Then the
    validation, the auto-cue point and the peaks (from the cache when it matches), as a whole
    decode would give them. Fills media's PCM, peaks, duration and phase times; the caller
    makes the final signature check. Returns false, with nothing filled, when a read of an MP3
    file failed (decode it with the stream decoder then); raises every other failure. */
bool loadThroughReader (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media,
                        CancelFlag cancel, int workers, ResamplePath path);

/** Loads a file no reader opened (or an MP3 the reader could not read) with the stream
    decoder: where the stream's rate is not the target's and its length is announced, the
    samples are resampled in chunks as they are decoded (with two workers on the helper, beside
    the decoding); then the validation, the auto-cue point and the peaks. workers 0: by the
    processor topology and the announced length. Fills media's format, PCM, peaks, duration
    and phase times; raises every failure. */
void loadThroughStreamDecoder (const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel, int workers,
                               ResamplePath path);
} // namespace vantrel
