// The three template blocks the loader registers with the X-file parser before every load:
// the standard templates in binary form, then the skinning, patch and effect templates and
// the vertex-data and progressive-mesh templates in text form. Their sources are in
// mesh/templates/; the build turns them into these constant blocks.
#pragma once

#include <cstddef>

namespace mesh {

struct TemplateBlock {
    const unsigned char* data;
    std::size_t size;
};

inline constexpr std::size_t TEMPLATE_BLOCK_COUNT = 3;
extern const TemplateBlock TEMPLATE_BLOCKS[TEMPLATE_BLOCK_COUNT];

}  // namespace mesh
