#include "session/SessionDocuments.h"

#include "session/CatalogValidation.h"
#include "session/GainRange.h"
#include "session/StoredJson.h"

#include <cmath>
#include <limits>

namespace vantrel
{
namespace
{
    /** UTF-8 text of a failed check; null when the check passed. */
    using Message = const char*;

    /** The member names, built once: an Identifier takes a lock on the global string pool. */
    struct Keys
    {
        const juce::Identifier version { "version" }, application { "application" }, playlists { "playlists" },
            current { "current" }, folders { "folders" }, master { "master" }, pads { "pads" }, ui { "ui" },
            id { "id" }, name { "name" }, memo { "memo" }, rows { "rows" }, folderId { "folderId" },
            parentId { "parentId" }, gainDb { "gainDb" }, eq { "eq" }, enabled { "enabled" }, bands { "bands" },
            shape { "shape" }, frequency { "frequency" }, q { "q" }, title { "title" }, note { "note" },
            source { "source" }, bytes { "bytes" }, modified { "modified" }, duration { "duration" },
            slots { "slots" }, asset { "asset" }, limiterEnabled { "limiterEnabled" },
            playlistsFolded { "playlistsFolded" }, padsFolded { "padsFolded" }, memoFolded { "memoFolded" },
            zoom { "zoom" }, rowHeight { "rowHeight" }, collapsedFolders { "collapsedFolders" };
    };

    const Keys& keys()
    {
        static const Keys instance;
        return instance;
    }

    constexpr const char* applicationName = "Vantrel!";

    //==============================================================================
    bool isObject (const juce::var& value)   { return value.getDynamicObject() != nullptr; }
    bool isAbsent (const juce::var& value)   { return value.isVoid() || value.isUndefined(); }   // missing or null
    bool isInteger (const juce::var& value)  { return value.isInt() || value.isInt64(); }
    bool isNumber (const juce::var& value)   { return isInteger (value) || value.isDouble(); }

    int64_t integerOf (const juce::var& value)  { return static_cast<juce::int64> (value); }
    double numberOf (const juce::var& value)    { return static_cast<double> (value); }

    /** Narrows a stored gain to float without undefined behaviour for values beyond float's
        range: those become infinities, which every range check refuses. */
    float narrowToFloat (double value)
    {
        constexpr double largest = std::numeric_limits<float>::max();

        if (value > largest)
            return std::numeric_limits<float>::infinity();
        if (value < -largest)
            return -std::numeric_limits<float>::infinity();

        return static_cast<float> (value);   // NaN stays NaN
    }

    /** An integer member as an int; values beyond int's range become `outOfRange`, so that a
        range check after the narrowing cannot be fooled by a wrapped value. */
    int narrowToInt (int64_t value, int outOfRange)
    {
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            return outOfRange;

        return static_cast<int> (value);
    }

    bool isIntegerIn (const juce::var& value, int64_t low, int64_t high)
    {
        return isInteger (value) && integerOf (value) >= low && integerOf (value) <= high;
    }

    bool allStrings (const juce::var& object, std::initializer_list<juce::Identifier> names)
    {
        if (! isObject (object))
            return false;

        for (const auto& name : names)
            if (! object[name].isString())
                return false;

        return true;
    }

    std::string textOf (const juce::var& value)  { return value.toString().toStdString(); }
    juce::var textVar (const std::string& text)  { return juce::String (text); }

    int versionOf (const juce::var& value)       { return static_cast<int> (integerOf (value[keys().version])); }

    juce::var makeArray()                        { return juce::var (juce::Array<juce::var>()); }

    //==============================================================================
    juce::var bandToJson (const EqBand& band)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty (keys().enabled, band.enabled);
        object->setProperty (keys().shape, band.shape);
        object->setProperty (keys().frequency, band.frequency);
        object->setProperty (keys().gainDb, band.gainDb);
        object->setProperty (keys().q, band.q);
        return juce::var (object);
    }

