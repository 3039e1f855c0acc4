#include "session/CatalogId.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
std::string newCatalogId()
{
    return juce::Uuid().toDashedString().removeCharacters ("-").toLowerCase().toStdString();
}
} // namespace vantrel
