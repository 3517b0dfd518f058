// The parser as programs reach it: through the module look-up, then only the interfaces.
#include "platform/xfile/dxfile.h"

#include "platform/com/com_ptr.h"
#include "platform/xfile/xfile_diagnostics.h"
#include "platform/xfile/xfile_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using com::ComPtr;
using xfile::testing::readFixture;

std::string nameOf(IDirectXFileObject* object)
{
    DWORD length = 0;
    if (FAILED(object->GetName(nullptr, &length))) return "<error>";
    std::string name(length, '\0');
    if (length && FAILED(object->GetName(name.data(), &length))) return "<error>";
    if (!name.empty()) name.pop_back();  // the terminating zero
    return name;
}

class XfileObjects : public ::testing::Test {
protected:
    void SetUp() override
    {
        HMODULE module = LoadLibraryA("D3DXOF.DLL");
        ASSERT_NE(module, nullptr);
        auto create = reinterpret_cast<PFN_DirectXFileCreate>(GetProcAddress(module, "DirectXFileCreate"));
        ASSERT_NE(create, nullptr);
        ASSERT_EQ(create(parser.put()), S_OK);
        templates = readFixture("standard_templates.x");
        ASSERT_EQ(parser->RegisterTemplates(templates.data(), static_cast<DWORD>(templates.size())), DXFILE_OK);
    }

    HRESULT open(const std::string& bytes)
    {
        DXFILELOADMEMORY memory{const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())};
        return parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, enumerator.put());
    }

    std::string templates;
    ComPtr<IDirectXFile> parser;
    ComPtr<IDirectXFileEnumObject> enumerator;
};

constexpr GUID TID_Material = {0x3D82AB4D, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
constexpr GUID TID_Frame = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
constexpr GUID TID_Mesh = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
constexpr GUID TID_MeshMaterialList = {0xF6F23F42, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};

TEST_F(XfileObjects, WalksTheSceneTheWayTheMeshLoaderDoes)
{
    ASSERT_EQ(open(readFixture("scene.x")), DXFILE_OK);
    ComPtr<IDirectXFileData> header, red, root, none;
    ASSERT_EQ(enumerator->GetNextDataObject(header.put()), DXFILE_OK);
    ASSERT_EQ(enumerator->GetNextDataObject(red.put()), DXFILE_OK);
    ASSERT_EQ(enumerator->GetNextDataObject(root.put()), DXFILE_OK);
    EXPECT_EQ(enumerator->GetNextDataObject(none.put()), DXFILEERR_NOMOREOBJECTS);
    EXPECT_EQ(none.get(), nullptr);

    const GUID* type = nullptr;
    ASSERT_EQ(header->GetType(&type), DXFILE_OK);
    EXPECT_EQ(*type, TID_DXFILEHeader);
    ASSERT_EQ(root->GetType(&type), DXFILE_OK);
    EXPECT_EQ(*type, TID_Frame);
    EXPECT_EQ(nameOf(root.get()), "Root");

    // Root: FrameTransformMatrix, then the Child frame holding the mesh.
    ComPtr<IDirectXFileObject> matrix, child, end;
    ASSERT_EQ(root->GetNextObject(matrix.put()), DXFILE_OK);
    ASSERT_EQ(root->GetNextObject(child.put()), DXFILE_OK);
    EXPECT_EQ(root->GetNextObject(end.put()), DXFILEERR_NOMOREOBJECTS);
    ComPtr<IDirectXFileData> matrixData;
    ASSERT_EQ(matrix->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(matrixData.put())), S_OK);
    DWORD size = 0;
    void* data = nullptr;
    ASSERT_EQ(matrixData->GetData(nullptr, &size, &data), DXFILE_OK);
    ASSERT_EQ(size, 64u);
    EXPECT_EQ(static_cast<float*>(data)[12], 10.0f);

    ComPtr<IDirectXFileData> childFrame, mesh;
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(childFrame.put())), S_OK);
    ComPtr<IDirectXFileObject> meshObject;
    ASSERT_EQ(childFrame->GetNextObject(meshObject.put()), DXFILE_OK);
    ASSERT_EQ(meshObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(mesh.put())), S_OK);
    ASSERT_EQ(mesh->GetType(&type), DXFILE_OK);
    EXPECT_EQ(*type, TID_Mesh);
    GUID id{};
    ASSERT_EQ(mesh->GetId(&id), DXFILE_OK);
    EXPECT_EQ(id.Data1, 0x12345678u);

    // The fourth child of the mesh is its material list: a reference, then an inline material.
    ComPtr<IDirectXFileObject> normals, coords, colors, listObject;
    ASSERT_EQ(mesh->GetNextObject(normals.put()), DXFILE_OK);
    ASSERT_EQ(mesh->GetNextObject(coords.put()), DXFILE_OK);
    ASSERT_EQ(mesh->GetNextObject(colors.put()), DXFILE_OK);
    ASSERT_EQ(mesh->GetNextObject(listObject.put()), DXFILE_OK);
    ComPtr<IDirectXFileData> list;
    ASSERT_EQ(listObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(list.put())), S_OK);
    ASSERT_EQ(list->GetType(&type), DXFILE_OK);
    EXPECT_EQ(*type, TID_MeshMaterialList);

    ComPtr<IDirectXFileObject> first, second;
    ASSERT_EQ(list->GetNextObject(first.put()), DXFILE_OK);
    ASSERT_EQ(list->GetNextObject(second.put()), DXFILE_OK);
    ComPtr<IDirectXFileData> asData;
    ComPtr<IDirectXFileDataReference> asReference;
    EXPECT_EQ(first->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(asData.put())), E_NOINTERFACE);
    EXPECT_EQ(asData.get(), nullptr);
    ASSERT_EQ(first->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(asReference.put())), S_OK);
    ComPtr<IDirectXFileData> resolved;
    ASSERT_EQ(asReference->Resolve(resolved.put()), DXFILE_OK);
    EXPECT_EQ(nameOf(resolved.get()), "RedPaint");
    ASSERT_EQ(resolved->GetType(&type), DXFILE_OK);
    EXPECT_EQ(*type, TID_Material);
    EXPECT_EQ(second->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(asReference.put())),
              E_NOINTERFACE);
    ASSERT_EQ(second->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(asData.put())), S_OK);
    EXPECT_EQ(nameOf(asData.get()), "");
}