    juce::var rowToJson (const Row& row)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty (keys().id, textVar (row.id));
        object->setProperty (keys().title, textVar (row.title));
        object->setProperty (keys().note, textVar (row.note));
        object->setProperty (keys().source, textVar (row.source));
        object->setProperty (keys().bytes, juce::String (static_cast<juce::uint64> (row.bytes)));
        object->setProperty (keys().modified, juce::String (static_cast<juce::int64> (row.modified)));
        object->setProperty (keys().duration, row.duration);
        object->setProperty (keys().gainDb, static_cast<double> (row.gainDb));
        object->setProperty (keys().eq, eqSettingsToJson (row.eq));
        return juce::var (object);
    }

    juce::var playlistToJson (const Playlist& playlist)
    {
        auto rows = makeArray();
        for (const auto& row : playlist.rows)
            rows.append (rowToJson (row));

        auto* object = new juce::DynamicObject();
        object->setProperty (keys().version, sessionDocumentVersion);
        object->setProperty (keys().gainDb, static_cast<double> (playlist.gainDb));
        object->setProperty (keys().eq, eqSettingsToJson (playlist.eq));
        object->setProperty (keys().folderId, textVar (playlist.folderId));
        object->setProperty (keys().id, textVar (playlist.id));
        object->setProperty (keys().name, textVar (playlist.name));
        object->setProperty (keys().memo, textVar (playlist.memo));
        object->setProperty (keys().rows, rows);
        return juce::var (object);
    }

    juce::var folderToJson (const Folder& folder)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty (keys().id, textVar (folder.id));
        object->setProperty (keys().name, textVar (folder.name));
        object->setProperty (keys().parentId, textVar (folder.parentId));
        return juce::var (object);
    }

    juce::var padsToJson (const PadSlots& pads)
    {
        auto slots = makeArray();
        for (const auto& pad : pads)
        {
            auto* slot = new juce::DynamicObject();
            slot->setProperty (keys().name, textVar (pad.name));
            slot->setProperty (keys().asset, textVar (pad.asset));
            slot->setProperty (keys().gainDb, static_cast<double> (pad.gainDb));
            slots.append (juce::var (slot));
        }

        auto* object = new juce::DynamicObject();
        object->setProperty (keys().version, padsDocumentVersion);
        object->setProperty (keys().slots, slots);
        return juce::var (object);
    }

    juce::var uiToJson (const UiState& ui)
    {
        auto collapsed = makeArray();
        for (const auto& folderId : ui.collapsedFolders)
            collapsed.append (textVar (folderId));

        auto* object = new juce::DynamicObject();
        object->setProperty (keys().playlistsFolded, ui.playlistsFolded);
        object->setProperty (keys().padsFolded, ui.padsFolded);
        object->setProperty (keys().memoFolded, ui.memoFolded);
        object->setProperty (keys().zoom, ui.zoom);
        object->setProperty (keys().rowHeight, ui.rowHeight);
        object->setProperty (keys().collapsedFolders, collapsed);
        return juce::var (object);
    }

    juce::var masterToJson (const CatalogState& state)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty (keys().limiterEnabled, state.limiterEnabled);
        object->setProperty (keys().eq, eqSettingsToJson (state.document.masterEq));
        return juce::var (object);
    }

    //==============================================================================
    enum class EqRead
    {
        ok,
        badLayout,   // not an object, no boolean "enabled", or not an array of 8 "bands"
        badTypes,    // a band with a member of the wrong type
        badValues    // the values fail EqSettings::isValid
    };

    EqRead readEq (const juce::var& json, EqSettings& out)
    {
        const auto* bands = json[keys().bands].getArray();

        if (! isObject (json) || ! json[keys().enabled].isBool() || bands == nullptr
            || bands->size() != EqSettings::numBands)
            return EqRead::badLayout;

        EqSettings eq;
        eq.enabled = static_cast<bool> (json[keys().enabled]);

        for (int i = 0; i < EqSettings::numBands; ++i)
        {
            const auto& bandJson = bands->getReference (i);
            const auto& shape = bandJson[keys().shape];

            if (! isObject (bandJson) || ! bandJson[keys().enabled].isBool() || ! isInteger (shape)
                || ! isNumber (bandJson[keys().frequency]) || ! isNumber (bandJson[keys().gainDb])
                || ! isNumber (bandJson[keys().q]))
                return EqRead::badTypes;

            auto& band = eq.bands[(size_t) i];
            band.enabled = static_cast<bool> (bandJson[keys().enabled]);
            band.shape = narrowToInt (integerOf (shape), -1);   // a shape beyond int's range stays invalid
            band.frequency = numberOf (bandJson[keys().frequency]);
            band.gainDb = numberOf (bandJson[keys().gainDb]);
            band.q = numberOf (bandJson[keys().q]);
        }

        if (! eq.isValid())
            return EqRead::badValues;

        out = eq;
        return EqRead::ok;
    }

    /** Parses decimal digits into a 64-bit magnitude no larger than `limit`. */
    bool parseDigits (const char* text, uint64_t limit, uint64_t& out)
    {
        if (*text == 0)
            return false;

        uint64_t value = 0;

        for (; *text != 0; ++text)
        {
            if (*text < '0' || *text > '9')
                return false;

            const auto digit = static_cast<uint64_t> (*text - '0');

            if (value > (limit - digit) / 10)
                return false;

            value = value * 10 + digit;
        }

        out = value;
        return true;
    }

    //==============================================================================
    Message readRow (const juce::var& json, int version, Row& row)
    {
        constexpr Message badRow = "登録行の型・音源参照情報が不正です";

        if (! isObject (json))
            return "登録行不正";

        if (! allStrings (json, { keys().id, keys().title, keys().note, keys().source })
            || ! parseUInt64Text (json[keys().bytes], row.bytes)
            || ! parseInt64Text (json[keys().modified], row.modified)
            || ! isNumber (json[keys().duration]))
            return badRow;

        row.id = textOf (json[keys().id]);
        row.title = textOf (json[keys().title]);
        row.note = textOf (json[keys().note]);
        row.source = textOf (json[keys().source]);
        row.duration = numberOf (json[keys().duration]);

        const auto& gain = json[keys().gainDb];
        if (isNumber (gain))
            row.gainDb = narrowToFloat (numberOf (gain));
        else if (! (version == 1 && isAbsent (gain)))
            return badRow;

        const auto& eq = json[keys().eq];
        if (! (isAbsent (eq) && version <= 3))
        {
            switch (readEq (eq, row.eq))
            {
                case EqRead::ok:        break;
                case EqRead::badLayout: return "トラックEQ保存形式が不正です";
                case EqRead::badTypes:  return "トラックEQの型が不正です";
                case EqRead::badValues: return "トラックEQの値が範囲外です";
            }
        }

        // Absolute on Linux means rooted at '/'; a '~' path is the shell's shorthand, not a path.
        if (row.source.empty() || row.source.front() != '/')
            return "音源参照は絶対パスが必要です";

        return nullptr;
    }

    Message readPlaylist (const juce::var& json, Playlist& playlist)
    {
        if (! hasSupportedVersion (json) || ! allStrings (json, { keys().id, keys().name, keys().memo }))
            return "playlistバージョン不正";

        const auto version = versionOf (json);
        playlist.id = textOf (json[keys().id]);
        playlist.name = textOf (json[keys().name]);
        playlist.memo = textOf (json[keys().memo]);

        if (version >= 5)
        {
            if (! json[keys().folderId].isString())
                return "Invalid playlist folder";

            playlist.folderId = textOf (json[keys().folderId]);
        }

        if (version == 6)
        {
            const auto& gain = json[keys().gainDb];

            if (! isNumber (gain) || ! readEqSettings (json[keys().eq], playlist.eq))
                return "Invalid playlist bus settings";

            playlist.gainDb = narrowToFloat (numberOf (gain));
        }

        const auto* rows = json[keys().rows].getArray();
        if (rows == nullptr)
            return "登録行配列がありません";

        playlist.rows.reserve ((size_t) rows->size());

        for (const auto& rowJson : *rows)
        {
            Row row;
            if (auto message = readRow (rowJson, version, row))
                return message;

            playlist.rows.push_back (std::move (row));
        }

        return nullptr;
    }

    Message readFolders (const juce::var& json, std::vector<Folder>& folders)
    {
        const auto* array = json.getArray();
        if (array == nullptr)
            return "Invalid folder catalog";

        for (const auto& folderJson : *array)
        {
            if (! allStrings (folderJson, { keys().id, keys().name, keys().parentId }))
                return "Invalid folder fields";

            folders.push_back ({ textOf (folderJson[keys().id]), textOf (folderJson[keys().name]),
                                 textOf (folderJson[keys().parentId]) });
        }

        return nullptr;
    }

    bool isSafeAssetName (const std::string& asset)
    {
        return asset.find_first_of ("/\\:") == std::string::npos && asset.find ("..") == std::string::npos;
    }

    Message readPads (const juce::var& json, PadSlots& pads)
    {
        const auto* slots = json[keys().slots].getArray();

        if (! hasSupportedVersion (json) || slots == nullptr || slots->size() != numPads)
            return "PAD保存データ不正";

        const auto version = versionOf (json);

        for (int i = 0; i < numPads; ++i)
        {
            const auto& slot = slots->getReference (i);
            auto& pad = pads[(size_t) i];

            if (! allStrings (slot, { keys().name, keys().asset }))
                return "PAD項目の型が不正です";

            pad.name = textOf (slot[keys().name]);
            pad.asset = textOf (slot[keys().asset]);

            const auto& gain = slot[keys().gainDb];
            if (isNumber (gain))
            {
                const auto value = numberOf (gain);
                if (! std::isfinite (value) || value < minGainDb || value > maxGainDb)
                    return "PAD音量の型・範囲が不正です";

                pad.gainDb = static_cast<float> (value);
            }
            else if (! (version < 3 && isAbsent (gain)))
            {
                return "PAD音量の型・範囲が不正です";
            }

            if (! pad.asset.empty() && ! isSafeAssetName (pad.asset))
                return "PAD asset参照不正";
        }

        return nullptr;
    }

    Message readUi (const juce::var& json, UiState& ui)
    {
        if (! isObject (json) || ! json[keys().playlistsFolded].isBool() || ! json[keys().padsFolded].isBool()
            || ! json[keys().memoFolded].isBool() || ! isIntegerIn (json[keys().zoom], 0, 19))
            return "UI保存状態の型・範囲が不正です";

        ui.playlistsFolded = static_cast<bool> (json[keys().playlistsFolded]);
        ui.padsFolded = static_cast<bool> (json[keys().padsFolded]);
        ui.memoFolded = static_cast<bool> (json[keys().memoFolded]);
        ui.zoom = static_cast<int> (integerOf (json[keys().zoom]));

        const auto& rowHeight = json[keys().rowHeight];
        if (! isAbsent (rowHeight))
        {
            if (! isIntegerIn (rowHeight, 30, 49))
                return "行の表示密度が不正です";

            ui.rowHeight = static_cast<int> (integerOf (rowHeight));
        }

        const auto& collapsed = json[keys().collapsedFolders];
        if (isAbsent (collapsed))
            return nullptr;

        const auto* ids = collapsed.getArray();
        if (ids == nullptr)
            return "Invalid folder display state";

        for (const auto& id : *ids)
        {
            if (! id.isString() || ! isValidId (textOf (id)))
                return "Invalid collapsed folder ID";

            ui.collapsedFolders.push_back (textOf (id));
        }

        return nullptr;
    }

    Message readDocument (const juce::var& json, CatalogState& state)
    {
        if (! hasSupportedVersion (json))
            return "未対応の保存バージョンです。元データは変更しません。";

        const auto version = versionOf (json);
        auto& document = state.document;

        const auto* playlists = json[keys().playlists].getArray();
        if (playlists == nullptr)
            return "playlist配列がありません";

        document.playlists.reserve ((size_t) playlists->size());

        for (const auto& playlistJson : *playlists)
        {
            Playlist playlist;
            if (auto message = readPlaylist (playlistJson, playlist))
                return message;

            document.playlists.push_back (std::move (playlist));
        }

        if (! json[keys().current].isString())
            return "currentの型が不正です";

        document.current = textOf (json[keys().current]);

        const auto& master = json[keys().master];

        if (version >= 5)
        {
            if (auto message = readFolders (json[keys().folders], document.folders))
                return message;

            if (! master[keys().limiterEnabled].isBool())
                return "Invalid limiter state";

            state.limiterEnabled = static_cast<bool> (master[keys().limiterEnabled]);
        }

        if (version == 6 && ! readEqSettings (master[keys().eq], document.masterEq))
            return "Invalid master EQ settings";

        if (! isValidCatalog (document))
            return "登録ID・選択・Gainの整合性エラー";

        if (auto message = readPads (json[keys().pads], state.pads))
            return message;

        return readUi (json[keys().ui], state.ui);
    }
} // namespace

