// What every object a device hands out shares: the kinds the device registers (so a
// pointer handed back can be checked before use), the binding count that keeps bound
// objects alive, and the device's rule for holding itself, written once in DeviceObject.
// Trusts the device to register and unregister objects and to drop its bindings before it
// dies.
#pragma once

#include "platform/com/com_object.h"
#include "platform/d3d9/d3d9.h"

#include <cstdint>
#include <utility>

namespace d3d9 {

class Device;

// What a registered object is, so a pointer handed back to the device can be checked
// before it is used (a released or foreign object is refused, never dereferenced).
enum class ObjectKind : std::uint8_t {
    Texture,
    CubeTexture,
    VolumeTexture,
    Surface,
    Volume,
    VertexBuffer,
    IndexBuffer,
    VertexDeclaration,
    StateBlock,
};

// What the device binds (textures, buffers, declarations) is held by a binding count
// beside the public references, as the platform does: a bound object stays alive, but only
// public references keep the device alive, so releasing everything the caller holds frees
// the device even while its state still names the objects.
class Bindable {
public:
    virtual void bindAdd() = 0;
    virtual void bindRelease() = 0;

protected:
    ~Bindable() = default;
};

template <class T>
class BindPtr {
public:
    BindPtr() = default;
    BindPtr(T* object, Bindable* binding) : object_(object), binding_(object ? binding : nullptr)
    {
        if (binding_)
            binding_->bindAdd();
    }
    BindPtr(const BindPtr& other) : BindPtr(other.object_, other.binding_) {}
    ~BindPtr() { reset(); }
    BindPtr& operator=(const BindPtr& other)
    {
        if (this != &other) {
            BindPtr copy(other);
            std::swap(object_, copy.object_);
            std::swap(binding_, copy.binding_);
        }
        return *this;
    }
    void reset()
    {
        Bindable* b = std::exchange(binding_, nullptr);
        object_ = nullptr;
        if (b)
            b->bindRelease();
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
    Bindable* binding_ = nullptr;
};

// An object of a device. While it has public references it holds one reference to the
// device; at zero it gives that back, and is deleted once nothing binds it either. Handed
// out again from zero (GetTexture, GetIndices ...) it takes the device again. A part of
// another object (a texture's level) shares its owner's references and holds nothing.
// Defined in d3d9_resources.cpp, for the interface lists instantiated there.
template <class Interface, const IID&... Ids>
class DeviceObject : public com::ComObject<Interface, Ids...>, public Bindable {
public:
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    void bindAdd() override { ++binds_; }
    void bindRelease() override;
    // Objects the device keeps for itself hold no reference to it (it would never die).
    void makeInternal();

protected:
    DeviceObject(Device* device, ObjectKind kind, IUnknown* owner = nullptr);
    ~DeviceObject() override;
    void lastReferenceReleased() override;
    void referenceRegained() override;

    Device* device_;

private:
    std::uint32_t binds_ = 0;
    bool deviceHeld_;
    bool internal_ = false;
};

}  // namespace d3d9
