// Error list, file table and reading primitives.
#include <cstring>

#include "toolkit3ds_support.h"

using ErrorList3ds = Toolkit3ds;
using Files3ds = Toolkit3ds;
using Primitives3ds = Toolkit3ds;

TEST_F(ErrorList3ds, TextsAreExact) {
    EXPECT_STREQ(ErrorText3ds(0), "NO_FTK_ERRORS: No errors are pending");
    EXPECT_STREQ(ErrorText3ds(ERR_OPENING_FILE), "ERR_OPENING_FILE: Could not open requested file");
    EXPECT_STREQ(ErrorText3ds(ERR_INVALID_CHUNK),
                 "ERR_INVALID_CHUNK: An invalid chunk structure was encountered while reading the database. "
                 "Usually caused by a corrupt database or file");
    EXPECT_STREQ(ErrorText3ds(ERR_READING_FILE), "ERR_READING_FILE: Error occured while reading file");
    EXPECT_STREQ(ErrorText3ds(ERR_TOO_MANY_FILES),
                 "ERR_TOO_MANY_FILES: The toolkit has reached its maximum open file limit of 252 files.");
    EXPECT_STREQ(ErrorText3ds(22), "N_ERRORS: More errors were reported then could be recorded.");
    EXPECT_STREQ(ErrorText3ds(20), "Unknown error code was encountered");
    EXPECT_STREQ(ErrorText3ds(21), "Unknown error code was encountered");
    EXPECT_STREQ(ErrorText3ds(-1), "Unknown error code was encountered");
    EXPECT_STREQ(ErrorText3ds(99), "Unknown error code was encountered");
}

TEST_F(ErrorList3ds, RecordsInOrderAndClears) {
    AddError3ds(0);
    EXPECT_FALSE(errorsPending);
    AddError3ds(ERR_NO_MEM);
    AddError3ds(ERR_READING_FILE);
    EXPECT_TRUE(errorsPending);
    const ErrorRec3ds* list = GetErrorList3ds();
    EXPECT_EQ(list[0].code, ERR_NO_MEM);
    EXPECT_STREQ(list[0].text, ErrorText3ds(ERR_NO_MEM));
    EXPECT_EQ(list[1].code, ERR_READING_FILE);
    EXPECT_EQ(list[2].code, 0);
    ClearErrors3ds();
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(GetErrorList3ds()[0].code, 0);
}

TEST_F(ErrorList3ds, NineteenSlotsThenOverflowRecord) {
    for (int i = 0; i < 19; ++i) AddError3ds(1 + i % 19);
    std::vector<int> codes = Codes();
    ASSERT_EQ(codes.size(), 19u);
    for (int i = 0; i < 19; ++i) EXPECT_EQ(codes[i], 1 + i);
    // A twentieth error goes to the overflow record (which clearing does
    // not empty, so an earlier test may already have filled it).
    AddError3ds(ERR_WRITING_FILE);
    EXPECT_EQ(Codes().size(), 19u);
    const ErrorRec3ds* over = GetOverflowError3ds();
    EXPECT_TRUE(over->code == ERR_WRITING_FILE || over->code == N_ERRORS);
    AddError3ds(ERR_NO_MEM);
    EXPECT_EQ(GetOverflowError3ds()->code, N_ERRORS);
    EXPECT_STREQ(GetOverflowError3ds()->text, ErrorText3ds(N_ERRORS));
    EXPECT_EQ(Codes().size(), 19u);
    EXPECT_EQ(Codes()[0], 1);
    ClearErrors3ds();
    EXPECT_TRUE(Codes().empty());
    // Clearing leaves the overflow record as it was.
    EXPECT_EQ(GetOverflowError3ds()->code, N_ERRORS);
}

TEST_F(ErrorList3ds, PendingErrorsStopLaterOperations) {
    AddError3ds(ERR_INVALID_DATA);
    // Opening while an error is pending reports the stale state.
    EXPECT_EQ(OpenChunkFile3ds("whatever.3ds", "r"), nullptr);
    EXPECT_EQ(Codes(), (std::vector<int>{ERR_INVALID_DATA, ERR_INIT_FAILED}));
    EXPECT_EQ(UsedFileSlots3ds(), 0u);
}

TEST_F(Files3ds, MissingFileOneEntryAndNoHalfRecord) {
    EXPECT_EQ(OpenChunkFile3ds("no_such_file.3ds", "r"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_OPENING_FILE});
    EXPECT_EQ(FindOpenFile3ds("no_such_file.3ds"), nullptr);
    ClearErrors3ds();
    // The second open fails the same way: no record was left behind.
    EXPECT_EQ(OpenChunkFile3ds("no_such_file.3ds", "r"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_OPENING_FILE});
    EXPECT_EQ(UsedFileSlots3ds(), 0u);
}

