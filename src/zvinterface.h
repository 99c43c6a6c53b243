// IInterface: the root of every engine object.
//
// Every engine class keeps its own u32 reference count (nRef, 0 after
// construction, 1 after the creator's AddRef) and implements AddRef and
// Release on it; Release on a count that is already 0 does nothing and
// returns 0.  GetName gives the class name used in log lines.
#pragma once

#include "zvbase.h"

class String;

class IInterface {
public:
    virtual u32 AddRef() = 0;
    virtual u32 Release() = 0;
    // The class name, a function-local static String of the class.
    virtual const String& GetName() = 0;
    // Objects that cannot be cloned keep this default: E_FAIL, *out untouched.
    virtual HRESULT Clone(IInterface** out) {
        (void)out;
        return E_FAIL;
    }

protected:
    // Objects are destroyed by their own Release.
    virtual ~IInterface() {}
};
