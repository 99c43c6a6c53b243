// The Cal3D instance on the two-bone rig: skinned positions and boxes at
// given times, blending by weight, the end of an animation, restart
// requests, the rest pose, cloning, the factory and drawing.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cal3d_model_support.h"

using namespace cal3dtest;

namespace {

const float kEps = 1e-5f;

// expected: a point (or a box's corner) in the file's axes; the instance
// hands it over in the engine's, (x, z, y).
void ExpectNear(const Vector3& expected, const Vector3& actual, const char* what) {
    const Vector3 engine(expected.x, expected.z, expected.y);
    EXPECT_NEAR(engine.x, actual.x, kEps) << what;
    EXPECT_NEAR(engine.y, actual.y, kEps) << what;
    EXPECT_NEAR(engine.z, actual.z, kEps) << what;
}

// The rig's child turned by the quarter turn about y: every child vertex
// turns about (0, 0, 1), x' = -z, z' = x (relative to that point).
void ExpectBentQuarter(ModelCal3D* model, float lift = 0.0f) {
    ExpectNear(Vector3(1, 0, lift), Skinned(model, 0), "v0");
    ExpectNear(Vector3(-1, 0, 2 + lift), Skinned(model, 1), "v1");
    ExpectNear(Vector3(-1, 0, 1 + lift), Skinned(model, 2), "v2");
    ExpectNear(Vector3(0.5f, 0, 1.5f + lift), Skinned(model, 3), "v3");
}

void ExpectRest(ModelCal3D* model, float lift = 0.0f) {
    ExpectNear(Vector3(1, 0, lift), Skinned(model, 0), "v0");
    ExpectNear(Vector3(1, 0, 2 + lift), Skinned(model, 1), "v1");
    ExpectNear(Vector3(0, 0, 2 + lift), Skinned(model, 2), "v2");
    ExpectNear(Vector3(1, 0, 1 + lift), Skinned(model, 3), "v3");
}

Quaternion QuarterY() { return Quaternion(0, (float)std::sin(M_PI / 4), 0, (float)std::cos(M_PI / 4)); }

class Cal3DInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        cfg = Rig().Write("inst_");
        model = CreateModel(&graphics, cfg);
        ASSERT_NE(nullptr, model);
    }
    void TearDown() override {
        if (model) model->Release();
        EXPECT_EQ(0, graphics.live.vbs);
        EXPECT_EQ(0, graphics.live.ibs);
        EXPECT_EQ(0, graphics.live.textures);
    }

    FakeGraphics graphics;
    std::string cfg;
    ModelCal3D* model = nullptr;
};

}  // namespace

TEST_F(Cal3DInstanceTest, RestPoseBeforeAnyAnimation) {
    // Init skins the rest pose once; every Update without animation again.
    ExpectRest(model);
    Vector3 lo, hi;
    model->GetBoundingBox(&lo, &hi);
    ExpectNear(Vector3(0, 0, 0), lo, "min");
    ExpectNear(Vector3(1, 0, 2), hi, "max");
    ASSERT_EQ(S_OK, model->Update(0.5f));
    ExpectRest(model);

    FakeVB* vb = static_cast<FakeVB*>(model->pVB);
    EXPECT_EQ(0x112u, vb->fvf);
    EXPECT_EQ(4u, vb->count);
    // Texture coordinates and normals travel with the vertices; the
    // shadow-volume copy holds the positions.
    EXPECT_EQ(0.5f, vb->At(2).u);
    EXPECT_EQ(0.5f, vb->At(2).v);
    EXPECT_EQ(1.0f, vb->At(1).nx);
    ExpectNear(Vector3(0, 0, 2), vb->positions[2], "copy");
}

TEST_F(Cal3DInstanceTest, BendReachesItsKeyAndMovesTheBox) {
    ASSERT_EQ(S_OK, model->AddAnimation("bend", 1.0f));
    ASSERT_EQ(S_OK, model->Update(1.0f));  // exactly on the second key
    ExpectBentQuarter(model);
    FakeVB* vb = static_cast<FakeVB*>(model->pVB);
    EXPECT_NEAR(0.0f, vb->At(1).nx, kEps);  // the normal turned with the bone: the file's +z, the engine's +y
    EXPECT_NEAR(1.0f, vb->At(1).ny, kEps);
    Vector3 lo, hi;
    model->GetBoundingBox(&lo, &hi);
    ExpectNear(Vector3(-1, 0, 0), lo, "min");
    ExpectNear(Vector3(1, 0, 2), hi, "max");
}

