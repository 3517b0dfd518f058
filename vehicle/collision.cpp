#include "vehicle/collision.h"

#include "vehicle/car.h"
#include "world/city_map.h"
#include "world/scene_object.h"

#include <cmath>

namespace {

const float HALF_PI_F = 1.5707964f;  // bits 0x3FC90FDB
const float PI_F = 3.1415927f;       // bits 0x40490FDB
const float WALL_HEIGHT = 10.0f;

// a.x*b.x + a.y*b.y + a.z*b.z, left to right, in float.
float dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Square root of the float dot product, taken in double.
double length(const D3DXVECTOR3& a) { return std::sqrt(static_cast<double>(dot(a, a))); }

void normalize(D3DXVECTOR3& a)
{
    const float l = static_cast<float>(length(a));
    a.x = a.x / l;
    a.y = a.y / l;
    a.z = a.z / l;
}

D3DXVECTOR3 scaled(const D3DXVECTOR3& a, float k) { return D3DXVECTOR3(a.x * k, a.y * k, a.z * k); }

D3DXVECTOR3 forward(float h) { return D3DXVECTOR3(floatCos(h + HALF_PI_F), 0.0f, floatSin(h - HALF_PI_F)); }

// Solves the line through a and b for z at x.x and returns how far x lies above it (in z).
float line(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& x)
{
    float w = (a.z - b.z) * x.x;
    w = (a.x * b.z - a.z * b.x) + w;
    w = w / (a.x - b.x);
    return x.z - w;
}

}  // namespace

float octagonalDistance(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    const float e = std::fabs(a.x - b.x);
    const float g = std::fabs(a.z - b.z);
    const float m = e < g ? e : g;
    return e + g - m / 2.0f - m / 4.0f + m / 8.0f;
}

bool circlesOverlap(const Car& car, const SceneObject& obstacle)
{
    return obstacle.getRadius() + car.getRadius() > octagonalDistance(car.getPosition(), obstacle.getPosition());
}

int facingRegion(const D3DXVECTOR3& p, SceneObject& o)
{
    o.updateCorners();
    const D3DXVECTOR3 c0 = o.getCorner(0), c1 = o.getCorner(1), c2 = o.getCorner(2), c3 = o.getCorner(3);
    int r = signOf(line(c0, c2, p)) == signOf(line(c0, c2, c1)) ? 6 : 3;
    r += signOf(line(c1, c3, p)) == signOf(line(c1, c3, c0)) ? 5 : 1;
    return r;
}

void selectSide(int region, SceneObject& o)
{
    const float h = o.getHeading();
    switch (region) {
    case REGION_FRONT:
        o.setEdgeNormal(D3DXVECTOR3(floatCos(h + HALF_PI_F), 0.0f, floatSin(h - HALF_PI_F)));
        o.setEdgeStart(o.getCorner(0));
        o.setEdgeEnd(o.getCorner(1));
        break;
    case REGION_RIGHT:
        o.setEdgeNormal(D3DXVECTOR3(floatCos(h + PI_F), 0.0f, floatSin(h)));
        o.setEdgeStart(o.getCorner(1));
        o.setEdgeEnd(o.getCorner(2));
        break;
    case REGION_REAR:
        o.setEdgeNormal(D3DXVECTOR3(-floatCos(h + HALF_PI_F), 0.0f, -floatSin(h - HALF_PI_F)));
        o.setEdgeStart(o.getCorner(2));
        o.setEdgeEnd(o.getCorner(3));
        break;
    case REGION_LEFT:
        o.setEdgeNormal(D3DXVECTOR3(-floatCos(h + PI_F), 0.0f, -floatSin(h)));
        o.setEdgeStart(o.getCorner(3));
        o.setEdgeEnd(o.getCorner(0));
        break;
    default:
        break;
    }
}

int leadingCorner(const D3DXVECTOR3& d, const D3DXVECTOR3& m)
{
    const float g = dot(d, m);
    const float k = dot(D3DXVECTOR3(-d.z, 0.0f, d.x), m);
    if (g == 0.0f) return 0;
    if (g > 0.0f) return k > 0.0f ? 1 : 2;
    return k > 0.0f ? 4 : 3;
}

float planeParameter(const D3DXVECTOR3& p, const D3DXVECTOR3& d, const D3DXVECTOR3& s, const D3DXVECTOR3& n)
{
    const float den = dot(n, d);
    if (den == 0.0f) return -1.0f;
    return -dot(n, p - s) / den;
}

int sideOfLine(const D3DXVECTOR3& p, const D3DXVECTOR3& s, const D3DXVECTOR3& n)
{
    const D3DXVECTOR3 v = s - p;
    const double x = static_cast<double>(v.x) * n.x + static_cast<double>(v.y) * n.y + static_cast<double>(v.z) * n.z;
    const double limit = static_cast<double>(0.001f);
    if (x < -limit) return SIDE_FRONT;
    if (x > limit) return SIDE_BEHIND;
    return SIDE_ON;
}

