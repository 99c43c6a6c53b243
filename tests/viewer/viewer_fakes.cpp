// Registers the stand-in geometry kinds of viewer_support.h: the models of
// type "zvt" and the plain geometries of type "zvg".
#include "viewer_support.h"

namespace {

u32 FillFakeModel(PlugIn* blank) {
    blank->name = "FakeModel";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "zvt";
    blank->factory = PlugIn::FromGeometry(viewertest::FakeModel::Create);
    return 0;
}

u32 FillFakeGeometry(PlugIn* blank) {
    blank->name = "FakeGeometry";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "zvg";
    blank->factory = PlugIn::FromGeometry(viewertest::FakeGeometry::Create);
    return 0;
}

PlugInRegistrar g_fakeModel(ZVPLUGIN_GEOMETRY, FillFakeModel);
PlugInRegistrar g_fakeGeometry(ZVPLUGIN_GEOMETRY, FillFakeGeometry);

}  // namespace
