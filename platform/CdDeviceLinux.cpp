// CD drives and disc images through libcdio.
#include "platform/CdDevice.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

namespace vantrel::platform
{
namespace
{
constexpr int leadInFrames = 150;
constexpr int leadOutNumber = 0xAA;

struct CdioCloser
{
    void operator() (CdIo_t* cdio) const  { cdio_destroy (cdio); }
};
using CdioPointer = std::unique_ptr<CdIo_t, CdioCloser>;

/** Device nodes through whichever driver fits; CUE sheets and cdrdao TOC files through their
    image readers, so that a name alone never picks another reader. */
driver_id_t driverFor (const juce::String& path)
{
    if (path.endsWithIgnoreCase (".cue"))
        return DRIVER_BINCUE;
    if (path.endsWithIgnoreCase (".toc"))
        return DRIVER_CDRDAO;
    return DRIVER_UNKNOWN;
}

CdioPointer openSource (const juce::String& path)
{
    return CdioPointer (cdio_open (path.toRawUTF8(), driverFor (path)));
}

bool isDriveName (const char* name)
{
    if (std::strncmp (name, "sr", 2) != 0 || name[2] == 0)
        return false;
    return std::all_of (name + 2, name + std::strlen (name), [] (char c) { return c >= '0' && c <= '9'; });
}

/** The control nibble of a track as libcdio reports it. */
int controlOf (CdIo_t* cdio, track_t track)
{
    int control = cdio_get_track_format (cdio, track) == TRACK_FORMAT_AUDIO ? 0 : 0x04;
    if (cdio_get_track_preemphasis (cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x01;
    if (cdio_get_track_copy_permit (cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x02;
    if (cdio_get_track_channels (cdio, track) == 4)
        control |= 0x08;
    return control;
}

class CdioDevice : public CdDevice
{
public:
    CdioDevice (juce::String p, CdioPointer opened) : path (std::move (p)), cdio (std::move (opened)) {}

    bool readToc (CdToc& toc) override
    {
        // libcdio reads a drive's table once per opening: open again so that a disc put in since
        // is the one described.
        if (auto fresh = openSource (path))
            cdio = std::move (fresh);
        else
            return false;
        programEnd = -1;

        const auto first = cdio_get_first_track_num (cdio.get());
        const auto tracks = cdio_get_num_tracks (cdio.get());
        if (first == CDIO_INVALID_TRACK || tracks == CDIO_INVALID_TRACK || tracks == 0)
            return false;

        // The first sector of the last session, where the drive tells it (an enhanced disc's data
        // session); images and single-session discs are one session.
        lsn_t lastSession = 0;
        if (cdio_get_last_session (cdio.get(), &lastSession) != DRIVER_OP_SUCCESS)
            lastSession = 0;

        CdToc result;
        result.firstTrack = first;
        result.lastTrack = first + tracks - 1;
        int sessions = 1;
        for (int number = result.firstTrack; number <= result.lastTrack; ++number)
        {
            const auto lba = cdio_get_track_lba (cdio.get(), (track_t) number);
            if (lba == CDIO_INVALID_LBA)
                return false;
            const int session = lastSession > 0 && lba - leadInFrames >= lastSession ? 2 : 1;
            sessions = std::max (sessions, session);
            result.entries.push_back ({ number, controlOf (cdio.get(), (track_t) number), lba, session });
        }
        const auto leadOut = cdio_get_track_lba (cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
        if (leadOut == CDIO_INVALID_LBA)
            return false;
        result.entries.push_back ({ leadOutNumber, 0, leadOut, sessions });
        programEnd = leadOut - leadInFrames;
        toc = std::move (result);
        return true;
    }

    juce::String title() override
    {
        const auto* text = cdio_get_cdtext (cdio.get());
        const char* title = text != nullptr ? cdtext_get_const (text, CDTEXT_FIELD_TITLE, 0) : nullptr;
        return title != nullptr ? juce::String::fromUTF8 (title) : juce::String();
    }

    int readAudio (int sector, int count, std::uint8_t* out) override
    {
        if (sector < 0 || count < 1 || count > maxSectorsPerRead)
            return -1;
        // libcdio's image reader answers a read that runs past the image's end with success and
        // leaves the rest of the buffer as it was: nothing past the lead-out is read.
        if (programEnd < 0)
        {
            const auto leadOut = cdio_get_track_lba (cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
            programEnd = leadOut == CDIO_INVALID_LBA ? 0 : leadOut - leadInFrames;
        }
        if ((std::int64_t) sector + count > programEnd)
            return -1;
        if (cdio_read_audio_sectors (cdio.get(), out, sector, (uint32_t) count) != DRIVER_OP_SUCCESS)
            return -1;
        return count * sectorBytes;
    }

private:
    const juce::String path;
    CdioPointer cdio;
    int programEnd = -1;   // the lead-out's sector; -1 until known
};
} // namespace

std::vector<juce::String> listCdDrives()
{
    std::vector<juce::String> drives;
    if (auto* folder = ::opendir ("/dev"))
    {
        while (const auto* entry = ::readdir (folder))
        {
            const auto path = juce::String ("/dev/") + entry->d_name;
            struct stat info {};
            if (isDriveName (entry->d_name) && ::stat (path.toRawUTF8(), &info) == 0)
                drives.push_back (path);
        }
        ::closedir (folder);
    }
    std::sort (drives.begin(), drives.end(), [] (const juce::String& a, const juce::String& b) { return a.compareNatural (b) < 0; });
    return drives;
}

std::unique_ptr<CdDevice> openCdDevice (const juce::String& path)
{
    auto cdio = openSource (path);
    if (cdio == nullptr)
        return nullptr;
    return std::make_unique<CdioDevice> (path, std::move (cdio));
}
} // namespace vantrel::platform
