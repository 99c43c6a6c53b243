// ScanText against sscanf: the MD5 readers once read every line with the C
// library's sscanf and the formats below; ScanText must read every line
// exactly as sscanf did (same result, same values bit for bit, same targets
// left untouched), over the fuzz targets' seed files, over lines generated
// around each format and over single numbers of every shape.
//
// ZV_SCAN_CORPUS=<folder> adds every file of a folder (the corpus a fuzz
// run grew, for instance) to the seed files.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zvfuzz_samples.h"
#include "zvscan.h"

namespace {

// The scan formats of the .md5mesh and .md5anim readers.
const char* const kReaderFormats[] = {
    "%2047s",
    "%2047s %d",
    "numJoints %d",
    "numMeshes %d",
    "\t\"%2047s\t%d ( %f %f %f ) ( %f %f %f )",
    "\tshader \"%2047s\"",
    "\tnumverts %d",
    "\tvert %d ( %f %f ) %d %d",
    "\tnumtris %d",
    "\ttri %d %d %d %d",
    "\tnumweights %d",
    "\tweight %d %d %f ( %f %f %f )",
    "numFrames %d",
    "frameRate %f",
    "numAnimatedComponents %d",
    "\t\"%2047s\t%d %d %d",
    "\t( %f %f %f ) ( %f %f %f )",
    "\t%f %f %f %f %f %f )",
};

const size_t kMaxTargets = 12;
const size_t kSlotSize = 2048;

// The kinds of a format's conversions, in order.
std::vector<ScanTarget::Kind> KindsOf(const char* format) {
    std::vector<ScanTarget::Kind> kinds;
    for (const char* f = format; *f; ++f) {
        if (*f != '%') continue;
        ++f;
        while (*f >= '0' && *f <= '9') ++f;
        kinds.push_back(*f == 'd' ? ScanTarget::Int : *f == 'f' ? ScanTarget::Float : ScanTarget::Word);
    }
    return kinds;
}

struct Slots {
    Slots() { std::memset(bytes, 0xA5, sizeof(bytes)); }  // the same untouched pattern on both sides
    char bytes[kMaxTargets][kSlotSize];
};

// Empty when both read the line alike, else what differs.  knownLength:
// ScanText is given the line's length instead of finding it.
std::string Difference(const std::string& line, const char* format, bool knownLength) {
    const std::vector<ScanTarget::Kind> kinds = KindsOf(format);
    Slots* old = new Slots;
    Slots* now = new Slots;
    char(*o)[kSlotSize] = old->bytes;
    const int oldResult = std::sscanf(line.c_str(), format, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8],
                                      o[9], o[10], o[11]);
    std::vector<ScanTarget> targets;
    for (size_t i = 0; i < kinds.size(); ++i) {
        void* slot = now->bytes[i];
        if (kinds[i] == ScanTarget::Int) targets.emplace_back(static_cast<int*>(slot));
        if (kinds[i] == ScanTarget::Float) targets.emplace_back(static_cast<float*>(slot));
        if (kinds[i] == ScanTarget::Word) targets.emplace_back(static_cast<char*>(slot));
    }
    const u32 length = knownLength ? (u32)std::strlen(line.c_str()) : kScanUnknownLength;
    const int newResult = ScanText(line.c_str(), length, format, targets.data(), (u32)targets.size());
    std::ostringstream out;
    if (oldResult != newResult) out << "result " << oldResult << " != " << newResult << "; ";
    for (size_t i = 0; i < kMaxTargets; ++i) {
        if (std::memcmp(old->bytes[i], now->bytes[i], kSlotSize) == 0) continue;
        out << "target " << i;
        if (i < kinds.size() && kinds[i] == ScanTarget::Float) {
            float a, b;
            std::memcpy(&a, old->bytes[i], 4);
            std::memcpy(&b, now->bytes[i], 4);
            out << " (" << a << " != " << b << ")";
        } else if (i < kinds.size() && kinds[i] == ScanTarget::Int) {
            int a, b;
            std::memcpy(&a, old->bytes[i], 4);
            std::memcpy(&b, now->bytes[i], 4);
            out << " (" << a << " != " << b << ")";
        }
        out << "; ";
    }
    delete old;
    delete now;
    return out.str();
}

// Runs every reader format over every line; at most a few failures are shown.
void ExpectSameReading(const std::vector<std::string>& lines, const char* what) {
    int failures = 0;
    for (const std::string& line : lines) {
        for (const char* format : kReaderFormats) {
            for (bool knownLength : {false, true}) {
                const std::string d = Difference(line, format, knownLength);
                if (d.empty()) continue;
                if (++failures <= 10)
                    ADD_FAILURE() << what << ": line \"" << line << "\" format \"" << format << "\""
                                  << (knownLength ? " (length given)" : "") << ": " << d;
            }
        }
    }
    EXPECT_EQ(failures, 0) << what;
}

