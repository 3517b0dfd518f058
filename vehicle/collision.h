// Collisions of the player's car with the city's four solid obstacles, and the geometry
// they are built from. Each obstacle test has three stages: bounding circles in the ground
// plane (an octagonal distance estimate), a contact test between the car's collision
// rectangle and the obstacle's, where each side of a rectangle stands as a wall 10 units
// high, and a response that moves the car along its own forward axis, reverses its
// velocity and bounces a fast car back.
//
// Arithmetic is in 32-bit floats except where a function says double; the float/double
// split and the strict or non-strict comparisons are part of the behaviour (a scripted run
// reproduces its trace to the bit), so keep them as they are. Forward f(h) =
// (cos(h + 1.5707964), 0, sin(h - 1.5707964)), left s(h) = (-cos(h + 3.1415927), 0, -sin h).
// Nothing here touches the graphics device.
#pragma once

#include "math/d3dx_math.h"

class Car;
class CityMap;
class SceneObject;

// Instances of the city tested against the car, in this order. Slot 100 is not tested.
inline constexpr int COLLISION_SLOTS[4] = {99, 97, 98, 101};

// Region numbers of facingRegion, which are also the sides of selectSide.
inline constexpr int REGION_FRONT = 11;
inline constexpr int REGION_RIGHT = 7;
inline constexpr int REGION_REAR = 4;
inline constexpr int REGION_LEFT = 8;

// sideOfLine results.
inline constexpr int SIDE_BEHIND = 1;   // inside the side by more than the tolerance
inline constexpr int SIDE_ON = 256;
inline constexpr int SIDE_FRONT = 16;

// Tests the car against the city's instances of COLLISION_SLOTS, in that order.
void collideWithCity(Car& car, CityMap& city);

// The whole test of one obstacle; true when a contact was found and resolved.
bool testObstacle(Car& car, SceneObject& obstacle);

bool circlesOverlap(const Car& car, const SceneObject& obstacle);
float octagonalDistance(const D3DXVECTOR3& a, const D3DXVECTOR3& b);
// Which of the four sectors cut by o's diagonals holds p: 11 front, 7 right, 4 rear, 8 left.
int facingRegion(const D3DXVECTOR3& p, SceneObject& o);
// Sets o's edge fields to the side of region r; any other r leaves them unchanged.
void selectSide(int region, SceneObject& o);
// 1 to 4: the car corner (front left, front right, rear right, rear left) furthest along m
// for forward direction d; 0 when d is perpendicular to m.
int leadingCorner(const D3DXVECTOR3& d, const D3DXVECTOR3& m);
bool findContact(Car& car, SceneObject& obstacle);
// Signed distance along d from p to the plane through s with normal n; -1 when parallel.
float planeParameter(const D3DXVECTOR3& p, const D3DXVECTOR3& d, const D3DXVECTOR3& s, const D3DXVECTOR3& n);
int sideOfLine(const D3DXVECTOR3& p, const D3DXVECTOR3& s, const D3DXVECTOR3& n);
bool pointInTriangle(const D3DXVECTOR3& p, const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c);
D3DXVECTOR3 closestPointOnSegment(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& p);
D3DXVECTOR3 closestPointOnTriangleEdges(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c,
                                        const D3DXVECTOR3& p);
void respondToContact(Car& car);
