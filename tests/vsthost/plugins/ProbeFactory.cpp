// The probe module's factory and entry points. Compile definitions select module-level faults:
// PROBE_ENTRY_FAILS (ModuleEntry answers false), PROBE_NO_FACTORY (no GetPluginFactory export),
// PROBE_REFUSED_ONLY (only classes the host does not accept).
#include "ProbeComponent.h"
#include "ProbeController.h"
#include "ProbeLog.h"

#include "pluginterfaces/base/ipluginbase.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace probe
{
using namespace Steinberg;

namespace
{
std::vector<Kind> listedKinds()
{
#if defined(PROBE_REFUSED_ONLY)
    return { Kind::instrument, Kind::fxOnlyRt, Kind::fxOtherCategory };
#else
    std::vector<Kind> kinds;

    for (auto k = 1u; k <= static_cast<unsigned> (Kind::last); ++k)
        kinds.push_back (static_cast<Kind> (k));

    return kinds;
#endif
}

void copyText (char8* target, std::size_t capacity, const char* text)
{
    std::strncpy (target, text, capacity - 1);
    target[capacity - 1] = 0;
}

void copyText16 (char16* target, std::size_t capacity, const char* text)
{
    std::size_t i = 0;

    for (; text[i] != 0 && i + 1 < capacity; ++i)
        target[i] = static_cast<char16> (static_cast<unsigned char> (text[i]));

    target[i] = 0;
}

class ProbeFactory final : public IPluginFactory3
{
public:
    ProbeFactory() : kinds (listedKinds()) {}

    tresult PLUGIN_API getFactoryInfo (PFactoryInfo* info) override
    {
        if (info == nullptr)
            return kInvalidArgument;

        *info = {};
        copyText (info->vendor, PFactoryInfo::kNameSize, "Orvane Test Probes");
        copyText (info->url, PFactoryInfo::kURLSize, "");
        copyText (info->email, PFactoryInfo::kEmailSize, "");
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }

    int32 PLUGIN_API countClasses() override
    {
        int32 count = 0;

        for (const auto kind : kinds)
            count += behaviourFor (kind).hasController ? 2 : 1;

        return count;
    }

    tresult PLUGIN_API getClassInfo (int32 index, PClassInfo* info) override
    {
        PClassInfoW wide {};

        if (info == nullptr || getClassInfoUnicode (index, &wide) != kResultOk)
            return kInvalidArgument;

        *info = {};
        std::memcpy (info->cid, wide.cid, sizeof (TUID));
        info->cardinality = wide.cardinality;
        std::memcpy (info->category, wide.category, sizeof (info->category));

        for (int i = 0; i < PClassInfo::kNameSize; ++i)
            info->name[i] = static_cast<char8> (wide.name[i]);

        return kResultOk;
    }

    tresult PLUGIN_API getClassInfo2 (int32 index, PClassInfo2* info) override
    {
        PClassInfoW wide {};

        if (info == nullptr || getClassInfoUnicode (index, &wide) != kResultOk)
            return kInvalidArgument;

        *info = {};
        std::memcpy (info->cid, wide.cid, sizeof (TUID));
        info->cardinality = wide.cardinality;
        std::memcpy (info->category, wide.category, sizeof (info->category));
        std::memcpy (info->subCategories, wide.subCategories, sizeof (info->subCategories));

        for (int i = 0; i < PClassInfo::kNameSize; ++i)
            info->name[i] = static_cast<char8> (wide.name[i]);

        for (int i = 0; i < PClassInfo2::kVendorSize; ++i)
            info->vendor[i] = static_cast<char8> (wide.vendor[i]);

        for (int i = 0; i < PClassInfo2::kVersionSize; ++i)
        {
            info->version[i] = static_cast<char8> (wide.version[i]);
            info->sdkVersion[i] = static_cast<char8> (wide.sdkVersion[i]);
        }

        return kResultOk;
    }

    tresult PLUGIN_API getClassInfoUnicode (int32 index, PClassInfoW* info) override
    {
        if (info == nullptr || index < 0)
            return kInvalidArgument;

        for (const auto kind : kinds)
        {
            const auto behaviour = behaviourFor (kind);

            for (int part = 0; part < (behaviour.hasController ? 2 : 1); ++part, --index)
            {
                if (index != 0)
                    continue;

                *info = {};
                info->cardinality = PClassInfo::kManyInstances;
                copyText16 (info->vendor, PClassInfo2::kVendorSize, "Orvane Test Probes");
                copyText16 (info->version, PClassInfo2::kVersionSize, "1.2.3");
                copyText16 (info->sdkVersion, PClassInfo2::kVersionSize, "VST 3.7.2");

                if (part == 0)
                {
                    componentClassId (kind, info->cid);
                    copyText (info->category, PClassInfo::kCategorySize, behaviour.category);
                    copyText16 (info->name, PClassInfo::kNameSize, behaviour.name);
                    copyText (info->subCategories, PClassInfo2::kSubCategoriesSize, behaviour.subCategories);
                }
                else
                {
                    controllerClassId (kind, info->cid);
                    copyText (info->category, PClassInfo::kCategorySize, "Component Controller Class");
                    copyText16 (info->name, PClassInfo::kNameSize, behaviour.name);
                    copyText (info->subCategories, PClassInfo2::kSubCategoriesSize, "Fx");
                }

                return kResultOk;
            }
        }

        return kInvalidArgument;
    }

    tresult PLUGIN_API createInstance (FIDString cid, FIDString iid, void** obj) override
    {
        if (obj == nullptr)
            return kInvalidArgument;

        *obj = nullptr;
        Kind kind = Kind::fxStereo;
        bool isController = false;

        if (cid == nullptr || ! kindOfClassId (cid, kind, isController))
            return kNoInterface;

        FUnknown* object = nullptr;

        if (isController)
            object = static_cast<Vst::IEditController*> (new ProbeController (behaviourFor (kind)));
        else
            object = static_cast<Vst::IComponent*> (new ProbeComponent (behaviourFor (kind)));

        const auto result = object->queryInterface (iid, obj);
        object->release();
        return result;
    }

    tresult PLUGIN_API setHostContext (FUnknown* context) override
    {
        logLine (std::string ("factory.setHostContext ") + (context != nullptr ? "set" : "null"));
        return kResultOk;
    }

    tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual (iid, FUnknown::iid) || FUnknownPrivate::iidEqual (iid, IPluginFactory::iid)
            || FUnknownPrivate::iidEqual (iid, IPluginFactory2::iid) || FUnknownPrivate::iidEqual (iid, IPluginFactory3::iid))
        {
            *obj = this;
            addRef();
            return kResultOk;
        }

        *obj = nullptr;
        return kNoInterface;
    }

    uint32 PLUGIN_API addRef() override { return ++references; }

    uint32 PLUGIN_API release() override
    {
        const auto left = --references;

        if (left == 0)
            delete this;

        return left;
    }

private:
    std::vector<Kind> kinds;
    std::atomic<uint32> references { 1 };
};
} // namespace
} // namespace probe

extern "C"
{
SMTG_EXPORT_SYMBOL bool ModuleEntry (void*)
{
    probe::rememberUiThread();
    probe::logLine ("ModuleEntry");
#if defined(PROBE_ENTRY_FAILS)
    return false;
#else
    return true;
#endif
}

SMTG_EXPORT_SYMBOL bool ModuleExit()
{
    probe::logLine ("ModuleExit");
    return true;
}

#if ! defined(PROBE_NO_FACTORY)
SMTG_EXPORT_SYMBOL Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory()
{
    return new probe::ProbeFactory();
}
#endif
}
