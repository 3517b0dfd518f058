#include "world/city_map.h"

#include "platform/win32/win32.h"
#include "world/city_file.h"

#include <cstdio>

CityMap gCity;

void CityMap::load(IDirect3DDevice9* device)
{
    loadPrototypes("maps/city.ldo", device);
    loadPlacements("maps/city.map");
    reportProblems();
}

void CityMap::loadPrototypes(const char* fileName, IDirect3DDevice9* device)
{
    CityCountLine count;
    readPrototypeFile(
        fileName, count,
        [&](const PrototypeRecord* r, int line) {
            if (!r) return CityReadStep::next;
            if (r->number < 1 || r->number > MAX_PROTOTYPES) {
                problems.push_back(cityProblem(fileName, line,
                                               "prototype number " + std::to_string(r->number) +
                                                   " is outside 1 to 100; the record is ignored"));
                return CityReadStep::next;
            }
            SceneObject& p = prototypes[r->number - 1];
            if (FAILED(p.load(device, r->meshFile.c_str()))) {
                // load has shown its own message; this line tells the author which file it was.
                std::fprintf(stderr, "%s\n",
                             cityProblem(fileName, line,
                                         "the mesh " + r->meshFile + " of prototype " + std::to_string(r->number) +
                                             " could not be loaded; its placements draw nothing")
                                 .c_str());
            }
            p.setPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
            p.setRadius(r->radius);
            p.setBoxLength(r->boxLength);
            p.setBoxWidth(r->boxWidth);
            prototypeDefined[r->number - 1] = true;
            return CityReadStep::next;
        },
        problems);
    // The count is stored as the file gives it; it does not limit what is loaded.
    prototypeCount = count.value;
}

void CityMap::loadPlacements(const char* fileName)
{
    CityCountLine count;
    int n = 0;
    readPlacementFile(
        fileName, count,
        [&](const PlacementRecord* r, int line) {
            if (n >= MAX_INSTANCES) {
                problems.push_back(cityProblem(fileName, line,
                                               "more than 150 placements; this line and the rest of the file are ignored"));
                return CityReadStep::stop;
            }
            SceneObject& slot = instances[n++];
            slot = SceneObject();
            if (!r) return CityReadStep::next;
            if (r->prototype < 1 || r->prototype > MAX_PROTOTYPES) {
                problems.push_back(cityProblem(fileName, line,
                                               "prototype number " + std::to_string(r->prototype) +
                                                   " is outside 1 to 100; the placement is left empty"));
                return CityReadStep::next;
            }
            if (!prototypeDefined[r->prototype - 1]) {
                problems.push_back(cityProblem(fileName, line,
                                               "prototype " + std::to_string(r->prototype) +
                                                   " is not defined in the prototype file; the placement is left empty"));
                return CityReadStep::next;
            }
            slot = prototypes[r->prototype - 1];
            slot.setPosition(D3DXVECTOR3(r->x, r->y, r->z));
            slot.setHeading(r->heading);
            return CityReadStep::next;
        },
        problems);
    storedInstances = n;

    instanceCount = count.value;
    if (count.present && !count.valid) {
        instanceCount = n;  // the reader reported the count; draw what is there
    } else if (count.value < 0) {
        problems.push_back(cityProblem(fileName, 1, "the count " + std::to_string(count.value) +
                                                        " is negative; no placement is drawn"));
        instanceCount = 0;
    } else if (count.value > n) {
        problems.push_back(cityProblem(fileName, 1,
                                       "the count " + std::to_string(count.value) + " is larger than the " +
                                           std::to_string(n) + " placements stored; only those are drawn"));
        instanceCount = n;
    }
}

void CityMap::draw()
{
    for (int n = 0; n < instanceCount && n < MAX_INSTANCES; ++n)
        if (instances[n].getDevice()) instances[n].draw();
}

void CityMap::reportProblems()
{
    if (problems.empty()) return;
    std::string text = "Problems in the city files:\n";
    for (std::size_t i = 0; i < problems.size(); ++i) {
        std::fprintf(stderr, "%s\n", problems[i].c_str());
        if (i < CITY_PROBLEMS_SHOWN) text += problems[i] + "\n";
    }
    if (problems.size() > CITY_PROBLEMS_SHOWN)
        text += "... and " + std::to_string(problems.size() - CITY_PROBLEMS_SHOWN) + " more on standard error\n";
    MessageBoxA(nullptr, text.c_str(), "Erreur", MB_OK);
    problems.clear();
}
