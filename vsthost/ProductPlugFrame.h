#pragma once

#include "vsthost/EditorPlugFrame.h"

namespace orvane::vsthost
{
/** The frame of an open editor: it belongs to the EditorHost and is deleted by the teardown.
    A resize sets the window's inside size to the view's size (X11 adds no frame to adjust). */
class ProductPlugFrame final : public EditorPlugFrame
{
public:
    using EditorPlugFrame::EditorPlugFrame;
};
} // namespace orvane::vsthost
