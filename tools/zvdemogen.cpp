// zvdemogen <output folder>
//
// Writes the demo content that Skirmora and Lumivex read from their own
// folder:
// - "scene.3ds": the arena (floor, walls, pillars, crates) with five
//   materials, four of them textured by floor.tga, wall.png, pillar.jpg and
//   trim.bmp;
// - "opponent.def": two MD5 figures (grunt and brute) on one twelve-joint
//   skeleton, with their meshes, textures and seven shared animations idle,
//   walk, run, attack, pain, death and getup;
// - "totem.cfg": a small Cal3D model with two animations, textured;
// - "zvscene.txt": the search path, the arena, three opponents, the display
//   mode, the camera and three point lights (each light is one more
//   pass over the scene on the shadowed path, so few lights keep a
//   software renderer playable).
//
// The arena is built symmetric about its floor (the file's z = 0): the game
// shows the scene mirrored in height and stretched (y scaled by -15, x and z
// by 3), the viewer shows it as it is, and both see an upright arena.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zv3dswriter.h"
#include "zvcal3dwriter.h"
#include "zvimagewriters.h"
#include "zvmd5writer.h"

using namespace zvtools;

namespace {

const float kPi = 3.14159265f;

// ---------------------------------------------------------------------------
// Small math: vectors and quaternions as the engine's pose code uses them.

struct V3 {
    float x = 0, y = 0, z = 0;
};
V3 Add(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

struct Quat {
    float x = 0, y = 0, z = 0, w = 1;
};
Quat AxisAngle(float ax, float ay, float az, float angle) {
    const float s = std::sin(angle / 2);
    return {ax * s, ay * s, az * s, std::cos(angle / 2)};
}
Quat RotX(float a) { return AxisAngle(1, 0, 0, a); }
Quat RotY(float a) { return AxisAngle(0, 1, 0, a); }
Quat RotZ(float a) { return AxisAngle(0, 0, 1, a); }
// The rotation a followed by the rotation b.
Quat Then(Quat a, Quat b) {
    return {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y, b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w, b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
}
V3 Rotate(Quat q, V3 v) {
    // v + 2w (q x v) + 2 q x (q x v)
    V3 u{q.x, q.y, q.z};
    V3 t = Cross(u, v);
    t = {2 * t.x, 2 * t.y, 2 * t.z};
    V3 r = Add(v, {q.w * t.x, q.w * t.y, q.w * t.z});
    return Add(r, Cross(u, t));
}

float Smooth(float t) {
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return t * t * (3 - 2 * t);
}
float Deg(float d) { return d * kPi / 180.0f; }

// ---------------------------------------------------------------------------
// Images: BGRA, top row first.

struct Image {
    int w, h;
    std::vector<uint8_t> px;
    Image(int width, int height) : w(width), h(height), px(size_t(width) * height * 4, 255) {}
    void Set(int x, int y, float r, float g, float b) {
        auto c = [](float v) { return (uint8_t)(v < 0 ? 0 : (v > 255 ? 255 : v)); };
        uint8_t* p = &px[(size_t(y) * w + x) * 4];
        p[0] = c(b);
        p[1] = c(g);
        p[2] = c(r);
        p[3] = 255;
    }
    void Fill(int x0, int y0, int x1, int y1, float r, float g, float b) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) Set(x, y, r, g, b);
    }
};

// Repeatable value noise in [0, 1).
float Hash(int x, int y, int seed) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + (uint32_t)seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (float)(h & 0xFFFF) / 65536.0f;
}
float Noise(float x, float y, int seed) {
    int xi = (int)std::floor(x), yi = (int)std::floor(y);
    float fx = Smooth(x - (float)xi), fy = Smooth(y - (float)yi);
    float a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed);
    float c = Hash(xi, yi + 1, seed), d = Hash(xi + 1, yi + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

// Flagstones, four by four; the joints run through the middle of the image's
// cells so that its corner texel holds the stone colour.
Image FloorImage() {
    Image im(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            int tx = (x + 16) / 32, ty = (y + 16) / 32;
            float n = 0.75f + 0.25f * Noise((float)x / 8, (float)y / 8, 1) + 0.1f * Hash(tx, ty, 2);
            bool joint = (x + 16) % 32 < 2 || (y + 16) % 32 < 2;
            if (joint) im.Set(x, y, 60, 55, 50);
            else im.Set(x, y, 200 * n, 188 * n, 165 * n);
        }
    return im;
}

// Bricks, offset by half a brick on every other row.
Image WallImage() {
    Image im(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            int row = y / 16;
            int shift = (row % 2) ? 0 : 16;
            bool mortar = (y % 16) == 8 || ((x + shift) % 32) == 0;
            float n = 0.8f + 0.2f * Noise((float)x / 4, (float)y / 4, 3) + 0.15f * Hash((x + shift) / 32, row, 4);
            if (mortar) im.Set(x, y, 170, 165, 150);
            else im.Set(x, y, 200 * n, 100 * n, 75 * n);
        }
    return im;
}

// Veined blue-grey stone.
Image PillarImage() {
    Image im(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            float v = std::sin((float)x * 0.1f + 6.0f * Noise((float)x / 16, (float)y / 16, 5));
            float vein = std::pow(std::fabs(v), 8.0f);
            float base = 0.85f + 0.15f * Noise((float)x / 6, (float)y / 6, 6);
            im.Set(x, y, (140 - 60 * vein) * base, (155 - 60 * vein) * base, (190 - 50 * vein) * base);
        }
    return im;
}

// Bronze bands.
Image TrimImage() {
    Image im(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            float band = (y % 16) >= 12 ? 0.55f : 1.0f;
            float n = 0.85f + 0.15f * Noise((float)x / 4, (float)y / 4, 7);
            im.Set(x, y, 200 * band * n, 150 * band * n, 70 * band * n);
        }
    return im;
}

// ---------------------------------------------------------------------------
// The arena, in the file's axes (z up), symmetric about z = 0.

const float kHalf = 400.0f;        // inner half-width of the arena
const float kWall = 8.0f;          // wall thickness
const float kWallTop = 16.0f;      // walls rise to +-16
const float kFloor = 0.2f;         // the floor slab is 0.4 thick
const float kPillarTop = 27.0f;    // pillars with their caps

Mesh3ds Box(const std::string& name, float x0, float y0, float z0, float x1, float y1, float z1,
            const std::string& material, float uv) {
    const float mn[3] = {x0, y0, z0}, mx[3] = {x1, y1, z1};
    return BoxMesh3ds(name, mn, mx, material, uv);
}

// A square grid at height z facing up (+z) or down, n by n cells.
Mesh3ds FloorGrid(const std::string& name, float z, bool up, int n, float uv) {
    Mesh3ds m;
    m.name = name;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            float x = -kHalf + 2 * kHalf * (float)i / (float)n;
            float y = -kHalf + 2 * kHalf * (float)j / (float)n;
            m.vertices.insert(m.vertices.end(), {x, y, z});
            m.texCoords.push_back((x + kHalf) / uv);
            m.texCoords.push_back(1.0f - (y + kHalf) / uv);  // files count v upwards
        }
    MatGroup3ds group{"Floor", {}};
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            uint16_t a = (uint16_t)(j * (n + 1) + i), b = (uint16_t)(a + 1), c = (uint16_t)(a + n + 2),
                     d = (uint16_t)(a + n + 1);
            // Counter-clockwise seen from the side the face looks at.
            const uint16_t tris[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : tris) {
                group.faces.push_back((uint16_t)(m.faces.size() / 4));
                if (up) m.faces.insert(m.faces.end(), {t[0], t[1], t[2], 7});
                else m.faces.insert(m.faces.end(), {t[0], t[2], t[1], 7});
            }
        }
    m.groups.push_back(group);
    m.smoothing.assign(m.faces.size() / 4, 1);
    return m;
}

