// The 3DS chunk toolkit: a plain function library with process-wide state
// that reads 3DS chunk files (.3ds scenes, material libraries, project files).
//
// Every function reports failures through the error list: it records an error
// code with AddError3ds and returns at once (null, 0 or nothing).  A function
// that calls another toolkit function returns as soon as errorsPending is set,
// so errors stop every toolkit operation until ClearErrors3ds is called.
//
// The reader never trusts the file: chunk sizes are checked against their
// parent, nesting depth is bounded, and every count is checked against the
// bytes its chunk really holds before anything is allocated.
#pragma once

#include <cstdint>
#include <cstdio>

typedef uint8_t u8_3ds;
typedef uint16_t u16_3ds;
typedef uint32_t u32_3ds;
typedef int16_t i16_3ds;
typedef int32_t i32_3ds;

// ---------------------------------------------------------------- errors

enum ErrorCode3ds : i32_3ds {
    NO_FTK_ERRORS = 0,
    ERR_NO_MEM = 1,
    ERR_INVALID_ARG = 2,
    ERR_INVALID_DATA = 3,
    ERR_INVALID_CHUNK = 4,
    ERR_INVALID_DATABASE = 5,
    ERR_WRONG_DATABASE = 6,
    ERR_UNFOUND_CHUNK = 7,
    ERR_WRONG_OBJECT = 8,
    ERR_NO_SUCH_FILE = 9,
    ERR_INIT_FAILED = 10,
    ERR_OPENING_FILE = 11,
    ERR_CLOSING_FILE = 12,
    ERR_READING_FILE = 13,
    ERR_CREATING_DATABASE = 14,
    ERR_READING_DATABASE = 15,
    ERR_WRITING_DATABASE = 16,
    ERR_WRITING_FILE = 17,
    ERR_STRING_TOO_LONG = 18,
    ERR_TOO_MANY_FILES = 19,
    N_ERRORS = 22
};

struct ErrorRec3ds {
    i32_3ds code;       // 0 ends the list
    const char* text;
};

const u32_3ds ERROR_SLOTS_3DS = 19;  // recording slots (one end marker follows)

extern bool errorsPending;

void AddError3ds(i32_3ds code);
void ClearErrors3ds();
const ErrorRec3ds* GetErrorList3ds();
const ErrorRec3ds* GetOverflowError3ds();  // the record past the 19 slots
const char* ErrorText3ds(i32_3ds code);

// ---------------------------------------------------------------- files

struct NameNotices3ds;  // the notices of names cut to fit (below)

struct FileRec3ds {
    FILE* stream;
    char* name;          // heap copy of the path as opened
    u32_3ds mode;        // 1 read, 2 write
    u8_3ds index;        // slot in the file table; 255 when not in it
    char* buffer;        // stream buffer
    u32_3ds bufferSize;
    u8_3ds isTemp;       // 1: remove the file from disk on close
    u32_3ds length;      // file length when opened for reading
    NameNotices3ds* notices;  // names cut while reading it; null until the first
};

const u32_3ds MAX_FILES_3DS = 252;
const u32_3ds FILE_BUFFER_SIZE_3DS = 8192;
const u32_3ds MODE_READ_3DS = 1;
const u32_3ds MODE_WRITE_3DS = 2;

FileRec3ds* OpenChunkFile3ds(const char* path, const char* mode);
void CloseChunkFile3ds(FileRec3ds* file);
void SetCurrentFile3ds(FileRec3ds* file);
void SelectFileByIndex3ds(u8_3ds index);
FileRec3ds* GetFileByIndex3ds(u8_3ds index);
FileRec3ds* FindOpenFile3ds(const char* path);
FileRec3ds* CurrentFile3ds();
u8_3ds CurrentFileIndex3ds();
bool IsFileIndexValid3ds(u8_3ds index);
u32_3ds UsedFileSlots3ds();
u32_3ds FileTell3ds();
void FileSeek3ds(u32_3ds position);
u32_3ds FileLength3ds();  // length of the current file (0 when none)

// ---------------------------------------------------------------- cut names

// Names are read from the file whole, to their terminator within their
// chunk.  A record field that cannot hold one keeps its first characters and
// the cut is noted (once per distinct text) with the file the name was read
// from, for the caller to report, e.g.
//   Object name "Cube.0012345" is longer than the 10 characters its record
//   holds; it is read as "Cube.00123"
// kind names what the name belongs to ("Object", "Material", ...).
//
// The notices live with their open file: filling a database from it starts
// them anew and closing it frees them.  A file keeps at most
// MAX_NAME_NOTICES_3DS of them, each quoting at most NOTICE_NAME_CHARS_3DS
// characters of the name (a longer name is quoted by its start, "..." and
// its length); a further distinct cut adds one last notice saying that more
// names were cut, and later ones add nothing.
const u32_3ds MAX_NAME_NOTICES_3DS = 64;
const u32_3ds NOTICE_NAME_CHARS_3DS = 64;

