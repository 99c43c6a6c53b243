// The fixed-function programs of the Direct3D 9 device on OpenGL.
//
// How a draw's state becomes a program:
// - Before each draw the device gathers what the programs read into a
//   DrawState: its render states, texture stage 0, the matrices, material and
//   viewport, and what it works out of them once for the draw (whether the
//   vertices are lit, the enabled lights, whether the draw keeps the target's
//   colour).
// - KeyFor turns the DrawState into a ProgramKey through the field table
//   kFields below: one row per field, telling how the field is read, when the
//   programs read it and how the GLSL declares it.  State a program does not
//   read is left out of the key (and values the programs read alike share
//   one), so that draws the programs treat alike share one program.
// - A key names a specialised program: the table's fields are compiled in as
//   constants, so that the compiler drops the branches the state does not
//   take (above all the alpha test's discard, which would make the rasteriser
//   shade every fragment before it tests depth and stencil).  It is built on
//   the first draw that needs it and kept in the device's ProgramCache.
// - The general programs (smooth and flat) have the same fields as uniforms,
//   set from the table for each draw; they are made with the device and stand
//   in for any specialised program that fails to build (the compiler's log
//   tells why).  A test switch draws everything through them, to compare.
// - The cache lives as long as the device and its GL context.  The context is
//   the device's own (made on its hidden window), so a lost device or a Reset
//   leaves the programs as they are: nothing is rebuilt.
//
// What the programs compute:
// - Vertex processing reproduces Direct3D 9's fixed-function pipeline per
//   vertex: the D3D light model (ambient, diffuse, specular with the half
//   vector and material power, attenuation 1/(a0 + a1 d + a2 d^2), the range
//   cut-off, spot cones, material colour sources, global ambient, emissive),
//   computed in camera space.  GL's own fixed-function lighting differs in
//   attenuation, range and specular, so it is not used.  Pre-transformed
//   (XYZRHW) vertices are taken in pixels of the viewport with Direct3D 9's
//   pixel centres at integer coordinates.
// - GL rasterises with its origin at the bottom, so a horizontal edge that
//   passes exactly through pixel centres would fill the row below the one
//   Direct3D fills; every vertex is moved up by 1/64 pixel so that such ties
//   fall the way Direct3D's top-left rule settles them.
// - Texture stage 0 is combined in the fragment program (the common colour and
//   alpha operations with the DIFFUSE, CURRENT, TEXTURE, TFACTOR and SPECULAR
//   arguments); a stage with no texture reads the texture as opaque white.
//   The alpha test's discard exists only in programs drawn with the test on,
//   so that the rasteriser can test depth and stencil before it shades.
#include "zvd3d9programs.h"

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <string>

#include "zvd3d9color.h"

