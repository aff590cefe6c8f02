#include "simhost/SmartRender.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "simhost/CallFailures.h"
#include "simhost/Parallel.h"
#include "simhost/PixelAccess.h"
#include "simhost/WorldSuites.h"

namespace simhost {

namespace {

// Division rounding toward minus and plus infinity, in 64 bits so that a layer near the ends of the int range
// cannot overflow on the way.
long long FloorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
long long CeilDiv(long long a, long long b) { return -FloorDiv(-a, b); }

PixelDepth DepthOfBits(A_short bits) {
    return bits == 32 ? PixelDepth::k32f : bits == 16 ? PixelDepth::k16 : PixelDepth::k8;
}

struct CheckedOut {
    PF_ParamIndex index = 0;
    LayerId layer = 0;
    PF_LRect rect{};
};

// The state of one frame, reached by the callbacks of the thread that runs it.
struct FrameContext {
    SimHost& host;
    Composition& comp;
    HostWorlds& worlds;
    int frame = 0;
    FrameRequest request;
    FrameResult& result;

    std::mutex mutex;
    std::map<A_long, CheckedOut> checkouts;                 // by checkout id, the latest
    std::map<A_long, std::unique_ptr<SimWorld>> pixels;     // checked out now
    std::unique_ptr<SimWorld> output;
    PF_LRect outputRect{};

    FrameContext(SimHost& h, const FrameRequest& r, FrameResult& out)
        : host(h), comp(Comp(h)), worlds(Worlds(h)), request(r), result(out) {}
};

thread_local FrameContext* currentContext = nullptr;

FrameContext* ContextFor(PF_ProgPtr effect_ref) {
    FrameContext* ctx = currentContext;
    return ctx && SimHost::FromRef(effect_ref) == &ctx->host ? ctx : nullptr;
}

void Refused(FrameContext& ctx) { ++ctx.result.badCallbackCalls; }

// The layer's pixels over `rect` (frame coordinates) at the frame's depth and downsample factors.
SimWorld ExtractLayer(const FrameContext& ctx, const CompLayer& layer, const CompLayer* input, const PF_LRect& rect) {
    const A_long nx = ctx.request.downsampleX, ny = ctx.request.downsampleY;
    const A_long w = std::max<A_long>(0, rect.right - rect.left), h = std::max<A_long>(0, rect.bottom - rect.top);
    SimWorld world = ctx.worlds.MakeWorld(w, h, DepthOfBits(ctx.request.bitdepth), true);
    // Full-resolution offset of the layer's pixel (0, 0) from the input layer's origin, in 64 bits: a layer may
    // lie anywhere in the int range.
    const int64_t offX = int64_t(layer.x) - (input ? int64_t(input->x) + input->Bounds().left : layer.x);
    const int64_t offY = int64_t(layer.y) - (input ? int64_t(input->y) + input->Bounds().top : layer.y);
    const PF_EffectWorld& src = *layer.pixels.world();
    PF_EffectWorld& dst = *world.world();
    const double cell = double(nx) * double(ny);
    // The rows are independent: spread over the host's worker threads, as a host spreads its own pixel work.
    ParallelRows(h, ctx.host.WorkerThreads(), [&](A_long j) {
        if (nx == 1 && ny == 1) {
            // Pixel for pixel: the part of the row that lies on the layer is one run of its pixels; the rest
            // stays as the cleared world has it.
            const int64_t fy = int64_t(rect.top) + j - offY;
            if (fy < 0 || fy >= src.height) return PF_Err_NONE;
            const int64_t fx0 = int64_t(rect.left) - offX;
            const int64_t first = std::max<int64_t>(0, -fx0), last = std::min<int64_t>(w, src.width - fx0);
            if (first < last)
                CopyRow(src, A_long(fx0 + first), A_long(fy), dst, A_long(first), j, A_long(last - first));
            return PF_Err_NONE;
        }
        for (A_long i = 0; i < w; ++i) {
            const int64_t fx = (int64_t(rect.left) + i) * nx - offX, fy = (int64_t(rect.top) + j) * ny - offY;
            Rgba sum;  // premultiplied
            for (int64_t v = fy; v < fy + ny; ++v) {
                if (v < 0 || v >= src.height) continue;
                for (int64_t u = fx; u < fx + nx; ++u) {
                    if (u < 0 || u >= src.width) continue;
                    const Rgba p = ReadPixel(src, A_long(u), A_long(v));
                    sum.alpha += p.alpha;
                    sum.red += p.red * p.alpha;
                    sum.green += p.green * p.alpha;
                    sum.blue += p.blue * p.alpha;
                }
            }
            Rgba out;
            if (sum.alpha > 0) {
                out = {sum.alpha / cell, sum.red / sum.alpha, sum.green / sum.alpha, sum.blue / sum.alpha};
            }
            WritePixel(dst, i, j, out);
        }
        return PF_Err_NONE;
    });
    dst.origin_x = rect.left;
    dst.origin_y = rect.top;
    return world;
}

void NoteOverrun(FrameContext& ctx, const SimWorld& world, const std::string& what) {
    if (!world.PaddingIntact()) ctx.result.overruns.push_back(what);
}

// ---- pre-render callbacks -----------------------------------------------------------------------------------

PF_Err CheckoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id, const PF_RenderRequest* req,
                     A_long what_time, A_long time_step, A_u_long time_scale, PF_CheckoutResult* checkout_result) {
    FrameContext* ctx = ContextFor(effect_ref);
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!req || !checkout_result) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    LayerCheckout record;
    record.checkoutId = checkout_id;
    record.index = index;
    record.request = *req;
    record.whatTime = what_time;
    record.timeStep = time_step;
    record.timeScale = time_scale;
    record.err = PlannedFailure(ctx->host, "checkout_layer");
    if (record.err) {
        ctx->result.checkouts.push_back(record);
        return record.err;
    }
    PF_CheckoutResult answer{};
    answer.par = {1, 1};
    record.layer = ctx->comp.LayerForParam(index);
    if (const CompLayer* layer = ctx->comp.Find(record.layer)) {
        const CompLayer* input = ctx->comp.Find(ctx->comp.InputLayer());
        answer.max_result_rect = LayerRectInFrame(*layer, input, ctx->request.downsampleX, ctx->request.downsampleY);
        answer.result_rect = IntersectRects(req->rect, answer.max_result_rect);
        answer.ref_width = layer->pixels.width();
        answer.ref_height = layer->pixels.height();
    }
    *checkout_result = answer;
    record.result = answer;
    ctx->result.checkouts.push_back(record);
    ctx->checkouts[checkout_id] = CheckedOut{index, record.layer, answer.result_rect};
    return PF_Err_NONE;
}