Scene3ds ArenaScene() {
    Scene3ds s;
    Material3ds floor, wall, pillar, trim, plain;
    floor.name = "Floor";
    floor.ambient[0] = 150, floor.ambient[1] = 140, floor.ambient[2] = 130;
    floor.diffuse[0] = 255, floor.diffuse[1] = 250, floor.diffuse[2] = 240;
    floor.specular[0] = floor.specular[1] = floor.specular[2] = 40;
    floor.shininess = 10;
    floor.texture = "floor.tga";
    wall.name = "Wall";
    wall.ambient[0] = 150, wall.ambient[1] = 120, wall.ambient[2] = 110;
    wall.diffuse[0] = 255, wall.diffuse[1] = 235, wall.diffuse[2] = 220;
    wall.specular[0] = wall.specular[1] = wall.specular[2] = 30;
    wall.shininess = 5;
    wall.texture = "wall.png";
    pillar.name = "Pillar";
    pillar.ambient[0] = 120, pillar.ambient[1] = 125, pillar.ambient[2] = 140;
    pillar.diffuse[0] = 200, pillar.diffuse[1] = 205, pillar.diffuse[2] = 225;
    pillar.specular[0] = pillar.specular[1] = pillar.specular[2] = 200;
    pillar.shininess = 40;
    pillar.texture = "pillar.jpg";
    trim.name = "Trim";
    trim.ambient[0] = 150, trim.ambient[1] = 125, trim.ambient[2] = 80;
    trim.diffuse[0] = 230, trim.diffuse[1] = 200, trim.diffuse[2] = 140;
    trim.specular[0] = trim.specular[1] = trim.specular[2] = 150;
    trim.shininess = 30;
    trim.texture = "trim.bmp";
    plain.name = "Crate";
    plain.ambient[0] = 60, plain.ambient[1] = 100, plain.ambient[2] = 60;
    plain.diffuse[0] = 90, plain.diffuse[1] = 150, plain.diffuse[2] = 90;
    plain.specular[0] = plain.specular[1] = plain.specular[2] = 60;
    plain.shininess = 20;
    s.materials = {floor, wall, pillar, trim, plain};

    // The floor slab: a grid on each face so that the point lights, which
    // shade per vertex, light it evenly.
    s.meshes.push_back(FloorGrid("FloorUp", kFloor, true, 16, 50.0f));
    s.meshes.push_back(FloorGrid("FloorDown", -kFloor, false, 16, 50.0f));

    // Walls: eight segments per side, each split at the floor so that a row
    // of vertices runs along the floor line.
    const int segments = 8;
    const float outer = kHalf + kWall;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < segments; ++k)
            for (int half = 0; half < 2; ++half) {
                float a = -outer + 2 * outer * (float)k / (float)segments;
                float b = -outer + 2 * outer * (float)(k + 1) / (float)segments;
                float z0 = half ? 0.0f : -kWallTop, z1 = half ? kWallTop : 0.0f;
                char name[16];
                std::snprintf(name, sizeof name, "Wall%d_%d%c", side, k, half ? 'u' : 'd');
                float x0, x1, y0, y1;
                switch (side) {
                    case 0: x0 = a, x1 = b, y0 = kHalf, y1 = outer; break;
                    case 1: x0 = a, x1 = b, y0 = -outer, y1 = -kHalf; break;
                    case 2: x0 = kHalf, x1 = outer, y0 = a, y1 = b; break;
                    default: x0 = -outer, x1 = -kHalf, y0 = a, y1 = b; break;
                }
                s.meshes.push_back(Box(name, x0, y0, z0, x1, y1, z1, "Wall", 32.0f));
            }

    // Pillars: a bronze plinth at the floor, two shafts and two caps.
    const float pillars[8][2] = {{200, 200}, {-200, 200}, {200, -200}, {-200, -200},
                                 {300, 0},   {-300, 0},   {0, 300},    {0, -300}};
    for (int p = 0; p < 8; ++p) {
        float cx = pillars[p][0], cy = pillars[p][1];
        char name[16];
        std::snprintf(name, sizeof name, "Plinth%d", p);
        s.meshes.push_back(Box(name, cx - 14, cy - 14, -3, cx + 14, cy + 14, 3, "Trim", 16.0f));
        for (int sign = -1; sign <= 1; sign += 2) {
            float z0 = sign > 0 ? 3.0f : -24.0f, z1 = sign > 0 ? 24.0f : -3.0f;
            std::snprintf(name, sizeof name, "Shaft%d%c", p, sign > 0 ? 'u' : 'd');
            s.meshes.push_back(Box(name, cx - 10, cy - 10, z0, cx + 10, cy + 10, z1, "Pillar", 20.0f));
            float c0 = sign > 0 ? 24.0f : -kPillarTop, c1 = sign > 0 ? kPillarTop : -24.0f;
            std::snprintf(name, sizeof name, "Cap%d%c", p, sign > 0 ? 'u' : 'd');
            s.meshes.push_back(Box(name, cx - 13, cy - 13, c0, cx + 13, cy + 13, c1, "Trim", 16.0f));
        }
    }

    // Crates, untextured.
    const float crates[4][2] = {{130, 100}, {-130, 100}, {250, -60}, {-250, -60}};
    for (int c = 0; c < 4; ++c) {
        char name[16];
        std::snprintf(name, sizeof name, "Crate%d", c);
        float cx = crates[c][0], cy = crates[c][1];
        s.meshes.push_back(Box(name, cx - 15, cy - 15, -4, cx + 15, cy + 15, 4, "Crate", 30.0f));
    }
    return s;
}

