#include "platform/FileFaults.h"

#include <atomic>
#include <mutex>

namespace vantrel::platform
{
namespace
{
struct SeamState
{
    std::mutex mutex;
    std::optional<FileFault> fault;
    int matches = 0;
    bool delivered = false;
    bool recording = false;
    std::vector<FileOperation> operations;
};

SeamState& seam()
{
    static SeamState state;
    return state;
}

std::atomic<bool> seamActive { false };

void updateActive (const SeamState& state)
{
    seamActive.store (state.fault.has_value() || state.recording, std::memory_order_release);
}
} // namespace

const char* fileOpName (FileOp op)
{
    switch (op)
    {
        case FileOp::createFolder: return "createFolder";
        case FileOp::createFile:   return "createFile";
        case FileOp::writeFile:    return "writeFile";
        case FileOp::syncFile:     return "syncFile";
        case FileOp::closeFile:    return "closeFile";
        case FileOp::readFile:     return "readFile";
        case FileOp::renameFile:   return "renameFile";
        case FileOp::linkFile:     return "linkFile";
        case FileOp::syncFolder:   return "syncFolder";
        case FileOp::removeFile:   return "removeFile";
    }
    return "?";
}

void FileFaults::arm (const FileFault& fault)
{
    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);
    state.fault = fault;
    state.matches = 0;
    state.delivered = false;
    updateActive (state);
}

void FileFaults::startRecording()
{
    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);
    state.recording = true;
    state.operations.clear();
    updateActive (state);
}

std::vector<FileOperation> FileFaults::recorded()
{
    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);
    return state.operations;
}

void FileFaults::reset()
{
    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);
    state.fault.reset();
    state.matches = 0;
    state.delivered = false;
    state.recording = false;
    state.operations.clear();
    updateActive (state);
}

bool FileFaults::fired()
{
    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);
    return state.delivered;
}

int FileFaults::check (FileOp op, const std::string& path, int64_t bytes)
{
    if (! seamActive.load (std::memory_order_acquire))
        return 0;

    auto& state = seam();
    const std::lock_guard<std::mutex> lock (state.mutex);

    if (state.recording)
        state.operations.push_back ({ op, path, bytes });

    if (! state.fault || state.delivered)
        return 0;

    const auto& fault = *state.fault;

    const auto& suffix = fault.pathEndsWith;
    const bool endsWith = path.size() >= suffix.size() && path.compare (path.size() - suffix.size(), suffix.size(), suffix) == 0;

    if ((fault.op && *fault.op != op) || path.find (fault.pathContains) == std::string::npos || ! endsWith)
        return 0;

    if (++state.matches != fault.nth)
        return 0;

    state.delivered = true;
    return fault.error;
}
} // namespace vantrel::platform
