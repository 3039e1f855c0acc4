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

/** Loads a file whose reader opened and whose rate is not the target's. The file is decoded
    block by block into a small buffer, and each block is checked, searched for the auto-cue
    point, reduced to its peaks and resampled as far as it allows before the next one: the
    whole decoded source is never held, and the resampler reads it from the cache. With two
    workers a WAV, AIFF or FLAC file is done in two halves at once, each with its own reader;
    a forward-only file (MP3) is decoded whole by the calling thread while the helper resamples
    what has arrived. The PCM, cue point and peaks (from the cache when it matches) are those a
    whole decode would give. Fills media's PCM, peaks, duration and phase times; the caller
    makes the final signature check. Returns false, with nothing filled, when a read of an MP3
    file failed (decode it with the stream decoder then); raises every other failure. */
bool loadThroughReader (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media,
                        CancelFlag cancel, int workers, ResamplePath path);

/** Loads a file no reader opened (or an MP3 the reader could not read) with the stream
    decoder. Where the stream's rate is not the target's, its samples are taken block by block
    as they are decoded and never held whole: each block checked, searched for the auto-cue
    point, reduced to its peaks and resampled as far as it allows (with two workers on the
    helper, beside the decoding), the PCM growing with them until the stream's end gives its
    length. A stream at the target's rate is decoded whole and copied. workers 0: by the
    processor topology and the announced length. Fills media's format, PCM, peaks, duration
    and phase times; raises every failure. */
void loadThroughStreamDecoder (const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel, int workers,
                               ResamplePath path);
} // namespace vantrel