bool pointInTriangle(const D3DXVECTOR3& p, const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c)
{
    D3DXVECTOR3 u = p - a, v = p - b, w = p - c;
    normalize(u);
    normalize(v);
    normalize(w);
    const double sigma = std::acos(static_cast<double>(dot(u, v))) + std::acos(static_cast<double>(dot(v, w))) +
                         std::acos(static_cast<double>(dot(w, u)));
    // A NaN sum (p on a corner, or a dot product rounded past +-1) fails the test: inside.
    return !(std::fabs(sigma - 6.2831854820251465) > 0.005);
}

D3DXVECTOR3 closestPointOnSegment(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& p)
{
    const D3DXVECTOR3 c = p - a;
    D3DXVECTOR3 d = b - a;
    const double l = length(d);
    normalize(d);
    const float x = dot(d, c);
    if (x < 0.0f || std::isnan(x)) return a;
    if (static_cast<double>(x) > l) return b;
    return a + scaled(d, x);
}

D3DXVECTOR3 closestPointOnTriangleEdges(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c,
                                        const D3DXVECTOR3& p)
{
    const D3DXVECTOR3 p1 = closestPointOnSegment(a, b, p);
    const D3DXVECTOR3 p2 = closestPointOnSegment(b, c, p);
    const D3DXVECTOR3 p3 = closestPointOnSegment(c, a, p);
    D3DXVECTOR3 best = p1;
    double bestDistance = length(p - p1);
    const double d2 = length(p - p2);
    if (d2 < bestDistance) {
        best = p2;
        bestDistance = d2;
    }
    if (length(p - p3) < bestDistance) best = p3;
    return best;
}

bool findContact(Car& car, SceneObject& obstacle)
{
    selectSide(facingRegion(car.getPosition(), obstacle), obstacle);
    const D3DXVECTOR3 s = obstacle.getEdgeStart(), e = obstacle.getEdgeEnd(), n = obstacle.getEdgeNormal();
    const D3DXVECTOR3 d = forward(car.getHeading());

    const int corner = leadingCorner(d, -n);
    if (corner == 0) return false;  // driving parallel to the facing side
    car.updateCorners();
    const D3DXVECTOR3 c = car.getCorner(static_cast<unsigned>(corner - 1));

    const float t = planeParameter(c, d, s, n);
    car.setPenetration(t);
    const D3DXVECTOR3 q(t * d.x + c.x, t * d.y + c.y, t * d.z + c.z);
    const D3DXVECTOR3 up(0.0f, WALL_HEIGHT, 0.0f);
    const D3DXVECTOR3 sTop = s + up, eTop = e + up;

    // The car's leading corner against the obstacle's wall.
    if (pointInTriangle(q, s, e, sTop) || pointInTriangle(q, sTop, e, eTop)) return sideOfLine(c, s, n) == SIDE_BEHIND;

    // Otherwise the obstacle's wall against the car's facing side.
    const D3DXVECTOR3 q2 = closestPointOnTriangleEdges(s, e, sTop, q);
    selectSide(facingRegion(q2, car), car);
    const D3DXVECTOR3 sc = car.getEdgeStart(), nc = car.getEdgeNormal();
    const float t2 = planeParameter(q2, nc, sc, nc);
    car.setPenetration(signOf(car.getSpeed()) * -1.0f * t2);
    const D3DXVECTOR3 c2(-nc.x * t2 + q2.x, -nc.y * t2 + q2.y, -nc.z * t2 + q2.z);
    return sideOfLine(c2, sc, nc) == SIDE_BEHIND;
}

void respondToContact(Car& car)
{
    const float h = car.getHeading();
    const D3DXVECTOR3 f(floatCos(h + HALF_PI_F), 0.0f, floatSin(h - HALF_PI_F));
    car.setPosition(car.getPosition() + scaled(f, car.getPenetration()));
    car.setVelocity(-car.getVelocity());
    if (car.getSpeed() > 10.0f) car.setSpeed(-car.getSpeed() / 10.0f);
    car.setCollisionFlag(10.0f);
}

bool testObstacle(Car& car, SceneObject& obstacle)
{
    obstacle.updateCorners();
    if (!circlesOverlap(car, obstacle)) return false;
    if (findContact(car, obstacle)) {
        respondToContact(car);
        return true;
    }
    car.setCollisionFlag(0.0f);
    return false;
}

void collideWithCity(Car& car, CityMap& city)
{
    for (int slot : COLLISION_SLOTS) testObstacle(car, *city.getInstance(slot));
}
