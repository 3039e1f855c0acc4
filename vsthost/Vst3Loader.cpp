#include "vsthost/Vst3Loader.h"

#include "vsthost/ClassIdText.h"
#include "vsthost/OrvaneHostApplication.h"

#include "platform/ThreadContract.h"

#include <cstring>
#include <set>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
std::set<std::string> subCategorySet (const std::string& joined)
{
    std::set<std::string> pieces;
    std::size_t start = 0;

    for (;;)
    {
        const auto bar = joined.find ('|', start);
        const auto piece = joined.substr (start, bar == std::string::npos ? std::string::npos : bar - start);

        if (! piece.empty())
            pieces.insert (piece);

        if (bar == std::string::npos)
            return pieces;

        start = bar + 1;
    }
}

/** Gives the factory the process-wide host application as its context. */
void setFactoryHostContext (IPluginFactory* factory)
{
    IPluginFactory3* factory3 = nullptr;

    if (factory->queryInterface (IPluginFactory3::iid, reinterpret_cast<void**> (&factory3)) == kResultOk
        && factory3 != nullptr)
    {
        factory3->setHostContext (&OrvaneHostApplication::instance());
        factory3->release();
    }
}
} // namespace

bool isAcceptedEffectClass (const ModuleClassInfo& info)
{
    if (info.category != "Audio Module Class")
        return false;

    const auto pieces = subCategorySet (info.subCategories);
    return pieces.count ("Fx") == 1 && pieces.count ("OnlyARA") == 0 && pieces.count ("OnlyOfflineProcess") == 0
        && pieces.count ("OnlyRT") == 0;
}

std::unique_ptr<Vst3Backend> loadVst3Backend (const std::string& modulePath, const std::string& classIdText,
                                              std::string& error, UiDispatcher* uiDispatcher)
{
    VANTREL_ASSERT_UI_THREAD;
    error.clear();
    auto module = Vst3Module::open (modulePath, error);

    if (module == nullptr)
        return nullptr;

    const ModuleClassInfo* chosen = nullptr;

    for (const auto& info : module->classes())
    {
        if (! isAcceptedEffectClass (info))
            continue;

        TUID requested {};

        if (parseClassIdText (classIdText, requested) && std::memcmp (requested, info.id, sizeof (TUID)) == 0)
        {
            chosen = &info;
            break;
        }
    }

    if (chosen == nullptr)
    {
        error = "requested VST3 insert Audio Effect class UID not found or outside initial scope";
        return nullptr;
    }

    const auto classInfo = *chosen;
    auto& hostApplication = OrvaneHostApplication::instance();
    setFactoryHostContext (module->factory());

    auto backend = std::make_unique<Vst3Backend> (modulePath, std::move (module), classInfo, hostApplication, false, true,
                                                  uiDispatcher);
    auto initialised = backend->initialize();

    if (! initialised.ok)
    {
        error = initialised.message;
        return nullptr;
    }

    return backend;
}

std::vector<ClassRecord> scanVst3Module (const std::string& modulePath, std::string& error)
{
    VANTREL_ASSERT_UI_THREAD;
    error.clear();
    std::vector<ClassRecord> records;
    auto module = Vst3Module::open (modulePath, error);

    if (module == nullptr)
        return records;

    for (const auto& info : module->classes())
        if (isAcceptedEffectClass (info))
            records.push_back ({ classIdText (info.id), info.name, info.vendor, info.version, info.subCategories });

    if (records.empty() && error.empty())
        error = "no supported VST3 insert Audio Effect class found";

    return records;
}
} // namespace orvane::vsthost
