// xmesh-info FILE [--dump]: loads an X mesh exactly as the game does (D3DXMESH_SYSTEMMEM, on
// a recording device, so no GPU is needed) and prints what came out as JSON on standard
// output. A failed load prints the result code with the reason, the loader's own or the
// parser's (with the line or byte offset where the parser knows it), and exits with 1; bad
// arguments exit with 2.
#include "mesh/d3dx_mesh.h"
#include "mesh/vertex_declaration.h"
#include "mesh/x_mesh_loader_reasons.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/xfile/xfile_diagnostics.h"
#include "tools/json_text.h"

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const TYPE_NAMES[] = {"FLOAT1", "FLOAT2",   "FLOAT3",   "FLOAT4",   "D3DCOLOR", "UBYTE4",
                                  "SHORT2", "SHORT4",   "UBYTE4N",  "SHORT2N",  "SHORT4N",  "USHORT2N",
                                  "USHORT4N", "UDEC3",  "DEC3N",    "FLOAT16_2", "FLOAT16_4"};
const char* const USAGE_NAMES[] = {"POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL", "PSIZE",
                                   "TEXCOORD", "TANGENT",     "BINORMAL",     "TESSFACTOR", "POSITIONT",
                                   "COLOR",    "FOG",         "DEPTH",        "SAMPLE"};
const char* const METHOD_NAMES[] = {"DEFAULT", "PARTIALU", "PARTIALV", "CROSSUV", "UV", "LOOKUP", "LOOKUPPRESAMPLED"};
const unsigned COMPONENTS[] = {1, 2, 3, 4, 4, 4, 2, 4, 4, 2, 4, 2, 4, 3, 3, 2, 4};

std::string number(float f)
{
    if (f != f || f > FLT_MAX || f < -FLT_MAX) return "null";  // JSON has no NaN or infinity
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", f);
    return buf;
}

using tools::quoted;

// A 32-bit code or flag word as a JSON string.
std::string hex(DWORD v) { return quoted(tools::hex32(v)); }

std::string color(const D3DCOLORVALUE& c)
{
    std::string out = "[";
    out.append(number(c.r)).append(", ").append(number(c.g)).append(", ").append(number(c.b));
    out.append(", ").append(number(c.a)).append("]");
    return out;
}

std::string name(const char* const* names, std::size_t count, unsigned value)
{
    return value < count ? quoted(names[value]) : std::to_string(value);
}

