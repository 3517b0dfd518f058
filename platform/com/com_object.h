// The one reference-counted base of every interface object in the tree. An object names
// the interface it implements and the interface ids it answers to; the base supplies
// AddRef, Release and QueryInterface. Counts start at 1 (the creator's reference) and are
// atomic, since a test or a worker may release from another thread. An object that is a
// part of another (a texture's level) takes the owner's count instead of its own.
#pragma once

#include "platform/win32/win32.h"

#include <atomic>

namespace com {

// Interface is the most derived interface of a single-inheritance chain ending in
// IUnknown; Ids are the ids of that chain (IID_IUnknown is always answered), so every id
// hands out the same pointer.
template <class Interface, const IID&... Ids>
class ComObject : public Interface {
public:
    ComObject() = default;
    // A part lives exactly as long as its owner: its references are the owner's.
    explicit ComObject(IUnknown* owner) : owner_(owner) {}
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Ids) || ...)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override
    {
        if (owner_)
            return owner_->AddRef();
        const ULONG count = references_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (count == 1)
            referenceRegained();
        return count;
    }
    ULONG Release() override
    {
        if (owner_)
            return owner_->Release();
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            lastReferenceReleased();
        return left;
    }

    // The public count, for tests and for objects whose lifetime has a second owner.
    ULONG referenceCount() const { return references_.load(std::memory_order_acquire); }

protected:
    virtual ~ComObject() = default;
    // Called once the public count reaches zero. Objects that something else may still
    // hold (a device's bindings) override this to defer their deletion.
    virtual void lastReferenceReleased() { delete this; }
    // Called when such a deferred object is handed out again from a count of zero.
    virtual void referenceRegained() {}

private:
    IUnknown* owner_ = nullptr;
    std::atomic<ULONG> references_{1};
};

}  // namespace com
