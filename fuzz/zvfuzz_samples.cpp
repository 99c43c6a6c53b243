// Sample content shared by the seed generator and the .def target.
#include "zvfuzz_samples.h"

namespace zvfuzz {

const std::vector<std::string>& MD5JointNames() {
    static const std::vector<std::string> names = {"pelvis", "chest", "neck"};
    return names;
}

zvtools::MD5MeshFile SampleMD5Mesh(bool twoMeshes) {
    zvtools::MD5MeshFile file;
    const float lift[3] = {0.0f, 30.0f, 20.0f};
    for (int j = 0; j < 3; ++j) {
        zvtools::MD5Joint joint;
        joint.name = MD5JointNames()[j];
        joint.parent = j - 1;
        joint.pos[2] = lift[j];
        joint.orient[0] = -0.25f * (float)j;
        joint.orient[2] = 0.125f;
        file.joints.push_back(joint);
    }
    // A quad over two joints; its last vertex is shared by two weights.
    zvtools::MD5Mesh quad;
    quad.shader = "textures/skin.tga";
    quad.comment = "quad";
    for (int i = 0; i < 4; ++i) {
        zvtools::MD5Vert v;
        v.u = (float)(i & 1);
        v.v = (float)(i >> 1);
        v.firstWeight = i;
        v.numWeights = i == 3 ? 2 : 1;
        quad.verts.push_back(v);
    }
    quad.tris.resize(2);
    const int corners[2][3] = {{0, 1, 2}, {2, 1, 3}};
    for (int t = 0; t < 2; ++t)
        for (int c = 0; c < 3; ++c) quad.tris[t].v[c] = corners[t][c];
    for (int i = 0; i < 5; ++i) {
        zvtools::MD5Weight w;
        w.joint = i % 3;
        w.bias = i >= 3 ? 0.5f : 1.0f;
        w.pos[0] = (float)(i & 1) * 8.0f;
        w.pos[1] = (float)(i >> 1) * 8.0f;
        quad.weights.push_back(w);
    }
    file.meshes.push_back(quad);
    if (twoMeshes) {
        zvtools::MD5Mesh tri;
        tri.shader = "textures/eye.tga";
        for (int i = 0; i < 3; ++i) {
            zvtools::MD5Vert v;
            v.firstWeight = i;
            v.numWeights = 1;
            tri.verts.push_back(v);
            zvtools::MD5Weight w;
            w.joint = 2;
            w.pos[i] = 1.0f;
            tri.weights.push_back(w);
        }
        tri.tris.resize(1);
        tri.tris[0].v[0] = 0;
        tri.tris[0].v[1] = 2;
        tri.tris[0].v[2] = 1;
        file.meshes.push_back(tri);
    }
    return file;
}

zvtools::MD5Anim SampleMD5Anim(int numFrames) {
    zvtools::MD5Anim anim;
    anim.frameRate = 30.0f;
    const int flags[3] = {7, 63, 40};
    for (int j = 0; j < 3; ++j) {
        zvtools::MD5AnimJoint joint;
        joint.name = MD5JointNames()[j];
        joint.parent = j - 1;
        joint.flags = flags[j];
        anim.joints.push_back(joint);
        zvtools::MD5BaseJoint base;
        base.pos[2] = 10.0f * (float)j;
        base.orient[1] = 0.0625f * (float)j;
        anim.baseframe.push_back(base);
    }
    const int components = zvtools::AssignMD5StartIndices(&anim);
    for (int f = 0; f < numFrames; ++f) {
        zvtools::MD5Bound bound;
        bound.min[0] = -5.0f - (float)f;
        bound.max[2] = 40.0f + (float)f;
        anim.bounds.push_back(bound);
        std::vector<float> frame;
        for (int c = 0; c < components; ++c) frame.push_back(0.03125f * (float)(f * components + c));
        anim.frames.push_back(frame);
    }
    return anim;
}

std::vector<SeedFile> MD5Seeds() {
    std::vector<SeedFile> seeds;
    zvtools::MD5WriteOptions crlf;
    crlf.crlf = true;
    crlf.comments = false;
    seeds.push_back({"md5mesh", "one.md5mesh", zvtools::WriteMD5Mesh(SampleMD5Mesh(false))});
    seeds.push_back({"md5mesh", "two_crlf.md5mesh", zvtools::WriteMD5Mesh(SampleMD5Mesh(true), crlf)});

    // Comment lines before the shader indented with spaces, or not at all,
    // two in a row; numbers with six decimals; an empty helper mesh.
    zvtools::MD5MeshFile commented = SampleMD5Mesh(true);
    commented.meshes[0].comment = "quad\nexported by hand";
    commented.meshes[1].comment = "eye";
    zvtools::MD5WriteOptions exporter;
    exporter.commentIndent = "    ";
    exporter.decimals = 6;
    seeds.push_back({"md5mesh", "comments_spaces.md5mesh", zvtools::WriteMD5Mesh(commented, exporter)});
    exporter.commentIndent = "";
    exporter.crlf = true;
    seeds.push_back({"md5mesh", "comments_flush_crlf.md5mesh", zvtools::WriteMD5Mesh(commented, exporter)});
    zvtools::MD5MeshFile helper = SampleMD5Mesh(true);
    zvtools::MD5Mesh empty;
    empty.shader = "textures/helper";
    empty.comment = "helper";
    helper.meshes.insert(helper.meshes.begin() + 1, empty);
    seeds.push_back({"md5mesh", "empty_mesh.md5mesh", zvtools::WriteMD5Mesh(helper)});

    // Exporters' shaders: names with spaces, the image file itself (by a
    // Windows path, or bare), no shader line at all.
    zvtools::MD5MeshFile spaces = SampleMD5Mesh(true);
    spaces.meshes[0].shader = "02 - Default";
    spaces.meshes[1].shader = "Material #7\tEye";
    seeds.push_back({"md5mesh", "shader_spaces.md5mesh", zvtools::WriteMD5Mesh(spaces)});
    zvtools::MD5MeshFile images = SampleMD5Mesh(true);
    images.meshes[0].shader = "D:\\art\\models\\tex\\bark.png";
    images.meshes[1].shader = "Torso";
    seeds.push_back({"md5mesh", "shader_images.md5mesh", zvtools::WriteMD5Mesh(images)});
    zvtools::MD5MeshFile unshaded = SampleMD5Mesh(true);
    for (zvtools::MD5Mesh& m : unshaded.meshes) m.shaderLine = false;
    seeds.push_back({"md5mesh", "no_shader.md5mesh", zvtools::WriteMD5Mesh(unshaded)});
    // A shader name without its closing quote (trailing blanks), an empty
    // one, and a long comment line.
    zvtools::MD5MeshFile unclosed = SampleMD5Mesh(true);
    unclosed.meshes[0].shader = "skin_d.tga";
    unclosed.meshes[1].shader = "";
    unclosed.meshes[1].comment = std::string(3000, 'c');
    std::string text = zvtools::WriteMD5Mesh(unclosed);
    text.replace(text.find("\"skin_d.tga\""), 12, "\"skin_d.tga \t");
    seeds.push_back({"md5mesh", "shader_unclosed.md5mesh", text});

    seeds.push_back({"md5anim", "three.md5anim", zvtools::WriteMD5Anim(SampleMD5Anim(3))});
    seeds.push_back({"md5anim", "one_crlf.md5anim", zvtools::WriteMD5Anim(SampleMD5Anim(1), crlf)});
    zvtools::MD5WriteOptions fixed;
    fixed.decimals = 6;
    seeds.push_back({"md5anim", "two_fixed.md5anim", zvtools::WriteMD5Anim(SampleMD5Anim(2), fixed)});

    const std::string mesh = kDefMeshFile, anim = kDefAnimFile;
    std::vector<zvtools::MD5DefModel> models(3);
    models[0].name = "first";
    models[0].anims = {{"early", anim}};
    models[1].name = "imp";
    models[1].mesh = mesh;
    models[1].anims = {{"walk", anim}, {"run", anim}, {"missing", "none.md5anim"}};
    models[2].name = "other";
    models[2].mesh = mesh;
    seeds.push_back({"md5def", "models.def", zvtools::WriteMD5Def(models)});
    seeds.push_back({"md5def", "order.def",
                     "model imp\n{\n\tanim early \"" + anim + "\"\n\tmesh \"" + mesh + "\"\n\tmesh \"" + mesh +
                         "\"\n\tanim\n}\nmodel hollow\n"});
    return seeds;
}

}  // namespace zvfuzz
