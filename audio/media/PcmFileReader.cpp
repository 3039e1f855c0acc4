#include "audio/media/PcmFileReader.h"

namespace vantrel
{
std::unique_ptr<PcmFileReader> PcmFileReader::open (const juce::AudioFormatReader&, const juce::File&)
{
    return nullptr;
}
} // namespace vantrel
