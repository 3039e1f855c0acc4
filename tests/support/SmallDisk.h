#pragma once

#include <juce_core/juce_core.h>

#include <sys/mount.h>

#include <vector>

namespace vantrel::test
{
/** A small tmpfs mounted over a folder (needs root); unmounted when it goes. */
struct SmallDisk
{
    juce::File folder;
    bool mounted = false;

    SmallDisk (const juce::File& where, const char* size) : folder (where)
    {
        folder.createDirectory();
        const auto options = juce::String ("size=") + size;
        mounted = ::mount ("tmpfs", folder.getFullPathName().toRawUTF8(), "tmpfs", 0, options.toRawUTF8()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2 (folder.getFullPathName().toRawUTF8(), MNT_DETACH);
    }

    /** Fills the disk until a write fails. */
    void fill() const
    {
        juce::FileOutputStream filler (folder.getChildFile ("filler"));
        const std::vector<char> block (4096, 'x');
        for (;;)
        {
            if (! filler.write (block.data(), block.size()))
                break;
            filler.flush();
            if (! filler.getStatus().wasOk())
                break;
        }
    }
};
} // namespace vantrel::test
