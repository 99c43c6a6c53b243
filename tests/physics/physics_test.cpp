// The visibility manager: boxes against the view volume, the boxes that
// enclose shadow volumes, and the manager's life inside the core.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core_support.h"
#include "zvcore.h"
#include "zvphysics.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// An entity as the models present themselves to the manager.
class BoxEntity : public IPhyEntity {
public:
    BoxEntity(Vector3 lo, Vector3 hi) : lo(lo), hi(hi) { world.SetIdentity(); }
    void GetBoundingBox(Vector3* min, Vector3* max) override {
        ++boxReads;
        *min = lo;
        *max = hi;
    }
    void SetWorldMatrix(Matrix m) override { world = m; }
    void GetWorldMatrix(Matrix* out) override {
        ++worldReads;
        *out = world;
    }
    void MoveTo(float x, float y, float z) { D3DXMatrixTranslation(&world, x, y, z); }

    Vector3 lo, hi;
    Matrix world;
    int boxReads = 0;
    int worldReads = 0;
};

// A graphics manager whose camera is the engine's: eye at (0, 0, -10)
// looking along +z, a quarter-turn vertical field of view, aspect 4/3,
// near plane 2, far plane 100000.  At a distance d in front of the eye the
// view is 2d high and 8d/3 wide.
class CameraGraphics : public zvtest::FakeGraphics {
public:
    HRESULT GetViewProj(Matrix* view, Matrix* projection) override {
        ++viewProjCalls;
        Vector3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(projection, 1.5707964f, 1.3333334f, 2.0f, 100000.0f);
        return S_OK;
    }
    static IInterface* Create() {
        CameraGraphics* g = new CameraGraphics;
        g->AddRef();
        return g;
    }
    static int viewProjCalls;
};
int CameraGraphics::viewProjCalls = 0;

