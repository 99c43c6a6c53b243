// Helpers shared by the toolkit's own source files.
#pragma once

#include "toolkit3ds.h"

// Frees a decoded record of the given tag and everything it owns.
void FreeDataRecord3ds(u32_3ds tag, void* data);
void FreeNameList3ds(NameList3ds** list);
