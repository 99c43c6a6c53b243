// Sound sample content for the fuzz targets and their seed corpora, made
// by our own writers: a small MD5 model (mesh and animation over the joints
// MD5JointNames names), the MD5 seed files, and the names of the files the
// model targets find beside their input.
#pragma once

#include <string>
#include <vector>

#include "zvmd5writer.h"

namespace zvfuzz {

// The joints of SampleMD5Mesh, root first.
const std::vector<std::string>& MD5JointNames();
zvtools::MD5MeshFile SampleMD5Mesh(bool twoMeshes);
zvtools::MD5Anim SampleMD5Anim(int numFrames);

// One seed file: the target's folder name ("md5mesh"), the file name, its text.
struct SeedFile {
    std::string target, name, text;
};
// The seeds of the three MD5 targets ("md5mesh", "md5anim", "md5def"): every
// variant of the formats the readers know (line ends, comment lines, empty
// meshes, exporters' number formatting and shader lines).
std::vector<SeedFile> MD5Seeds();

// The mesh and animation files the .def target reads beside its input.
const char* const kDefMeshFile = "sample.md5mesh";
const char* const kDefAnimFile = "sample.md5anim";

// The name of the Cal3D demo model (zvtools::WriteCal3DDemoModel) the .cfg
// target reads beside its input.
const char* const kCal3DDemoName = "demo";

}  // namespace zvfuzz
