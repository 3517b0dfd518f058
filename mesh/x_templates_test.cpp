#include "mesh/x_templates.h"
#include "platform/com/com_ptr.h"

#include "platform/xfile/dxfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace mesh {
namespace {

com::ComPtr<IDirectXFile> parserWithTemplates()
{
    com::ComPtr<IDirectXFile> parser;
    EXPECT_EQ(DirectXFileCreate(parser.put()), S_OK);
    for (const TemplateBlock& block : TEMPLATE_BLOCKS)
        EXPECT_EQ(parser->RegisterTemplates(const_cast<unsigned char*>(block.data), static_cast<DWORD>(block.size)), S_OK);
    return parser;
}

TEST(TemplateBlocks, HeadersAreTheRegisteredEncodings)
{
    ASSERT_GE(TEMPLATE_BLOCKS[0].size, 16u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(TEMPLATE_BLOCKS[0].data), 16), "xof 0302bin 0064");
    for (std::size_t i = 1; i < TEMPLATE_BLOCK_COUNT; ++i)
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(TEMPLATE_BLOCKS[i].data), 16), "xof 0303txt 0032");
}

// Files that declare no templates read with the registered ones; each object reports the
// template's published identifier.
TEST(TemplateBlocks, RegisteredTemplatesReadDataWithTheirIdentifiers)
{
    struct Case {
        const char* object;
        GUID type;
        DWORD size;  // bytes of data; 0 where narrow members leave the packing to the parser
    };
    const Case cases[] = {
        {"Header { 1; 0; 1; }", {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}}, 0},
        {"MeshFaceWraps { 2; 1; 0;, 0; 1;; }", {0x4885AE62, 0x78E8, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}}, 0},
        {"AnimationKey { 0; 1; 5; 4; 1.0, 0.0, 0.0, 0.0;;; }",
         {0x10DD46A8, 0x775B, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}}, 32},
        {"Guid { 1; 2; 3; 1,2,3,4,5,6,7,8; }", {0xA42790E0, 0x7810, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}}, 0},
        {"RightHanded { 1; }", {0x7F5D5EA0, 0xD53A, 0x11D1, {0x82, 0xC0, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x71}}, 4},
        {"XSkinMeshHeader { 1; 2; 3; }", {0x3CF169CE, 0xFF7C, 0x44AB, {0x93, 0xC0, 0xF7, 0x8F, 0x62, 0xD1, 0x72, 0xE2}}, 0},
        {"PatchMesh9 { 0; 3; 0; 1; 0.0;0.0;0.0;; 1; 1; 0;;; }",
         {0xB9EC94E1, 0xB9A6, 0x4251, {0xBA, 0x18, 0x94, 0x89, 0x3F, 0x02, 0xC0, 0xEA}}, 40},
        {"AnimTicksPerSecond { 4800; }", {0x9E415A43, 0x7BA6, 0x4A73, {0x87, 0x43, 0xB7, 0x3D, 0x47, 0xE8, 0x84, 0x76}}, 4},
        {"EffectDWord { 7; }", {0x622C0ED0, 0x956E, 0x4DA9, {0x90, 0x8A, 0x2A, 0xF9, 0x4F, 0x3C, 0xE7, 0x16}}, 4},
        {"PMVSplitRecord { 1; 2; 3; }", {0x574CCC14, 0xF0B3, 0x4333, {0x82, 0x2D, 0x93, 0xE8, 0xA8, 0xA0, 0x8E, 0x4C}}, 12},
        {"PMAttributeRange { 1; 2; 3; 4; 5; 6; }",
         {0x917E0427, 0xC61E, 0x4A14, {0x9C, 0x64, 0xAF, 0xE6, 0x5F, 0x9E, 0x98, 0x44}}, 24},
        {"VertexElement { 2; 0; 3; 0; }", {0xF752461C, 0x1E23, 0x48F6, {0xB9, 0xF8, 0x83, 0x50, 0x85, 0x0F, 0x33, 0x6F}}, 16},
    };
    auto parser = parserWithTemplates();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        std::string text = std::string("xof 0303txt 0032\n") + c.object + "\n";
        DXFILELOADMEMORY memory{text.data(), static_cast<DWORD>(text.size())};
        com::ComPtr<IDirectXFileEnumObject> enumerator;
        ASSERT_EQ(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, enumerator.put()), S_OK);
        com::ComPtr<IDirectXFileData> data;
        ASSERT_EQ(enumerator->GetNextDataObject(data.put()), S_OK);
        const GUID* type = nullptr;
        ASSERT_EQ(data->GetType(&type), S_OK);
        EXPECT_TRUE(*type == c.type);
        DWORD size = 0;
        void* bytes = nullptr;
        ASSERT_EQ(data->GetData(nullptr, &size, &bytes), S_OK);
        if (c.size) {
            EXPECT_EQ(size, c.size);
        }
    }
}

}  // namespace
}  // namespace mesh