// Nothing is noted for a null file (a name not read from any file).
void AddNameNotice3ds(FileRec3ds* file, const char* kind, const char* whole, u32_3ds kept);
u32_3ds CountNameNotices3ds(const FileRec3ds* file);
const char* NameNotice3ds(const FileRec3ds* file, u32_3ds index);  // null past the last notice
void ClearNameNotices3ds(FileRec3ds* file);
// Copies in into a field of capacity bytes (terminator included), noting the
// cut with file when it does not fit.
void CopyName3ds(char* out, u32_3ds capacity, const char* in, const char* kind, FileRec3ds* file);

// ---------------------------------------------------------------- primitives

u8_3ds GetByte3ds();
u16_3ds GetWord3ds();
u32_3ds GetDword3ds();
float GetFloat3ds();
void GetBytes3ds(u32_3ds count, u8_3ds* out);
void GetCString3ds(char* out, u32_3ds capacity);
void GetNewCString3ds(char** out, u32_3ds maxLength);
void GetPaddedString3ds(char* out, u32_3ds fieldLength);
void GetNewPaddedString3ds(char** out, u32_3ds fieldLength);
void GetChunkHead3ds(u32_3ds* tag, u32_3ds* size);
u32_3ds BoundedLength3ds(const char* text, u32_3ds max);
char* DupString3ds(const char* text);

// ---------------------------------------------------------------- chunk tree

struct ChunkNode3ds {
    u32_3ds tag;
    u32_3ds size;
    u32_3ds position;     // file offset of the header
    void* data;           // decoded payload, null until loaded
    ChunkNode3ds* sibling;
    ChunkNode3ds* children;
    u8_3ds fileIndex;     // 255: not read from a file
    u8_3ds flags2;
};

struct NameListEntry3ds {
    char* name;
    ChunkNode3ds* node;
};

struct NameList3ds {
    u32_3ds count;
    NameListEntry3ds* entries;
};

struct Database3ds {
    ChunkNode3ds* top;
    u8_3ds objectsStale;
    u8_3ds materialsStale;
    u8_3ds nodesStale;
    NameList3ds* objects;
    NameList3ds* materials;
    NameList3ds* nodes;
};

// Deepest chunk nesting the reader accepts; deeper files are invalid.
const u32_3ds MAX_CHUNK_DEPTH_3DS = 64;

// Decoded payload records (what LoadChunkData3ds returns, by tag).
struct NameData3ds { char* name; };                 // 0x4000 0xA000 0xA300 0x4181 0xB011 0x80F0, whole
struct PointArray3ds { u16_3ds count; float* points; };         // 0x4110 (3 floats each)
struct WordArray3ds { u16_3ds count; u16_3ds* words; };         // 0x4111
struct FaceArray3ds { u16_3ds count; u16_3ds* faces; };         // 0x4120 (4 words each)
struct MatGroupData3ds { char name[17]; u16_3ds count; u16_3ds* faces; };  // 0x4130
struct TexVertArray3ds { u16_3ds count; float* uv; };           // 0x4140
struct SmoothData3ds { u32_3ds count; u32_3ds* groups; };       // 0x4150
struct MatrixData3ds { float m[12]; };                          // 0x4160
struct ByteData3ds { u8_3ds value; };                           // 0x4165
struct MappingData3ds {                                         // 0x4170
    u16_3ds type;
    float tiling[2];
    float centre[3];
    float scale;
    float matrix[12];
    float planeWidth, planeHeight, cylinderHeight;
};
struct ProcData3ds { u32_3ds size; u8_3ds* data; };             // 0x4182
struct BoxMapData3ds { char names[6][17]; };                    // 0x4190
struct ColourBytes3ds { u8_3ds rgb[3]; };   // 0x0011 0x0012 0xA360-0xA368
struct ShortData3ds { i16_3ds value; };     // 0x0030 0xA100
struct WordData3ds { u16_3ds value; };      // 0xA351 0xB030
struct FloatData3ds { float value; };       // 0x0031 0xA087 0xA353-0xA35C
struct NodeHeaderData3ds {                  // 0xB010
    char name[11];
    u16_3ds flags1, flags2;
    u16_3ds parent;
};
struct RawData3ds { u32_3ds size; u8_3ds* bytes; };  // any other tag

