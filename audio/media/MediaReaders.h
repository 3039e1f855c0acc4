#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace vantrel
{
/** Opens a reader for a media file: the basic formats (WAV, AIFF, FLAC, Ogg Vorbis, MP3, in
    that order) whose file extension matches are tried on a new file stream each. The readers
    are the sound ones of this program: WAV and AIFF reads fail beyond the end of a truncated
    file, FLAC reads fail at a decoder error, and the MP3 reader (Mp3Reader, on the decoding
    library) leaves out the encoder delay and padding the file announces and fails at damaged
    data. nullptr when no format opens the file. */
std::unique_ptr<juce::AudioFormatReader> openMediaReader (const juce::File& file);

/** True when the reader already knows that its file ends before the reader's last frame, so
    that reading the whole file must fail: a cut WAV or AIFF file, or an MP3 file that holds
    fewer frames than its info frame announces. */
bool isKnownTruncated (const juce::AudioFormatReader& reader);
} // namespace vantrel