// The physics manager made by the core, with or without a graphics manager
// with the camera above.
class PhysicsTest : public ::testing::Test {
protected:
    void SetUp() override {
        zvtest::GraphicsLog().Clear();
        CameraGraphics::viewProjCalls = 0;
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        zvtest::UseManagers(core, {zvtest::Record("ZVPhysics", "Physics", ZVPhysics::Create),
                                   zvtest::Record("CameraGraphics", "Graphics", CameraGraphics::Create)});
        ASSERT_EQ(core->Init(nullptr, "physics", 640, 480), S_OK);
        ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        ASSERT_NE(physics, nullptr);
    }
    void TearDown() override {
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void UseCamera() { ASSERT_EQ(core->CreateGraphics(&graphics), S_OK); }
    bool Visible(BoxEntity& e) { return physics->EntityIsVisible(&e); }

    ICore* core = nullptr;
    IPhysics* physics = nullptr;
    IGraphics* graphics = nullptr;
    std::string log;
};

// --- Without a graphics manager: the cube -1..1 after the world matrix -------

TEST_F(PhysicsTest, WithoutGraphicsTheViewIsTheUnitCube) {
    BoxEntity inside(Vector3(-0.5f, -0.5f, -0.5f), Vector3(0.5f, 0.5f, 0.5f));
    EXPECT_TRUE(Visible(inside));
    EXPECT_EQ(inside.boxReads, 1);
    EXPECT_EQ(inside.worldReads, 1);

    // Moved out along each axis, on either side: hidden.
    const float offsets[6][3] = {{3, 0, 0}, {-3, 0, 0}, {0, 3, 0}, {0, -3, 0}, {0, 0, 3}, {0, 0, -3}};
    for (const auto& o : offsets) {
        inside.MoveTo(o[0], o[1], o[2]);
        EXPECT_FALSE(Visible(inside)) << o[0] << " " << o[1] << " " << o[2];
    }
    // Half across the right face: visible.
    inside.MoveTo(1.2f, 0, 0);
    EXPECT_TRUE(Visible(inside));
    EXPECT_EQ(CameraGraphics::viewProjCalls, 0);
}

TEST_F(PhysicsTest, PlanesAreTestedStrictly) {
    // Corners exactly on the plane x = w are not beyond it.
    BoxEntity touching(Vector3(1.0f, 0, 0), Vector3(3.0f, 0.5f, 0.5f));
    EXPECT_TRUE(Visible(touching));
    BoxEntity beyond(Vector3(1.0001f, 0, 0), Vector3(3.0f, 0.5f, 0.5f));
    EXPECT_FALSE(Visible(beyond));
    // The near face z = -w is a plane like the others.
    BoxEntity near(Vector3(-0.5f, -0.5f, -3.0f), Vector3(0.5f, 0.5f, -1.0f));
    EXPECT_TRUE(Visible(near));
    near.hi.z = -1.0001f;
    EXPECT_FALSE(Visible(near));
}

TEST_F(PhysicsTest, TheWorldMatrixPlacesTheBox) {
    // A box far from the origin in its own space, brought into view.
    BoxEntity far(Vector3(99.5f, 99.5f, 99.5f), Vector3(100.5f, 100.5f, 100.5f));
    EXPECT_FALSE(Visible(far));
    far.MoveTo(-100, -100, -100);
    EXPECT_TRUE(Visible(far));
    // Scaled down by a factor 100 around the origin: the box sits at
    // 0.995 to 1.005 and reaches into the cube.
    Matrix scale;
    scale.SetScaling(0.01f);
    far.SetWorldMatrix(scale);
    EXPECT_TRUE(Visible(far));
    far.lo = Vector3(150, 150, 150);
    far.hi = Vector3(200, 200, 200);
    EXPECT_FALSE(Visible(far));
}

// --- With the camera -----------------------------------------------------------

TEST_F(PhysicsTest, BoxesInsideOutsideAndAcrossTheView) {
    UseCamera();
    // 60 units in front of the eye the view is 120 high and 160 wide.
    BoxEntity box(Vector3(-1, -1, -1), Vector3(1, 1, 1));
    box.MoveTo(0, 0, 50);
    EXPECT_TRUE(Visible(box));
    EXPECT_GE(CameraGraphics::viewProjCalls, 1);

    box.MoveTo(78, 0, 50);  // straddles the right side
    EXPECT_TRUE(Visible(box));
    box.MoveTo(83, 0, 50);  // all corners beyond the right side
    EXPECT_FALSE(Visible(box));
    box.MoveTo(-83, 0, 50);
    EXPECT_FALSE(Visible(box));
    box.MoveTo(0, 59.5f, 50);  // straddles the top
    EXPECT_TRUE(Visible(box));
    box.MoveTo(0, 63, 50);
    EXPECT_FALSE(Visible(box));
    box.MoveTo(0, -63, 50);
    EXPECT_FALSE(Visible(box));
    box.MoveTo(0, 0, -20);  // behind the eye
    EXPECT_FALSE(Visible(box));
    box.MoveTo(0, 0, 200000);  // beyond the far plane
    EXPECT_FALSE(Visible(box));

    // A box that holds the eye is seen.
    BoxEntity around(Vector3(-5, -5, -15), Vector3(5, 5, -5));
    EXPECT_TRUE(Visible(around));
}

TEST_F(PhysicsTest, CornersBeyondDifferentPlanesCountAsVisible) {
    UseCamera();
    // A long thin rod lying across the whole view from left to right.
    BoxEntity rod(Vector3(-500, -0.5f, -0.5f), Vector3(500, 0.5f, 0.5f));
    rod.MoveTo(0, 0, 50);
    EXPECT_TRUE(Visible(rod));

    // A rod passing outside the top-right corner of the view: one end is only
    // beyond the right side, the other only beyond the top, so no plane has
    // all eight corners and the test keeps it.  At 60 units the corner is at
    // (80, 60); the rod follows x + y = 150 with its ends at (185, -35) and
    // (-35, 185).
    const float half = 110.0f * std::sqrt(2.0f);
    BoxEntity diagonal(Vector3(-half, -0.5f, -0.5f), Vector3(half, 0.5f, 0.5f));
    Matrix turn, place;
    D3DXMatrixRotationZ(&turn, -0.78539816f);
    D3DXMatrixTranslation(&place, 75, 75, 50);
    diagonal.SetWorldMatrix(turn * place);
    EXPECT_TRUE(Visible(diagonal));
    // The same rod moved wholly beyond the right side is hidden.
    D3DXMatrixTranslation(&place, 500, 75, 50);
    diagonal.SetWorldMatrix(turn * place);
    EXPECT_FALSE(Visible(diagonal));
}

TEST_F(PhysicsTest, NearPlaneIsTestedAgainstMinusW) {
    UseCamera();
    // With the near plane at 2 the clip-space test z < -w keeps points down
    // to about 1 unit in front of the eye (z = -9 here).
    BoxEntity slab(Vector3(-0.1f, -0.1f, -8.6f), Vector3(0.1f, 0.1f, -8.5f));
    EXPECT_TRUE(Visible(slab));
    slab.lo.z = -9.9f;
    slab.hi.z = -9.5f;
    EXPECT_FALSE(Visible(slab));
}

// --- Shadow volumes -------------------------------------------------------------

TEST_F(PhysicsTest, AShadowCastIntoTheViewIsVisible) {
    // Right of the unit cube: the model itself is hidden.
    BoxEntity model(Vector3(2.5f, -0.5f, -0.5f), Vector3(3, 0.5f, 0.5f));
    EXPECT_FALSE(Visible(model));
    // Lit from the right, its shadow reaches across the view.
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(5, 0, 0), &model));
    // Lit from the left, the shadow falls away from the view.
    EXPECT_FALSE(physics->ShadVolIsVisible(Vector3(-5, 0, 0), &model));
    // The model's own box is still part of the test: a visible model keeps
    // its shadow whatever the light.
    BoxEntity seen(Vector3(-0.5f, -0.5f, -0.5f), Vector3(0.5f, 0.5f, 0.5f));
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(-5, 0, 0), &seen));
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(5, 0, 0), &seen));
}

