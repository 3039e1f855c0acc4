#include "app/MixEdits.h"

#include "session/CatalogValidation.h"

#include <algorithm>

namespace vantrel
{
namespace
{
const std::string masterTarget = "@master";
const std::string playlistPrefix = "@playlist:";

/** The playlist id of a "@playlist:" target (possibly empty); nothing for any other target. */
std::optional<std::string> playlistIdOf (const std::string& target)
{
    if (target.size() >= playlistPrefix.size() && target.compare (0, playlistPrefix.size(), playlistPrefix) == 0)
        return target.substr (playlistPrefix.size());
    return std::nullopt;
}

/** The EQ a target names in the document, or null: MASTER EQ, a playlist's bus EQ or a row's EQ. */
template <typename Document>
auto findEq (Document& document, const std::string& target) -> decltype (&document.masterEq)
{
    if (target == masterTarget)
        return &document.masterEq;
    if (const auto id = playlistIdOf (target))
    {
        for (auto& playlist : document.playlists)
            if (playlist.id == *id)
                return &playlist.eq;
        return nullptr;
    }
    auto* row = findRowById (document, target);
    return row != nullptr ? &row->eq : nullptr;
}

juce::String utf8 (const std::string& text)  { return juce::String::fromUTF8 (text.c_str()); }
} // namespace

void restoreMixValues (CatalogDocument& document, const CatalogDocument& before)
{
    document.masterEq = before.masterEq;
    for (auto& playlist : document.playlists)
    {
        const auto old = std::find_if (before.playlists.begin(), before.playlists.end(),
                                       [&] (const Playlist& p) { return p.id == playlist.id; });
        if (old == before.playlists.end())
            continue;
        playlist.eq = old->eq;
        playlist.gainDb = old->gainDb;
        for (auto& row : playlist.rows)
        {
            const auto oldRow = std::find_if (old->rows.begin(), old->rows.end(),
                                              [&] (const Row& r) { return r.id == row.id; });
            if (oldRow == old->rows.end())
                continue;
            row.eq = oldRow->eq;
            row.gainDb = oldRow->gainDb;
        }
    }
}

MixEdits::Target MixEdits::targetKind (const std::string& target)
{
    if (target == masterTarget)
        return Target::master;
    return playlistIdOf (target).has_value() ? Target::playlist : Target::row;
}

const EqSettings* MixEdits::eq (const std::string& target) const
{
    return findEq (history.current(), target);
}

EqSettings* MixEdits::eqForLiveChange (const std::string& target)
{
    EqSettings* found = nullptr;
    history.changeLiveValues ([&] (CatalogDocument& document) { found = findEq (document, target); });
    return found;
}

juce::String MixEdits::title (const std::string& target) const
{
    const auto& document = history.current();
    if (target == masterTarget)
        return "MASTER EQ";
    if (const auto id = playlistIdOf (target))
    {
        for (const auto& playlist : document.playlists)
            if (playlist.id == *id)
                return "PLAYLIST EQ / " + utf8 (playlist.name);
        return {};
    }
    if (const auto* row = findRowById (document, target))
        return "TRACK EQ / " + utf8 (row->title);
    return {};
}

bool MixEdits::putEq (CatalogDocument& document, const std::string& target, const EqSettings& eq)
{
    if (const auto id = playlistIdOf (target))
    {
        bool found = false;
        for (auto& playlist : document.playlists)
        {
            if (playlist.id == *id)
            {
                playlist.eq = eq;
                found = true;
            }
        }
        return found;
    }
    auto* onTarget = findEq (document, target);
    if (onTarget == nullptr)
        return false;
    *onTarget = eq;
    return true;
}

void MixEdits::setLiveEq (const std::string& target, const EqSettings& eq)
{
    history.changeLiveValues ([&] (CatalogDocument& document) {
        if (target == masterTarget)
        {
            document.masterEq = eq;
            audio.setMasterEq (eq);
        }
        else if (const auto id = playlistIdOf (target))
        {
            for (auto& playlist : document.playlists)
            {
                if (playlist.id != *id)
                    continue;
                playlist.eq = eq;
                if (playlist.id == document.current)
                    audio.setPlaylistEq (eq, playlist.gainDb);
            }
        }
        else if (auto* row = findRowById (document, target))
        {
            row->eq = eq;
            audio.setMediaEq (target, eq);
        }
    });
}

void MixEdits::setLiveRowGain (const std::string& rowId, float gainDb)
{
    if (findRowById (history.current(), rowId) == nullptr)
        return;
    history.changeLiveValues ([&] (CatalogDocument& document) {
        auto* row = findRowById (document, rowId);
        row->gainDb = clampGainDb (gainDb);
        audio.setMediaGain (rowId, row->gainDb);
    });
}

void MixEdits::setLivePlaylistGain (const std::string& playlistId, float gainDb)
{
    const auto gain = clampGainDb (gainDb);
    history.changeLiveValues ([&] (CatalogDocument& document) {
        for (auto& playlist : document.playlists)
        {
            if (playlist.id != playlistId)
                continue;
            playlist.gainDb = gain;
            if (playlist.id == document.current)
                audio.setPlaylistEq (playlist.eq, gain);
        }
    });
}

void MixEdits::beginDrag()
{
    if (! before.has_value())
        before = history.current();
}

std::optional<CatalogDocument> MixEdits::endDrag()
{
    if (! before.has_value())
        return std::nullopt;
    // The step runs from the values before the drag to those at its end.
    auto atEnd = history.current();
    history.changeLiveValues ([this] (CatalogDocument& document) { restoreMixValues (document, *before); });
    before.reset();
    return atEnd;
}

void MixEdits::restoreBeforeDrag (CatalogDocument& document) const
{
    if (before.has_value())
        restoreMixValues (document, *before);
}

bool MixEdits::copyEq (const std::string& target)
{
    const auto* live = eq (target);
    if (live == nullptr)
        return false;
    eqClipboard = *live;
    return true;
}

std::optional<EqSettings> MixEdits::clipboardFor (const std::string& target) const
{
    const auto* live = eq (target);
    if (! eqClipboard.has_value() || live == nullptr)
        return std::nullopt;
    auto pasted = *eqClipboard;
    pasted.enabled = live->enabled;   // the target keeps its own on/off
    return pasted;
}

void MixEdits::pushToEngine()
{
    // The adapter ignores values equal to those it holds.
    const auto& document = history.current();
    if (rowsPushedAt != history.changeCount())
    {
        for (const auto& playlist : document.playlists)
        {
            for (const auto& row : playlist.rows)
            {
                audio.setMediaGain (row.id, row.gainDb);
                audio.setMediaEq (row.id, row.eq);
            }
        }
        rowsPushedAt = history.changeCount();
    }
    if (const auto* open = currentPlaylist (document))
        audio.setPlaylistEq (open->eq, open->gainDb);
    else
        audio.setPlaylistEq (EqSettings(), 0.0f);
    audio.setMasterEq (document.masterEq);
}
} // namespace vantrel
