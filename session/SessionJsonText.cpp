#include "session/SessionJsonText.h"

#include "session/SessionDocuments.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace vantrel
{
namespace
{
constexpr const char* lineEnd = "\r\n";
constexpr int indentStep = 2;

/** The length of the strict UTF-8 sequence at `text` (no overlong form, no surrogate, nothing
    above U+10FFFF) and its code point, or 0 when the bytes are not one. */
int decodeStrict (const unsigned char* text, const unsigned char* end, uint32_t& c)
{
    const auto first = text[0];
    const auto remaining = end - text;
    auto continuation = [text] (int i) { return (text[i] & 0xc0) == 0x80; };

    if (first < 0x80)
    {
        c = first;
        return 1;
    }

    if (first >= 0xc2 && first <= 0xdf && remaining >= 2 && continuation (1))
    {
        c = ((first & 0x1fu) << 6) | (text[1] & 0x3fu);
        return 2;
    }

    if (first >= 0xe0 && first <= 0xef && remaining >= 3 && continuation (1) && continuation (2))
    {
        if ((first == 0xe0 && text[1] < 0xa0) || (first == 0xed && text[1] >= 0xa0))
            return 0;

        c = ((first & 0x0fu) << 12) | ((text[1] & 0x3fu) << 6) | (text[2] & 0x3fu);
        return 3;
    }

    if (first >= 0xf0 && first <= 0xf4 && remaining >= 4 && continuation (1) && continuation (2) && continuation (3))
    {
        if ((first == 0xf0 && text[1] < 0x90) || (first == 0xf4 && text[1] >= 0x90))
            return 0;

        c = ((first & 0x07u) << 18) | ((text[1] & 0x3fu) << 12) | ((text[2] & 0x3fu) << 6) | (text[3] & 0x3fu);
        return 4;
    }

    return 0;
}

/** Appends the text of a document in the framework's JSON layout. */
class JsonTextWriter
{
public:
    explicit JsonTextWriter (std::string& target) : out (target) {}

    void raw (const char* text)         { out += text; }
    void raw (const std::string& text)  { out += text; }

    /** The text of the last EQ object written, for writeEq. */
    struct EqText
    {
        EqSettings eq;
        int indent = 0;
        std::string text;
    };

    std::optional<EqText> lastEq;
    void spaces (int count)      { out.append (static_cast<size_t> (count), ' '); }
    void boolean (bool value)    { out += value ? "true" : "false"; }
    void integer (int64_t value) { out += std::to_string (value); }

    /** A double as the framework prints it (its shortest round form), "null" when not finite. */
    void number (double value)
    {
        if (! std::isfinite (value))
        {
            out += "null";
            return;
        }

        // Whole numbers of moderate size print with one decimal place.
        const auto magnitude = std::abs (value);

        if (magnitude > 1.0e-5 && magnitude < 1.0e6 && static_cast<double> (static_cast<int> (value)) == value)
        {
            out += std::to_string (static_cast<int> (value));
            out += ".0";
            return;
        }

        uint64_t bits = 0;
        std::memcpy (&bits, &value, sizeof bits);
        auto found = printedNumbers.find (bits);

        if (found == printedNumbers.end())
            found = printedNumbers.emplace (bits, juce::var (value).toString().toStdString()).first;

        out += found->second;
    }

    /** A JSON string of UTF-8 text, escaped as the framework escapes it. */
    void string (const std::string& text)
    {
        out += '"';
        const auto mark = out.size();

        if (! appendEscaped (text))
        {
            // Not clean UTF-8, or a NUL inside: the framework's own reading of the bytes decides.
            out.resize (mark);
            const juce::String converted (text);

            for (auto t = converted.getCharPointer();;)
            {
                const auto c = static_cast<uint32_t> (t.getAndAdvance());

                if (c == 0)
                    break;

                appendCharacter (c);
            }
        }

        out += '"';
    }

    /** "{", then members through member(), then end(). */
    class Object
    {
    public:
        Object (JsonTextWriter& writerToUse, int indentToUse) : writer (writerToUse), indent (indentToUse)
        {
            writer.out += '{';
            writer.raw (lineEnd);
        }

        /** Starts a member; answers the indent of its value. */
        int member (const char* name)
        {
            if (! first)
            {
                writer.out += ',';
                writer.raw (lineEnd);
            }

            first = false;
            writer.spaces (indent + indentStep);
            writer.out += '"';
            writer.out += name;
            writer.raw ("\": ");
            return indent + indentStep;
        }

        void end()
        {
            if (! first)
                writer.raw (lineEnd);

            writer.spaces (indent);
            writer.out += '}';
        }

    private:
        JsonTextWriter& writer;
        const int indent;
        bool first = true;
    };

    template <typename Items, typename WriteItem>
    void array (const Items& items, int indent, WriteItem&& writeItem)
    {
        out += '[';
        const auto count = std::size (items);

        if (count == 0)
        {
            out += ']';
            return;
        }

        raw (lineEnd);
        size_t index = 0;

        for (const auto& item : items)
        {
            spaces (indent + indentStep);
            writeItem (item, indent + indentStep);

            if (++index < count)
                out += ',';

            raw (lineEnd);
        }

        spaces (indent);
        out += ']';
    }

private:
    std::string& out;
    std::unordered_map<uint64_t, std::string> printedNumbers;

    void hexEscape (uint32_t unit)
    {
        static const char digits[] = "0123456789abcdef";
        const char escape[] = { '\\', 'u', digits[(unit >> 12) & 15], digits[(unit >> 8) & 15],
                                digits[(unit >> 4) & 15], digits[unit & 15] };
        out.append (escape, sizeof escape);
    }

    void appendCharacter (uint32_t c)
    {
        switch (c)
        {
            case '"':  out += "\\\""; return;
            case '\\': out += "\\\\"; return;
            case '\a': out += "\\a"; return;
            case '\b': out += "\\b"; return;
            case '\f': out += "\\f"; return;
            case '\t': out += "\\t"; return;
            case '\r': out += "\\r"; return;
            case '\n': out += "\\n"; return;
            default:   break;
        }

        if (c >= 32 && c < 127)
        {
            out += static_cast<char> (c);
        }
        else if (c >= 0x10000)
        {
            hexEscape (0xd800u + ((c - 0x10000u) >> 10));
            hexEscape (0xdc00u + ((c - 0x10000u) & 0x3ffu));
        }
        else
        {
            hexEscape (c);
        }
    }

    /** False (with partial output) when the text is not strict UTF-8 or holds a NUL. */
    bool appendEscaped (const std::string& text)
    {
        const auto* at = reinterpret_cast<const unsigned char*> (text.data());
        const auto* end = at + text.size();

        while (at < end)
        {
            // Runs of plain printable ASCII go in one piece.
            const auto* run = at;

            while (run < end && *run >= 32 && *run < 127 && *run != '"' && *run != '\\')
                ++run;

            out.append (reinterpret_cast<const char*> (at), static_cast<size_t> (run - at));
            at = run;

            if (at == end)
                break;

            uint32_t c = 0;
            const auto length = decodeStrict (at, end, c);

            if (length == 0 || c == 0)
                return false;

            appendCharacter (c);
            at += length;
        }

        return true;
    }
};

using Object = JsonTextWriter::Object;

void writeEqText (JsonTextWriter& w, const EqSettings& eq, int indent)
{
    Object object (w, indent);
    object.member ("enabled");
    w.boolean (eq.enabled);
    const auto bandsIndent = object.member ("bands");
    w.array (eq.bands, bandsIndent, [&w] (const EqBand& band, int at)
    {
        Object bandObject (w, at);
        bandObject.member ("enabled");
        w.boolean (band.enabled);
        bandObject.member ("shape");
        w.integer (band.shape);
        bandObject.member ("frequency");
        w.number (band.frequency);
        bandObject.member ("gainDb");
        w.number (band.gainDb);
        bandObject.member ("q");
        w.number (band.q);
        bandObject.end();
    });
    object.end();
}

/** Equal down to the bits of every number (0.0 and -0.0 print differently; NaN is one value). */
bool sameBits (const EqSettings& a, const EqSettings& b)
{
    if (a.enabled != b.enabled)
        return false;

    for (size_t i = 0; i < a.bands.size(); ++i)
    {
        const auto& x = a.bands[i];
        const auto& y = b.bands[i];
        const double xs[] = { x.frequency, x.gainDb, x.q };
        const double ys[] = { y.frequency, y.gainDb, y.q };

        if (x.enabled != y.enabled || x.shape != y.shape || std::memcmp (xs, ys, sizeof xs) != 0)
            return false;
    }

    return true;
}

/** EQ objects repeat (most rows keep the default EQ): the text of the last one is reused. */
void writeEq (JsonTextWriter& w, const EqSettings& eq, int indent)
{
    auto& last = w.lastEq;

    if (last.has_value() && last->indent == indent && sameBits (last->eq, eq))
    {
        w.raw (last->text);
        return;
    }

    std::string text;
    JsonTextWriter textWriter (text);
    writeEqText (textWriter, eq, indent);
    w.raw (text);
    last = JsonTextWriter::EqText { eq, indent, std::move (text) };
}

void writeRow (JsonTextWriter& w, const Row& row, int indent)
{
    Object object (w, indent);
    object.member ("id");
    w.string (row.id);
    object.member ("title");
    w.string (row.title);
    object.member ("note");
    w.string (row.note);
    object.member ("source");
    w.string (row.source);
    object.member ("bytes");
    w.string (std::to_string (row.bytes));
    object.member ("modified");
    w.string (std::to_string (row.modified));
    object.member ("duration");
    w.number (row.duration);
    object.member ("gainDb");
    w.number (static_cast<double> (row.gainDb));
    writeEq (w, row.eq, object.member ("eq"));
    object.end();
}

void writePlaylist (JsonTextWriter& w, const Playlist& playlist, int indent)
{
    Object object (w, indent);
    object.member ("version");
    w.integer (sessionDocumentVersion);
    object.member ("gainDb");
    w.number (static_cast<double> (playlist.gainDb));
    writeEq (w, playlist.eq, object.member ("eq"));
    object.member ("folderId");
    w.string (playlist.folderId);
    object.member ("id");
    w.string (playlist.id);
    object.member ("name");
    w.string (playlist.name);
    object.member ("memo");
    w.string (playlist.memo);
    const auto rowsIndent = object.member ("rows");
    w.array (playlist.rows, rowsIndent, [&w] (const Row& row, int at) { writeRow (w, row, at); });
    object.end();
}

void writeFolders (JsonTextWriter& w, const std::vector<Folder>& folders, int indent)
{
    w.array (folders, indent, [&w] (const Folder& folder, int at)
    {
        Object object (w, at);
        object.member ("id");
        w.string (folder.id);
        object.member ("name");
        w.string (folder.name);
        object.member ("parentId");
        w.string (folder.parentId);
        object.end();
    });
}

void writeMaster (JsonTextWriter& w, const CatalogState& state, int indent)
{
    Object object (w, indent);
    object.member ("limiterEnabled");
    w.boolean (state.limiterEnabled);
    writeEq (w, state.document.masterEq, object.member ("eq"));
    object.end();
}

void writePads (JsonTextWriter& w, const PadSlots& pads, int indent)
{
    Object object (w, indent);
    object.member ("version");
    w.integer (padsDocumentVersion);
    const auto slotsIndent = object.member ("slots");
    w.array (pads, slotsIndent, [&w] (const PadSlot& pad, int at)
    {
        Object slot (w, at);
        slot.member ("name");
        w.string (pad.name);
        slot.member ("asset");
        w.string (pad.asset);
        slot.member ("gainDb");
        w.number (static_cast<double> (pad.gainDb));
        slot.end();
    });
    object.end();
}

void writeUi (JsonTextWriter& w, const UiState& ui, int indent)
{
    Object object (w, indent);
    object.member ("playlistsFolded");
    w.boolean (ui.playlistsFolded);
    object.member ("padsFolded");
    w.boolean (ui.padsFolded);
    object.member ("memoFolded");
    w.boolean (ui.memoFolded);
    object.member ("zoom");
    w.integer (ui.zoom);
    object.member ("rowHeight");
    w.integer (ui.rowHeight);
    const auto collapsedIndent = object.member ("collapsedFolders");
    w.array (ui.collapsedFolders, collapsedIndent, [&w] (const std::string& id, int) { w.string (id); });
    object.end();
}

/** Room for a document: about 1.5 kB per row in the whole-state layout. */
size_t expectedSize (size_t rows)  { return 16384 + rows * 2048; }

/** Appends a text written at indent 0 as if it had been written at `indent`: every line after
    the first moves right (no string holds a raw line end: they are escaped). */
void appendIndented (std::string& out, const std::string& text, int indent)
{
    size_t from = 0;

    for (;;)
    {
        const auto lineEndAt = text.find ('\n', from);

        if (lineEndAt == std::string::npos)
        {
            out.append (text, from, std::string::npos);
            return;
        }

        out.append (text, from, lineEndAt + 1 - from);
        out.append (static_cast<size_t> (indent), ' ');
        from = lineEndAt + 1;
    }
}

/** The whole-state document; the playlists' texts from `playlistTexts` when given. */
std::string wholeStateText (const CatalogState& state, const std::vector<std::string>* playlistTexts)
{
    const auto& document = state.document;
    size_t rows = 0;
    for (const auto& playlist : document.playlists)
        rows += playlist.rows.size();

    std::string text;
    text.reserve (expectedSize (rows));
    JsonTextWriter w (text);
    Object object (w, 0);
    object.member ("version");
    w.integer (sessionDocumentVersion);
    object.member ("application");
    w.string ("Vantrel!");
    const auto playlistsIndent = object.member ("playlists");

    if (playlistTexts == nullptr)
    {
        w.array (document.playlists, playlistsIndent, [&w] (const Playlist& playlist, int at) { writePlaylist (w, playlist, at); });
    }
    else
    {
        w.array (*playlistTexts, playlistsIndent, [&text] (const std::string& playlistText, int at) { appendIndented (text, playlistText, at); });
    }

    object.member ("current");
    w.string (document.current);
    writeFolders (w, document.folders, object.member ("folders"));
    writeMaster (w, state, object.member ("master"));
    writePads (w, state.pads, object.member ("pads"));
    writeUi (w, state.ui, object.member ("ui"));
    object.end();
    return text;
}
} // namespace

std::string wholeStateJsonText (const CatalogState& state)
{
    return wholeStateText (state, nullptr);
}

std::string wholeStateJsonText (const CatalogState& state, const std::vector<std::string>& playlistTexts)
{
    return wholeStateText (state, &playlistTexts);
}

std::string playlistJsonText (const Playlist& playlist)
{
    std::string text;
    text.reserve (expectedSize (playlist.rows.size()));
    JsonTextWriter w (text);
    writePlaylist (w, playlist, 0);
    return text;
}

std::string catalogFileJsonText (const CatalogState& state)
{
    const auto& document = state.document;
    std::string text;
    JsonTextWriter w (text);
    Object object (w, 0);
    object.member ("version");
    w.integer (sessionDocumentVersion);
    writeFolders (w, document.folders, object.member ("folders"));
    const auto playlistsIndent = object.member ("playlists");
    w.array (document.playlists, playlistsIndent, [&w] (const Playlist& playlist, int at)
    {
        Object entry (w, at);
        entry.member ("id");
        w.string (playlist.id);
        entry.member ("name");
        w.string (playlist.name);
        entry.end();
    });
    object.member ("current");
    w.string (document.current);
    object.end();
    return text;
}

std::string padsJsonText (const PadSlots& pads)
{
    std::string text;
    JsonTextWriter w (text);
    writePads (w, pads, 0);
    return text;
}

std::string appStateJsonText (const CatalogState& state)
{
    std::string text;
    JsonTextWriter w (text);
    Object object (w, 0);
    object.member ("version");
    w.integer (sessionDocumentVersion);
    writeUi (w, state.ui, object.member ("ui"));
    writeMaster (w, state, object.member ("master"));
    object.end();
    return text;
}
} // namespace vantrel
