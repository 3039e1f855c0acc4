#pragma once

#include "session/CatalogRecords.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <random>
#include <string>

namespace vantrel::testing
{
/** Japanese text as a framework string (a plain char* would be read as Latin-1). */
inline juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

/** A valid state that uses every part of the document: two playlists in a folder tree, rows
    with non-default gains and EQs, 64-bit extremes, pads with assets, UI state and master. */
inline CatalogState sampleState()
{
    CatalogState state;
    auto& document = state.document;
    document.folders = { { "f1", "ライブ", "" }, { "f2", "Encore", "f1" } };

    Playlist first;
    first.id = "p1";
    first.name = "オープニング";
    first.memo = "memo";
    first.folderId = "f2";
    first.gainDb = -3.5f;
    first.eq.enabled = true;
    first.eq.bands[2].gainDb = 4.25;

    Row a;
    a.id = "r1";
    a.title = "曲 A";
    a.note = "note";
    a.source = "/music/a.wav";
    a.bytes = 18446744073709551615ull;
    a.modified = -1700000000000;
    a.duration = 12.5;
    a.gainDb = 1.25f;
    a.eq.bands[0].shape = 3;
    a.eq.bands[0].frequency = 80.0;

    Row b;
    b.id = "r2";
    b.title = "B";
    b.source = "/music/b.mp3";
    b.bytes = 0;
    b.modified = 1700000000123;

    first.rows = { a, b };

    Playlist second;
    second.id = "p2";
    second.name = "Encore";

    document.playlists = { first, second };
    document.current = "p2";
    document.masterEq.enabled = true;
    document.masterEq.bands[7].q = 2.0;

    state.pads[0] = { "Jingle", "jingle.wav", -6.0f };
    state.pads[44] = { "拍手", "applause.flac", 12.0f };
    state.ui.playlistsFolded = true;
    state.ui.zoom = 3;
    state.ui.rowHeight = 31;
    state.ui.collapsedFolders = { "f1" };
    state.limiterEnabled = false;
    return state;
}

/** Walks a '/'-separated path of member names and array indexes ("playlists/0/rows/1") and
    hands the container and the last key to `change`. The document is edited in place: a var
    shares its objects, so the caller's document sees the change. */
inline void editAt (const juce::var& document, const juce::String& path,
                    const std::function<void (const juce::var& container, const juce::String& key)>& change)
{
    auto parts = juce::StringArray::fromTokens (path, "/", "");
    auto container = document;

    for (int i = 0; i < parts.size() - 1; ++i)
        container = container.isArray() ? container[parts[i].getIntValue()] : container[juce::Identifier (parts[i])];

    change (container, parts[parts.size() - 1]);
}

inline void setAt (const juce::var& document, const juce::String& path, const juce::var& value)
{
    editAt (document, path, [&] (const juce::var& container, const juce::String& key) {
        if (auto* array = container.getArray())
            array->set (key.getIntValue(), value);
        else
            container.getDynamicObject()->setProperty (juce::Identifier (key), value);
    });
}

inline void removeAt (const juce::var& document, const juce::String& path)
{
    editAt (document, path, [&] (const juce::var& container, const juce::String& key) {
        if (auto* array = container.getArray())
            array->remove (key.getIntValue());
        else
            container.getDynamicObject()->removeProperty (juce::Identifier (key));
    });
}

/** Appends a copy of the array's last entry. */
inline void growArray (const juce::var& document, const juce::String& path)
{
    editAt (document, path, [&] (const juce::var& container, const juce::String& key) {
        auto* array = container[juce::Identifier (key)].getArray();
        array->add (array->getLast());
    });
}

//==============================================================================
/** Random valid states. Doubles are drawn with few decimal digits, which the framework's JSON
    writer reproduces exactly; floats (the gains) may hold any value in range. */
class RandomStateMaker
{
public:
    explicit RandomStateMaker (unsigned seed) : random (seed) {}

