// The plug-in registries.
#include "zvplugin.h"

#include "zvcore.h"

void RegisterPlugIn(u32 kind, PlugInFill fill, ZVCore* core) {
    // Constructed on the first call, whichever registrar or core comes first.
    static Vector<PlugIn> managers;
    static Vector<PlugIn> geometries;

    if (core) {
        core->PlugInManagers = managers;
        core->PlugInGeometries = geometries;
        return;
    }
    if (!fill) return;
    PlugIn blank;
    fill(&blank);
    if (kind == ZVPLUGIN_MANAGER)
        managers.Add(blank);
    else if (kind == ZVPLUGIN_GEOMETRY)
        geometries.Add(blank);
}
