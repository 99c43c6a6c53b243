// Plug-in records and the two process-wide registries.
//
// Each component source file holds one static PlugInRegistrar; before main
// runs it fills a PlugIn record through the component's GetPlugInInfos and
// adds it to the manager registry (graphics, input, physics) or to the
// geometry registry (font and models).  CreateCore copies both registries
// into the core, which creates each manager from the first record of its type
// and hands the geometry registry to the graphics manager.
#pragma once

#include "zvstuff.h"

class ZVCore;
class IGraphics;
class IGeometry;

// The factory field holds one of the two forms below; the registry a record
// sits in tells which.
typedef void (*PlugInFactory)();
// Manager registry: allocates the manager with one reference, null on failure.
typedef IInterface* (*ManagerFactory)();
// Geometry registry: called only by the graphics manager's CreateGeometry.
typedef HRESULT (*GeometryFactory)(const String& type, const String& command, IGraphics* graphics,
                                   IGeometry** out);

struct PlugIn {
    String name;         // "ZVGraphicsD3D9", "Font", ...
    u16 major = 0;       // version 0.30 in every record
    u16 minor = 0;
    String type;         // "Graphics", "Input", "Physics"; "font", "3ds", "cal3d", "md5"
    PlugInFactory factory = nullptr;

    static PlugInFactory FromManager(ManagerFactory f) { return reinterpret_cast<PlugInFactory>(f); }
    static PlugInFactory FromGeometry(GeometryFactory f) { return reinterpret_cast<PlugInFactory>(f); }
    ManagerFactory AsManager() const { return reinterpret_cast<ManagerFactory>(factory); }
    GeometryFactory AsGeometry() const { return reinterpret_cast<GeometryFactory>(factory); }
};

// Fills a blank record (name, version 0.30, type, factory); returns 0.
typedef u32 (*PlugInFill)(PlugIn* blank);

#define ZVPLUGIN_MANAGER 1u
#define ZVPLUGIN_GEOMETRY 2u

// With a core: replaces the core's PlugInManagers and PlugInGeometries by
// copies of the registries.  Without: fills a blank record with `fill` and
// appends it to the registry of `kind` (any other kind keeps nothing).
void RegisterPlugIn(u32 kind, PlugInFill fill, ZVCore* core);

class PlugInRegistrar {
public:
    PlugInRegistrar(u32 kind, PlugInFill fill) { RegisterPlugIn(kind, fill, nullptr); }
};
