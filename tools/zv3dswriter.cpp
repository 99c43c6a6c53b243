#include "zv3dswriter.h"

#include <cstdio>
#include <cstring>

namespace zvtools {

Chunk3ds& Chunk3ds::U8(uint8_t v) {
    data.push_back(v);
    return *this;
}

Chunk3ds& Chunk3ds::U16(uint16_t v) {
    data.push_back(static_cast<uint8_t>(v & 0xFF));
    data.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
}

Chunk3ds& Chunk3ds::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

Chunk3ds& Chunk3ds::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return U32(bits);
}

Chunk3ds& Chunk3ds::Str(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    data.push_back(0);
    return *this;
}

Chunk3ds& Chunk3ds::Raw(const void* bytes, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), p, p + n);
    return *this;
}

Chunk3ds& Chunk3ds::Add(const Chunk3ds& child) {
    children.push_back(child);
    return *this;
}

uint32_t Chunk3ds::Size() const {
    uint32_t size = 6 + static_cast<uint32_t>(data.size());
    for (const Chunk3ds& c : children) size += c.Size();
    return size;
}

void Chunk3ds::AppendTo(std::vector<uint8_t>& out) const {
    uint32_t size = overrideSize ? sizeOverride : Size();
    out.push_back(static_cast<uint8_t>(tag & 0xFF));
    out.push_back(static_cast<uint8_t>(tag >> 8));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    for (const Chunk3ds& c : children) c.AppendTo(out);
}

std::vector<uint8_t> Chunk3ds::Bytes() const {
    std::vector<uint8_t> out;
    out.reserve(Size());
    AppendTo(out);
    return out;
}

namespace {

Chunk3ds Colour(uint16_t tag, const uint8_t rgb[3]) {
    Chunk3ds c(tag);
    c.Add(Chunk3ds(0x0011).U8(rgb[0]).U8(rgb[1]).U8(rgb[2]));
    return c;
}

Chunk3ds Percent(uint16_t tag, int16_t value) {
    Chunk3ds c(tag);
    c.Add(Chunk3ds(0x0030).U16(static_cast<uint16_t>(value)));
    return c;
}

}  // namespace

Mesh3ds BoxMesh3ds(const std::string& name, const float min[3], const float max[3], const std::string& material,
                   float uvUnit, bool inward) {
    Mesh3ds m;
    m.name = name;
    // Each side: an axis it faces along, a sign, and its two in-plane axes
    // chosen so that (u axis) x (v axis) points outward.
    struct Side {
        int axis, sign, u, v;
    };
    const Side sides[6] = {{0, +1, 1, 2}, {0, -1, 2, 1}, {1, +1, 2, 0}, {1, -1, 0, 2}, {2, +1, 0, 1}, {2, -1, 1, 0}};
    MatGroup3ds group{material, {}};
    for (const Side& s : sides) {
        const uint16_t base = static_cast<uint16_t>(m.vertices.size() / 3);
        const float corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (const auto& c : corner) {
            float p[3];
            p[s.axis] = s.sign > 0 ? max[s.axis] : min[s.axis];
            p[s.u] = c[0] > 0 ? max[s.u] : min[s.u];
            p[s.v] = c[1] > 0 ? max[s.v] : min[s.v];
            m.vertices.insert(m.vertices.end(), {p[0], p[1], p[2]});
            const float unit = uvUnit > 0 ? uvUnit : 1.0f;
            m.texCoords.push_back(c[0] * (max[s.u] - min[s.u]) / unit);
            // Files count v from the image's bottom row: the image's top row
            // lies on the side's low edge.
            m.texCoords.push_back(1.0f - c[1] * (max[s.v] - min[s.v]) / unit);
        }
        const uint16_t quad[2][3] = {{0, 1, 2}, {0, 2, 3}};
        for (const auto& t : quad) {
            group.faces.push_back(static_cast<uint16_t>(m.faces.size() / 4));
            if (inward) m.faces.insert(m.faces.end(), {uint16_t(base + t[0]), uint16_t(base + t[2]), uint16_t(base + t[1]), 7});
            else m.faces.insert(m.faces.end(), {uint16_t(base + t[0]), uint16_t(base + t[1]), uint16_t(base + t[2]), 7});
        }
    }
    m.groups.push_back(group);
    m.smoothing.assign(m.faces.size() / 4, 0);
    return m;
}

