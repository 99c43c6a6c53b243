// Error list, open-file table and the reading primitives of the 3DS toolkit.
#include "toolkit3ds.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "zvkernel.h"

// ---------------------------------------------------------------- errors

bool errorsPending = false;

namespace {

ErrorRec3ds errorList[ERROR_SLOTS_3DS + 1] = {};
ErrorRec3ds overflowError = {0, nullptr};

const char* const errorTexts[] = {
    "NO_FTK_ERRORS: No errors are pending",
    "ERR_NO_MEM: Not enough memory to complete operation",
    "ERR_INVALID_ARG: The argument passed to the function is invalid.  Usually caused by a NULL pointer or an out of range numeric argument.",
    "ERR_INVALID_DATA: The structure passed as an argument to the function has invalid or out of range data in its fields.",
    "ERR_INVALID_CHUNK: An invalid chunk structure was encountered while reading the database. Usually caused by a corrupt database or file",
    "ERR_INVALID_DATABASE: The database passed as an argument has not be created yet.",
    "ERR_WRONG_DATABASE: The database passed as an argument is the wrong kind of database for this function.",
    "ERR_UNFOUND_CHUNK: The database is missing important file chunks needed to fill out the requested structure.  Usually caused by a corrupt database or file",
    "ERR_WRONG_OBJECT: The name passed to the functions exists, but is not the type of object asked for.  For example, asking for a mesh object with the GetCameraByName3ds function.",
    "ERR_NO_SUCH_FILE: The filename passed as an argument for reading does not exist",
    "ERR_INIT_FAILED: Failed to initialize structure passed as an argument",
    "ERR_OPENING_FILE: Could not open requested file",
    "ERR_CLOSING_FILE: Could not close requested file",
    "ERR_READING_FILE: Error occured while reading file",
    "ERR_CREATING_DATABASE: Error occured while creating database",
    "ERR_READING_DATABASE: Error occured while reading database",
    "ERR_WRITING_DATABASE: Error occured while writing database",
    "ERR_WRITING_FILE: Error occured while writing file",
    "ERR_STRING_TOO_LONG: String encountered in file, structure, or as an argument was longer than expected.  Possibly caused by an uninitialed pointer, corrupt file or database",
    "ERR_TOO_MANY_FILES: The toolkit has reached its maximum open file limit of 252 files.",
};

}  // namespace

const char* ErrorText3ds(i32_3ds code) {
    if (code >= 0 && code <= 19) return errorTexts[code];
    if (code == N_ERRORS) return "N_ERRORS: More errors were reported then could be recorded.";
    return "Unknown error code was encountered";
}

void AddError3ds(i32_3ds code) {
    if (code == 0) return;
    errorsPending = true;
    for (u32_3ds i = 0; i < ERROR_SLOTS_3DS; ++i) {
        if (errorList[i].code == 0) {
            errorList[i].code = code;
            errorList[i].text = ErrorText3ds(code);
            errorList[i + 1].code = 0;
            errorList[i + 1].text = nullptr;
            return;
        }
    }
    if (overflowError.code == 0) {
        overflowError.code = code;
        overflowError.text = ErrorText3ds(code);
    } else {
        overflowError.code = N_ERRORS;
        overflowError.text = ErrorText3ds(N_ERRORS);
    }
}

void ClearErrors3ds() {
    errorsPending = false;
    for (ErrorRec3ds& rec : errorList) rec.code = 0;
}

const ErrorRec3ds* GetErrorList3ds() { return errorList; }
const ErrorRec3ds* GetOverflowError3ds() { return &overflowError; }

// ---------------------------------------------------------------- cut names

struct NameNotices3ds {
    // The notices in the order of their cuts; past MAX_NAME_NOTICES_3DS one
    // more says that further names were cut.
    std::vector<std::string> texts;
};

namespace {

std::string NoticeText(const char* kind, const char* whole, u32_3ds kept) {
    std::string text = std::string(kind) + " name \"";
    const size_t length = strlen(whole);
    if (length <= NOTICE_NAME_CHARS_3DS) {
        text += whole;
        text += '"';
    } else {
        text.append(whole, NOTICE_NAME_CHARS_3DS);
        text += "...\" (" + std::to_string(length) + " characters)";
    }
    return text + " is longer than the " + std::to_string(kept) + " characters its record holds; it is read as \"" +
           std::string(whole, kept) + "\"";
}

}  // namespace

