// The plug-in registries: filled before main, copied by CreateCore.
#include <gtest/gtest.h>

#include "core_support.h"
#include "zvcore.h"

namespace {

int g_unknownKindFills = 0;

u32 FillFirst(PlugIn* blank) {
    blank->name = "RegistryFirst";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "RegistryTest";
    blank->factory = PlugIn::FromManager(zvtest::FakePhysics::Create);
    return 0;
}

u32 FillSecond(PlugIn* blank) {
    blank->name = "RegistrySecond";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "RegistryTest";
    blank->factory = PlugIn::FromManager(zvtest::FakeGraphics::Create);
    return 0;
}

HRESULT NoGeometry(const String&, const String&, IGraphics*, IGeometry** out) {
    if (out) *out = nullptr;
    return E_FAIL;
}

u32 FillGeometry(PlugIn* blank) {
    blank->name = "RegistryGeometry";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "registrytest";
    blank->factory = PlugIn::FromGeometry(NoGeometry);
    return 0;
}

u32 FillUnknownKind(PlugIn* blank) {
    ++g_unknownKindFills;
    blank->name = "RegistryUnknown";
    blank->type = "RegistryUnknown";
    return 0;
}

PlugInRegistrar g_first(ZVPLUGIN_MANAGER, FillFirst);
PlugInRegistrar g_second(ZVPLUGIN_MANAGER, FillSecond);
PlugInRegistrar g_geometry(ZVPLUGIN_GEOMETRY, FillGeometry);
PlugInRegistrar g_unknown(3, FillUnknownKind);
PlugInRegistrar g_noFill(ZVPLUGIN_MANAGER, nullptr);

int Find(const Vector<PlugIn>& list, const char* name) {
    for (u32 i = 0; i < list.count; ++i)
        if (list[i].name == name) return (int)i;
    return -1;
}

TEST(Registry, RegistrarsFillBothRegistriesBeforeMainAndCreateCoreCopiesThem) {
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    ZVCore* z = static_cast<ZVCore*>(core);
    EXPECT_EQ(z->nRef, 1u);

    int first = Find(z->PlugInManagers, "RegistryFirst");
    int second = Find(z->PlugInManagers, "RegistrySecond");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_LT(first, second);  // static construction order within one file
    const PlugIn& r = z->PlugInManagers[(u32)first];
    EXPECT_EQ(r.major, 0);
    EXPECT_EQ(r.minor, 30);
    EXPECT_TRUE(r.type == "RegistryTest");
    EXPECT_EQ(r.AsManager(), &zvtest::FakePhysics::Create);

    int geometry = Find(z->PlugInGeometries, "RegistryGeometry");
    ASSERT_GE(geometry, 0);
    EXPECT_EQ(z->PlugInGeometries[(u32)geometry].AsGeometry(), &NoGeometry);
    EXPECT_LT(Find(z->PlugInManagers, "RegistryGeometry"), 0);

    // A record of an unknown kind was filled and kept nowhere.
    EXPECT_GE(g_unknownKindFills, 1);
    EXPECT_LT(Find(z->PlugInManagers, "RegistryUnknown"), 0);
    EXPECT_LT(Find(z->PlugInGeometries, "RegistryUnknown"), 0);
    EXPECT_EQ(core->Release(), 0u);
}

TEST(Registry, LaterRegistrationsDoNotReachAnExistingCore) {
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    ZVCore* z = static_cast<ZVCore*>(core);
    u32 before = z->PlugInManagers.count;
    int fills = g_unknownKindFills;
    RegisterPlugIn(3, FillUnknownKind, nullptr);
    EXPECT_EQ(g_unknownKindFills, fills + 1);
    EXPECT_EQ(z->PlugInManagers.count, before);
    // Copying again replaces the lists instead of appending to them.
    RegisterPlugIn(ZVPLUGIN_MANAGER, nullptr, z);
    EXPECT_EQ(z->PlugInManagers.count, before);
    core->Release();
}

TEST(Registry, TheFirstRecordOfATypeWins) {
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    ASSERT_EQ(core->Init(nullptr, "registry", 640, 480), S_OK);
    // The copied registry, with the test's records renamed to the manager type.
    ZVCore* z = static_cast<ZVCore*>(core);
    Vector<PlugIn> records;
    for (u32 i = 0; i < z->PlugInManagers.count; ++i) {
        if (!(z->PlugInManagers[i].type == "RegistryTest")) continue;
        PlugIn p = z->PlugInManagers[i];
        p.type = "Physics";
        records.Add(p);
    }
    z->PlugInManagers = records;
    zvtest::PhysicsLog().Clear();
    zvtest::GraphicsLog().Clear();
    IPhysics* physics = nullptr;
    ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
    EXPECT_TRUE(physics->GetName() == "FakePhysics");  // RegistryFirst's factory
    EXPECT_EQ(zvtest::GraphicsLog().created, 0);
    physics->Release();
    core->Release();
}

}  // namespace
