// Where tests find the repository (fixtures, the bundled city) and the build (the game
// binary, tools): the folders the test was configured with.
#pragma once

#include <filesystem>

namespace testing_paths {

inline std::filesystem::path sourceDir() { return CITYDRIVE_SOURCE_DIR; }
inline std::filesystem::path buildDir() { return CITYDRIVE_BUILD_DIR; }

}  // namespace testing_paths