namespace zvd3d9 {

namespace {

const char* kVertexSource = R"(
in vec4 aPos;
in vec3 aNormal;
in vec4 aColor0;
in vec4 aColor1;
in vec4 aTex;
uniform mat4 uWorld;
uniform mat4 uView;
uniform mat4 uProj;
uniform mat3 uNormalMatrix;
uniform vec4 uViewport;
uniform vec4 uMatDiffuse;
uniform vec4 uMatAmbient;
uniform vec4 uMatSpecular;
uniform vec4 uMatEmissive;
uniform float uMatPower;
uniform ivec4 uSources;
uniform vec4 uGlobalAmbient;
uniform int uLightType[8];
uniform vec4 uLightDiffuse[8];
uniform vec4 uLightSpecular[8];
uniform vec4 uLightAmbient[8];
uniform vec3 uLightPos[8];
uniform vec3 uLightDir[8];
uniform vec4 uLightAtt[8];
uniform vec4 uLightSpot[8];
SHADE out vec4 vDiffuse;
SHADE out vec4 vSpecular;
out vec4 vTex;

vec4 source(int s, vec4 material, vec4 c1, vec4 c2) {
    if (s == 1 && uHasColor0) return c1;
    if (s == 2 && uHasColor1) return c2;
    return material;
}

void main() {
    vec4 c1 = uHasColor0 ? aColor0.zyxw : vec4(1.0);
    vec4 c2 = uHasColor1 ? aColor1.zyxw : vec4(0.0);
    vTex = aTex;
    if (uRhw) {
        float w = aPos.w != 0.0 ? 1.0 / aPos.w : 1.0;
        vec2 ndc = vec2((aPos.x + 0.5 - uViewport.x) / uViewport.z * 2.0 - 1.0,
                        1.0 - (aPos.y + 0.5 - uViewport.y) / uViewport.w * 2.0);
        ndc.y += 2.0 / (64.0 * uViewport.w);
        gl_Position = vec4(ndc * w, (2.0 * aPos.z - 1.0) * w, w);
        vDiffuse = c1;
        vSpecular = c2;
        return;
    }
    vec4 viewPos = uView * (uWorld * vec4(aPos.xyz, 1.0));
    vec4 clip = uProj * viewPos;
    gl_Position = vec4(clip.x, clip.y + clip.w * 2.0 / (64.0 * uViewport.w), 2.0 * clip.z - clip.w, clip.w);
    if (!uLighting) {
        vDiffuse = c1;
        vSpecular = c2;
        return;
    }
    vec3 P = viewPos.xyz;
    vec3 N = uNormalMatrix * aNormal;
    if (uNormalize) {
        float len = length(N);
        if (len > 0.0) N /= len;
    }
    vec4 Cd = source(uSources.x, uMatDiffuse, c1, c2);
    vec4 Ca = source(uSources.y, uMatAmbient, c1, c2);
    vec4 Cs = source(uSources.z, uMatSpecular, c1, c2);
    vec4 Ce = source(uSources.w, uMatEmissive, c1, c2);
    vec3 amb = vec3(0.0);
    vec3 dif = vec3(0.0);
    vec3 spe = vec3(0.0);
    for (int i = 0; i < 8; ++i) {
        if (i >= uNumLights) break;
        vec3 L;
        float atten = 1.0;
        float spot = 1.0;
        if (uLightType[i] == 3) {
            L = -uLightDir[i];
        } else {
            vec3 d = uLightPos[i] - P;
            float dist = length(d);
            if (dist > uLightAtt[i].w) continue;
            L = dist > 0.0 ? d / dist : vec3(0.0, 0.0, -1.0);
            float den = uLightAtt[i].x + uLightAtt[i].y * dist + uLightAtt[i].z * dist * dist;
            atten = den > 0.0 ? 1.0 / den : 1.0;
            if (uLightType[i] == 2) {
                float rho = dot(-L, uLightDir[i]);
                if (rho <= uLightSpot[i].y)
                    spot = 0.0;
                else if (rho < uLightSpot[i].x)
                    spot = pow((rho - uLightSpot[i].y) / (uLightSpot[i].x - uLightSpot[i].y), uLightSpot[i].z);
            }
        }
        float f = atten * spot;
        amb += uLightAmbient[i].rgb * f;
        float ndl = dot(N, L);
        if (ndl > 0.0) {
            dif += uLightDiffuse[i].rgb * (ndl * f);
            if (uSpecular) {
                vec3 V = uLocalViewer ? normalize(-P) : vec3(0.0, 0.0, 1.0);
                vec3 H = normalize(V + L);
                float ndh = max(dot(N, H), 0.0);
                float s = uMatPower > 0.0 ? pow(ndh, uMatPower) : 1.0;
                spe += uLightSpecular[i].rgb * (s * f);
            }
        }
    }
    vec3 color = Ce.rgb + Ca.rgb * (uGlobalAmbient.rgb + amb) + Cd.rgb * dif;
    vDiffuse = vec4(clamp(color, 0.0, 1.0), clamp(Cd.a, 0.0, 1.0));
    vSpecular = vec4(clamp(Cs.rgb * spe, 0.0, 1.0), 0.0);
}
)";

const char* kFragmentSource = R"(
SHADE in vec4 vDiffuse;
SHADE in vec4 vSpecular;
in vec4 vTex;
uniform sampler2D uTexture;
uniform vec4 uTFactor;
uniform float uAlphaRef;

vec4 arg(int a, vec4 tex) {
    int s = a & 15;
    vec4 r = vDiffuse;
    if (s == 2) r = tex;
    else if (s == 3) r = uTFactor;
    else if (s == 4) r = vSpecular;
    if ((a & 16) != 0) r = vec4(1.0) - r;
    if ((a & 32) != 0) r = vec4(r.a);
    return r;
}

vec4 combine(int op, vec4 a1, vec4 a2, vec4 tex) {
    if (op == 2) return a1;
    if (op == 3) return a2;
    if (op == 4) return a1 * a2;
    if (op == 5) return 2.0 * a1 * a2;
    if (op == 6) return 4.0 * a1 * a2;
    if (op == 7) return a1 + a2;
    if (op == 8) return a1 + a2 - vec4(0.5);
    if (op == 9) return 2.0 * (a1 + a2 - vec4(0.5));
    if (op == 10) return a1 - a2;
    if (op == 11) return a1 + a2 - a1 * a2;
    if (op == 12 || op == 16) return mix(a2, a1, vDiffuse.a);
    if (op == 13) return mix(a2, a1, tex.a);
    if (op == 14) return mix(a2, a1, uTFactor.a);
    return vDiffuse;
}

void main() {
#if COLOURLESS
    // Only depth and stencil are kept: no colour, and so no varying, is read.
    gl_FragColor = vec4(0.0);
#else
    vec4 tex = uHasTexture ? texture(uTexture, vTex.xy) : vec4(1.0);
    vec4 result = vDiffuse;
    if (uColorOp != 1) {
        result.rgb = clamp(combine(uColorOp, arg(uColorArg1, tex), arg(uColorArg2, tex), tex).rgb, 0.0, 1.0);
        if (uAlphaOp != 1)
            result.a = clamp(combine(uAlphaOp, arg(uAlphaArg1, tex), arg(uAlphaArg2, tex), tex).a, 0.0, 1.0);
    }
    if (uSpecular) result.rgb = clamp(result.rgb + vSpecular.rgb, 0.0, 1.0);
#if ALPHA_TEST
    if (uAlphaTest) {
        float a = floor(result.a * 255.0 + 0.5);
        bool pass = true;
        if (uAlphaFunc == 1) pass = false;
        else if (uAlphaFunc == 2) pass = a < uAlphaRef;
        else if (uAlphaFunc == 3) pass = a == uAlphaRef;
        else if (uAlphaFunc == 4) pass = a <= uAlphaRef;
        else if (uAlphaFunc == 5) pass = a > uAlphaRef;
        else if (uAlphaFunc == 6) pass = a != uAlphaRef;
        else if (uAlphaFunc == 7) pass = a >= uAlphaRef;
        if (!pass) discard;
    }
#endif
    gl_FragColor = result;
#endif
}
)";

