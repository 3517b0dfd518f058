// Reading of the two city text files (prototypes "maps/city.ldo", placements
// "maps/city.map"), apart from what the city does with the records.
//
// Format: the first line is a count ("%d"); every further line is one record of five
// fields, each ended by a comma; anything after the fifth comma is ignored. Fields are
// scanned like "%d", "%f" and "%s": leading white space skipped (a carriage return is
// white space), scanning stops at the first character that does not fit.
//
// The files come from people who make cities, so they are not trusted. Every problem is
// reported once as "<file>:<line>: <what was wrong>" and reading goes on where that makes
// sense:
//   - the file cannot be opened: one problem, no records;
//   - a line longer than 255 characters (so no field is longer either), a field that does
//     not scan (or scans to an infinity or NaN), a record with fewer than five fields: the
//     record is rejected;
//   - the fifth field without its comma: taken as if the comma were there, and reported;
//   - a blank line: skipped (it is not a record), and reported;
//   - a count line that does not scan: reported, the count is taken as 0.
// Checks that need the city's tables (prototype numbers, placement limits, undefined
// prototypes) are made by CityMap, which reports them in the same form.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Longest line a city file may hold, without its line feed.
inline constexpr std::size_t CITY_LINE_LIMIT = 255;

struct CityCountLine {
    bool present = false;  // the file had a first line
    bool valid = false;    // and it scanned as an integer
    int value = 0;
};

struct PrototypeRecord {
    int line = 0;
    int number = 0;
    std::string meshFile;
    float radius = 0, boxLength = 0, boxWidth = 0;
};

struct PlacementRecord {
    int line = 0;
    int prototype = 0;
    float x = 0, y = 0, z = 0, heading = 0;
};

// What the per-record callback answers: go on with the next line, or stop reading.
enum class CityReadStep { next, stop };

// Called for every record line, in file order. `record` is null when the line was rejected
// (the problem is already reported); placements use that to keep the line's slot.
using PrototypeSink = std::function<CityReadStep(const PrototypeRecord* record, int line)>;
using PlacementSink = std::function<CityReadStep(const PlacementRecord* record, int line)>;

// Both return false when the file could not be opened.
bool readPrototypeFile(const char* fileName, CityCountLine& count, const PrototypeSink& sink,
                       std::vector<std::string>& problems);
bool readPlacementFile(const char* fileName, CityCountLine& count, const PlacementSink& sink,
                       std::vector<std::string>& problems);

// "<file>:<line>: <text>", or "<file>: <text>" for line 0.
std::string cityProblem(const char* fileName, int line, const std::string& text);