// ---------------------------------------------------------------------------
// The opponents: one skeleton (z up, facing +x, left is +y, the MD5 files'
// own axes), joints placed with the identity orientation so that a weight's
// offset is the vertex minus the joint's position.
//
// The opponents are left-handed: they are the mirror images of the figure
// designed below, which strikes with its right arm.  Everything is written
// mirrored through the plane y = 0 (Mirror): positions with y negated,
// rotations with x and z negated (a mirror keeps a rotation's angle and
// mirrors its axis the other way round), every triangle wound the other way
// round (the winding rule below sees the mirrored corners), and the left
// and right joints named after the side they stand on once mirrored.

enum Joint { Origin, Pelvis, Spine, Head, LUpperArm, LForeArm, RUpperArm, RForeArm, LThigh, LShin, RThigh, RShin, NumJoints };
const char* kJointNames[NumJoints] = {"origin", "pelvis", "spine",  "head",    "l_upperarm", "l_forearm",
                                      "r_upperarm", "r_forearm", "l_thigh", "l_shin", "r_thigh",    "r_shin"};
const int kParents[NumJoints] = {-1, Origin, Pelvis, Spine, Spine, LUpperArm, Spine, RUpperArm, Pelvis, LThigh, Pelvis, RThigh};
const V3 kBind[NumJoints] = {{0, 0, 0},   {0, 0, 40},   {0, 0, 46},  {0, 0, 64},   {0, 12, 62}, {0, 12, 49},
                             {0, -12, 62}, {0, -12, 49}, {0, 5, 39}, {0, 5, 21}, {0, -5, 39}, {0, -5, 21}};

V3 LocalBind(int j) { return kParents[j] < 0 ? kBind[j] : Sub(kBind[j], kBind[kParents[j]]); }

// The design seen in a mirror standing in the plane y = 0 (0 - v keeps a
// zero a plain 0 in the files).
V3 Mirror(V3 v) { return {v.x, 0.0f - v.y, v.z}; }
Quat Mirror(Quat q) { return {0.0f - q.x, q.y, 0.0f - q.z, q.w}; }
// A joint's written name: its left and right swap in the mirror.
std::string WrittenName(int j) {
    std::string name = kJointNames[j];
    if (name.compare(0, 2, "l_") == 0) name[0] = 'r';
    else if (name.compare(0, 2, "r_") == 0) name[0] = 'l';
    return name;
}

