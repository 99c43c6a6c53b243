// .3ds chunk file writer for tests and generated content.
//
// Chunk3ds is a free chunk tree: a tag, the bytes of its fixed part and its
// nested chunks; Bytes() lays it out with every size computed, unless a
// chunk carries a size override (to write broken files on purpose).  Scene3ds
// builds the usual tree of a scene: materials (colours, shininess, texture
// map), mesh objects (vertices, texture coordinates, faces, material groups)
// and keyframer object nodes (names, ids, parents, instance names).
// All numbers are written little-endian, byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtools {

struct Chunk3ds {
    uint16_t tag = 0;
    std::vector<uint8_t> data;       // the fixed part / payload
    std::vector<Chunk3ds> children;  // nested chunks, written after data
    bool overrideSize = false;
    uint32_t sizeOverride = 0;       // written instead of the real size

    Chunk3ds() = default;
    explicit Chunk3ds(uint16_t t) : tag(t) {}

    Chunk3ds& U8(uint8_t v);
    Chunk3ds& U16(uint16_t v);
    Chunk3ds& U32(uint32_t v);
    Chunk3ds& F32(float v);
    Chunk3ds& Str(const std::string& s);  // with its terminator
    Chunk3ds& Raw(const void* bytes, size_t n);
    Chunk3ds& Add(const Chunk3ds& child);

    uint32_t Size() const;  // 6 + data + children (the real size)
    std::vector<uint8_t> Bytes() const;
    void AppendTo(std::vector<uint8_t>& out) const;
};

struct MatGroup3ds {
    std::string material;
    std::vector<uint16_t> faces;
};

struct Mesh3ds {
    std::string name;
    std::vector<float> vertices;    // x, y, z per vertex
    std::vector<uint16_t> faces;    // a, b, c, flags per face
    std::vector<float> texCoords;   // u, v per vertex as files hold them, v = 0 at the image's
                                    // bottom row (none: no 0x4140 chunk)
    std::vector<MatGroup3ds> groups;
    std::vector<uint32_t> smoothing;  // one per face (none: no 0x4150 chunk)
};

struct Material3ds {
    std::string name;
    uint8_t ambient[3] = {0, 0, 0};
    uint8_t diffuse[3] = {200, 200, 200};
    uint8_t specular[3] = {255, 255, 255};
    int16_t shininess = 0;          // percent, written as 0x0030
    int16_t shinStrength = 0;       // percent
    int16_t transparency = 0;       // percent
    std::string texture;            // texture map file name (empty: no map)
    int16_t texturePercent = 100;
    uint16_t mapFlags = 0;          // 0xA351 (written when not 0)
    float uScale = 1.0f, vScale = 1.0f;
    float uOffset = 0.0f, vOffset = 0.0f;  // 0xA358 / 0xA35A (written when not 0)
    bool twoSided = false;
};

struct KfNode3ds {
    uint16_t tag = 0xB002;          // object node
    std::string name;
    uint16_t id = 0;
    bool writeId = true;            // false: no 0xB030 chunk
    uint16_t parent = 0xFFFF;
    std::string instance;           // 0xB011 (empty: none)
};

struct Scene3ds {
    std::vector<Material3ds> materials;
    std::vector<Mesh3ds> meshes;
    std::vector<KfNode3ds> nodes;   // none: no keyframer chunk
};

// An axis-aligned box in file coordinates (z up): 24 vertices (4 per side,
// so each side has its own texture coordinates, one texture repeat per
// uvUnit of length, the image's top row along each side's low edge) and 12
// faces, all in one material group.  Faces turn counter-clockwise seen from
// outside (right-handed, as .3ds files have them), or from inside when
// inward is set (rooms, arenas).
Mesh3ds BoxMesh3ds(const std::string& name, const float min[3], const float max[3], const std::string& material,
                   float uvUnit = 1.0f, bool inward = false);

Chunk3ds MaterialChunk3ds(const Material3ds& m);
Chunk3ds MeshObjectChunk3ds(const Mesh3ds& m);   // 0x4000 with its 0x4100
Chunk3ds KfNodeChunk3ds(const KfNode3ds& n);
Chunk3ds SceneChunk3ds(const Scene3ds& scene);   // the 0x4D4D top chunk
std::vector<uint8_t> SceneBytes3ds(const Scene3ds& scene);

bool WriteBytes3ds(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteScene3ds(const std::string& path, const Scene3ds& scene);

}  // namespace zvtools
