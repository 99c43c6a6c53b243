// Model3DS instances: the plug-in record, the factory's checks, data shared
// between instances of one file, world matrices, destruction, and the
// operations a static model refuses.
#include "model3ds_support.h"

namespace m3dstest {
namespace {

zvtools::Scene3ds SmallScene() {
    zvtools::Scene3ds scene;
    scene.materials = {Matte("grey", 128, 128, 128)};
    const float lo[3] = {-1, -1, 0}, hi[3] = {1, 1, 2};
    scene.meshes = {zvtools::BoxMesh3ds("box", lo, hi, "grey")};
    return scene;
}

TEST(Model3DSPlugIn, RecordAndRegistration) {
    PlugIn record;
    EXPECT_EQ(Model3DS::GetPlugInInfos(&record), 0u);
    EXPECT_STREQ(record.name.c_str(), "Model3DS");
    EXPECT_EQ(record.major, 0);
    EXPECT_EQ(record.minor, 30);
    EXPECT_STREQ(record.type.c_str(), "3ds");
    EXPECT_EQ(record.AsGeometry(), &Model3DS::Create);

    // The registrar put the record into the geometry registry a core copies.
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    const Vector<PlugIn>& registry = static_cast<ZVCore*>(core)->PlugInGeometries;
    int found = 0;
    for (u32 i = 0; i < registry.count; ++i) {
        if (registry[i].type == "3ds") {
            ++found;
            EXPECT_STREQ(registry[i].name.c_str(), "Model3DS");
        }
    }
    EXPECT_EQ(found, 1);
    core->Release();
}

TEST_F(Model3DSTest, FactoryChecksItsArguments) {
    Start();
    Write("small.3ds", SmallScene());
    EXPECT_EQ(Model3DS::Create("3ds", "small.3ds", graphics, nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[Model3DS::Create()] Error : \"Called function return E_INVALIDARG (0x80070057), Msg : "
                              "'Invalid Call/Param'\""))
        << log;
    IGeometry* untouched = reinterpret_cast<IGeometry*>(0x10);
    for (const char* type : {"3DS", "3ds ", "", "3d"}) {
        log.clear();
        EXPECT_EQ(Model3DS::Create(type, "small.3ds", graphics, &untouched), ZVE_SUBFUNCTION) << type;
        EXPECT_TRUE(Contains(log, "Msg : 'Unsupported Type'")) << type;
        EXPECT_EQ(untouched, reinterpret_cast<IGeometry*>(0x10));
    }
    // Without a graphics manager the instance is made and destroyed again.
    log.clear();
    IGeometry* out = reinterpret_cast<IGeometry*>(0x10);
    EXPECT_EQ(Model3DS::Create("3ds", "small.3ds", nullptr, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(Contains(log, "[Model3DS::Init()] Error : \"Called function return E_INVALIDARG"));
    // The type test is the manager's too: "3DS" is no known type there.
    log.clear();
    IGeometry* g = nullptr;
    EXPECT_EQ(graphics->CreateGeometry("3DS", "small.3ds", &g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Unknow Type : <3DS>"));
}

TEST_F(Model3DSTest, InstancesOfOneFileShareOneLoad) {
    Start();
    Write("shared.3ds", SmallScene());
    const u32 vbsBefore = zv->vVBs.count;
    const u32 refsBefore = zv->nRef;
    Model3DS* first = Load("shared.3ds");
    ASSERT_NE(first, nullptr);
    const u32 vbsAfterFirst = zv->vVBs.count;
    Model3DS* second = Load("shared.3ds");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->pMeta, second->pMeta);
    EXPECT_EQ(first->pMeta->nRef, 2u);
    EXPECT_EQ(zv->vVBs.count, vbsAfterFirst);
    EXPECT_GT(vbsAfterFirst, vbsBefore);
    EXPECT_EQ(Count(log, "Infos of the 3DS model : "), 1u);
    EXPECT_EQ(Count(log, "[ZVGraphics::CreateClonedGeometry()] Type=<3ds> Command=<shared.3ds>"), 1u) << log;
    EXPECT_EQ(zv->vGeometries.count, 2u);
    EXPECT_EQ(zv->nRef, refsBefore + 2);  // one per instance

    GeometryBuffers a = {nullptr, nullptr, 7}, b = {nullptr, nullptr, 7};
    EXPECT_EQ(first->GetBuffers(&a), S_OK);
    EXPECT_EQ(second->GetBuffers(&b), S_OK);
    EXPECT_EQ(a.pVB, b.pVB);
    EXPECT_EQ(a.pIB, b.pIB);
    EXPECT_EQ(a.nReserved, 0u);
    EXPECT_EQ(first->GetBuffers(nullptr), E_FAIL);

    // The first goes; the second still draws with the shared buffers.
    Drop(first);
    EXPECT_EQ(second->pMeta->nRef, 1u);
    EXPECT_EQ(zv->vGeometries.count, 1u);
    EXPECT_EQ(zv->nRef, refsBefore + 1);
    Camera(V(0, 3, -6), V(0, 0, 0));
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 1u);
    EXPECT_EQ(graphics->GetStats().nPrimitives, 12u);
    // The second goes: buffers and textures go with the data.
    Drop(second);
    for (u32 i = 0; i < zv->vVBs.count; ++i) EXPECT_EQ(zv->vVBs[i], zv->pShadowVB);
    EXPECT_EQ(zv->vIBs.count, 0u);
    EXPECT_EQ(zv->vGeometries.count, 0u);
    EXPECT_EQ(zv->nRef, refsBefore);
}

TEST_F(Model3DSTest, ClonesKeepTheirOwnWorldMatrix) {
    Start();
    Write("clone.3ds", SmallScene());
    Model3DS* source = Load("clone.3ds");
    ASSERT_NE(source, nullptr);
    Matrix identity;
    identity.SetIdentity();
    Matrix m;
    source->GetWorldMatrix(&m);
    EXPECT_EQ(std::memcmp(&m, &identity, sizeof(m)), 0);

    Matrix moved = identity;
    moved._41 = 5.0f;
    moved._43 = -2.0f;
    source->SetWorldMatrix(moved);
    IGeometry* g = nullptr;
    ASSERT_EQ(graphics->CreateGeometry("3ds", "clone.3ds", &g), S_OK);
    geometries.push_back(g);
    Model3DS* clone = dynamic_cast<Model3DS*>(g);
    ASSERT_NE(clone, nullptr);
    clone->GetWorldMatrix(&m);
    EXPECT_EQ(std::memcmp(&m, &moved, sizeof(m)), 0);

    source->SetWorldMatrix(identity);
    clone->GetWorldMatrix(&m);
    EXPECT_EQ(m._41, 5.0f);
    Matrix other = identity;
    other._42 = 7.0f;
    clone->SetWorldMatrix(other);
    source->GetWorldMatrix(&m);
    EXPECT_EQ(m._42, 0.0f);

    // The box stays in model space whatever the world matrix (file z up).
    Vector3 lo, hi;
    IPhyEntity* entity = dynamic_cast<IPhyEntity*>(static_cast<IModel*>(clone));
    ASSERT_NE(entity, nullptr);
    entity->GetBoundingBox(&lo, &hi);
    EXPECT_EQ(lo, V(-1, 0, -1));
    EXPECT_EQ(hi, V(1, 2, 1));

    // A clone asked for directly.
    IInterface* direct = nullptr;
    ASSERT_EQ(clone->Clone(&direct), S_OK);
    Model3DS* third = dynamic_cast<Model3DS*>(direct);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->nRef, 1u);
    EXPECT_EQ(third->pMeta, source->pMeta);
    EXPECT_EQ(source->pMeta->nRef, 3u);
    third->GetWorldMatrix(&m);
    EXPECT_EQ(m._42, 7.0f);
    // It is not in the manager's list; it still removes itself cleanly.
    ASSERT_EQ(zv->vGeometries.Add(third), S_OK);
    third->Release();
    EXPECT_EQ(source->pMeta->nRef, 2u);
    EXPECT_EQ(clone->Clone(nullptr), ZVE_SUBFUNCTION);
}

TEST_F(Model3DSTest, StaticModelRefusesAnimationAndCommands) {
    Start();
    Write("static.3ds", SmallScene());
    Model3DS* model = Load("static.3ds");
    ASSERT_NE(model, nullptr);
    log.clear();
    String parameter("anything");
    EXPECT_EQ(model->SendCommand("play", &parameter), E_FAIL);
    EXPECT_EQ(model->SendCommand("", nullptr), E_FAIL);
    EXPECT_EQ(model->AddAnimation(String("walk"), 1.0f), E_FAIL);
    EXPECT_EQ(model->AddAnimation(0u, 1.0f), E_FAIL);
    EXPECT_EQ(model->GetNumAnimations(), 0u);
    EXPECT_TRUE(model->GetAnimationName(0).IsEmpty());
    EXPECT_FALSE(model->IsAnimationPlaying(0));
    EXPECT_EQ(model->Update(0.5f), S_OK);
    EXPECT_EQ(model->Reset(), S_FALSE);
    EXPECT_TRUE(log.empty()) << log;
    String type, command;
    EXPECT_EQ(model->GetTypeAndCommand(&type, &command), S_OK);
    EXPECT_STREQ(type.c_str(), "3ds");
    EXPECT_STREQ(command.c_str(), "static.3ds");
    EXPECT_STREQ(model->GetName().c_str(), "Model3DS");
    EXPECT_EQ(&model->GetName(), &model->GetName());
}

TEST(Model3DSLife, ReleaseOfAnUnreferencedInstanceDoesNothing) {
    Model3DS* model = new Model3DS();
    EXPECT_EQ(model->Release(), 0u);
    EXPECT_EQ(model->nRef, 0u);
    EXPECT_EQ(model->AddRef(), 1u);
    EXPECT_EQ(model->AddRef(), 2u);
    EXPECT_EQ(model->Release(), 1u);
    EXPECT_EQ(model->Release(), 0u);  // destroyed: no Meta, no manager to leave
}

}  // namespace
}  // namespace m3dstest
