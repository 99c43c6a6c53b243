// Test managers for the core: they count what the core asks of them and
// detach themselves as real managers do (RemoveManager, then Release of the
// core) when their count reaches 0.
#pragma once

#include <string>
#include <vector>

#include "zvcore.h"

namespace zvtest {

struct ManagerLog {
    int created = 0;
    int destroyed = 0;
    int inits = 0;
    int screenModeUpdates = 0;
    std::vector<bool> acquires;
    HRESULT initResult = S_OK;
    bool windowed = true;
    HWND initWindow = nullptr;
    HINSTANCE initInstance = nullptr;
    const Vector<PlugIn>* initGeometries = nullptr;
    void Clear() { *this = ManagerLog(); }
};

inline ManagerLog& GraphicsLog() {
    static ManagerLog log;
    return log;
}
inline ManagerLog& InputLog() {
    static ManagerLog log;
    return log;
}
inline ManagerLog& PhysicsLog() {
    static ManagerLog log;
    return log;
}

// The shared part: counting and detaching.
template <typename Base>
class FakeManager : public Base {
public:
    explicit FakeManager(ManagerLog& log) : log(log) { ++log.created; }
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }
    ICore* GetCore() override { return pCore; }

    u32 nRef = 0;
    ICore* pCore = nullptr;
    ManagerLog& log;

protected:
    ~FakeManager() override {
        ++log.destroyed;
        if (pCore) {
            IInternCore* core = static_cast<IInternCore*>(pCore);
            core->RemoveManager(this);
            core->Release();
        }
    }
    HRESULT Bind(ICore* core) {
        ++log.inits;
        pCore = core;
        return log.initResult;
    }
};

class FakeGraphics : public FakeManager<IInternGraphics> {
public:
    FakeGraphics() : FakeManager(GraphicsLog()) {}
    const String& GetName() override {
        static String name("FakeGraphics");
        return name;
    }
    bool IsWindowed() override { return log.windowed; }
    HRESULT Init(ICore* core, HWND window, const Vector<PlugIn>* geometries) override {
        log.initWindow = window;
        log.initGeometries = geometries;
        return Bind(core);
    }
    HRESULT UpdateScreenMode() override {
        ++log.screenModeUpdates;
        return S_OK;
    }
    static IInterface* Create() {
        FakeGraphics* g = new FakeGraphics;
        g->AddRef();
        return g;
    }
};

class FakeInput : public FakeManager<IInternInput> {
public:
    FakeInput() : FakeManager(InputLog()) {}
    const String& GetName() override {
        static String name("FakeInput");
        return name;
    }
    HRESULT Init(ICore* core, HINSTANCE instance, HWND window) override {
        log.initInstance = instance;
        log.initWindow = window;
        return Bind(core);
    }
    u32 Acquire(bool acquire) override {
        log.acquires.push_back(acquire);
        return 0;
    }
    HRESULT UseDevices(u32, u32* made) override {
        if (made) *made = 0;
        return S_OK;
    }
    HRESULT GetKeyboardState(u8*) override { return E_FAIL; }
    HRESULT GetMouseState(DIMOUSESTATE*) override { return E_FAIL; }
    HRESULT GetJoystickState(DIJOYSTATE*) override { return E_FAIL; }
    static IInterface* Create() {
        FakeInput* i = new FakeInput;
        i->AddRef();
        return i;
    }
};

class FakePhysics : public FakeManager<IInternPhysics> {
public:
    FakePhysics() : FakeManager(PhysicsLog()) {}
    const String& GetName() override {
        static String name("FakePhysics");
        return name;
    }
    bool EntityIsVisible(IPhyEntity*) override { return true; }
    bool ShadVolIsVisible(Vector3, IPhyEntity*) override { return true; }
    HRESULT Init(ICore* core) override { return Bind(core); }
    static IInterface* Create() {
        FakePhysics* p = new FakePhysics;
        p->AddRef();
        return p;
    }
};

inline PlugIn Record(const char* name, const char* type, ManagerFactory factory) {
    PlugIn p;
    p.name = name;
    p.major = 0;
    p.minor = 30;
    p.type = type;
    p.factory = PlugIn::FromManager(factory);
    return p;
}

// Gives a core exactly these manager records (in place of the registry copy,
// which holds whatever components the test program links).
inline void UseManagers(ICore* core, std::initializer_list<PlugIn> records) {
    ZVCore* z = static_cast<ZVCore*>(core);
    z->PlugInManagers = Vector<PlugIn>();
    for (const PlugIn& r : records) z->PlugInManagers.Add(r);
}

inline void UseFakeManagers(ICore* core) {
    UseManagers(core, {Record("FakeGraphics", "Graphics", FakeGraphics::Create),
                       Record("FakeInput", "Input", FakeInput::Create),
                       Record("FakePhysics", "Physics", FakePhysics::Create)});
}

}  // namespace zvtest
