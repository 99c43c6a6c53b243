// The engine's foundation in one include: String, Vector<T>, the math
// records, File and the search path, CallScope and the log, Parser.
#pragma once

#include "zvbase.h"
#include "zvinterface.h"
#include "zvstring.h"
#include "zvvector.h"
#include "zvmath.h"
#include "zvfile.h"
#include "zvlog.h"
#include "parser.h"
