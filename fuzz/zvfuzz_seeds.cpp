// zvfuzzseeds <dir>: writes the seed corpora of the fuzz targets, one
// folder per target (<dir>/<target>/), made by our own writers: sound files
// of every kind and variant the readers know, small enough to mutate fast.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zv3dswriter.h"
#include "zvcal3dwriter.h"
#include "zvfuzz_samples.h"
#include "zvimagewriters.h"
#include "zvmd5writer.h"

namespace {

std::string g_root;
int g_failures = 0;

void Put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string dir = g_root + target + "/";
    mkdir(dir.c_str(), 0755);
    if (bytes.empty() || !zvtools::WriteBytes(dir + name, bytes)) {
        std::fprintf(stderr, "zvfuzzseeds: cannot make %s%s\n", dir.c_str(), name.c_str());
        ++g_failures;
    }
}

void Put(const std::string& target, const std::string& name, const std::string& text) {
    Put(target, name, std::vector<uint8_t>(text.begin(), text.end()));
}

// ------------------------------------------------------------------ text

const char kScene[] =
    "// the arena\n"
    "path data\n"
    "path \"data/models\"\n"
    "display\n"
    "{\n"
    "\tadapter 0\n"
    "\tresolution 640 480\n"
    "\twindowed 1\n"
    "\tstrict 0\n"
    "\tperformance 1\n"
    "}\n"
    "camera { eye (0, 5, -10) lookat (0, 0, 0) }\n"
    "pointlight\n"
    "{\n"
    "\tposition 0 50 0\n"
    "\tambient 0.1 0.1 0.1\n"
    "\tdiffuse 1 0.9 0.8\n"
    "\tspecular 1 1 1\n"
    "}\n"
    "model arena.3ds\n"
    "model \"imp.def?imp\" { position 1.5 0 -2 90 }\n"
    "/* unused: model old.3ds */\n";

void TextSeeds() {
    for (const char* target : {"parser", "config"}) {
        Put(target, "scene.txt", kScene);
        Put(target, "scene_crlf.txt",
            "path data\r\nmodel arena.3ds\r\ncamera\r\n{\r\n eye 1 2 3\r\n lookat 4 5 6\r\n}\r\n");
        Put(target, "bad.txt", "display { adapter } camera { eye 1 } pointlight { } unknown 1 2\nmodel\n");
    }
    Put("parser", "nested.txt", "a { b { c { d \"quoted } text\" } e } f } g = (1, 2); h: i\n} }");
    Put("parser", "comments.txt", "x // line\n/* block\n { */ y { z }\n/* open");
}

// ------------------------------------------------------------------ 3DS

zvtools::Scene3ds SampleScene(bool withNodes) {
    zvtools::Scene3ds scene;
    zvtools::Material3ds stone;
    stone.name = "stone";
    stone.texture = "stone.tga";
    stone.shininess = 20;
    stone.transparency = 10;
    stone.mapFlags = 0x10;
    stone.uScale = 2.0f;
    stone.twoSided = true;
    zvtools::Material3ds plain;
    plain.name = "plain";
    scene.materials = {stone, plain};

    const float min[3] = {-1, -1, 0}, max[3] = {1, 1, 2};
    zvtools::Mesh3ds box = zvtools::BoxMesh3ds("box", min, max, "stone");
    box.smoothing.assign(box.faces.size() / 4, 1u);
    zvtools::Mesh3ds tri;
    tri.name = "tri";
    tri.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    tri.faces = {0, 1, 2, 7};
    zvtools::MatGroup3ds group;
    group.material = "plain";
    group.faces = {0};
    tri.groups = {group};
    scene.meshes = {box, tri};

    if (withNodes) {
        zvtools::KfNode3ds a;
        a.name = "box";
        a.id = 0;
        zvtools::KfNode3ds b;
        b.name = "tri";
        b.id = 1;
        b.parent = 0;
        b.instance = "copy";
        scene.nodes = {a, b};
    }
    return scene;
}

