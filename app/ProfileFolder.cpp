#include "app/ProfileFolder.h"

#include "platform/FileStatus.h"

#include <cstdlib>

namespace vantrel
{
PathKind classifyPath (const juce::File& path)
{
    switch (platform::readEntryKind (path.getFullPathName().toStdString()))
    {
        case platform::EntryKind::absent:    return PathKind::absent;
        case platform::EntryKind::directory: return PathKind::directory;
        case platform::EntryKind::otherFile: return PathKind::otherFile;
        case platform::EntryKind::unusable:  break;
    }
    return PathKind::unusable;
}

juce::File localApplicationDataFolder()
{
    const auto fromVariable = [] (const char* name) { const char* value = std::getenv (name); return juce::String::fromUTF8 (value != nullptr ? value : ""); };
    const auto dataHome = fromVariable ("XDG_DATA_HOME");
    if (dataHome.startsWithChar ('/'))
        return juce::File (dataHome);
    const auto home = fromVariable ("HOME");
    if (home.startsWithChar ('/'))
        return juce::File (home).getChildFile (".local/share");
    return {};
}

juce::String createMissingDataHome (const juce::File& base)
{
    if (base == juce::File())
        return "Neither XDG_DATA_HOME nor HOME names an absolute folder.";
    const auto reason = platform::createMissingFolders (base.getFullPathName().toStdString());
    if (reason.empty())
        return {};
    return "The data folder cannot be created: " + juce::String::fromUTF8 (reason.c_str());
}

ProfileFolderResult resolveProfileFolder (const juce::File& base)
{
    const ProfileFolderResult refused;
    if (base == juce::File() || classifyPath (base) != PathKind::directory)
        return refused;
    const auto currentProduct = base.getChildFile ("Vantrel");
    const auto previousProduct = base.getChildFile ("Vantrel_Lumaro");
    for (const auto& product : { currentProduct, previousProduct })
    {
        const auto kind = classifyPath (product);
        if (kind != PathKind::absent && kind != PathKind::directory)
            return refused;
    }
    const auto current = currentProduct.getChildFile ("Ver1");
    const auto previous = previousProduct.getChildFile ("Ver1C5");
    const auto currentKind = classifyPath (current), previousKind = classifyPath (previous);
    for (const auto kind : { currentKind, previousKind })
        if (kind == PathKind::otherFile || kind == PathKind::unusable)
            return refused;
    if (currentKind == PathKind::directory && previousKind == PathKind::directory)
        return { {}, ProfileFolderStatus::bothVersionsExist };
    if (currentKind == PathKind::absent && previousKind == PathKind::absent)
        return { current, ProfileFolderStatus::ok };
    const auto found = currentKind == PathKind::directory ? current : previous;
    for (const char* sub : { "music", "local" })
    {
        const auto kind = classifyPath (found.getChildFile (sub));
        if (kind != PathKind::absent && kind != PathKind::directory)
            return refused;
    }
    return { found, ProfileFolderStatus::ok };
}

juce::String profileCannotBeVerifiedText()
{
    return juce::String::fromUTF8 ("保存データの場所を確認できませんでした。何も初期化せず、起動を中止しました。保存データを保全してサポートへご相談ください。\n"
                                   "The location of the saved data could not be verified. Nothing was reset and start-up was stopped. "
                                   "Preserve your data and contact support.");
}

juce::String profileBothVersionsText()
{
    return juce::String::fromUTF8 ("新旧両方の保存データが見つかりました。自動で統合せず起動を中止しました。保存データを保全してサポートへご相談ください。\n"
                                   "Both current and previous data folders exist. Nothing was merged. Preserve your data and contact support.");
}
} // namespace vantrel
