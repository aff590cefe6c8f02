// Checked GL call sequences on a real context: error mapping, the drain, the stopping sequence's single
// report of its first failure and the collecting sequence's first-failure log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "gl_fixtures.h"

namespace {

std::string StopCapturingStderr() {
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

TEST(GLErrorMapping, RawErrorsMapToCodesAndNames) {
    const struct {
        GLenum raw;
        GLErrorCode code;
        const char* name;
    } cases[] = {
        {GL_NO_ERROR, GLErrorCode::NoError, "GL_NO_ERROR"},
        {0x0500, GLErrorCode::InvalidEnum, "GL_INVALID_ENUM"},
        {0x0501, GLErrorCode::InvalidValue, "GL_INVALID_VALUE"},
        {0x0502, GLErrorCode::InvalidOperation, "GL_INVALID_OPERATION"},
        {0x0505, GLErrorCode::OutOfMemory, "GL_OUT_OF_MEMORY"},
        {0x0506, GLErrorCode::InvalidFramebufferOperation, "GL_INVALID_FRAMEBUFFER_OPERATION"},
        {0x0503, GLErrorCode::Unknown, "GL_UNKNOWN_ERROR"},
        {0x0504, GLErrorCode::Unknown, "GL_UNKNOWN_ERROR"},
        {0x0507, GLErrorCode::Unknown, "GL_UNKNOWN_ERROR"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MapGLError(c.raw), c.code) << std::hex << c.raw;
        EXPECT_STREQ(GLErrorCodeToString(MapGLError(c.raw)), c.name) << std::hex << c.raw;
    }
    EXPECT_STREQ(GLErrorCodeToString(GLErrorCode(7)), "UNRECOGNIZED_ERROR");
    EXPECT_STREQ(GLErrorCodeToString(GLErrorCode(-1)), "UNRECOGNIZED_ERROR");
}

class CheckedCalls : public GLTest {
protected:
    int calls = 0;
    void Succeeding() {
        ++calls;
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    void Failing() {
        ++calls;
        glEnable(0x7FFF);  // no such capability: GL_INVALID_ENUM
    }
};

TEST_F(CheckedCalls, PendingErrorsAreDrainedAndNeverBlamedOnTheSequence) {
    glEnable(0x7FFF);
    glBindTexture(GL_TEXTURE_2D, 0x7FFFFF);  // a name never generated
    testing::internal::CaptureStderr();
    GLStoppingSequence seq;
    GL_CHECKED(seq, Succeeding());
    GL_CHECKED(seq, Succeeding());
    EXPECT_EQ(StopCapturingStderr(), "");
    EXPECT_FALSE(seq.failed());
    EXPECT_EQ(seq.info().code, GLErrorCode::NoError);
    EXPECT_STREQ(seq.info().operation, "Succeeding()");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(clearExistingGLErrors("test"), GLenum(GL_NO_ERROR));
}

TEST_F(CheckedCalls, StoppingSequenceReportsItsFirstFailureOnceAndMakesNoFurtherCall) {
    testing::internal::CaptureStderr();
    GLStoppingSequence seq;
    GL_CHECKED(seq, Succeeding());
    const int failingLine = __LINE__ + 1;
    GL_CHECKED(seq, Failing());
    GL_CHECKED(seq, Succeeding());
    GL_CHECKED(seq, Failing());
    ASSERT_TRUE(seq.failed());
    Log_GL_Err("StoppingTest", seq.info(), nullptr);
    const std::string printed = StopCapturingStderr();

    EXPECT_EQ(calls, 2);
    EXPECT_EQ(printed, "OpenGL Error in " + std::string(__FILE__) + " at line " + std::to_string(failingLine) +
                           " in operation Failing(): 1\n");
    const std::string log = LogText();
    EXPECT_EQ(CountOccurrences(log, "OpenGL error occurred in "), 1);
    EXPECT_NE(log.find("OpenGL error occurred in StoppingTest: " + std::string(__FILE__) + " at line " +
                       std::to_string(failingLine) + " in operation Failing(): GL_INVALID_ENUM\n"),
              std::string::npos)
        << log;
}

TEST_F(CheckedCalls, CollectingSequenceMakesEveryCallAndLogsOnlyItsFirstFailure) {
    testing::internal::CaptureStderr();
    GLCollectingSequence seq;
    const int firstLine = __LINE__ + 1;
    GL_CHECKED(seq, Failing());
    GL_CHECKED(seq, glBindTexture(GL_TEXTURE_2D, 0x7FFFFF));
    GL_CHECKED(seq, Succeeding());
    seq.LogFirstFailure("CollectingTest", nullptr);
    EXPECT_EQ(StopCapturingStderr(), "");

    EXPECT_EQ(calls, 2);
    EXPECT_EQ(seq.firstFailure().line, firstLine);
    const std::string log = LogText();
    EXPECT_EQ(CountOccurrences(log, "OpenGL error occurred in "), 1);
    EXPECT_NE(log.find("CollectingTest: " + std::string(__FILE__) + " at line " + std::to_string(firstLine) +
                       " in operation Failing(): GL_INVALID_ENUM\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "the second failure's flag was read, not left pending";
}

TEST_F(CheckedCalls, CollectingSequenceWithoutFailureLogsNothing) {
    GLCollectingSequence seq;
    GL_CHECKED(seq, Succeeding());
    seq.LogFirstFailure("CollectingTest", nullptr);
    EXPECT_FALSE(seq.failed());
    EXPECT_EQ(LogText(), "");
}

}  // namespace
