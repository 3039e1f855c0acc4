#pragma once

#include "app/cd/AudioCdImport.h"
#include "session/CatalogRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel
{
class SessionSaves;

/** The audio CD importer and the playlists on their way from it into the catalog: taken from the
    importer, waiting for the catalog to accept them (a refusal is reported once and tried again
    after the next change of the document), then waiting for a save that holds them before their
    recovery records go. The catalog edit itself is the coordinator's. Message thread only. */
class CdImportIntake
{
public:
    /** The saves must outlive this part. */
    explicit CdImportIntake (const SessionSaves& saves) noexcept : saves (saves) {}

    CdImportIntake (const CdImportIntake&) = delete;
    CdImportIntake& operator= (const CdImportIntake&) = delete;

    /** Null without audio or while the data needs recovery. */
    AudioCdImport* importer() const noexcept  { return cdImport.get(); }
    /** Replaces the importer; null ends it (joins its worker: a running import is cancelled and
        leaves nothing). */
    void setImporter (std::unique_ptr<AudioCdImport> importer)  { cdImport = std::move (importer); }

    /** Takes a finished import from the importer, then answers the playlist to offer the
        catalog next: the oldest waiting one, unless it was refused at this `changeCount` of
        the document. Null when there is none or no importer. */
    const Playlist* next (std::uint64_t changeCount);
    /** The catalog holds the playlist `next` gave: its recovery record waits for the save
        handed over last. */
    void taken();
    /** The catalog refused the playlist `next` gave at `changeCount`; true when this playlist's
        refusal was not reported yet. */
    bool refused (std::uint64_t changeCount);
    /** Lets the recovery records go once a successful save holds their playlists. */
    void releaseSavedRecords();

private:
    const SessionSaves& saves;
    std::unique_ptr<AudioCdImport> cdImport;
    std::vector<Playlist> waiting;                   // taken from the importer, not yet in the catalog
    std::vector<std::string> awaitingSave;           // in the catalog, their recovery record waits for a save
    std::int64_t saveTicket = 0;                     // the save that must succeed before the records go
    std::uint64_t refusedAt = ~std::uint64_t {};     // the document's change count when a take-in was refused
    std::string refusedId;                           // the playlist whose refusal was reported
};
} // namespace vantrel