PF_Err GuidMixIn(PF_ProgPtr effect_ref, A_u_long size, const void* buf) {
    FrameContext* ctx = ContextFor(effect_ref);
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (size > 0 && !buf) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (PF_Err err = PlannedFailure(ctx->host, "GuidMixInPtr")) return err;
    const auto* bytes = static_cast<const uint8_t*>(buf);
    ctx->result.guidMixIns.emplace_back(bytes, bytes + size);
    return PF_Err_NONE;
}

// ---- render callbacks ----------------------------------------------------------------------------------------

PF_Err CheckoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    FrameContext* ctx = ContextFor(effect_ref);
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!pixels) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *pixels = nullptr;
    if (PF_Err err = PlannedFailure(ctx->host, "checkout_layer_pixels", PF_Err_OUT_OF_MEMORY)) return err;
    auto it = ctx->checkouts.find(checkout_id);
    if (it == ctx->checkouts.end()) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    auto held = ctx->pixels.find(checkout_id);
    if (held == ctx->pixels.end()) {
        const CompLayer* layer = ctx->comp.Find(it->second.layer);
        if (!layer) return PF_Err_NONE;  // the parameter chose no layer
        const CompLayer* input = ctx->comp.Find(ctx->comp.InputLayer());
        auto world = std::make_unique<SimWorld>(ExtractLayer(*ctx, *layer, input, it->second.rect));
        held = ctx->pixels.emplace(checkout_id, std::move(world)).first;
    }
    *pixels = held->second->world();
    ctx->result.pixelCheckouts.push_back(checkout_id);
    return PF_Err_NONE;
}

PF_Err CheckinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    FrameContext* ctx = ContextFor(effect_ref);
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (PF_Err err = PlannedFailure(ctx->host, "checkin_layer_pixels")) return err;
    if (!ctx->checkouts.count(checkout_id)) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // A layer without pixels (none chosen) checks in as a no-op; so does one whose pixels were never asked for.
    auto held = ctx->pixels.find(checkout_id);
    if (held != ctx->pixels.end()) {
        NoteOverrun(*ctx, *held->second, "layer pixels of checkout " + std::to_string(checkout_id));
        ctx->pixels.erase(held);
    }
    ctx->result.effectCheckins.push_back(checkout_id);
    return PF_Err_NONE;
}

