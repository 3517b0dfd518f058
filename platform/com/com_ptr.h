// The one reference-holding pointer for interface objects. Taking a pointer is always
// explicit: adopt() takes over a reference the caller owns (what a Create call hands out),
// share() adds one of its own; put() receives an interface call's out parameter.
#pragma once

#include <cstddef>
#include <utility>

namespace com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : object_(other.object_)
    {
        if (object_)
            object_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }

    static ComPtr adopt(T* object)
    {
        ComPtr p;
        p.object_ = object;
        return p;
    }
    static ComPtr share(T* object)
    {
        if (object)
            object->AddRef();
        return adopt(object);
    }

    void reset()
    {
        if (T* old = std::exchange(object_, nullptr))
            old->Release();
    }
    // Releases what is held and lends the slot to an out parameter, which fills it with a
    // reference this pointer then owns.
    T** put()
    {
        reset();
        return &object_;
    }
    // Hands the reference to the caller (an out parameter of an interface call).
    T* detach() { return std::exchange(object_, nullptr); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.object_ == b.object_; }

private:
    T* object_ = nullptr;
};

}  // namespace com
