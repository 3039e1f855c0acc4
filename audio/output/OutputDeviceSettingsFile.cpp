#include "audio/output/OutputDeviceSettingsFile.h"

#include "platform/FileCopy.h"
#include "session/AtomicFileWriter.h"
#include "session/StoredJson.h"

namespace vantrel
{
namespace
{
const juce::String tooLargeText   = juce::String::fromUTF8 ("出力設定が上限を超えています");
const juce::String damagedText    = juce::String::fromUTF8 ("出力先設定が破損しています。自動出力を止めました");
const juce::String badIdText      = juce::String::fromUTF8 ("出力設定の識別子が不正です");
const juce::String badNumTypeText = juce::String::fromUTF8 ("出力設定の数値形式が不正です");
const juce::String badNumberText  = juce::String::fromUTF8 ("出力設定の数値が不正です");
const juce::String noIdText       = juce::String::fromUTF8 ("出力先設定の識別子がありません");
const juce::String refusedText    = juce::String::fromUTF8 ("出力設定を保存できません。選択内容を確認してください");
const juce::String keepOldText    = juce::String::fromUTF8 ("以前の出力設定を保全できませんでした");

const char* const previousFileName = "device-before-independent-output.json";

bool isInteger (const juce::var& v)  { return v.isInt() || v.isInt64(); }
bool isNumber (const juce::var& v)   { return isInteger (v) || v.isDouble(); }

/** The parsed file's version (1 or 2), or 0 when the bytes are not a versioned settings object. */
int parseVersioned (const juce::File& file, juce::var& root)
{
    juce::MemoryBlock bytes;
    if (! file.loadFileAsData (bytes))
        return 0;
    if (parseStoredJson (bytes.toString().toStdString(), root).failed() || ! root.isObject())
        return 0;
    const auto version = root.getProperty ("version", {});
    if (! isInteger (version))
        return 0;
    const auto number = static_cast<juce::int64> (version);
    return number == 1 || number == 2 ? static_cast<int> (number) : 0;
}
} // namespace

StoreResult readOutputDeviceSettings (const juce::File& file, OutputDeviceSettings& settings)
{
    // Read at start-up, before anything writes these files: a save killed mid-write left its
    // temporary sibling behind.
    removeStaleTemporaryFiles (file.getParentDirectory(), [name = file.getFileName()] (const juce::String& target)
                               { return target == name || target == previousFileName; });

    if (! file.exists())
    {
        settings = {};
        return StoreResult::success();
    }
    if (file.isDirectory())
        return StoreResult::failure (damagedText);
    if (file.getSize() > outputSettingsFileLimit)
        return StoreResult::failure (tooLargeText);

    juce::var root;
    const int version = parseVersioned (file, root);
    if (version == 0)
        return StoreResult::failure (damagedText);

    const auto type = root.getProperty ("type", {});
    const auto name = root.getProperty ("name", {});
    const auto id = root.getProperty ("id", {});
    if (! type.isString() || ! name.isString() || ! id.isString())
        return StoreResult::failure (badIdText);

    const auto rate = root.getProperty ("sampleRate", {});
    const auto buffer = root.getProperty ("bufferSize", {});
    const auto pair = root.getProperty ("outputPair", {});
    if (version == 2 && (! isNumber (rate) || ! isInteger (buffer) || ! isInteger (pair)))
        return StoreResult::failure (badNumTypeText);

    OutputDeviceSettings read;
    read.type = type.toString();
    read.name = name.toString();
    read.id = id.toString();
    bool numbersFit = true;
    if (version == 2)
    {
        read.sampleRate = static_cast<double> (rate);
        const auto bufferValue = static_cast<juce::int64> (buffer);
        const auto pairValue = static_cast<juce::int64> (pair);
        // A 64-bit number outside int would wrap into range when narrowed: refuse it here.
        numbersFit = bufferValue >= -1 && bufferValue <= 65537 && pairValue >= -1 && pairValue <= 128;
        read.bufferSize = numbersFit ? static_cast<int> (bufferValue) : -1;
        read.outputPair = numbersFit ? static_cast<int> (pairValue) : -1;
    }
    settings = read;

    if (! numbersFit || ! settings.isValid())
        return StoreResult::failure (badNumberText);
    if (! settings.namesDevice())
        return StoreResult::failure (noIdText);
    return StoreResult::success();
}

StoreResult writeOutputDeviceSettings (const juce::File& file, const OutputDeviceSettings& settings)
{
    if (! settings.namesDevice() || ! settings.isValid())
        return StoreResult::failure (refusedText);

    if (file.existsAsFile())
    {
        juce::var existing;
        const auto previous = file.getSiblingFile (previousFileName);
        if (parseVersioned (file, existing) == 1 && ! previous.exists())
        {
            const auto copied = platform::copyFileDurably (file.getFullPathName().toStdString(),
                                                           previous.getFullPathName().toStdString());
            if (copied.failed())
                return StoreResult::failure (keepOldText);
        }
    }

    auto* object = new juce::DynamicObject();
    juce::var root (object);
    object->setProperty ("version", 2);
    object->setProperty ("type", settings.type);
    object->setProperty ("name", settings.name);
    object->setProperty ("id", settings.id);
    object->setProperty ("sampleRate", settings.sampleRate);
    object->setProperty ("bufferSize", settings.bufferSize);
    object->setProperty ("outputPair", settings.outputPair);
    return writeFileAtomically (file, juce::JSON::toString (root, false, 15), true, outputSettingsFileLimit);
}
} // namespace vantrel