int fail(const char* file, HRESULT hr)
{
    const mesh::LoadRefusal refusal = mesh::lastLoadRefusal();
    const xfile::Diagnostic d = xfile::lastDiagnostic();
    std::string where, reason, told;
    if (refusal.code == hr && refusal.reason != mesh::LoadReason::none) {
        // The loader's own refusal.
        told = mesh::describe(refusal.reason);
        reason = ",\n  \"reason\": " + quoted(told);
    } else if (d.code == hr) {
        if (d.place == xfile::ErrorPlace::line) where = ",\n  \"line\": " + std::to_string(d.position);
        if (d.place == xfile::ErrorPlace::offset) where = ",\n  \"offset\": " + std::to_string(d.position);
        if (!d.reason.empty()) reason = ",\n  \"reason\": " + quoted(d.reason);
        told = xfile::describe(d);
    }
    std::printf("{\n  \"file\": %s,\n  \"result\": %s%s%s\n}\n", quoted(file).c_str(), hex(DWORD(hr)).c_str(),
                where.c_str(), reason.c_str());
    std::fprintf(stderr, "xmesh-info: %s: load failed with 0x%08X%s%s\n", file, static_cast<unsigned>(hr),
                 told.empty() ? "" : ": ", told.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* file = nullptr;
    bool dump = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dump") == 0) {
            dump = true;
        } else if (argv[i][0] == '-' && argv[i][1] != 0) {
            std::fprintf(stderr, "xmesh-info: unknown option %s\nusage: xmesh-info FILE [--dump]\n", argv[i]);
            return 2;
        } else if (!file) {
            file = argv[i];
        } else {
            std::fprintf(stderr, "usage: xmesh-info FILE [--dump]\n");
            return 2;
        }
    }
    if (!file) {
        std::fprintf(stderr, "usage: xmesh-info FILE [--dump]\n");
        return 2;
    }

    com::ComPtr<IDirect3DDevice9> device;
    HRESULT hr = d3d9::recording::createRecordingDevice(nullptr, nullptr, device.put());
    if (FAILED(hr)) {
        std::fprintf(stderr, "xmesh-info: no device (0x%08X)\n", static_cast<unsigned>(hr));
        return 1;
    }
    com::ComPtr<ID3DXBuffer> materials;
    com::ComPtr<ID3DXMesh> m;
    DWORD materialCount = 0;
    hr = D3DXLoadMeshFromXA(file, D3DXMESH_SYSTEMMEM, device.get(), nullptr, materials.put(), nullptr, &materialCount,
                            m.put());
    if (FAILED(hr) || !m) return fail(file, FAILED(hr) ? hr : E_FAIL);

    D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
    m->GetDeclaration(elements);
    mesh::Declaration decl;
    mesh::copyDeclaration(elements, decl);
    const UINT stride = m->GetNumBytesPerVertex();
    const DWORD vertexCount = m->GetNumVertices();
    const DWORD faceCount = m->GetNumFaces();

    std::string out = "{\n";
    out += "  \"file\": " + quoted(file) + ",\n";
    out += "  \"result\": " + hex(DWORD(hr)) + ",\n";
    out += "  \"vertices\": " + std::to_string(vertexCount) + ",\n";
    out += "  \"faces\": " + std::to_string(faceCount) + ",\n";
    out += "  \"options\": " + hex(m->GetOptions()) + ",\n";
    out += "  \"fvf\": " + hex(m->GetFVF()) + ",\n";
    out += "  \"bytes_per_vertex\": " + std::to_string(stride) + ",\n";
    out += "  \"declaration\": [";
    for (UINT i = 0; i < decl.count; ++i) {
        const D3DVERTEXELEMENT9& e = decl.elements[i];
        out += std::string(i ? "," : "") + "\n    {\"stream\": " + std::to_string(e.Stream) +
               ", \"offset\": " + std::to_string(e.Offset) + ", \"type\": " + name(TYPE_NAMES, 17, e.Type) +
               ", \"method\": " + name(METHOD_NAMES, 7, e.Method) + ", \"usage\": " + name(USAGE_NAMES, 14, e.Usage) +
               ", \"usage_index\": " + std::to_string(e.UsageIndex) + "}";
    }
    out += decl.count ? "\n  ],\n" : "],\n";

    DWORD tableSize = 0;
    m->GetAttributeTable(nullptr, &tableSize);
    std::vector<D3DXATTRIBUTERANGE> table(tableSize);
    m->GetAttributeTable(table.data(), &tableSize);
    out += "  \"attribute_table\": [";
    for (DWORD i = 0; i < tableSize; ++i) {
        const D3DXATTRIBUTERANGE& r = table[i];
        out += std::string(i ? "," : "") + "\n    {\"id\": " + std::to_string(r.AttribId) +
               ", \"face_start\": " + std::to_string(r.FaceStart) + ", \"face_count\": " + std::to_string(r.FaceCount) +
               ", \"vertex_start\": " + std::to_string(r.VertexStart) +
               ", \"vertex_count\": " + std::to_string(r.VertexCount) + "}";
    }
    out += tableSize ? "\n  ],\n" : "],\n";

    out += "  \"materials\": [";
    const auto* records = materials ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr;
    for (DWORD i = 0; records && i < materialCount; ++i) {
        const D3DMATERIAL9& mat = records[i].MatD3D;
        out += std::string(i ? "," : "") + "\n    {\"diffuse\": " + color(mat.Diffuse) +
               ", \"ambient\": " + color(mat.Ambient) + ", \"specular\": " + color(mat.Specular) +
               ", \"emissive\": " + color(mat.Emissive) + ", \"power\": " + number(mat.Power) + ", \"texture\": " +
               (records[i].pTextureFilename ? quoted(records[i].pTextureFilename) : std::string("null")) + "}";
    }
    out += materialCount ? "\n  ],\n" : "],\n";

    void* vertexData = nullptr;
    if (FAILED(m->LockVertexBuffer(D3DLOCK_READONLY, &vertexData))) return fail(file, E_FAIL);
    const auto* bytes = static_cast<const BYTE*>(vertexData);
    const D3DVERTEXELEMENT9* position = decl.find(D3DDECLUSAGE_POSITION, 0);
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    for (DWORD v = 0; position && v < vertexCount; ++v) {
        float p[4];
        mesh::decodeElement(position->Type, bytes + std::size_t(v) * stride + position->Offset, p);
        for (int k = 0; k < 3; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    }
    if (position && vertexCount)
        out += "  \"bounding_box\": {\"min\": [" + number(lo[0]) + ", " + number(lo[1]) + ", " + number(lo[2]) +
               "], \"max\": [" + number(hi[0]) + ", " + number(hi[1]) + ", " + number(hi[2]) + "]}";
    else
        out += "  \"bounding_box\": null";

    if (dump) {
        out += ",\n  \"vertex_buffer\": [";
        for (DWORD v = 0; v < vertexCount; ++v) {
            out += std::string(v ? "," : "") + "\n    {";
            for (UINT i = 0; i < decl.count; ++i) {
                const D3DVERTEXELEMENT9& e = decl.elements[i];
                const BYTE* p = bytes + std::size_t(v) * stride + e.Offset;
                out += std::string(i ? ", " : "") + "\"" + (e.Usage < 14 ? USAGE_NAMES[e.Usage] : "USAGE") +
                       std::to_string(e.UsageIndex) + "\": ";
                if (e.Type == D3DDECLTYPE_D3DCOLOR) {
                    DWORD c;
                    std::memcpy(&c, p, 4);
                    out += hex(c);
                    continue;
                }
                float f[4];
                mesh::decodeElement(e.Type, p, f);
                out += "[";
                for (unsigned k = 0; k < COMPONENTS[e.Type]; ++k) out += (k ? ", " : "") + number(f[k]);
                out += "]";
            }
            out += "}";
        }
        out += vertexCount ? "\n  ]" : "]";
        m->UnlockVertexBuffer();

        out += ",\n  \"index_buffer\": [";
        void* indexData = nullptr;
        if (SUCCEEDED(m->LockIndexBuffer(D3DLOCK_READONLY, &indexData))) {
            const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
            for (std::size_t i = 0; i < std::size_t(faceCount) * 3; ++i) {
                std::uint32_t index;
                if (wide) {
                    std::memcpy(&index, static_cast<const BYTE*>(indexData) + i * 4, 4);
                } else {
                    std::uint16_t narrow;
                    std::memcpy(&narrow, static_cast<const BYTE*>(indexData) + i * 2, 2);
                    index = narrow;
                }
                out += (i ? (i % 3 ? ", " : ",\n    ") : "\n    ") + std::to_string(index);
            }
            m->UnlockIndexBuffer();
        }
        out += faceCount ? "\n  ],\n" : "],\n";
        out += "  \"attribute_buffer\": [";
        DWORD* attributes = nullptr;
        if (SUCCEEDED(m->LockAttributeBuffer(D3DLOCK_READONLY, &attributes))) {
            for (DWORD f = 0; f < faceCount; ++f) out += (f ? ", " : "") + std::to_string(attributes[f]);
            m->UnlockAttributeBuffer();
        }
        out += "]";
    } else {
        m->UnlockVertexBuffer();
    }
    out += "\n}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
