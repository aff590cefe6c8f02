// Layer and frame options of velloran-render: the mask, iris and lens-dirt layers as image files at positions
// relative to the input (--mask FILE[@X,Y], --iris, --dirt), the frame's bit depth and downsample factor; the
// frame itself goes through the smart pre-render and render, and the output is written at the size the effect
// asked for (its grown result rectangle), not the input's.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "simhost/Composition.h"
#include "simhost/ImageIO.h"
#include "simhost/ParamStore.h"
#include "simhost/SmartRender.h"
#include "simhost/tool/DrawnText.h"
#include "simhost/tool/Options.h"
#include "simhost/tool/Progress.h"
#include "simhost/tool/RendererLine.h"

namespace {

using velloran_tool::ToolState;

// The effect's layer parameters by index: "Mask Layer", "Iris Layer" and the lens-dirt "Texture".
struct LayerOption {
    const char* name;
    PF_ParamIndex index;
    const char* help;
};
const LayerOption kLayerOptions[] = {
    {"--mask", 32, "image file of the mask layer, its top-left corner at X,Y of the input (default 0,0)"},
    {"--iris", 39, "image file of the iris layer (\"Lens Iris\" mode), at X,Y of the input"},
    {"--dirt", 90, "image file of the lens-dirt texture layer, at X,Y of the input"},
};

struct Placed {
    std::string file;
    A_long x = 0, y = 0;
};

// One coordinate of a layer position: any whole number a composition position can hold.
A_long Coordinate(const std::string& digits, const std::string& value) {
    errno = 0;
    const long long n = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || n < std::numeric_limits<A_long>::min() || n > std::numeric_limits<A_long>::max())
        throw std::invalid_argument("the layer position in \"" + velloran_tool::Quoted(value) +
                                    "\" is out of range (each of X and Y from " +
                                    std::to_string(std::numeric_limits<A_long>::min()) + " to " +
                                    std::to_string(std::numeric_limits<A_long>::max()) + ")");
    return A_long(n);
}

