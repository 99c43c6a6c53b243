// Stand-ins for the engine around one opponent or the player: a model whose
// animations the test plays and stops, a clock the test sets, and the
// graphics manager, core and physics manager that lead to them.  No window
// is opened.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "deathmatch.h"

namespace gamefake {

class FakeModel : public IModel, public IPhyEntity {
public:
    explicit FakeModel(std::vector<std::string> names = {}) : names(std::move(names)) {
        world.SetIdentity();
        boxMin = Vector3(-10, 0, -10);
        boxMax = Vector3(10, 80, 10);
    }
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        ++*released;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("FakeModel");
        return name;
    }
    HRESULT Update(float) override { return S_OK; }
    HRESULT Render() override { return S_OK; }
    HRESULT Reset() override { return S_FALSE; }
    HRESULT SendCommand(const String& command, String* parameter) override {
        commands.push_back(std::string(command.c_str()) + " " + (parameter ? parameter->c_str() : ""));
        return S_OK;
    }
    HRESULT GetTypeAndCommand(String* t, String* c) override {
        if (t) *t = type.c_str();
        if (c) *c = command.c_str();
        return S_OK;
    }
    HRESULT AddAnimation(const String&, float) override { return E_FAIL; }
    HRESULT AddAnimation(u32 id, float) override {
        started.push_back((int)id);
        playing = (int)id;
        return id < names.size() ? S_OK : E_FAIL;
    }
    u32 GetNumAnimations() override { return (u32)names.size(); }
    String GetAnimationName(u32 id) override { return id < names.size() ? String(names[id].c_str()) : String(); }
    bool IsAnimationPlaying(u32 id) override {
        asked.push_back((int)id);
        return (int)id == playing && playing >= 0;
    }
    HRESULT GetBuffers(GeometryBuffers*) override { return E_FAIL; }
    void GetBoundingBox(Vector3* lo, Vector3* hi) override {
        *lo = boxMin;
        *hi = boxMax;
    }
    void SetWorldMatrix(Matrix m) override { world = m; }
    void GetWorldMatrix(Matrix* out) override { *out = world; }

    // Animation played now; -1 once the test ended it.
    int playing = -1;
    std::vector<std::string> names;
    std::vector<int> started;
    std::vector<int> asked;
    std::vector<std::string> commands;
    std::string type = "md5";
    std::string command;
    Matrix world;
    Vector3 boxMin, boxMax;
    u32 nRef = 0;
    int dummyReleased = 0;
    int* released = &dummyReleased;
};

// A geometry that is no model (as a font would be).
class FakePlainGeometry : public IGeometry {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        ++*released;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("FakePlainGeometry");
        return name;
    }
    HRESULT Update(float) override { return S_OK; }
    HRESULT Render() override { return S_OK; }
    HRESULT Reset() override { return S_FALSE; }
    HRESULT SendCommand(const String&, String*) override { return E_FAIL; }
    HRESULT GetTypeAndCommand(String* t, String* c) override {
        if (t) *t = "font";
        if (c) *c = "";
        return S_OK;
    }
    u32 nRef = 0;
    int* released = nullptr;
};

class FakeCore;

// Makes the models the test prepared, by command; a second request for a
// command clones the first model as the engine does (same world matrix).
class FakeGraphics : public IInternGraphics {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override { return nRef > 0 ? --nRef : 0; }
    const String& GetName() override {
        static String name("FakeGraphics");
        return name;
    }
    ICore* GetCore() override { return core; }
    HRESULT Init(ICore*, HWND, const Vector<PlugIn>*) override { return S_OK; }
    HRESULT UpdateScreenMode() override { return S_OK; }
    HRESULT SetCamera(const Vector3* eye, const Vector3* at, const Vector3* up) override {
        cameraEye = *eye;
        cameraAt = *at;
        cameraUp = *up;
        ++cameraCalls;
        return cameraResult;
    }
    HRESULT CreateGeometry(const String& type, const String& command, IGeometry** out) override {
        types.push_back(type.c_str());
        const std::string key = command.c_str();
        if (plain.count(key)) {
            FakePlainGeometry* g = new FakePlainGeometry;
            g->released = &released;
            g->AddRef();
            *out = g;
            return S_OK;
        }
        auto made = created.find(key);
        FakeModel* model = nullptr;
        if (made != created.end()) {
            model = new FakeModel(made->second->names);
            model->world = made->second->world;  // a clone starts where its source is
            model->boxMin = made->second->boxMin;
            model->boxMax = made->second->boxMax;
        } else if (prepared.count(key)) {
            model = prepared[key];
            prepared.erase(key);
        } else {
            return E_FAIL;
        }
        model->type = type.c_str();
        model->command = key;
        model->released = &released;
        model->AddRef();
        created[key] = model;
        all.push_back(model);
        *out = model;
        return S_OK;
    }

