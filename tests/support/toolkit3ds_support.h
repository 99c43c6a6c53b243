// Shared by the 3DS toolkit tests: a fixture that leaves the toolkit's
// process-wide state clean, and small helpers to read a written file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit3ds.h"
#include "zv3dswriter.h"

class Toolkit3ds : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors3ds(); }
    void TearDown() override {
        FreeDatabase3ds(&db);
        CloseChunkFile3ds(file);
        file = nullptr;
        ClearErrors3ds();
    }

    // The recorded codes, in order.
    static std::vector<int> Codes() {
        std::vector<int> out;
        for (const ErrorRec3ds* e = GetErrorList3ds(); e->code != 0; ++e) out.push_back(e->code);
        return out;
    }

    // Writes bytes to name, opens it and fills a database from it.
    void Load(const std::string& name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(zvtools::WriteBytes3ds(name, bytes));
        file = OpenChunkFile3ds(name.c_str(), "r");
        ASSERT_NE(file, nullptr);
        NewDatabase3ds(&db);
        FillDatabase3ds(file, &db);
    }

    FileRec3ds* file = nullptr;
    Database3ds* db = nullptr;
};
