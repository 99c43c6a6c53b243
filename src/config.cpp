// The scene file reader.
#include "config.h"

#include <climits>
#include <cmath>
#include <cstring>

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

bool IsFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The start of the error entries about the camera entry: its eye and lookat.
String CameraEntryMessage(const Vector3& eye, const Vector3& lookAt) {
    String message("The 'camera' entry of \"");
    message += Config::kSceneFile;
    message += "\" with ";
    message += CameraVectorsText({{"eye ", eye}, {" and lookat ", lookAt}});
    message += " cannot be used: ";
    return message;
}

// Reads the numbers of one command.  A number beyond its type's range
// saturates, with a warning naming the command and the entry that holds it.
// The first number that reads as nan or an infinity is remembered.
class NumberReader {
public:
    NumberReader(CallScope& scope, const String& fileName, u32 index, Parser::Line& command)
        : scope(scope), fileName(fileName), index(index), command(command) {}

    int Int(const Parser::Line& entry, u32 token) {
        bool outOfRange = false;
        const int value = entry.Tokens.data[token].ToInt(&outOfRange);
        if (outOfRange) {
            String saturated;
            saturated += value;
            WarnOutOfRange(entry, token, saturated);
        }
        return value;
    }
    float Float(const Parser::Line& entry, u32 token) {
        bool outOfRange = false;
        const float value = entry.Tokens.data[token].ToFloat(&outOfRange);
        if (!std::isfinite(value) && !nonFiniteEntry) {
            nonFiniteEntry = &entry;
            nonFiniteText = &entry.Tokens.data[token];
        }
        if (outOfRange) {
            String saturated;
            std::strcpy(saturated.floatFormat, "%g");  // FLT_MAX as 3.40282e+38
            saturated += (double)value;
            WarnOutOfRange(entry, token, saturated);
        }
        return value;
    }
    // The numbers of an entry are read in their order in the file (not in
    // that of a constructor's arguments), so that warnings come in file order
    // and the first number that is not finite is the first one written.
    Vector3 Vector(const Parser::Line& entry) {
        Vector3 v;
        v.x = Float(entry, 1);
        v.y = Float(entry, 2);
        v.z = Float(entry, 3);
        return v;
    }
    // x, y, z and an angle written in degrees, given in radians.
    Vector4 Placement(const Parser::Line& entry) {
        const Vector3 at = Vector(entry);
        return Vector4(at.x, at.y, at.z, Float(entry, 4) * kDegreesToRadians);
    }
    D3DCOLORVALUE Colour(const Parser::Line& entry) {
        D3DCOLORVALUE c;
        c.r = Float(entry, 1);
        c.g = Float(entry, 2);
        c.b = Float(entry, 3);
        c.a = 1.0f;
        return c;
    }

    // The entry and the text of the first number read that is nan or an
    // infinity; null while every number read was finite.
    const Parser::Line* nonFiniteEntry = nullptr;
    const String* nonFiniteText = nullptr;

private:
    void WarnOutOfRange(const Parser::Line& entry, u32 token, const String& saturated) {
        String reason("Number out of range in '");
        reason += entry.Tokens.data[0];
        reason += "' : ";
        reason += entry.Tokens.data[token];
        reason += " read as ";
        reason += saturated;
        Warn(scope, fileName, index, command, reason.c_str());
    }

    CallScope& scope;
    const String& fileName;
    u32 index;
    Parser::Line& command;
};

// An entry of the command holding a number that is nan or an infinity is
// refused: an error entry of the method naming the entry, its inner line and
// the number's text; E_INVALIDARG.  S_OK when there is none.
HRESULT RefuseNonFinite(const char* method, const char* command, const Config::NonFiniteNumber& number) {
    if (number.entry == 0) return S_OK;
    CallScope scope(nullptr, method);
    String message("The '");
    message += command;
    message += "' entry number ";
    message += number.entry;
    message += " of \"";
    message += Config::kSceneFile;
    message += "\" cannot be used: its '";
    message += number.field;
    message += "' value ";
    message += number.text;
    message += " is not a finite number";
    scope.WriteLog(ZVLOG_ERROR, message, "config", __LINE__);
    return E_INVALIDARG;
}

}  // namespace