TEST_F(Cal3DInstanceTest, BetweenKeysTheRotationIsInterpolatedWithoutRenormalising) {
    ASSERT_EQ(S_OK, model->AddAnimation(0u, 1.0f));
    ASSERT_EQ(S_OK, model->Update(0.5f));
    // Half-way between no turn and the quarter turn, used as it is.
    Quaternion q;
    q.Lerp(Quaternion(0, 0, 0, 1), QuarterY(), 0.5f);
    Vector3 expected(0, 0, 1);
    expected *= q;
    expected += Vector3(0, 0, 1);
    ExpectNear(expected, Skinned(model, 2), "v2");
}

TEST_F(Cal3DInstanceTest, LiftInterpolatesTheRootTranslation) {
    ASSERT_EQ(S_OK, model->AddAnimation("lift", 1.0f));
    ASSERT_EQ(S_OK, model->Update(0.5f));
    ExpectRest(model, 0.5f);
    ASSERT_EQ(S_OK, model->Update(0.5f));
    ExpectRest(model, 1.0f);
    Vector3 lo, hi;
    model->GetBoundingBox(&lo, &hi);
    ExpectNear(Vector3(0, 0, 1), lo, "min");
    ExpectNear(Vector3(1, 0, 3), hi, "max");
}

// At 1 s lift has risen the root by 1 and holds the child at rest (no
// turn); bend and flip both give the child the quarter turn Q about y.  The
// child's rotation is the weighted average (1 - f) * 1 + f * Q, f the share
// of bend and flip in the weights, used without renormalising: with
// a = f sin 45 and b = 1 - f + f cos 45 it turns by the angle of (a, b) and
// scales by a^2 + b^2, so a point (x, 0, z) of the child, taken from the
// joint at (0, 0, 2), goes to ((b^2 - a^2) x - 2ab z, 0, 2ab x + (b^2 - a^2) z).
// Vertex 3 is half on the root, half on the child.  Expected points in the
// files' axes.
TEST_F(Cal3DInstanceTest, AnimationsBlendByTheirShareOfTheWeights) {
    struct Animation {
        const char* name;
        float weight;
        float share;  // weight / sum of the weights
    };
    struct Case {
        std::vector<Animation> animations;
        Vector3 v1, v2, v3;
    };
    const Case cases[] = {
        // f = 0.75, weights summing to 1 and to 4.
        {{{"lift", 0.25f, 0.25f}, {"bend", 0.75f, 0.75f}},
         Vector3(-0.5f, 0, 3.155330f), Vector3(-0.827665f, 0, 2.327665f), Vector3(0.663833f, 0, 2.413833f)},
        {{{"lift", 1.0f, 0.25f}, {"bend", 3.0f, 0.75f}},
         Vector3(-0.5f, 0, 3.155330f), Vector3(-0.827665f, 0, 2.327665f), Vector3(0.663833f, 0, 2.413833f)},
        // f = 0.25, the turning animation first, weights summing to 2.
        {{{"bend", 0.5f, 0.25f}, {"lift", 1.5f, 0.75f}},
         Vector3(0.5f, 0, 3.155330f), Vector3(-0.327665f, 0, 2.827665f), Vector3(0.913833f, 0, 2.163833f)},
        // Three on the child: f = 0.5 (sum 4) and f = 0.875 (sum 8).
        {{{"lift", 2.0f, 0.5f}, {"bend", 1.0f, 0.25f}, {"flip", 1.0f, 0.25f}},
         Vector3(0.0f, 0, 3.207107f), Vector3(-0.603553f, 0, 2.603553f), Vector3(0.801777f, 0, 2.301777f)},
        {{{"lift", 1.0f, 0.125f}, {"bend", 2.0f, 0.25f}, {"flip", 5.0f, 0.625f}},
         Vector3(-0.75f, 0, 3.090609f), Vector3(-0.920305f, 0, 2.170305f), Vector3(0.585152f, 0, 2.460152f)},
    };
    for (const Case& c : cases) {
        ModelCal3D* blended = CreateModel(&graphics, cfg);
        ASSERT_NE(nullptr, blended);
        std::string what;
        for (const Animation& a : c.animations) {
            ASSERT_EQ(S_OK, blended->AddAnimation(a.name, a.weight));
            what += std::string(a.name) + " " + std::to_string(a.weight) + " ";
        }
        ASSERT_EQ(S_OK, blended->Update(1.0f));
        ASSERT_EQ(c.animations.size(), blended->vAnimInfos.count);
        for (u32 i = 0; i < blended->vAnimInfos.count; ++i)
            EXPECT_FLOAT_EQ(c.animations[i].share, blended->vAnimInfos.data[i].fNormWeight) << what << i;
        SCOPED_TRACE(what);
        ExpectNear(Vector3(1, 0, 1), Skinned(blended, 0), "v0");  // the root only has lift's track
        ExpectNear(c.v1, Skinned(blended, 1), "v1");
        ExpectNear(c.v2, Skinned(blended, 2), "v2");
        ExpectNear(c.v3, Skinned(blended, 3), "v3");
        blended->Release();
    }
}

