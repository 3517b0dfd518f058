#include "math/math_variant.h"

#include "platform/win32/win32_testing.h"

#include <gtest/gtest.h>

namespace {

TEST(MathVariant, SelectionRule)
{
    struct Case {
        DWORD disable;
        bool has3dNow, hasSse2, hasSse;
        MathVariant expected;
    };
    const Case cases[] = {
        {0, true, true, true, MathVariant::ThreeDNow},
        {0, false, true, true, MathVariant::Sse2},
        {0, false, false, true, MathVariant::Sse},
        {0, false, false, false, MathVariant::Plain},
        {1, true, true, true, MathVariant::Plain},   // 1 keeps the plain set whatever the processor
        {2, true, true, true, MathVariant::Sse2},    // 2 only rules out 3DNow!
        {2, true, false, false, MathVariant::Plain},
        {7, true, false, false, MathVariant::ThreeDNow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "switch " << c.disable << " 3dnow " << c.has3dNow << " sse2 "
                                        << c.hasSse2 << " sse " << c.hasSse);
        EXPECT_EQ(chooseMathVariant(c.disable, c.has3dNow, c.hasSse2, c.hasSse), c.expected);
    }
}

TEST(MathVariant, RegistrySwitches)
{
    win32::testing::clearRegistry();
    EXPECT_EQ(readMathSwitch(), 0u);

    win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "DisablePSGP", 2);
    EXPECT_EQ(readMathSwitch(), 2u);

    // The library's own switch wins over the general one when present, even with 0.
    win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "DisableD3DXPSGP", 0);
    EXPECT_EQ(readMathSwitch(), 0u);
    win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "DisableD3DXPSGP", 1);
    EXPECT_EQ(readMathSwitch(), 1u);

    win32::testing::clearRegistry();
    win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "software\\direct3d", "DisableD3DXPSGP", 1);
    EXPECT_EQ(readMathSwitch(), 1u);
    win32::testing::clearRegistry();
}

}  // namespace