Config::Config()
    : adapter(0), width(800), height(600), windowed(true), strict(false), performance(false),
      eye(0.0f, 0.0f, 1.0f), lookAt(0.0f, 0.0f, 0.0f), nonFiniteLight{0, String(), String()},
      nonFiniteModel{0, String(), String()} {}

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

    u32 modelEntries = 0;  // the model entries so far, valid or not
    u32 pointLights = 0;   // the pointlight entries so far, valid or not
    for (u32 i = 0; i < lines.count; ++i) {
        Parser::Line& line = lines.data[i];
        if (line.Tokens.count == 0) continue;
        String& command = line.Tokens.data[0];
        command.ToLower();
        Vector<Parser::Line>& inner = line.InnerLines;
        NumberReader numbers(scope, fileName, i, line);

        if (command == "path") {
            if (line.Tokens.count != 2) Warn(scope, fileName, i, line, "Wrong number of Tokens");
            if (line.Tokens.count >= 2) paths.Add(line.Tokens.data[1]);
        } else if (command == "model") {
            ++modelEntries;
            if (line.Tokens.count != 2) Warn(scope, fileName, i, line, "Wrong number of Tokens");
            if (line.Tokens.count < 2) continue;
            Vector4 position(0.0f, 0.0f, 0.0f, 0.0f);
            if (inner.count > 1) Warn(scope, fileName, i, line, "Wrong number of InnerLines");
            if (inner.count >= 1) {
                Parser::Line& first = inner.data[0];
                bool valid = first.Tokens.count == 5 && first.Tokens.data[0].ToLower() == "position";
                if (valid) {
                    position = numbers.Placement(first);
                } else {
                    Warn(scope, fileName, i, line, "Invalid Content");
                }
            }
            if (models.Add(line.Tokens.data[1]) >= 0 && positions.Add(position) < 0) models.Remove(models.count - 1);
            if (numbers.nonFiniteEntry && nonFiniteModel.entry == 0)
                nonFiniteModel = {modelEntries, numbers.nonFiniteEntry->Tokens.data[0], *numbers.nonFiniteText};
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
                adapter = (u32)numbers.Int(inner.data[0], 1);
                width = (u32)numbers.Int(inner.data[1], 1);
                height = (u32)numbers.Int(inner.data[1], 2);
                windowed = numbers.Int(inner.data[2], 1) != 0;
                strict = numbers.Int(inner.data[3], 1) != 0;
                performance = numbers.Int(inner.data[4], 1) != 0;
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
                eye = numbers.Vector(inner.data[0]);
                lookAt = numbers.Vector(inner.data[1]);
            }
        } else if (command == "pointlight") {
            ++pointLights;
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
                light.Position = numbers.Vector(inner.data[0]);
                light.Ambient = numbers.Colour(inner.data[1]);
                light.Diffuse = numbers.Colour(inner.data[2]);
                light.Specular = numbers.Colour(inner.data[3]);
                light.Direction = Vector3(0.0f, 0.0f, 0.0f);
                light.Range = 1000.0f;
                light.Falloff = 0.0f;
                light.Attenuation0 = 0.0f;
                light.Attenuation1 = 0.001f;
                light.Attenuation2 = 0.00001f;
                light.Theta = 0.0f;
                light.Phi = 0.0f;
                lights.Add(light);
                if (numbers.nonFiniteEntry && nonFiniteLight.entry == 0)
                    nonFiniteLight = {pointLights, numbers.nonFiniteEntry->Tokens.data[0], *numbers.nonFiniteText};
            }
        } else {
            Warn(scope, fileName, i, line, "Unknow Command");
        }
    }

    file.Close();
    return S_OK;
}

HRESULT Config::CheckResolution() const {
    // Numbers read saturate at INT_MAX, so a size above it was negative.
    if (width <= (u32)INT_MAX && height <= (u32)INT_MAX) return S_OK;
    CallScope scope(nullptr, "Config::CheckResolution()");
    String message("The display resolution ");
    message += (int)width;
    message += "x";
    message += (int)height;
    message += " is negative; the scene file must give a width and a height of 0 or more";
    scope.WriteLog(ZVLOG_ERROR, message, "config", __LINE__);
    return E_INVALIDARG;
}

HRESULT Config::CheckCamera() const {
    const char* reason = nullptr;
    if (!IsFinite(eye) || !IsFinite(lookAt))
        reason = "a number that is nan or an infinity gives no view";
    else if (!IsFinite(lookAt - eye))
        reason = "the way from the eye to the lookat point is beyond the range of a float";
    if (!reason) return S_OK;
    CallScope scope(nullptr, "Config::CheckCamera()");
    scope.WriteLog(ZVLOG_ERROR, CameraEntryMessage(eye, lookAt) + reason, "config", __LINE__);
    return E_INVALIDARG;
}

HRESULT Config::CheckLights() const { return RefuseNonFinite("Config::CheckLights()", "pointlight", nonFiniteLight); }

HRESULT Config::CheckModels() const { return RefuseNonFinite("Config::CheckModels()", "model", nonFiniteModel); }

void Config::ReportUnusableCamera(const Vector3& at) const {
    CallScope scope(nullptr, "Config::ReportUnusableCamera()");
    String message = CameraEntryMessage(eye, lookAt);
    if (at == eye) {
        message += "the eye lies so far out that the point one unit in front of it, where the view is aimed, "
                   "rounds onto the eye itself";
    } else {
        message += "the graphics manager refused the view";
    }
    scope.WriteLog(ZVLOG_ERROR, message, "config", __LINE__);
}
