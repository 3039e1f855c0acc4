#include "audio/media/MediaReaders.h"

#include "audio/media/FlacFormat.h"
#include "audio/media/GaplessMp3Reader.h"
#include "audio/media/TruncationCheckedReader.h"

#include <vector>

namespace vantrel
{
namespace
{
enum class Kind { pcm, mp3, other };

struct Format
{
    std::unique_ptr<juce::AudioFormat> format;
    Kind kind;
};

std::vector<Format> basicFormats()
{
    std::vector<Format> formats;
    formats.push_back ({ std::make_unique<juce::WavAudioFormat>(), Kind::pcm });
    formats.push_back ({ std::make_unique<juce::AiffAudioFormat>(), Kind::pcm });
    formats.push_back ({ std::make_unique<FlacFormat>(), Kind::other });
    formats.push_back ({ std::make_unique<juce::OggVorbisAudioFormat>(), Kind::other });
    formats.push_back ({ std::make_unique<juce::MP3AudioFormat>(), Kind::mp3 });
    return formats;
}

std::unique_ptr<juce::AudioFormatReader> openWith (juce::AudioFormat& format, Kind kind, const juce::File& file)
{
    switch (kind)
    {
        case Kind::pcm:  return TruncationCheckedReader::open (format, file);
        case Kind::mp3:  return GaplessMp3Reader::open (format, file);
        case Kind::other: break;
    }

    auto stream = file.createInputStream();
    if (stream == nullptr)
        return nullptr;
    return std::unique_ptr<juce::AudioFormatReader> (format.createReaderFor (stream.release(), true));
}
} // namespace

std::unique_ptr<juce::AudioFormatReader> openMediaReader (const juce::File& file)
{
    for (auto& entry : basicFormats())
        if (entry.format->canHandleFile (file))
            if (auto reader = openWith (*entry.format, entry.kind, file))
                return reader;

    return nullptr;
}

std::unique_ptr<juce::AudioFormatReader> openWavReader (const juce::File& file)
{
    juce::WavAudioFormat wav;
    return TruncationCheckedReader::open (wav, file);
}

bool isKnownTruncated (const juce::AudioFormatReader& reader)
{
    const auto* checked = dynamic_cast<const TruncationCheckedReader*> (&reader);
    return checked != nullptr && checked->isTruncated();
}
} // namespace vantrel
