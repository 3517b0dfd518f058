#include "world/scene_object.h"

namespace {

// a/2 along the forward axis f(h) plus b/2 along the left axis s(h).
D3DXVECTOR3 rectangleOffset(float a, float b, float h)
{
    const float fx = floatCos(h + 1.5707964f);
    const float fz = floatSin(h - 1.5707964f);
    return D3DXVECTOR3((fx * a - fz * b) / 2.0f, 0.0f, (fx * b + fz * a) / 2.0f);
}

}  // namespace

void SceneObject::updateCorners()
{
    corners[0] = position + rectangleOffset(boxLength, boxWidth, heading);
    corners[1] = position + rectangleOffset(boxLength, -boxWidth, heading);
    corners[2] = position + rectangleOffset(-boxLength, -boxWidth, heading);
    corners[3] = position + rectangleOffset(-boxLength, boxWidth, heading);
}
