// The effect draws its warnings into the frame as text; a user who reads only the terminal would never see
// them. The effect does not hand the text to the host: each line reaches the host as a world of the output's
// size that the effect composites over the output through "PF World Transform Suite" v1. The tool serves that
// suite itself, passing every call on to the host's own, and names such a world when it is, pixel for pixel,
// the next line that the frame's settings call for, drawn as and where the effect draws it. The pixels alone
// cannot always tell: a frame narrower than a line cuts it off, and "User requested to view " begins most of
// them. A world that is not that line is not reported.
#include "simhost/tool/DrawnText.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sdk/AE_EffectSuites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/PixelAccess.h"
#include "simhost/SimHost.h"
#include "simhost/WorldSuites.h"
#include "simhost/tool/Options.h"
#include "simhost/tool/Progress.h"

namespace {

const char* const kNoIris = "but no iris layer supplied.";
const char* const kNoDirt = "but no lens dirt layer supplied.";
const char* const kIrisForMatte = "Iris required to produce matte for lens dirt";

constexpr PF_ParamIndex kGlowModeParam = 17, kDirtLayerParam = 90, kAuxBufferExpansionParam = 107,
                        kViewWithIrisParam = 110, kViewParam = 111;
constexpr PF_ParamValue kLensIrisMode = 2;

// The lines a view shows when it lacks its layer: "View" has its own list in "Lens Iris" mode. "Lens Dirt
// Matted" lacks the dirt layer when none is given, else (in "Lens Iris" mode) the iris that makes its matte.
std::vector<std::string> LinesCalledFor(simhost::SimHost& host) {
    const simhost::ParamStore& params = simhost::Params(host);
    const bool lensIris = params.Value(kGlowModeParam).u.pd.value == kLensIrisMode;
    const PF_ParamDef view = params.Value(lensIris ? kViewWithIrisParam : kViewParam);
    std::string choice;
    if (const char* names = view.u.pd.u.namesptr) {
        std::string list(names);
        for (int i = 1; i < view.u.pd.value && list.find('|') != std::string::npos; ++i)
            list.erase(0, list.find('|') + 1);
        choice = list.substr(0, list.find('|'));
    }
    const std::string requested = "User requested to view ";
    const bool dirt = simhost::Comp(host).LayerForParam(kDirtLayerParam) != 0;
    const std::string first = "Velloran 2 warning:";
    if (choice == "View Iris") return {first, requested + "iris input,", kNoIris};
    if (choice == "Final Result") return {first, requested + "final result,", kNoIris};
    if (choice == "Lens Dirt Input") return {first, requested + "lens dirt,", kNoDirt};
    if (choice == "Lens Dirt Matte") return {first, requested + "lens dirt matte,", kNoIris, kIrisForMatte};
    if (choice == "Lens Dirt Matted" && dirt) return {first, requested + "lens dirt matted,", kNoIris, kIrisForMatte};
    if (choice == "Lens Dirt Matted") return {first, requested + "lens dirt matted,", kNoDirt};
    return {};
}

// Where and how large the effect draws a line's text, as it works them out from the frame's downsample factor
// and the "Aux Buffer Expansion" setting.
struct Placement {
    float downsample = 1.0f;
    int auxExpansion = 0;
    double FontSize() const { return double(downsample) * 35.0; }
    float X() const { return float(auxExpansion) + std::ceil(downsample * 50.0f); }
    float Baseline() const { return X() + downsample * 30.0f; }
};

std::mutex gMutex;  // all below
std::vector<std::string> gDrawn;
Placement gPlacement;
std::vector<std::string> gCalledFor;
size_t gLinesSeen = 0;  // line worlds seen in this frame
const PF_WorldTransformSuite1* gHostSuite = nullptr;
const simhost::SimHost* gWatched = nullptr;

// The alpha of a line's first `rows` rows as the effect's copy leaves them in its world: cairo's alpha byte,
// whatever the world's depth. The first line also darkens the whole world behind the text.
bool DrawLine(const char* text, const Placement& at, bool darkened, int width, int rows, std::vector<uint8_t>* alpha) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, rows);
    cairo_t* cr = cairo_create(surface);
    const bool made = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    if (made) {
        cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, at.FontSize());
        if (darkened) {
            cairo_set_source_rgba(cr, 0, 0, 0, 0.75);
            cairo_rectangle(cr, 0, 0, width, rows);
            cairo_fill(cr);
        }
        cairo_set_source_rgba(cr, 1.0, 1.0, 0.0, 0.75);
        cairo_move_to(cr, at.X(), at.Baseline());
        cairo_show_text(cr, text);
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        alpha->resize(size_t(width) * size_t(rows));
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < width; ++x) {
                uint32_t word;
                std::memcpy(&word, data + size_t(y) * size_t(stride) + size_t(x) * 4, sizeof word);
                (*alpha)[size_t(y) * size_t(width) + size_t(x)] = uint8_t(word >> 24);
            }
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return made;
}

uint8_t AlphaByte(const simhost::Rgba& p) {
    return uint8_t(std::lround(std::fmin(1.0, std::fmax(0.0, p.alpha)) * 255.0));
}

