// A small owning pointer for reference-counted interface objects: holds one reference and
// releases it when it goes out of scope.
#pragma once

#include <utility>

namespace mesh {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    // Adopts a reference the caller already owns.
    explicit ComPtr(T* adopted) : ptr_(adopted) {}
    ComPtr(const ComPtr& other) : ptr_(other.ptr_)
    {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    // A new reference to an object someone else owns.
    static ComPtr share(T* object)
    {
        if (object) object->AddRef();
        return ComPtr(object);
    }

    void reset()
    {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    // Releases the held object and gives the slot to an out parameter.
    T** put()
    {
        reset();
        return &ptr_;
    }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(ptr_, nullptr); }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    T* ptr_ = nullptr;
};

}  // namespace mesh