Chunk3ds MaterialChunk3ds(const Material3ds& m) {
    Chunk3ds mat(0xAFFF);
    mat.Add(Chunk3ds(0xA000).Str(m.name));
    mat.Add(Colour(0xA010, m.ambient));
    mat.Add(Colour(0xA020, m.diffuse));
    mat.Add(Colour(0xA030, m.specular));
    mat.Add(Percent(0xA040, m.shininess));
    mat.Add(Percent(0xA041, m.shinStrength));
    mat.Add(Percent(0xA050, m.transparency));
    mat.Add(Chunk3ds(0xA100).U16(3));
    if (m.twoSided) mat.Add(Chunk3ds(0xA081));
    if (!m.texture.empty()) {
        Chunk3ds map(0xA200);
        map.Add(Chunk3ds(0x0030).U16(static_cast<uint16_t>(m.texturePercent)));
        map.Add(Chunk3ds(0xA300).Str(m.texture));
        if (m.mapFlags) map.Add(Chunk3ds(0xA351).U16(m.mapFlags));
        map.Add(Chunk3ds(0xA354).F32(m.uScale));
        map.Add(Chunk3ds(0xA356).F32(m.vScale));
        if (m.uOffset != 0.0f) map.Add(Chunk3ds(0xA358).F32(m.uOffset));
        if (m.vOffset != 0.0f) map.Add(Chunk3ds(0xA35A).F32(m.vOffset));
        mat.Add(map);
    }
    return mat;
}

Chunk3ds MeshObjectChunk3ds(const Mesh3ds& m) {
    Chunk3ds mesh(0x4100);
    Chunk3ds verts(0x4110);
    uint16_t nv = static_cast<uint16_t>(m.vertices.size() / 3);
    verts.U16(nv);
    verts.data.reserve(2 + size_t(nv) * 12);
    for (size_t i = 0; i < size_t(nv) * 3; ++i) verts.F32(m.vertices[i]);
    mesh.Add(verts);
    if (!m.texCoords.empty()) {
        Chunk3ds uv(0x4140);
        uint16_t n = static_cast<uint16_t>(m.texCoords.size() / 2);
        uv.U16(n);
        for (size_t i = 0; i < size_t(n) * 2; ++i) uv.F32(m.texCoords[i]);
        mesh.Add(uv);
    }
    Chunk3ds local(0x4160);
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float f : identity) local.F32(f);
    mesh.Add(local);
    if (!m.faces.empty() || !m.groups.empty()) {
        Chunk3ds faces(0x4120);
        uint16_t nf = static_cast<uint16_t>(m.faces.size() / 4);
        faces.U16(nf);
        for (size_t i = 0; i < size_t(nf) * 4; ++i) faces.U16(m.faces[i]);
        for (const MatGroup3ds& g : m.groups) {
            Chunk3ds grp(0x4130);
            grp.Str(g.material).U16(static_cast<uint16_t>(g.faces.size()));
            for (uint16_t f : g.faces) grp.U16(f);
            faces.Add(grp);
        }
        if (!m.smoothing.empty()) {
            Chunk3ds sm(0x4150);
            for (uint32_t s : m.smoothing) sm.U32(s);
            faces.Add(sm);
        }
        mesh.Add(faces);
    }
    Chunk3ds obj(0x4000);
    obj.Str(m.name);
    obj.Add(mesh);
    return obj;
}

Chunk3ds KfNodeChunk3ds(const KfNode3ds& n) {
    Chunk3ds node(n.tag);
    if (n.writeId) node.Add(Chunk3ds(0xB030).U16(n.id));
    node.Add(Chunk3ds(0xB010).Str(n.name).U16(0).U16(0).U16(n.parent));
    if (!n.instance.empty()) node.Add(Chunk3ds(0xB011).Str(n.instance));
    return node;
}

Chunk3ds SceneChunk3ds(const Scene3ds& scene) {
    Chunk3ds top(0x4D4D);
    top.Add(Chunk3ds(0x0002).U32(3));
    Chunk3ds mdata(0x3D3D);
    mdata.Add(Chunk3ds(0x3D3E).U32(3));
    for (const Material3ds& m : scene.materials) mdata.Add(MaterialChunk3ds(m));
    mdata.Add(Chunk3ds(0x0100).F32(1.0f));
    for (const Mesh3ds& m : scene.meshes) mdata.Add(MeshObjectChunk3ds(m));
    top.Add(mdata);
    if (!scene.nodes.empty()) {
        Chunk3ds kf(0xB000);
        kf.Add(Chunk3ds(0xB00A).U16(5).Str("zvscene").U32(100));
        kf.Add(Chunk3ds(0xB008).U32(0).U32(100));
        kf.Add(Chunk3ds(0xB009).U32(0));
        for (const KfNode3ds& n : scene.nodes) kf.Add(KfNodeChunk3ds(n));
        top.Add(kf);
    }
    return top;
}

std::vector<uint8_t> SceneBytes3ds(const Scene3ds& scene) { return SceneChunk3ds(scene).Bytes(); }

bool WriteBytes3ds(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool WriteScene3ds(const std::string& path, const Scene3ds& scene) {
    return WriteBytes3ds(path, SceneBytes3ds(scene));
}

}  // namespace zvtools