void AddNameNotice3ds(FileRec3ds* file, const char* kind, const char* whole, u32_3ds kept) {
    if (!file) return;
    if (!file->notices) {
        file->notices = new (std::nothrow) NameNotices3ds;
        if (!file->notices) return;
    }
    std::vector<std::string>& texts = file->notices->texts;
    if (texts.size() > MAX_NAME_NOTICES_3DS) return;  // full, and it says so
    std::string text = NoticeText(kind, whole, kept);
    for (const std::string& n : texts)
        if (n == text) return;
    if (texts.size() == MAX_NAME_NOTICES_3DS)
        text = "More names are longer than their records hold; only the first " +
               std::to_string(MAX_NAME_NOTICES_3DS) + " are listed";
    texts.push_back(std::move(text));
}

u32_3ds CountNameNotices3ds(const FileRec3ds* file) {
    return file && file->notices ? static_cast<u32_3ds>(file->notices->texts.size()) : 0;
}

const char* NameNotice3ds(const FileRec3ds* file, u32_3ds index) {
    return index < CountNameNotices3ds(file) ? file->notices->texts[index].c_str() : nullptr;
}

void ClearNameNotices3ds(FileRec3ds* file) {
    if (!file) return;
    delete file->notices;
    file->notices = nullptr;
}

void CopyName3ds(char* out, u32_3ds capacity, const char* in, const char* kind, FileRec3ds* file) {
    out[0] = 0;
    if (!in || capacity == 0) return;
    u32_3ds kept = BoundedLength3ds(in, capacity - 1);
    memcpy(out, in, kept);
    out[kept] = 0;
    if (in[kept]) AddNameNotice3ds(file, kind, in, kept);
}

// ---------------------------------------------------------------- file table

namespace {

FileRec3ds** fileTable = nullptr;
u8_3ds usedSlots = 0;
FileRec3ds* currentFile = nullptr;
u8_3ds currentIndex = 0;

void EnterFile(FileRec3ds* rec) {
    if (!fileTable) {
        fileTable = static_cast<FileRec3ds**>(calloc(MAX_FILES_3DS, sizeof(FileRec3ds*)));
        if (!fileTable) {
            AddError3ds(ERR_NO_MEM);
            return;
        }
    }
    u32_3ds slot = usedSlots;
    for (u32_3ds i = 0; i < usedSlots; ++i) {
        if (!fileTable[i]) {
            slot = i;
            break;
        }
    }
    if (slot >= MAX_FILES_3DS) {
        AddError3ds(ERR_TOO_MANY_FILES);
        return;
    }
    fileTable[slot] = rec;
    rec->index = static_cast<u8_3ds>(slot);
    if (slot == usedSlots) ++usedSlots;
}

// Takes the record out of the table; frees the table with its last file.
void RemoveFile(FileRec3ds* rec) {
    if (!fileTable || rec->index == 255) return;
    if (rec->index < MAX_FILES_3DS && fileTable[rec->index] == rec) fileTable[rec->index] = nullptr;
    rec->index = 255;
    if (currentFile == rec) currentFile = nullptr;
    for (u32_3ds i = 0; i < usedSlots; ++i)
        if (fileTable[i]) return;
    free(fileTable);
    fileTable = nullptr;
    usedSlots = 0;
    currentIndex = 0;
}

void DropRecord(FileRec3ds* rec) {
    RemoveFile(rec);
    ClearNameNotices3ds(rec);
    free(rec->name);
    free(rec->buffer);
    free(rec);
}

}  // namespace

FileRec3ds* FindOpenFile3ds(const char* path) {
    if (!path || !fileTable) return nullptr;
    for (u32_3ds i = 0; i < usedSlots; ++i) {
        FileRec3ds* rec = fileTable[i];
        if (rec && rec->name && strcmp(rec->name, path) == 0) return rec;
    }
    return nullptr;
}