// ---------------------------------------------------------------------------
// The key fields.  To add a state that changes what a program draws: a
// KeyField, a row here, and the GLSL that reads the row's name.

enum Stage { kKind, kVertex, kFragment, kBoth };   // kKind: the kind of program, no GLSL value

struct FieldInfo {
    KeyField field;
    Stage stage;        // the shader that reads it
    const char* type;   // its GLSL type ("bool" or "int")
    const char* name;   // its GLSL name, the same in both kinds of program
    // Its value for a draw: the general program's uniform, and the key's
    // value while `when` holds (or when there is no `when`); else the
    // programs do not read it, and the key has 0.
    int (*read)(const DrawState&);
    bool (*when)(const DrawState&);
};

// Operations the programs do not know read as 0 (the diffuse colour); of an
// argument only the source and the two modifier bits count.
int Op(DWORD v) { return v >= D3DTOP_DISABLE && v <= D3DTOP_BLENDCURRENTALPHA ? (int)v : 0; }
int Arg(DWORD v) { return (int)(v & 0x3F); }
int On(const DrawState& s, D3DRENDERSTATETYPE state) { return s.renderStates[state] != 0; }

bool Lit(const DrawState& s) { return s.lighting; }
// The stage's colour operation runs, and its alpha operation with it.
bool ColourStage(const DrawState& s) { return Op(s.stage0[D3DTSS_COLOROP]) != D3DTOP_DISABLE; }
bool AlphaStage(const DrawState& s) { return ColourStage(s) && Op(s.stage0[D3DTSS_ALPHAOP]) != D3DTOP_DISABLE; }
bool AlphaTested(const DrawState& s) { return On(s, D3DRS_ALPHATESTENABLE); }

