#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <gtest/gtest.h>

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

}  // namespace
