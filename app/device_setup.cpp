#include "app/device_setup.h"

#include "app/app.h"
#include "app/scene_assembly.h"
#include "camera/camera.h"
#include "font/d3dx_font.h"
#include "platform/d3d9/d3d9.h"
#include "vehicle/car.h"
#include "world/city_map.h"

IDirect3D9* gD3D = nullptr;
IDirect3DDevice9* gDevice = nullptr;
ID3DXFont* gFont = nullptr;

HRESULT initDevice(HWND window)
{
    gD3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!gD3D)
        return E_FAIL;

    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 0;  // the client area
    parameters.BackBufferHeight = 0;
    parameters.BackBufferFormat = D3DFMT_UNKNOWN;
    parameters.BackBufferCount = 0;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    parameters.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    if (FAILED(gD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                  &parameters, &gDevice)))
        return E_FAIL;

    gDevice->SetRenderState(D3DRS_ZENABLE, 1);
    assembleScene(gDevice, gCar, gSkyBox, gCamera, gCity);
    setupLight();

    D3DXFONT_DESC fontDesc{};
    fontDesc.Height = 30;
    fontDesc.Weight = 20;
    if (FAILED(D3DXCreateFontIndirect(gDevice, &fontDesc, &gFont)))
        return E_FAIL;
    return S_OK;
}

void setupLight()
{
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1.0f, 0.85f, 0.85f, 0.0f};
    light.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = D3DVECTOR{1.0f, -4.0f, 1.0f};  // not normalised: the device normalises it
    gDevice->SetLight(1, &light);
    gDevice->LightEnable(1, TRUE);
    gDevice->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
}