// A box of the figure: its corners (bind pose), its joint and the part of
// the texture it takes.
struct Part {
    float mn[3], mx[3];
    int joint;
    float u0, v0, u1, v1;
};

// Texture regions (u0, v0, u1, v1) of the figure's atlas.
const float kHeadUV[4] = {0.0f, 0.0f, 0.25f, 0.25f};
const float kTorsoUV[4] = {0.25f, 0.0f, 0.75f, 0.5f};
const float kBeltUV[4] = {0.75f, 0.0f, 1.0f, 0.25f};
const float kArmUV[4] = {0.0f, 0.25f, 0.25f, 0.75f};
const float kLegUV[4] = {0.75f, 0.25f, 1.0f, 0.75f};
const float kDarkUV[4] = {0.25f, 0.5f, 0.5f, 0.75f};
const float kPadUV[4] = {0.5f, 0.5f, 0.75f, 0.75f};

Part MakePart(float x0, float y0, float z0, float x1, float y1, float z1, int joint, const float uv[4], float widen) {
    // Widening keeps the part's centre line and its height.
    float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    Part p{{cx + (x0 - cx) * widen, cy + (y0 - cy) * widen, z0},
           {cx + (x1 - cx) * widen, cy + (y1 - cy) * widen, z1},
           joint,
           uv[0],
           uv[1],
           uv[2],
           uv[3]};
    return p;
}

std::vector<Part> FigureParts(bool brute) {
    const float w = brute ? 1.35f : 1.0f;
    std::vector<Part> parts = {
        MakePart(-6, -9, 37, 6, 9, 46, Pelvis, kBeltUV, w),
        MakePart(-7, -11, 46, 7, 11, 63, Spine, kTorsoUV, w),
        MakePart(-6, -5.5f, 64, 6, 5.5f, 78, Head, kHeadUV, brute ? 1.1f : 1.0f),
        MakePart(6, -4, 70, 7.5f, 4, 73, Head, kDarkUV, 1.0f),  // visor: the face looks along +x
        MakePart(-3, 9.5f, 49, 3, 14.5f, 63, LUpperArm, kArmUV, w),
        MakePart(-3, -14.5f, 49, 3, -9.5f, 63, RUpperArm, kArmUV, w),
        MakePart(-2.5f, 10, 35, 2.5f, 14, 49, LForeArm, kArmUV, w),
        MakePart(-2.5f, -14, 35, 2.5f, -10, 49, RForeArm, kArmUV, w),
        MakePart(-3.5f, 1.5f, 21, 3.5f, 8.5f, 39, LThigh, kLegUV, w),
        MakePart(-3.5f, -8.5f, 21, 3.5f, -1.5f, 39, RThigh, kLegUV, w),
        MakePart(-3, 2, 3, 3, 8, 21, LShin, kLegUV, w),
        MakePart(-3, -8, 3, 3, -2, 21, RShin, kLegUV, w),
        MakePart(-3, 2, 0, 8, 8, 3, LShin, kDarkUV, 1.0f),  // feet point forward too
        MakePart(-3, -8, 0, 8, -2, 3, RShin, kDarkUV, 1.0f),
    };
    if (brute) {
        parts.push_back(MakePart(-6, 9, 59, 6, 18, 66, Spine, kPadUV, 1.0f));
        parts.push_back(MakePart(-6, -18, 59, 6, -9, 66, Spine, kPadUV, 1.0f));
    }
    return parts;
}

// The figure's mesh, mirrored: every box closed with 8 shared corners (so
// that its shadow volume is closed), wound so that the reader's face normal
// (c - b) x (b - a) points outward (the files' faces are clockwise seen from
// outside).  *positions receives the written corners.
MD5Mesh FigureMesh(const std::string& shader, const std::vector<Part>& parts, std::vector<V3>* positions) {
    MD5Mesh mesh;
    mesh.shader = shader;
    mesh.comment = "meshes: " + shader;
    const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const Part& p : parts) {
        const int base = (int)mesh.verts.size();
        V3 centre = Mirror(V3{(p.mn[0] + p.mx[0]) / 2, (p.mn[1] + p.mx[1]) / 2, (p.mn[2] + p.mx[2]) / 2});
        V3 corners[8];
        for (int c = 0; c < 8; ++c) {
            corners[c] =
                Mirror(V3{(c & 1) ? p.mx[0] : p.mn[0], (c & 2) ? p.mx[1] : p.mn[1], (c & 4) ? p.mx[2] : p.mn[2]});
            MD5Vert v;
            v.u = p.u0 + (p.u1 - p.u0) * ((c & 2) ? 0.85f : 0.15f);
            v.v = (c & 4) ? p.v0 + 0.02f : p.v1 - 0.02f;
            v.firstWeight = (int)mesh.weights.size();
            v.numWeights = 1;
            mesh.verts.push_back(v);
            MD5Weight wgt;
            wgt.joint = p.joint;
            wgt.bias = 1.0f;
            V3 off = Sub(corners[c], Mirror(kBind[p.joint]));
            wgt.pos[0] = off.x, wgt.pos[1] = off.y, wgt.pos[2] = off.z;
            mesh.weights.push_back(wgt);
            if (positions) positions->push_back(corners[c]);
        }
        for (const auto& q : quads) {
            const int tris[2][3] = {{q[0], q[1], q[2]}, {q[0], q[2], q[3]}};
            for (const auto& t : tris) {
                V3 a = corners[t[0]], b = corners[t[1]], c = corners[t[2]];
                V3 n = Cross(Sub(c, b), Sub(b, a));
                V3 mid{(a.x + b.x + c.x) / 3 - centre.x, (a.y + b.y + c.y) / 3 - centre.y,
                       (a.z + b.z + c.z) / 3 - centre.z};
                MD5Tri tri;
                tri.v[0] = base + t[0];
                if (Dot(n, mid) >= 0) tri.v[1] = base + t[1], tri.v[2] = base + t[2];
                else tri.v[1] = base + t[2], tri.v[2] = base + t[1];
                mesh.tris.push_back(tri);
            }
        }
    }
    return mesh;
}