constexpr FieldInfo kFields[] = {
    {kGeneral, kKind, nullptr, nullptr, [](const DrawState& s) { return (int)s.general; }, nullptr},
    {kFlat, kKind, nullptr, nullptr,
     [](const DrawState& s) { return (int)(s.renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT); }, nullptr},
    {kColourless, kKind, nullptr, nullptr, [](const DrawState& s) { return (int)s.colourless; }, nullptr},
    {kRhw, kVertex, "bool", "uRhw", [](const DrawState& s) { return (int)s.rhw; }, nullptr},
    {kLighting, kVertex, "bool", "uLighting", [](const DrawState& s) { return (int)s.lighting; }, nullptr},
    {kHasColor0, kVertex, "bool", "uHasColor0", [](const DrawState& s) { return (int)s.hasColor0; }, nullptr},
    {kHasColor1, kVertex, "bool", "uHasColor1", [](const DrawState& s) { return (int)s.hasColor1; }, nullptr},
    {kSpecular, kBoth, "bool", "uSpecular", [](const DrawState& s) { return On(s, D3DRS_SPECULARENABLE); }, nullptr},
    {kLocalViewer, kVertex, "bool", "uLocalViewer", [](const DrawState& s) { return On(s, D3DRS_LOCALVIEWER); },
     Lit},
    {kNormalize, kVertex, "bool", "uNormalize", [](const DrawState& s) { return On(s, D3DRS_NORMALIZENORMALS); },
     Lit},
    {kLights, kVertex, "int", "uNumLights", [](const DrawState& s) { return s.lightCount; }, Lit},
    {kTexture, kFragment, "bool", "uHasTexture", [](const DrawState& s) { return (int)s.texture; }, nullptr},
    {kColorOp, kFragment, "int", "uColorOp", [](const DrawState& s) { return Op(s.stage0[D3DTSS_COLOROP]); },
     nullptr},
    {kColorArg1, kFragment, "int", "uColorArg1", [](const DrawState& s) { return Arg(s.stage0[D3DTSS_COLORARG1]); },
     ColourStage},
    {kColorArg2, kFragment, "int", "uColorArg2", [](const DrawState& s) { return Arg(s.stage0[D3DTSS_COLORARG2]); },
     ColourStage},
    {kAlphaOp, kFragment, "int", "uAlphaOp", [](const DrawState& s) { return Op(s.stage0[D3DTSS_ALPHAOP]); },
     ColourStage},
    {kAlphaArg1, kFragment, "int", "uAlphaArg1", [](const DrawState& s) { return Arg(s.stage0[D3DTSS_ALPHAARG1]); },
     AlphaStage},
    {kAlphaArg2, kFragment, "int", "uAlphaArg2", [](const DrawState& s) { return Arg(s.stage0[D3DTSS_ALPHAARG2]); },
     AlphaStage},
    {kAlphaTest, kFragment, "bool", "uAlphaTest", [](const DrawState& s) { return (int)AlphaTested(s); }, nullptr},
    {kAlphaFunc, kFragment, "int", "uAlphaFunc",
     [](const DrawState& s) {
         const DWORD f = s.renderStates[D3DRS_ALPHAFUNC];
         return f >= D3DCMP_NEVER && f <= D3DCMP_ALWAYS ? (int)f : (int)D3DCMP_ALWAYS;
     },
     AlphaTested},
};
static_assert(sizeof(kFields) / sizeof(kFields[0]) == kKeyFieldCount, "one row per key field");

constexpr bool RowsInFieldOrder() {
    for (int i = 0; i < kKeyFieldCount; ++i)
        if (kFields[i].field != i) return false;
    return true;
}
static_assert(RowsInFieldOrder(), "the rows follow KeyField");

// Every field as the draw's state gives it: the general program's uniforms.
ProgramKey ReadFields(const DrawState& s) {
    ProgramKey k;
    for (const FieldInfo& f : kFields) k.value[f.field] = f.read(s);
    return k;
}

// Declarations of a shader's fields: uniforms of the general program,
// constants of a specialised one.
std::string Declare(Stage stage, const ProgramKey& key) {
    std::string text;
    for (const FieldInfo& f : kFields) {
        if (f.stage != stage && f.stage != kBoth) continue;
        if (key[kGeneral]) {
            text += std::string("uniform ") + f.type + " " + f.name + ";\n";
        } else {
            const int v = key.value[f.field];
            const std::string value = std::strcmp(f.type, "bool") == 0 ? (v ? "true" : "false") : std::to_string(v);
            text += std::string("const ") + f.type + " " + f.name + " = " + value + ";\n";
        }
    }
    return text;
}

