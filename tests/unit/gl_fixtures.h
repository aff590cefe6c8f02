// Shared by the GL layer's tests: a throw-away HOME so that log assertions read a log of their own, and a
// fixture that makes a real GL context current for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gl/glrender.h"

class ScopedTempHome {
public:
    ScopedTempHome() {
        const char* old = std::getenv("HOME");
        if (old) oldHome_ = old, hadHome_ = true;
        std::string pattern = (std::filesystem::temp_directory_path() / "velloran-gl-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        setenv("HOME", dir_.c_str(), 1);
    }
    ~ScopedTempHome() {
        if (hadHome_) setenv("HOME", oldHome_.c_str(), 1);
        else unsetenv("HOME");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScopedTempHome(const ScopedTempHome&) = delete;
    ScopedTempHome& operator=(const ScopedTempHome&) = delete;

    std::string LogText() const {
        std::ifstream in(dir_ + "/Library/Logs/Quenholt/velloran_2_error_log.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string dir_;
    std::string oldHome_;
    bool hadHome_ = false;
};

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
        home_ = std::make_unique<ScopedTempHome>();
        context_ = CreateContext(nullptr, nullptr);
        ASSERT_TRUE(IsContextValid(context_));
        ASSERT_EQ(SetCurrentContext(context_), 0);
    }
    void TearDown() override {
        SetCurrentContext(nullptr);
        DeleteContext(context_);
    }
    std::string LogText() const { return home_->LogText(); }

    // The colour attachment of a framebuffer as RGBA floats, rows from GL's row 0 up.
    static std::vector<float> ReadRGBA(GLuint framebuffer, int width, int height) {
        std::vector<float> pixels(size_t(width) * size_t(height) * 4, -1.f);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, pixels.data());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return pixels;
    }

    std::unique_ptr<ScopedTempHome> home_;
    CGLContextObj context_ = nullptr;
};