// The lines of a file as the readers get them: each with its line end, and
// also without any leading CR or LF.
void AddLinesOf(const std::string& text, std::vector<std::string>* lines) {
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(from, end - from);
        lines->push_back(line);
        const size_t first = line.find_first_not_of("\r\n");
        if (first != 0 && first != std::string::npos) lines->push_back(line.substr(first));
        from = end;
    }
}

const char* const kIntTokens[] = {
    "0", "7", "-3", "+42", "-0", "007", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295",
    "4294967297", "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
    "99999999999999999999999999", "+", "-", "+-1", "--2", "0x1A", "12abc", "1.5", "1e3", "-+", "+0"};

const char* const kFloatTokens[] = {
    "0", "1", "-1", "+1", ".5", "5.", "-.5", "+.", ".", "-", "+", "1e", "1e+", "1e-", "1E5", "1e-5", "1.5e+3",
    "1e5e", "1e5.3", "1.2.3", "-0", "-0.0", "0e0", "00012.50", "0.683594", "-12.345678", "0x", "0X", "-0x", "0x1",
    "0x1p", "0x1p+", "0x1P+3", "-0x1.8p-3", "0x.8", "0x.", "0xp1", "0x1g", "0xABCp-2", "0x1e", "0x1.fffffep127",
    "0x1p128", "0x1p-149", "0x1p-150", "0x1.000001p0", "0x123456789abcdefp-40", "inf", "INF", "-inf", "+Infinity",
    "infinity", "INFINITY", "infin", "infi", "infx", "infinityx", "nan", "NaN", "-nan", "+NAN", "nan(123)", "na",
    "n", "i", "in", "1e40", "-1e40", "1e-46", "8e-46", "1e-40", "1.17549435e-38", "3.4028235e38", "3.40282357e38",
    "3.4028236e38", "1e400", "-1e-400", "0.000000000000000000000000000000000000000000001",
    "123456789012345678901234567890", "1.00000005960464477539062500000000000001", "0.1e1", "1,5", "e5", "-e"};

const char* const kWordTokens[] = {"mesh", "joints", "\"origin\"", "MD5Version", "frame", "shader", "\"models/body\"",
                                   "numverts", "vert", "tri", "weight", "//", "(", ")", "\"a", "b\"", "{", "}"};