    u32 nRef = 1;
    ICore* core = nullptr;
    std::map<std::string, FakeModel*> prepared;  // command -> model handed out by the first request
    std::map<std::string, FakeModel*> created;
    std::map<std::string, bool> plain;           // commands that give a geometry that is no model
    std::vector<FakeModel*> all;
    std::vector<std::string> types;
    int released = 0;
    Vector3 cameraEye, cameraAt, cameraUp;
    int cameraCalls = 0;
    HRESULT cameraResult = S_OK;
};

class FakeCore : public ICore {
public:
    u32 AddRef() override { return 1; }
    u32 Release() override { return 1; }
    const String& GetName() override {
        static String name("FakeCore");
        return name;
    }
    HRESULT Init(HINSTANCE, const String&, u32, u32) override { return S_OK; }
    HRESULT Update(bool) override { return S_OK; }
    bool IsActive() override { return true; }
    bool IsRunning() override { return true; }
    IInternGraphics* GetGraphics() override { return graphics; }
    IInternInput* GetInput() override { return nullptr; }
    IInternPhysics* GetPhysics() override { return nullptr; }
    HRESULT CreateGraphics(IGraphics**) override { return E_FAIL; }
    HRESULT CreateInput(IInput**) override { return E_FAIL; }
    HRESULT CreatePhysics(IPhysics**) override { return E_FAIL; }
    double GetTime() override { return now; }

    IInternGraphics* graphics = nullptr;
    double now = 100.0;
};

class FakePhysics : public IPhysics {
public:
    u32 AddRef() override { return 1; }
    u32 Release() override { return 1; }
    const String& GetName() override {
        static String name("FakePhysics");
        return name;
    }
    ICore* GetCore() override { return core; }
    bool EntityIsVisible(IPhyEntity*) override { return true; }
    bool ShadVolIsVisible(Vector3, IPhyEntity*) override { return true; }
    ICore* core = nullptr;
};

// The world of one test: the fakes wired together, a game object that only
// holds the scene box, the player (its eye at the origin unless moved) and
// the opponents.
class World {
public:
    World() {
        core.graphics = &graphics;
        graphics.core = &core;
        physics.core = &core;
        game.vSceneMin = Vector3(-2000, -500, -2000);
        game.vSceneMax = Vector3(2000, 500, 2000);
        game.player.pDeathMatch = &game;
        game.player.pGraphics = &graphics;
        game.player.vEye = Vector3(0, 10, 0);
    }
    ~World() {
        for (u32 i = 0; i < game.monsters.count; ++i) {
            if (game.monsters.data[i].pModel) game.monsters.data[i].pModel->Release();
            game.monsters.data[i].pModel = nullptr;
        }
    }
    FakeModel* Prepare(const std::string& command, std::vector<std::string> names) {
        FakeModel* m = new FakeModel(std::move(names));
        graphics.prepared[command] = m;
        return m;
    }
    // Adds an opponent made from the command at x, y, z with a heading in radians.
    HRESULT AddMonster(const std::string& command, float x, float y, float z, float heading) {
        const u32 i = game.monsters.count;
        if (game.monsters.Reserve(i + 1, true) < 0) return E_OUTOFMEMORY;
        return game.monsters.data[i].Init(command.c_str(), Vector4(x, y, z, heading), &game.player, &physics);
    }
    Monster& M(u32 i) { return game.monsters.data[i]; }
    FakeModel* Model(u32 i) { return dynamic_cast<FakeModel*>(game.monsters.data[i].pModel); }

    FakeCore core;
    FakeGraphics graphics;
    FakePhysics physics;
    DeathMatch game;
};

}  // namespace gamefake