MD5MeshFile FigureMeshFile(const std::string& shader, bool brute, std::vector<V3>* positions,
                           std::vector<int>* joints) {
    MD5MeshFile file;
    file.commandline = "zvdemogen";
    for (int j = 0; j < NumJoints; ++j) {
        MD5Joint joint;
        joint.name = WrittenName(j);
        joint.parent = kParents[j];
        const V3 bind = Mirror(kBind[j]);
        joint.pos[0] = bind.x, joint.pos[1] = bind.y, joint.pos[2] = bind.z;
        file.joints.push_back(joint);
    }
    std::vector<Part> parts = FigureParts(brute);
    file.meshes.push_back(FigureMesh(shader, parts, positions));
    if (joints)
        for (const Part& p : parts)
            for (int c = 0; c < 8; ++c) joints->push_back(p.joint);
    return file;
}

// One pose: per joint its position and rotation relative to its parent.
struct Pose {
    V3 pos[NumJoints];
    Quat rot[NumJoints];
    Pose() {
        for (int j = 0; j < NumJoints; ++j) pos[j] = LocalBind(j);
    }
};

// Forward swing of a hanging limb (its end moves towards +x), and forward
// lean of an upright part: both turn about y, in opposite senses.
Quat Swing(float a) { return RotY(-a); }
Quat Lean(float a) { return RotY(a); }
// Arms away from the body: the left arm turns about +x, the right one about -x.
Quat Spread(float a, bool left) { return RotX(left ? a : -a); }

// Lowers the pelvis so that a leg swung by `angle` still reaches the floor.
float PelvisHeight(float angle) { return 40.0f - 39.0f * (1.0f - std::cos(angle)); }

struct AnimDesc {
    const char* name;
    int frames;
    float rate;
    float travel;  // root displacement along +x over one cycle (walk, run)
    Pose (*pose)(float t);
};

Pose IdlePose(float t) {
    Pose p;
    float s = std::sin(2 * kPi * t);
    p.rot[Spine] = Lean(0.04f * s);
    p.rot[Head] = Then(RotZ(0.35f * std::sin(2 * kPi * t)), Lean(-0.04f * s));
    p.rot[LUpperArm] = Spread(0.12f + 0.04f * s, true);
    p.rot[RUpperArm] = Spread(0.12f + 0.04f * s, false);
    p.rot[LForeArm] = Swing(0.25f);
    p.rot[RForeArm] = Swing(0.25f);
    return p;
}

Pose Stride(float t, float legAmp, float kneeAmp, float armAmp, float elbow, float lean) {
    Pose p;
    float phase = 2 * kPi * t;
    float s = std::sin(phase);
    p.rot[LThigh] = Swing(legAmp * s);
    p.rot[RThigh] = Swing(-legAmp * s);
    // The knee of the leg swinging back bends.
    p.rot[LShin] = RotY(kneeAmp * std::max(0.0f, -std::sin(phase + 0.6f)));
    p.rot[RShin] = RotY(kneeAmp * std::max(0.0f, std::sin(phase + 0.6f)));
    p.rot[LUpperArm] = Then(Spread(0.08f, true), Swing(-armAmp * s));
    p.rot[RUpperArm] = Then(Spread(0.08f, false), Swing(armAmp * s));
    p.rot[LForeArm] = Swing(elbow);
    p.rot[RForeArm] = Swing(elbow);
    p.rot[Spine] = Then(RotZ(0.12f * s), Lean(lean));
    p.rot[Pelvis] = RotZ(-0.08f * s);
    p.pos[Pelvis].z = PelvisHeight(legAmp * std::fabs(s)) - 1.0f * std::fabs(std::cos(phase));
    return p;
}
Pose WalkPose(float t) { return Stride(t, Deg(25), 0.6f, Deg(22), 0.3f, 0.05f); }
Pose RunPose(float t) { return Stride(t, Deg(40), 1.3f, Deg(40), 1.1f, 0.25f); }

