// Small helpers shared by the device's objects: a reference-holding pointer for interface
// objects, and the reference count that every object of this module starts at 1.
#pragma once

#include "platform/win32/win32.h"

#include <atomic>
#include <utility>

namespace d3d9 {

// Holds one reference to a COM-style object; copying adds one, destruction releases one.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* object) : object_(object)  // adds a reference
    {
        if (object_)
            object_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.object_) {}
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(const ComPtr& other)
    {
        if (object_ != other.object_) {
            T* old = object_;
            object_ = other.object_;
            if (object_)
                object_->AddRef();
            if (old)
                old->Release();
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    // Takes over a reference the caller already owns.
    static ComPtr adopt(T* object)
    {
        ComPtr p;
        p.object_ = object;
        return p;
    }
    void reset()
    {
        if (T* old = std::exchange(object_, nullptr))
            old->Release();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to an out pointer of an interface call.
    T* detach() { return std::exchange(object_, nullptr); }

private:
    T* object_ = nullptr;
};

// Single-threaded devices still count atomically: a test may release from another thread.
class RefCount {
public:
    ULONG add() { return ++count_; }
    ULONG release() { return --count_; }
    ULONG value() const { return count_; }

private:
    std::atomic<ULONG> count_{1};
};

}  // namespace d3d9

namespace d3d9 {

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

}  // namespace d3d9
