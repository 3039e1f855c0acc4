#pragma once

#include <memory>
#include <string>

namespace vantrel::platform
{
/** A shared library loaded with local symbol scope; closed by the destructor. */
class SharedLibrary
{
public:
    /** Loads `path`; null with a one-line `error` when the loader refuses it. */
    static std::unique_ptr<SharedLibrary> open (const std::string& path, std::string& error);

    ~SharedLibrary();

    SharedLibrary (const SharedLibrary&) = delete;
    SharedLibrary& operator= (const SharedLibrary&) = delete;

    /** The address of an exported symbol, or null. */
    void* symbol (const char* name) const;

    /** The handle the library's entry functions expect. */
    void* nativeHandle() const { return handle; }

private:
    explicit SharedLibrary (void* handleToKeep) : handle (handleToKeep) {}

    void* handle = nullptr;
};

/** The machine name of this system as the VST3 bundle layout spells it ("x86_64", "aarch64"). */
std::string machineArchitecture();
} // namespace vantrel::platform
