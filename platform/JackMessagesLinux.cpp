#include "platform/JackMessages.h"

#include <dlfcn.h>

namespace vantrel::platform
{
namespace
{
using SetHandler = void (*) (JackMessageHandler);

struct JackSetters
{
    SetHandler error = nullptr;
    SetHandler info = nullptr;
};

// Loaded once and never closed: libjack keeps the handlers in its own globals.
const JackSetters& jackSetters()
{
    static const JackSetters setters = []
    {
        JackSetters found;
        void* library = dlopen ("libjack.so.0", RTLD_LAZY);
        if (library == nullptr)
            library = dlopen ("libjack.so", RTLD_LAZY);
        if (library != nullptr)
        {
            found.error = reinterpret_cast<SetHandler> (dlsym (library, "jack_set_error_function"));
            found.info = reinterpret_cast<SetHandler> (dlsym (library, "jack_set_info_function"));
        }
        return found;
    }();
    return setters;
}
} // namespace

bool setJackMessageHandlers (JackMessageHandler error, JackMessageHandler info)
{
    const auto& setters = jackSetters();
    if (setters.error == nullptr || setters.info == nullptr)
        return false;
    setters.error (error);
    setters.info (info);
    return true;
}
} // namespace vantrel::platform