TEST_F(Files3ds, ModesAndSharing) {
    ASSERT_TRUE(zvtools::WriteBytes3ds("modes.bin", {1, 2, 3, 4}));
    EXPECT_EQ(OpenChunkFile3ds("modes.bin", "a"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_INIT_FAILED});
    ClearErrors3ds();
    EXPECT_EQ(OpenChunkFile3ds("modes.bin", "rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_STRING_TOO_LONG});
    ClearErrors3ds();
    EXPECT_EQ(OpenChunkFile3ds(nullptr, "r"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_INVALID_ARG});
    ClearErrors3ds();

    FileRec3ds* a = OpenChunkFile3ds("modes.bin", "r");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->mode, MODE_READ_3DS);
    EXPECT_EQ(a->index, 0);
    EXPECT_EQ(a->bufferSize, FILE_BUFFER_SIZE_3DS);
    EXPECT_EQ(OpenChunkFile3ds("modes.bin", "r"), a);
    // The dropped second record had taken slot 1: usedSlots stays one past
    // the highest slot used since the table was made.
    EXPECT_EQ(UsedFileSlots3ds(), 2u);
    EXPECT_FALSE(errorsPending);

    FileRec3ds* w = OpenChunkFile3ds("written.bin", "wr");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->mode, MODE_WRITE_3DS);
    EXPECT_EQ(w->index, 1);
    EXPECT_EQ(GetFileByIndex3ds(1), w);
    EXPECT_TRUE(IsFileIndexValid3ds(1));
    EXPECT_FALSE(IsFileIndexValid3ds(2));
    EXPECT_FALSE(IsFileIndexValid3ds(255));
    CloseChunkFile3ds(a);
    EXPECT_EQ(GetFileByIndex3ds(0), nullptr);
    // The free slot below usedSlots is taken first.
    FileRec3ds* b = OpenChunkFile3ds("modes.bin", "r");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->index, 0);
    CloseChunkFile3ds(b);
    CloseChunkFile3ds(w);
    EXPECT_EQ(UsedFileSlots3ds(), 0u);  // table freed with its last file
    FileRec3ds* c = OpenChunkFile3ds("modes.bin", "r");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->index, 0);
    CloseChunkFile3ds(c);
    EXPECT_FALSE(errorsPending);
}

TEST_F(Files3ds, TooManyFiles) {
    ASSERT_TRUE(zvtools::WriteBytes3ds("many.bin", {0}));
    std::vector<FileRec3ds*> open;
    for (unsigned i = 0; i < MAX_FILES_3DS; ++i) {
        // Distinct names of the same file: a directory prefix "./" repeated.
        std::string name;
        for (unsigned k = 0; k < i; ++k) name += "./";
        name += "many.bin";
        FileRec3ds* f = OpenChunkFile3ds(name.c_str(), "r");
        ASSERT_NE(f, nullptr) << i;
        open.push_back(f);
    }
    EXPECT_EQ(OpenChunkFile3ds("./many.bin/../many.bin", "r"), nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_TOO_MANY_FILES});
    for (FileRec3ds* f : open) CloseChunkFile3ds(f);
    EXPECT_EQ(UsedFileSlots3ds(), 0u);
}

TEST_F(Primitives3ds, LittleEndianValuesAndEnd) {
    float f = -2.5f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    std::vector<uint8_t> bytes = {0x7F, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12};
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(bits >> (8 * i)));
    bytes.push_back(0xAB);
    ASSERT_TRUE(zvtools::WriteBytes3ds("prims.bin", bytes));
    file = OpenChunkFile3ds("prims.bin", "r");
    ASSERT_NE(file, nullptr);
    SetCurrentFile3ds(file);
    EXPECT_EQ(CurrentFile3ds(), file);
    EXPECT_EQ(GetByte3ds(), 0x7F);
    EXPECT_EQ(GetWord3ds(), 0x1234);
    EXPECT_EQ(GetDword3ds(), 0x12345678u);
    EXPECT_EQ(GetFloat3ds(), -2.5f);
    EXPECT_EQ(FileTell3ds(), 11u);
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(GetDword3ds(), 0u);  // only one byte left
    EXPECT_EQ(Codes(), std::vector<int>{ERR_READING_FILE});
}

TEST_F(Primitives3ds, NoCurrentFileIsAnError) {
    SetCurrentFile3ds(nullptr);
    EXPECT_EQ(GetWord3ds(), 0);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_READING_FILE});
    ClearErrors3ds();
    char s[4] = {'x', 'x', 'x', 'x'};
    GetCString3ds(s, 4);
    EXPECT_STREQ(s, "");
    EXPECT_TRUE(errorsPending);
    ClearErrors3ds();
    // Closing the current file clears it.
    ASSERT_TRUE(zvtools::WriteBytes3ds("cur.bin", {1, 2}));
    FileRec3ds* f = OpenChunkFile3ds("cur.bin", "r");
    SetCurrentFile3ds(f);
    CloseChunkFile3ds(f);
    EXPECT_EQ(CurrentFile3ds(), nullptr);
    GetByte3ds();
    EXPECT_EQ(Codes(), std::vector<int>{ERR_READING_FILE});
}

TEST_F(Primitives3ds, StringsAreBoundedAndTerminated) {
    // A 9-character name in a 13-byte field, a byte, a string, and a string
    // without a terminator.
    const std::string raw("ABCDEFGHI\0\xEE\xEE\xEE" "Z" "hello\0" "longer", 9 + 1 + 3 + 1 + 6 + 6);
    std::vector<uint8_t> bytes(raw.begin(), raw.end());
    ASSERT_TRUE(zvtools::WriteBytes3ds("strings.bin", bytes));
    file = OpenChunkFile3ds("strings.bin", "r");
    SetCurrentFile3ds(file);
    char field[13];
    GetPaddedString3ds(field, 13);
    EXPECT_STREQ(field, "ABCDEFGHI");
    EXPECT_EQ(FileTell3ds(), 13u);
    EXPECT_EQ(GetByte3ds(), 'Z');
    char* copy = nullptr;
    GetNewCString3ds(&copy, 10);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hello");
    free(copy);
    char small[4];
    GetCString3ds(small, 4);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_READING_FILE});
    EXPECT_EQ(std::strlen(small), 3u);  // still terminated
    ClearErrors3ds();
    GetCString3ds(small, 0);  // reads nothing
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(BoundedLength3ds("abcdef", 3), 3u);
    EXPECT_EQ(BoundedLength3ds("ab", 3), 2u);
}