PF_Err CheckoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    FrameContext* ctx = ContextFor(effect_ref);
    if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!output) {
        Refused(*ctx);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *output = nullptr;
    if (PF_Err err = PlannedFailure(ctx->host, "checkout_output", PF_Err_OUT_OF_MEMORY)) return err;
    if (!ctx->output) {
        const PF_LRect r = ctx->outputRect;
        const A_long w = std::max<A_long>(0, r.right - r.left), h = std::max<A_long>(0, r.bottom - r.top);
        ctx->output = std::make_unique<SimWorld>(ctx->worlds.MakeWorld(w, h, DepthOfBits(ctx->request.bitdepth), false));
        ctx->output->world()->origin_x = r.left;
        ctx->output->world()->origin_y = r.top;
    }
    *output = ctx->output->world();
    return PF_Err_NONE;
}

// Makes the frame the one this thread's callbacks answer for, for the length of a scope.
class ScopedFrame {
public:
    explicit ScopedFrame(FrameContext& ctx) : previous_(currentContext), previousFrame_(CurrentFrameOnThisThread()) {
        currentContext = &ctx;
        SetCurrentFrameOnThisThread(ctx.frame);
    }
    ~ScopedFrame() {
        currentContext = previous_;
        SetCurrentFrameOnThisThread(previousFrame_);
    }
    ScopedFrame(const ScopedFrame&) = delete;
    ScopedFrame& operator=(const ScopedFrame&) = delete;

private:
    FrameContext* previous_;
    int previousFrame_;
};

std::atomic<int> nextFrame{1};

// One command, to the bundle through the host or to the test's stand-in with the in data the host would give.
CommandResult SendCommand(SimHost& host, const FrameRequest& request, PF_Cmd cmd, const CommandArgs& args) {
    if (!request.effect) return host.Send(cmd, args);
    PF_InData in = host.InDataTemplate();
    PF_OutData out{};
    in.global_data = out.global_data = host.GlobalData();
    if (args.prepare) args.prepare(in, out);
    CommandResult result;
    result.err = request.effect(cmd, in, out, args.extra);
    out.return_msg[PF_MAX_RETURN_MSG_LEN - 1] = '\0';
    result.return_msg = out.return_msg;
    result.out_flags = out.out_flags;
    result.out_flags2 = out.out_flags2;
    result.out = out;
    return result;
}

}  // namespace

PF_LRect LayerRectInFrame(const CompLayer& layer, const CompLayer* input, A_long downsampleX, A_long downsampleY) {
    // In 64 bits: a layer placed near the ends of the int range reaches past them with its size.
    const long long offX = (long long)layer.x - (input ? (long long)input->x + input->Bounds().left : layer.x);
    const long long offY = (long long)layer.y - (input ? (long long)input->y + input->Bounds().top : layer.y);
    const auto within = [](long long v) {
        return A_long(std::clamp<long long>(v, std::numeric_limits<A_long>::min(), std::numeric_limits<A_long>::max()));
    };
    return PF_LRect{within(FloorDiv(offX, downsampleX)), within(FloorDiv(offY, downsampleY)),
                    within(CeilDiv(offX + layer.pixels.width(), downsampleX)),
                    within(CeilDiv(offY + layer.pixels.height(), downsampleY))};
}

const LayerCheckout* FrameResult::Checkout(A_long checkoutId) const {
    for (auto it = checkouts.rbegin(); it != checkouts.rend(); ++it)
        if (it->checkoutId == checkoutId) return &*it;
    return nullptr;
}

bool FrameResult::Clean() const {
    return undisposedWorlds.empty() && overruns.empty() && badDisposals == 0 && badCallbackCalls == 0;
}

std::string FrameResult::Problems() const {
    std::string out;
    for (const auto& w : undisposedWorlds) out += "not disposed: " + w + "\n";
    for (const auto& w : overruns) out += "written outside its pixels: " + w + "\n";
    if (badDisposals) out += std::to_string(badDisposals) + " disposal(s) of worlds the host did not lend\n";
    if (badCallbackCalls) out += std::to_string(badCallbackCalls) + " smart render callback(s) refused\n";
    return out;
}

