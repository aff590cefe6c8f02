// The effect draws its warnings into the frame as text; a user who reads only the terminal would never see
// them. The tool exports its own cairo_show_text, which the loaded bundle binds to before the library's, notes
// the text and draws it with the library's own function.
#include "simhost/tool/DrawnText.h"

#include <dlfcn.h>

#include <mutex>

#include <cairo.h>

namespace {

std::mutex gMutex;
std::vector<std::string> gDrawn;

using ShowText = void (*)(cairo_t*, const char*);

ShowText LibraryShowText() {
    static const ShowText next = reinterpret_cast<ShowText>(::dlsym(RTLD_NEXT, "cairo_show_text"));
    return next;
}

}  // namespace

extern "C" void cairo_show_text(cairo_t* cr, const char* utf8) {
    if (utf8) {
        std::lock_guard<std::mutex> lock(gMutex);
        gDrawn.emplace_back(utf8);
    }
    if (const ShowText next = LibraryShowText()) next(cr, utf8);
}

namespace velloran_tool {

std::vector<std::string> TakeDrawnText() {
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<std::string> drawn;
    drawn.swap(gDrawn);
    return drawn;
}

}  // namespace velloran_tool
