#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

inline constexpr IID IID_IThing = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr IID IID_IOther = {0x4321, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};

struct IThing : IUnknown {
    virtual int value() = 0;
};

int g_deleted = 0;

class Thing final : public com::ComObject<IThing, IID_IThing> {
public:
    int value() override { return 7; }

private:
    ~Thing() override { ++g_deleted; }
};

TEST(ComObject, CountsFromOneAndDeletesAtZero)
{
    g_deleted = 0;
    auto* thing = new Thing;
    EXPECT_EQ(thing->AddRef(), 2u);
    EXPECT_EQ(thing->Release(), 1u);
    EXPECT_EQ(g_deleted, 0);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(g_deleted, 1);
}

TEST(ComObject, AnswersItsIdsAndIUnknownOnly)
{
    auto thing = com::ComPtr<IThing>::adopt(new Thing);
    for (const IID* id : {&IID_IThing, &IID_IUnknown}) {
        void* out = nullptr;
        ASSERT_EQ(thing->QueryInterface(*id, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(thing.get()));
        static_cast<IUnknown*>(out)->Release();
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(thing->QueryInterface(IID_IOther, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(thing->QueryInterface(IID_IThing, nullptr), E_POINTER);
}

TEST(ComPtr, AdoptTakesShareAddsAndCopiesCount)
{
    g_deleted = 0;
    IThing* raw = new Thing;
    {
        auto owner = com::ComPtr<IThing>::adopt(raw);
        auto shared = com::ComPtr<IThing>::share(raw);
        com::ComPtr<IThing> copy = shared;
        EXPECT_EQ(raw->AddRef(), 4u);
        raw->Release();
        com::ComPtr<IThing> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved->value(), 7);
    }
    EXPECT_EQ(g_deleted, 1);
}

TEST(ComPtr, PutReleasesTheOldObjectAndOwnsTheOutParameter)
{
    g_deleted = 0;
    auto p = com::ComPtr<IThing>::adopt(new Thing);
    IThing** slot = p.put();
    EXPECT_EQ(g_deleted, 1);
    *slot = new Thing;
    IThing* handed = p.detach();
    EXPECT_FALSE(p);
    handed->Release();
    EXPECT_EQ(g_deleted, 2);
}

// A part answers for itself but counts on its owner.
class Part final : public com::ComObject<IThing, IID_IThing> {
public:
    explicit Part(IUnknown* owner) : ComObject(owner) {}
    ~Part() override = default;
    int value() override { return 1; }
};

TEST(ComObject, APartTakesAndGivesItsOwnersReferences)
{
    g_deleted = 0;
    auto* owner = new Thing;
    {
        // Owned by the test, not through Release: a part never deletes itself.
        const auto held = std::make_unique<Part>(owner);
        Part& part = *held;
        EXPECT_EQ(part.AddRef(), 2u);
        void* out = nullptr;
        ASSERT_EQ(part.QueryInterface(IID_IThing, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(static_cast<IThing*>(&part)));
        EXPECT_EQ(owner->AddRef(), 4u);
        owner->Release();
        EXPECT_EQ(part.Release(), 2u);
        EXPECT_EQ(part.Release(), 1u);
    }
    EXPECT_EQ(g_deleted, 0);
    owner->Release();
    EXPECT_EQ(g_deleted, 1);
}

// An object a second owner keeps past a count of zero, as a device keeps what it binds.
class Kept final : public com::ComObject<IThing, IID_IThing> {
public:
    int value() override { return 3; }
    bool kept = true;
    int released = 0, regained = 0;
    void drop()
    {
        kept = false;
        if (referenceCount() == 0)
            delete this;
    }

private:
    ~Kept() override { ++g_deleted; }
    void lastReferenceReleased() override
    {
        ++released;
        if (!kept)
            delete this;
    }
    void referenceRegained() override { ++regained; }
};

TEST(ComObject, LastReleaseAndRegainReachTheObjectOnce)
{
    g_deleted = 0;
    auto* kept = new Kept;
    EXPECT_EQ(kept->AddRef(), 2u);
    EXPECT_EQ(kept->regained, 0);  // a count above zero is not a regain
    kept->Release();
    EXPECT_EQ(kept->Release(), 0u);
    EXPECT_EQ(kept->released, 1);
    EXPECT_EQ(g_deleted, 0);
    EXPECT_EQ(kept->AddRef(), 1u);
    EXPECT_EQ(kept->regained, 1);
    kept->Release();
    EXPECT_EQ(kept->released, 2);
    kept->drop();
    EXPECT_EQ(g_deleted, 1);
}

}  // namespace
