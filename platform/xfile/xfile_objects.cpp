// The COM face of the parser: the parser object, its enumerator, data objects and
// references. Each is a small view (a shared FileModel and an index) with its own count
// (the one COM base, atomic, since the loader may release from another thread);
// the model lives as long as any view of it.
#include "platform/com/com_object.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_parser.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <new>

namespace xfile {
namespace {

using ModelPtr = std::shared_ptr<const FileModel>;

HRESULT copyName(const char* name, bool hasName, LPSTR buffer, DWORD* length)
{
    if (!length) return DXFILEERR_BADVALUE;
    const std::size_t needed = hasName ? std::strlen(name) + 1 : 0;
    if (!buffer) {
        *length = static_cast<DWORD>(needed);
        return DXFILE_OK;
    }
    if (*length < needed) return DXFILEERR_BADVALUE;
    if (needed == 0) {
        if (*length > 0) buffer[0] = '\0';
    } else {
        std::memcpy(buffer, name, needed);
    }
    *length = static_cast<DWORD>(needed);
    return DXFILE_OK;
}

class DataObject final : public com::ComObject<IDirectXFileData, IID_IDirectXFileObject, IID_IDirectXFileData> {
public:
    DataObject(ModelPtr model, std::uint32_t node) : model_(std::move(model)), node_(node) {}


    HRESULT GetName(LPSTR buffer, DWORD* length) override
    {
        const Node& n = node();
        return copyName(model_->nameOf(n), n.hasName, buffer, length);
    }

    HRESULT GetId(GUID* id) override
    {
        if (!id) return DXFILEERR_BADVALUE;
        *id = node().hasId ? node().id : GUID{};
        return DXFILE_OK;
    }

    HRESULT GetData(LPCSTR member, DWORD* size, void** data) override
    {
        if (!size || !data) return DXFILEERR_BADVALUE;
        const Node& n = node();
        const std::uint8_t* base = model_->dataOf(n);
        if (!member) {
            *size = static_cast<DWORD>(n.dataSize);
            *data = const_cast<std::uint8_t*>(base);
            return DXFILE_OK;
        }
        std::size_t offset = 0;
        std::size_t bytes = 0;
        if (!findMember(*model_, n, member, offset, bytes)) return DXFILEERR_BADDATAREFERENCE;
        *size = static_cast<DWORD>(bytes);
        *data = const_cast<std::uint8_t*>(base + offset);
        return DXFILE_OK;
    }

    HRESULT GetType(const GUID** type) override
    {
        if (!type) return DXFILEERR_BADVALUE;
        *type = &node().type->id;
        return DXFILE_OK;
    }

    HRESULT GetNextObject(IDirectXFileObject** child) override;

    HRESULT AddDataObject(IDirectXFileData*) override { return E_NOTIMPL; }
    HRESULT AddDataReference(LPCSTR, const GUID*) override { return E_NOTIMPL; }
    HRESULT AddBinaryObject(LPCSTR, const GUID*, LPCSTR, LPVOID, DWORD) override { return E_NOTIMPL; }

private:
    const Node& node() const { return model_->nodes[node_]; }

    ModelPtr model_;
    std::uint32_t node_;
    std::uint32_t nextChild_ = 0;
};

class Reference final
    : public com::ComObject<IDirectXFileDataReference, IID_IDirectXFileObject, IID_IDirectXFileDataReference> {
public:
    Reference(ModelPtr model, std::uint32_t target) : model_(std::move(model)), target_(target) {}


    // Name and id of the object referred to.
    HRESULT GetName(LPSTR buffer, DWORD* length) override
    {
        const Node& n = model_->nodes[target_];
        return copyName(model_->nameOf(n), n.hasName, buffer, length);
    }

    HRESULT GetId(GUID* id) override
    {
        if (!id) return DXFILEERR_BADVALUE;
        const Node& n = model_->nodes[target_];
        *id = n.hasId ? n.id : GUID{};
        return DXFILE_OK;
    }

    HRESULT Resolve(IDirectXFileData** data) override
    {
        if (!data) return DXFILEERR_BADVALUE;
        *data = new (std::nothrow) DataObject(model_, target_);
        return *data ? DXFILE_OK : DXFILEERR_BADALLOC;
    }

private:
    ModelPtr model_;
    std::uint32_t target_;
};

HRESULT DataObject::GetNextObject(IDirectXFileObject** child)
{
    if (!child) return DXFILEERR_BADVALUE;
    *child = nullptr;
    const Node& n = node();
    if (nextChild_ >= n.childCount) return DXFILEERR_NOMOREOBJECTS;
    const Child& c = model_->children[n.firstChild + nextChild_];
    IDirectXFileObject* made = nullptr;
    if (c.isReference) {
        made = new (std::nothrow) Reference(model_, c.node);
    } else {
        made = new (std::nothrow) DataObject(model_, c.node);
    }
    if (!made) return DXFILEERR_BADALLOC;
    ++nextChild_;
    *child = made;
    return DXFILE_OK;
}

class EnumObject final : public com::ComObject<IDirectXFileEnumObject, IID_IDirectXFileEnumObject> {
public:
    explicit EnumObject(ModelPtr model) : model_(std::move(model)) {}


    HRESULT GetNextDataObject(IDirectXFileData** data) override
    {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        if (next_ >= model_->topLevel.size()) return DXFILEERR_NOMOREOBJECTS;
        *data = new (std::nothrow) DataObject(model_, model_->topLevel[next_]);
        if (!*data) return DXFILEERR_BADALLOC;
        ++next_;
        return DXFILE_OK;
    }

