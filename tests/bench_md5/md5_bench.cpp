// MD5 reading throughput (the .md5anim reader and the parsing pass of the
// .md5mesh reader on files written by our writer), the whole load of an
// exported-size model through the real graphics manager, and the per-frame
// CPU skinning of an animated instance.  The whole load needs a display:
// run under xvfb-run like the rendering tests.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_load_support.h"
#include "md5_support.h"
#include "modelmd5.h"
#include "modelmd5meta.h"
#include "zvmd5writer.h"
#include "zvstuff.h"

namespace {

std::string ScratchPath(const char* name) { return std::string(GetExeDir().c_str()) + name; }

// A skeleton of `joints` joints in a chain of depth 8 and one mesh of
// `verts` vertices with two weights each.
std::string MeshText(int joints, int verts) {
    zvtools::MD5MeshFile f;
    for (int j = 0; j < joints; ++j) {
        zvtools::MD5Joint joint;
        joint.name = "joint" + std::to_string(j);
        joint.parent = j == 0 ? -1 : (j % 8 == 0 ? 0 : j - 1);
        joint.pos[0] = 0.5f * (float)j;
        joint.orient[1] = 0.01f * (float)(j % 50);
        f.joints.push_back(joint);
    }
    zvtools::MD5Mesh m;
    m.shader = "models/bench";
    for (int v = 0; v < verts; ++v) {
        zvtools::MD5Vert vert;
        vert.u = (float)(v % 97) / 97.0f;
        vert.v = (float)(v % 89) / 89.0f;
        vert.firstWeight = 2 * v;
        vert.numWeights = 2;
        m.verts.push_back(vert);
        for (int k = 0; k < 2; ++k) {
            zvtools::MD5Weight w;
            w.joint = (v + k) % joints;
            w.bias = 0.5f;
            w.pos[0] = (float)v * 0.125f;
            w.pos[1] = (float)k;
            m.weights.push_back(w);
        }
    }
    for (int t = 0; t + 2 < verts; ++t) {
        zvtools::MD5Tri tri;
        tri.v[0] = t;
        tri.v[1] = t + 1;
        tri.v[2] = t + 2;
        m.tris.push_back(tri);
    }
    f.meshes.push_back(m);
    return zvtools::WriteMD5Mesh(f);
}

std::string AnimText(int joints, int frames) {
    zvtools::MD5Anim a;
    a.frameRate = 24;
    for (int j = 0; j < joints; ++j) {
        zvtools::MD5AnimJoint joint;
        joint.name = "joint" + std::to_string(j);
        joint.parent = j - 1;
        joint.flags = j == 0 ? 63 : 56;
        a.joints.push_back(joint);
    }
    const int components = zvtools::AssignMD5StartIndices(&a);
    a.baseframe.resize((size_t)joints);
    a.bounds.resize((size_t)frames);
    for (int f = 0; f < frames; ++f) {
        std::vector<float> frame;
        for (int c = 0; c < components; ++c) frame.push_back(0.001f * (float)(f + c));
        a.frames.push_back(frame);
    }
    return zvtools::WriteMD5Anim(a);
}

// Times the reading pass of the mesh `text`, written to the scratch file `name`.
void TimeParseMesh(benchmark::State& state, const char* name, const std::string& text) {
    const std::string path = ScratchPath(name);
    zvtools::WriteTextFile(path, text);
    for (auto _ : state) {
        ModelMD5Meta meta;
        Vector<ModelMD5Meta::SubMeshData> subs;
        benchmark::DoNotOptimize(meta.ParseMesh(path.c_str(), &subs));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
}

void BM_ParseMesh(benchmark::State& state) {
    TimeParseMesh(state, "bench.md5mesh", MeshText(64, (int)state.range(0)));
}
BENCHMARK(BM_ParseMesh)->Arg(1000)->Arg(20000);

// A model as exporters write it: 38 joints (a spine with two arms, two legs
// and a head), three meshes of 4,105 vertices in all over grids of
// triangles, one to three weights per vertex, numbers with six decimals and a
// comment line before each shader: about 731 KB.
std::string ExportedMeshText() {
    zvtools::MD5MeshFile f;
    const int numJoints = 38;
    for (int j = 0; j < numJoints; ++j) {
        zvtools::MD5Joint joint;
        joint.name = "Bip01_joint" + std::to_string(j);
        // joints 0-5 the spine, then five limbs of six joints each, then two head joints
        joint.parent = j == 0 ? -1 : (j < 6 || (j - 6) % 6 != 0 ? j - 1 : (j < 18 ? 4 : 1));
        joint.pos[0] = 1.25f * (float)(j % 7) - 3.5f;
        joint.pos[1] = -0.75f * (float)(j % 5);
        joint.pos[2] = 2.5f * (float)j + 0.123457f;
        joint.orient[0] = 0.0123f * (float)(j % 11) - 0.05f;
        joint.orient[1] = -0.0317f * (float)(j % 13);
        joint.orient[2] = 0.0211f * (float)(j % 17) - 0.1f;
        f.joints.push_back(joint);
    }
    const int meshVertices[3] = {3000, 900, 205};
    const char* shaders[3] = {"models/characters/body", "models/characters/head", "models/characters/eyes"};
    const int cols = 41;
    for (int m = 0; m < 3; ++m) {
        zvtools::MD5Mesh mesh;
        mesh.shader = shaders[m];
        mesh.comment = "meshes: " + std::string(shaders[m] + 18);
        const int verts = meshVertices[m];
        for (int v = 0; v < verts; ++v) {
            zvtools::MD5Vert vert;
            vert.u = (float)(v % cols) / (float)(cols - 1);
            vert.v = (float)(v / cols) * 0.013f;
            vert.firstWeight = (int)mesh.weights.size();
            vert.numWeights = 1 + v % 2 + (v % 17 == 0 ? 1 : 0);
            mesh.verts.push_back(vert);
            for (int k = 0; k < vert.numWeights; ++k) {
                zvtools::MD5Weight w;
                w.joint = (v / 97 + k * 5 + m * 11) % numJoints;
                const float biases[3][3] = {{1.0f}, {0.684210f, 0.315790f}, {0.5f, 0.3f, 0.2f}};
                w.bias = biases[vert.numWeights - 1][k];
                w.pos[0] = 0.171f * (float)(v % 1543) - 125.0f;
                w.pos[1] = 234.56789f - 0.093f * (float)(v % 2711);
                w.pos[2] = (float)((v * 7 + k) % 331) * 1.234567f - 200.0f;
                mesh.weights.push_back(w);
            }
        }
        for (int r = 0; (r + 1) * cols < verts; ++r) {
            for (int c = 0; c + 1 < cols && (r + 1) * cols + c + 1 < verts; ++c) {
                const int a = r * cols + c, b = a + 1, d = a + cols, e = d + 1;
                zvtools::MD5Tri t1, t2;
                t1.v[0] = a, t1.v[1] = d, t1.v[2] = b;
                t2.v[0] = b, t2.v[1] = d, t2.v[2] = e;
                mesh.tris.push_back(t1);
                mesh.tris.push_back(t2);
            }
        }
        f.meshes.push_back(mesh);
    }
    zvtools::MD5WriteOptions exporter;
    exporter.decimals = 6;
    return zvtools::WriteMD5Mesh(f, exporter);
}

// The reading pass alone (text to joints, vertices, triangles and weights).
void BM_ParseExportedMesh(benchmark::State& state) {
    const std::string text = ExportedMeshText();
    TimeParseMesh(state, "exported.md5mesh", text);
    state.counters["file_KB"] = (double)text.size() / 1000.0;
}
BENCHMARK(BM_ParseExportedMesh)->Unit(benchmark::kMillisecond);

// The whole load, file to GPU buffers: CreateGeometry("md5", file) with the
// real graphics manager (reading, degenerate triangles, the index buffer
// with its shadow edges, normals, the instance's vertex buffer).
void BM_LoadExportedModel(benchmark::State& state) {
    zvbench::TimeGeometryLoad(state, "md5", "exported.md5mesh", [](const std::string& dir) {
        zvtools::WriteTextFile(dir + "exported.md5mesh", ExportedMeshText());
    });
}
BENCHMARK(BM_LoadExportedModel)->Unit(benchmark::kMillisecond);

void BM_LoadAnimation(benchmark::State& state) {
    const std::string path = ScratchPath("bench.md5anim");
    const std::string text = AnimText(64, (int)state.range(0));
    zvtools::WriteTextFile(path, text);
    Vector<String> names;
    for (int j = 0; j < 64; ++j) names.Add(String(("joint" + std::to_string(j) + "\"").c_str()));
    for (auto _ : state) {
        ModelMD5Meta::Animation anim;
        benchmark::DoNotOptimize(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
}
BENCHMARK(BM_LoadAnimation)->Arg(24)->Arg(600);

// One frame of an instance playing an animation: the pose of 64 joints
// (a chain, every joint animated in position and orientation) and the
// skinning of `verts` vertices of 4 weights each into the vertex buffer.
void BM_SkinUpdate(benchmark::State& state) {
    const int joints = 64, verts = (int)state.range(0), weights = 4;
    zvtools::MD5MeshFile f;
    for (int j = 0; j < joints; ++j) {
        zvtools::MD5Joint joint;
        joint.name = "joint" + std::to_string(j);
        joint.parent = j - 1;
        joint.pos[2] = 0.5f * (float)j;
        joint.orient[0] = 0.01f * (float)(j % 7);
        f.joints.push_back(joint);
    }
    zvtools::MD5Mesh m;
    m.shader = "models/bench";
    for (int v = 0; v < verts; ++v) {
        zvtools::MD5Vert vert;
        vert.u = (float)(v % 97) / 97.0f;
        vert.firstWeight = weights * v;
        vert.numWeights = weights;
        m.verts.push_back(vert);
        for (int k = 0; k < weights; ++k) {
            zvtools::MD5Weight w;
            w.joint = (v * 7 + k * 13) % joints;
            w.bias = 0.25f;
            w.pos[0] = (float)(v % 100) * 0.01f;
            w.pos[1] = (float)k;
            w.pos[2] = 1.0f;
            m.weights.push_back(w);
        }
    }
    for (int t = 0; t + 2 < verts; ++t) {
        zvtools::MD5Tri tri;
        tri.v[0] = t;
        tri.v[1] = t + 1;
        tri.v[2] = t + 2;
        m.tris.push_back(tri);
    }
    f.meshes.push_back(m);
    zvtools::WriteTextFile(ScratchPath("skin.md5mesh"), zvtools::WriteMD5Mesh(f));
    const std::string animPath = ScratchPath("skin.md5anim");
    zvtools::WriteTextFile(animPath, AnimText(joints, 48));

    md5test::FakeGraphics graphics;
    IGeometry* geometry = nullptr;
    if (ModelMD5::Create("md5", ScratchPath("skin.md5mesh").c_str(), &graphics, &geometry) < 0 || !geometry) {
        state.SkipWithError("the model cannot be created");
        return;
    }
    graphics.AddRef();
    String anim(animPath.c_str()), first("0");
    geometry->SendCommand("LoadAnimation", &anim);
    geometry->SendCommand("SetDefaultAnimation", &first);
    IModel* model = dynamic_cast<IModel*>(geometry);
    if (!model || !model->IsAnimationPlaying(0)) {
        geometry->Release();
        state.SkipWithError("the animation does not play");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(geometry->Update(1.0f / 60.0f));
    state.SetItemsProcessed((int64_t)state.iterations() * verts);
    geometry->Release();
}
BENCHMARK(BM_SkinUpdate)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
