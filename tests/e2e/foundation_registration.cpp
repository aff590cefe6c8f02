// Loading the bundle and registering the effect, as a host does once after loading it.
#include <gtest/gtest.h>

#include "support/SimHostFixture.h"

namespace {

using RegistrationTest = testsupport::SimHostTest;

TEST_F(RegistrationTest, PassesTheEightValuesInOrderOnce) {
    const simhost::Registration& r = host().registration();
    EXPECT_EQ(host().registrationResult(), PF_Err_NONE);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.registration_ref, &r) << "the host's registration pointer must be handed back";
    EXPECT_EQ(r.effect_name, "Velloran 2");
    EXPECT_EQ(r.match_name, "QUVL2");
    EXPECT_EQ(r.category, "Quenholt");
    EXPECT_EQ(r.entry_point_name, "EffectMain");
    EXPECT_EQ(r.kind, 0x65464B54u);  // 'eFKT'
    EXPECT_EQ(r.api_version_major, 13);
    EXPECT_EQ(r.api_version_minor, 28);
    EXPECT_EQ(r.reserved_info, 8);
}

}  // namespace
