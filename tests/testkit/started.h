#pragma once
// A game started on the standard data, at the title: the common start of the core's tests.
#include <gtest/gtest.h>

#include "testkit/testkit.h"

namespace testkit {

struct StartedRig : Rig {
    explicit StartedRig(int levelRecords = 3) {
        InstallStandardData(levelRecords);
        EXPECT_TRUE(StartUp());
    }
};

}  // namespace testkit
