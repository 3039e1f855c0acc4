#pragma once

#include "session/CatalogRecords.h"

#include <memory>
#include <vector>

namespace vantrel
{
/** An immutable recorded catalog document. Playlists are held by shared pointer,
    so the steps of a history share every playlist that a step did not change:
    a hundred edits of a large show cost a hundred changed playlists, not a
    hundred copies of the show. */
class DocumentSnapshot
{
public:
    /** Records a document, sharing every playlist that equals one of previous's. */
    static std::shared_ptr<const DocumentSnapshot> make (const CatalogDocument& document,
                                                         const DocumentSnapshot* previous = nullptr);

    CatalogDocument toDocument() const;

    std::vector<std::shared_ptr<const Playlist>> playlists;
    std::string current;
    std::vector<Folder> folders;
    EqSettings masterEq;
};
} // namespace vantrel
