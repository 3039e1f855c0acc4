#include "vsthost/HostAttributeList.h"

#include "vsthost/ComSupport.h"

#include <algorithm>
#include <cstring>

namespace orvane::vsthost
{
using namespace Steinberg;

const HostAttributeList::Attribute* HostAttributeList::find (AttrID id, Kind kind) const
{
    if (id == nullptr)
        return nullptr;

    const auto found = attributes.find (id);
    return found != attributes.end() && found->second.kind == kind ? &found->second : nullptr;
}

tresult PLUGIN_API HostAttributeList::setInt (AttrID id, int64 value)
{
    if (id == nullptr)
        return kInvalidArgument;

    Attribute attribute;
    attribute.kind = Kind::integer;
    attribute.integer = value;
    attributes[id] = std::move (attribute);
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getInt (AttrID id, int64& value)
{
    const auto* attribute = find (id, Kind::integer);

    if (attribute == nullptr)
        return kResultFalse;

    value = attribute->integer;
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setFloat (AttrID id, double value)
{
    if (id == nullptr)
        return kInvalidArgument;

    Attribute attribute;
    attribute.kind = Kind::floating;
    attribute.floating = value;
    attributes[id] = std::move (attribute);
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getFloat (AttrID id, double& value)
{
    const auto* attribute = find (id, Kind::floating);

    if (attribute == nullptr)
        return kResultFalse;

    value = attribute->floating;
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setString (AttrID id, const Vst::TChar* string)
{
    if (id == nullptr || string == nullptr)
        return kInvalidArgument;

    Attribute attribute;
    attribute.kind = Kind::string;
    attribute.string = reinterpret_cast<const char16_t*> (string);
    attributes[id] = std::move (attribute);
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getString (AttrID id, Vst::TChar* string, uint32 sizeInBytes)
{
    const auto* attribute = find (id, Kind::string);

    if (attribute == nullptr || string == nullptr)
        return kResultFalse;

    const auto capacity = sizeInBytes / sizeof (Vst::TChar);

    if (capacity == 0)
        return kResultFalse;

    const auto count = std::min<std::size_t> (attribute->string.size(), capacity - 1);
    std::memcpy (string, attribute->string.data(), count * sizeof (Vst::TChar));
    string[count] = 0;
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setBinary (AttrID id, const void* data, uint32 sizeInBytes)
{
    if (id == nullptr || (data == nullptr && sizeInBytes > 0))
        return kInvalidArgument;

    Attribute attribute;
    attribute.kind = Kind::binary;
    attribute.binary.assign (static_cast<const char*> (data), static_cast<const char*> (data) + sizeInBytes);
    attributes[id] = std::move (attribute);
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getBinary (AttrID id, const void*& data, uint32& sizeInBytes)
{
    const auto* attribute = find (id, Kind::binary);

    if (attribute == nullptr)
        return kResultFalse;

    data = attribute->binary.data();
    sizeInBytes = static_cast<uint32> (attribute->binary.size());
    return kResultOk;
}

tresult PLUGIN_API HostAttributeList::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IAttributeList> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API HostAttributeList::addRef()
{
    return ++references;
}

uint32 PLUGIN_API HostAttributeList::release()
{
    const auto left = --references;

    if (left == 0)
        delete this;

    return left;
}
} // namespace orvane::vsthost