    CatalogState make()
    {
        CatalogState state;
        auto& document = state.document;
        int nextId = 0;
        const auto freshId = [&] { return "i" + std::to_string (nextId++) + "-" + text (3, idChars()); };

        const int numFolders = between (0, 5);
        for (int i = 0; i < numFolders; ++i)
        {
            const auto parent = (i == 0 || chance()) ? std::string() : document.folders[(size_t) between (0, i - 1)].id;
            document.folders.push_back ({ freshId(), anyText (1), parent });
        }

        const int numPlaylists = between (0, 4);
        for (int p = 0; p < numPlaylists; ++p)
        {
            Playlist playlist;
            playlist.id = freshId();
            playlist.name = anyText (1);
            playlist.memo = anyText (0);
            playlist.folderId = (numFolders == 0 || chance()) ? std::string() : document.folders[(size_t) between (0, numFolders - 1)].id;
            playlist.gainDb = gain();
            playlist.eq = eq();

            const int numRows = between (0, 6);
            for (int r = 0; r < numRows; ++r)
            {
                Row row;
                row.id = freshId();
                row.title = anyText (0);
                row.note = anyText (0);
                row.source = "/" + anyText (1);
                row.bytes = std::uniform_int_distribution<uint64_t>() (random);
                row.modified = std::uniform_int_distribution<int64_t> (std::numeric_limits<int64_t>::min()) (random);
                row.duration = decimal (0.0, 7200.0, 1000.0);
                row.gainDb = gain();
                row.eq = eq();
                playlist.rows.push_back (row);
            }

            document.playlists.push_back (playlist);
        }

        if (numPlaylists > 0 && chance())
            document.current = document.playlists[(size_t) between (0, numPlaylists - 1)].id;

        document.masterEq = eq();

        for (auto& pad : state.pads)
            if (chance())
                pad = { anyText (0), text (between (1, 12), "abcXYZ09_- ") + ".wav", gain() };

        state.ui.playlistsFolded = chance();
        state.ui.padsFolded = chance();
        state.ui.memoFolded = chance();
        state.ui.zoom = between (0, 19);
        state.ui.rowHeight = between (30, 49);
        for (const auto& folder : document.folders)
            if (chance())
                state.ui.collapsedFolders.push_back (folder.id);

        state.limiterEnabled = chance();
        return state;
    }

private:
    std::mt19937 random;

    static const char* idChars()  { return "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-"; }

    int between (int low, int high)  { return std::uniform_int_distribution<int> (low, high) (random); }
    bool chance()                    { return between (0, 1) == 1; }

    std::string text (int length, const std::string& alphabet)
    {
        std::string result;
        for (int i = 0; i < length; ++i)
            result += alphabet[(size_t) between (0, (int) alphabet.size() - 1)];
        return result;
    }

    /** Text of ASCII (with quotes, backslashes and control characters) and Japanese characters. */
    std::string anyText (int minLength)
    {
        static const std::vector<std::string> pieces { "a", "Z", "7", " ", "\"", "\\", "/", "\t", "\n", "{", "曲", "テスト", "é", "🎵" };
        std::string result;
        const int length = between (minLength, 8);
        for (int i = 0; i < length; ++i)
            result += pieces[(size_t) between (0, (int) pieces.size() - 1)];
        return result;
    }

    double decimal (double low, double high, double steps)
    {
        return std::round (std::uniform_real_distribution<double> (low, high) (random) * steps) / steps;
    }

    float gain()  { return std::uniform_real_distribution<float> (-60.0f, 12.0f) (random); }

    EqSettings eq()
    {
        EqSettings settings;
        settings.enabled = chance();
        for (auto& band : settings.bands)
        {
            band.enabled = chance();
            band.shape = between (0, 4);
            band.frequency = decimal (20.0, 20000.0, 100.0);
            band.gainDb = decimal (-18.0, 18.0, 1000.0);
            band.q = decimal (0.1, 12.0, 10000.0);
        }
        return settings;
    }
};
} // namespace vantrel::testing