TEST_F(Cal3DInstanceTest, KeysOnOppositeHemispheresDoNotCollapseTheMesh) {
    // flip goes from q to -q: the same turn all along.
    ASSERT_EQ(S_OK, model->AddAnimation("flip", 1.0f));
    ASSERT_EQ(S_OK, model->Update(1.0f));
    ExpectBentQuarter(model);
}

TEST_F(Cal3DInstanceTest, BlendingOppositeHemispheresKeepsTheTurn) {
    // bend at 1 s gives q; flip at 0 s gives q; a third animation holds -q.
    Rig rig;
    zvtools::Cal3DAnimation neg = rig.flip;
    neg.tracks[0].keyFrames.resize(1);
    for (float& c : neg.tracks[0].keyFrames[0].rotation) c = -c;
    neg.duration = 5.0f;
    zvtools::WriteCal3DFile(DataDir() + "inst2_neg.caf", zvtools::WriteCal3DAnimation(neg));
    rig.lines.push_back({"animation", "neg.caf"});
    std::string other = rig.Write("inst2_");
    ModelCal3D* second = CreateModel(&graphics, other);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(S_OK, second->AddAnimation("bend", 1.0f));
    ASSERT_EQ(S_OK, second->AddAnimation("neg", 1.0f));
    ASSERT_EQ(S_OK, second->Update(1.0f));
    ExpectBentQuarter(second);
    second->Release();
}

TEST_F(Cal3DInstanceTest, AnimationEndsInTheUpdateThatRunsItOut) {
    ASSERT_EQ(S_OK, model->AddAnimation("bend", 1.0f));
    const u32 bend = 0;
    for (int step = 1; step <= 3; ++step) {
        ASSERT_EQ(S_OK, model->Update(0.5f));
        EXPECT_TRUE(model->IsAnimationPlaying(bend)) << step;
        if (step >= 2) ExpectBentQuarter(model);  // 1.0 s and 1.5 s
    }
    ASSERT_EQ(S_OK, model->Update(0.5f));
    EXPECT_FALSE(model->IsAnimationPlaying(bend));
    ExpectRest(model);
}

TEST_F(Cal3DInstanceTest, RestartRequestsLoopAnAnimationOnce) {
    ASSERT_EQ(S_OK, model->AddAnimation(0u, 1.0f));
    // A request while it plays is kept for the next Update only.
    EXPECT_EQ(S_FALSE, model->AddAnimation(0u, 5.0f));
    EXPECT_EQ(S_FALSE, model->AddAnimation(0u, 7.0f));  // ignored: one request already
    ASSERT_EQ(1u, model->vPendingAnimInfos.count);
    EXPECT_EQ(5.0f, model->vPendingAnimInfos.data[0].fWeight);
    ASSERT_EQ(S_OK, model->Update(0.5f));
    EXPECT_EQ(0u, model->vPendingAnimInfos.count);
    ASSERT_EQ(S_OK, model->Update(1.0f));

    // Requested before the Update in which it runs out: restarts at 0 with
    // the new weight, the time run past the end dropped.
    EXPECT_EQ(S_FALSE, model->AddAnimation(0u, 2.0f));
    ASSERT_EQ(S_OK, model->Update(0.75f));
    ASSERT_TRUE(model->IsAnimationPlaying(0));
    EXPECT_EQ(2.0f, model->vAnimInfos.data[0].fWeight);
    EXPECT_EQ(2.0f, model->vAnimInfos.data[0].fTimeLeft);
    ExpectRest(model);  // time 0: no turn yet
    ASSERT_EQ(S_OK, model->Update(1.0f));
    ExpectBentQuarter(model);

    // Not requested again: it ends.
    ASSERT_EQ(S_OK, model->Update(1.0f));
    EXPECT_FALSE(model->IsAnimationPlaying(0));
    EXPECT_EQ(0u, model->vAnimInfos.count);
}

