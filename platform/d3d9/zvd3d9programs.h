// The fixed-function programs of the Direct3D 9 device: the key a draw's
// state gives, and the cache of the GL programs made for the keys.
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstddef>
#include <map>

#include "zvd3d9.h"

namespace zvd3d9 {

// Vertex attribute locations the programs are linked with.
enum Attribute { kPos = 0, kNormal = 1, kColor0 = 2, kColor1 = 3, kTex = 4 };

// Lights a program can read (the length of its light arrays).
constexpr int kProgramLights = 8;

// What the programs read of one draw: the device's states, the vertex layout
// and what the device worked out of them for the draw.  The pointers are the
// device's own and are read only while the draw is prepared.
struct DrawState {
    const DWORD* renderStates = nullptr;   // indexed by D3DRENDERSTATETYPE
    const DWORD* stage0 = nullptr;         // texture stage 0, indexed by D3DTEXTURESTAGESTATETYPE
    bool texture = false;                  // a texture is set on stage 0
    bool rhw = false;                      // pre-transformed vertices
    bool hasColor0 = false, hasColor1 = false;   // the vertices carry a diffuse / specular colour
    const D3DMATRIX* world = nullptr;
    const D3DMATRIX* view = nullptr;
    const D3DMATRIX* projection = nullptr;
    const D3DVIEWPORT9* viewport = nullptr;
    const D3DMATERIAL9* material = nullptr;
    bool lighting = false;                 // D3DRS_LIGHTING, and the vertices not pre-transformed
    int lightCount = 0;                    // enabled lights while lighting, else 0
    const D3DLIGHT9* lights[kProgramLights] = {};
    bool colourless = false;               // the draw keeps the target's colour (WritesNoColour)
    bool general = false;                  // every draw through the general programs (test switch)
};

// A draw whose blend keeps the target's colour as it is: it changes only depth
// and stencil, and is drawn without colour (colour writes off and a program
// that computes none).  Never for the general programs.
bool WritesNoColour(const DWORD* renderStates, bool general);

// The fields of a program key.  Each has one description in the programs'
// source (how it is read from a DrawState, when the programs read it, and its
// GLSL declaration: a constant in a specialised program, a uniform set for
// each draw in the general one); the key's ordering and equality take every
// field.
enum KeyField {
    // The kind of program: general (state read from uniforms), flat or smooth
    // shading, colourless (depth and stencil only).
    kGeneral, kFlat, kColourless,
    // Vertex program.
    kRhw, kLighting, kHasColor0, kHasColor1,
    kSpecular,   // D3DRS_SPECULARENABLE: specular lighting, and its adding after stage 0
    kLocalViewer, kNormalize, kLights,
    // Fragment program: stage 0 and the alpha test.
    kTexture, kColorOp, kColorArg1, kColorArg2, kAlphaOp, kAlphaArg1, kAlphaArg2, kAlphaTest, kAlphaFunc,
    kKeyFieldCount
};

struct ProgramKey {
    int value[kKeyFieldCount] = {};
    int& operator[](KeyField f) { return value[f]; }
    int operator[](KeyField f) const { return value[f]; }
    bool operator<(const ProgramKey& o) const {
        return std::lexicographical_compare(value, value + kKeyFieldCount, o.value, o.value + kKeyFieldCount);
    }
    bool operator==(const ProgramKey& o) const { return std::equal(value, value + kKeyFieldCount, o.value); }
    bool operator!=(const ProgramKey& o) const { return !(*this == o); }
};

// The key of the program a draw uses.  State the program ignores is left out
// (and values the programs read alike share one), so that few programs are made.
ProgramKey KeyFor(const DrawState& state);

// Uniform locations of a program (-1 for what it has as a constant).
struct ProgramUniforms {
    GLint key[kKeyFieldCount];   // the key fields, read as uniforms by the general programs only
    GLint world, view, proj, normalMatrix, viewport, matDiffuse, matAmbient, matSpecular, matEmissive, matPower,
        sources, globalAmbient, lightType, lightDiffuse, lightSpecular, lightAmbient, lightPos, lightDir, lightAtt,
        lightSpot, texture, tfactor, alphaRef;
};

struct LinkedProgram {
    GLuint program = 0;   // 0 when it failed to build: the general program stands in
    bool general = false;   // reads the key's fields as uniforms
    ProgramUniforms uniforms = {};
};

// The programs of one device, made in its GL context.
class ProgramCache {
public:
    // Makes the general programs (smooth and flat); false when they fail.
    bool Init();
    // Deletes every program; the device's context must be current.
    void Release();
    // Uses the program of the draw's state and sets its uniforms.
    void ApplyFixedFunction(const DrawState& state);
    // Keys a program was made for so far, the general programs included.
    size_t Count() const;

private:
    const LinkedProgram& ProgramFor(const ProgramKey& key);
    std::map<ProgramKey, LinkedProgram> programs_;
};

}  // namespace zvd3d9
