// Shared by the GL layer's tests: a fixture that makes a real GL context current for each test, over a
// throw-away HOME so that log assertions read a log of their own.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "gl/glrender.h"
#include "support/TempHome.h"

inline int CountOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class GLTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = CreateContext(nullptr, nullptr);
        ASSERT_TRUE(IsContextValid(context_));
        ASSERT_EQ(SetCurrentContext(context_), 0);
    }
    void TearDown() override {
        SetCurrentContext(nullptr);
        DeleteContext(context_);
    }
    std::string LogText() const { return home_.ReadLog(); }

    // The colour attachment of a framebuffer as RGBA floats, rows from GL's row 0 up.
    static std::vector<float> ReadRGBA(GLuint framebuffer, int width, int height) {
        std::vector<float> pixels(size_t(width) * size_t(height) * 4, -1.f);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, pixels.data());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return pixels;
    }

    testsupport::ScopedHome home_;
    CGLContextObj context_ = nullptr;
};