FrameResult RunSmartFrame(SimHost& host, const FrameRequest& request) {
    FrameResult result;
    if (request.downsampleX < 1 || request.downsampleY < 1)
        throw std::invalid_argument("RunSmartFrame: downsample factors must be 1 or more");
    FrameContext ctx(host, request, result);
    ctx.frame = nextFrame.fetch_add(1);
    const WorldCounts before = ctx.worlds.Counts();

    const CompLayer* input = ctx.comp.Find(ctx.comp.InputLayer());
    // The layer's own size, which its content may exceed (a collapsed or adjustment layer).
    const PF_LRect own = input ? input->Bounds() : PF_LRect{0, 0, 0, 0};
    const A_long width = own.right - own.left, height = own.bottom - own.top;
    const PF_LRect inputRect{0, 0, A_long(CeilDiv(width, request.downsampleX)),
                             A_long(CeilDiv(height, request.downsampleY))};
    PF_RenderRequest& req = result.request;
    req.rect = request.outputRect ? *request.outputRect : inputRect;
    req.field = request.field;
    req.channel_mask = request.channelMask;

    auto prepare = [&](PF_InData& in, PF_OutData&) {
        in.width = width;
        in.height = height;
        in.extent_hint = inputRect;
        in.downsample_x = {1, A_u_long(request.downsampleX)};
        in.downsample_y = {1, A_u_long(request.downsampleY)};
        in.current_time = request.time;
        in.time_step = request.timeStep;
        in.local_time_step = request.timeStep;
        in.time_scale = request.timeScale;
        in.field = request.field;
    };

    ScopedFrame scope(ctx);

    PF_PreRenderInput preInput{};
    preInput.output_request = req;
    preInput.bitdepth = request.bitdepth;
    PF_PreRenderOutput& preOutput = result.preRenderOutput;
    PF_PreRenderCallbacks preCallbacks{CheckoutLayer, GuidMixIn};
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &preCallbacks};
    CommandArgs preArgs;
    preArgs.extra = &preExtra;
    preArgs.prepare = prepare;
    result.preRender = SendCommand(host, request, PF_Cmd_SMART_PRE_RENDER, preArgs);

    if (result.preRender.err == PF_Err_NONE && (!request.render || request.render(preOutput))) {
        ctx.outputRect = preOutput.result_rect;
        PF_SmartRenderInput renderInput{};
        renderInput.output_request = req;
        renderInput.bitdepth = request.bitdepth;
        renderInput.pre_render_data = preOutput.pre_render_data;
        PF_SmartRenderCallbacks renderCallbacks{CheckoutLayerPixels, CheckinLayerPixels, CheckoutOutput};
        PF_SmartRenderExtra renderExtra{&renderInput, &renderCallbacks};
        CommandArgs renderArgs;
        renderArgs.extra = &renderExtra;
        renderArgs.prepare = prepare;
        result.rendered = true;
        result.render = SendCommand(host, request, PF_Cmd_SMART_RENDER, renderArgs);
    }

    // The host checks in what the effect left checked out, and takes back the output.
    {
        std::lock_guard<std::mutex> lock(ctx.mutex);
        for (auto& held : ctx.pixels) {
            result.hostCheckins.push_back(held.first);
            NoteOverrun(ctx, *held.second, "layer pixels of checkout " + std::to_string(held.first));
        }
        ctx.pixels.clear();
        if (ctx.output) {
            NoteOverrun(ctx, *ctx.output, "output");
            result.outputCheckedOut = true;
            result.outputOriginX = ctx.output->world()->origin_x;
            result.outputOriginY = ctx.output->world()->origin_y;
            result.output = std::move(*ctx.output);
            ctx.output.reset();
        }
    }
    if (preOutput.delete_pre_render_data_func && preOutput.pre_render_data)
        preOutput.delete_pre_render_data_func(preOutput.pre_render_data);

    result.undisposedWorlds = ctx.worlds.Undisposed(ctx.frame);
    ctx.worlds.ReleaseFrame(ctx.frame);
    for (auto& o : ctx.worlds.Overrun(ctx.frame)) result.overruns.push_back(std::move(o));
    const WorldCounts after = ctx.worlds.Counts();
    result.worldsMade = after.made - before.made;
    result.worldsDisposed = after.disposed - before.disposed;
    result.badDisposals = after.badDisposals - before.badDisposals;
    return result;
}

}  // namespace simhost
