#include "gl/Program.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "host/Messages.h"

namespace {

// The driver's info log is read into a buffer of this size, so it is kept up to 511 characters.
constexpr GLsizei kInfoLogSize = 512;

// Deletes a shader object when the build leaves its scope, on the failing paths as on the good one; a
// failed compile would otherwise leave its shader behind in the context.
class ShaderObject {
public:
    explicit ShaderObject(GLenum type) : id_(glCreateShader(type)) {}
    ~ShaderObject() {
        if (id_) glDeleteShader(id_);
    }
    ShaderObject(const ShaderObject&) = delete;
    ShaderObject& operator=(const ShaderObject&) = delete;
    GLuint id() const { return id_; }

private:
    GLuint id_;
};

// True when compiled; otherwise the driver's log.
bool Compile(const ShaderObject& shader, const char* source, std::string* log) {
    glShaderSource(shader.id(), 1, &source, nullptr);
    glCompileShader(shader.id());
    GLint status = 0;
    glGetShaderiv(shader.id(), GL_COMPILE_STATUS, &status);
    if (status != 0) return true;
    char buffer[kInfoLogSize] = {};
    glGetShaderInfoLog(shader.id(), kInfoLogSize, nullptr, buffer);
    *log = buffer;
    return false;
}

}  // namespace

const char* ProgramSlotName(int isCompute, int index) {
    if (isCompute == 1) {
        switch (index) {
            case 0: return "COMPUTE_PRE_PROC_P";
            case 1: return "COMPUTE_BLEND_P";
            case 2: return "COMPUTE_POST_PROC_P";
            default: return "COMPUTE_UNKNOWN_P";
        }
    }
    switch (index) {
        case 0: return "PRE_PROC_XFORM_P";
        case 1: return "PRE_PROC_IDENTITY_P";
        case 2: return "DOWNSAMPLE_P";
        case 3: return "UPSAMPLE_P";
        case 4: return "BLUR_UNIFIED_P";
        case 5: return "POST_PROC_P";
        case 6: return "IDENTITY";
        default: return "UNKNOWN_P";
    }
}

Program::Program() : prefix("Velloran 2: ") {}

Program::~Program() { Release(); }

Program::Program(Program&& other) noexcept
    : valid(other.valid),
      id(std::exchange(other.id, 0)),
      label(std::move(other.label)),
      isCompute(other.isCompute),
      index(other.index),
      prefix(std::move(other.prefix)) {
    other.valid = false;
}

Program& Program::operator=(Program&& other) noexcept {
    if (this != &other) {
        Release();
        valid = std::exchange(other.valid, false);
        id = std::exchange(other.id, 0);
        label = std::move(other.label);
        isCompute = other.isCompute;
        index = other.index;
        prefix = std::move(other.prefix);
    }
    return *this;
}

bool Program::InitInternal(const char* vertexSource, const char* fragmentSource, PF_OutData* out_data, int slot) {
    index = slot;
    isCompute = 0;
    valid = true;
    std::string log;

    ShaderObject vertex(GL_VERTEX_SHADER);
    if (!Compile(vertex, vertexSource, &log)) {
        SendProgramMessage(log, out_data);
        valid = false;
        return false;
    }
    ShaderObject fragment(GL_FRAGMENT_SHADER);
    if (!Compile(fragment, fragmentSource, &log)) {
        SendProgramMessage(log, out_data);
        valid = false;
        return false;
    }

    // A slot built again gives up the program it held instead of leaking it.
    if (id != 0) glDeleteProgram(id);
    id = glCreateProgram();
    glAttachShader(id, vertex.id());
    glAttachShader(id, fragment.id());
    glLinkProgram(id);
    GLint status = 0;
    glGetProgramiv(id, GL_LINK_STATUS, &status);
    if (status == 0) {
        char buffer[kInfoLogSize] = {};
        glGetProgramInfoLog(id, kInfoLogSize, nullptr, buffer);
        SendProgramMessage(buffer, out_data);
        valid = false;
        // The unlinked program keeps its name; Release or the destructor deletes it.
        return false;
    }
    glDetachShader(id, vertex.id());
    glDetachShader(id, fragment.id());
    return true;
}

void Program::Release() {
    if (id == 0) return;
    glDeleteProgram(id);
    id = 0;
    valid = false;
}

void Program::SendProgramMessage(std::string text, PF_OutData* out_data) {
    const std::string message = std::string(ProgramSlotName(isCompute, index)) + " :" + text;
    LogError(message, nullptr);
    if (!out_data) return;
    const size_t n = std::min<size_t>(message.size(), PF_MAX_RETURN_MSG_LEN - 1);
    std::memcpy(out_data->return_msg, message.data(), n);
    out_data->return_msg[n] = '\0';
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
}
