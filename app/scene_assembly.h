// Putting the world together once at start-up: the car and the sky box with their meshes
// and placements, the camera's first eye point, and the city.
#pragma once

#include "math/d3dx_math.h"

class Camera;
class Car;
class CityMap;
class SceneObject;
struct IDirect3DDevice9;

inline constexpr const char* CAR_MESH_FILE = "objets/cars/mycar2.x";
inline constexpr const char* SKY_BOX_MESH_FILE = "objets/skybox/skybox2.x";
inline constexpr D3DXVECTOR3 CAR_START_POSITION{0.0f, 2.0f, 2.0f};
inline constexpr D3DXVECTOR3 SKY_BOX_POSITION{0.0f, 27.1f, 2.0f};
inline constexpr D3DXVECTOR3 CAMERA_START_EYE{0.0f, 10.0f, -10.0f};
inline constexpr float CAR_TOP_SPEED = 50.0f;
inline constexpr float CAR_RADIUS = 6.5f;
inline constexpr float CAR_BOX_LENGTH = 11.4f;
inline constexpr float CAR_BOX_WIDTH = 4.8f;

// The sky box of the game.
extern SceneObject gSkyBox;

// Loads and places everything, in this order: the car's mesh, its placement and driving
// values; the sky box's mesh and position; the camera's eye; the city files.
void assembleScene(IDirect3DDevice9* device, Car& car, SceneObject& skyBox, Camera& camera, CityMap& city);
