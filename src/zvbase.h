// Base types of the engine: the Windows-style result codes and the short
// fixed-width integer names used throughout the engine's own code.
#pragma once

#include <cstdint>

#include "zvwintypes.h"

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t i8;
typedef int16_t i16;
typedef int32_t i32;
typedef int64_t i64;

// "This call failed and the failure has already been written to the log."
#define ZVE_SUBFUNCTION ((HRESULT)0x87654321u)