void Seeds3ds() {
    for (const char* target : {"toolkit3ds", "model3ds"}) {
        Put(target, "scene.3ds", zvtools::SceneBytes3ds(SampleScene(true)));
        Put(target, "no_nodes.3ds", zvtools::SceneBytes3ds(SampleScene(false)));
    }
    // Three faces of the tiled box and the triangle name materials the file
    // does not hold: they are drawn with the default material.
    zvtools::Scene3ds unknown = SampleScene(false);
    std::vector<uint16_t>& boxFaces = unknown.meshes[0].groups[0].faces;
    boxFaces.erase(boxFaces.begin(), boxFaces.begin() + 3);
    unknown.meshes[0].groups.push_back(zvtools::MatGroup3ds{"17 - Default", {0, 1, 2}});
    unknown.meshes[1].groups[0].material = "ghost";
    Put("model3ds", "unknown_material.3ds", zvtools::SceneBytes3ds(unknown));
    // A mesh with the optional chunks the writer has no record for: vertex
    // flags, local matrix, mapping, box map, colour, procedure.
    zvtools::Chunk3ds object = zvtools::MeshObjectChunk3ds(SampleScene(false).meshes[1]);
    zvtools::Chunk3ds& mesh = object.children[0];
    zvtools::Chunk3ds flags(0x4111);
    flags.U16(3).U16(1).U16(2).U16(3);
    zvtools::Chunk3ds matrix(0x4160);
    for (int i = 0; i < 12; ++i) matrix.F32(i % 4 == 0 ? 1.0f : 0.0f);
    zvtools::Chunk3ds mapping(0x4170);
    mapping.U16(1);
    for (int i = 0; i < 21; ++i) mapping.F32(0.5f);
    zvtools::Chunk3ds colour(0x4165);
    colour.U8(3);
    zvtools::Chunk3ds procName(0x4181);
    procName.Str("proc");
    zvtools::Chunk3ds procData(0x4182);
    procData.U32(2).U8(9).U8(8);
    mesh.Add(flags).Add(matrix).Add(mapping).Add(colour).Add(procName).Add(procData);
    zvtools::Chunk3ds boxMap(0x4190);
    for (int i = 0; i < 6; ++i) boxMap.Str("side" + std::to_string(i));
    for (zvtools::Chunk3ds& c : mesh.children)
        if (c.tag == 0x4120) c.Add(boxMap);
    object.Add(zvtools::Chunk3ds(0x4010)).Add(zvtools::Chunk3ds(0x4015));
    zvtools::Chunk3ds editor(0x3D3D);
    editor.Add(object);
    zvtools::Chunk3ds top(0x4D4D);
    top.Add(editor);
    Put("toolkit3ds", "optional.3ds", top.Bytes());
    Put("model3ds", "optional.3ds", top.Bytes());
    // A material library file.
    zvtools::Chunk3ds library(0x3DAA);
    library.Add(zvtools::MaterialChunk3ds(SampleScene(false).materials[0]));
    Put("toolkit3ds", "library.mli", library.Bytes());
}

// ------------------------------------------------------------------ MD5

void SeedsMD5() {
    for (const zvfuzz::SeedFile& seed : zvfuzz::MD5Seeds()) Put(seed.target, seed.name, seed.text);
}

// ------------------------------------------------------------------ Cal3D