// A right-handed blow: wind up, strike forward and up, recover.
Pose AttackPose(float t) {
    Pose p;
    auto curve = [](float x, const float* ts, const float* vs, int n) {
        if (x <= ts[0]) return vs[0];
        for (int i = 1; i < n; ++i)
            if (x <= ts[i]) return vs[i - 1] + (vs[i] - vs[i - 1]) * Smooth((x - ts[i - 1]) / (ts[i] - ts[i - 1]));
        return vs[n - 1];
    };
    const float ts[4] = {0.0f, 0.35f, 0.55f, 1.0f};
    const float arm[4] = {0.0f, -0.8f, 1.9f, 0.0f};
    const float elbow[4] = {0.3f, 1.2f, 0.1f, 0.3f};
    const float twist[4] = {0.0f, 0.35f, -0.35f, 0.0f};
    const float lean[4] = {0.0f, -0.1f, 0.3f, 0.0f};
    p.rot[RUpperArm] = Then(Spread(0.15f, false), Swing(curve(t, ts, arm, 4)));
    p.rot[RForeArm] = Swing(curve(t, ts, elbow, 4));
    p.rot[LUpperArm] = Then(Spread(0.2f, true), Swing(0.5f));
    p.rot[LForeArm] = Swing(1.2f);
    p.rot[Spine] = Then(RotZ(curve(t, ts, twist, 4)), Lean(curve(t, ts, lean, 4)));
    p.rot[LThigh] = Swing(0.3f);
    p.rot[RThigh] = Swing(-0.2f);
    p.rot[LShin] = RotY(0.3f);
    p.pos[Pelvis].z = PelvisHeight(0.3f) - 0.5f;
    return p;
}

// Thrown back by a hit.
Pose PainPose(float t) {
    Pose p;
    float s = std::sin(kPi * t);
    p.rot[Spine] = Lean(-0.4f * s);
    p.rot[Head] = Lean(-0.35f * s);
    p.rot[LUpperArm] = Then(Spread(0.2f + 0.6f * s, true), Swing(0.4f * s));
    p.rot[RUpperArm] = Then(Spread(0.2f + 0.6f * s, false), Swing(0.4f * s));
    p.rot[LForeArm] = Swing(0.8f * s);
    p.rot[RForeArm] = Swing(0.8f * s);
    p.rot[LShin] = RotY(0.3f * s);
    p.rot[RShin] = RotY(0.3f * s);
    p.pos[Pelvis].z = 40.0f - 2.0f * s;
    return p;
}

// Falling on the back: u runs from 0 (standing) to 1 (lying).
Pose FallenPose(float u) {
    Pose p;
    u = Smooth(u);
    p.rot[Pelvis] = Lean(-0.5f * kPi * u);
    p.pos[Pelvis].z = 40.0f + (8.0f - 40.0f) * u;
    p.pos[Pelvis].x = -6.0f * u;
    p.rot[Head] = Lean(-0.3f * u);
    p.rot[LUpperArm] = Spread(1.1f * u, true);
    p.rot[RUpperArm] = Spread(1.1f * u, false);
    p.rot[LForeArm] = Swing(0.5f * u);
    p.rot[RForeArm] = Swing(0.5f * u);
    p.rot[LThigh] = Swing(0.25f * u);
    p.rot[LShin] = RotY(0.35f * u);
    p.rot[RThigh] = Spread(0.15f * u, false);
    return p;
}
Pose DeathPose(float t) { return FallenPose(t / 0.8f); }
Pose GetupPose(float t) { return FallenPose(1.0f - t / 0.85f); }

const AnimDesc kAnims[] = {
    {"idle", 48, 24.0f, 0.0f, IdlePose},     {"walk", 24, 24.0f, 50.0f, WalkPose}, {"run", 16, 24.0f, 80.0f, RunPose},
    {"attack", 20, 24.0f, 0.0f, AttackPose}, {"pain", 12, 24.0f, 0.0f, PainPose},   {"death", 30, 24.0f, 0.0f, DeathPose},
    {"getup", 30, 24.0f, 0.0f, GetupPose},
};

// Model-space joints of a pose: a child's position turned by its parent's
// rotation and moved by its parent's position; its rotation followed by the
// parent's.
void Solve(const Pose& p, V3* pos, Quat* rot) {
    for (int j = 0; j < NumJoints; ++j) {
        int parent = kParents[j];
        if (parent < 0) {
            pos[j] = p.pos[j];
            rot[j] = p.rot[j];
        } else {
            pos[j] = Add(Rotate(rot[parent], p.pos[j]), pos[parent]);
            rot[j] = Then(p.rot[j], rot[parent]);
        }
    }
}

