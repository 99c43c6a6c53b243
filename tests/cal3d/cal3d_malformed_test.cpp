// Malformed files: every truncation of small sound files, huge and lying
// counts in every field, and random byte changes.  The readers must refuse
// what is broken without crashing and without allocating more than the file
// could hold (the sanitizer build catches overruns and huge allocations).

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "cal3d_support.h"

using namespace cal3dtest;

namespace {

// Reads path with the reader of one kind; the result.
typedef std::function<HRESULT(const std::string&)> ReadFn;

HRESULT ReadSkeleton(const std::string& path) {
    Vector<ModelCal3DMeta::Bone> bones;
    return ModelCal3DMeta::LoadSkeleton(path.c_str(), &bones);
}
HRESULT ReadAnimation(const std::string& path) {
    ModelCal3DMeta::Animation anim;
    return ModelCal3DMeta::LoadAnimation(path.c_str(), &anim);
}
HRESULT ReadMesh(const std::string& path) {
    MeshLists lists;
    HRESULT hr = lists.Load(path);
    // Whatever was read must be usable: faces within their submesh, influence
    // ranges within the submesh's influences.
    for (u32 s = 0; s < lists.faces.count && s < lists.vertices.count; ++s) {
        for (u32 i = 0; i < lists.faces.data[s].count; ++i) {
            i32 index = lists.faces.data[s].data[i];
            EXPECT_TRUE(index >= 0 && (u32)index < lists.vertices.data[s].count);
        }
    }
    if (hr == S_OK) {
        for (u32 s = 0; s < lists.vertices.count; ++s) {
            for (u32 v = 0; v < lists.vertices.data[s].count; ++v) {
                const ModelCal3DMeta::Vertex& vertex = lists.vertices.data[s].data[v];
                EXPECT_LE((u64)vertex.nFirstInfluence + vertex.nNumInfluences, lists.influences.data[s].count);
            }
        }
    }
    return hr;
}
HRESULT ReadMaterial(const std::string& path) {
    ModelCal3DMeta::MatInfos infos;
    HRESULT hr = ModelCal3DMeta::LoadMaterial(path.c_str(), "p/", &infos);
    if (infos.szTexture) {
        EXPECT_LE(std::strlen(infos.szTexture), 2u + ModelCal3DMeta::MaxTextureNameLength);
    }
    ModelCal3DMeta::FreeTexture(&infos);
    return hr;
}

struct Kind {
    const char* name;
    const char* scope;
    std::vector<uint8_t> bytes;
    ReadFn read;
};

std::vector<Kind> Kinds() {
    zvtools::Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0, 2), SampleSubMesh(1)};
    mesh.subMeshes[1].springs.resize(1);
    return {
        {"skeleton", "LoadSkeleton()", zvtools::WriteCal3DSkeleton(SampleSkeleton()), ReadSkeleton},
        {"animation", "LoadAnimation()", zvtools::WriteCal3DAnimation(SampleAnimation()), ReadAnimation},
        {"mesh", "LoadMesh()", zvtools::WriteCal3DMesh(mesh), ReadMesh},
        {"material", "LoadMaterial()", zvtools::WriteCal3DMaterial(SampleMaterial()), ReadMaterial},
    };
}

}  // namespace

TEST(Cal3DMalformed, SoundSampleFilesLoad) {
    for (const Kind& kind : Kinds()) {
        std::string path = Write(std::string("sound_") + kind.name, kind.bytes);
        EXPECT_EQ(S_OK, kind.read(path)) << kind.name;
    }
}

TEST(Cal3DMalformed, EveryTruncationIsRefusedAsUnexpectedEnd) {
    for (const Kind& kind : Kinds()) {
        for (size_t size = 0; size < kind.bytes.size(); ++size) {
            std::vector<uint8_t> cut(kind.bytes.begin(), kind.bytes.begin() + size);
            std::string path = Write(std::string("cut_") + kind.name, cut);
            LogCapture log;
            EXPECT_EQ(ZVE_SUBFUNCTION, kind.read(path)) << kind.name << " cut at " << size;
            EXPECT_EQ(1u, log.Count(EndOfFile(kind.scope))) << kind.name << " cut at " << size << log.log;
        }
    }
}

