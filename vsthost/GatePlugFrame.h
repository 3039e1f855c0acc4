#pragma once

#include "vsthost/EditorPlugFrame.h"

namespace orvane::vsthost
{
/** The frame of the editor self-test's hidden window; it lives only during one probe. */
class GatePlugFrame final : public EditorPlugFrame
{
public:
    using EditorPlugFrame::EditorPlugFrame;
};
} // namespace orvane::vsthost