const char* const kSpaces[] = {"", " ", "\t", "  ", " \t ", "\r", "\v", "\f", "\n"};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    size_t Below(size_t n) { return (size_t)(rng_() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <size_t N>
    const char* Pick(const char* const (&list)[N]) {
        return list[Below(N)];
    }

    // A long number: many digits, maybe a point and an exponent.
    std::string LongNumber() {
        std::string s = Chance(50) ? "-" : "";
        const size_t digits = 20 + Below(600);
        for (size_t i = 0; i < digits; ++i) s += (char)('0' + Below(10));
        if (Chance(50)) s.insert(s.size() - Below(digits), ".");
        if (Chance(40)) s += "e" + std::to_string((int)Below(100) - 50 - (int)(digits / 2));
        return s;
    }

    std::string Token(ScanTarget::Kind kind) {
        if (Chance(10)) kind = (ScanTarget::Kind)Below(3);  // a field of the wrong kind
        if (kind != ScanTarget::Word && Chance(5)) return LongNumber();
        if (kind == ScanTarget::Int) return Pick(kIntTokens);
        if (kind == ScanTarget::Float) return Pick(kFloatTokens);
        return Pick(kWordTokens);
    }

    // A line written after the format, with its spaces, fields and literals
    // varied, maybe cut short or followed by more fields, and a line end.
    std::string LineFor(const char* format) {
        std::string line;
        for (const char* f = format; *f; ++f) {
            if (*f == ' ' || *f == '\t') {
                line += Pick(kSpaces);
                if (*f == '\t' && Chance(70)) line += '\t';
            } else if (*f == '%') {
                ++f;
                while (*f >= '0' && *f <= '9') ++f;
                if (Chance(20)) line += Pick(kSpaces);
                line += Token(*f == 'd' ? ScanTarget::Int : *f == 'f' ? ScanTarget::Float : ScanTarget::Word);
            } else {
                if (Chance(3)) line += Pick(kSpaces);  // a literal does not skip white space
                line += Chance(3) ? 'x' : *f;
            }
        }
        if (Chance(20)) line.resize(Below(line.size() + 1));
        if (Chance(20)) {
            const int extra = 1 + (int)Below(4);
            for (int i = 0; i < extra; ++i) line += std::string(" ") + Token((ScanTarget::Kind)Below(3));
        }
        const unsigned end = (unsigned)Below(3);
        if (end == 1) line += "\n";
        if (end == 2) line += "\r\n";
        return line;
    }

    // Any characters numbers and formats are made of.
    std::string Noise() {
        static const char alphabet[] = "0123456789+-.eEpPxXabcfinNItyaAF ()\t\"\r\nvertshadow";
        std::string s;
        const size_t n = Below(40);
        for (size_t i = 0; i < n; ++i) s += alphabet[Below(sizeof(alphabet) - 1)];
        return s;
    }

private:
    std::mt19937 rng_;
};

TEST(MD5Scan, FuzzSeedFilesReadAsWithSscanf) {
    std::vector<std::string> lines;
    for (const zvfuzz::SeedFile& seed : zvfuzz::MD5Seeds()) AddLinesOf(seed.text, &lines);
    size_t files = 0;
    if (const char* corpus = std::getenv("ZV_SCAN_CORPUS")) {
        if (DIR* dir = opendir(corpus)) {
            while (dirent* entry = readdir(dir)) {
                if (entry->d_name[0] == '.') continue;
                std::ifstream in(std::string(corpus) + "/" + entry->d_name, std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                // The readers see a line up to its first NUL byte.
                std::string content = text.str();
                std::vector<std::string> fileLines;
                AddLinesOf(content, &fileLines);
                for (std::string& line : fileLines) lines.push_back(line.substr(0, std::strlen(line.c_str())));
                ++files;
            }
            closedir(dir);
        }
    }
    ASSERT_GT(lines.size(), 100u);
    ExpectSameReading(lines, "seed files");
    if (files > 0) std::printf("also read %zu files of %s\n", files, std::getenv("ZV_SCAN_CORPUS"));
}

TEST(MD5Scan, GeneratedLinesReadAsWithSscanf) {
    Generator g(20261209);
    std::vector<std::string> lines;
    for (const char* format : kReaderFormats)
        for (int i = 0; i < 1500; ++i) lines.push_back(g.LineFor(format));
    for (int i = 0; i < 3000; ++i) lines.push_back(g.Noise());
    ExpectSameReading(lines, "generated lines");
}

// Every number shape on its own and between the literals of a format, with
// each white space before it and each line end after it.
TEST(MD5Scan, EveryNumberShapeReadsAsWithSscanf) {
    std::vector<std::string> numbers(std::begin(kFloatTokens), std::end(kFloatTokens));
    numbers.insert(numbers.end(), std::begin(kIntTokens), std::end(kIntTokens));
    numbers.push_back(std::string(2000, '9'));
    numbers.push_back("0." + std::string(1500, '0') + "1");
    numbers.push_back("1" + std::string(45, '0'));
    numbers.push_back("0x" + std::string(300, 'f'));
    std::vector<std::string> lines = {"", "\n", "\r\n", " ", "\t", "x"};
    for (const std::string& n : numbers) {
        for (const char* space : {"", " ", "\t", " \t\r"}) {
            for (const char* end : {"", "\n", "\r\n", " )", ")"}) {
                lines.push_back(space + n + end);
                lines.push_back(std::string("\tvert 0 (") + space + n + " " + n + end + " 1 2");
                lines.push_back(std::string("\t") + n + space + n + " 1 " + n + end);
                lines.push_back(std::string("frameRate") + space + n + end);
                lines.push_back(std::string("\t\"origin\"\t") + n + " ( " + n + " 0 0 )" + end);
            }
        }
    }
    ExpectSameReading(lines, "numbers");
}

TEST(MD5Scan, WordsStopAtTheirWidthAndAtWhiteSpace) {
    char word[8];
    std::memset(word, 'z', sizeof(word));
    EXPECT_EQ(ScanText("  abcdefghij", "%4s", word), 1);
    EXPECT_STREQ(word, "abcd");
    EXPECT_EQ(ScanText("ab\tcd", "%7s", word), 1);
    EXPECT_STREQ(word, "ab");
}

TEST(MD5Scan, MismatchedTargetsEndTheScan) {
    int i = 5;
    float f = 2.0f;
    EXPECT_EQ(ScanText("1 2", "%d %d", &i), 1);  // no target for the second conversion
    EXPECT_EQ(i, 1);
    EXPECT_EQ(ScanText("3", "%d", &f), 0);  // a float target for an int
    EXPECT_EQ(f, 2.0f);
    EXPECT_EQ(ScanText("4", "%5d", &i), 0);  // widths are for words only
    EXPECT_EQ(ScanText(nullptr, "%d", &i), -1);
}

}  // namespace
