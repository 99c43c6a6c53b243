// The geometry registry of the graphics manager: creation through the
// plug-in records, sharing by cloning, removal, the reset hook, and the
// shutdown report of geometries still alive.
#include <atomic>

#include "graphics_support.h"

// Array allocations that may fail (the engine's containers use only these)
// are taken from the ordinary allocator, except for the one of the size a
// test asks to fail next: that one fails as if memory had run out.
static std::atomic<size_t> g_failingArraySize{0};

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    size_t failing = size;
    if (g_failingArraySize.compare_exchange_strong(failing, 0)) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

int g_resets = 0;
HRESULT g_resetResult = S_OK;
int g_destroyed = 0;

// A geometry that holds one reference to the manager and removes itself
// from the registry when it is destroyed, as every geometry does.
class TestGeometry : public IGeometry {
public:
    TestGeometry(IGraphics* g, const String& t, const String& c) : graphics(g), type(t), command(c) {}
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("TestGeometry");
        return name;
    }
    HRESULT Clone(IInterface** out) override {
        if (cloneIsSelf) {  // as the font: the same object, no new reference to the manager
            AddRef();
            *out = this;
            return S_OK;
        }
        TestGeometry* copy = new TestGeometry(graphics, type, command);
        copy->AddRef();
        graphics->AddRef();
        *out = copy;
        return S_OK;
    }
    HRESULT Update(float) override { return S_OK; }
    HRESULT Render() override { return S_OK; }
    HRESULT Reset() override {
        ++g_resets;
        return g_resetResult;
    }
    HRESULT SendCommand(const String&, String*) override { return E_FAIL; }
    HRESULT GetTypeAndCommand(String* t, String* c) override {
        *t = type;
        *c = command;
        return S_OK;
    }

    u32 nRef = 0;
    bool cloneIsSelf = false;
    IGraphics* graphics;
    String type, command;

protected:
    ~TestGeometry() override {
        ++g_destroyed;
        graphics->RemoveGeometry(this);
        graphics->Release();
    }
};

int g_factoryCalls = 0;

HRESULT TestFactory(const String& type, const String& command, IGraphics* graphics, IGeometry** out) {
    ++g_factoryCalls;
    if (command == "fail") return E_FAIL;
    if (command == "nothing") return S_OK;  // success without a geometry
    TestGeometry* g = new TestGeometry(graphics, type, command);
    g->cloneIsSelf = type == "self";
    g->AddRef();
    *out = g;
    return S_OK;
}

class GeometryTest : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        g_resets = 0;
        g_resetResult = S_OK;
        g_destroyed = 0;
        g_factoryCalls = 0;
        PlugIn record;
        record.name = "Test";
        record.minor = 30;
        record.type = "test";
        record.factory = PlugIn::FromGeometry(TestFactory);
        zv->PlugInGeometries = Vector<PlugIn>();
        zv->PlugInGeometries.Add(record);
        record.type = "self";
        zv->PlugInGeometries.Add(record);
        ASSERT_EQ(Windowed(), S_OK);
        log.clear();
    }
};

TEST_F(GeometryTest, SameTypeAndCommandAreSharedByCloning) {
    IGeometry* a = nullptr;
    IGeometry* b = nullptr;
    IGeometry* c = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("test", "model.x", &a), S_OK);
    EXPECT_EQ(zv->nRef, 2u);  // the program's and the geometry's
    ASSERT_EQ(graphics->CreateGeometry("test", "model.x", &b), S_OK);
    EXPECT_EQ(g_factoryCalls, 1);
    EXPECT_NE(a, b);
    EXPECT_TRUE(Contains(log, "Type=<test> Command=<model.x>")) << log;
    EXPECT_EQ(zv->nRef, 3u);
    // The command is compared exactly.
    ASSERT_EQ(graphics->CreateGeometry("test", "MODEL.x", &c), S_OK);
    EXPECT_EQ(g_factoryCalls, 2);
    EXPECT_EQ(zv->vGeometries.count, 3u);
    a->Release();
    b->Release();
    c->Release();
    EXPECT_EQ(zv->vGeometries.count, 0u);
    EXPECT_EQ(zv->nRef, 1u);
}

