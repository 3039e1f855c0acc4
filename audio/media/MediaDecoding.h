#pragma once

#include "audio/media/DecodedAudio.h"
#include "audio/media/MediaLimits.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace vantrel
{
class DecodeObserver;

/** The format name shown for a media, from a reader's format name: "WAV" (not for
    "Windows Media"), "AIFF", "FLAC", "MP3" (also for MPEG); any other name unchanged. */
juce::String normaliseFormatName (const juce::String& readerFormatName);

/** Raises the failure for a target rate that is not finite or not within 8000..384000 Hz. */
void checkTargetRate (double targetRate);

/** Whether a reader can be read straight into the PCM: 1 or 2 channels, a usable rate, at
    least one frame, and a rate within 0.001 Hz of the target. */
bool allowsDirectPath (const juce::AudioFormatReader& reader, double targetRate);

/** Raises the failure of a reader that cannot be decoded: channels or length unusable, more
    samples than a load may hold, or a file known to end inside its sample data. */
void checkReaderCanBeDecoded (const juce::AudioFormatReader& reader);

/** Decodes the whole file through its reader (plain PCM straight from the file) into interleaved floats, in blocks of
    8192 frames with the cancel flag checked before each. Returns false when a read failed on
    an MP3 file (the caller then decodes it with the stream decoder); raises the failures of
    an unusable reader, the sample limit, a failed read, and cancellation. Loading thread. */
bool decodeWithReader (juce::AudioFormatReader& reader, const juce::File& file, CancelFlag cancel, DecodedAudio& decoded);

/** Decodes a file no reader could read: MP3 and M4A/AAC by extension, with the stream
    decoder; any other file raises the unsupported-format failure, a decoder error raises its
    text. format becomes the decoder's, the name of what the stream holds (an AAC file named
    .mp3 is "AAC"), as soon as the decoder has found the stream, even when decoding fails
    later; otherwise it keeps its value. */
DecodedAudio decodeWithoutReader (const juce::File& file, CancelFlag cancel, juce::String& format,
                                  DecodeObserver* observer = nullptr);

/** True when none of the count samples is infinite or NaN. */
bool allSamplesFinite (const float* samples, std::size_t count);

/** Raises the failure for decoded audio that cannot be played: nothing decoded, channels not
    1 or 2, a rate that is not finite and positive, or a sample that is not finite. */
void validateDecodedAudio (const DecodedAudio& decoded);
} // namespace vantrel
