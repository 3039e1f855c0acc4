#include "session/FileSignature.h"

#include "platform/FileStatus.h"

namespace vantrel
{
FileSignature readFileSignature (const juce::File& file)
{
    const auto status = platform::readFileStatus (file.getFullPathName().toStdString());

    FileSignature signature;
    signature.size = status.size > 0 ? status.size : 0;
    signature.modified = juce::Time (status.exists ? status.modifiedMillis : 0);
    return signature;
}
} // namespace vantrel