void SeedsCal3D() {
    zvtools::Cal3DSkeleton skeleton;
    for (int b = 0; b < 4; ++b) {
        zvtools::Cal3DBone bone;
        bone.name = "bone" + std::to_string(b);
        bone.parent = b == 0 ? -1 : (b == 3 ? 0 : b - 1);
        bone.translation[1] = 1.0f;
        bone.rotation[2] = 0.5f;
        skeleton.bones.push_back(bone);
    }
    skeleton.bones[0].children = {1, 3};
    skeleton.bones[1].children = {2};
    Put("cal3d_skeleton", "four.csf", zvtools::WriteCal3DSkeleton(skeleton));
    skeleton.version = 910;
    Put("cal3d_skeleton", "version.csf", zvtools::WriteCal3DSkeleton(skeleton));

    zvtools::Cal3DAnimation animation;
    animation.duration = 2.0f;
    for (int t = 0; t < 3; ++t) {
        zvtools::Cal3DTrack track;
        track.bone = t;
        for (int k = 0; k <= t; ++k) {
            zvtools::Cal3DKeyFrame key;
            key.time = (float)k * 0.5f;
            key.translation[0] = (float)k;
            track.keyFrames.push_back(key);
        }
        animation.tracks.push_back(track);
    }
    Put("cal3d_animation", "three.caf", zvtools::WriteCal3DAnimation(animation));

    zvtools::Cal3DMesh mesh;
    for (int s = 0; s < 2; ++s) {
        zvtools::Cal3DSubMesh sub;
        sub.material = s;
        sub.numMaps = (uint32_t)s + 1;
        for (int v = 0; v < 4; ++v) {
            zvtools::Cal3DVertex vertex;
            vertex.pos[0] = (float)(v & 1);
            vertex.pos[1] = (float)(v >> 1);
            vertex.texCoords.assign(sub.numMaps * 2, 0.25f * (float)v);
            vertex.influences.resize(v == 3 ? 2 : 1);
            vertex.influences[0].bone = v % 3;
            if (v == 3) {
                vertex.influences[0].weight = 0.5f;
                vertex.influences[1].bone = 2;
                vertex.influences[1].weight = 0.5f;
            }
            vertex.physicalWeight = 1.0f;
            sub.vertices.push_back(vertex);
        }
        if (s == 1) sub.springs.resize(1);
        sub.faces = {0, 1, 2, 2, 1, 3};
        mesh.subMeshes.push_back(sub);
    }
    Put("cal3d_mesh", "two.cmf", zvtools::WriteCal3DMesh(mesh));

    // Descriptions of the demo model the .cfg target finds beside its input.
    const std::string demo = zvfuzz::kCal3DDemoName;
    Put("cal3d_cfg", "demo.cfg",
        zvtools::WriteCal3DConfig({{"scale", "0.5"},
                                   {"skeleton", demo + ".csf"},
                                   {"animation", demo + "_bend.caf"},
                                   {"animation", demo + "_twist.caf"},
                                   {"mesh", demo + ".cmf"},
                                   {"mesh", demo + ".cmf"},
                                   {"material", demo + "_a.crf"},
                                   {"material", demo + "_b.crf"}}));
    Put("cal3d_cfg", "odd.cfg",
        "# odd but readable\n  path = ./\nflip_texture = 1\n\tskeleton=" + demo + ".csf\r\nskeleton = " + demo +
            ".csf\nidle_anim=6\nmesh=" + demo + ".cmf\nmaterial = " + demo + "_b.crf\n\n");
    Put("cal3d_cfg", "broken.cfg", "skeleton\nscale = -1\nunknown = 3\nmesh = missing.cmf\n");

    zvtools::Cal3DMaterial material;
    Put("cal3d_material", "plain.crf", zvtools::WriteCal3DMaterial(material));
    material.maps = {"skin.tga", "detail.tga"};
    material.shininess = 12.0f;
    Put("cal3d_material", "maps.crf", zvtools::WriteCal3DMaterial(material));
    material.terminateNames = false;
    material.maps = {"bare.tga"};
    Put("cal3d_material", "bare.crf", zvtools::WriteCal3DMaterial(material));
}

// ------------------------------------------------------------------ images

std::vector<uint8_t> SamplePixels(int width, int height, int colours) {
    std::vector<uint8_t> bgra((size_t)width * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgra[((size_t)y * width + x) * 4];
            const int c = (x + 2 * y) % colours;
            p[0] = (uint8_t)(c * 40);
            p[1] = (uint8_t)(255 - c * 30);
            p[2] = (uint8_t)(c * 70);
            p[3] = (uint8_t)(c % 2 ? 255 : 128);
        }
    return bgra;
}