//==============================================================================
juce::var eqSettingsToJson (const EqSettings& eq)
{
    auto bands = makeArray();
    for (const auto& band : eq.bands)
        bands.append (bandToJson (band));

    auto* object = new juce::DynamicObject();
    object->setProperty (keys().enabled, eq.enabled);
    object->setProperty (keys().bands, bands);
    return juce::var (object);
}

juce::var catalogToJson (const CatalogState& state)
{
    const auto& document = state.document;

    auto playlists = makeArray();
    for (const auto& playlist : document.playlists)
        playlists.append (playlistToJson (playlist));

    auto folders = makeArray();
    for (const auto& folder : document.folders)
        folders.append (folderToJson (folder));

    auto* object = new juce::DynamicObject();
    object->setProperty (keys().version, sessionDocumentVersion);
    object->setProperty (keys().application, applicationName);
    object->setProperty (keys().playlists, playlists);
    object->setProperty (keys().current, textVar (document.current));
    object->setProperty (keys().folders, folders);
    object->setProperty (keys().master, masterToJson (state));
    object->setProperty (keys().pads, padsToJson (state.pads));
    object->setProperty (keys().ui, uiToJson (state.ui));
    return juce::var (object);
}

namespace
{
    /** A text as it comes back out of a document: the framework's reading of the bytes, which
        keeps clean UTF-8 without NUL as it is. */
    bool keepsItsBytes (const std::string& text)
    {
        return text.find ('\0') == std::string::npos && findTextDamage (text).isEmpty();
    }