TEST_F(PhysicsTest, ALightInsideTheBoxCastsItsShadowEveryWay) {
    // Left of the unit cube.  The lower corner thrown away from the light
    // goes further left; only the upper corner, thrown the other way,
    // reaches the view.
    BoxEntity model(Vector3(-3, -0.5f, -0.5f), Vector3(-2.5f, 0.5f, 0.5f));
    EXPECT_FALSE(Visible(model));
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(-2.75f, 0, 0), &model));
}

TEST_F(PhysicsTest, TheLightIsTakenIntoTheEntitysSpace) {
    // A unit box placed at x = 10 in the world.
    BoxEntity model(Vector3(-0.5f, -0.5f, -0.5f), Vector3(0.5f, 0.5f, 0.5f));
    model.MoveTo(10, 0, 0);
    EXPECT_FALSE(Visible(model));
    // The light at x = 5 lies left of the model: the shadow goes right, away.
    // (Taken untransformed, (5, 0, 0) would lie right of the box's own space
    // and throw the shadow towards the view.)
    EXPECT_FALSE(physics->ShadVolIsVisible(Vector3(5, 0, 0), &model));
    // The light at x = 20 lies right of it: the shadow crosses the view.
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(20, 0, 0), &model));
}

TEST_F(PhysicsTest, ShadowVolumesWithTheCamera) {
    UseCamera();
    // A model just right of the view, 50 units ahead.
    BoxEntity model(Vector3(-1, -1, -1), Vector3(1, 1, 1));
    model.MoveTo(90, 0, 50);
    EXPECT_FALSE(Visible(model));
    // The light further right throws the shadow leftwards through the view.
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(200, 0, 50), &model));

    // A model behind the eye: lit from in front, its shadow goes backwards
    // and stays behind the near plane; lit from behind, it reaches forward
    // through the whole view.
    BoxEntity behind(Vector3(-1, -1, -1), Vector3(1, 1, 1));
    behind.MoveTo(0, 0, -100);
    EXPECT_FALSE(Visible(behind));
    EXPECT_FALSE(physics->ShadVolIsVisible(Vector3(0, 0, -50), &behind));
    EXPECT_TRUE(physics->ShadVolIsVisible(Vector3(0, 0, -200), &behind));
}

TEST_F(PhysicsTest, ANullEntityIsInvisibleAndLoggedEachTime) {
    log.clear();
    EXPECT_FALSE(physics->EntityIsVisible(nullptr));
    EXPECT_FALSE(physics->EntityIsVisible(nullptr));
    EXPECT_EQ(Count(log, "[ZVPhysics::EntityIsVisible()] Error : \"Receive NULL Entity\""), 2u) << log;
    EXPECT_FALSE(physics->ShadVolIsVisible(Vector3(1, 2, 3), nullptr));
    EXPECT_EQ(Count(log, "[ZVPhysics::ShadVolIsVisible()] Error : \"Receive NULL Entity\""), 1u) << log;
    EXPECT_EQ(Count(log, "Error : "), 3u);
}

// --- The manager inside the core --------------------------------------------------

