// The loader's former spelling of com::ComPtr, kept only while its files still use it: a
// raw pointer given to the constructor is adopted. Everything else names com::ComPtr.
#pragma once

#include "platform/com/com_ptr.h"

#include <utility>

namespace mesh {

template <typename T>
class ComPtr : public com::ComPtr<T> {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : com::ComPtr<T>(com::ComPtr<T>::adopt(adopted)) {}
    ComPtr(com::ComPtr<T> other) : com::ComPtr<T>(std::move(other)) {}
    static ComPtr share(T* object) { return ComPtr(com::ComPtr<T>::share(object)); }
};

}  // namespace mesh