    std::string asReadBack (const std::string& text)
    {
        return keepsItsBytes (text) ? text : juce::String (text).toStdString();
    }

    /** The document's texts as a read-back gives them; false when every one keeps its bytes. */
    bool readBackTexts (const CatalogDocument& document, CatalogDocument& converted)
    {
        bool changed = ! keepsItsBytes (document.current);

        for (const auto& folder : document.folders)
            changed = changed || ! keepsItsBytes (folder.id) || ! keepsItsBytes (folder.name) || ! keepsItsBytes (folder.parentId);

        for (const auto& playlist : document.playlists)
        {
            changed = changed || ! keepsItsBytes (playlist.id) || ! keepsItsBytes (playlist.name)
                   || ! keepsItsBytes (playlist.memo) || ! keepsItsBytes (playlist.folderId);

            for (const auto& row : playlist.rows)
                changed = changed || ! keepsItsBytes (row.id) || ! keepsItsBytes (row.title)
                       || ! keepsItsBytes (row.note) || ! keepsItsBytes (row.source);
        }

        if (! changed)
            return false;

        converted = document;
        converted.current = asReadBack (converted.current);

        for (auto& folder : converted.folders)
            for (auto* text : { &folder.id, &folder.name, &folder.parentId })
                *text = asReadBack (*text);

        for (auto& playlist : converted.playlists)
        {
            for (auto* text : { &playlist.id, &playlist.name, &playlist.memo, &playlist.folderId })
                *text = asReadBack (*text);

            for (auto& row : playlist.rows)
                for (auto* text : { &row.id, &row.title, &row.note, &row.source })
                    *text = asReadBack (*text);
        }

        return true;
    }

