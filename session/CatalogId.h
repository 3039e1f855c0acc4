#pragma once

#include <string>

namespace vantrel
{
/** A new id for a catalogue item (folder, playlist, row): 32 lower-case hexadecimal digits. */
std::string newCatalogId();
} // namespace vantrel