MD5Anim MakeAnim(const AnimDesc& desc, const std::vector<std::vector<V3>>& meshes,
                 const std::vector<std::vector<int>>& meshJoints) {
    MD5Anim anim;
    anim.commandline = "zvdemogen";
    anim.frameRate = desc.rate;
    const bool moves = desc.travel > 0;
    for (int j = 0; j < NumJoints; ++j) {
        MD5AnimJoint joint;
        joint.name = WrittenName(j);
        joint.parent = kParents[j];
        // The root stays at the origin (no components) except when it walks
        // forward; its line then holds x, y and z so that it is never shorter
        // than the readers' shortest data line.
        joint.flags = j == Origin ? (moves ? 7 : 0) : 63;
        anim.joints.push_back(joint);
        MD5BaseJoint base;
        V3 local = Mirror(LocalBind(j));
        base.pos[0] = local.x, base.pos[1] = local.y, base.pos[2] = local.z;
        anim.baseframe.push_back(base);
    }
    AssignMD5StartIndices(&anim);
    for (int f = 0; f < desc.frames; ++f) {
        Pose p = desc.pose((float)f / (float)desc.frames);
        // One cycle carries the root forward by `travel`, the first frame one
        // step ahead of the origin (the world follows the root's way from
        // the first frame to the last one shown).
        if (moves) p.pos[Origin] = {desc.travel * (float)(f + 1) / (float)desc.frames, 0, 0};
        std::vector<float> values;
        for (int j = 0; j < NumJoints; ++j) {
            if (j == Origin && !moves) continue;
            const V3 pos = Mirror(p.pos[j]);
            values.insert(values.end(), {pos.x, pos.y, pos.z});
            if (j == Origin) continue;
            const Quat rot = Mirror(p.rot[j]);
            float q[4] = {rot.x, rot.y, rot.z, rot.w}, c[3];
            MD5CompressQuaternion(q, c);
            values.insert(values.end(), {c[0], c[1], c[2]});
        }
        anim.frames.push_back(values);

        // The frame's box holds every vertex of every figure that plays it.
        V3 pos[NumJoints];
        Quat rot[NumJoints];
        Solve(p, pos, rot);
        MD5Bound b;
        for (int c = 0; c < 3; ++c) b.min[c] = 1e30f, b.max[c] = -1e30f;
        for (size_t m = 0; m < meshes.size(); ++m)
            for (size_t v = 0; v < meshes[m].size(); ++v) {
                int j = meshJoints[m][v];
                V3 world = Mirror(Add(Rotate(rot[j], Sub(Mirror(meshes[m][v]), kBind[j])), pos[j]));
                const float xyz[3] = {world.x, world.y, world.z};
                for (int c = 0; c < 3; ++c) {
                    b.min[c] = std::min(b.min[c], xyz[c]);
                    b.max[c] = std::max(b.max[c], xyz[c]);
                }
            }
        for (int c = 0; c < 3; ++c) b.min[c] -= 0.5f, b.max[c] += 0.5f;
        anim.bounds.push_back(b);
    }
    return anim;
}

// The figure's texture atlas; `armour` tints the torso, the belt and the
// pads.
Image FigureImage(float ar, float ag, float ab) {
    Image im(128, 128);
    auto region = [&](const float uv[4], float r, float g, float b, int seed) {
        int x0 = (int)(uv[0] * 128), y0 = (int)(uv[1] * 128), x1 = (int)(uv[2] * 128), y1 = (int)(uv[3] * 128);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                float n = 0.85f + 0.15f * Noise((float)x / 3, (float)y / 3, seed);
                im.Set(x, y, r * n, g * n, b * n);
            }
    };
    region(kHeadUV, 220, 175, 140, 11);
    region(kTorsoUV, ar, ag, ab, 12);
    region(kBeltUV, 80, 60, 40, 13);
    region(kArmUV, ar * 0.8f, ag * 0.8f, ab * 0.8f, 14);
    region(kLegUV, 70, 70, 80, 15);
    region(kDarkUV, 35, 35, 40, 16);
    region(kPadUV, 190, 170, 90, 17);
    // Head: dark hair on top, eyes near the front.
    im.Fill(0, 0, 32, 6, 60, 40, 25);
    im.Fill(5, 14, 10, 18, 20, 20, 20);
    im.Fill(22, 14, 27, 18, 20, 20, 20);
    // Torso: a light chest plate with a dark emblem.
    im.Fill(44, 6, 84, 40, ar * 1.3f + 30, ag * 1.3f + 30, ab * 1.3f + 30);
    for (int y = 14; y < 32; ++y)
        for (int x = 56; x < 72; ++x)
            if (std::abs(x - 64) + std::abs(y - 23) < 9) im.Set(x, y, 30, 30, 30);
    // Arms: gloves at the bottom.
    im.Fill(0, 84, 32, 96, 50, 40, 30);
    // Legs: boots at the bottom, a seam.
    im.Fill(96, 84, 128, 96, 40, 35, 30);
    im.Fill(111, 32, 113, 84, 50, 50, 60);
    return im;
}

