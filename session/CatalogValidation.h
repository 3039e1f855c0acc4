#pragma once

#include "session/CatalogRecords.h"

#include <optional>
#include <string>

namespace vantrel
{
/** A gain from a control: non-finite gives 0, otherwise clamped to -60..+12 dB. */
float clampGainDb (float gainDb);

/** 1 to 80 bytes, each an ASCII letter, an ASCII digit or '-'. */
bool isValidId (const std::string& id);

/** The position of a pad in CatalogState::pads: (bank - 1) * 9 + (slot - 1) for
    bank 1..5 and slot 1..9, otherwise none. */
std::optional<int> padIndex (int bank, int slot);

/** Swaps two pad slots of one bank when both positions are valid and neither pad
    is marked playing. Nothing changes on false. */
bool movePadSlot (PadSlots& pads, int bank, int fromSlot, int toSlot, const PadFlags& playing);

/** The playlist whose id equals the document's current id, or null. */
const Playlist* currentPlaylist (const CatalogDocument& document);
Playlist* currentPlaylist (CatalogDocument& document);

/** The playlist with the id, or null. */
Playlist* findPlaylistById (CatalogDocument& document, const std::string& id);

/** The first row with that id, playlists and rows in order, or null. */
const Row* findRowById (const CatalogDocument& document, const std::string& id);
Row* findRowById (CatalogDocument& document, const std::string& id);

/** The structural rules every stored or edited document must satisfy: valid and
    unique ids (one id set for folders, playlists and rows), names, a sound folder
    tree of at most 32 ancestors, gains, EQs, durations and the open playlist. */
bool isValidCatalog (const CatalogDocument& document);
} // namespace vantrel
