// The city: a table of prototypes (the kinds of object, each with its mesh and collision
// dimensions) read from the prototype file, and a table of placed copies read from the
// placement file. Instances are member-by-member copies of their prototypes and share their
// meshes, materials and textures; nothing here releases them.
//
// Problems in the two files are collected while they are read (city_file.h says what is
// checked and what happens to a bad record) and reported together: one message box listing
// them, and the same lines on standard error. A rejected placement keeps its slot in the
// instance table as an empty object that is never drawn, so the placements after it keep
// their numbers (the car's collisions test fixed slots, vehicle/collision.h).
#pragma once

#include "world/scene_object.h"

#include <string>
#include <vector>

struct IDirect3DDevice9;

inline constexpr int MAX_PROTOTYPES = 100;
inline constexpr int MAX_INSTANCES = 150;

// At most this many problems are listed in the message box; standard error gets them all.
inline constexpr std::size_t CITY_PROBLEMS_SHOWN = 20;

class CityMap {
public:
    CityMap() = default;

    // Prototypes from "maps/city.ldo", placements from "maps/city.map", then the report of
    // any problems found.
    void load(IDirect3DDevice9* device);
    void loadPrototypes(const char* fileName, IDirect3DDevice9* device);
    void loadPlacements(const char* fileName);
    // Draws the first instanceCount instances in placement order; empty slots draw nothing.
    void draw();

    // The problems found since the last report, each "<file>:<line>: <what was wrong>".
    const std::vector<std::string>& getProblems() const { return problems; }
    // Shows the collected problems in one message box and on standard error, then forgets
    // them. Does nothing when there are none.
    void reportProblems();

    int getPrototypeCount() const { return prototypeCount; }
    // The number of instances drawn: the placement file's count, limited to what was stored.
    int getInstanceCount() const { return instanceCount; }
    // Placement lines stored, rejected ones included (their slots stay empty).
    int getStoredInstanceCount() const { return storedInstances; }
    // Element `index` (from 0) of each table; null outside the table.
    SceneObject* getPrototype(int index) { return index >= 0 && index < MAX_PROTOTYPES ? &prototypes[index] : nullptr; }
    SceneObject* getInstance(int index) { return index >= 0 && index < MAX_INSTANCES ? &instances[index] : nullptr; }
    bool isPrototypeDefined(int number) const
    {
        return number >= 1 && number <= MAX_PROTOTYPES && prototypeDefined[number - 1];
    }

private:
    int prototypeCount = 0;
    int instanceCount = 0;
    SceneObject prototypes[MAX_PROTOTYPES];
    SceneObject instances[MAX_INSTANCES];
    bool prototypeDefined[MAX_PROTOTYPES] = {};
    int storedInstances = 0;
    std::vector<std::string> problems;
};

// The city of the game.
extern CityMap gCity;