GLuint Compile(GLenum type, const char* shade, const std::string& prelude, const char* body) {
    std::string source = std::string("#version 130\n#define SHADE ") + shade + "\n" + prelude + body;
    const char* text = source.c_str();
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof(log) - 1, nullptr, log);
        SDL_LogError(SDL_LOG_CATEGORY_RENDER, "zvd3d9: shader compilation failed: %s", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool Link(const ProgramKey& key, LinkedProgram* out) {
    const char* shade = key[kFlat] ? "flat" : "smooth";
    // Only a program drawn with the alpha test on may discard.
    const std::string switches = std::string("#define ALPHA_TEST ") + (key[kGeneral] || key[kAlphaTest] ? "1" : "0") +
                                 "\n#define COLOURLESS " + (key[kColourless] ? "1" : "0") + "\n";
    GLuint vs = Compile(GL_VERTEX_SHADER, shade, Declare(kVertex, key), kVertexSource);
    GLuint fs = Compile(GL_FRAGMENT_SHADER, shade, switches + Declare(kFragment, key), kFragmentSource);
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return false;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, kPos, "aPos");
    glBindAttribLocation(program, kNormal, "aNormal");
    glBindAttribLocation(program, kColor0, "aColor0");
    glBindAttribLocation(program, kColor1, "aColor1");
    glBindAttribLocation(program, kTex, "aTex");
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program, sizeof(log) - 1, nullptr, log);
        SDL_LogError(SDL_LOG_CATEGORY_RENDER, "zvd3d9: program link failed: %s", log);
        glDeleteProgram(program);
        return false;
    }
    // A uniform a specialised program has as a constant is at location -1,
    // which GL's glUniform calls ignore.
    ProgramUniforms& p = out->uniforms;
    for (const FieldInfo& f : kFields) p.key[f.field] = f.name ? glGetUniformLocation(program, f.name) : -1;
#define ZV_LOC(field, name) p.field = glGetUniformLocation(program, name)
    ZV_LOC(world, "uWorld");
    ZV_LOC(view, "uView");
    ZV_LOC(proj, "uProj");
    ZV_LOC(normalMatrix, "uNormalMatrix");
    ZV_LOC(viewport, "uViewport");
    ZV_LOC(matDiffuse, "uMatDiffuse");
    ZV_LOC(matAmbient, "uMatAmbient");
    ZV_LOC(matSpecular, "uMatSpecular");
    ZV_LOC(matEmissive, "uMatEmissive");
    ZV_LOC(matPower, "uMatPower");
    ZV_LOC(sources, "uSources");
    ZV_LOC(globalAmbient, "uGlobalAmbient");
    ZV_LOC(lightType, "uLightType");
    ZV_LOC(lightDiffuse, "uLightDiffuse");
    ZV_LOC(lightSpecular, "uLightSpecular");
    ZV_LOC(lightAmbient, "uLightAmbient");
    ZV_LOC(lightPos, "uLightPos");
    ZV_LOC(lightDir, "uLightDir");
    ZV_LOC(lightAtt, "uLightAtt");
    ZV_LOC(lightSpot, "uLightSpot");
    ZV_LOC(texture, "uTexture");
    ZV_LOC(tfactor, "uTFactor");
    ZV_LOC(alphaRef, "uAlphaRef");
#undef ZV_LOC
    out->program = program;
    out->general = key[kGeneral] != 0;
    return true;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += (double)a.m[i][k] * b.m[k][j];
            r.m[i][j] = (float)s;
        }
    return r;
}