    Message checkState (const CatalogState& state)
    {
        const auto& document = state.document;

        for (const auto& playlist : document.playlists)
        {
            if (! playlist.eq.isValid())
                return "Invalid playlist bus settings";

            for (const auto& row : playlist.rows)
            {
                if (! row.eq.isValid())
                    return "トラックEQの値が範囲外です";

                const auto& source = keepsItsBytes (row.source) ? row.source : asReadBack (row.source);

                if (source.empty() || source.front() != '/')
                    return "音源参照は絶対パスが必要です";
            }
        }

        if (! document.masterEq.isValid())
            return "Invalid master EQ settings";

        CatalogDocument converted;

        if (! isValidCatalog (readBackTexts (document, converted) ? converted : document))
            return "登録ID・選択・Gainの整合性エラー";

        for (const auto& pad : state.pads)
        {
            const auto gain = static_cast<double> (pad.gainDb);

            if (! std::isfinite (gain) || gain < minGainDb || gain > maxGainDb)
                return "PAD音量の型・範囲が不正です";

            const auto asset = asReadBack (pad.asset);

            if (! asset.empty() && ! isSafeAssetName (asset))
                return "PAD asset参照不正";
        }

        const auto& ui = state.ui;

        if (ui.zoom < 0 || ui.zoom > 19)
            return "UI保存状態の型・範囲が不正です";

        if (ui.rowHeight < 30 || ui.rowHeight > 49)
            return "行の表示密度が不正です";

        for (const auto& id : ui.collapsedFolders)
            if (! isValidId (asReadBack (id)))
                return "Invalid collapsed folder ID";

        return nullptr;
    }
} // namespace

