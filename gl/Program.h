// One linked vertex-and-fragment program, one slot of the effect's seven-slot program arrays. The GL
// context it was built in must be current for every operation that touches GL.
#pragma once

#include <string>

#include "gl/GLHeaders.h"
#include "sdk/AE_Effect.h"

// The slot's name in failure messages: "PRE_PROC_XFORM_P" ... "IDENTITY", "UNKNOWN_P" for any other index;
// compute programs (isCompute 1) have their own table.
const char* ProgramSlotName(int isCompute, int index);

class Program {
public:
    bool valid = false;     // true while linked and usable
    GLuint id = 0;          // GL program name, 0 when none
    std::string label;      // kept empty
    int isCompute = 0;
    int index = 0;          // slot number naming the program in messages
    std::string prefix;

    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    Program(Program&& other) noexcept;
    Program& operator=(Program&& other) noexcept;

    // Compiles both sources and links them; true when linked. A failure is logged and shown through
    // out_data as "<slot name> :<driver log>".
    bool InitInternal(const char* vertexSource, const char* fragmentSource, PF_OutData* out_data, int slot);
    // Deletes the program; does nothing (valid included) when id is 0.
    void Release();
    void SendProgramMessage(std::string text, PF_OutData* out_data);
};
