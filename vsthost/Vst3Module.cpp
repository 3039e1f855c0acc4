#include "vsthost/Vst3Module.h"

#include "vsthost/ProtocolText.h"
#include "vsthost/Utf16Text.h"

#include "platform/SharedLibrary.h"
#include "platform/ThreadContract.h"

#include <cstring>
#include <filesystem>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
using ModuleEntryFunction = bool (*) (void*);
using ModuleExitFunction = bool (*)();
using GetFactoryFunction = IPluginFactory* (*)();

std::string fixedText (const char* text, std::size_t capacity)
{
    return std::string (text, strnlen (text, capacity));
}
} // namespace

std::string Vst3Module::libraryPathOf (const std::string& path, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code failure;
    const fs::path bundle (path);

    if (fs::is_regular_file (bundle, failure))
        return path;

    if (! fs::is_directory (bundle, failure))
    {
        error = "VST3 module not found: " + path;
        return {};
    }

    auto name = bundle.filename();

    if (name.empty())
        name = bundle.parent_path().filename();

    const auto library = bundle / "Contents" / (vantrel::platform::machineArchitecture() + "-linux")
                       / name.replace_extension (".so");

    if (! fs::is_regular_file (library, failure))
    {
        error = "VST3 bundle has no library for this machine: " + library.string();
        return {};
    }

    return library.string();
}

std::shared_ptr<Vst3Module> Vst3Module::open (const std::string& path, std::string& error)
{
    VANTREL_ASSERT_UI_THREAD;
    std::shared_ptr<Vst3Module> module (new Vst3Module());
    module->modulePath = path;

    const auto libraryPath = libraryPathOf (path, error);

    if (libraryPath.empty())
    {
        error = sanitizeField (error);
        return nullptr;
    }

    module->library = vantrel::platform::SharedLibrary::open (libraryPath, error);

    if (module->library == nullptr)
        return nullptr;

    auto entry = reinterpret_cast<ModuleEntryFunction> (module->library->symbol ("ModuleEntry"));
    auto exit = reinterpret_cast<ModuleExitFunction> (module->library->symbol ("ModuleExit"));
    auto getFactory = reinterpret_cast<GetFactoryFunction> (module->library->symbol ("GetPluginFactory"));

    if (entry == nullptr)
        error = "The shared library does not export the required 'ModuleEntry' function";
    else if (exit == nullptr)
        error = "The shared library does not export the required 'ModuleExit' function";
    else if (getFactory == nullptr)
        error = "The shared library does not export the required 'GetPluginFactory' function";

    if (! error.empty())
        return nullptr;

    if (! entry (module->library->nativeHandle()))
    {
        error = "Calling 'ModuleEntry' failed";
        return nullptr;
    }

    module->entered = true;
    module->pluginFactory = getFactory();

    if (module->pluginFactory == nullptr)
    {
        error = "Calling 'GetPluginFactory' returned nullptr";
        return nullptr;
    }

    module->readClassInfos();
    return module;
}

Vst3Module::~Vst3Module()
{
    VANTREL_ASSERT_UI_THREAD;
    if (pluginFactory != nullptr)
        pluginFactory->release();

    if (entered)
        if (auto exit = reinterpret_cast<ModuleExitFunction> (library->symbol ("ModuleExit")))
            exit();

    library.reset();
}

void Vst3Module::readClassInfos()
{
    PFactoryInfo factoryInfo {};
    std::string factoryVendor;

    if (pluginFactory->getFactoryInfo (&factoryInfo) == kResultOk)
        factoryVendor = fixedText (factoryInfo.vendor, PFactoryInfo::kNameSize);

    IPluginFactory2* factory2 = nullptr;
    IPluginFactory3* factory3 = nullptr;
    pluginFactory->queryInterface (IPluginFactory2::iid, reinterpret_cast<void**> (&factory2));
    pluginFactory->queryInterface (IPluginFactory3::iid, reinterpret_cast<void**> (&factory3));

    const auto count = pluginFactory->countClasses();

    for (int32 index = 0; index < count; ++index)
    {
        ModuleClassInfo info;
        PClassInfoW unicode {};
        PClassInfo2 second {};
        PClassInfo first {};

        if (factory3 != nullptr && factory3->getClassInfoUnicode (index, &unicode) == kResultOk)
        {
            std::memcpy (info.id, unicode.cid, sizeof (TUID));
            info.cardinality = unicode.cardinality;
            info.category = fixedText (unicode.category, PClassInfo::kCategorySize);
            info.name = utf16ToUtf8 (unicode.name, PClassInfo::kNameSize);
            info.vendor = utf16ToUtf8 (unicode.vendor, PClassInfo2::kVendorSize);
            info.version = utf16ToUtf8 (unicode.version, PClassInfo2::kVersionSize);
            info.sdkVersion = utf16ToUtf8 (unicode.sdkVersion, PClassInfo2::kVersionSize);
            info.subCategories = fixedText (unicode.subCategories, PClassInfo2::kSubCategoriesSize);
            info.classFlags = unicode.classFlags;
        }
        else if (factory2 != nullptr && factory2->getClassInfo2 (index, &second) == kResultOk)
        {
            std::memcpy (info.id, second.cid, sizeof (TUID));
            info.cardinality = second.cardinality;
            info.category = fixedText (second.category, PClassInfo::kCategorySize);
            info.name = fixedText (second.name, PClassInfo::kNameSize);
            info.vendor = fixedText (second.vendor, PClassInfo2::kVendorSize);
            info.version = fixedText (second.version, PClassInfo2::kVersionSize);
            info.sdkVersion = fixedText (second.sdkVersion, PClassInfo2::kVersionSize);
            info.subCategories = fixedText (second.subCategories, PClassInfo2::kSubCategoriesSize);
            info.classFlags = second.classFlags;
        }
        else if (pluginFactory->getClassInfo (index, &first) == kResultOk)
        {
            std::memcpy (info.id, first.cid, sizeof (TUID));
            info.cardinality = first.cardinality;
            info.category = fixedText (first.category, PClassInfo::kCategorySize);
            info.name = fixedText (first.name, PClassInfo::kNameSize);
        }
        else
        {
            continue;
        }

        if (info.vendor.empty())
            info.vendor = factoryVendor;

        classInfos.push_back (std::move (info));
    }

    if (factory2 != nullptr)
        factory2->release();

    if (factory3 != nullptr)
        factory3->release();
}
} // namespace orvane::vsthost
