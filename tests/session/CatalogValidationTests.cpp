#include "session/CatalogValidation.h"

#include <gtest/gtest.h>

using namespace vantrel;

TEST (PadIndex, MapsBankAndSlotToPosition)
{
    EXPECT_EQ (padIndex (1, 1), 0);
    EXPECT_EQ (padIndex (5, 9), 44);
    EXPECT_FALSE (padIndex (0, 1));
    EXPECT_FALSE (padIndex (6, 1));
    EXPECT_FALSE (padIndex (1, 0));
    EXPECT_FALSE (padIndex (1, 10));
}