FileRec3ds* OpenChunkFile3ds(const char* path, const char* mode) {
    if (!path || !mode) {
        AddError3ds(ERR_INVALID_ARG);
        return nullptr;
    }
    FileRec3ds* existing = FindOpenFile3ds(path);
    FileRec3ds* rec = static_cast<FileRec3ds*>(calloc(1, sizeof(FileRec3ds)));
    if (!rec) {
        AddError3ds(ERR_NO_MEM);
        return nullptr;
    }
    rec->index = 255;
    if (errorsPending) {
        free(rec);
        AddError3ds(ERR_INIT_FAILED);
        return nullptr;
    }
    EnterFile(rec);
    if (errorsPending) {
        DropRecord(rec);
        return nullptr;
    }
    rec->name = DupString3ds(path);
    if (!rec->name) {
        DropRecord(rec);
        AddError3ds(ERR_NO_MEM);
        return nullptr;
    }
    if (BoundedLength3ds(mode, 32) > 31) {
        DropRecord(rec);
        AddError3ds(ERR_STRING_TOO_LONG);
        return nullptr;
    }
    for (const char* m = mode; *m; ++m) {
        if (*m == 'r') {
            rec->mode = MODE_READ_3DS;
            break;
        }
        if (*m == 'w') {
            rec->mode = MODE_WRITE_3DS;
            break;
        }
    }
    if (rec->mode == 0) {
        DropRecord(rec);
        AddError3ds(ERR_INIT_FAILED);
        return nullptr;
    }
    if (existing) {
        if (existing->mode == rec->mode) {
            DropRecord(rec);
            return existing;
        }
        // Opened again in another mode: the old record goes.
        CloseChunkFile3ds(existing);
        if (errorsPending) {
            DropRecord(rec);
            return nullptr;
        }
    }
    rec->stream = ZVfopen(path, rec->mode == MODE_READ_3DS ? "rb" : "wb");
    if (!rec->stream) {
        // The half-made record leaves the table, so a later open of the same
        // name does not find it.
        DropRecord(rec);
        AddError3ds(ERR_OPENING_FILE);
        return nullptr;
    }
    rec->buffer = static_cast<char*>(malloc(FILE_BUFFER_SIZE_3DS));
    if (rec->buffer) {
        if (setvbuf(rec->stream, rec->buffer, _IOFBF, FILE_BUFFER_SIZE_3DS) == 0) {
            rec->bufferSize = FILE_BUFFER_SIZE_3DS;
        } else {
            free(rec->buffer);
            rec->buffer = nullptr;
        }
    }
    if (rec->mode == MODE_READ_3DS) {
        if (fseek(rec->stream, 0, SEEK_END) == 0) {
            long end = ftell(rec->stream);
            if (end > 0) rec->length = end > 0xFFFFFFFFL ? 0xFFFFFFFFu : static_cast<u32_3ds>(end);
        }
        fseek(rec->stream, 0, SEEK_SET);
    }
    return rec;
}

void CloseChunkFile3ds(FileRec3ds* file) {
    if (!file) return;
    bool failed = false;
    if (file->stream) failed = fclose(file->stream) != 0;
    file->stream = nullptr;
    if (file->isTemp && file->name) remove(ZVResolvePath(file->name).c_str());
    DropRecord(file);
    if (failed) AddError3ds(ERR_CLOSING_FILE);
}

void SetCurrentFile3ds(FileRec3ds* file) {
    currentFile = file;
    currentIndex = file ? file->index : 0;
}

void SelectFileByIndex3ds(u8_3ds index) { SetCurrentFile3ds(GetFileByIndex3ds(index)); }

FileRec3ds* GetFileByIndex3ds(u8_3ds index) {
    if (!fileTable || index >= usedSlots) return nullptr;
    return fileTable[index];
}

FileRec3ds* CurrentFile3ds() { return currentFile; }
u8_3ds CurrentFileIndex3ds() { return currentIndex; }
u32_3ds UsedFileSlots3ds() { return usedSlots; }

bool IsFileIndexValid3ds(u8_3ds index) {
    return index < 255 && GetFileByIndex3ds(index) != nullptr;
}

u32_3ds FileTell3ds() {
    if (!currentFile || !currentFile->stream) {
        AddError3ds(ERR_READING_FILE);
        return 0;
    }
    long pos = ftell(currentFile->stream);
    return pos < 0 ? 0 : static_cast<u32_3ds>(pos);
}

void FileSeek3ds(u32_3ds position) {
    if (!currentFile || !currentFile->stream) {
        AddError3ds(ERR_READING_FILE);
        return;
    }
    if (fseek(currentFile->stream, static_cast<long>(position), SEEK_SET) != 0) AddError3ds(ERR_READING_FILE);
}

