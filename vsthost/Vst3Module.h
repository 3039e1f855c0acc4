#pragma once

#include "pluginterfaces/base/ipluginbase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform
{
class SharedLibrary;
}

namespace orvane::vsthost
{
/** What a factory says about one of its classes (the richest of its class-info forms). */
struct ModuleClassInfo
{
    Steinberg::TUID id {};
    std::int32_t cardinality = 0;
    std::string category;
    std::string name;
    std::string vendor;
    std::string version;
    std::string sdkVersion;
    std::string subCategories;   // "|"-joined, as the factory gives it
    std::uint32_t classFlags = 0;
};

/** An opened VST3 module: the bundle's shared library (NAME.vst3/Contents/<machine>-linux/NAME.so,
    or a library file given directly), entered through ModuleEntry, with its plug-in factory and
    class list. Shared by whoever needs the library loaded; the last owner releases the factory,
    calls ModuleExit and unloads the library. UI thread only. */
class Vst3Module
{
public:
    /** Null with a one-line `error` when the module cannot be opened. */
    static std::shared_ptr<Vst3Module> open (const std::string& path, std::string& error);

    ~Vst3Module();

    Vst3Module (const Vst3Module&) = delete;
    Vst3Module& operator= (const Vst3Module&) = delete;

    Steinberg::IPluginFactory* factory() const { return pluginFactory; }
    const std::vector<ModuleClassInfo>& classes() const { return classInfos; }
    const std::string& path() const { return modulePath; }

    /** The library a bundle path names; empty with `error` set when the bundle lacks it. */
    static std::string libraryPathOf (const std::string& path, std::string& error);

private:
    Vst3Module() = default;
    void readClassInfos();

    std::string modulePath;
    std::unique_ptr<vantrel::platform::SharedLibrary> library;
    Steinberg::IPluginFactory* pluginFactory = nullptr;
    bool entered = false;
    std::vector<ModuleClassInfo> classInfos;
};
} // namespace orvane::vsthost