// Whether `world` is the line `text` as the effect draws it.
bool Shows(const PF_EffectWorld& world, const Placement& at, const std::string& text) {
    const int width = int(world.width), height = int(world.height);
    if (width < 1 || height < 1) return false;
    std::vector<simhost::Rgba> row(static_cast<size_t>(width));
    simhost::ReadRow(world, 0, 0, width, row.data());
    const uint8_t background = AlphaByte(row[0]);
    // Below the text the world holds only its background.
    const int rows = std::min(height, int(std::ceil(double(at.Baseline()) + at.FontSize())) + 1);
    for (int y = rows; y < height; ++y) {
        simhost::ReadRow(world, 0, y, width, row.data());
        for (const simhost::Rgba& p : row)
            if (AlphaByte(p) != background) return false;
    }
    std::vector<uint8_t> drawn;
    if (!DrawLine(text.c_str(), at, background != 0, width, rows, &drawn)) return false;
    for (int y = 0; y < rows; ++y) {
        simhost::ReadRow(world, 0, y, width, row.data());
        for (int x = 0; x < width; ++x)
            if (AlphaByte(row[size_t(x)]) != drawn[size_t(y) * size_t(width) + size_t(x)]) return false;
    }
    return true;
}

PF_Err WatchingTransferRect(PF_ProgPtr effect_ref, PF_Quality quality, A_long m_flags, PF_Field field,
                            const PF_Rect* src_rec, const PF_EffectWorld* src, const PF_CompositeMode* mode,
                            const PF_MaskWorld* mask, A_long dest_x, A_long dest_y, PF_EffectWorld* dst) {
    const PF_WorldTransformSuite1* host;
    Placement at;
    std::string next;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        host = gHostSuite;
        at = gPlacement;
        if (gLinesSeen < gCalledFor.size()) next = gCalledFor[gLinesSeen];
    }
    // A warning line covers the whole output, laid over it unmasked at the line's vertical offset.
    if (!next.empty() && simhost::HasPixels(src) && simhost::HasPixels(dst) && mode &&
        mode->xfer == PF_Xfer_IN_FRONT && !mask && dest_x == 0 && src->width == dst->width &&
        src->height == dst->height && Shows(*src, at, next)) {
        std::lock_guard<std::mutex> lock(gMutex);
        gDrawn.push_back(next);
        ++gLinesSeen;
    }
    return host->transfer_rect(effect_ref, quality, m_flags, field, src_rec, src, mode, mask, dest_x, dest_y, dst);
}

PF_Err PassComposite(PF_ProgPtr ref, PF_Rect* r, A_long opacity, PF_EffectWorld* src, A_long x, A_long y, PF_Field f,
                     PF_XferMode mode, PF_EffectWorld* dst) {
    return gHostSuite->composite_rect(ref, r, opacity, src, x, y, f, mode, dst);
}
PF_Err PassBlend(PF_ProgPtr ref, const PF_EffectWorld* a, const PF_EffectWorld* b, PF_Fixed ratio,
                 PF_EffectWorld* dst) {
    return gHostSuite->blend(ref, a, b, ratio, dst);
}
PF_Err PassConvolve(PF_ProgPtr ref, PF_EffectWorld* src, const PF_Rect* area, A_long flags, A_long size, void* a,
                    void* r, void* g, void* b, PF_EffectWorld* dst) {
    return gHostSuite->convolve(ref, src, area, flags, size, a, r, g, b, dst);
}
PF_Err PassCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
    return gHostSuite->copy(ref, src, dst, src_r, dst_r);
}
PF_Err PassCopyHq(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
    return gHostSuite->copy_hq(ref, src, dst, src_r, dst_r);
}
PF_Err PassTransformWorld(PF_ProgPtr ref, PF_Quality q, A_long flags, PF_Field f, const PF_EffectWorld* src,
                          const PF_CompositeMode* mode, const PF_MaskWorld* mask, const PF_FloatMatrix* m, A_long n,
                          PF_Boolean src2dst, const PF_Rect* dest_rect, PF_EffectWorld* dst) {
    return gHostSuite->transform_world(ref, q, flags, f, src, mode, mask, m, n, src2dst, dest_rect, dst);
}

const PF_WorldTransformSuite1 kWatchingSuite = {PassComposite, PassBlend,         PassConvolve,     PassCopy,
                                                PassCopyHq,    WatchingTransferRect, PassTransformWorld};

// After the parameters are set, so that the placement follows the frame's own settings.
const bool kStepAdded = velloran_tool::AddBeforeFrameStep(
    [](simhost::SimHost& host, const velloran_tool::ToolState& state) -> PF_Err {
        Placement at;
        const auto downsample = state.extra.find("--downsample");
        if (downsample != state.extra.end() && !downsample->second.empty())
            at.downsample = 1.0f / float(std::atoi(downsample->second.back().c_str()));
        const PF_ParamDef aux = simhost::Params(host).Value(kAuxBufferExpansionParam);
        at.auxExpansion = int(std::ceil(at.downsample * float(aux.u.sd.value)));

        std::vector<std::string> calledFor = LinesCalledFor(host);

        simhost::Worlds(host);  // the host's own transform suite is in place from here on
        std::lock_guard<std::mutex> lock(gMutex);
        gPlacement = at;
        gCalledFor = std::move(calledFor);
        gLinesSeen = 0;
        if (gWatched == &host) return PF_Err_NONE;
        const void* table = nullptr;
        if (host.AcquireSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &table) != kSPNoError ||
            !table) {
            velloran_tool::Say(std::string("the host has no \"") + kPFWorldTransformSuite + "\" v" +
                               std::to_string(kPFWorldTransformSuiteVersion1) + " to watch for drawn warnings");
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        host.ReleaseSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1);
        gHostSuite = static_cast<const PF_WorldTransformSuite1*>(table);
        host.AddSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &kWatchingSuite);
        gWatched = &host;
        return PF_Err_NONE;
    },
    10);

}  // namespace

namespace velloran_tool {

std::vector<std::string> TakeDrawnText() {
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<std::string> drawn;
    drawn.swap(gDrawn);
    return drawn;
}

}  // namespace velloran_tool
