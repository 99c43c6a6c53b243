// The MD5 instance: factory and plug-in record, cloning on shared data,
// skinning of a two-joint rig frame by frame, bounds, the world moved by
// the root at the end of an animation, default animations, the commands,
// drawing, and sound refusals of broken input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "md5_support.h"
#include "modelmd5.h"

namespace {

using md5test::FakeGraphics;
using md5test::FakeVB;
using md5test::LogCapture;

const float kHalfSqrt2 = 0.70710678f;

// Two joints: "origin" at the model's origin and "arm" 10 above it, both
// unturned.  Vertex 0 hangs on the origin, vertex 1 on the arm, vertex 2 half
// on each.
zvtools::MD5MeshFile RigMesh() {
    zvtools::MD5MeshFile f;
    zvtools::MD5Joint origin;
    origin.name = "origin";
    zvtools::MD5Joint arm;
    arm.name = "arm";
    arm.parent = 0;
    arm.pos[2] = 10.0f;
    f.joints = {origin, arm};
    zvtools::MD5Mesh m;
    m.shader = "rig/skin";
    const int first[3] = {0, 1, 2}, count[3] = {1, 1, 2};
    for (int i = 0; i < 3; ++i) {
        zvtools::MD5Vert v;
        v.u = 0.25f * (float)(i + 1);
        v.v = 0.5f + 0.125f * (float)i;
        v.firstWeight = first[i];
        v.numWeights = count[i];
        m.verts.push_back(v);
    }
    m.tris.resize(1);
    m.tris[0].v[0] = 0, m.tris[0].v[1] = 1, m.tris[0].v[2] = 2;
    const int joint[4] = {0, 1, 0, 1};
    const float bias[4] = {1.0f, 1.0f, 0.5f, 0.5f};
    const float pos[4][3] = {{1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {2, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        zvtools::MD5Weight w;
        w.joint = joint[i];
        w.bias = bias[i];
        for (int c = 0; c < 3; ++c) w.pos[c] = pos[i][c];
        m.weights.push_back(w);
    }
    f.meshes.push_back(m);
    return f;
}

// Four frames at 4 per second: the origin walks one unit along x per frame,
// the arm turns about z by 0, 90, 180 and 0 degrees.
zvtools::MD5Anim RigAnim() {
    zvtools::MD5Anim a;
    a.frameRate = 4.0f;
    a.joints.resize(2);
    a.joints[0].name = "origin";
    a.joints[0].flags = 7;
    a.joints[1].name = "arm";
    a.joints[1].parent = 0;
    a.joints[1].flags = 56;
    EXPECT_EQ(zvtools::AssignMD5StartIndices(&a), 6);
    a.baseframe.resize(2);
    a.baseframe[1].pos[2] = 10.0f;
    const float turn[4] = {0.0f, -kHalfSqrt2, -1.0f, 0.0f};
    for (int f = 0; f < 4; ++f) {
        zvtools::MD5Bound b;
        b.min[0] = -(float)f, b.min[1] = -1.0f, b.min[2] = -2.0f;
        b.max[0] = (float)f + 3.0f, b.max[1] = 2.0f, b.max[2] = 12.0f;
        a.bounds.push_back(b);
        a.frames.push_back({(float)f, 0.0f, 0.0f, 0.0f, 0.0f, turn[f]});
    }
    return a;
}

// Where the rig's three vertices are at frame f, in the file's axes (the
// instance's vertices are these in the engine's axes, ToEngineAxes).
void RigVertices(int f, Vector3 out[3]) {
    const float fx = (float)f;
    // The arm's weight (0, 1, 0) and (2, 0, 0) turned by 0, 90, 180, 0 degrees about z.
    const Vector3 armY[4] = {Vector3(0, 1, 0), Vector3(-1, 0, 0), Vector3(0, -1, 0), Vector3(0, 1, 0)};
    const Vector3 armX[4] = {Vector3(2, 0, 0), Vector3(0, 2, 0), Vector3(-2, 0, 0), Vector3(2, 0, 0)};
    out[0] = Vector3(1 + fx, 0, 0);
    out[1] = Vector3(armY[f].x + fx, armY[f].y, 10);
    out[2] = Vector3(0.5f * (2 + fx) + 0.5f * (armX[f].x + fx), 0.5f * armX[f].y, 5);
}

void ExpectNear(const Vector3& a, const Vector3& b, const char* what, float tolerance = 1e-4f) {
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

Vector3 Translation(const Matrix& m) { return Vector3(m._41, m._42, m._43); }

// A point of the file's axes where the instance has it.
Vector3 Engine(float x, float y, float z) { return ModelMD5Meta::ToEngineAxes(Vector3(x, y, z)); }

// The box the instance reports, in the engine's axes.
void ExpectBox(ModelMD5* model, const Vector3& min, const Vector3& max, const char* what) {
    Vector3 lo, hi;
    model->GetBoundingBox(&lo, &hi);
    ExpectNear(lo, min, what);
    ExpectNear(hi, max, what);
}

// The bind pose's box: the file's (0, 0, 0) to (2, 1, 10) (x forward, y left,
// z up) is the engine's x from 0 to 1, y from 0 to 10, z from -2 to 0.
void ExpectBindBox(ModelMD5* model, const char* what) { ExpectBox(model, Vector3(0, 0, -2), Vector3(1, 10, 0), what); }

class MD5Model : public testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths;
        Paths.count = 0;
        dir = md5test::DataDir();
        Paths.Add(String(dir.c_str()));
        mkdir((dir + "rig").c_str(), 0755);
        mkdir((dir + "rig/sub").c_str(), 0755);
        md5test::Write("rig/rig.md5mesh", zvtools::WriteMD5Mesh(RigMesh()));
        md5test::Write("rig/walk.md5anim", zvtools::WriteMD5Anim(RigAnim()));
        md5test::Write("rig/sub/wave.md5anim", zvtools::WriteMD5Anim(RigAnim()));
        md5test::Write("rig/three.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh()));
        md5test::Write("rig/broken.md5anim", "MD5Version 10\ncommandline \"\"\nnumFrames 0\n");
        md5test::Write("rig/rig.def", zvtools::WriteMD5Def({{"three", "rig/three.md5mesh", {}},
                                                             {"rig", "rig/rig.md5mesh", {{"walk", "rig/walk.md5anim"}}}}));
    }
    void TearDown() override {
        for (IGeometry* g : models) g->Release();
        models.clear();
        Paths = saved_;
    }

    // A model as the graphics manager makes it: the factory, then the
    // manager's reference for the new geometry.
    ModelMD5* Make(const std::string& command) {
        IGeometry* geometry = nullptr;
        HRESULT hr = ModelMD5::Create("md5", command.c_str(), &graphics, &geometry);
        EXPECT_EQ(hr, S_OK) << command;
        if (hr < 0 || !geometry) return nullptr;
        graphics.AddRef();
        models.push_back(geometry);
        return dynamic_cast<ModelMD5*>(geometry);
    }
    ModelMD5* Rig() { return Make("rig/rig.def?rig"); }
    FakeVB* VBOf(ModelMD5* model) { return static_cast<FakeVB*>(model->pVB); }
    Vector3 VertexOf(ModelMD5* model, u32 v) {
        const float* p = VBOf(model)->Vertex(v);
        return Vector3(p[0], p[1], p[2]);
    }
    void ExpectRigFrame(ModelMD5* model, int f) {
        Vector3 expected[3];
        RigVertices(f, expected);
        for (u32 v = 0; v < 3; ++v) {
            const std::string what = "frame " + std::to_string(f) + " vertex " + std::to_string(v);
            const Vector3 want = ModelMD5Meta::ToEngineAxes(expected[v]);
            ExpectNear(VertexOf(model, v), want, what.c_str());
            ExpectNear(VBOf(model)->positions[v], want, what.c_str());
        }
        // The file's frame box (-f, -1, -2) to (f + 3, 2, 12).
        ExpectBox(model, Vector3(-1, -2, -(float)f - 3), Vector3(2, 12, (float)f), "frame box");
    }
    void ExpectBindPose(ModelMD5* model) {
        ExpectNear(VertexOf(model, 0), Engine(1, 0, 0), "bind vertex 0");
        ExpectNear(VertexOf(model, 1), Engine(0, 1, 10), "bind vertex 1");
        ExpectNear(VertexOf(model, 2), Engine(2, 0, 5), "bind vertex 2");
        ExpectBindBox(model, "bind box");
    }

    FakeGraphics graphics;
    std::vector<IGeometry*> models;
    std::string dir;
    Vector<String> saved_;
};

TEST_F(MD5Model, FactoryRecordNamesAndTheNewInstance) {
    PlugIn record;
    EXPECT_EQ(ModelMD5::GetPlugInInfos(&record), 0u);
    EXPECT_STREQ(record.name.c_str(), "ModelMD5");
    EXPECT_EQ(record.major, 0);
    EXPECT_EQ(record.minor, 30);
    EXPECT_STREQ(record.type.c_str(), "md5");
    EXPECT_EQ(record.AsGeometry(), &ModelMD5::Create);

    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->GetName().c_str(), "ModelMD5");
    EXPECT_EQ(model->nRef, 1u);
    EXPECT_NE(dynamic_cast<IPhyEntity*>(static_cast<IGeometry*>(model)), nullptr);
    String type, command;
    EXPECT_EQ(model->GetTypeAndCommand(&type, &command), S_OK);
    EXPECT_STREQ(type.c_str(), "md5");
    EXPECT_STREQ(command.c_str(), "rig/rig.def?rig");
    ASSERT_EQ(graphics.vbs.size(), 1u);
    EXPECT_EQ(graphics.vbs[0]->fvf, 0x112u);
    EXPECT_EQ(graphics.vbs[0]->numVertices, 3u);
    EXPECT_TRUE(graphics.vbDynamic);
    EXPECT_EQ(model->GetNumAnimations(), 1u);
    EXPECT_STREQ(model->GetAnimationName(0).c_str(), "walk");
    EXPECT_STREQ(model->GetAnimationName(1).c_str(), "");
    EXPECT_EQ(ModelMD5::s_vAnimatedBones.count >= 2u, true);

    // The model is in the engine's axes already: the world starts unmoved.
    Matrix world, identity;
    model->GetWorldMatrix(&world);
    identity.SetIdentity();
    for (int i = 0; i < 16; ++i) EXPECT_EQ((&world._11)[i], (&identity._11)[i]) << i;

    // One reference for both interfaces; releasing removes it from the manager.
    IPhyEntity* entity = model;
    entity->SetWorldMatrix(Matrix());
    model->GetWorldMatrix(&world);
    EXPECT_EQ(world._11, 0.0f);
    EXPECT_EQ(model->AddRef(), 2u);
    EXPECT_EQ(model->Release(), 1u);
    const u32 graphicsRefs = graphics.ref;
    models.clear();
    EXPECT_EQ(model->Release(), 0u);
    EXPECT_EQ(graphics.ref, graphicsRefs - 1);
    ASSERT_EQ(graphics.removed.size(), 1u);
    EXPECT_EQ(graphics.removed[0], static_cast<IGeometry*>(model));
    EXPECT_EQ(graphics.vbs[0]->released, 1);
    EXPECT_EQ(graphics.ibs[0]->released, 1);
}

TEST_F(MD5Model, FactoryRefusals) {
    IGeometry* out = reinterpret_cast<IGeometry*>(0x1);
    LogCapture capture;
    EXPECT_EQ(ModelMD5::Create("MD5", "rig/rig.md5mesh", &graphics, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(ModelMD5::Create("md5 ", "rig/rig.md5mesh", &graphics, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(out, reinterpret_cast<IGeometry*>(0x1));
    EXPECT_EQ(capture.Count("[ModelMD5::Create()] Error : \"Called function return E_FAIL (0x80004005), Msg : "
                            "'Unsupported Type'"),
              2u)
        << capture.log;
    EXPECT_EQ(ModelMD5::Create("md5", "rig/rig.md5mesh", &graphics, nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("Msg : 'Invalid Call/Param'"));

    // A failing load frees the instance and its data; nothing reaches the manager.
    EXPECT_LT(ModelMD5::Create("md5", "rig/missing.md5mesh", &graphics, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(capture.Has("[ModelMD5::Init()] Error : \"Called function return"));
    EXPECT_TRUE(graphics.removed.empty());
    out = reinterpret_cast<IGeometry*>(0x1);
    EXPECT_EQ(ModelMD5::Create("md5", "rig/rig.md5mesh", nullptr, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(graphics.ref, 1u);

    // No vertex buffer: the load is undone.
    graphics.failCreateVB = true;
    EXPECT_EQ(ModelMD5::Create("md5", "rig/rig.md5mesh", &graphics, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(graphics.ibs.size(), 1u);
    EXPECT_EQ(graphics.ibs.back()->released, 1);
}

TEST_F(MD5Model, TheDefFileChoosesTheModel) {
    ModelMD5* first = Make("rig/rig.def");
    ModelMD5* rig = Rig();
    ModelMD5* alone = Make("rig/rig.md5mesh");
    ASSERT_TRUE(first && rig && alone);
    EXPECT_EQ(first->pMeta->vBones.count, 3u);  // the first model with a mesh: "three"
    EXPECT_EQ(first->GetNumAnimations(), 0u);
    EXPECT_EQ(rig->pMeta->vBones.count, 2u);
    EXPECT_EQ(rig->GetNumAnimations(), 1u);
    EXPECT_EQ(alone->pMeta->vBones.count, 2u);
    EXPECT_EQ(alone->GetNumAnimations(), 0u);
    String command;
    first->GetTypeAndCommand(nullptr, &command);
    EXPECT_STREQ(command.c_str(), "rig/rig.def");
    alone->GetTypeAndCommand(nullptr, &command);
    EXPECT_STREQ(command.c_str(), "rig/rig.md5mesh");
}

TEST_F(MD5Model, BindPoseIsSkinnedOnceUntilReset) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    // The bind pose's box from the end of loading on, before anything is skinned.
    ExpectBindBox(model, "box before the first update");

    EXPECT_EQ(model->Update(0.02f), S_OK);
    ExpectBindPose(model);
    FakeVB* vb = VBOf(model);
    // Normals: the bind-pose face normal of the file's triangle (whose
    // faces are clockwise seen from outside), in the engine's axes; texture
    // coordinates as written.
    Vector3 p0(1, 0, 0), p1(0, 1, 10), p2(2, 0, 5), n;
    n.Cross(p2 - p1, p1 - p0);
    n.Normalize();
    n = ModelMD5Meta::ToEngineAxes(n);
    for (u32 v = 0; v < 3; ++v) {
        const float* data = vb->Vertex(v);
        ExpectNear(Vector3(data[3], data[4], data[5]), n, "normal");
        EXPECT_FLOAT_EQ(data[6], 0.25f * (float)(v + 1));
        EXPECT_FLOAT_EQ(data[7], 0.5f + 0.125f * (float)v);
    }
    EXPECT_EQ(vb->locks, 1);
    EXPECT_EQ(vb->unlocks, 1);
    EXPECT_EQ(model->Update(0.02f), S_FALSE);
    EXPECT_EQ(vb->locks, 1);

    EXPECT_EQ(model->Reset(), S_OK);
    EXPECT_EQ(model->Update(0.02f), S_OK);
    EXPECT_EQ(vb->locks, 2);

    // A failed lock leaves the pose to be skinned again next time.
    model->Reset();
    vb->failLock = true;
    LogCapture capture;
    EXPECT_EQ(model->Update(0.02f), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("[ModelMD5::Update()] Error : \"Called function return"));
    vb->failLock = false;
    EXPECT_EQ(model->Update(0.02f), S_OK);
    EXPECT_EQ(model->Update(0.02f), S_FALSE);
}

TEST_F(MD5Model, FourFramesStepAtTheFrameRateAndTheWorldFollowsTheRoot) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    Matrix start;
    model->GetWorldMatrix(&start);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    EXPECT_TRUE(model->IsAnimationPlaying(0));
    EXPECT_FALSE(model->IsAnimationPlaying(1));
    EXPECT_FLOAT_EQ(model->fTimeLeft, 1.0f);

    const float steps[4] = {0.0f, 0.3f, 0.25f, 0.25f};  // 1.0, 0.7, 0.45 and 0.2 s left
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(model->Update(steps[f]), S_OK);
        ExpectRigFrame(model, f);
        Matrix world;
        model->GetWorldMatrix(&world);
        ExpectNear(Translation(world), Vector3(), "no move while playing");
    }
    EXPECT_TRUE(model->IsAnimationPlaying(0));
    EXPECT_EQ(model->Update(0.15f), S_OK);  // 0.05 s left: still the last frame
    ExpectRigFrame(model, 3);
    EXPECT_FALSE(model->IsAnimationPlaying(0));

    // The end: back to the bind pose, the world where the root went: file
    // (3, 0, 0) is the engine's (0, 0, -3).
    EXPECT_EQ(model->Update(0.1f), S_OK);
    EXPECT_EQ(model->nCurrentAnimation, -1);
    ExpectBindPose(model);
    Matrix world;
    model->GetWorldMatrix(&world);
    ExpectNear(Translation(world), Vector3(0, 0, -3), "moved by the root");
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ((&world._11)[i], (&start._11)[i]);
    EXPECT_EQ(model->Update(0.1f), S_FALSE);

    // Two switches without a frame between them move the world once.
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    for (int f = 0; f < 4; ++f) ASSERT_EQ(model->Update(steps[f]), S_OK);
    ExpectRigFrame(model, 3);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    model->GetWorldMatrix(&world);
    ExpectNear(Translation(world), Vector3(0, 0, -6), "moved once");
}

// A root standing at the waist, 60 up, whose animation starts 10 ahead of
// it and walks one unit along x per frame: the world follows the way the
// root went during the animation, never the root's place itself.
TEST_F(MD5Model, ARootAwayFromTheOriginMovesTheModelByItsWayOnly) {
    zvtools::MD5MeshFile mesh = RigMesh();
    mesh.joints[0].pos[2] = 60.0f;
    mesh.joints[1].pos[2] = 70.0f;
    md5test::Write("rig/waist.md5mesh", zvtools::WriteMD5Mesh(mesh));
    zvtools::MD5Anim anim = RigAnim();
    for (int f = 0; f < 4; ++f) anim.frames[f][0] = 10.0f + (float)f, anim.frames[f][2] = 60.0f;
    md5test::Write("rig/waist.md5anim", zvtools::WriteMD5Anim(anim));
    ModelMD5* model = Make("rig/waist.md5mesh");
    ASSERT_NE(model, nullptr);
    String file("rig/waist.md5anim");
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    auto expectPlace = [model](const Vector3& want, const char* what) {
        Matrix world;
        model->GetWorldMatrix(&world);
        ExpectNear(Translation(world), want, what);
    };

    // Started from the bind pose, ended while free: the root went 3 along
    // x (the engine's -z) and stayed 60 up.
    ASSERT_EQ(model->Update(0.0f), S_OK);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    expectPlace(Vector3(), "started from the bind pose");
    const float steps[5] = {0.0f, 0.3f, 0.25f, 0.25f, 0.3f};  // frames 0 to 3, then the end
    for (float step : steps) ASSERT_EQ(model->Update(step), S_OK);
    ASSERT_EQ(model->nCurrentAnimation, -1);
    expectPlace(Vector3(0, 0, -3), "ended");

    // Started as the default from the bind pose, restarted at its end: 3
    // more; switched at frame 2: the way so far.
    String zero("0");
    ASSERT_EQ(model->SendCommand("SetDefaultAnimation", &zero), S_OK);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(model->Update(i == 0 ? 0.3f : 0.25f), S_OK);
    expectPlace(Vector3(0, 0, -6), "restarted");
    for (int f = 0; f < 3; ++f) ASSERT_EQ(model->Update(steps[f]), S_OK);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    expectPlace(Vector3(0, 0, -8), "switched at frame 2");
}

TEST_F(MD5Model, TheRootDisplacementTurnsWithTheWorld) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    // Unmoved, then a quarter turn about y, then 10 along x.
    Matrix world, turn, move;
    model->GetWorldMatrix(&world);
    turn.SetRotationY(1.57079633f);
    move.SetIdentity();
    move._41 = 10.0f;
    world *= turn;
    world *= move;
    model->SetWorldMatrix(world);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(model->Update(0.3f), S_OK);
    ASSERT_EQ(model->nCurrentAnimation, -1);
    Matrix after;
    model->GetWorldMatrix(&after);
    // (0, 0, -3) turned a quarter about y is (-3, 0, 0).
    ExpectNear(Translation(after), Vector3(7, 0, 0), "turned displacement");
}

TEST_F(MD5Model, TheDefaultAnimationFollowsAndRestarts) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    String zero("0");
    ASSERT_EQ(model->SendCommand("SetDefaultAnimation", &zero), S_OK);
    // Idle: it starts at once, without moving the world.
    EXPECT_EQ(model->nDefaultAnimation, 0);
    EXPECT_TRUE(model->IsAnimationPlaying(0));
    for (int round = 1; round <= 2; ++round) {
        EXPECT_EQ(model->Update(0.0f), S_OK);
        ExpectRigFrame(model, 0);
        EXPECT_EQ(model->Update(0.3f), S_OK);
        EXPECT_EQ(model->Update(0.3f), S_OK);
        EXPECT_EQ(model->Update(0.3f), S_OK);
        ExpectRigFrame(model, 3);
        EXPECT_EQ(model->Update(0.3f), S_OK);  // ends, restarts at frame 0
        EXPECT_TRUE(model->IsAnimationPlaying(0));
        EXPECT_FLOAT_EQ(model->fTimeLeft, 1.0f);
        ExpectRigFrame(model, 0);
        Matrix world;
        model->GetWorldMatrix(&world);
        ExpectNear(Translation(world), Vector3(0, 0, -3.0f * (float)round), "moved at each restart");
    }

    // Already playing: a new default waits for the end.
    model->Update(0.5f);
    const float left = model->fTimeLeft;
    ASSERT_EQ(model->SendCommand("SetDefaultAnimation", &zero), S_OK);
    EXPECT_FLOAT_EQ(model->fTimeLeft, left);
}

TEST_F(MD5Model, SetDefaultAnimationRangeAndText) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    LogCapture capture;
    const char* outOfRange[] = {"1", "-1", "99999999999999999999", "-99999999999"};
    for (const char* text : outOfRange) {
        model->nDefaultAnimation = 0;
        String parameter(text);
        EXPECT_EQ(model->SendCommand("SetDefaultAnimation", &parameter), S_OK) << text;
        EXPECT_EQ(model->nDefaultAnimation, -1) << text;
        EXPECT_EQ(model->nCurrentAnimation, -1) << text;
    }
    // Text without a number reads as 0.
    String word("walk");
    EXPECT_EQ(model->SendCommand("SetDefaultAnimation", &word), S_OK);
    EXPECT_EQ(model->nDefaultAnimation, 0);
    EXPECT_EQ(model->nCurrentAnimation, 0);
    EXPECT_TRUE(capture.log.empty()) << capture.log;

    // Unknown commands (exact comparison) and a missing parameter.
    EXPECT_EQ(model->SendCommand("setdefaultanimation", &word), E_FAIL);
    EXPECT_EQ(model->SendCommand("SetDefaultAnimation ", &word), E_FAIL);
    EXPECT_TRUE(capture.log.empty());
    EXPECT_EQ(model->SendCommand("SetDefaultAnimation", nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(model->SendCommand("LoadAnimation", nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(capture.Count("[ModelMD5::SendCommand()] Error : \"Called function return E_INVALIDARG (0x80070057), "
                            "Msg : 'Invalid Call/Param'"),
              2u)
        << capture.log;
}

TEST_F(MD5Model, LoadAnimationIsNamedAfterTheFileAndSharedByClones) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    model->Update(0.0f);
    Matrix world;
    model->GetWorldMatrix(&world);
    world._42 = 5.0f;
    model->SetWorldMatrix(world);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);

    IInterface* copy = nullptr;
    ASSERT_EQ(model->Clone(&copy), S_OK);
    ModelMD5* clone = dynamic_cast<ModelMD5*>(copy);
    ASSERT_NE(clone, nullptr);
    models.push_back(clone);
    EXPECT_EQ(clone->pMeta, model->pMeta);
    EXPECT_EQ(model->pMeta->nRef, 2u);
    EXPECT_NE(clone->pVB, model->pVB);
    EXPECT_EQ(graphics.vbs.size(), 2u);
    Matrix cloneWorld;
    clone->GetWorldMatrix(&cloneWorld);
    EXPECT_EQ(cloneWorld._42, 5.0f);
    // The animation state is the clone's own.
    EXPECT_EQ(clone->nCurrentAnimation, -1);
    EXPECT_FALSE(clone->IsAnimationPlaying(0));
    ExpectBindBox(clone, "clone box: the bind pose's");

    // An animation loaded through the clone is the source's too.
    String wave("rig/sub/wave.md5anim");
    ASSERT_EQ(clone->SendCommand("LoadAnimation", &wave), S_OK);
    EXPECT_EQ(model->GetNumAnimations(), 2u);
    EXPECT_STREQ(model->GetAnimationName(1).c_str(), "wave.md5anim");
    EXPECT_EQ(model->AddAnimation("wave.md5anim", 1.0f), S_OK);
    EXPECT_EQ(model->nCurrentAnimation, 1);
    String plain("walk.md5anim");
    Paths.Add(String((dir + "rig/").c_str()));
    ASSERT_EQ(model->SendCommand("LoadAnimation", &plain), S_OK);
    EXPECT_STREQ(clone->GetAnimationName(2).c_str(), "walk.md5anim");

    // Bad files leave the animations as they were.
    LogCapture capture;
    String missing("rig/missing.md5anim"), broken("rig/broken.md5anim");
    EXPECT_EQ(clone->SendCommand("LoadAnimation", &missing), ZVE_SUBFUNCTION);
    EXPECT_EQ(clone->SendCommand("LoadAnimation", &broken), ZVE_SUBFUNCTION);
    EXPECT_EQ(model->GetNumAnimations(), 3u);
    EXPECT_EQ(model->pMeta->vAnimationNames.count, 3u);
    EXPECT_EQ(capture.Count("[ModelMD5::SendCommand()] Error : \"Called function return"), 2u) << capture.log;

    // The source goes first; the clone keeps drawing from the shared data.
    models.erase(models.begin());
    EXPECT_EQ(model->Release(), 0u);
    EXPECT_EQ(clone->pMeta->nRef, 1u);
    ASSERT_EQ(clone->AddAnimation(0u, 1.0f), S_OK);
    EXPECT_EQ(clone->Update(0.3f), S_OK);
    ExpectRigFrame(clone, 1);
}

// A rig exported from 3ds Max: its joints are named with spaces, in the mesh
// as in the animation, which animates them.
TEST_F(MD5Model, JointsNamedWithSpacesAreAnimated) {
    zvtools::MD5MeshFile mesh = RigMesh();
    zvtools::MD5Anim anim = RigAnim();
    const char* const names[2] = {"Bip01 Pelvis", "Bip01 L Hand"};
    for (int j = 0; j < 2; ++j) mesh.joints[j].name = anim.joints[j].name = names[j];
    md5test::Write("rig/max.md5mesh", zvtools::WriteMD5Mesh(mesh));
    md5test::Write("rig/max.md5anim", zvtools::WriteMD5Anim(anim));
    ModelMD5* model = Make("rig/max.md5mesh");
    ASSERT_NE(model, nullptr);
    LogCapture capture;
    String file("rig/max.md5anim");
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    EXPECT_FALSE(capture.Has("Warning")) << capture.log;
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    const float steps[4] = {0.0f, 0.25f, 0.25f, 0.25f};
    for (int f = 0; f < 4; ++f) {
        ASSERT_EQ(model->Update(steps[f]), S_OK);
        ExpectRigFrame(model, f);
    }
}

TEST_F(MD5Model, CloneWithoutAVertexBufferFailsQuietly) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    graphics.failCreateVB = true;
    const u32 refs = graphics.ref;
    LogCapture capture;
    IInterface* out = reinterpret_cast<IInterface*>(0x1);
    EXPECT_EQ(model->Clone(&out), E_FAIL);
    EXPECT_EQ(out, reinterpret_cast<IInterface*>(0x1));
    EXPECT_TRUE(capture.log.empty()) << capture.log;
    EXPECT_EQ(model->pMeta->nRef, 1u);
    EXPECT_EQ(graphics.ref, refs);
    EXPECT_TRUE(graphics.removed.empty());
    EXPECT_EQ(model->Clone(nullptr), ZVE_SUBFUNCTION);
}

TEST_F(MD5Model, AnimationsByNameAndIdAndRestarting) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    LogCapture capture;
    EXPECT_EQ(model->AddAnimation("Walk", 1.0f), E_FAIL);
    EXPECT_EQ(model->AddAnimation("", 1.0f), E_FAIL);
    EXPECT_TRUE(capture.log.empty());
    EXPECT_EQ(model->AddAnimation(1u, 1.0f), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("[ModelMD5::AddAnimation(id)] Error : \"Called function return E_FAIL (0x80004005), "
                            "Msg : 'Too big id of Anim'"))
        << capture.log;
    EXPECT_EQ(model->nCurrentAnimation, -1);

    ASSERT_EQ(model->AddAnimation("walk", 0.5f), S_OK);
    model->Update(0.3f);
    model->Update(0.3f);
    ExpectRigFrame(model, 2);
    // Started again while playing: frame 0, the world moved by frame 2's root.
    ASSERT_EQ(model->AddAnimation("walk", 1.0f), S_OK);
    EXPECT_FLOAT_EQ(model->fTimeLeft, 1.0f);
    model->Update(0.0f);
    ExpectRigFrame(model, 0);
    Matrix world;
    model->GetWorldMatrix(&world);
    ExpectNear(Translation(world), Vector3(0, 0, -2), "moved by the switch");
}

// The turn of a unit quaternion q as the files mean it, and the turn a
// followed by b.
struct Quat {
    double x, y, z, w;
};
Quat Then(const Quat& a, const Quat& b) {
    return {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y, b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w, b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
}
Vector3 Turn(const Quat& q, const Vector3& v) {  // v + 2w (u x v) + 2 u x (u x v)
    const double tx = 2 * (q.y * v.z - q.z * v.y), ty = 2 * (q.z * v.x - q.x * v.z), tz = 2 * (q.x * v.y - q.y * v.x);
    return Vector3((float)(v.x + q.w * tx + (q.y * tz - q.z * ty)), (float)(v.y + q.w * ty + (q.z * tx - q.x * tz)),
                   (float)(v.z + q.w * tz + (q.x * ty - q.y * tx)));
}
Quat FromFile(const float* q) {  // x, y, z as written, w <= 0
    const double t = 1.0 - (double)q[0] * q[0] - (double)q[1] * q[1] - (double)q[2] * q[2];
    return {q[0], q[1], q[2], t > 0 ? -std::sqrt(t) : 0.0};
}

// Every frame of an animation that turns its joints about all three axes
// is the file's pose, worked out here in the file's own axes, seen in the
// mirror: a file point (x, y, z) at the engine's (y, z, -x).
TEST_F(MD5Model, EveryFrameIsTheFilesPoseInTheMirror) {
    // The rig's joints: a root turned 30 degrees about x, the arm 5 along
    // its y; new weight offsets.
    zvtools::MD5MeshFile mesh = RigMesh();
    const float rootTurn[3] = {-0.25881905f, 0, 0};
    const Vector3 armBind = Turn(FromFile(rootTurn), Vector3(0, 5, 0)) + Vector3(1, 2, 3);
    const float binds[2][3] = {{1, 2, 3}, {armBind.x, armBind.y, armBind.z}};
    const float weights[4][3] = {{1, 0.5f, -2}, {0, 1, 3}, {2, -1, 0}, {-1, 4, 1}};
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < 2; ++j) mesh.joints[j].pos[c] = binds[j][c], mesh.joints[j].orient[c] = rootTurn[c];
        for (int w = 0; w < 4; ++w) mesh.meshes[0].weights[w].pos[c] = weights[w][c];
    }
    md5test::Write("rig/mirror.md5mesh", zvtools::WriteMD5Mesh(mesh));
    // Three frames at one a second: the root moves and turns about x, then
    // z, then all axes; the arm turns about x, then y, then all axes.
    const float frames[3][9] = {{1, 2, 3, -0.25881905f, 0, 0, 0.38268343f, 0, 0},
                                {2, 1, 3.5f, 0, 0, -0.38268343f, 0, -0.5f, 0},
                                {0, -1, 4, 0.1f, 0.2f, -0.3f, -0.2f, 0.3f, 0.4f}};
    zvtools::MD5Anim anim = RigAnim();
    anim.frameRate = 1.0f;
    anim.joints[0].flags = 63;
    zvtools::AssignMD5StartIndices(&anim);
    anim.baseframe[1].pos[1] = 5.0f, anim.baseframe[1].pos[2] = 0.0f;
    anim.bounds.resize(3);
    anim.frames.clear();
    for (const auto& frame : frames) anim.frames.emplace_back(frame, frame + 9);
    md5test::Write("rig/mirror.md5anim", zvtools::WriteMD5Anim(anim));

    ModelMD5* model = Make("rig/mirror.md5mesh");
    ASSERT_NE(model, nullptr);
    String file("rig/mirror.md5anim");
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    // The rig's three vertices for the joints' places and turns.
    auto expect = [&](const Vector3 place[2], const Quat turn[2], const std::string& what) {
        const int first[3] = {0, 1, 2}, count[3] = {1, 1, 2}, joint[4] = {0, 1, 0, 1};
        const float bias[4] = {1.0f, 1.0f, 0.5f, 0.5f};
        for (int v = 0; v < 3; ++v) {
            Vector3 p;
            for (int w = first[v]; w < first[v] + count[v]; ++w)
                p += (Turn(turn[joint[w]], Vector3(weights[w][0], weights[w][1], weights[w][2])) + place[joint[w]]) *
                     bias[w];
            ExpectNear(VertexOf(model, (u32)v), Vector3(p.y, p.z, -p.x), (what + std::to_string(v)).c_str());
        }
    };
    ASSERT_EQ(model->Update(0.0f), S_OK);
    const Vector3 bindPlace[2] = {Vector3(1, 2, 3), armBind};
    const Quat bindTurn[2] = {FromFile(rootTurn), FromFile(rootTurn)};
    expect(bindPlace, bindTurn, "bind pose, vertex ");
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    for (int f = 0; f < 3; ++f) {
        ASSERT_EQ(model->Update(f == 0 ? 0.0f : 1.0f), S_OK);
        const Quat root = FromFile(frames[f] + 3);
        const Vector3 rootPlace(frames[f][0], frames[f][1], frames[f][2]);
        const Vector3 place[2] = {rootPlace, Turn(root, Vector3(0, 5, 0)) + rootPlace};
        const Quat turn[2] = {root, Then(FromFile(frames[f] + 6), root)};
        expect(place, turn, "frame " + std::to_string(f) + ", vertex ");
    }
}

TEST_F(MD5Model, OddElapsedTimesCountAsNothing) {
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -0.5f, std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (float elapsed : odd) {
        EXPECT_EQ(model->Update(elapsed), S_OK);
        EXPECT_FLOAT_EQ(model->fTimeLeft, 1.0f);
        ExpectRigFrame(model, 0);
    }
    // A huge step ends the animation in one go.
    EXPECT_EQ(model->Update(1e30f), S_OK);
    EXPECT_EQ(model->nCurrentAnimation, -1);
    ExpectBindPose(model);
}

TEST_F(MD5Model, NonFiniteRootPositionsDoNotMoveTheWorld) {
    zvtools::MD5Anim anim = RigAnim();
    for (auto& frame : anim.frames) frame[0] = std::numeric_limits<float>::quiet_NaN();
    md5test::Write("rig/nan.md5anim", zvtools::WriteMD5Anim(anim));
    ModelMD5* model = Rig();
    ASSERT_NE(model, nullptr);
    String file("rig/nan.md5anim");
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    ASSERT_EQ(model->AddAnimation(1u, 1.0f), S_OK);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(model->Update(0.3f), S_OK);
    EXPECT_EQ(model->nCurrentAnimation, -1);
    Matrix world;
    model->GetWorldMatrix(&world);
    ExpectNear(Translation(world), Vector3(), "not moved");
    ExpectBindPose(model);
}

// The origin turned a quarter about z and moved to (5, 0, 0), the arm 10
// above it with the same turn.  An animation that names only the origin
// leaves the arm where the bind pose has it relative to the origin.  The
// arm is written first, so the pose must be built parent first whatever
// the file order.
TEST_F(MD5Model, AJointTheAnimationDoesNotNameKeepsItsBindPose) {
    zvtools::MD5MeshFile mesh = RigMesh();
    std::swap(mesh.joints[0], mesh.joints[1]);
    mesh.joints[0].parent = 1;
    mesh.joints[1].pos[0] = 5.0f;
    mesh.joints[0].pos[0] = 5.0f;
    for (zvtools::MD5Joint& joint : mesh.joints) joint.orient[2] = -kHalfSqrt2;
    for (zvtools::MD5Weight& weight : mesh.meshes[0].weights) weight.joint = 1 - weight.joint;
    md5test::Write("rig/turned.md5mesh", zvtools::WriteMD5Mesh(mesh));
    zvtools::MD5Anim anim = RigAnim();
    anim.joints.resize(1);
    anim.joints[0].flags = 3;  // position x and y (a line of one digit would be too short to be read)
    anim.baseframe.resize(1);
    anim.baseframe[0].pos[0] = 5.0f;
    anim.baseframe[0].orient[2] = -kHalfSqrt2;
    for (size_t f = 0; f < anim.frames.size(); ++f) anim.frames[f] = {5.0f + (float)f, 0.0f};
    md5test::Write("rig/origin.md5anim", zvtools::WriteMD5Anim(anim));

    ModelMD5* model = Make("rig/turned.md5mesh");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->Update(0.0f), S_OK);
    // Arm weight (0, 1, 0) turned a quarter about z is (-1, 0, 0).
    ExpectNear(VertexOf(model, 1), Engine(4, 0, 10), "bind pose");
    ExpectNear(VertexOf(model, 0), Engine(5, 1, 0), "bind pose");
    String file("rig/origin.md5anim");
    LogCapture capture;
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    EXPECT_TRUE(capture.Has("Anim.NumBones != Model.NumBones"));
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    for (int f = 0; f < 4; ++f) {
        ASSERT_EQ(model->Update(f == 0 ? 0.0f : 0.25f), S_OK);
        ExpectNear(VertexOf(model, 1), Engine(4.0f + (float)f, 0, 10), "arm follows the origin");
        ExpectNear(VertexOf(model, 0), Engine(5.0f + (float)f, 1, 0), "origin");
    }
}

TEST_F(MD5Model, ModelsOfDifferentSizesShareTheScratchPose) {
    ModelMD5* big = Make("rig/three.md5mesh");
    ModelMD5* rig = Rig();
    ASSERT_TRUE(big && rig);
    ASSERT_GE(ModelMD5::s_vAnimatedBones.count, 3u);
    ModelMD5* alone = Rig();
    ASSERT_NE(alone, nullptr);
    ASSERT_EQ(rig->AddAnimation(0u, 1.0f), S_OK);
    for (int f = 0; f < 3; ++f) {
        ASSERT_EQ(big->Reset(), S_OK);
        ASSERT_EQ(big->Update(0.1f), S_OK);
        ASSERT_EQ(rig->Update(f == 0 ? 0.0f : 0.25f), S_OK);
        ExpectRigFrame(rig, f);
    }
    // The big model's bind pose is the same as when it is updated alone.
    ASSERT_EQ(alone->Update(0.0f), S_OK);
    ModelMD5* other = Make("rig/three.md5mesh");
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(other->Update(0.0f), S_OK);
    for (u32 v = 0; v < 4; ++v) ExpectNear(VertexOf(big, v), VertexOf(other, v), "big model");
}

// An empty mesh (a helper object of the exporter) is kept as an empty range
// that is never drawn; the instance skins and draws the other meshes.
TEST_F(MD5Model, EmptyMeshesAreNotDrawn) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    zvtools::MD5Mesh helper;
    helper.shader = "models/helper";
    file.meshes.insert(file.meshes.begin() + 1, helper);
    md5test::Write("rig/helper.md5mesh", zvtools::WriteMD5Mesh(file));
    ModelMD5* model = Make("rig/helper.md5mesh");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->pMeta->vSubMeshes.count, 3u);
    ASSERT_EQ(model->Update(0.0f), S_OK);
    ASSERT_EQ(model->Render(), S_OK);
    ASSERT_EQ(graphics.draws.size(), 2u);
    EXPECT_EQ(graphics.draws[0].range.nNumIndices, model->pMeta->vSubMeshes[0].nNumIndices);
    EXPECT_EQ(graphics.draws[1].range.nFirstVertex, model->pMeta->vSubMeshes[2].nFirstVertex);
    EXPECT_EQ(VBOf(model)->numVertices, 7u);
}

TEST_F(MD5Model, RenderDrawsEverySubmeshWithItsTexture) {
    mkdir((dir + "models").c_str(), 0755);
    md5test::Write("models/body.tga", "t");
    std::remove((dir + "models/body_d.tga").c_str());
    std::remove((dir + "models/body_df.tga").c_str());
    md5test::Write("rig/two.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh(true)));
    ModelMD5* model = Make("rig/two.md5mesh");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->Update(0.0f), S_OK);
    ASSERT_EQ(model->Render(), S_OK);
    EXPECT_EQ(VBOf(model)->actives, 1);
    ASSERT_EQ(graphics.materials.size(), 1u);
    const D3DMATERIAL9& m = graphics.materials[0];
    EXPECT_EQ(m.Diffuse.r, 1.0f);
    EXPECT_EQ(m.Ambient.g, 1.0f);
    EXPECT_EQ(m.Specular.b, 1.0f);
    EXPECT_EQ(m.Emissive.r, 0.0f);
    EXPECT_EQ(m.Power, 1.0f);
    ASSERT_EQ(graphics.draws.size(), 2u);
    for (u32 i = 0; i < 2; ++i) {
        const DrawPrimitiveInfos& want = model->pMeta->vSubMeshes[i];
        const DrawPrimitiveInfos& got = graphics.draws[i].range;
        EXPECT_EQ(got.nFirstVertex, want.nFirstVertex);
        EXPECT_EQ(got.nNumVertices, want.nNumVertices);
        EXPECT_EQ(got.nFirstIndex, want.nFirstIndex);
        EXPECT_EQ(got.nNumIndices, want.nNumIndices);
        EXPECT_EQ(graphics.draws[i].type, D3DPT_TRIANGLELIST);
        EXPECT_TRUE(graphics.draws[i].indexed);
        EXPECT_EQ(graphics.draws[i].world._42, model->matWorld._42);
    }
    ASSERT_EQ(graphics.textures.size(), 1u);
    EXPECT_EQ(graphics.textures[0]->fileName, "models/body.tga");
    EXPECT_EQ(graphics.textures[0]->actives, 1);
    EXPECT_EQ(graphics.desactivations, 1);

    GeometryBuffers buffers = {nullptr, nullptr, 7};
    EXPECT_EQ(model->GetBuffers(&buffers), S_OK);
    EXPECT_EQ(buffers.pVB, model->pVB);
    EXPECT_EQ(buffers.pIB, model->pMeta->pIB);
    EXPECT_EQ(buffers.nReserved, 0u);
    EXPECT_EQ(model->GetBuffers(nullptr), E_FAIL);

    // The first failing draw ends the frame's drawing.
    graphics.draws.clear();
    graphics.failDraw = true;
    LogCapture capture;
    EXPECT_EQ(model->Render(), ZVE_SUBFUNCTION);
    EXPECT_EQ(graphics.draws.size(), 1u);
    EXPECT_TRUE(capture.Has("[ModelMD5::Render()] Error : \"Called function return"));
    graphics.failDraw = false;
    VBOf(model)->failActive = true;
    graphics.draws.clear();
    EXPECT_EQ(model->Render(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(graphics.draws.empty());
}

// Broken files never reach an instance: the factory refuses them, frees
// what it made and leaves the manager untouched.
TEST_F(MD5Model, MalformedFilesAreRefusedByTheFactory) {
    std::vector<std::pair<std::string, std::string>> files;
    const std::string sound = zvtools::WriteMD5Mesh(RigMesh());
    zvtools::MD5MeshFile mesh = RigMesh();
    mesh.meshes[0].tris[0].v[2] = 3;
    files.push_back({"index", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.joints[0].parent = 1;
    files.push_back({"cycle", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.joints[1].parent = 7;
    files.push_back({"parent", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.meshes[0].verts[2].numWeights = 3;
    files.push_back({"range", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.meshes[0].weights[1].joint = 2;
    files.push_back({"joint", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.numJointsOverride = 2000000000;
    files.push_back({"count", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.joints[0].name = std::string(3000, 'n');
    files.push_back({"longname", zvtools::WriteMD5Mesh(mesh)});
    mesh = RigMesh();
    mesh.meshes[0].shader = std::string(3000, 's');
    files.push_back({"longshader", zvtools::WriteMD5Mesh(mesh)});
    // Cut anywhere before the last weight: some needed line is missing.
    const size_t lastWeight = sound.rfind("\tweight");
    for (size_t cut = 0; cut < lastWeight; cut += 23) files.push_back({"cut" + std::to_string(cut), sound.substr(0, cut)});

    LogCapture capture;
    for (const auto& file : files) {
        const std::string name = "rig/bad_" + file.first + ".md5mesh";
        md5test::Write(name, file.second);
        IGeometry* out = reinterpret_cast<IGeometry*>(0x1);
        EXPECT_LT(ModelMD5::Create("md5", name.c_str(), &graphics, &out), 0) << file.first;
        EXPECT_EQ(out, nullptr) << file.first;
    }
    EXPECT_TRUE(graphics.removed.empty());
    EXPECT_EQ(graphics.ref, 1u);
    for (md5test::FakeIB* ib : graphics.ibs) EXPECT_EQ(ib->ref, 0u);

    // Version 11 only warns, and the model animates.
    mesh = RigMesh();
    mesh.version = 11;
    md5test::Write("rig/v11.md5mesh", zvtools::WriteMD5Mesh(mesh));
    zvtools::MD5Anim anim = RigAnim();
    anim.version = 11;
    md5test::Write("rig/v11.md5anim", zvtools::WriteMD5Anim(anim));
    ModelMD5* model = Make("rig/v11.md5mesh");
    ASSERT_NE(model, nullptr);
    String file("rig/v11.md5anim");
    ASSERT_EQ(model->SendCommand("LoadAnimation", &file), S_OK);
    EXPECT_EQ(capture.Count("; Error : MD5Version != 10; Try to load...\""), 2u);
    ASSERT_EQ(model->AddAnimation(0u, 1.0f), S_OK);
    ASSERT_EQ(model->Update(0.3f), S_OK);
    ExpectRigFrame(model, 1);

    // Animations whose components would be read past a frame are refused.
    anim = RigAnim();
    anim.joints[1].startIndex = 4;
    md5test::Write("rig/past.md5anim", zvtools::WriteMD5Anim(anim));
    String past("rig/past.md5anim");
    EXPECT_EQ(model->SendCommand("LoadAnimation", &past), ZVE_SUBFUNCTION);
    EXPECT_EQ(model->GetNumAnimations(), 1u);
}

}  // namespace