TEST(Cal3DMalformed, HugeValuesInEveryFieldAreHandledFast) {
    const uint32_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000000u, 0x00010000u};
    for (const Kind& kind : Kinds()) {
        for (size_t at = 4; at + 4 <= kind.bytes.size(); at += 4) {
            for (uint32_t value : values) {
                std::vector<uint8_t> bytes = kind.bytes;
                for (int b = 0; b < 4; ++b) bytes[at + b] = (uint8_t)(value >> (8 * b));
                std::string path = Write(std::string("huge_") + kind.name, bytes);
                auto start = std::chrono::steady_clock::now();
                kind.read(path);
                double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                EXPECT_LT(seconds, 2.0) << kind.name << " at " << at;
            }
        }
    }
}

TEST(Cal3DMalformed, HugeCountsAreRefusedAsUnexpectedEnd) {
    // Counts far beyond the file's size, each in its own field.
    zvtools::Cal3DSkeleton skeleton = SampleSkeleton();
    skeleton.bones[3].numChildrenOverride = 4;  // within the bone count, but the file ends
    skeleton.bones[3].children = {};
    zvtools::Cal3DAnimation animation = SampleAnimation();
    animation.tracks[1].numKeyFramesOverride = 100000000;
    zvtools::Cal3DAnimation tracks = SampleAnimation();
    tracks.numTracksOverride = 0xFFFFFFFFu;
    zvtools::Cal3DMesh faces;
    faces.subMeshes = {SampleSubMesh(0)};
    faces.subMeshes[0].numFacesOverride = 0x55555556u;
    zvtools::Cal3DMesh influences;
    influences.subMeshes = {SampleSubMesh(0)};
    influences.subMeshes[0].vertices[1].numInfluencesOverride = 0x20000000u;
    zvtools::Cal3DMesh subs;
    subs.subMeshes = {SampleSubMesh(0)};
    subs.numSubMeshesOverride = 0xFFFFFFFFu;
    zvtools::Cal3DMesh maps;
    maps.subMeshes = {SampleSubMesh(0)};
    maps.subMeshes[0].numMapsOverride = 0xFFFFFFFFu;
    maps.subMeshes[0].vertices.resize(1);
    maps.subMeshes[0].faces.clear();

    struct Case {
        const char* scope;
        std::vector<uint8_t> bytes;
        ReadFn read;
    } cases[] = {
        {"LoadSkeleton()", zvtools::WriteCal3DSkeleton(skeleton), ReadSkeleton},
        {"LoadAnimation()", zvtools::WriteCal3DAnimation(animation), ReadAnimation},
        {"LoadAnimation()", zvtools::WriteCal3DAnimation(tracks), ReadAnimation},
        {"LoadMesh()", zvtools::WriteCal3DMesh(faces), ReadMesh},
        {"LoadMesh()", zvtools::WriteCal3DMesh(influences), ReadMesh},
        {"LoadMesh()", zvtools::WriteCal3DMesh(subs), ReadMesh},
        {"LoadMesh()", zvtools::WriteCal3DMesh(maps), ReadMesh},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string path = Write("count" + std::to_string(n++), c.bytes);
        LogCapture log;
        EXPECT_EQ(ZVE_SUBFUNCTION, c.read(path)) << n;
        EXPECT_EQ(1u, log.Count(EndOfFile(c.scope))) << n << log.log;
    }
}

TEST(Cal3DMalformed, RandomByteChangesNeverCrash) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (const Kind& kind : Kinds()) {
        for (int round = 0; round < 400; ++round) {
            std::vector<uint8_t> bytes = kind.bytes;
            int changes = 1 + (int)(next() % 4);
            for (int c = 0; c < changes; ++c) {
                // Keep the header most of the time so that the body is read.
                size_t at = 8 + next() % (bytes.size() - 8);
                bytes[at] = (uint8_t)next();
            }
            std::string path = Write(std::string("fuzz_") + kind.name, bytes);
            kind.read(path);
        }
    }
}