void SeedsImages() {
    const int w = 7, h = 5;
    const std::vector<uint8_t> px = SamplePixels(w, h, 4);
    const std::vector<uint8_t> grey = [&] {
        std::vector<uint8_t> g = px;
        for (size_t i = 0; i < g.size(); i += 4) g[i + 1] = g[i + 2] = g[i];
        return g;
    }();

    using zvtools::TgaOptions;
    struct Tga { const char* name; TgaOptions::Kind kind; int bits; int mapBits; bool rle; bool top; };
    const Tga tgas[] = {
        {"rgba32", TgaOptions::TrueColour, 32, 24, false, false}, {"rgb24_rle", TgaOptions::TrueColour, 24, 24, true, true},
        {"rgb16", TgaOptions::TrueColour, 16, 24, false, false},  {"rgb15_rle", TgaOptions::TrueColour, 15, 24, true, false},
        {"grey8", TgaOptions::Grey, 8, 24, false, true},          {"grey16_rle", TgaOptions::Grey, 16, 24, true, false},
        {"map8", TgaOptions::ColourMapped, 8, 24, false, false},  {"map8_rle", TgaOptions::ColourMapped, 8, 32, true, false},
        {"map16", TgaOptions::ColourMapped, 16, 16, false, true},
    };
    for (const Tga& t : tgas) {
        TgaOptions o;
        o.kind = t.kind;
        o.bits = t.bits;
        o.mapBits = t.mapBits;
        o.rle = t.rle;
        o.rleAcrossRows = t.rle && t.top;
        o.topDown = t.top;
        o.rightToLeft = t.bits == 16;
        if (t.kind == TgaOptions::ColourMapped) o.mapFirst = 2;
        if (t.bits == 24) o.id = "id";
        Put("image_tga", std::string(t.name) + ".tga",
            zvtools::EncodeTGA(w, h, (t.kind == TgaOptions::Grey ? grey : px).data(), o));
    }

    using zvtools::BmpOptions;
    struct Bmp { const char* name; int bits; BmpOptions::Compression compression; bool top; int header; };
    const Bmp bmps[] = {
        {"rgb24", 24, BmpOptions::RGB, false, 40},      {"rgb32_top", 32, BmpOptions::RGB, true, 40},
        {"pal1", 1, BmpOptions::RGB, false, 40},        {"pal4_rle", 4, BmpOptions::RLE, false, 40},
        {"pal8_rle", 8, BmpOptions::RLE, false, 40},    {"pal8_os2", 8, BmpOptions::RGB, false, 12},
        {"bf16", 16, BmpOptions::BitFields, false, 40}, {"bf32_v4", 32, BmpOptions::BitFields, true, 108},
        {"rgb16_v5", 16, BmpOptions::RGB, false, 124},
    };
    const std::vector<uint8_t> two = SamplePixels(w, h, 2);
    for (const Bmp& b : bmps) {
        BmpOptions o;
        o.bits = b.bits;
        o.compression = b.compression;
        o.topDown = b.top;
        o.headerSize = b.header;
        Put("image_bmp", std::string(b.name) + ".bmp", zvtools::EncodeBMP(w, h, (b.bits == 1 ? two : px).data(), o));
    }

    using zvtools::PngOptions;
    struct Png { const char* name; PngOptions::Kind kind; int depth; bool interlaced; bool alpha; };
    const Png pngs[] = {
        {"rgba8", PngOptions::RGBA, 8, false, false},    {"rgb16_adam7", PngOptions::RGB, 16, true, false},
        {"grey1", PngOptions::Grey, 1, false, false},    {"grey16", PngOptions::Grey, 16, false, false},
        {"greya8", PngOptions::GreyAlpha, 8, true, false}, {"pal4_trns", PngOptions::Palette, 4, false, true},
        {"pal8", PngOptions::Palette, 8, true, false},
    };
    for (const Png& p : pngs) {
        PngOptions o;
        o.kind = p.kind;
        o.depth = p.depth;
        o.interlaced = p.interlaced;
        o.paletteAlpha = p.alpha;
        Put("image_png", std::string(p.name) + ".png",
            zvtools::EncodePNG(w, h, (p.kind == PngOptions::Grey && p.depth == 1 ? two : px).data(), o));
    }
    const std::vector<uint8_t> plainPng = zvtools::EncodePNG(w, h, px.data());
    Put("image_png", "text.png", zvtools::AddPNGChunk(plainPng, "tEXt", {'T', 'i', 't', 'l', 'e', 0, 'x'}));
    Put("image_png", "splt_lying.png", zvtools::AddPNGChunk(plainPng, "sPLT", {'s', 0, 8}, 0x73737373));

    const int jw = 17, jh = 9;  // partial MCUs on both axes
    const std::vector<uint8_t> jpx = SamplePixels(jw, jh, 5);
    zvtools::JpegOptions j;
    j.quality = 50;
    Put("image_jpeg", "colour.jpg", zvtools::EncodeJPEG(jw, jh, jpx.data(), j));
    j.grey = true;
    Put("image_jpeg", "grey.jpg", zvtools::EncodeJPEG(jw, jh, jpx.data(), j));
    j.grey = false;
    j.progressive = true;
    Put("image_jpeg", "progressive.jpg", zvtools::EncodeJPEG(jw, jh, jpx.data(), j));
    j.progressive = false;
    j.cmyk = true;
    Put("image_jpeg", "cmyk.jpg", zvtools::EncodeJPEG(jw, jh, jpx.data(), j));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zvfuzzseeds <output folder>\n");
        return 2;
    }
    g_root = argv[1];
    if (g_root.empty() || g_root.back() != '/') g_root += '/';
    mkdir(g_root.c_str(), 0755);
    TextSeeds();
    Seeds3ds();
    SeedsMD5();
    SeedsCal3D();
    SeedsImages();
    return g_failures == 0 ? 0 : 1;
}
