#pragma once

#include "vsthost/ProcessTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::vsthost
{
/** The one plug-in a worker hosts. Created, replaced and destroyed on the UI thread only.
    process runs on the protocol thread; every other operation on the UI thread. No operation throws for a plug-in failure: it returns a failed ProcessResult. */
class PluginBackend
{
public:
    virtual ~PluginBackend() = default;

    virtual BackendInfo info() = 0;
    virtual ProcessResult configure (const ProcessConfig& config) = 0;
    virtual ProcessResult setBypass (bool bypass) = 0;
    virtual bool isBypassed() = 0;
    virtual ProcessResult process (ProcessBlock& block) = 0;
    virtual ProcessResult serviceEditor() = 0;
    virtual std::string saveState() = 0;
    virtual ProcessResult loadState (const std::string& hex) = 0;
    virtual ProcessResult resetSeek() = 0;
    virtual std::vector<ParameterRecord> parameters() = 0;
    virtual ProcessResult setParameter (std::uint32_t id, double normalized) = 0;
    virtual ProcessResult flushParameters() = 0;
    virtual ProcessResult serviceControl() = 0;
    virtual std::optional<double> parameterValue (std::uint32_t id) = 0;
    virtual ProcessResult probeNativeEditor() = 0;
    virtual ProcessResult openNativeEditor (const std::string& title) = 0;
    virtual ProcessResult closeNativeEditor() = 0;
    virtual ProcessResult pumpEditorMessages() = 0;
    virtual bool isEditorOpen() = 0;
    virtual std::uint64_t changeCount() = 0;
    virtual ProcessResult showNativeEditor (const std::string& title) = 0;

    /** The UI thread's periodic service (after every dispatched item and at least every 10 ms):
        tears down an editor the user closed, hands the processor's output parameter changes to
        the controller and serves the plug-in's restart requests (serviceControl), so that none
        waits for a command from the client. */
    virtual void serviceIdle() = 0;

    /** The plug-in has asked to be loaded again (a component reload). Stays true for the
        backend's life: only a new backend, loaded with the saved state, serves the request. */
    virtual bool reloadRequested() = 0;
};
} // namespace orvane::vsthost