// A whole number as a coordinate is written: an optional minus and digits.
bool IsWholeNumber(const std::string& text) {
    const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// "FILE@X,Y" or "FILE". A file name may itself hold an '@' ("photo@2x.png"): the text after the last '@' is
// taken as a position when the whole value is no file and that text starts as a position does (a digit, a
// sign, a comma or nothing), and then it must be one.
Placed ParsePlaced(const std::string& value) {
    Placed p;
    p.file = value;
    const size_t at = value.rfind('@');
    struct stat info {};
    if (at != std::string::npos && ::stat(value.c_str(), &info) != 0) {
        const std::string position = value.substr(at + 1);
        const bool meantAsPosition = position.empty() || position.find(',') != std::string::npos ||
                                     std::isdigit(static_cast<unsigned char>(position[0])) || position[0] == '-' ||
                                     position[0] == '+';
        if (meantAsPosition) {
            const size_t comma = position.find(',');
            const std::string x = comma == std::string::npos ? "" : position.substr(0, comma);
            const std::string y = comma == std::string::npos ? "" : position.substr(comma + 1);
            if (!IsWholeNumber(x) || !IsWholeNumber(y))
                throw std::invalid_argument("the layer position in \"" + velloran_tool::Quoted(value) +
                                            "\" is malformed: give FILE@X,Y with whole numbers, as in " +
                                            velloran_tool::Quoted(value.substr(0, at)) + "@10,20");
            p.file = value.substr(0, at);
            p.x = Coordinate(x, value);
            p.y = Coordinate(y, value);
        }
    }
    if (p.file.empty())
        throw std::invalid_argument("a layer option needs FILE[@X,Y], got \"" + velloran_tool::Quoted(value) + "\"");
    return p;
}

const bool kLayersAdded = [] {
    for (const LayerOption& o : kLayerOptions) {
        const std::string name = o.name;
        velloran_tool::AddOption({o.name, "FILE[@X,Y]", o.help, [name](ToolState& s, const std::string& v) {
                                      const Placed placed = ParsePlaced(v);
                                      auto given = s.extra.find(name);
                                      if (given != s.extra.end() && !given->second.empty()) {
                                          // Only the layer the frame will have must be readable.
                                          const std::string earlier = ParsePlaced(given->second.back()).file;
                                          auto file = std::find(s.inputFiles.begin(), s.inputFiles.end(), earlier);
                                          if (file != s.inputFiles.end()) s.inputFiles.erase(file);
                                          // One warning however often it was given, naming the last.
                                          s.warnings[name] = name + " given more than once; the last one, " +
                                                             velloran_tool::Quoted(v) + ", is used";
                                      }
                                      s.inputFiles.push_back(placed.file);
                                      s.extra[name] = {v};
                                  }});
    }
    return true;
}();

const bool kDepthAdded = velloran_tool::AddOption(
    {"--depth", "8|32", "bit depth of the frame's worlds (default: the input's, 8 for 8-bit images, else 32)",
     [](ToolState& s, const std::string& v) {
         if (v != "8" && v != "32") throw std::invalid_argument("--depth takes 8 or 32");
         s.extra["--depth"] = {v};
     }});

const bool kDownsampleAdded = velloran_tool::AddOption(
    {"--downsample", "N", "render at 1/N of full resolution in both directions (1 to 256, default 1)",
     [](ToolState& s, const std::string& v) {
         std::size_t used = 0;
         int n = 0;
         try {
             n = std::stoi(v, &used);
         } catch (const std::exception&) {
             used = 0;
         }
         // The effect grows its result in proportion to the factor: far beyond this, the output alone would
         // need more memory than any machine has, so it is refused before anything is rendered.
         constexpr int kLargest = 256;
         if (used != v.size() || n < 1 || n > kLargest)
             throw std::invalid_argument("--downsample takes a whole number from 1 to " + std::to_string(kLargest));
         s.extra["--downsample"] = {v};
     }});

const std::string* Value(const ToolState& s, const char* option) {
    auto it = s.extra.find(option);
    return it == s.extra.end() || it->second.empty() ? nullptr : &it->second.back();
}

// A mask with no pixel over the input's masks all of it away.
bool MissesInput(simhost::Composition& comp, const simhost::CompLayer* mask) {
    const simhost::CompLayer* input = comp.Find(comp.InputLayer());
    if (!input || !mask) return false;
    const long long left = mask->x, top = mask->y, right = left + mask->pixels.width(),
                    bottom = top + mask->pixels.height();
    return right <= input->x || bottom <= input->y || left >= input->x + input->pixels.width() ||
           top >= input->y + input->pixels.height() || right <= left || bottom <= top;
}

// Whether any channel of a float frame is above 1, which an 8-bit frame cannot hold.
bool AboveOne(const simhost::SimWorld& pixels) {
    for (A_long y = 0; y < pixels.height(); ++y)
        for (A_long x = 0; x < pixels.width(); ++x) {
            const PF_PixelFloat p = pixels.GetFloat(x, y);
            if (p.red > 1.f || p.green > 1.f || p.blue > 1.f || p.alpha > 1.f) return true;
        }
    return false;
}

// The input and the layer files go into the composition before anything else runs, so that the controls
// window (--controls) already sees the layers the frame will have.
const bool kAttachAdded = velloran_tool::AddBeforeFrameStep(
    [](simhost::SimHost& host, const ToolState& state) -> PF_Err {
        // Reading a large input takes a while of its own: it is the frame's first stage.
        if (!velloran_tool::PrintsOnly(state)) velloran_tool::EnterStage("reading");
        simhost::Composition& comp = simhost::Comp(host);
        comp.SetInputLayer(comp.AddLayer(state.input.empty() ? simhost::MakeTestScene(state.sceneWidth,
                                                                                      state.sceneHeight,
                                                                                      state.sceneDepth)
                                                             : simhost::ReadImage(state.input),
                                         0, 0, "input"));
        for (const LayerOption& o : kLayerOptions) {
            if (const std::string* v = Value(state, o.name)) {
                const Placed p = ParsePlaced(*v);
                comp.SetLayerParam(o.index, comp.AddLayer(simhost::ReadImage(p.file), p.x, p.y, p.file));
            }
        }
        if (const std::string* mask = Value(state, kLayerOptions[0].name)) {
            if (MissesInput(comp, comp.Find(comp.LayerForParam(kLayerOptions[0].index))))
                velloran_tool::Say("warning: --mask " + velloran_tool::Quoted(*mask) +
                                   " lies wholly outside the input, so nothing of the input glows");
        }
        return PF_Err_NONE;
    },
    -1);

// Why the effect's result is empty, where the layers tell: a mask that misses the input leaves nothing.
std::string WhyEmpty(simhost::Composition& comp) {
    const simhost::CompLayer* input = comp.Find(comp.InputLayer());
    const simhost::CompLayer* mask = comp.Find(comp.LayerForParam(kLayerOptions[0].index));
    if (!input) return "";
    if (input->pixels.width() <= 0 || input->pixels.height() <= 0) return " (the input has no pixels)";
    if (MissesInput(comp, mask))
        return " (the mask layer " + velloran_tool::Quoted(mask->name) + " does not overlap the input)";
    return "";
}

// "Glow Mode" and "Mask Mode", whose choices decide what the iris and the mask layers do.
constexpr PF_ParamIndex kGlowModeParam = 17, kMaskModeParam = 33;
constexpr PF_ParamValue kLensIrisMode = 2, kAlphaMaskMode = 1;

bool FullyOpaque(const simhost::SimWorld& pixels) {
    for (A_long y = 0; y < pixels.height(); ++y)
        for (A_long x = 0; x < pixels.width(); ++x)
            if (pixels.GetFloat(x, y).alpha < 1.f) return false;
    return true;
}

// What the picture alone would not tell: a layer given that the frame never read, and a mask that masks
// nothing where it is read.
void WarnAboutLayers(simhost::SimHost& host, const ToolState& state, const simhost::FrameResult& frame) {
    simhost::Composition& comp = simhost::Comp(host);
    for (const LayerOption& o : kLayerOptions) {
        const std::string* given = Value(state, o.name);
        if (!given) continue;
        bool read = false;
        for (const A_long id : frame.pixelCheckouts) {
            const simhost::LayerCheckout* checkout = frame.Checkout(id);
            read = read || (checkout && checkout->index == o.index && checkout->layer != 0);
        }
        if (!read) {
            std::string why;
            if (o.index == kLayerOptions[1].index &&
                simhost::Params(host).Value(kGlowModeParam).u.pd.value != kLensIrisMode)
                why = " (the iris shapes the glow only with \"Glow Mode=Lens Iris\")";
            velloran_tool::Say(std::string("warning: ") + o.name + " " + velloran_tool::Quoted(*given) +
                               ": this frame does not use that layer" + why);
            continue;
        }
        if (o.index != kLayerOptions[0].index) continue;
        const simhost::CompLayer* mask = comp.Find(comp.LayerForParam(o.index));
        if (mask && simhost::Params(host).Value(kMaskModeParam).u.pd.value == kAlphaMaskMode &&
            FullyOpaque(mask->pixels))
            velloran_tool::Say("warning: the mask " + velloran_tool::Quoted(mask->name) +
                               " is opaque everywhere, so by its alpha it masks nothing; to mask by brightness, "
                               "add --set \"Mask Mode=Luminance\"");
    }
}

PF_Err RenderSmartFrame(simhost::SimHost& host, const ToolState& state, const simhost::SimWorld& input,
                        simhost::SimWorld& output) {
    simhost::Composition& comp = simhost::Comp(host);
    if (!comp.InputLayer()) comp.SetInputLayer(comp.AddLayer(input.Clone(), 0, 0, "input"));
    simhost::FrameRequest request;
    const std::string* depth = Value(state, "--depth");
    request.bitdepth = depth ? A_short(std::stoi(*depth)) : input.depth() == simhost::PixelDepth::k8 ? 8 : 32;
    if (request.bitdepth == 8 && input.depth() != simhost::PixelDepth::k8 && AboveOne(input))
        velloran_tool::Say("warning: --depth 8: the input holds values above 1, which an 8-bit frame clamps to 1");
    if (const std::string* n = Value(state, "--downsample")) request.downsampleX = request.downsampleY = std::stoi(*n);

    // The effect's result is one texture: a larger one fails deep in the render with a GL error that tells
    // the user nothing, so the frame is refused as soon as the pre-render has said how large it will be.
    const int largest = velloran_tool::LargestFrameSide();
    bool tooLarge = false;
    request.render = [&](const PF_PreRenderOutput& pre) {
        const long long width = (long long)pre.result_rect.right - pre.result_rect.left,
                        height = (long long)pre.result_rect.bottom - pre.result_rect.top;
        tooLarge = largest > 0 && (width > largest || height > largest);
        if (!tooLarge) velloran_tool::EnterStage("render");
        return !tooLarge;
    };
    velloran_tool::EnterStage("pre-render");
    simhost::FrameResult frame = simhost::RunSmartFrame(host, request);
    velloran_tool::EnterStage("writing");
    // A warning drawn into the frame is also said where a user running the tool reads.
    for (const std::string& line : velloran_tool::TakeDrawnText())
        velloran_tool::Say("warning: the frame shows: " + line);
    if (tooLarge) {
        const PF_LRect& r = frame.preRenderOutput.result_rect;
        throw std::runtime_error("the frame's output of " + std::to_string((long long)r.right - r.left) + "x" +
                                 std::to_string((long long)r.bottom - r.top) +
                                 " pixels is larger than the renderer accepts (at most " + std::to_string(largest) +
                                 " pixels a side)");
    }
    const simhost::CommandResult& last = frame.rendered ? frame.render : frame.preRender;
    if ((last.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) && !last.return_msg.empty())
        velloran_tool::Say("the effect says: " + last.return_msg);
    if (!frame.Clean()) {
        std::string problems = frame.Problems();
        if (!problems.empty() && problems.back() == '\n') problems.pop_back();
        velloran_tool::Say(problems);
    }
    if (last.err != PF_Err_NONE) return last.err;
    if (!frame.outputCheckedOut) {
        // An effect that renders nothing leaves the host's frame as it was, as before any renderer was set.
        velloran_tool::Say("the effect did not check out its output; the input passes through");
        output = input.Clone();
        return PF_Err_NONE;
    }
    const PF_PreRenderOutput& pre = frame.preRenderOutput;
    velloran_tool::Say("output rectangle (" + std::to_string(pre.result_rect.left) + ", " +
                       std::to_string(pre.result_rect.top) + ", " + std::to_string(pre.result_rect.right) + ", " +
                       std::to_string(pre.result_rect.bottom) + ") at " + std::to_string(request.bitdepth) +
                       " bits, downsample 1/" + std::to_string(request.downsampleX));
    velloran_tool::PrintRenderer();
    WarnAboutLayers(host, state, frame);
    if (frame.output.width() <= 0 || frame.output.height() <= 0)
        throw std::runtime_error("the effect produced nothing to show for this input" + WhyEmpty(comp));
    output = std::move(frame.output);
    return PF_Err_NONE;
}

const bool kRendererSet = velloran_tool::SetFrameRenderer(RenderSmartFrame);

}  // namespace
