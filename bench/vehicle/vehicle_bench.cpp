// Per-frame cost of the simulation and the camera, and of the matrix operations the drawing
// code calls once per object. A plain inline 4x4 product stands beside the library's
// multiply as the anchor, since absolute times drift between runs on these machines.
#include "app/key_table.h"
#include "camera/camera.h"
#include "math/d3dx_math.h"
#include "platform/dinput/dinput_keys.h"
#include "vehicle/car.h"

#include <benchmark/benchmark.h>

namespace {

Car sceneCar()
{
    Car car;
    car.setPosition(D3DXVECTOR3(0.0f, 2.0f, 2.0f));
    car.setMaxSpeed(50.0f);
    return car;
}

// Key table, update and camera for one frame, with the keys of a turning drive.
void BM_FrameTurning(benchmark::State& state)
{
    Car car = sceneCar();
    Camera camera;
    camera.setMode(2);
    BYTE keys[256] = {};
    keys[DIK_UP] = 0x80;
    keys[DIK_RIGHT] = 0x80;
    for (auto _ : state) {
        runKeyTable(keys, car, camera);
        car.update(0.016f);
        camera.apply(nullptr, car);
        benchmark::DoNotOptimize(camera.getView());
    }
}
BENCHMARK(BM_FrameTurning);

void BM_FrameStraight(benchmark::State& state)
{
    Car car = sceneCar();
    Camera camera;
    BYTE keys[256] = {};
    keys[DIK_UP] = 0x80;
    for (auto _ : state) {
        runKeyTable(keys, car, camera);
        car.update(0.016f);
        camera.apply(nullptr, car);
        benchmark::DoNotOptimize(camera.getView());
    }
}
BENCHMARK(BM_FrameStraight);

void BM_WorldMatrix(benchmark::State& state)
{
    float heading = 0.0f;
    for (auto _ : state) {
        D3DXMATRIX world, rotation, translation;
        D3DXMatrixScaling(&world, 2.0f, 2.0f, 2.0f);
        D3DXMatrixRotationY(&rotation, heading);
        D3DXMatrixMultiply(&world, &world, &rotation);
        D3DXMatrixTranslation(&translation, 1.0f, 2.0f, 3.0f);
        D3DXMatrixMultiply(&world, &world, &translation);
        benchmark::DoNotOptimize(world);
        heading += 0.001f;
    }
}
BENCHMARK(BM_WorldMatrix);

void BM_MatrixMultiply(benchmark::State& state)
{
    D3DXMATRIX a, b;
    D3DXMatrixRotationY(&a, 0.3f);
    D3DXMatrixTranslation(&b, 1.0f, 2.0f, 3.0f);
    for (auto _ : state) {
        D3DXMatrixMultiply(&a, &a, &b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_MatrixMultiply);

// Anchor: the same product written inline over plain arrays.
void BM_MatrixMultiplyAnchor(benchmark::State& state)
{
    float a[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    float b[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {1, 2, 3, 1}};
    for (auto _ : state) {
        float r[4][4];
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
            }
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                a[i][j] = r[i][j];
            }
        }
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_MatrixMultiplyAnchor);

void BM_LookAt(benchmark::State& state)
{
    const D3DXVECTOR3 at(0.0f, 2.0f, 2.0f), up(0.0f, 0.1f, 0.0f);
    D3DXVECTOR3 eye(30.0f, 12.0f, 2.0f);
    for (auto _ : state) {
        D3DXMATRIX view;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        benchmark::DoNotOptimize(view);
        eye.x += 1e-4f;
    }
}
BENCHMARK(BM_LookAt);

}  // namespace