TEST_F(PhysicsTest, CreatePhysicsTwiceGivesTheSameManager) {
    ZVCore* z = static_cast<ZVCore*>(core);
    ZVPhysics* p = dynamic_cast<ZVPhysics*>(physics);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nRef, 1u);
    EXPECT_EQ(z->nRef, 2u);  // the program's and the manager's
    EXPECT_EQ(physics->GetCore(), core);
    EXPECT_EQ(core->GetPhysics(), static_cast<IInternPhysics*>(p));

    IPhysics* again = nullptr;
    ASSERT_EQ(core->CreatePhysics(&again), S_OK);
    EXPECT_EQ(again, physics);
    EXPECT_EQ(p->nRef, 2u);
    EXPECT_EQ(z->nRef, 2u);
    log.clear();
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(log, "");

    EXPECT_EQ(physics->Release(), 0u);
    physics = nullptr;
    EXPECT_EQ(log, "[ZVPhysics::Destructor()] Physics Engine correctly shutdown\n");
    EXPECT_EQ(core->GetPhysics(), nullptr);
    EXPECT_EQ(z->nRef, 1u);

    // A new request makes a new manager.
    ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
    EXPECT_EQ(dynamic_cast<ZVPhysics*>(physics)->nRef, 1u);
}

TEST_F(PhysicsTest, ReleasingTheCoreFirstReportsTheManager) {
    log.clear();
    ICore* c = core;
    core = nullptr;
    physics = nullptr;  // the core's destructor destroys it
    EXPECT_EQ(c->Release(), 1u);  // the manager still holds the core
    EXPECT_EQ(c->Release(), 0u);
    const std::string report = "[ZVCore::Destructor()] Error : \"IPhysics not detached ! nRef=1\"\n";
    const std::string down = "[ZVPhysics::Destructor()] Physics Engine correctly shutdown\n";
    const std::string engine = "[ZVCore::Destructor()] Zorvane Engine correctly shutdown\n";
    ASSERT_TRUE(Contains(log, report)) << log;
    ASSERT_TRUE(Contains(log, down)) << log;
    ASSERT_TRUE(Contains(log, engine)) << log;
    EXPECT_LT(log.find(report), log.find(down));
    EXPECT_LT(log.find(down), log.find(engine));
}

TEST_F(PhysicsTest, NameCloneAndInit) {
    EXPECT_TRUE(physics->GetName() == "ZVPhysics");
    IInterface* copy = reinterpret_cast<IInterface*>(this);
    EXPECT_EQ(physics->Clone(&copy), E_FAIL);
    EXPECT_EQ(copy, reinterpret_cast<IInterface*>(this));

    IInternPhysics* intern = dynamic_cast<IInternPhysics*>(physics);
    ASSERT_NE(intern, nullptr);
    log.clear();
    EXPECT_EQ(intern->Init(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVPhysics::Init()] Error : \"Called function return E_INVALIDARG")) << log;
    EXPECT_TRUE(Contains(log, "Msg : 'Invalid Call/Param'"));
    EXPECT_EQ(physics->GetCore(), core);  // the core stays
}

TEST(PhysicsFactory, CountsFromOneAndReleasesToZero) {
    std::string log;
    ZVTestCaptureLog(&log);
    IInterface* made = ZVPhysics::Create();
    ZVPhysics* p = dynamic_cast<ZVPhysics*>(made);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nRef, 1u);
    EXPECT_EQ(p->GetCore(), nullptr);
    // Without a core the tests run against the unit cube.
    BoxEntity box(Vector3(-0.5f, -0.5f, -0.5f), Vector3(0.5f, 0.5f, 0.5f));
    EXPECT_TRUE(p->EntityIsVisible(&box));
    EXPECT_EQ(made->AddRef(), 2u);
    EXPECT_EQ(made->Release(), 1u);
    EXPECT_EQ(made->Release(), 0u);
    EXPECT_EQ(log, "[ZVPhysics::Destructor()] Physics Engine correctly shutdown\n");
    ZVTestCaptureLog(nullptr);
}

TEST(PhysicsRegistry, TheRecordIsInTheManagerRegistry) {
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    const Vector<PlugIn>& list = static_cast<ZVCore*>(core)->PlugInManagers;
    int found = -1;
    for (u32 i = 0; i < list.count; ++i)
        if (list[i].name == "ZVPhysics") found = (int)i;
    ASSERT_GE(found, 0);
    const PlugIn& r = list[(u32)found];
    EXPECT_TRUE(r.type == "Physics");
    EXPECT_EQ(r.major, 0);
    EXPECT_EQ(r.minor, 30);
    EXPECT_EQ(r.AsManager(), &ZVPhysics::Create);
    core->Release();
}

}  // namespace
