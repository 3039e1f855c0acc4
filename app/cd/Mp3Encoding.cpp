// Converting a ripped track into MP3 with LAME. The media loader decodes the WAV and resamples it
// to the MP3 rate, so the encoder always receives 16-bit stereo PCM at its output rate.
#include "app/cd/AudioCdImport.h"

#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"
#include "session/FileSignature.h"
#include "session/UiText.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace vantrel
{
namespace
{
/** Frames handed to the encoder at a time; the cancel flag is read between blocks. */
constexpr int framesPerBlock = 8192;
/** LAME's own bound for what one call may return: 1.25 bytes per frame plus 7200. */
constexpr int mp3BytesPerBlock = framesPerBlock * 5 / 4 + 7200;
/** LAME's algorithm choice (0 best and slowest .. 9). Its default, 3, takes about a quarter longer
    than 5 ("good quality, fast"): with the load of the WAV on top, a conversion at 3 is slower than
    the lame command at its defaults; at 5 it is faster. */
constexpr int encoderQuality = 5;
/** Room for the Info tag frame: one frame, at most 1441 bytes (320 kbps at 32 kHz). */
constexpr size_t tagFrameBytes = 2048;
/** LAME's code for "the buffer is too small", for a tag frame that does not fit. */
constexpr int lameBufferTooSmall = -1;

bool isOfferedRate (int rate)        { return rate == 32000 || rate == 44100 || rate == 48000; }
bool isOfferedBitrate (int kbps)     { return kbps == 128 || kbps == 192 || kbps == 256 || kbps == 320; }

struct LameClose
{
    void operator() (lame_global_flags* flags) const  { lame_close (flags); }
};
using LameEncoder = std::unique_ptr<lame_global_flags, LameClose>;

/** An encoder set up for CBR stereo at the rate and bit rate, with the Info tag that gives decoders
    the exact length (and no ID3 tag before it); empty when LAME refuses any of it. */
LameEncoder openEncoder (int sampleRate, int bitrateKbps, std::uint64_t frames)
{
    LameEncoder lame (lame_init());
    if (lame == nullptr)
        return {};
    auto* flags = lame.get();
    lame_set_write_id3tag_automatic (flags, 0);
    const bool configured = lame_set_num_channels (flags, 2) == 0 && lame_set_in_samplerate (flags, sampleRate) == 0
                         && lame_set_out_samplerate (flags, sampleRate) == 0 && lame_set_VBR (flags, vbr_off) == 0
                         && lame_set_brate (flags, bitrateKbps) == 0 && lame_set_quality (flags, encoderQuality) == 0
                         && lame_set_bWriteVbrTag (flags, 1) == 0
                         && lame_set_num_samples (flags, (unsigned long) frames) == 0;
    if (! configured || lame_init_params (flags) < 0)
        return {};
    return lame;
}

/** The MP3 file being written; every failure of the file shows in the results. */
class Mp3File
{
public:
    explicit Mp3File (const juce::File& file) : handle (std::fopen (file.getFullPathName().toRawUTF8(), "wb")) {}
    ~Mp3File()                           { if (handle != nullptr) std::fclose (handle); }
    Mp3File (const Mp3File&) = delete;
    Mp3File& operator= (const Mp3File&) = delete;

    bool isOpen() const                  { return handle != nullptr; }
    bool write (const unsigned char* bytes, int count)
    {
        return count <= 0 || std::fwrite (bytes, 1, (size_t) count, handle) == (size_t) count;
    }
    /** Writes over the start of the file (the first frame LAME reserved for its tag). */
    bool writeAtStart (const std::vector<unsigned char>& bytes)
    {
        return std::fseek (handle, 0, SEEK_SET) == 0 && write (bytes.data(), (int) bytes.size());
    }
    /** Closes the file; false when the last buffered bytes could not be written. */
    bool close()
    {
        const bool closed = std::fclose (handle) == 0;
        handle = nullptr;
        return closed;
    }

private:
    std::FILE* handle;
};

inline short toPcm16 (float sample)
{
    return (short) std::lroundf (std::clamp (sample, -1.0f, 1.0f) * 32767.0f);
}

StoreResult lameFailure (int code)
{
    return StoreResult::failure (translate ("MP3変換に失敗しました: LAMEのエラー ") + juce::String (code));
}

StoreResult writeFailure()
{
    return StoreResult::failure (translate ("MP3ファイルを書き込めません。空き容量を確認してください"));
}
} // namespace

StoreResult AudioCdImport::encodeMp3 (const juce::File& wav, const juce::File& mp3, int sampleRate, int bitrateKbps,
                                      const std::atomic<bool>* cancel)
{
    if (! isOfferedRate (sampleRate) || ! isOfferedBitrate (bitrateKbps))
        return StoreResult::failure (translate ("MP3の周波数・ビットレートが不正です"));

    MediaLoadRequest request;
    request.key = "cd-encode";
    request.path = wav;
    request.signature = readFileSignature (wav);
    request.rate = (double) sampleRate;
    const auto media = loadMedia (request, cancel);
    if (media->pcm == nullptr)
        return StoreResult::failure (media->error.isNotEmpty() ? media->error
                                                                 : juce::String::fromUTF8 (mediatext::loadFailed));
    const auto& pcm = *media->pcm;
    const auto frames = pcm.frames();

    const auto lame = openEncoder (sampleRate, bitrateKbps, frames);
    if (lame == nullptr)
        return StoreResult::failure (translate ("MP3エンコーダー（LAME）を初期化できません"));

    Mp3File file (mp3);   // a cancelled or failed encoding leaves what it wrote for the caller to remove
    if (! file.isOpen())
        return writeFailure();

    const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    std::vector<short> interleaved ((size_t) framesPerBlock * 2);
    std::vector<unsigned char> encoded ((size_t) mp3BytesPerBlock);
    for (std::uint64_t start = 0; start < frames && ! cancelled(); start += framesPerBlock)
    {
        const int count = (int) std::min<std::uint64_t> (frames - start, framesPerBlock);
        const float* left = pcm.left.data() + start;
        const float* right = pcm.right.data() + start;
        for (int i = 0; i < count; ++i)
        {
            interleaved[(size_t) i * 2] = toPcm16 (left[i]);
            interleaved[(size_t) i * 2 + 1] = toPcm16 (right[i]);
        }
        const int bytes = lame_encode_buffer_interleaved (lame.get(), interleaved.data(), count, encoded.data(),
                                                          (int) encoded.size());
        if (bytes < 0)
            return lameFailure (bytes);
        if (! file.write (encoded.data(), bytes))
            return writeFailure();
    }
    if (cancelled())
        return StoreResult::failure (translate ("CD取込をキャンセルしました"));

    const int flushed = lame_encode_flush (lame.get(), encoded.data(), (int) encoded.size());
    if (flushed < 0)
        return lameFailure (flushed);
    if (! file.write (encoded.data(), flushed))
        return writeFailure();

    // The Info tag replaces the empty frame LAME put first, now that the frame count is known.
    std::vector<unsigned char> tag (tagFrameBytes);
    const auto tagBytes = lame_get_lametag_frame (lame.get(), tag.data(), tag.size());
    if (tagBytes > tag.size())
        return lameFailure (lameBufferTooSmall);
    tag.resize (tagBytes);
    if (! file.writeAtStart (tag) || ! file.close())
        return writeFailure();
    return StoreResult::success();
}
} // namespace vantrel
