// What a terminal shows after it has been sent some text: carriage returns move to the start of the line, an
// erase-line sequence (ESC [ K) clears from the cursor to the end of the line, and each character overwrites the
// one under the cursor. Enough of a terminal to see what a line drawn in place leaves behind.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

inline std::vector<std::string> TerminalScreen(const std::string& sent) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const char c = sent[i];
        std::string& line = lines.back();
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (c == '\033' && sent.compare(i, 3, "\033[K") == 0) {
            if (column < line.size()) line.resize(column);
            i += 2;
        } else {
            if (column >= line.size()) line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    return lines;
}

}  // namespace testsupport
