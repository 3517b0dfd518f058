// The X-file parser library: our own declarations of the interfaces the mesh loader and the
// tools use to read X files (text, binary and their MSZIP-compressed forms). The library is
// linked into the program and found at run time as module "d3dxof.dll", export
// "DirectXFileCreate", through LoadLibraryA / GetProcAddress (see platform/win32).
//
// Conventions of the data handed out:
// - GetData gives the object's members packed (no padding) in template member order, each
//   in its natural size: DWORD / SDWORD 32-bit words, WORD / SWORD 16 bits, CHAR / UCHAR /
//   BYTE 8 bits, FLOAT 32-bit floats (64-bit float files are narrowed to 32 bits), DOUBLE
//   64-bit; arrays and nested template members inline; strings (STRING, CSTRING, UNICODE) as
//   pointers to zero-terminated 8-bit strings that live as long as the data object. The
//   block starts 16-byte aligned; members after a 16- or 8-bit one may be unaligned, so read
//   them with memcpy. The standard templates the mesh loader reads hold only DWORDs, FLOATs
//   and strings: a block of 32-bit words and pointers.
// - Every object is reference counted, starting at 1; the caller releases what it obtains.
// - No exception crosses these interfaces; results are HRESULT codes.
#pragma once

#include "platform/win32/win32.h"

// ---- Options and small records ------------------------------------------------------------
using DXFILEFORMAT = DWORD;
inline constexpr DXFILEFORMAT DXFILEFORMAT_BINARY = 0;
inline constexpr DXFILEFORMAT DXFILEFORMAT_TEXT = 1;
inline constexpr DXFILEFORMAT DXFILEFORMAT_COMPRESSED = 2;

using DXFILELOADOPTIONS = DWORD;
inline constexpr DXFILELOADOPTIONS DXFILELOAD_FROMFILE = 0x00;
inline constexpr DXFILELOADOPTIONS DXFILELOAD_FROMRESOURCE = 0x01;
inline constexpr DXFILELOADOPTIONS DXFILELOAD_FROMMEMORY = 0x02;
inline constexpr DXFILELOADOPTIONS DXFILELOAD_FROMSTREAM = 0x04;
inline constexpr DXFILELOADOPTIONS DXFILELOAD_FROMURL = 0x08;

// Source of CreateEnumObject with DXFILELOAD_FROMMEMORY. The bytes must stay valid until
// CreateEnumObject returns; everything handed out later is owned by the parser's objects.
struct DXFILELOADMEMORY {
    LPVOID lpMemory;
    DWORD dSize;
};

// Source of CreateEnumObject with DXFILELOAD_FROMRESOURCE. Programs on this platform carry
// no resource sections, so such a load reports DXFILEERR_RESOURCENOTFOUND.
struct DXFILELOADRESOURCE {
    HMODULE hModule;
    LPCSTR lpName;
    LPCSTR lpType;
};

// ---- Result codes (facility 0x876) --------------------------------------------------------
inline constexpr HRESULT DXFILE_OK = 0;
inline constexpr HRESULT DXFILEERR_BADOBJECT = makeHresult(0x88760352u);
inline constexpr HRESULT DXFILEERR_BADVALUE = makeHresult(0x88760353u);
inline constexpr HRESULT DXFILEERR_BADTYPE = makeHresult(0x88760354u);
inline constexpr HRESULT DXFILEERR_BADSTREAMHANDLE = makeHresult(0x88760355u);
inline constexpr HRESULT DXFILEERR_BADALLOC = makeHresult(0x88760356u);
inline constexpr HRESULT DXFILEERR_NOTFOUND = makeHresult(0x88760357u);
inline constexpr HRESULT DXFILEERR_NOTDONEYET = makeHresult(0x88760358u);
inline constexpr HRESULT DXFILEERR_FILENOTFOUND = makeHresult(0x88760359u);
inline constexpr HRESULT DXFILEERR_RESOURCENOTFOUND = makeHresult(0x8876035Au);
inline constexpr HRESULT DXFILEERR_URLNOTFOUND = makeHresult(0x8876035Bu);
inline constexpr HRESULT DXFILEERR_BADRESOURCE = makeHresult(0x8876035Cu);
inline constexpr HRESULT DXFILEERR_BADFILETYPE = makeHresult(0x8876035Du);
inline constexpr HRESULT DXFILEERR_BADFILEVERSION = makeHresult(0x8876035Eu);
inline constexpr HRESULT DXFILEERR_BADFILEFLOATSIZE = makeHresult(0x8876035Fu);
inline constexpr HRESULT DXFILEERR_BADFILECOMPRESSIONTYPE = makeHresult(0x88760360u);
inline constexpr HRESULT DXFILEERR_BADFILE = makeHresult(0x88760361u);
inline constexpr HRESULT DXFILEERR_PARSEERROR = makeHresult(0x88760362u);
inline constexpr HRESULT DXFILEERR_NOTEMPLATE = makeHresult(0x88760363u);
inline constexpr HRESULT DXFILEERR_BADARRAYSIZE = makeHresult(0x88760364u);
inline constexpr HRESULT DXFILEERR_BADDATAREFERENCE = makeHresult(0x88760365u);
inline constexpr HRESULT DXFILEERR_INTERNALERROR = makeHresult(0x88760366u);
inline constexpr HRESULT DXFILEERR_NOMOREOBJECTS = makeHresult(0x88760367u);
inline constexpr HRESULT DXFILEERR_BADINTRINSICS = makeHresult(0x88760368u);
inline constexpr HRESULT DXFILEERR_NOMORESTREAMHANDLES = makeHresult(0x88760369u);
inline constexpr HRESULT DXFILEERR_NOMOREDATA = makeHresult(0x8876036Au);
inline constexpr HRESULT DXFILEERR_BADCACHEFILE = makeHresult(0x8876036Bu);
inline constexpr HRESULT DXFILEERR_NOINTERNET = makeHresult(0x8876036Cu);

