#include "app/scene_assembly.h"

#include "camera/camera.h"
#include "vehicle/car.h"
#include "world/city_map.h"
#include "world/scene_object.h"

SceneObject gSkyBox;

void assembleScene(IDirect3DDevice9* device, Car& car, SceneObject& skyBox, Camera& camera, CityMap& city)
{
    car.load(device, CAR_MESH_FILE);  // a failure has shown its message; the car still drives
    car.setPosition(CAR_START_POSITION);
    car.setHeading(0.0f);
    car.setMaxSpeed(CAR_TOP_SPEED);
    car.setRadius(CAR_RADIUS);
    car.setBoxLength(CAR_BOX_LENGTH);
    car.setBoxWidth(CAR_BOX_WIDTH);

    skyBox.load(device, SKY_BOX_MESH_FILE);
    skyBox.setPosition(SKY_BOX_POSITION);

    camera.setEye(CAMERA_START_EYE);
    city.load(device);
}
