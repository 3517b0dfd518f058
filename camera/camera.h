// The viewer: eye, target, up direction and perspective projection. Every frame apply()
// places eye and target for the current view mode from the player's car and sets the
// projection and view matrices on the device.
//
// Modes: 0 fixed point (1, 25, 0) watching the car; 1 35 above the car; 2 chase view 30
// behind and 10 above; 3 fixed overhead view of the city centre; 4 top-down, 55 + |speed|
// above; 5 30 to the car's left; 6 30 to its right. Any other value leaves eye and target
// where they were.
#pragma once

#include "math/d3dx_math.h"

struct IDirect3DDevice9;
class Car;

class Camera {
public:
    Camera() = default;

    void setEye(D3DXVECTOR3 e) { eye = e; }
    void setTarget(D3DXVECTOR3 t) { target = t; }
    // Any value is accepted; only 0 to 6 select a view.
    void setMode(int m) { mode = m; }
    // Places eye and target for mode m from gCar.
    void placeForMode(int m);
    // The same from the given car.
    void placeForMode(int m, const Car& car);
    // Calls placeForMode(0), then stores the four values.
    void setProjection(float fov, float nearDistance, float farDistance, float aspectRatio);
    // Places the camera from gCar and sets projection and view on the device.
    void apply(IDirect3DDevice9* device);
    // The same from the given car.
    void apply(IDirect3DDevice9* device, const Car& car);

    int getMode() const { return mode; }
    D3DXVECTOR3 getEye() const { return eye; }
    D3DXVECTOR3 getTarget() const { return target; }
    D3DXVECTOR3 getUp() const { return up; }
    float getNearPlane() const { return nearPlane; }
    float getFarPlane() const { return farPlane; }
    float getAspect() const { return aspect; }
    float getFovY() const { return fovY; }
    // The matrices built by the last apply().
    const D3DXMATRIX& getProjection() const { return projection; }
    const D3DXMATRIX& getView() const { return view; }

private:
    D3DXVECTOR3 eye{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 target{0.0f, 0.0f, 0.1f};
    D3DXVECTOR3 up{0.0f, 0.1f, 0.0f};  // only its direction matters
    float nearPlane = 1.0f;
    float farPlane = 500.0f;
    float aspect = 1.3f;
    float fovY = 0.7853982f;  // pi / 4
    D3DXMATRIX projection{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    D3DXMATRIX view{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int mode = 0;
};

// The one camera, defined in camera.cpp.
extern Camera gCamera;