// Inverse of the upper 3x3 of m, row-major; the identity when singular.
void Inverse3(const D3DMATRIX& m, float out[9]) {
    const double a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32,
                 i = m._33;
    const double A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const double det = a * A + b * B + c * C;
    if (std::fabs(det) < 1e-30) {
        const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        std::memcpy(out, id, sizeof(id));
        return;
    }
    const double inv = 1.0 / det;
    out[0] = (float)(A * inv);
    out[1] = (float)(-(b * i - c * h) * inv);
    out[2] = (float)((b * f - c * e) * inv);
    out[3] = (float)(B * inv);
    out[4] = (float)((a * i - c * g) * inv);
    out[5] = (float)(-(a * f - c * d) * inv);
    out[6] = (float)(C * inv);
    out[7] = (float)(-(a * h - b * g) * inv);
    out[8] = (float)((a * e - b * d) * inv);
}

// The lights as the programs' uniform arrays take them, in camera space.
void SetLights(const ProgramUniforms& p, const DrawState& s) {
    GLint types[kProgramLights] = {};
    float diffuse[4 * kProgramLights] = {}, specular[4 * kProgramLights] = {}, amb[4 * kProgramLights] = {},
          pos[3 * kProgramLights] = {}, dir[3 * kProgramLights] = {}, att[4 * kProgramLights] = {},
          spot[4 * kProgramLights] = {};
    const D3DMATRIX& view = *s.view;
    for (int n = 0; n < s.lightCount; ++n) {
        const D3DLIGHT9& l = *s.lights[n];
        types[n] = (GLint)l.Type;
        std::memcpy(&diffuse[4 * n], &l.Diffuse, 16);
        std::memcpy(&specular[4 * n], &l.Specular, 16);
        std::memcpy(&amb[4 * n], &l.Ambient, 16);
        const D3DVECTOR& P = l.Position;
        for (int c = 0; c < 3; ++c)
            pos[3 * n + c] = P.x * view.m[0][c] + P.y * view.m[1][c] + P.z * view.m[2][c] + view.m[3][c];
        const D3DVECTOR& D = l.Direction;
        double d[3], len = 0;
        for (int c = 0; c < 3; ++c) {
            d[c] = (double)D.x * view.m[0][c] + (double)D.y * view.m[1][c] + (double)D.z * view.m[2][c];
            len += d[c] * d[c];
        }
        len = std::sqrt(len);
        for (int c = 0; c < 3; ++c) dir[3 * n + c] = len > 0 ? (float)(d[c] / len) : 0.0f;
        att[4 * n + 0] = l.Attenuation0;
        att[4 * n + 1] = l.Attenuation1;
        att[4 * n + 2] = l.Attenuation2;
        att[4 * n + 3] = l.Range;
        spot[4 * n + 0] = std::cos(l.Theta * 0.5f);
        spot[4 * n + 1] = std::cos(l.Phi * 0.5f);
        spot[4 * n + 2] = l.Falloff;
    }
    glUniform1iv(p.lightType, kProgramLights, types);
    glUniform4fv(p.lightDiffuse, kProgramLights, diffuse);
    glUniform4fv(p.lightSpecular, kProgramLights, specular);
    glUniform4fv(p.lightAmbient, kProgramLights, amb);
    glUniform3fv(p.lightPos, kProgramLights, pos);
    glUniform3fv(p.lightDir, kProgramLights, dir);
    glUniform4fv(p.lightAtt, kProgramLights, att);
    glUniform4fv(p.lightSpot, kProgramLights, spot);
}

}  // namespace

// ZERO times the source plus ONE times the target, as the shadow volumes are
// drawn.  Not while the alpha test is on (the fragment's alpha decides what
// is kept), nor through the general programs, which draw exactly what was
// asked.
bool WritesNoColour(const DWORD* rs, bool general) {
    if (general || rs[D3DRS_ALPHATESTENABLE] || !rs[D3DRS_ALPHABLENDENABLE]) return false;
    auto keeps = [](DWORD src, DWORD dst, DWORD op) {
        return src == D3DBLEND_ZERO && dst == D3DBLEND_ONE && op == D3DBLENDOP_ADD;
    };
    if (!keeps(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], rs[D3DRS_BLENDOP])) return false;
    return !rs[D3DRS_SEPARATEALPHABLENDENABLE] ||
           keeps(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], rs[D3DRS_BLENDOPALPHA]);
}