TEST_F(XfileObjects, NamesIdsAndMembersOnRequest)
{
    ASSERT_EQ(open(readFixture("scene.x")), DXFILE_OK);
    ComPtr<IDirectXFileData> quad, red;
    EXPECT_EQ(enumerator->GetDataObjectByName("quad", quad.put()), DXFILEERR_NOTFOUND);  // names keep their case
    ASSERT_EQ(enumerator->GetDataObjectByName("Quad", quad.put()), DXFILE_OK);
    const GUID quadId = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};
    ComPtr<IDirectXFileData> byId;
    ASSERT_EQ(enumerator->GetDataObjectById(quadId, byId.put()), DXFILE_OK);
    EXPECT_EQ(nameOf(byId.get()), "Quad");
    EXPECT_EQ(enumerator->GetDataObjectById(GUID{}, byId.put()), DXFILEERR_NOTFOUND);

    DWORD length = 0;
    ASSERT_EQ(quad->GetName(nullptr, &length), DXFILE_OK);
    EXPECT_EQ(length, 5u);
    char small[4];
    length = sizeof small;
    EXPECT_EQ(quad->GetName(small, &length), DXFILEERR_BADVALUE);

    ASSERT_EQ(enumerator->GetDataObjectByName("RedPaint", red.put()), DXFILE_OK);
    DWORD size = 0;
    void* data = nullptr;
    ASSERT_EQ(red->GetData("POWER", &size, &data), DXFILE_OK);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(*static_cast<float*>(data), 20.0f);
    ASSERT_EQ(red->GetData("specularColor", &size, &data), DXFILE_OK);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(red->GetData("shininess", &size, &data), DXFILEERR_BADDATAREFERENCE);
    ASSERT_EQ(quad->GetData("faces", &size, &data), DXFILE_OK);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(static_cast<DWORD*>(data)[4], 3u);
}

TEST_F(XfileObjects, ObjectsOutliveTheParserAndTheEnumerator)
{
    ASSERT_EQ(open(readFixture("scene.x")), DXFILE_OK);
    ComPtr<IDirectXFileData> red;
    ASSERT_EQ(enumerator->GetDataObjectByName("RedPaint", red.put()), DXFILE_OK);
    EXPECT_EQ(enumerator.detach()->Release(), 0u);
    EXPECT_EQ(parser.detach()->Release(), 0u);
    ComPtr<IDirectXFileObject> texture;
    ASSERT_EQ(red->GetNextObject(texture.put()), DXFILE_OK);
    ComPtr<IDirectXFileData> textureData;
    ASSERT_EQ(texture->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(textureData.put())), S_OK);
    // The child and its data-object interface are one object with one count.
    EXPECT_EQ(textureData.get()->AddRef(), 3u);
    EXPECT_EQ(texture.detach()->Release(), 2u);
    DWORD size = 0;
    void* data = nullptr;
    ASSERT_EQ(textureData->GetData(nullptr, &size, &data), DXFILE_OK);
    ASSERT_EQ(size, sizeof(char*));
    const char* name = nullptr;
    std::memcpy(&name, data, sizeof name);
    EXPECT_STREQ(name, "C:\\textures\\red paint.png");
}

