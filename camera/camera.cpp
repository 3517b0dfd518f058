#include "camera/camera.h"

#include "platform/d3d9/d3d9.h"
#include "vehicle/car.h"

Camera gCamera;

namespace {

constexpr float HALF_PI = 1.5707964f;  // bits 0x3FC90FDB
constexpr float PI = 3.1415927f;       // bits 0x40490FDB

}  // namespace

void Camera::placeForMode(int m) { placeForMode(m, gCar); }

void Camera::placeForMode(int m, const Car& car)
{
    const D3DXVECTOR3 p = car.getPosition();
    const float h = car.getHeading();
    // Modes are compared unsigned, so negative values select nothing, like values above 6.
    switch (static_cast<unsigned>(m)) {
    case 0:
        target = p;
        eye = D3DXVECTOR3(1.0f, 25.0f, 0.0f);
        break;
    case 1:
        target = p;
        eye = p + D3DXVECTOR3(1.0f, 35.0f, 0.0f);
        break;
    case 2: {
        target = p;
        const float ox = -30.0f * floatCos(h + HALF_PI);
        const float oz = -30.0f * floatSin(h - HALF_PI);
        eye = p + D3DXVECTOR3(ox, 10.0f, oz);
        break;
    }
    case 3:
        target = D3DXVECTOR3(1.0f, 5.0f, 2.0f);
        eye = D3DXVECTOR3(1.0f, 95.0f, 1.0f);
        break;
    case 4:
        target = p;
        eye = p + D3DXVECTOR3(1.0f, 55.0f + floatAbs(car.getSpeed()), 0.0f);
        break;
    case 5: {
        target = p;
        const float ox = -30.0f * floatCos(h + PI);
        const float oz = -30.0f * floatSin(h);
        eye = p + D3DXVECTOR3(ox, 10.0f, oz);
        break;
    }
    case 6: {
        target = p;
        const float ox = -30.0f * floatCos(h);
        const float oz = -30.0f * floatSin(h - PI);
        eye = p + D3DXVECTOR3(ox, 10.0f, oz);
        break;
    }
    default:
        break;
    }
}

void Camera::setProjection(float fov, float nearDistance, float farDistance, float aspectRatio)
{
    placeForMode(0);
    fovY = fov;
    nearPlane = nearDistance;
    farPlane = farDistance;
    aspect = aspectRatio;
}

void Camera::apply(IDirect3DDevice9* device) { apply(device, gCar); }

void Camera::apply(IDirect3DDevice9* device, const Car& car)
{
    placeForMode(mode, car);
    D3DXMatrixPerspectiveFovLH(&projection, fovY, aspect, nearPlane, farPlane);
    if (device) {
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }
    D3DXMatrixLookAtLH(&view, &eye, &target, &up);
    if (device) {
        device->SetTransform(D3DTS_VIEW, &view);
    }
}
