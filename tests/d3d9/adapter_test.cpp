// The Direct3D object: adapters, modes, format rules, caps and identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zvd3d9.h"
#include "zvdesktop.h"
#include "zvwin32.h"

namespace {

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
    }
    void TearDown() override {
        ZVTestSetDesktopSize(0, 0);
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    IDirect3D9* d3d_ = nullptr;
};

TEST(Direct3DCreate, RefusesAnotherSdkVersion) {
    EXPECT_EQ(Direct3DCreate9(30), nullptr);
    IDirect3D9* d3d = Direct3DCreate9(31);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->AddRef(), 2u);
    EXPECT_EQ(d3d->Release(), 1u);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST_F(AdapterTest, ModesAreListedInAscendingOrderAndIncludeTheDesktop) {
    ASSERT_GE(d3d_->GetAdapterCount(), 1u);
    const UINT count = d3d_->GetAdapterModeCount(0, D3DFMT_X8R8G8B8);
    ASSERT_GT(count, 0u);
    D3DDISPLAYMODE desktop;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
    bool foundDesktop = false;
    D3DDISPLAYMODE previous = {};
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE m;
        ASSERT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_X8R8G8B8, i, &m), D3D_OK);
        EXPECT_EQ(m.Format, D3DFMT_X8R8G8B8);
        if (i > 0) {
            const bool ascending = m.Width > previous.Width ||
                                   (m.Width == previous.Width && m.Height > previous.Height) ||
                                   (m.Width == previous.Width && m.Height == previous.Height &&
                                    m.RefreshRate > previous.RefreshRate);
            EXPECT_TRUE(ascending) << i;
        }
        if (m.Width == desktop.Width && m.Height == desktop.Height) foundDesktop = true;
        previous = m;
    }
    EXPECT_TRUE(foundDesktop);
    D3DDISPLAYMODE m;
    EXPECT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_X8R8G8B8, count, &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->EnumAdapterModes(7, D3DFMT_X8R8G8B8, 0, &m), D3DERR_INVALIDCALL);
    // 16-bit modes are offered on a true-colour desktop; A8R8G8B8 is no display format.
    EXPECT_EQ(d3d_->GetAdapterModeCount(0, D3DFMT_R5G6B5), count);
    EXPECT_EQ(d3d_->GetAdapterModeCount(0, D3DFMT_A8R8G8B8), 0u);
    EXPECT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_A8R8G8B8, 0, &m), D3DERR_NOTAVAILABLE);
}

TEST_F(AdapterTest, DesktopOverrideIsTheCurrentModeAndListed) {
    ZVTestSetDesktopSize(1000, 700);
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, 1000u);
    EXPECT_EQ(mode.Height, 700u);
    bool listed = false;
    for (UINT i = 0; i < d3d_->GetAdapterModeCount(0, D3DFMT_X8R8G8B8); ++i) {
        D3DDISPLAYMODE m;
        ASSERT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_X8R8G8B8, i, &m), D3D_OK);
        listed = listed || (m.Width == 1000 && m.Height == 700);
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(d3d_->GetAdapterDisplayMode(3, &mode), D3DERR_INVALIDCALL);
}

TEST_F(AdapterTest, BackBufferFormatsPairWithTheirDisplayFormat) {
    // Full screen.
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, FALSE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
    // No 30-bit modes on this desktop, so no A2R10G10B10 full-screen device.
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_A2R10G10B10, D3DFMT_A2R10G10B10, FALSE),
              D3DERR_NOTAVAILABLE);
    // Windowed devices need the desktop's format.
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, TRUE), D3DERR_NOTAVAILABLE);
    // Only the hardware device exists.
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceType(9, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_INVALIDCALL);
}

TEST_F(AdapterTest, DepthFormats) {
    const D3DFORMAT supported[] = {D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D16, D3DFMT_D32};
    for (D3DFORMAT f : supported) {
        EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, f),
                  D3D_OK)
            << f;
        EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, f), D3D_OK) << f;
    }
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                      D3DFMT_D15S1),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                      D3DFMT_D24X4S4),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_DXT1),
              D3DERR_NOTAVAILABLE);
}

TEST_F(AdapterTest, CapsExistBeforeAnyDevice) {
    D3DCAPS9 caps;
    std::memset(&caps, 0, sizeof(caps));
    ASSERT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    EXPECT_EQ(caps.MaxPrimitiveCount, 0xFFFFFu);
    EXPECT_GE(caps.MaxStreams, 1u);
    EXPECT_GE(caps.MaxSimultaneousTextures, 1u);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_TRUE(caps.StencilCaps & D3DSTENCILCAPS_TWOSIDED);
    EXPECT_TRUE(caps.StencilCaps & D3DSTENCILCAPS_INCR);
    EXPECT_TRUE(caps.StencilCaps & D3DSTENCILCAPS_DECR);
    EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);
}

TEST_F(AdapterTest, IdentifierComesFromTheGLStrings) {
    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d_->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_GT(std::strlen(id.Driver), 0u);
    EXPECT_NE(std::string(id.Description).find("OpenGL"), std::string::npos);
    EXPECT_NE(id.DriverVersion.QuadPart, 0);
    EXPECT_EQ(d3d_->GetAdapterIdentifier(5, 0, &id), D3DERR_INVALIDCALL);
}

}  // namespace