TEST_F(GeometryTest, AGeometryWhoseCloneIsItselfIsListedOnce) {
    IGeometry* a = nullptr;
    IGeometry* b = nullptr;
    IGeometry* c = nullptr;
    IGeometry* other = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("self", "font.tga", &a), S_OK);
    ASSERT_EQ(graphics->CreateGeometry("test", "model.x", &other), S_OK);
    ASSERT_EQ(graphics->CreateGeometry("self", "font.tga", &b), S_OK);
    ASSERT_EQ(graphics->CreateClonedGeometry(a, &c), S_OK);
    EXPECT_EQ(b, a);
    EXPECT_EQ(c, a);
    EXPECT_EQ(g_factoryCalls, 2);
    EXPECT_EQ(gfxtest::Count(log, "Type=<self> Command=<font.tga>"), 2u) << log;
    ASSERT_EQ(zv->vGeometries.count, 2u);
    EXPECT_EQ(zv->vGeometries[0], a);
    EXPECT_EQ(zv->vGeometries[1], other);
    EXPECT_EQ(zv->nRef, 3u);  // the program's and one per listed geometry
    b->Release();
    c->Release();
    EXPECT_EQ(zv->vGeometries.count, 2u);
    a->Release();
    EXPECT_EQ(g_destroyed, 1);
    ASSERT_EQ(zv->vGeometries.count, 1u);
    EXPECT_EQ(zv->vGeometries[0], other);
    EXPECT_EQ(zv->nRef, 2u);
    // Nothing of the destroyed object is left to be matched (or touched).
    ASSERT_EQ(graphics->CreateGeometry("self", "font.tga", &a), S_OK);
    EXPECT_EQ(g_factoryCalls, 3);
    a->Release();
    other->Release();
    EXPECT_EQ(zv->vGeometries.count, 0u);
    EXPECT_EQ(zv->nRef, 1u);
    EXPECT_FALSE(Contains(log, "GeometryToRemove not found")) << log;
}

