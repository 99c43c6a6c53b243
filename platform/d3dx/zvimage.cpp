// Image loading front end: reads the file, recognises the format by its
// content and hands it to the decoder; writes 24-bit BMP files.
#include "zvimage.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "zvimagecodecs.h"
#include "zvkernel.h"

namespace zvimage {

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

bool CheckDimensions(const char* format, int64_t width, int64_t height, std::string* error) {
    if (width <= 0 || height <= 0)
        return Fail(error, std::string(format) + ": image has no pixels (width " + std::to_string(width) +
                               ", height " + std::to_string(height) + ")");
    if (width > kMaxDimension || height > kMaxDimension)
        return Fail(error, std::string(format) + ": image too large (" + std::to_string(width) + " x " +
                               std::to_string(height) + ", at most " + std::to_string(kMaxDimension) +
                               " per side)");
    return true;
}

void Allocate(ZVImage* out, int width, int height) {
    out->width = width;
    out->height = height;
    out->pixels.assign((size_t)width * (size_t)height * 4u, 0);
}

}  // namespace zvimage

namespace {

// Files larger than this are not images we load.
constexpr size_t kMaxFileSize = size_t(1) << 30;

bool HasPrefix(const uint8_t* data, size_t size, const uint8_t* prefix, size_t n) {
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

}  // namespace

bool ZVImageLoadMemory(const void* data, size_t size, ZVImage* out, std::string* error) {
    using namespace zvimage;
    if (!out) return Fail(error, "no output image given");
    *out = ZVImage();
    if (!data || size == 0) return Fail(error, "no image data (empty file)");

    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const uint8_t kJpeg[3] = {0xFF, 0xD8, 0xFF};
    static const uint8_t kBmp[2] = {'B', 'M'};

    bool ok = false;
    try {
        if (HasPrefix(bytes, size, kPng, sizeof(kPng)))
            ok = DecodePNG(bytes, size, out, error);
        else if (HasPrefix(bytes, size, kJpeg, sizeof(kJpeg)))
            ok = DecodeJPEG(bytes, size, out, error);
        else if (HasPrefix(bytes, size, kBmp, sizeof(kBmp)))
            ok = DecodeBMP(bytes, size, out, error);
        else if (LooksLikeTGA(bytes, size))
            ok = DecodeTGA(bytes, size, out, error);
        else
            ok = Fail(error, "unknown image format (not TGA, BMP, PNG or JPEG)");
    } catch (const std::bad_alloc&) {
        ok = Fail(error, "not enough memory for the image");
    }
    if (!ok) *out = ZVImage();
    return ok;
}

bool ZVImageLoadFile(const char* path, ZVImage* out, std::string* error) {
    using zvimage::Fail;
    if (out) *out = ZVImage();
    if (!path || !*path) return Fail(error, "no file name given");
    const std::string name = path;
    // Opened without waiting: a named pipe or a device is refused at once.
    FILE* f = ZVOpenFile(path, "rb");
    if (!f && (errno == EISDIR || errno == EINVAL)) return Fail(error, "'" + name + "': not a regular file");
    if (!f) return Fail(error, "'" + name + "': cannot open: " + std::strerror(errno));

    struct stat st;
    if (fstat(fileno(f), &st) != 0) {
        std::fclose(f);
        return Fail(error, "'" + name + "': cannot open: " + std::strerror(errno));
    }
    if ((uint64_t)st.st_size > kMaxFileSize) {
        std::fclose(f);
        return Fail(error, "'" + name + "': file too large (" + std::to_string((long long)st.st_size) +
                               " bytes)");
    }
    std::vector<uint8_t> data;
    try {
        data.resize((size_t)st.st_size);
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        return Fail(error, "'" + name + "': not enough memory to read the file");
    }
    const size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError || got != data.size()) return Fail(error, "'" + name + "': read error");

    std::string why;
    if (!ZVImageLoadMemory(data.data(), data.size(), out, &why)) return Fail(error, "'" + name + "': " + why);
    return true;
}

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

}  // namespace

bool ZVImageSaveBMP(const char* path, const ZVImage& image, std::string* error) {
    using zvimage::Fail;
    if (!path || !*path) return Fail(error, "no file name given");
    const std::string name = path;
    if (image.width <= 0 || image.height <= 0 || image.width > zvimage::kMaxDimension ||
        image.height > zvimage::kMaxDimension)
        return Fail(error, "'" + name + "': cannot save an image of " + std::to_string(image.width) + " x " +
                               std::to_string(image.height) + " pixels");
    const size_t w = (size_t)image.width, h = (size_t)image.height;
    if (image.pixels.size() != w * h * 4)
        return Fail(error, "'" + name + "': the pixel buffer does not match the image size");

    const size_t stride = (w * 3 + 3) & ~size_t(3);
    const uint64_t imageBytes = (uint64_t)stride * h;
    const uint64_t fileBytes = 54 + imageBytes;
    if (fileBytes > 0xFFFFFFFFull) return Fail(error, "'" + name + "': image too large for a BMP file");

    uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutU32(header + 2, (uint32_t)fileBytes);
    PutU32(header + 10, 54);
    PutU32(header + 14, 40);
    PutU32(header + 18, (uint32_t)w);
    PutU32(header + 22, (uint32_t)h);  // positive: bottom row first
    PutU16(header + 26, 1);
    PutU16(header + 28, 24);
    PutU32(header + 30, 0);  // BI_RGB
    PutU32(header + 34, (uint32_t)imageBytes);
    PutU32(header + 38, 2835);  // 72 dpi
    PutU32(header + 42, 2835);

    FILE* f = ZVOpenFile(path, "wb");
    if (!f) return Fail(error, "'" + name + "': cannot create: " + std::strerror(errno));
    bool ok = std::fwrite(header, 1, sizeof(header), f) == sizeof(header);
    std::vector<uint8_t> row(stride, 0);
    for (size_t y = h; ok && y-- > 0;) {
        const uint8_t* src = image.pixels.data() + y * w * 4;
        uint8_t* dst = row.data();
        for (size_t x = 0; x < w; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        ok = std::fwrite(row.data(), 1, stride, f) == stride;
    }
    const int writeErrno = errno;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::remove(path);
        return Fail(error, "'" + name + "': write error: " + std::strerror(writeErrno));
    }
    return true;
}