TEST_F(XfileObjects, SourcesAndArguments)
{
    const std::string path = std::string(::testing::TempDir()) + "xfile_objects_scene.x";
    const std::string scene = readFixture("scene.x");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(scene.data(), 1, scene.size(), f);
    std::fclose(f);
    EXPECT_EQ(parser->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, enumerator.put()), DXFILE_OK);
    ComPtr<IDirectXFileData> first;
    EXPECT_EQ(enumerator->GetNextDataObject(first.put()), DXFILE_OK);
    std::remove(path.c_str());

    EXPECT_EQ(parser->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, enumerator.put()),
              DXFILEERR_FILENOTFOUND);
    EXPECT_EQ(enumerator.get(), nullptr);
    EXPECT_EQ(parser->CreateEnumObject(const_cast<char*>("."), DXFILELOAD_FROMFILE, enumerator.put()),
              DXFILEERR_FILENOTFOUND);
    DXFILELOADRESOURCE resource{nullptr, "MESH", "XFILE"};
    EXPECT_EQ(parser->CreateEnumObject(&resource, DXFILELOAD_FROMRESOURCE, enumerator.put()), DXFILEERR_RESOURCENOTFOUND);
    EXPECT_EQ(parser->CreateEnumObject(nullptr, DXFILELOAD_FROMFILE, enumerator.put()), DXFILEERR_BADVALUE);
    EXPECT_EQ(parser->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, nullptr), DXFILEERR_BADVALUE);
    ComPtr<IDirectXFileSaveObject> save;
    EXPECT_EQ(parser->CreateSaveObject("out.x", DXFILEFORMAT_TEXT, save.put()), E_NOTIMPL);
    EXPECT_EQ(DirectXFileCreate(nullptr), E_POINTER);
}

TEST_F(XfileObjects, AFailingTemplateBlockLeavesTheRegisteredOnes)
{
    const std::string broken = "xof 0303txt 0032\ntemplate Vector { <3D82AB5E-62DA-11CF-AB39-0020AF71E433> FLOAT x }";
    EXPECT_EQ(parser->RegisterTemplates(const_cast<char*>(broken.data()), static_cast<DWORD>(broken.size())),
              DXFILEERR_PARSEERROR);
    EXPECT_EQ(parser->RegisterTemplates(nullptr, 10), DXFILEERR_BADVALUE);
    ASSERT_EQ(open("xof 0303txt 0032\nVector { 1; 2; 3; }"), DXFILE_OK);
    ComPtr<IDirectXFileData> vector;
    ASSERT_EQ(enumerator->GetNextDataObject(vector.put()), DXFILE_OK);
    DWORD size = 0;
    void* data = nullptr;
    ASSERT_EQ(vector->GetData(nullptr, &size, &data), DXFILE_OK);
    EXPECT_EQ(size, 12u);
}

TEST_F(XfileObjects, TheLastFailureSaysWhere)
{
    EXPECT_EQ(open("xof 0303txt 0032\nFrame {\n  Vector { 1; 2; }\n}"), DXFILEERR_PARSEERROR);
    xfile::Diagnostic d = xfile::lastDiagnostic();
    EXPECT_EQ(d.code, DXFILEERR_PARSEERROR);
    EXPECT_EQ(d.place, xfile::ErrorPlace::line);
    EXPECT_EQ(d.position, 3u);
    EXPECT_EQ(xfile::describe(d), "line 3: expected a number");

    ASSERT_EQ(open("xof 0303txt 0032\nVector { 1; 2; 3; }"), DXFILE_OK);
    EXPECT_EQ(xfile::lastDiagnostic().code, S_OK);
}

// A large object of 600,000 floats.
std::string blob(const char* name, const std::string& children = {})
{
    std::string text = std::string("Blob ") + name + " {\n600000;\n";
    for (int i = 0; i < 600000; ++i) text += std::to_string(i % 1000) + (i + 1 < 600000 ? ",\n" : ";\n");
    return text + children + "}\n";
}

// The data block grows many times over while these objects are read; each keeps its bytes.
TEST_F(XfileObjects, LargeObjectsKeepTheirDataWhileTheBlockGrows)
{
    const std::string file =
        "xof 0303txt 0032\n"
        "template Blob { <0D1C2B3A-0000-4000-8000-000000000001> DWORD n; array FLOAT v[n]; [...] }\n"
        "template Note { <0D1C2B3A-0000-4000-8000-000000000002> STRING text; FLOAT x; }\n" +
        blob("big", " Blob small { 1; 5.0;; }\n") + "Note note { \"hello\"; 2.0; }\n" + blob("more");
    ASSERT_EQ(open(file), DXFILE_OK);
    for (int object = 0; object < 3; ++object) {
        ComPtr<IDirectXFileData> data;
        ASSERT_EQ(enumerator->GetNextDataObject(data.put()), DXFILE_OK);
        DWORD size = 0;
        void* bytes = nullptr;
        ASSERT_EQ(data->GetData(nullptr, &size, &bytes), DXFILE_OK);
        if (object == 1) {  // the note: its string and its float
            ASSERT_EQ(size, sizeof(const char*) + 4);
            const char* text = nullptr;
            std::memcpy(&text, bytes, sizeof text);
            EXPECT_STREQ(text, "hello");
            continue;
        }
        ASSERT_EQ(size, 4u + 600000u * 4u);
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        for (std::uint32_t i : {0u, 1u, 599999u}) {
            float value = 0;
            std::memcpy(&value, p + 4 + i * 4, 4);
            EXPECT_EQ(value, float(i % 1000)) << "object " << object << ", float " << i;
        }
    }
}

}  // namespace
