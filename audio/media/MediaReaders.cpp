#include "audio/media/MediaReaders.h"

#include "audio/media/FlacFormat.h"
#include "audio/media/Mp3Reader.h"
#include "audio/media/TruncationCheckedReader.h"

#include <vector>

namespace vantrel
{
namespace
{
enum class Kind { pcm, other };

struct Format
{
    std::unique_ptr<juce::AudioFormat> format;
    Kind kind;
};

/** The framework's formats that come before MP3: WAV, AIFF, FLAC, Ogg Vorbis. */
std::vector<Format> frameworkFormats()
{
    std::vector<Format> formats;
    formats.push_back ({ std::make_unique<juce::WavAudioFormat>(), Kind::pcm });
    formats.push_back ({ std::make_unique<juce::AiffAudioFormat>(), Kind::pcm });
    formats.push_back ({ std::make_unique<FlacFormat>(), Kind::other });
    formats.push_back ({ std::make_unique<juce::OggVorbisAudioFormat>(), Kind::other });
    return formats;
}

std::unique_ptr<juce::AudioFormatReader> openWith (juce::AudioFormat& format, Kind kind, const juce::File& file)
{
    if (kind == Kind::pcm)
        return TruncationCheckedReader::open (format, file);

    auto stream = file.createInputStream();
    if (stream == nullptr)
        return nullptr;
    return std::unique_ptr<juce::AudioFormatReader> (format.createReaderFor (stream.release(), true));
}
} // namespace

std::unique_ptr<juce::AudioFormatReader> openMediaReader (const juce::File& file)
{
    for (auto& entry : frameworkFormats())
        if (entry.format->canHandleFile (file))
            if (auto reader = openWith (*entry.format, entry.kind, file))
                return reader;

    if (file.hasFileExtension ("mp3"))
        return Mp3Reader::open (file);
    return nullptr;
}

bool isKnownTruncated (const juce::AudioFormatReader& reader)
{
    if (const auto* checked = dynamic_cast<const TruncationCheckedReader*> (&reader))
        return checked->isTruncated();
    if (const auto* mp3 = dynamic_cast<const Mp3Reader*> (&reader))
        return mp3->isTruncated();
    return false;
}
} // namespace vantrel