TEST_F(Cal3DInstanceTest, AnimationQueriesAndRefusals) {
    EXPECT_EQ(3u, model->GetNumAnimations());
    EXPECT_STREQ("bend", model->GetAnimationName(0).c_str());
    EXPECT_STREQ("flip", model->GetAnimationName(2).c_str());
    EXPECT_STREQ("", model->GetAnimationName(3).c_str());
    EXPECT_FALSE(model->IsAnimationPlaying(7));

    LogCapture log;
    EXPECT_EQ(E_FAIL, model->AddAnimation("Bend", 1.0f));  // names are case-sensitive
    EXPECT_EQ("", log.log);
    const std::string failed = "\n[ModelCal3D::AddAnimation(id)] Error : \"Called function return E_FAIL (0x80004005), Msg : '";
    EXPECT_EQ(ZVE_SUBFUNCTION, model->AddAnimation(3u, 1.0f));
    EXPECT_TRUE(log.Has(failed + "Too big id of Anim'\"\nAt ")) << log.log;
    const float bad[] = {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()};
    for (float weight : bad) EXPECT_EQ(ZVE_SUBFUNCTION, model->AddAnimation(0u, weight));
    EXPECT_EQ(3u, log.Count(failed + "Null or Negative Weight'\"\nAt "));
    EXPECT_EQ(ZVE_SUBFUNCTION, model->AddAnimation(0u, std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(log.Has(failed + "Infinite Weight'\"\nAt "));
    EXPECT_EQ(0u, model->vAnimInfos.count);

    // A broken clock stops nothing for good.
    ASSERT_EQ(S_OK, model->AddAnimation(0u, 1.0f));
    ASSERT_EQ(S_OK, model->Update(std::numeric_limits<float>::quiet_NaN()));
    ASSERT_EQ(S_OK, model->Update(2.0f));
    EXPECT_FALSE(model->IsAnimationPlaying(0));
}

TEST_F(Cal3DInstanceTest, ClonesShareTheModelButNotThePose) {
    Matrix moved;
    moved.SetIdentity();
    moved._41 = 5.0f;
    model->SetWorldMatrix(moved);
    IInterface* copy = nullptr;
    ASSERT_EQ(S_OK, model->Clone(&copy));
    ModelCal3D* clone = dynamic_cast<ModelCal3D*>(copy);
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(model->pMeta, clone->pMeta);
    EXPECT_EQ(2u, model->pMeta->nRef);
    EXPECT_NE(model->pVB, clone->pVB);
    EXPECT_EQ(2u, graphics.ref);  // the clone's own reference
    Matrix world;
    clone->GetWorldMatrix(&world);
    EXPECT_EQ(5.0f, world._41);
    Vector3 lo(9, 9, 9), hi(9, 9, 9);
    clone->GetBoundingBox(&lo, &hi);
    ExpectNear(Vector3(0, 0, 0), lo, "clone min");
    ExpectNear(Vector3(0, 0, 0), hi, "clone max");

    ASSERT_EQ(S_OK, clone->AddAnimation("bend", 1.0f));
    EXPECT_FALSE(model->IsAnimationPlaying(0));
    ASSERT_EQ(S_OK, clone->Update(1.0f));
    ExpectBentQuarter(clone);
    ASSERT_EQ(S_OK, model->Update(1.0f));
    ExpectRest(model);

    String type, command;
    ASSERT_EQ(S_OK, clone->GetTypeAndCommand(&type, &command));
    EXPECT_STREQ("cal3d", type.c_str());
    EXPECT_STREQ(cfg.c_str(), command.c_str());

    // The original goes first; the clone still draws.
    model->Release();
    model = nullptr;
    EXPECT_EQ(1u, clone->pMeta->nRef);
    ASSERT_EQ(S_OK, clone->Update(0.5f));
    graphics.draws.clear();
    ASSERT_EQ(S_OK, clone->Render());
    EXPECT_EQ(1u, graphics.draws.size());
    EXPECT_EQ(0u, clone->Release());
    EXPECT_EQ(2u, graphics.removed.size());
}

TEST_F(Cal3DInstanceTest, ReferenceCountingAcrossBothInterfaces) {
    IPhyEntity* entity = model;
    IModel* asModel = model;
    EXPECT_EQ(static_cast<void*>(model), dynamic_cast<void*>(entity));
    EXPECT_EQ(2u, asModel->AddRef());
    EXPECT_EQ(1u, asModel->Release());
    EXPECT_STREQ("ModelCal3D", model->GetName().c_str());
    EXPECT_EQ(E_FAIL, model->SendCommand("anything", nullptr));
    EXPECT_EQ(S_FALSE, model->Reset());

    GeometryBuffers buffers = {nullptr, nullptr, 7};
    EXPECT_EQ(E_FAIL, model->GetBuffers(nullptr));
    ASSERT_EQ(S_OK, model->GetBuffers(&buffers));
    EXPECT_EQ(model->pVB, buffers.pVB);
    EXPECT_EQ(model->pMeta->pIB, buffers.pIB);
    EXPECT_EQ(0u, buffers.nReserved);

    // The axes change while skinning: a description without a scale gives
    // new instances the identity.
    Matrix world, expected;
    model->GetWorldMatrix(&world);
    expected.SetIdentity();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(expected.m[i / 4][i % 4], world.m[i / 4][i % 4], 1e-6f) << i;
}

TEST_F(Cal3DInstanceTest, RenderDrawsEachMaterialWithItsTexture) {
    ASSERT_EQ(S_OK, model->Render());
    ASSERT_EQ(1u, graphics.draws.size());
    const DrawCall& call = graphics.draws[0];
    EXPECT_EQ(0u, call.range.nFirstVertex);
    EXPECT_EQ(4u, call.range.nNumVertices);
    EXPECT_EQ(0u, call.range.nFirstIndex);
    EXPECT_EQ(6u, call.range.nNumIndices);
    EXPECT_EQ(DataDir() + "inst_rig.tga", call.texture);
    EXPECT_NEAR(128.0f / 255.0f, call.diffuseRed, 1e-6f);
    EXPECT_EQ(0, std::memcmp(&call.world, &model->matWorld, sizeof(Matrix)));

    LogCapture log;
    graphics.failDraw = true;
    EXPECT_EQ(ZVE_SUBFUNCTION, model->Render());
    EXPECT_TRUE(log.Has("[ModelCal3D::Render()] Error : \"Called function return E_FAIL (0x80004005), Msg : '-'"));
    graphics.failDraw = false;
    static_cast<FakeVB*>(model->pVB)->failLock = true;
    EXPECT_EQ(ZVE_SUBFUNCTION, model->Update(0.1f));
    EXPECT_TRUE(log.Has("[ModelCal3D::Update()] Error : \"Called function return E_FAIL (0x80004005), Msg : '-'"));
}

TEST(Cal3DFactory, RefusesBadArgumentsAndCleansUp) {
    FakeGraphics graphics;
    std::string cfg = Rig().Write("fac_");
    LogCapture log;
    IGeometry* out = reinterpret_cast<IGeometry*>(0x1);
    EXPECT_EQ(ZVE_SUBFUNCTION, ModelCal3D::Create("Cal3D", cfg.c_str(), &graphics, &out));
    EXPECT_EQ(reinterpret_cast<IGeometry*>(0x1), out);
    EXPECT_TRUE(log.Has("[ModelCal3D::Create()] Error : \"Called function return E_FAIL (0x80004005), Msg : 'Unsupported Type'"));
    EXPECT_EQ(ZVE_SUBFUNCTION, ModelCal3D::Create("cal3d", cfg.c_str(), &graphics, nullptr));
    EXPECT_EQ(ZVE_SUBFUNCTION, ModelCal3D::Create("cal3d", cfg.c_str(), nullptr, &out));
    EXPECT_EQ(nullptr, out);

    // Init failing after the model was loaded gives everything back.
    graphics.failCreateVB = true;
    out = nullptr;
    EXPECT_EQ(ZVE_SUBFUNCTION, ModelCal3D::Create("cal3d", cfg.c_str(), &graphics, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, graphics.live.ibs);
    EXPECT_EQ(0, graphics.live.textures);
    EXPECT_TRUE(graphics.removed.empty());  // never listed, never removed
    EXPECT_EQ(1u, graphics.ref);

    // A clone whose buffer cannot be made is refused quietly.
    graphics.failCreateVB = false;
    ASSERT_EQ(S_OK, ModelCal3D::Create("cal3d", cfg.c_str(), &graphics, &out));
    graphics.ref = 2;  // the reference CreateGeometry takes
    graphics.failCreateVB = true;
    IInterface* copy = reinterpret_cast<IInterface*>(0x1);
    EXPECT_EQ(E_FAIL, out->Clone(&copy));
    EXPECT_EQ(reinterpret_cast<IInterface*>(0x1), copy);
    EXPECT_EQ(ZVE_SUBFUNCTION, out->Clone(nullptr));
    EXPECT_EQ(2u, graphics.ref);
    EXPECT_EQ(0u, out->Release());
    EXPECT_EQ(1u, graphics.ref);
    EXPECT_EQ(0, graphics.live.vbs);
}

namespace {

// The side a triangle shows outward by the engine's rule, the one the
// shadow volumes use: (P2 - P1) x (P1 - P0).
Vector3 OuterSide(const Vector3& p0, const Vector3& p1, const Vector3& p2) {
    Vector3 outer;
    outer.Cross(p2 - p1, p1 - p0);
    return outer;
}

Vector3 SkinnedNormal(ModelCal3D* model, u32 i) {
    const ModelCal3D::SkinnedVertex& v = static_cast<FakeVB*>(model->pVB)->At(i);
    return Vector3(v.nx, v.ny, v.nz);
}

}  // namespace

// A closed box as exporters write it: the files wind every face
// counter-clockwise seen from outside, in their right-handed axes, and the
// normals they store agree.  Loaded, every face's outer side by the
// engine's rule, in the engine's axes, points along the file's normal (as
// skinned) and away from the box's centre.
TEST(Cal3DInstanceFaces, ClosedBoxFacesPointOutOfTheBox) {
    const float centre[3] = {1.0f, -2.0f, 3.0f}, half[3] = {0.5f, 1.0f, 1.5f};
    const Vector3 engineCentre(1.0f, 3.0f, -2.0f);  // (x, z, y)
    FakeGraphics graphics;
    ModelCal3D* model = CreateModel(&graphics, WriteCal3DBox("outer_box", centre, half));
    ASSERT_NE(nullptr, model);
    const std::vector<u16>& ib = graphics.lastIB->indices;
    ASSERT_EQ(36u, ib.size());
    const Vector3 fileCentre(centre[0], centre[1], centre[2]);
    for (size_t t = 0; t < ib.size(); t += 3) {
        // The box as written: (P1 - P0) x (P2 - P0) is the outer side of a
        // right-handed file, and the stored normal agrees.
        const ModelCal3DMeta::Vertex* file = model->pMeta->vVertices.data;
        Vector3 fileOuter;
        fileOuter.Cross(file[ib[t + 1]].vPos - file[ib[t]].vPos, file[ib[t + 2]].vPos - file[ib[t]].vPos);
        ASSERT_GT(fileOuter.Dot(file[ib[t]].vNormal), 0.0) << "triangle " << t / 3;
        ASSERT_GT(fileOuter.Dot(file[ib[t]].vPos - fileCentre), 0.0) << "triangle " << t / 3;

        const Vector3 p0 = Skinned(model, ib[t]), p1 = Skinned(model, ib[t + 1]), p2 = Skinned(model, ib[t + 2]);
        const Vector3 outer = OuterSide(p0, p1, p2);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_GT(outer.Dot(SkinnedNormal(model, ib[t + k])), 0.0) << "triangle " << t / 3 << ", corner " << k;
        EXPECT_GT(outer.Dot((p0 + p1 + p2) * (1.0f / 3.0f) - engineCentre), 0.0) << "triangle " << t / 3;
    }
    model->Release();
}

// The demo column's files wind every face counter-clockwise seen from
// outside, as right-handed files do.  Through the mirror into the engine's
// axes each face keeps its outer side: the engine's (P2 - P1) x (P1 - P0) of
// the index buffer's corners points the way of the skinned normals, posed
// or not.
TEST(Cal3DInstanceFaces, DemoColumnFacesOutwardInTheEngineAxes) {
    FakeGraphics graphics;
    const std::string cfg = zvtools::WriteCal3DDemoModel(DataDir(), "faces", "", "");
    Paths.Add(DataDir().c_str());  // the description names its files relative to the search path
    ModelCal3D* model = CreateModel(&graphics, cfg);
    Paths.Remove(Paths.count - 1);
    ASSERT_NE(nullptr, model);
    ASSERT_EQ(S_OK, model->AddAnimation("faces_bend", 1.0f));
    for (int frame = 0; frame < 2; ++frame) {
        const std::vector<u16>& ib = graphics.lastIB->indices;
        for (size_t t = 0; t + 2 < ib.size(); t += 3) {
            const Vector3 outer =
                OuterSide(Skinned(model, ib[t]), Skinned(model, ib[t + 1]), Skinned(model, ib[t + 2]));
            double outward = 0.0;
            for (size_t k = 0; k < 3; ++k) outward += outer.Dot(SkinnedNormal(model, ib[t + k]));
            EXPECT_GT(outward, 0.0) << "triangle " << t / 3 << ", frame " << frame;
        }
        ASSERT_EQ(S_OK, model->Update(1.0f));  // bent by 60 degrees
    }
    model->Release();
}

// The skin matrices put each bone's rows in the engine's order: what the
// instance hands over must be, to the bit, the skinning done in the file's
// axes with the point and normal mirrored afterwards, as it once was done.
TEST(Cal3DInstanceFaces, SkinningInTheEngineAxesIsTheFileAxesSkinningMirrored) {
    FakeGraphics graphics;
    const std::string cfg = zvtools::WriteCal3DDemoModel(DataDir(), "mirror", "", "");
    Paths.Add(DataDir().c_str());
    ModelCal3D* model = CreateModel(&graphics, cfg);
    Paths.Remove(Paths.count - 1);
    ASSERT_NE(nullptr, model);
    ASSERT_EQ(S_OK, model->AddAnimation("mirror_bend", 1.0f));
    ASSERT_EQ(S_OK, model->Update(0.35f));  // between keys: every bone turned
    const ModelCal3DMeta& meta = *model->pMeta;
    const FakeVB* vb = static_cast<FakeVB*>(model->pVB);
    for (u32 i = 0; i < meta.vVertices.count; ++i) {
        const ModelCal3DMeta::Vertex& vertex = meta.vVertices.data[i];
        float p[3] = {0, 0, 0}, n[3] = {0, 0, 0};
        for (u32 k = 0; k < vertex.nNumInfluences; ++k) {
            const ModelCal3DMeta::Influence& influence = meta.vInfluences.data[vertex.nFirstInfluence + k];
            const ModelCal3D::AnimatedBone& bone = ModelCal3D::s_vAnimatedBones.data[influence.nBone];
            const double x = bone.qSkinRotation.x, y = bone.qSkinRotation.y, z = bone.qSkinRotation.z,
                         w = bone.qSkinRotation.w;
            const float r[3][3] = {{(float)(w * w + x * x - y * y - z * z), (float)(2.0 * (x * y + w * z)),
                                    (float)(2.0 * (x * z - w * y))},
                                   {(float)(2.0 * (x * y - w * z)), (float)(w * w - x * x + y * y - z * z),
                                    (float)(2.0 * (y * z + w * x))},
                                   {(float)(2.0 * (x * z + w * y)), (float)(2.0 * (y * z - w * x)),
                                    (float)(w * w - x * x - y * y + z * z)}};
            const float t[3] = {bone.vSkinTranslation.x, bone.vSkinTranslation.y, bone.vSkinTranslation.z};
            const Vector3& vp = vertex.vPos;
            const Vector3& vn = vertex.vNormal;
            for (int c = 0; c < 3; ++c) {
                p[c] += (r[c][0] * vp.x + r[c][1] * vp.y + r[c][2] * vp.z + t[c]) * influence.fWeight;
                n[c] += (r[c][0] * vn.x + r[c][1] * vn.y + r[c][2] * vn.z) * influence.fWeight;
            }
        }
        const float length = 1.0f / std::sqrt(n[0] * n[0] + n[2] * n[2] + n[1] * n[1]);
        const ModelCal3D::SkinnedVertex& out = vb->At(i);
        EXPECT_EQ(p[0], out.x) << i;
        EXPECT_EQ(p[2], out.y) << i;
        EXPECT_EQ(p[1], out.z) << i;
        EXPECT_EQ(n[0] * length, out.nx) << i;
        EXPECT_EQ(n[2] * length, out.ny) << i;
        EXPECT_EQ(n[1] * length, out.nz) << i;
    }
    model->Release();
}