// ---- Interface identities -----------------------------------------------------------------
// {3D82AB40-62DA-11CF-AB39-0020AF71E433} and the following numbers.
inline constexpr IID IID_IDirectXFile = {0x3D82AB40, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileEnumObject = {0x3D82AB41, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileSaveObject = {0x3D82AB42, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileObject = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileData = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileDataReference = {0x3D82AB45, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileBinary = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {4516EC43-8F20-11D0-9B6D-0000C0781BC3}
inline constexpr CLSID CLSID_CDirectXFile = {0x4516EC43, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
// The Header template that every file may carry: {3D82AB43-62DA-11CF-AB39-0020AF71E433}.
inline constexpr GUID TID_DXFILEHeader = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};

// ---- Interfaces (slot order fixed) --------------------------------------------------------
struct IDirectXFileEnumObject;
struct IDirectXFileSaveObject;
struct IDirectXFileObject;
struct IDirectXFileData;
struct IDirectXFileDataReference;
struct IDirectXFileBinary;

// The parser object given by DirectXFileCreate.
struct IDirectXFile : IUnknown {
    // Opens a file (source = 8-bit path, DXFILELOAD_FROMFILE) or a block of memory (source =
    // DXFILELOADMEMORY*, DXFILELOAD_FROMMEMORY) and parses it completely: templates of the
    // file are checked and kept, data objects are checked against their templates. Names of
    // templates and members match without regard to letter case; objects of templates that
    // are neither registered nor in the file are skipped (with references to them). An
    // object's members come first, its children after them. Fails
    // with DXFILEERR_FILENOTFOUND, DXFILEERR_BADFILETYPE / BADFILEVERSION / BADFILEFLOATSIZE /
    // BADFILECOMPRESSIONTYPE (header), DXFILEERR_PARSEERROR, DXFILEERR_NOTEMPLATE,
    // DXFILEERR_BADARRAYSIZE, DXFILEERR_BADDATAREFERENCE, DXFILEERR_BADFILE (truncated or
    // lying input), DXFILEERR_BADALLOC.
    virtual HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options, IDirectXFileEnumObject** enumObject) = 0;
    // Writing X files is not offered: E_NOTIMPL.
    virtual HRESULT CreateSaveObject(LPCSTR fileName, DXFILEFORMAT format, IDirectXFileSaveObject** saveObject) = 0;
    // Adds the templates of a whole X file (any encoding) held in memory. Data objects in
    // the block are ignored. Templates registered here serve every later CreateEnumObject.
    virtual HRESULT RegisterTemplates(LPVOID data, DWORD size) = 0;

protected:
    ~IDirectXFile() = default;
};

// The top-level data objects of one opened file, in file order.
struct IDirectXFileEnumObject : IUnknown {
    // The next top-level data object; DXFILEERR_NOMOREOBJECTS after the last one.
    virtual HRESULT GetNextDataObject(IDirectXFileData** data) = 0;
    // Searches every data object of the file (top level and nested) for the first one with
    // this GUID / this name (names match exactly, with letter case). DXFILEERR_NOTFOUND.
    virtual HRESULT GetDataObjectById(REFGUID id, IDirectXFileData** data) = 0;
    virtual HRESULT GetDataObjectByName(LPCSTR name, IDirectXFileData** data) = 0;

protected:
    ~IDirectXFileEnumObject() = default;
};

// Not implemented by this library; declared so the slot layout of IDirectXFile is complete.
struct IDirectXFileSaveObject : IUnknown {
    virtual HRESULT SaveTemplates(DWORD count, const GUID** templates) = 0;
    virtual HRESULT CreateDataObject(REFGUID templateId, LPCSTR name, const GUID* id, DWORD size, LPVOID data,
                                     IDirectXFileData** object) = 0;
    virtual HRESULT SaveData(IDirectXFileData* object) = 0;

protected:
    ~IDirectXFileSaveObject() = default;
};

// What data objects, references and binary objects have in common.
struct IDirectXFileObject : IUnknown {
    // Copies the name with its terminating zero. With a null buffer, *length receives the
    // size needed (0 for an unnamed object). A buffer smaller than that: DXFILEERR_BADVALUE.
    virtual HRESULT GetName(LPSTR buffer, DWORD* length) = 0;
    // The object's GUID, or all zeros when it has none.
    virtual HRESULT GetId(GUID* id) = 0;

protected:
    ~IDirectXFileObject() = default;
};

struct IDirectXFileData : IDirectXFileObject {
    // member null: the whole object's data (see the conventions at the top) and its size in
    // bytes. member named: that top-level member's part of the data (name matched without
    // regard to letter case); DXFILEERR_BADDATAREFERENCE when the template has no such member.
    virtual HRESULT GetData(LPCSTR member, DWORD* size, void** data) = 0;
    // Pointer to the template GUID, valid as long as the object.
    virtual HRESULT GetType(const GUID** type) = 0;
    // Children in file order: embedded data objects (IDirectXFileData), references
    // (IDirectXFileDataReference) and binary objects (IDirectXFileBinary), each also
    // answering IDirectXFileObject. DXFILEERR_NOMOREOBJECTS after the last one.
    virtual HRESULT GetNextObject(IDirectXFileObject** child) = 0;
    // Building objects for saving is not offered: E_NOTIMPL.
    virtual HRESULT AddDataObject(IDirectXFileData* object) = 0;
    virtual HRESULT AddDataReference(LPCSTR name, const GUID* id) = 0;
    virtual HRESULT AddBinaryObject(LPCSTR name, const GUID* id, LPCSTR mimeType, LPVOID data, DWORD size) = 0;

protected:
    ~IDirectXFileData() = default;
};

// A child written as { name } or { guid } or { name guid }: names another data object.
// GetName and GetId give the name and GUID of the object referred to.
struct IDirectXFileDataReference : IDirectXFileObject {
    // The named data object (a new reference to it); DXFILEERR_BADDATAREFERENCE is reported
    // already by CreateEnumObject, so Resolve on a parsed file does not fail.
    virtual HRESULT Resolve(IDirectXFileData** data) = 0;

protected:
    ~IDirectXFileDataReference() = default;
};

// A binary child. Never produced by files this parser reads (the format's binary objects
// are not written by the exporters we meet), declared for completeness.
struct IDirectXFileBinary : IDirectXFileObject {
    virtual HRESULT GetSize(DWORD* size) = 0;
    virtual HRESULT GetMimeType(LPCSTR* mimeType) = 0;
    virtual HRESULT Read(LPVOID buffer, DWORD size, DWORD* read) = 0;

protected:
    ~IDirectXFileBinary() = default;
};

using LPDIRECTXFILE = IDirectXFile*;
using LPDIRECTXFILEENUMOBJECT = IDirectXFileEnumObject*;
using LPDIRECTXFILESAVEOBJECT = IDirectXFileSaveObject*;
using LPDIRECTXFILEOBJECT = IDirectXFileObject*;
using LPDIRECTXFILEDATA = IDirectXFileData*;
using LPDIRECTXFILEDATAREFERENCE = IDirectXFileDataReference*;
using LPDIRECTXFILEBINARY = IDirectXFileBinary*;

// Creates a parser object (reference count 1). E_POINTER for a null out, E_OUTOFMEMORY.
// Reached by programs through module "d3dxof.dll", export "DirectXFileCreate".
extern "C" HRESULT DirectXFileCreate(IDirectXFile** out);
using PFN_DirectXFileCreate = HRESULT (*)(IDirectXFile**);
