#include "camera/camera.h"

#include "platform/d3d9/d3d9_recording.h"
#include "vehicle/car.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CameraDevice, ApplySetsProjectionThenViewEveryFrame)
{
    IDirect3DDevice9* device = nullptr;
    ASSERT_TRUE(SUCCEEDED(d3d9::recording::createRecordingDevice(nullptr, nullptr, &device)));
    ASSERT_NE(device, nullptr);

    Car car;
    car.setPosition(D3DXVECTOR3(0.0f, 2.0f, 2.0f));
    Camera camera;
    for (int mode : {0, 2, 7}) {
        SCOPED_TRACE(mode);
        d3d9::recording::clearRecordedCalls(device);
        camera.setMode(mode);
        camera.apply(device, car);
        const auto calls = d3d9::recording::callsNamed(device, "SetTransform");
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].transform, D3DTS_PROJECTION);
        EXPECT_EQ(std::memcmp(&calls[0].matrix, &camera.getProjection(), sizeof(D3DMATRIX)), 0);
        EXPECT_EQ(calls[1].transform, D3DTS_VIEW);
        EXPECT_EQ(std::memcmp(&calls[1].matrix, &camera.getView(), sizeof(D3DMATRIX)), 0);
        EXPECT_EQ(d3d9::recording::recordedCalls(device).size(), 2u) << d3d9::recording::callLog(device);
    }
    // The device holds the projection's values exactly as the camera built them.
    D3DMATRIX held;
    ASSERT_TRUE(SUCCEEDED(device->GetTransform(D3DTS_PROJECTION, &held)));
    EXPECT_NEAR(held._11, 1.857087f, 1e-6f);
    EXPECT_NEAR(held._22, 2.4142134f, 1e-6f);
    EXPECT_NEAR(held._33, 1.002004f, 1e-6f);
    EXPECT_NEAR(held._43, -1.002004f, 1e-6f);
    device->Release();
}

}  // namespace
