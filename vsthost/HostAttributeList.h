#pragma once

#include "pluginterfaces/vst/ivstattributes.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace orvane::vsthost
{
/** The attribute list the host creates for plug-ins (through createInstance or inside a
    message): integers, doubles, UTF-16 strings and binary blobs by name. Reference counted;
    deleted at the last release. */
class HostAttributeList final : public Steinberg::Vst::IAttributeList
{
public:
    HostAttributeList() = default;
    virtual ~HostAttributeList() = default;

    Steinberg::tresult PLUGIN_API setInt (AttrID id, Steinberg::int64 value) override;
    Steinberg::tresult PLUGIN_API getInt (AttrID id, Steinberg::int64& value) override;
    Steinberg::tresult PLUGIN_API setFloat (AttrID id, double value) override;
    Steinberg::tresult PLUGIN_API getFloat (AttrID id, double& value) override;
    Steinberg::tresult PLUGIN_API setString (AttrID id, const Steinberg::Vst::TChar* string) override;
    Steinberg::tresult PLUGIN_API getString (AttrID id, Steinberg::Vst::TChar* string, Steinberg::uint32 sizeInBytes) override;
    Steinberg::tresult PLUGIN_API setBinary (AttrID id, const void* data, Steinberg::uint32 sizeInBytes) override;
    Steinberg::tresult PLUGIN_API getBinary (AttrID id, const void*& data, Steinberg::uint32& sizeInBytes) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    enum class Kind { integer, floating, string, binary };

    struct Attribute
    {
        Kind kind = Kind::integer;
        Steinberg::int64 integer = 0;
        double floating = 0.0;
        std::u16string string;
        std::vector<char> binary;
    };

    const Attribute* find (AttrID id, Kind kind) const;

    std::map<std::string, Attribute> attributes;
    std::atomic<Steinberg::uint32> references { 1 };
};
} // namespace orvane::vsthost