ChunkNode3ds* NewChunkNode3ds(ChunkNode3ds** out);
void FreeChunkNode3ds(ChunkNode3ds* node);  // node, its data and its whole subtree
void FreeChunkData3ds(ChunkNode3ds* node);
ChunkNode3ds* SearchChunk3ds(ChunkNode3ds* node, u32_3ds tag);
ChunkNode3ds* SearchSibling3ds(ChunkNode3ds* node, u32_3ds tag);
void AppendChild3ds(ChunkNode3ds* parent, ChunkNode3ds* child);
void InsertChildByOrder3ds(ChunkNode3ds* parent, ChunkNode3ds* child);
i32_3ds ChunkWriteOrder3ds(u32_3ds tag);
u32_3ds ChunkFixedPart3ds(u32_3ds tag);  // bytes between header and nested chunks
void AddXDataString3ds(ChunkNode3ds* parent, const char* text);
void CloneChunkTree3ds(ChunkNode3ds* node, ChunkNode3ds** out);
void* CopyChunkData3ds(u32_3ds tag, const void* data);
void* LoadChunkData3ds(ChunkNode3ds* node);
u32_3ds CountChunks3ds(ChunkNode3ds* node, u32_3ds tag);
void ReadChunkTree3ds(ChunkNode3ds* node);

void NewDatabase3ds(Database3ds** db);
void FillDatabase3ds(FileRec3ds* file, Database3ds** db);
void FreeDatabase3ds(Database3ds** db);

// ---------------------------------------------------------------- meshes

struct MeshMatGroup3ds {
    char name[17];
    u16_3ds nFaces;
    u16_3ds* faces;
};

struct MeshData3ds {
    char name[11];
    u8_3ds isHidden, isVisLofter, isMatte, isNoCast, isFast, isNoRcvShad, isFrozen;
    u16_3ds nVertices;
    float* vertices;          // 3 floats each
    u16_3ds nVertexFlags;
    u16_3ds* vertexFlags;
    u16_3ds nTexVerts;
    float* texVerts;          // 2 floats each
    u8_3ds useMapping;
    MappingData3ds mapping;
    float localMatrix[12];
    u16_3ds nFaces;
    u16_3ds* faces;           // corner0, corner1, corner2, flags
    u32_3ds* smoothing;       // one per face (null when absent)
    u8_3ds useBoxMap;
    char boxMap[6][17];
    u8_3ds colourIndex;
    u16_3ds nMatGroups;
    MeshMatGroup3ds* matGroups;
    u8_3ds useProc;           // 0x4015 present
    u32_3ds procedureSize;
    char procedureName[13];
    u8_3ds* procedureData;
};

u32_3ds CountMeshes3ds(Database3ds* db);
void FetchMesh3ds(Database3ds* db, u32_3ds index, MeshData3ds** out);
void FreeMesh3ds(MeshData3ds** mesh);

// ---------------------------------------------------------------- materials

struct MapData3ds {
    char* name;           // the image's file name, whole (null without a map); freed with the material
    float percent;
    u8_3ds tiling;        // 1 tile, 2 decal, 3 both
    u8_3ds ignoreAlpha;
    u8_3ds filtering;     // 0 pyramidal, 1 summed area
    float blur;
    u8_3ds mirror;
    u8_3ds negative;
    float uScale, vScale, uOffset, vOffset, rotation;
    u8_3ds tintMode;
    float tint1[3], tint2[3], tintR[3], tintG[3], tintB[3];
};

struct MaterialData3ds {
    char name[17];
    float ambient[3];
    float diffuse[3];
    float specular[3];
    float shininess;
    float shinStrength;
    float blur;
    float transparency;
    float transFalloff;
    float selfIllumPct;
    float wireSize;
    i32_3ds shading;
    u8_3ds useBlur, useFall, twoSided, selfIllum, additive, decal;
    u8_3ds useWire, useWireAbs, faceMap, soften, superSample;
    MapData3ds texture1;
    MapData3ds texture2;
    MapData3ds specMap, specMask;
    MapData3ds opacMap, opacMask;
    MapData3ds reflectMap, reflectMask;
    MapData3ds bumpMap, bumpMask;
    MapData3ds shinMap, shinMask;
    MapData3ds illumMap, illumMask;
    MapData3ds tex1Mask, tex2Mask;
    float bumpPercent;
    u8_3ds useAutoReflect;
    u32_3ds acubicFlags;
    i32_3ds acubicSize;
    i32_3ds acubicFrameStep;
    u8_3ds acubicShade, acubicAntiAlias;
};

u32_3ds CountMaterials3ds(Database3ds* db);
void FetchMaterial3ds(Database3ds* db, u32_3ds index, MaterialData3ds** out);
void FreeMaterial3ds(MaterialData3ds** material);

// ---------------------------------------------------------------- keyframer

struct KfNodeEntry3ds {
    u16_3ds id;
    u32_3ds tag;
    char* name;
    char* instance;
    u16_3ds parent;
};

// The node list exists only while FillDatabase3ds runs; outside it this
// finds nothing.
KfNodeEntry3ds* FindNodeById3ds(u16_3ds id);