StoreResult checkCatalogState (const CatalogState& state)
{
    if (auto message = checkState (state))
        return StoreResult::failure (juce::String::fromUTF8 (message));

    return StoreResult::success();
}

StoreResult readCatalogJson (const juce::var& json, CatalogState& state)
{
    CatalogState read;

    if (auto message = readDocument (json, read))
        return StoreResult::failure (juce::String::fromUTF8 (message));

    state = std::move (read);
    return StoreResult::success();
}

bool readEqSettings (const juce::var& json, EqSettings& eq)
{
    return readEq (json, eq) == EqRead::ok;
}

bool hasSupportedVersion (const juce::var& value)
{
    return isObject (value) && isIntegerIn (value[keys().version], 1, sessionDocumentVersion);
}

bool hasStringMembers (const juce::var& object, std::initializer_list<const char*> names)
{
    for (const auto* name : names)
        if (! allStrings (object, { juce::Identifier (name) }))
            return false;

    return isObject (object);
}

bool parseUInt64Text (const juce::var& value, uint64_t& out)
{
    if (! value.isString())
        return false;

    return parseDigits (value.toString().toRawUTF8(), std::numeric_limits<uint64_t>::max(), out);
}

bool parseInt64Text (const juce::var& value, int64_t& out)
{
    if (! value.isString())
        return false;

    const auto text = value.toString();
    const auto* digits = text.toRawUTF8();
    const bool negative = *digits == '-';
    if (negative)
        ++digits;

    constexpr auto largest = static_cast<uint64_t> (std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;

    if (! parseDigits (digits, negative ? largest + 1 : largest, magnitude))
        return false;

    // The magnitude of the smallest value is beyond int64's positive range: negate in unsigned.
    out = negative ? static_cast<int64_t> (0 - magnitude) : static_cast<int64_t> (magnitude);
    return true;
}

juce::String sessionJsonText (const juce::var& document)
{
    return juce::JSON::toString (document, false, 17);
}
} // namespace vantrel
