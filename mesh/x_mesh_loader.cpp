// D3DXLoadMeshFromXA: reads every mesh of an X file through the X-file parser module into
// working records, builds each into a mesh, transforms it by its frames and merges them
// into one mesh with its materials.
//
// What it trusts: nothing of the file. Data of every object is checked against its size
// before it is read; counts are checked against the data before anything is allocated.
// Each refusal of its own is made through refuseLoad, naming its reason from the one list
// in x_mesh_loader_reasons.h, which also gives its result code.
#include "mesh/adjacency.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/mesh_builder.h"
#include "mesh/x_data_cursor.h"
#include "mesh/x_mesh_geometry.h"
#include "mesh/x_mesh_loader_reasons.h"
#include "mesh/x_templates.h"
#include "platform/com/com_ptr.h"
#include "platform/xfile/dxfile.h"

#include <clocale>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace mesh {

namespace {

constexpr GUID guid(DWORD d1, WORD d2, WORD d3, BYTE b0, BYTE b1, BYTE b2, BYTE b3, BYTE b4, BYTE b5, BYTE b6, BYTE b7)
{
    return GUID{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
}

constexpr GUID TID_Mesh = guid(0x3D82AB44, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
constexpr GUID TID_Frame = guid(0x3D82AB46, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
constexpr GUID TID_FrameTransformMatrix = guid(0xF6F23F41, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_MeshTextureCoords = guid(0xF6F23F40, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_MeshNormals = guid(0xF6F23F43, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_MeshVertexColors = guid(0x1630B821, 0x7842, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_MeshMaterialList = guid(0xF6F23F42, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_Material = guid(0x3D82AB4D, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
constexpr GUID TID_TextureFilename = guid(0xA42790E1, 0x7810, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
constexpr GUID TID_EffectInstance = guid(0xE331F7E4, 0x0559, 0x4CC2, 0x8E, 0x99, 0x1C, 0xEC, 0x16, 0x57, 0x92, 0x8F);
constexpr GUID TID_EffectParamFloats = guid(0x3014B9A0, 0x62F5, 0x478C, 0x9B, 0x86, 0xE4, 0xAC, 0x9F, 0x4E, 0x41, 0x8B);
constexpr GUID TID_EffectParamString = guid(0x1DBC4C88, 0x94C1, 0x46EE, 0x90, 0x76, 0x2C, 0x28, 0x81, 0x8C, 0x94, 0x81);
constexpr GUID TID_EffectParamDWord = guid(0xE13963BC, 0xAE51, 0x4C5D, 0xB0, 0x0F, 0xCF, 0xA3, 0xA9, 0xD9, 0x7C, 0xE5);
constexpr GUID TID_VertexDuplicationIndices = guid(0xB8D65549, 0xD7C9, 0x4995, 0x89, 0xCF, 0x53, 0xA9, 0xA8, 0xB0, 0x31, 0xE3);
constexpr GUID TID_FaceAdjacency = guid(0xA64C844A, 0xE282, 0x4756, 0x8B, 0x80, 0x25, 0x0C, 0xDE, 0x04, 0x39, 0x8C);
constexpr GUID TID_FVFData = guid(0xB6E70A0E, 0x8EF9, 0x4E83, 0x94, 0xAD, 0xEC, 0xC8, 0xB0, 0xC0, 0x48, 0x97);
constexpr GUID TID_DeclData = guid(0xBF22E553, 0x292C, 0x4781, 0x9F, 0xEA, 0x62, 0xBD, 0x55, 0x4B, 0xDD, 0x93);

// Frames nest through references too; a file whose frame names itself must not recurse
// without end.
constexpr int MAX_FRAME_DEPTH = 256;

// The numeric locale held at "C" while a mesh is read, restored afterwards.
class NumericLocaleC {
public:
    NumericLocaleC()
    {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        if (current && std::strcmp(current, "C") != 0) {
            saved_ = current;
            changed_ = std::setlocale(LC_NUMERIC, "C") != nullptr;
        }
    }
    ~NumericLocaleC()
    {
        if (changed_) std::setlocale(LC_NUMERIC, saved_.c_str());
    }
    NumericLocaleC(const NumericLocaleC&) = delete;
    NumericLocaleC& operator=(const NumericLocaleC&) = delete;

private:
    std::string saved_;
    bool changed_ = false;
};

HRESULT getData(IDirectXFileData* object, Cursor& out)
{
    DWORD size = 0;
    void* data = nullptr;
    const HRESULT hr = object->GetData(nullptr, &size, &data);
    if (FAILED(hr)) return hr;
    out = Cursor(data, size);
    return S_OK;
}

HRESULT typeOf(IDirectXFileData* object, GUID& type)
{
    const GUID* t = nullptr;
    const HRESULT hr = object->GetType(&t);
    if (FAILED(hr)) return hr;
    if (!t) return refuseLoad(LoadReason::untypedObject);
    type = *t;
    return S_OK;
}

// A child as a data object: embedded, or the object a reference names. Binary children
// and anything else are no data.
HRESULT childData(IDirectXFileObject* child, com::ComPtr<IDirectXFileData>& out)
{
    if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(out.put())))) return S_OK;
    com::ComPtr<IDirectXFileDataReference> reference;
    if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(reference.put())))) {
        const HRESULT hr = reference->Resolve(out.put());
        if (FAILED(hr)) return hr;
        return out ? S_OK : refuseLoad(LoadReason::unresolvedReference);
    }
    return refuseLoad(LoadReason::childNotData);
}

// Calls fn(child data object) for each child in order; stops at the first failure.
template <typename Fn>
HRESULT forEachChild(IDirectXFileData* parent, Fn&& fn)
{
    for (;;) {
        com::ComPtr<IDirectXFileObject> child;
        if (FAILED(parent->GetNextObject(child.put()))) return S_OK;
        com::ComPtr<IDirectXFileData> data;
        HRESULT hr = childData(child.get(), data);
        if (FAILED(hr)) return hr;
        hr = fn(data.get());
        if (FAILED(hr)) return hr;
    }
}

// ---- Children of a Mesh ---------------------------------------------------------------

HRESULT readTextureCoords(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t count;
    if (!c.u32(count) || count != r.fileVertexCount || !c.has(std::uint64_t(count) * 8))
        return refuseLoad(LoadReason::texcoordsNotPerVertex);
    r.texcoords.view(c.here(), std::size_t(count) * 2);
    r.owners.push_back(com::ComPtr<IUnknown>::share(object));
    r.hasTexcoords = true;
    return S_OK;
}

HRESULT readVertexColors(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t count;
    // A count that claims more entries than the data holds is refused.
    if (!c.u32(count) || !c.has(std::uint64_t(count) * 20)) return refuseLoad(LoadReason::colorsCutShort);
    if (r.colors.empty()) {
        r.colors.resize(std::size_t(r.fileVertexCount) * 4);
        for (std::size_t v = 0; v < r.fileVertexCount; ++v) {
            r.colors[v * 4 + 0] = 1.0f;
            r.colors[v * 4 + 1] = 1.0f;
            r.colors[v * 4 + 2] = 1.0f;
            r.colors[v * 4 + 3] = 0.0f;
        }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t index;
        float rgba[4];
        c.u32(index);
        c.floats(rgba, 4);
        if (index >= r.fileVertexCount) return refuseLoad(LoadReason::colorVertexPastVertices);
        for (int k = 0; k < 4; ++k) {
            float v = rgba[k];
            v = v >= 0.0f ? (v <= 1.0f ? v : 1.0f) : 0.0f;  // NaN ends at 0 too
            const auto byte = static_cast<unsigned>(v * 255.0f + 0.5f);
            r.colors[std::size_t(index) * 4 + k] = static_cast<float>(byte) / 255.0f;
        }
    }
    r.hasColors = true;
    return S_OK;
}

HRESULT readNormals(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t count;
    if (!c.u32(count) || !c.has(std::uint64_t(count) * 12)) return refuseLoad(LoadReason::normalsCutShort);
    const BYTE* normals = c.here();
    c.skip(std::size_t(count) * 12);
    std::uint32_t faces;
    if (!c.u32(faces) || faces != r.faceCount) return refuseLoad(LoadReason::normalFaceCount);
    // Checked here once, beside the Mesh's own faces; the build reads them in place.
    const BYTE* normalFaces = c.here();
    const std::size_t start = c.left();
    // Normals numbered as the vertices (one normal per vertex, as most files have them):
    // the same words, whose indices are vertices, so sound where there are as many normals.
    const std::size_t faceBytes = r.faces.size() * 4;
    r.normalsFollowVertices =
        count >= r.fileVertexCount && c.has(faceBytes) && std::memcmp(normalFaces, r.faces.data(), faceBytes) == 0;
    if (r.normalsFollowVertices) c.skip(faceBytes);
    std::size_t at = 0;  // word of the Mesh's faces
    for (std::uint32_t f = 0; f < faces && !r.normalsFollowVertices; ++f) {
        std::uint32_t n;
        if (!c.u32(n) || n != r.faces[at] || !c.has(std::uint64_t(n) * 4))
            return refuseLoad(LoadReason::normalFaceShape);
        for (std::uint32_t k = 0; k < n; ++k) {
            std::uint32_t index;
            c.u32(index);
            if (index >= count) return refuseLoad(LoadReason::normalIndexPastNormals);
        }
        at += std::size_t(n) + 1;
    }
    r.normals.view(normals, std::size_t(count) * 3);
    r.normalFaces.view(normalFaces, (start - c.left()) / 4);
    r.owners.push_back(com::ComPtr<IUnknown>::share(object));
    r.hasNormals = true;
    return S_OK;
}

HRESULT readDuplicationIndices(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t count, originals;
    if (!c.u32(count) || !c.u32(originals)) return refuseLoad(LoadReason::duplicationCutShort);
    if (count != r.fileVertexCount || originals > count) return refuseLoad(LoadReason::duplicationCount);
    if (!c.has(std::uint64_t(count) * 4)) return refuseLoad(LoadReason::duplicationCutShort);
    std::vector<std::uint32_t> indices(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        c.u32(indices[i]);
        if (indices[i] >= count) return refuseLoad(LoadReason::duplicationPastVertices);
    }
    for (std::uint32_t i = 0; i < count; ++i)
        if (indices[indices[i]] != indices[i]) return refuseLoad(LoadReason::duplicationOfDuplicate);
    // Rings: every duplicate is linked in after its source.
    std::vector<std::uint32_t> next(count);
    for (std::uint32_t i = 0; i < count; ++i) next[i] = i;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t s = indices[i];
        if (s == i) continue;
        next[i] = next[s];
        next[s] = i;
    }
    r.duplicationSource = std::move(indices);
    r.ringNext = std::move(next);
    r.hasDuplication = true;
    return S_OK;
}

HRESULT readFaceAdjacency(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t count;
    if (!c.u32(count)) return refuseLoad(LoadReason::adjacencyCutShort);
    if (std::uint64_t(count) != std::uint64_t(r.triangleCount) * 3) return refuseLoad(LoadReason::adjacencyCount);
    if (!c.has(std::uint64_t(count) * 4)) return refuseLoad(LoadReason::adjacencyCutShort);
    r.faceAdjacency.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) c.u32(r.faceAdjacency[i]);
    r.hasFaceAdjacency = true;
    return S_OK;
}

HRESULT readFvfData(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t fvf, words;
    if (!c.u32(fvf) || !c.u32(words) || !c.has(std::uint64_t(words) * 4)) return refuseLoad(LoadReason::fvfDataCutShort);
    r.fvfWords.resize(words);
    for (std::uint32_t i = 0; i < words; ++i) c.u32(r.fvfWords[i]);
    r.fvfDataCode = fvf;
    r.hasFvfData = true;
    return S_OK;
}

HRESULT readDeclData(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t elements;
    if (!c.u32(elements)) return refuseLoad(LoadReason::declDataCutShort);
    if (elements < 1 || elements > MAXD3DDECLLENGTH) return refuseLoad(LoadReason::declDataElementCount);
    if (!c.has(std::uint64_t(elements) * 16)) return refuseLoad(LoadReason::declDataCutShort);
    Declaration d;
    UINT offset = 0;
    bool ended = false;
    for (std::uint32_t i = 0; i < elements; ++i) {
        std::uint32_t type, method, usage, usageIndex;
        c.u32(type);
        c.u32(method);
        c.u32(usage);
        c.u32(usageIndex);
        if (ended) continue;
        if (type >= D3DDECLTYPE_UNUSED) {  // the list ends at the first unknown type
            ended = true;
            continue;
        }
        D3DVERTEXELEMENT9& e = d.elements[d.count++];
        e.Stream = 0;
        e.Offset = static_cast<WORD>(offset);
        e.Type = static_cast<BYTE>(type);
        e.Method = static_cast<BYTE>(method > 0xFF ? 0xFF : method);
        e.Usage = static_cast<BYTE>(usage > 0xFF ? 0xFF : usage);
        e.UsageIndex = static_cast<BYTE>(usageIndex > 0xFF ? 0xFF : usageIndex);
        offset += declTypeSize(type);
    }
    d.elements[d.count] = declEnd();
    std::uint32_t words;
    if (!c.u32(words) || !c.has(std::uint64_t(words) * 4)) return refuseLoad(LoadReason::declDataCutShort);
    // An oversized or invalid list is dropped; the mesh loads without it.
    if (offset > 255 || d.count == 0 || !isValidDeclaration(d)) return S_OK;
    if (std::uint64_t(words) * 4 < std::uint64_t(offset) * r.fileVertexCount)
        return refuseLoad(LoadReason::declDataTooFewWords);
    r.declWords.resize(words);
    for (std::uint32_t i = 0; i < words; ++i) c.u32(r.declWords[i]);
    r.declData = d;
    r.hasDeclData = true;
    return S_OK;
}

HRESULT readEffectInstance(IDirectXFileData* object, EffectRecord& effect)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    const char* file = nullptr;
    if (!c.string(file)) return refuseLoad(LoadReason::effectCutShort);
    effect = EffectRecord{};
    effect.hasFile = file != nullptr;
    if (file) effect.file = file;
    return forEachChild(object, [&](IDirectXFileData* child) -> HRESULT {
        GUID type;
        HRESULT r = typeOf(child, type);
        if (FAILED(r)) return r;
        Cursor p(nullptr, 0);
        if (type != TID_EffectParamFloats && type != TID_EffectParamString && type != TID_EffectParamDWord) return S_OK;
        r = getData(child, p);
        if (FAILED(r)) return r;
        const char* name = nullptr;
        if (!p.string(name)) return refuseLoad(LoadReason::effectCutShort);
        EffectDefaultRecord d;
        d.name = name ? name : "";
        if (type == TID_EffectParamFloats) {
            std::uint32_t n;
            if (!p.u32(n) || !p.has(std::uint64_t(n) * 4)) return refuseLoad(LoadReason::effectCutShort);
            d.type = D3DXEDT_FLOATS;
            d.value.assign(p.here(), p.here() + std::size_t(n) * 4);
        } else if (type == TID_EffectParamString) {
            const char* value = nullptr;
            if (!p.string(value)) return refuseLoad(LoadReason::effectCutShort);
            d.type = D3DXEDT_STRING;
            const std::string v = value ? value : "";
            d.value.assign(v.begin(), v.end());
            d.value.push_back(0);
        } else {
            std::uint32_t v;
            if (!p.u32(v)) return refuseLoad(LoadReason::effectCutShort);
            d.type = D3DXEDT_DWORD;
            d.value.resize(4);
            std::memcpy(d.value.data(), &v, 4);
        }
        effect.defaults.push_back(std::move(d));
        return S_OK;
    });
}

HRESULT readMaterial(IDirectXFileData* object, MaterialRecord& m)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    float v[11];
    // Face colour, power, specular, emissive: 44 bytes.
    if (!c.floats(v, 11)) return refuseLoad(LoadReason::materialCutShort);
    m.material.Diffuse = {v[0], v[1], v[2], v[3]};
    m.material.Power = v[4];
    m.material.Specular = {v[5], v[6], v[7], 1.0f};
    m.material.Emissive = {v[8], v[9], v[10], 1.0f};
    m.material.Ambient = {0.0f, 0.0f, 0.0f, 1.0f};
    bool hasEffect = false;
    hr = forEachChild(object, [&](IDirectXFileData* child) -> HRESULT {
        GUID type;
        HRESULT r = typeOf(child, type);
        if (FAILED(r)) return r;
        if (type == TID_TextureFilename) {
            Cursor t(nullptr, 0);
            r = getData(child, t);
            if (FAILED(r)) return r;
            const char* name = nullptr;
            if (!t.string(name)) return refuseLoad(LoadReason::textureNameCutShort);
            m.hasTexture = name != nullptr;
            m.texture = name ? name : "";
        } else if (type == TID_EffectInstance) {
            r = readEffectInstance(child, m.effect);
            if (FAILED(r)) return r;
            hasEffect = true;
        }
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (!hasEffect) m.effect = defaultEffect(m);
    return S_OK;
}

HRESULT readMaterialList(IDirectXFileData* object, MeshRecords& r)
{
    Cursor c(nullptr, 0);
    HRESULT hr = getData(object, c);
    if (FAILED(hr)) return hr;
    std::uint32_t materials, indices;
    if (!c.u32(materials) || !c.u32(indices) || !c.has(std::uint64_t(indices) * 4))
        return refuseLoad(LoadReason::materialListCutShort);
    if (materials == 0) return S_OK;
    // More face indices than faces would give materials to faces that don't exist.
    if (indices > r.faceCount) return refuseLoad(LoadReason::materialListPastFaces);
    const BYTE* faceMaterials = c.here();
    for (std::uint32_t f = 0; f < indices; ++f) {
        std::uint32_t m;
        c.u32(m);
        if (m >= materials) return refuseLoad(LoadReason::materialIndexPastList);
    }
    r.faceMaterials.view(faceMaterials, indices);
    r.owners.push_back(com::ComPtr<IUnknown>::share(object));
    std::vector<MaterialRecord> list;
    hr = forEachChild(object, [&](IDirectXFileData* child) -> HRESULT {
        GUID type;
        HRESULT res = typeOf(child, type);
        if (FAILED(res)) return res;
        if (type != TID_Material) return S_OK;
        if (list.size() >= materials) return refuseLoad(LoadReason::tooManyMaterials);
        MaterialRecord m;
        res = readMaterial(child, m);
        if (FAILED(res)) return res;
        list.push_back(std::move(m));
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (list.size() < materials) return refuseLoad(LoadReason::tooFewMaterials);
    r.materials = std::move(list);
    return S_OK;
}

// ---- One Mesh object ------------------------------------------------------------------

HRESULT readMesh(IDirectXFileData* object, MeshRecords& r)
{
    DWORD size = 0;
    void* data = nullptr;
    HRESULT hr = object->GetData(nullptr, &size, &data);
    if (FAILED(hr)) return hr;
    hr = readMeshGeometry(static_cast<const BYTE*>(data), size, r);
    if (FAILED(hr)) return hr;

    bool sawNormals = false;
    hr = forEachChild(object, [&](IDirectXFileData* child) -> HRESULT {
        GUID type;
        HRESULT res = typeOf(child, type);
        if (FAILED(res)) return res;
        if (type == TID_MeshTextureCoords) return readTextureCoords(child, r);
        if (type == TID_MeshVertexColors) return readVertexColors(child, r);
        if (type == TID_MeshNormals) {
            sawNormals = true;
            return readNormals(child, r);
        }
        if (type == TID_VertexDuplicationIndices) return readDuplicationIndices(child, r);
        if (type == TID_FaceAdjacency) return readFaceAdjacency(child, r);
        if (type == TID_MeshMaterialList) return readMaterialList(child, r);
        if (type == TID_FVFData) return readFvfData(child, r);
        if (type == TID_DeclData) return readDeclData(child, r);
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (!sawNormals) r.computeNormals = true;
    return S_OK;
}

// With `withAdjacency` (when the load asks for adjacency) the mesh gets its adjacency.
HRESULT loadMesh(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device, bool withAdjacency,
                 LoadedMesh& out)
{
    NumericLocaleC locale;
    try {
        MeshRecords records;
        HRESULT hr = readMesh(object, records);
        if (FAILED(hr)) return hr;
        Declaration decl;
        hr = chooseFormat(records, decl);
        if (FAILED(hr)) return hr;
        return buildMesh(records, decl, options, device, out, withAdjacency);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
}

// ---- The walk over the file -----------------------------------------------------------

struct Load {
    DWORD options;
    IDirect3DDevice9* device;
    bool withAdjacency;  // the caller takes the adjacency
    LoadedMesh result;
    bool haveResult = false;
};

HRESULT process(Load& load, IDirectXFileData* object, D3DXMATRIX& m, int depth)
{
    GUID type;
    HRESULT hr = typeOf(object, type);
    if (FAILED(hr)) return hr;
    if (type == TID_Mesh) {
        LoadedMesh loaded;
        hr = loadMesh(object, load.options, load.device, load.withAdjacency, loaded);
        if (hr == D3DXERR_LOADEDMESHASNODATA) return S_OK;
        if (FAILED(hr)) return hr;
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        if (m != identity) {
            hr = transformMesh(loaded.mesh.get(), m);
            if (FAILED(hr)) return hr;
        }
        if (!load.haveResult) {
            load.result = std::move(loaded);
            load.haveResult = true;
            return S_OK;
        }
        return mergeMeshes(load.result, loaded, load.device);
    }
    if (type == TID_FrameTransformMatrix) {
        Cursor c(nullptr, 0);
        hr = getData(object, c);
        if (FAILED(hr)) return hr;
        D3DXMATRIX local;
        if (!c.floats(&local._11, 16)) return refuseLoad(LoadReason::matrixCutShort);
        D3DXMatrixMultiply(&m, &local, &m);
        return S_OK;
    }
    if (type == TID_Frame) {
        if (depth >= MAX_FRAME_DEPTH) return refuseLoad(LoadReason::framesTooDeep);
        D3DXMATRIX local = m;
        return forEachChild(object, [&](IDirectXFileData* child) { return process(load, child, local, depth + 1); });
    }
    return S_OK;
}

HRESULT createParser(com::ComPtr<IDirectXFile>& parser)
{
    HMODULE module = GetModuleHandleA("d3dxof.dll");
    if (!module) module = LoadLibraryA("d3dxof.dll");
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    FARPROC entry = GetProcAddress(module, "DirectXFileCreate");
    if (!entry) return HRESULT_FROM_WIN32(GetLastError());
    auto create = reinterpret_cast<PFN_DirectXFileCreate>(entry);
    return create(parser.put());
}

HRESULT loadMeshFromX(LPCSTR fileName, DWORD options, IDirect3DDevice9* device, LPD3DXBUFFER* adjacency,
                      LPD3DXBUFFER* materials, LPD3DXBUFFER* effectInstances, DWORD* numMaterials, LPD3DXMESH* meshOut)
{
    if (!meshOut || !fileName) return refuseLoad(LoadReason::noArguments);
    com::ComPtr<IDirectXFile> parser;
    HRESULT hr = createParser(parser);
    if (FAILED(hr)) return hr;
    if (!parser) return refuseLoad(LoadReason::noParser);
    for (const TemplateBlock& block : TEMPLATE_BLOCKS) {
        hr = parser->RegisterTemplates(const_cast<unsigned char*>(block.data), static_cast<DWORD>(block.size));
        if (FAILED(hr)) return hr;
    }
    com::ComPtr<IDirectXFileEnumObject> enumerator;
    hr = parser->CreateEnumObject(const_cast<char*>(fileName), DXFILELOAD_FROMFILE, enumerator.put());
    if (FAILED(hr)) return hr;
    if (!enumerator) return refuseLoad(LoadReason::noParser);

    *meshOut = nullptr;
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (effectInstances) *effectInstances = nullptr;

    Load load{options, device, adjacency != nullptr, {}, false};
    hr = S_OK;
    try {
        for (;;) {
            com::ComPtr<IDirectXFileData> object;
            if (FAILED(enumerator->GetNextDataObject(object.put())) || !object) break;
            D3DXMATRIX m;
            D3DXMatrixIdentity(&m);
            hr = process(load, object.get(), m, 0);
            if (FAILED(hr)) break;
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (!load.haveResult) return SUCCEEDED(hr) ? refuseLoad(LoadReason::noMesh) : hr;

    // The outputs hold what was loaded, also when a later mesh failed.
    if (load.result.materials.empty() && SUCCEEDED(hr)) {
        MaterialRecord grey;
        grey.material.Diffuse = {0.5f, 0.5f, 0.5f, 0.0f};
        grey.material.Specular = {0.5f, 0.5f, 0.5f, 0.0f};
        grey.effect = defaultEffect(grey);
        load.result.materials.push_back(std::move(grey));
    }
    com::ComPtr<ID3DXBuffer> adjacencyBuffer, materialBuffer, effectBuffer;
    HRESULT packed = S_OK;
    if (adjacency && SUCCEEDED(packed)) packed = packAdjacency(load.result, adjacencyBuffer.put());
    if (materials && SUCCEEDED(packed)) packed = packMaterials(load.result.materials, materialBuffer.put());
    if (effectInstances && SUCCEEDED(packed)) packed = packEffectInstances(load.result.materials, effectBuffer.put());
    if (FAILED(packed)) return SUCCEEDED(hr) ? packed : hr;
    if (adjacency) *adjacency = adjacencyBuffer.detach();
    if (materials) *materials = materialBuffer.detach();
    if (effectInstances) *effectInstances = effectBuffer.detach();
    if (numMaterials) *numMaterials = static_cast<DWORD>(load.result.materials.size());
    *meshOut = load.result.mesh.detach();
    return hr;
}

thread_local LoadRefusal tLastRefusal;

}  // namespace

HRESULT codeOf(LoadReason reason)
{
    switch (reason) {
#define CITYDRIVE_REASON_CODE(name, code, text) \
    case LoadReason::name:                      \
        return code;
        CITYDRIVE_MESH_LOAD_REASONS(CITYDRIVE_REASON_CODE)
#undef CITYDRIVE_REASON_CODE
    }
    return E_FAIL;
}

const char* describe(LoadReason reason)
{
    switch (reason) {
#define CITYDRIVE_REASON_TEXT(name, code, text) \
    case LoadReason::name:                      \
        return text;
        CITYDRIVE_MESH_LOAD_REASONS(CITYDRIVE_REASON_TEXT)
#undef CITYDRIVE_REASON_TEXT
    }
    return "";
}

const char* nameOf(LoadReason reason)
{
    switch (reason) {
#define CITYDRIVE_REASON_NAME(name, code, text) \
    case LoadReason::name:                      \
        return #name;
        CITYDRIVE_MESH_LOAD_REASONS(CITYDRIVE_REASON_NAME)
#undef CITYDRIVE_REASON_NAME
    }
    return "";
}

HRESULT refuseLoad(LoadReason reason)
{
    tLastRefusal = LoadRefusal{codeOf(reason), reason};
    return tLastRefusal.code;
}

LoadRefusal lastLoadRefusal() { return tLastRefusal; }

}  // namespace mesh

HRESULT D3DXLoadMeshFromXA(LPCSTR fileName, DWORD options, IDirect3DDevice9* device, LPD3DXBUFFER* adjacency,
                           LPD3DXBUFFER* materials, LPD3DXBUFFER* effectInstances, DWORD* numMaterials,
                           LPD3DXMESH* meshOut)
{
    using namespace mesh;
    tLastRefusal = LoadRefusal{};
    const HRESULT hr =
        loadMeshFromX(fileName, options, device, adjacency, materials, effectInstances, numMaterials, meshOut);
    // A mesh skipped on the way (no data) leaves no reason behind a load that succeeded; a
    // code from another part (the parser, the device, memory) comes without one.
    if (SUCCEEDED(hr)) {
        tLastRefusal = LoadRefusal{};
    } else if (tLastRefusal.code != hr) {
        tLastRefusal = LoadRefusal{hr, LoadReason::none};
    }
    return hr;
}