TEST_F(GeometryTest, UnknownTypesAndFailedFactoriesListNothing) {
    IGeometry* g = nullptr;
    EXPECT_EQ(graphics->CreateGeometry("TEST", "model.x", &g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Unknow Type : <TEST> Command = <model.x>")) << log;
    EXPECT_EQ(graphics->CreateGeometry("test", "fail", &g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Error while creating : <test> Command = <fail>")) << log;
    EXPECT_EQ(graphics->CreateGeometry("test", "x", nullptr), ZVE_SUBFUNCTION);
    log.clear();
    g = reinterpret_cast<IGeometry*>(&g_factoryCalls);  // whatever the caller left there
    EXPECT_EQ(graphics->CreateGeometry("test", "nothing", &g), ZVE_SUBFUNCTION);
    EXPECT_EQ(g, nullptr);
    EXPECT_TRUE(Contains(log, "Assertion Failed")) << log;
    EXPECT_FALSE(Contains(log, "Error while creating")) << log;
    EXPECT_EQ(zv->vGeometries.count, 0u);
    EXPECT_EQ(zv->nRef, 1u);
}

TEST_F(GeometryTest, RemovingAnUnlistedGeometryFails) {
    IGeometry* g = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("test", "a", &g), S_OK);
    // A geometry made outside the registry (it still holds its reference).
    graphics->AddRef();
    TestGeometry* stranger = new TestGeometry(graphics, "test", "b");
    stranger->AddRef();
    EXPECT_EQ(graphics->RemoveGeometry(stranger), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "GeometryToRemove not found"));
    EXPECT_EQ(graphics->RemoveGeometry(nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(zv->vGeometries.count, 1u);
    stranger->Release();
    EXPECT_EQ(zv->vGeometries.count, 1u);
    g->Release();
    EXPECT_EQ(zv->nRef, 1u);
}

// The list of geometries cannot grow: a new geometry, made by its factory
// or by cloning, is refused before it is made, so that nothing has to be
// given back and no false "not found" reaches the log.
TEST_F(GeometryTest, AListThatCannotGrowRefusesNewGeometriesCleanly) {
    // Twelve listed geometries: a thirteenth needs an array of 13 pointers,
    // a size that nothing else allocates on the way.
    std::vector<IGeometry*> listed(12, nullptr);
    for (size_t i = 0; i < listed.size(); ++i) {
        String command("m");
        command += (unsigned int)i;
        ASSERT_EQ(graphics->CreateGeometry("test", command, &listed[i]), S_OK);
    }
    const size_t thirteen = 13 * sizeof(IGeometry*);
    log.clear();

    g_failingArraySize = thirteen;
    IGeometry* g = reinterpret_cast<IGeometry*>(&g_factoryCalls);
    EXPECT_EQ(graphics->CreateGeometry("test", "new.x", &g), E_OUTOFMEMORY);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(g_factoryCalls, 12);  // nothing was made
    g_failingArraySize = thirteen;
    g = reinterpret_cast<IGeometry*>(&g_factoryCalls);
    EXPECT_EQ(graphics->CreateGeometry("test", "m0", &g), E_OUTOFMEMORY);  // a clone of the first
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(g_failingArraySize, 0u);  // both failures were the list's

    EXPECT_EQ(g_destroyed, 0);
    EXPECT_EQ(zv->vGeometries.count, 12u);
    EXPECT_EQ(zv->nRef, 13u);  // the program's and the listed geometries'
    EXPECT_EQ(gfxtest::Count(log, "Not Enough Memory"), 2u) << log;
    EXPECT_FALSE(Contains(log, "GeometryToRemove not found")) << log;

    // With memory again, the same requests succeed.
    ASSERT_EQ(graphics->CreateGeometry("test", "new.x", &g), S_OK);
    g->Release();
    for (IGeometry* geometry : listed) geometry->Release();
    EXPECT_EQ(zv->vGeometries.count, 0u);
    EXPECT_EQ(zv->nRef, 1u);
    EXPECT_FALSE(Contains(log, "GeometryToRemove not found")) << log;
}

TEST_F(GeometryTest, EveryGeometryIsResetAfterTheDevice) {
    IGeometry* a = nullptr;
    IGeometry* b = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("test", "a", &a), S_OK);
    ASSERT_EQ(graphics->CreateGeometry("test", "b", &b), S_OK);
    ASSERT_EQ(zv->UpdateScreenMode(), S_OK);
    EXPECT_EQ(g_resets, 2);
    g_resetResult = E_FAIL;
    EXPECT_EQ(zv->UpdateScreenMode(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "IGeometry::Reset() failed !"));
    EXPECT_EQ(g_resets, 3);  // stopped at the first failure
    a->Release();
    b->Release();
}

TEST_F(GeometryTest, GeometriesAliveAtShutdownAreReportedAndReleased) {
    IGeometry* a = nullptr;
    IGeometry* b = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("test", "a", &a), S_OK);
    ASSERT_EQ(graphics->CreateGeometry("test", "b", &b), S_OK);
    b->AddRef();
    // The program lets the manager go first: its own reference is the last
    // one once the geometries' references are given back.
    zv->nRef = 1;
    ReleaseGraphics();
    EXPECT_TRUE(Contains(log, "\"2 geometrie(s) still alive (or dead but not removed => Access Violation) !\""))
        << log;
    EXPECT_EQ(g_destroyed, 2);
    EXPECT_FALSE(Contains(log, "don't call RemoveGeometry()"));
    EXPECT_FALSE(Contains(log, "Graphics Engine correctly shutdown"));
}

}  // namespace