// The general programs differ by shade mode only, and a colourless program
// needs no more than the shade mode and how the position is taken (no
// lighting, texture or colour).
ProgramKey KeyFor(const DrawState& s) {
    ProgramKey k;
    k[kFlat] = kFields[kFlat].read(s);
    if (s.general) {
        k[kGeneral] = 1;
        return k;
    }
    k[kRhw] = kFields[kRhw].read(s);
    if (s.colourless) {
        k[kColourless] = 1;
        return k;
    }
    for (const FieldInfo& f : kFields)
        if (!f.when || f.when(s)) k.value[f.field] = f.read(s);
    return k;
}

bool ProgramCache::Init() {
    for (bool flat : {false, true}) {
        ProgramKey key;
        key[kGeneral] = 1;
        key[kFlat] = flat;
        if (!Link(key, &programs_[key])) return false;
    }
    return true;
}

void ProgramCache::Release() {
    for (auto& entry : programs_)
        if (entry.second.program) glDeleteProgram(entry.second.program);
    programs_.clear();
}

size_t ProgramCache::Count() const { return programs_.size(); }

// The program of a key, built on first use; the general program of the
// shade mode when it cannot be built.
const LinkedProgram& ProgramCache::ProgramFor(const ProgramKey& key) {
    auto found = programs_.find(key);
    if (found == programs_.end()) {
        found = programs_.emplace(key, LinkedProgram()).first;
        Link(key, &found->second);
    }
    if (found->second.program) return found->second;
    ProgramKey general;
    general[kGeneral] = 1;
    general[kFlat] = key[kFlat];
    return programs_[general];
}

void ProgramCache::ApplyFixedFunction(const DrawState& s) {
    const LinkedProgram& linked = ProgramFor(KeyFor(s));
    glUseProgram(linked.program);
    const ProgramUniforms& p = linked.uniforms;
    // The general program takes every field as the state has it, also where
    // a key leaves the field out: so the comparison of the two kinds of
    // program also checks that what a key leaves out is never read.
    if (linked.general) {
        const ProgramKey fields = ReadFields(s);
        for (int i = 0; i < kKeyFieldCount; ++i) glUniform1i(p.key[i], fields.value[i]);
    }
    const DWORD* rs = s.renderStates;
    glUniformMatrix4fv(p.world, 1, GL_FALSE, &s.world->_11);
    glUniformMatrix4fv(p.view, 1, GL_FALSE, &s.view->_11);
    glUniformMatrix4fv(p.proj, 1, GL_FALSE, &s.projection->_11);
    const D3DMATRIX worldView = Multiply(*s.world, *s.view);
    float normalMatrix[9];
    Inverse3(worldView, normalMatrix);
    glUniformMatrix3fv(p.normalMatrix, 1, GL_TRUE, normalMatrix);
    const D3DVIEWPORT9& vp = *s.viewport;
    glUniform4f(p.viewport, (float)vp.X, (float)vp.Y, (float)vp.Width, (float)vp.Height);
    const D3DMATERIAL9& m = *s.material;
    glUniform4fv(p.matDiffuse, 1, &m.Diffuse.r);
    glUniform4fv(p.matAmbient, 1, &m.Ambient.r);
    glUniform4fv(p.matSpecular, 1, &m.Specular.r);
    glUniform4fv(p.matEmissive, 1, &m.Emissive.r);
    glUniform1f(p.matPower, m.Power);
    if (rs[D3DRS_COLORVERTEX]) {
        auto src = [](DWORD v) { return v <= 2 ? (GLint)v : 0; };
        glUniform4i(p.sources, src(rs[D3DRS_DIFFUSEMATERIALSOURCE]), src(rs[D3DRS_AMBIENTMATERIALSOURCE]),
                    src(rs[D3DRS_SPECULARMATERIALSOURCE]), src(rs[D3DRS_EMISSIVEMATERIALSOURCE]));
    } else {
        glUniform4i(p.sources, 0, 0, 0, 0);
    }
    float ambient[4];
    ColorToFloats(rs[D3DRS_AMBIENT], ambient);
    glUniform4fv(p.globalAmbient, 1, ambient);
    if (s.lighting) SetLights(p, s);
    float tfactor[4];
    ColorToFloats(rs[D3DRS_TEXTUREFACTOR], tfactor);
    glUniform4fv(p.tfactor, 1, tfactor);
    glUniform1f(p.alphaRef, (float)(rs[D3DRS_ALPHAREF] & 0xFF));
    glUniform1i(p.texture, 0);
}

}  // namespace zvd3d9
