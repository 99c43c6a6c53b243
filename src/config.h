// The scene file reader ("zvscene.txt") and the point-light record.
#pragma once

#include "zvstuff.h"

// A light in Direct3D 9's light layout (104 bytes), handed to the device as it is.
struct Light {
    u32 Type;  // 1 point, 2 spot, 3 directional
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Ambient;
    Vector3 Position;
    Vector3 Direction;
    float Range;
    float Falloff;
    float Attenuation0;
    float Attenuation1;
    float Attenuation2;
    float Theta;
    float Phi;
};
static_assert(sizeof(Light) == 104, "Light has Direct3D 9's light layout");

class Config {
public:
    // The scene file the programs read from their own directory.
    static constexpr const char* kSceneFile = "zvscene.txt";

    Config();
    ~Config();

    // Reads the scene file, looked up through Paths.  S_OK (whatever warnings
    // were written) or ZVE_SUBFUNCTION when the file cannot be opened.  Resets
    // the scalar fields to their defaults; appends to the vectors.
    HRESULT Load(const String& fileName);
    // A negative resolution of the display command (which the u32 fields
    // would hold as a huge size) is refused: an error entry naming it and
    // E_INVALIDARG.  S_OK for any other size.
    HRESULT CheckResolution() const;
    // A camera entry that can give no view is refused: an eye or a lookat
    // holding nan or an infinity, or a way from the eye to the lookat point
    // beyond the float range.  An error entry that names the entry of
    // kSceneFile, its eye and lookat, and why; E_INVALIDARG.  S_OK otherwise.
    HRESULT CheckCamera() const;
    // A pointlight entry holding nan or an infinity is refused: an error
    // entry that names the first such entry (its number among the file's
    // pointlight entries), the value's inner line and its text; E_INVALIDARG.
    // S_OK when every light is finite.
    HRESULT CheckLights() const;
    // A model entry whose position holds nan or an infinity is refused the
    // same way: the first such entry (its number among the file's model
    // entries), 'position' and the value's text; E_INVALIDARG.  S_OK when
    // every model's position is finite.
    HRESULT CheckModels() const;
    // The graphics manager refused the camera entry as the view from `eye` to
    // `at` (the look-at point the programs put one unit in front of the eye):
    // an error entry that names the entry of kSceneFile, its eye and lookat,
    // and why it cannot give a view.
    void ReportUnusableCamera(const Vector3& at) const;

    // The first entry of a command (pointlight, model) holding a number that
    // reads as nan or an infinity: its number among the file's entries of
    // that command counted from 1 (0 while there is none), its inner line's
    // name and the number's text.
    struct NonFiniteNumber {
        u32 entry;
        String field;
        String text;
    };

    Vector<String> paths;
    Vector<String> models;
    Vector<Vector4> positions;  // x, y, z, angle in radians; one per model
    Vector<Light> lights;
    u32 adapter;
    u32 width;
    u32 height;
    bool windowed;
    bool strict;
    bool performance;
    Vector3 eye;
    Vector3 lookAt;
    NonFiniteNumber nonFiniteLight;
    NonFiniteNumber nonFiniteModel;
};