u32_3ds FileLength3ds() { return currentFile ? currentFile->length : 0; }

// ---------------------------------------------------------------- primitives

namespace {

// Reads exactly count bytes from the current file; false (with the error
// recorded) on a short read or when no file is current.
bool ReadRaw(void* out, size_t count) {
    if (!currentFile || !currentFile->stream) {
        AddError3ds(ERR_READING_FILE);
        return false;
    }
    if (fread(out, 1, count, currentFile->stream) != count) {
        AddError3ds(ERR_READING_FILE);
        return false;
    }
    return true;
}

}  // namespace

u8_3ds GetByte3ds() {
    u8_3ds b = 0;
    return ReadRaw(&b, 1) ? b : 0;
}

u16_3ds GetWord3ds() {
    u8_3ds b[2];
    if (!ReadRaw(b, 2)) return 0;
    return static_cast<u16_3ds>(b[0] | (b[1] << 8));
}

u32_3ds GetDword3ds() {
    u8_3ds b[4];
    if (!ReadRaw(b, 4)) return 0;
    return static_cast<u32_3ds>(b[0]) | (static_cast<u32_3ds>(b[1]) << 8) | (static_cast<u32_3ds>(b[2]) << 16) |
           (static_cast<u32_3ds>(b[3]) << 24);
}

float GetFloat3ds() {
    u32_3ds bits = GetDword3ds();
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

void GetBytes3ds(u32_3ds count, u8_3ds* out) {
    if (count == 0) return;
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    ReadRaw(out, count);
}

void GetCString3ds(char* out, u32_3ds capacity) {
    if (capacity == 0) return;
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    out[0] = 0;
    if (!currentFile || !currentFile->stream) {
        AddError3ds(ERR_READING_FILE);
        return;
    }
    FILE* f = currentFile->stream;
    for (u32_3ds i = 0; i < capacity; ++i) {
        int c = getc(f);
        if (c == EOF) {
            out[i] = 0;
            AddError3ds(ERR_READING_FILE);
            return;
        }
        out[i] = static_cast<char>(c);
        if (c == 0) return;
    }
    // No terminator within the capacity: keep the buffer a valid string.
    out[capacity - 1] = 0;
    AddError3ds(ERR_READING_FILE);
}

void GetNewCString3ds(char** out, u32_3ds maxLength) {
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    *out = nullptr;
    char small[600];
    char* scratch = maxLength + 1 <= sizeof small ? small : static_cast<char*>(malloc(size_t(maxLength) + 1));
    if (!scratch) {
        AddError3ds(ERR_NO_MEM);
        return;
    }
    scratch[0] = 0;
    GetCString3ds(scratch, maxLength + 1);
    if (!errorsPending) {
        *out = DupString3ds(scratch);
        if (!*out) AddError3ds(ERR_NO_MEM);
    }
    if (scratch != small) free(scratch);
}

void GetPaddedString3ds(char* out, u32_3ds fieldLength) {
    if (fieldLength == 0) return;
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    GetCString3ds(out, fieldLength);
    if (errorsPending) return;
    u32_3ds used = BoundedLength3ds(out, fieldLength) + 1;
    for (u32_3ds i = used; i < fieldLength && !errorsPending; ++i) GetByte3ds();
}

void GetNewPaddedString3ds(char** out, u32_3ds fieldLength) {
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    *out = nullptr;
    char* scratch = static_cast<char*>(malloc(size_t(fieldLength) + 1));
    if (!scratch) {
        AddError3ds(ERR_NO_MEM);
        return;
    }
    scratch[0] = 0;
    GetPaddedString3ds(scratch, fieldLength);
    if (!errorsPending) {
        *out = DupString3ds(scratch);
        if (!*out) AddError3ds(ERR_NO_MEM);
    }
    free(scratch);
}

void GetChunkHead3ds(u32_3ds* tag, u32_3ds* size) {
    if (!tag || !size) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    *tag = GetWord3ds();
    if (errorsPending) return;
    *size = GetDword3ds();
}

u32_3ds BoundedLength3ds(const char* text, u32_3ds max) {
    if (!text) return 0;
    u32_3ds n = 0;
    while (n < max && text[n]) ++n;
    return n;
}

char* DupString3ds(const char* text) {
    if (!text) return nullptr;
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}
