// Why D3DXLoadMeshFromXA refused a file, for tools and tests that want to tell a person more
// than a result code. One list holds every reason the loader itself gives, each with the
// result code it returns for it; the loader keeps the last refusal of the calling thread,
// as the X-file parser keeps its last diagnostic (platform/xfile/xfile_diagnostics.h).
#pragma once

#include "mesh/d3dx_mesh.h"

namespace mesh {

// X(name, result code, what was wrong)
#define CITYDRIVE_MESH_LOAD_REASONS(X)                                                                              \
    X(none, S_OK, "")                                                                                               \
    X(noArguments, D3DERR_INVALIDCALL, "no file name or no place for the mesh")                                     \
    X(noParser, E_FAIL, "the X-file parser gave no object")                                                         \
    X(noMesh, E_FAIL, "the file holds no mesh with a triangle")                                                     \
    X(untypedObject, E_FAIL, "a data object has no template")                                                       \
    X(unresolvedReference, E_FAIL, "a reference names no data object")                                              \
    X(childNotData, E_FAIL, "a child is neither a data object nor a reference")                                     \
    X(framesTooDeep, E_FAIL, "frames nest too deep")                                                                \
    X(matrixCutShort, E_FAIL, "a FrameTransformMatrix holds fewer than 16 floats")                                  \
    X(vertexCountPastData, E_FAIL, "the Mesh claims more vertices than its data holds")                             \
    X(faceCountPastData, E_FAIL, "the Mesh claims more faces than its data holds")                                  \
    X(faceTooSmall, E_FAIL, "a face has fewer than three indices")                                                  \
    X(faceCutShort, E_FAIL, "a face claims more indices than the Mesh data holds")                                  \
    X(dataAfterFaces, E_FAIL, "the Mesh data goes on after its last face")                                          \
    X(meshWithoutData, D3DXERR_LOADEDMESHASNODATA, "a Mesh has no vertices or no faces")                            \
    X(tooManyTriangles, E_FAIL, "the faces make more triangles than a mesh holds")                                  \
    X(faceIndexPastVertices, E_FAIL, "a face names a vertex past the last one")                                     \
    X(noTriangleKept, D3DXERR_LOADEDMESHASNODATA, "every triangle of a Mesh is degenerate")                         \
    X(texcoordsNotPerVertex, E_FAIL, "MeshTextureCoords does not hold one pair for each vertex")                    \
    X(colorsCutShort, E_FAIL, "MeshVertexColors claims more entries than its data holds")                           \
    X(colorVertexPastVertices, E_FAIL, "a MeshVertexColors entry names a vertex past the last one")                 \
    X(normalsCutShort, E_FAIL, "MeshNormals claims more normals than its data holds")                               \
    X(normalFaceCount, E_FAIL, "MeshNormals has another number of faces than the Mesh")                             \
    X(normalFaceShape, E_FAIL, "a MeshNormals face has another size than the Mesh's face, or is cut short")        \
    X(normalIndexPastNormals, E_FAIL, "a MeshNormals face names a normal past the last one")                        \
    X(duplicationCutShort, E_FAIL, "VertexDuplicationIndices claims more than its data holds")                      \
    X(duplicationCount, D3DERR_INVALIDCALL, "VertexDuplicationIndices counts other vertices than the Mesh")         \
    X(duplicationPastVertices, E_FAIL, "a duplication index names a vertex past the last one")                      \
    X(duplicationOfDuplicate, D3DERR_INVALIDCALL, "a duplication index names a vertex that is itself a duplicate") \
    X(adjacencyCutShort, E_FAIL, "FaceAdjacency claims more entries than its data holds")                           \
    X(adjacencyCount, D3DERR_INVALIDCALL, "FaceAdjacency does not hold three entries for each triangle")            \
    X(fvfDataCutShort, E_FAIL, "FVFData claims more words than its data holds")                                     \
    X(declDataCutShort, E_FAIL, "DeclData claims more than its data holds")                                         \
    X(declDataElementCount, D3DERR_INVALIDCALL, "DeclData lists no element, or more than a declaration holds")      \
    X(declDataTooFewWords, D3DERR_INVALIDCALL, "DeclData holds fewer words than its vertices need")                 \
    X(tooManyTextureSets, D3DERR_INVALIDCALL, "the vertex format has no room for the texture coordinates")          \
    X(fvfDataFormat, D3DERR_INVALIDCALL, "FVFData's code is no vertex format")                                      \
    X(declDataClash, D3DERR_INVALIDCALL, "DeclData repeats an element of the vertex format or makes it too long")   \
    X(declarationInvalid, D3DERR_INVALIDCALL, "the vertex format and DeclData make no valid declaration")           \
    X(effectCutShort, E_FAIL, "an EffectInstance or one of its parameters is cut short")                            \
    X(materialCutShort, E_FAIL, "a Material holds fewer than 11 floats")                                            \
    X(textureNameCutShort, E_FAIL, "a TextureFilename holds no string")                                             \
    X(materialListCutShort, E_FAIL, "MeshMaterialList claims more face indices than its data holds")                \
    X(materialListPastFaces, E_FAIL, "MeshMaterialList gives materials to more faces than the Mesh has")            \
    X(materialIndexPastList, E_FAIL, "a face names a material past the list")                                       \
    X(tooManyMaterials, D3DERR_INVALIDCALL, "MeshMaterialList holds more Materials than it counts")                 \
    X(tooFewMaterials, E_FAIL, "MeshMaterialList holds fewer Materials than it counts")

enum class LoadReason {
#define CITYDRIVE_REASON_NAME(name, code, text) name,
    CITYDRIVE_MESH_LOAD_REASONS(CITYDRIVE_REASON_NAME)
#undef CITYDRIVE_REASON_NAME
};

// The result code the loader returns for `reason`, and what the reason says.
HRESULT codeOf(LoadReason reason);
const char* describe(LoadReason reason);
// The reason's name in the list ("faceIndexPastVertices"), for tests and logs.
const char* nameOf(LoadReason reason);

struct LoadRefusal {
    HRESULT code = S_OK;
    // none when the load succeeded, or when the code came from another part (the parser,
    // the device, memory): then the parser's last diagnostic may say more.
    LoadReason reason = LoadReason::none;
};

// The outcome of the last D3DXLoadMeshFromXA on this thread.
LoadRefusal lastLoadRefusal();

// For the loader's parts: records `reason` as this thread's last refusal and returns its code.
HRESULT refuseLoad(LoadReason reason);

}  // namespace mesh