bool WriteImages(const std::string& dir) {
    Image floor = FloorImage(), wall = WallImage(), pillar = PillarImage(), trim = TrimImage();
    TgaOptions tga;
    tga.bits = 24;
    tga.rle = true;
    PngOptions png;
    png.kind = PngOptions::RGB;
    JpegOptions jpeg;
    jpeg.quality = 90;
    BmpOptions bmp;
    bmp.bits = 24;
    Image grunt = FigureImage(80, 120, 60), brute = FigureImage(150, 45, 40);
    Image totemA(64, 64), totemB(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            bool stripe = ((x + y) / 8) % 2 == 0;
            totemA.Set(x, y, stripe ? 230 : 120, stripe ? 160 : 70, stripe ? 60 : 30);
            float r = std::hypot((float)x - 32, (float)y - 32);
            totemB.Set(x, y, 60 + 2 * r, 120 + r, 200 - r);
        }
    return WriteTGA(dir + "floor.tga", floor.w, floor.h, floor.px.data(), tga) &&
           WriteBytes(dir + "wall.png", EncodePNG(wall.w, wall.h, wall.px.data(), png)) &&
           WriteBytes(dir + "pillar.jpg", EncodeJPEG(pillar.w, pillar.h, pillar.px.data(), jpeg)) &&
           WriteBytes(dir + "trim.bmp", EncodeBMP(trim.w, trim.h, trim.px.data(), bmp)) &&
           WriteTGA(dir + "grunt_d.tga", grunt.w, grunt.h, grunt.px.data()) &&
           WriteTGA(dir + "brute.tga", brute.w, brute.h, brute.px.data(), tga) &&
           WriteBytes(dir + "totem_a.png", EncodePNG(totemA.w, totemA.h, totemA.px.data())) &&
           WriteBytes(dir + "totem_b.jpg", EncodeJPEG(totemB.w, totemB.h, totemB.px.data(), jpeg));
}

bool WriteOpponents(const std::string& dir) {
    std::vector<std::vector<V3>> positions(2);
    std::vector<std::vector<int>> joints(2);
    MD5MeshFile grunt = FigureMeshFile("grunt", false, &positions[0], &joints[0]);
    MD5MeshFile brute = FigureMeshFile("brute", true, &positions[1], &joints[1]);
    if (!WriteTextFile(dir + "grunt.md5mesh", WriteMD5Mesh(grunt)) ||
        !WriteTextFile(dir + "brute.md5mesh", WriteMD5Mesh(brute)))
        return false;
    MD5DefModel gruntDef{"grunt", "grunt.md5mesh", {}}, bruteDef{"brute", "brute.md5mesh", {}};
    for (const AnimDesc& desc : kAnims) {
        std::string file = std::string("opponent_") + desc.name + ".md5anim";
        if (!WriteTextFile(dir + file, WriteMD5Anim(MakeAnim(desc, positions, joints)))) return false;
        gruntDef.anims.push_back({desc.name, file});
        bruteDef.anims.push_back({desc.name, file});
    }
    std::string def =
        "// The opponents of the demo: two figures on one skeleton sharing their\n"
        "// animations, named after the roles the game's opponents look for.\n\n" +
        WriteMD5Def({gruntDef, bruteDef});
    return WriteTextFile(dir + "opponent.def", def);
}

const char* kSceneText =
    "// Demo scene of Skirmora and Lumivex.\n"
    "//\n"
    "// The first model is the arena; every further one is an opponent of the\n"
    "// game. Started without a model file, the viewer shows the second model.\n"
    "// Positions: x y z and the heading in degrees (y = -47 is the floor the\n"
    "// game shows; the arena's own position only serves the viewer).\n"
    "\n"
    "path .\n"
    "\n"
    "model scene.3ds\n"
    "{\n"
    "    position 0 -47.2 0 0\n"
    "}\n"
    "model opponent.def?grunt\n"
    "{\n"
    "    position 0 -47 0 0\n"
    "}\n"
    "model opponent.def?brute\n"
    "{\n"
    "    position -450 -47 500 0\n"
    "}\n"
    "model opponent.def?grunt\n"
    "{\n"
    "    position 500 -47 300 0\n"
    "}\n"
    "\n"
    "display\n"
    "{\n"
    "    adapter 0\n"
    "    resolution 800 600\n"
    "    windowed 1\n"
    "    strict 0\n"
    "    performance 0\n"
    "}\n"
    "\n"
    "camera\n"
    "{\n"
    "    eye 0 10 -250\n"
    "    lookat 0 10 0\n"
    "}\n"
    "\n"
    "pointlight\n"
    "{\n"
    "    position 400 100 -400\n"
    "    ambient 0.2 0.2 0.2\n"
    "    diffuse 1.0 0.95 0.85\n"
    "    specular 0.4 0.4 0.4\n"
    "}\n"
    "pointlight\n"
    "{\n"
    "    position -650 100 -650\n"
    "    ambient 0.2 0.2 0.2\n"
    "    diffuse 0.7 0.8 1.0\n"
    "    specular 0.3 0.3 0.3\n"
    "}\n"
    "pointlight\n"
    "{\n"
    "    position 650 100 650\n"
    "    ambient 0.2 0.2 0.2\n"
    "    diffuse 1.0 0.85 0.65\n"
    "    specular 0.3 0.3 0.3\n"
    "}\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zvdemogen <output folder>\n");
        return 2;
    }
    std::string dir = argv[1];
    if (!dir.empty() && dir.back() != '/') dir += '/';

    bool ok = WriteScene3ds(dir + "scene.3ds", ArenaScene());
    ok = ok && WriteImages(dir);
    ok = ok && WriteOpponents(dir);
    Cal3DDemoOptions totem;
    totem.scale = 20.0f;
    totem.twist = true;
    ok = ok && !WriteCal3DDemoModel(dir, "totem", "totem_a.png", "totem_b.jpg", totem).empty();
    ok = ok && WriteTextFile(dir + "zvscene.txt", kSceneText);
    if (!ok) {
        std::fprintf(stderr, "zvdemogen: cannot write the demo content into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
