#include "vsthost/PluginContext.h"

#include <mutex>

namespace orvane::vsthost
{
namespace
{
std::mutex contextMutex;
Steinberg::FUnknown* currentContext = nullptr;
int users = 0;
} // namespace

void acquirePluginContext (Steinberg::FUnknown* context)
{
    const std::lock_guard<std::mutex> lock (contextMutex);

    if (currentContext != context)
        users = 0;

    currentContext = context;
    ++users;
}

void releasePluginContext (Steinberg::FUnknown* context)
{
    const std::lock_guard<std::mutex> lock (contextMutex);

    if (currentContext != context || users == 0)
        return;

    if (--users == 0)
        currentContext = nullptr;
}

Steinberg::FUnknown* currentPluginContext()
{
    const std::lock_guard<std::mutex> lock (contextMutex);
    return currentContext;
}
} // namespace orvane::vsthost
