#include "audio/output/JackMessages.h"

#include "platform/JackMessages.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace vantrel::jack_messages
{
namespace
{
// Constant-initialised: libjack may report before anything else of the program ran.
struct KeptErrors
{
    std::mutex mutex;
    std::array<std::array<char, 256>, keptErrors> lines {};
    std::uint64_t count = 0;
};

KeptErrors kept;
std::atomic<int> openOutputs { 0 };

void dropText (const char*) {}

/** libjack's error handler. It may run on JACK's real-time thread: it never waits for the lock
    (a text that meets the reader is dropped) and copies into fixed lines. */
void keepError (const char* text)
{
    if (text == nullptr || openOutputs.load() <= 0)
        return;
    std::unique_lock<std::mutex> lock (kept.mutex, std::try_to_lock);
    if (! lock.owns_lock())
        return;
    auto& line = kept.lines[kept.count % kept.lines.size()];
    std::strncpy (line.data(), text, line.size() - 1);
    line.back() = '\0';
    // A cut text ends before the character it cut.
    auto end = std::strlen (line.data());
    if (end == line.size() - 1 && (static_cast<unsigned char> (line[end - 1]) & 0x80) != 0)
    {
        while (end > 0 && (static_cast<unsigned char> (line[end - 1]) & 0xc0) == 0x80)
            --end;
        line[end > 0 ? end - 1 : 0] = '\0';
    }
    ++kept.count;
}
} // namespace

void takeOver()
{
    platform::setJackMessageHandlers (keepError, dropText);
}

void outputOpened()
{
    openOutputs.fetch_add (1);
}

void outputClosed()
{
    openOutputs.fetch_sub (1);
}

juce::StringArray recentErrors()
{
    juce::StringArray texts;
    std::lock_guard<std::mutex> lock (kept.mutex);
    const auto size = static_cast<std::uint64_t> (kept.lines.size());
    for (auto i = kept.count > size ? kept.count - size : 0; i < kept.count; ++i)
        texts.add (juce::String::fromUTF8 (kept.lines[i % size].data()));
    return texts;
}
} // namespace vantrel::jack_messages