    HRESULT GetDataObjectById(REFGUID id, IDirectXFileData** data) override
    {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        for (std::uint32_t i = 0; i < model_->nodes.size(); ++i) {
            const Node& n = model_->nodes[i];
            if (n.hasId && n.id == id) return make(i, data);
        }
        return DXFILEERR_NOTFOUND;
    }

    HRESULT GetDataObjectByName(LPCSTR name, IDirectXFileData** data) override
    {
        if (!data || !name) return DXFILEERR_BADVALUE;
        *data = nullptr;
        for (std::uint32_t i = 0; i < model_->nodes.size(); ++i) {
            const Node& n = model_->nodes[i];
            if (n.hasName && std::strcmp(model_->nameOf(n), name) == 0) return make(i, data);
        }
        return DXFILEERR_NOTFOUND;
    }

private:
    HRESULT make(std::uint32_t node, IDirectXFileData** data)
    {
        *data = new (std::nothrow) DataObject(model_, node);
        return *data ? DXFILE_OK : DXFILEERR_BADALLOC;
    }

    ModelPtr model_;
    std::uint32_t next_ = 0;
};

// The bytes of a file, mapped when possible (large meshes), read otherwise.
class FileBytes {
public:
    ~FileBytes()
    {
        if (mapped_) munmap(mapped_, size_);
    }

    HRESULT open(const char* path)
    {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return DXFILEERR_FILENOTFOUND;
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return DXFILEERR_FILENOTFOUND;
        }
        size_ = static_cast<std::size_t>(info.st_size);
        if (size_ > 0) {
            // Populated up front: the parser reads every byte once, front to back.
            void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (p != MAP_FAILED) {
                mapped_ = p;
                ::close(fd);
                return DXFILE_OK;
            }
            try {
                copy_.resize(size_);
            } catch (const std::bad_alloc&) {
                ::close(fd);
                return DXFILEERR_BADALLOC;
            }
            std::size_t done = 0;
            while (done < size_) {
                const ssize_t n = ::read(fd, copy_.data() + done, size_ - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            copy_.resize(done);
            size_ = done;
        }
        ::close(fd);
        return DXFILE_OK;
    }

    std::span<const std::uint8_t> bytes() const
    {
        if (mapped_) return {static_cast<const std::uint8_t*>(mapped_), size_};
        return {copy_.data(), copy_.size()};
    }

private:
    void* mapped_ = nullptr;
    std::size_t size_ = 0;
    std::vector<std::uint8_t> copy_;
};

class ParserObject final : public com::ComObject<IDirectXFile, IID_IDirectXFile> {
public:

    HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options, IDirectXFileEnumObject** enumObject) override
    {
        if (!enumObject) return DXFILEERR_BADVALUE;
        *enumObject = nullptr;
        if (!source) return report(DXFILEERR_BADVALUE, "no source given");
        FileBytes file;
        std::span<const std::uint8_t> bytes;
        switch (options & 0x0F) {
        case DXFILELOAD_FROMFILE: {
            const HRESULT hr = file.open(static_cast<const char*>(source));
            if (FAILED(hr)) return report(hr, hr == DXFILEERR_FILENOTFOUND ? "file not found" : "out of memory");
            bytes = file.bytes();
            break;
        }
        case DXFILELOAD_FROMMEMORY: {
            const auto* memory = static_cast<const DXFILELOADMEMORY*>(source);
            if (!memory->lpMemory && memory->dSize > 0) return report(DXFILEERR_BADVALUE, "no memory given");
            bytes = {static_cast<const std::uint8_t*>(memory->lpMemory), memory->dSize};
            break;
        }
        case DXFILELOAD_FROMRESOURCE:
            return report(DXFILEERR_RESOURCENOTFOUND, "programs here carry no resources");
        case DXFILELOAD_FROMURL:
            return report(DXFILEERR_URLNOTFOUND, "loading from a URL is not offered");
        default:
            return report(DXFILEERR_BADVALUE, "unknown load option");
        }
        try {
            auto model = std::make_shared<FileModel>();
            Diagnostic diagnostic;
            const HRESULT hr = parseFile(bytes, templates_, *model, nullptr, diagnostic);
            setLastDiagnostic(diagnostic);
            if (FAILED(hr)) return hr;
            *enumObject = new EnumObject(std::move(model));
            return DXFILE_OK;
        } catch (const std::bad_alloc&) {
            return report(DXFILEERR_BADALLOC, "out of memory");
        }
    }

    HRESULT CreateSaveObject(LPCSTR, DXFILEFORMAT, IDirectXFileSaveObject** saveObject) override
    {
        if (saveObject) *saveObject = nullptr;
        return E_NOTIMPL;
    }

    HRESULT RegisterTemplates(LPVOID data, DWORD size) override
    {
        if (!data || size == 0) return report(DXFILEERR_BADVALUE, "no template block given");
        try {
            // Parse into a copy so a failing block leaves the registered set as it was.
            TemplateSet updated = templates_;
            Diagnostic diagnostic;
            const HRESULT hr = parseTemplates({static_cast<const std::uint8_t*>(data), size}, updated, diagnostic);
            setLastDiagnostic(diagnostic);
            if (FAILED(hr)) return hr;
            templates_ = std::move(updated);
            return DXFILE_OK;
        } catch (const std::bad_alloc&) {
            return report(DXFILEERR_BADALLOC, "out of memory");
        }
    }

private:
    static HRESULT report(HRESULT code, const char* reason)
    {
        setLastDiagnostic(Diagnostic{code, reason, ErrorPlace::none, 0});
        return code;
    }

    TemplateSet templates_;
};

}  // namespace
}  // namespace xfile

extern "C" HRESULT DirectXFileCreate(IDirectXFile** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) xfile::ParserObject();
    return *out ? S_OK : E_OUTOFMEMORY;
}
