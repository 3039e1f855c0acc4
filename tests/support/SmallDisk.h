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

    /** Fills the disk until no block of it is free; true when it is full. A write can fail
        before that for another reason (a tmpfs page not to be had while memory is short on a
        loaded machine): the filling then goes on, so that "full" means full and not "short of
        memory once". */
    bool fill() const
    {
        const auto file = folder.getChildFile ("filler");
        const std::vector<char> block (4096, 'x');
        for (int attempt = 0; attempt < 1000 && folder.getBytesFreeOnVolume() > 0; ++attempt)
        {
            juce::FileOutputStream filler (file);   // appends to what earlier attempts wrote
            while (filler.openedOk() && filler.write (block.data(), block.size()))
            {
                filler.flush();
                if (! filler.getStatus().wasOk())
                    break;
            }
        }
        return folder.getBytesFreeOnVolume() == 0;
    }
};
} // namespace vantrel::test
