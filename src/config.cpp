// The scene file reader.
#include "config.h"

namespace {

const float kDegreesToRadians = 0.017453292f;

void Warn(CallScope& scope, const String& fileName, u32 index, Parser::Line& line, const char* reason) {
    String message("Command[");
    message += index;
    message += "] : '";
    message += line.Tokens.data[0];
    message += "'";
    if (line.Tokens.count > 1) {
        message += " = ";
        message += line.Tokens.data[1];
    }
    message += "); Error : ";
    message += reason;
    scope.WriteLog(ZVLOG_WARNING, message, fileName, 0);
}

// True when the inner lines have exactly the token counts given.
bool TokenCountsAre(const Vector<Parser::Line>& inner, const u32* counts) {
    for (u32 i = 0; i < inner.count; ++i)
        if (inner.data[i].Tokens.count != counts[i]) return false;
    return true;
}

// Lower-cases each inner line's first token in place and compares it with names.
bool NamesAre(Vector<Parser::Line>& inner, const char* const* names) {
    bool all = true;
    for (u32 i = 0; i < inner.count; ++i)
        if (!(inner.data[i].Tokens.data[0].ToLower() == names[i])) all = false;
    return all;
}

Vector3 ReadVector3(const Parser::Line& line) {
    return Vector3(line.Tokens.data[1].ToFloat(), line.Tokens.data[2].ToFloat(), line.Tokens.data[3].ToFloat());
}

D3DCOLORVALUE ReadColour(const Parser::Line& line) {
    D3DCOLORVALUE c;
    c.r = line.Tokens.data[1].ToFloat();
    c.g = line.Tokens.data[2].ToFloat();
    c.b = line.Tokens.data[3].ToFloat();
    c.a = 1.0f;
    return c;
}

}  // namespace

Config::Config()
    : adapter(0), width(800), height(600), windowed(true), strict(false), performance(false),
      eye(0.0f, 0.0f, 1.0f), lookAt(0.0f, 0.0f, 0.0f) {}

Config::~Config() {}

HRESULT Config::Load(const String& fileName) {
    CallScope scope(nullptr, "Config::Load()");

    adapter = 0;
    width = 800;
    height = 600;
    windowed = true;
    strict = false;
    performance = false;
    eye = Vector3(0.0f, 0.0f, 1.0f);
    lookAt = Vector3(0.0f, 0.0f, 0.0f);

    File file;
    if (scope.ReportFailure("-", "config", __LINE__, file.Open(fileName, "rb")) < 0) {
        file.Close();
        return ZVE_SUBFUNCTION;
    }

    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    Vector<Parser::Line> lines;
    parser.Parse(&file, &lines, false);

    for (u32 i = 0; i < lines.count; ++i) {
        Parser::Line& line = lines.data[i];
        if (line.Tokens.count == 0) continue;
        String& command = line.Tokens.data[0];
        command.ToLower();
        Vector<Parser::Line>& inner = line.InnerLines;

        if (command == "path") {
            if (line.Tokens.count != 2) Warn(scope, fileName, i, line, "Wrong number of Tokens");
            if (line.Tokens.count >= 2) paths.Add(line.Tokens.data[1]);
        } else if (command == "model") {
            if (line.Tokens.count != 2) Warn(scope, fileName, i, line, "Wrong number of Tokens");
            if (line.Tokens.count < 2) continue;
            Vector4 position(0.0f, 0.0f, 0.0f, 0.0f);
            if (inner.count > 1) Warn(scope, fileName, i, line, "Wrong number of InnerLines");
            if (inner.count >= 1) {
                Parser::Line& first = inner.data[0];
                bool valid = first.Tokens.count == 5 && first.Tokens.data[0].ToLower() == "position";
                if (valid) {
                    position = Vector4(first.Tokens.data[1].ToFloat(), first.Tokens.data[2].ToFloat(),
                                       first.Tokens.data[3].ToFloat(),
                                       first.Tokens.data[4].ToFloat() * kDegreesToRadians);
                } else {
                    Warn(scope, fileName, i, line, "Invalid Content");
                }
            }
            if (models.Add(line.Tokens.data[1]) >= 0 && positions.Add(position) < 0) models.Remove(models.count - 1);
        } else if (command == "display") {
            static const u32 counts[5] = {2, 3, 2, 2, 2};
            static const char* const names[5] = {"adapter", "resolution", "windowed", "strict", "performance"};
            if (inner.count != 5) {
                Warn(scope, fileName, i, line, "Wrong number of InnerLines");
            } else if (!TokenCountsAre(inner, counts)) {
                Warn(scope, fileName, i, line, "Wrong number of Tokens in an InnerLine");
            } else if (!NamesAre(inner, names)) {
                Warn(scope, fileName, i, line, "Unknow Token[0] in an InnerLine");
            } else {
                adapter = (u32)inner.data[0].Tokens.data[1].ToInt();
                width = (u32)inner.data[1].Tokens.data[1].ToInt();
                height = (u32)inner.data[1].Tokens.data[2].ToInt();
                windowed = inner.data[2].Tokens.data[1].ToInt() != 0;
                strict = inner.data[3].Tokens.data[1].ToInt() != 0;
                performance = inner.data[4].Tokens.data[1].ToInt() != 0;
            }
        } else if (command == "camera") {
            static const u32 counts[2] = {4, 4};
            static const char* const names[2] = {"eye", "lookat"};
            if (inner.count != 2) {
                Warn(scope, fileName, i, line, "Wrong number of InnerLines");
            } else if (!TokenCountsAre(inner, counts)) {
                Warn(scope, fileName, i, line, "Wrong number of Tokens in an InnerLine");
            } else if (!NamesAre(inner, names)) {
                Warn(scope, fileName, i, line, "Unknow Token[0] in an InnerLine");
            } else {
                eye = ReadVector3(inner.data[0]);
                lookAt = ReadVector3(inner.data[1]);
            }
        } else if (command == "pointlight") {
            static const u32 counts[4] = {4, 4, 4, 4};
            static const char* const names[4] = {"position", "ambient", "diffuse", "specular"};
            if (inner.count != 4) {
                Warn(scope, fileName, i, line, "Wrong number of InnerLines");
            } else if (!TokenCountsAre(inner, counts)) {
                Warn(scope, fileName, i, line, "Wrong number of Tokens in an InnerLine");
            } else if (!NamesAre(inner, names)) {
                Warn(scope, fileName, i, line, "Unknow Token[0] in an InnerLine");
            } else {
                Light light;
                light.Type = 1;
                light.Position = ReadVector3(inner.data[0]);
                light.Ambient = ReadColour(inner.data[1]);
                light.Diffuse = ReadColour(inner.data[2]);
                light.Specular = ReadColour(inner.data[3]);
                light.Direction = Vector3(0.0f, 0.0f, 0.0f);
                light.Range = 1000.0f;
                light.Falloff = 0.0f;
                light.Attenuation0 = 0.0f;
                light.Attenuation1 = 0.001f;
                light.Attenuation2 = 0.00001f;
                light.Theta = 0.0f;
                light.Phi = 0.0f;
                lights.Add(light);
            }
        } else {
            Warn(scope, fileName, i, line, "Unknow Command");
        }
    }

    file.Close();
    return S_OK;
}
