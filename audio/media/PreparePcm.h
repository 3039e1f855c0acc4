#pragma once

#include "audio/media/MediaLimits.h"
#include "audio/media/MediaRecords.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>

namespace vantrel
{
/** The direct path of a load, for a reader whose rate is already the request's: reads the
    file straight into the left and right vectors of a new PCM (marked with the request's
    rate), long WAV files in two halves on two readers in parallel when two workers are
    available; then the cue point, the peaks (through the cache) and the final signature
    check, filling media's fields and times. Returns true when the load is complete; false when
    a read failed on an MP3 file, which the caller then decodes with the stream decoder (media
    keeps only its preparation time). Raises the load's other failures. The caller has checked
    allowsDirectPath and set media's format. Loading thread. */
bool preparePcm (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel);

/** The same with the worker count (1 or 2) chosen by the caller, and a step run just before
    the final signature check (may be empty). */
bool preparePcm (juce::AudioFormatReader& reader, const MediaLoadRequest& request, LoadedMedia& media, CancelFlag cancel,
                 int workers, const std::function<void()>& beforeFinalCheck);
} // namespace vantrel
