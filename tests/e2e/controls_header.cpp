// The header picture in the effect-controls window, drawn through the host's drawing suites into a real
// surface, and the custom-UI events the effect takes or leaves alone.
#include <png.h>

#include <cmath>
#include <string>
#include <vector>

#include "controls_fixture.h"
#include "support/CaseNames.h"

namespace {

using namespace controls_test;

constexpr int kWindowWidth = 260, kWindowHeight = 170;
constexpr simhost::SurfacePixel kBackground = {40, 44, 52, 255};
const PF_Rect kControl = {13, 27, 13 + 192, 27 + 100};  // where the host lays out the 192 by 100 control

// The picture as the repository keeps it, straight RGBA.
struct Picture {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> rgba;
};
Picture ReadPicture() {
    const std::string path = VELLORAN_HEADER_PICTURE;
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGBA;
    p.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.rgba.data(), 0, nullptr)) return Picture{};
    p.width = image.width;
    p.height = image.height;
    return p;
}

class HeaderTest : public ControlsTest {
protected:
    void SetUp() override {
        ControlsTest::SetUp();
        drawbot_ = &simhost::Drawbot(host());
        window_ = drawbot_->NewWindow(kWindowWidth, kWindowHeight, kBackground);
        handlesBefore_ = host().Handles().Live();
    }
    void TearDown() override {
        if (host_) {
            EXPECT_EQ(drawbot_->ImagesAlive(), 0) << "images left unreleased";
            EXPECT_EQ(drawbot_->BadReleases(), 0);
            EXPECT_EQ(host().Handles().Live(), handlesBefore_) << "host handles left undisposed";
            const DRAWBOT_MatrixF32 m = drawbot_->Transform(window_);
            EXPECT_TRUE(m.mat[0][0] == 1 && m.mat[1][1] == 1 && m.mat[2][0] == 0 && m.mat[2][1] == 0)
                << "the surface's transform was not restored";
        }
        ControlsTest::TearDown();
    }

    PF_EventExtra Event(PF_EventType type, int index, PF_EventArea area) {
        PF_EventExtra e{};
        e.contextH = window_;
        e.e_type = type;
        e.effect_win.index = index;
        e.effect_win.area = area;
        e.effect_win.current_frame = kControl;
        return e;
    }
    simhost::CommandResult Send(PF_EventExtra& e) {
        auto params = controls().MakeParamArray();
        simhost::CommandArgs args;
        args.params = params->get();
        args.extra = &e;
        return host().Send(PF_Cmd_EVENT, args);
    }
    bool WindowUntouched() {
        for (int y = 0; y < kWindowHeight; ++y)
            for (int x = 0; x < kWindowWidth; ++x) {
                const simhost::SurfacePixel p = drawbot_->Pixel(window_, x, y);
                if (p.red != kBackground.red || p.green != kBackground.green || p.blue != kBackground.blue)
                    return false;
            }
        return true;
    }

    simhost::DrawbotHost* drawbot_ = nullptr;
    PF_ContextH window_ = nullptr;
    int handlesBefore_ = 0;
};

TEST_F(HeaderTest, DrawsThePictureHalvedIntoTheControlAndTakesTheEvent) {
    const Picture picture = ReadPicture();
    ASSERT_EQ(picture.width, 384u);
    ASSERT_EQ(picture.height, 200u);

    PF_EventExtra e = Event(PF_Event_DRAW, kHeader, PF_EA_CONTROL);
    const simhost::CommandResult r = Send(e);
    ASSERT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(e.evt_out_flags & PF_EO_HANDLED_EVENT, PF_EO_HANDLED_EVENT);

    const auto draws = drawbot_->DrawCalls();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].width, 384);
    EXPECT_EQ(draws[0].height, 200);
    EXPECT_EQ(draws[0].opacity, 1.0f);

    // Every pixel of the control is the average of its 2 by 2 block of the picture over the window's colour.
    int worst = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 192; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const unsigned char* p = &picture.rgba[(size_t(2 * y + dy) * 384 + size_t(2 * x + dx)) * 4];
                    const double pa = p[3] / 255.0;
                    r += p[0] / 255.0 * pa, g += p[1] / 255.0 * pa, b += p[2] / 255.0 * pa, a += pa;
                }
            r /= 4, g /= 4, b /= 4, a /= 4;
            const double er = (r + kBackground.red / 255.0 * (1 - a)) * 255;
            const double eg = (g + kBackground.green / 255.0 * (1 - a)) * 255;
            const double eb = (b + kBackground.blue / 255.0 * (1 - a)) * 255;
            const simhost::SurfacePixel s = drawbot_->Pixel(window_, kControl.left + x, kControl.top + y);
            worst = std::max({worst, int(std::lround(std::fabs(s.red - er))), int(std::lround(std::fabs(s.green - eg))),
                              int(std::lround(std::fabs(s.blue - eb)))});
        }
    EXPECT_LE(worst, 1) << "the control does not show the picture at half size at its corner";

    // Nothing outside the control.
    for (auto [x, y] : std::vector<std::pair<int, int>>{{kControl.left - 1, kControl.top + 50},
                                                       {kControl.right, kControl.top + 50},
                                                       {kControl.left + 96, kControl.top - 1},
                                                       {kControl.left + 96, kControl.bottom},
                                                       {0, 0},
                                                       {kWindowWidth - 1, kWindowHeight - 1}}) {
        const simhost::SurfacePixel p = drawbot_->Pixel(window_, x, y);
        EXPECT_EQ(p.red, kBackground.red) << x << "," << y;
        EXPECT_EQ(p.green, kBackground.green) << x << "," << y;
    }
}

TEST_F(HeaderTest, ThePictureIsAHeaderNotABlankOrOpaqueBlock) {
    // A guard against a placeholder: the picture has light and dark, and its rounded corners let the window
    // show through.
    const Picture p = ReadPicture();
    ASSERT_FALSE(p.rgba.empty());
    int bright = 0, dark = 0;
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        const int luma = (p.rgba[i] * 3 + p.rgba[i + 1] * 6 + p.rgba[i + 2]) / 10;
        if (p.rgba[i + 3] == 255 && luma > 200) ++bright;
        if (p.rgba[i + 3] == 255 && luma < 40) ++dark;
    }
    EXPECT_GT(bright, 1000);
    EXPECT_GT(dark, 10000);
    EXPECT_EQ(p.rgba[3], 0) << "the top-left corner is outside the rounded card";
}

TEST_F(HeaderTest, OtherAreasOfTheHeaderAreTakenWithoutDrawing) {
    for (PF_EventArea area : {PF_EA_NONE, PF_EA_PARAM_TITLE}) {
        PF_EventExtra e = Event(PF_Event_DRAW, kHeader, area);
        EXPECT_EQ(Send(e).err, PF_Err_NONE);
        EXPECT_EQ(e.evt_out_flags & PF_EO_HANDLED_EVENT, PF_EO_HANDLED_EVENT);
    }
    EXPECT_EQ(drawbot_->ImagesMade(), 0);
    EXPECT_TRUE(WindowUntouched());
}

TEST_F(HeaderTest, DrawEventsOfOtherParametersAndWindowsAreTakenWithoutDrawing) {
    for (int index : {0, 1, 17, 154}) {
        PF_EventExtra e = Event(PF_Event_DRAW, index, PF_EA_CONTROL);
        EXPECT_EQ(Send(e).err, PF_Err_NONE);
        EXPECT_EQ(e.evt_out_flags & PF_EO_HANDLED_EVENT, PF_EO_HANDLED_EVENT) << index;
    }
    EXPECT_EQ(host().Counts(kDRAWBOT_DrawSuite, 1).acquires, 0);
    EXPECT_TRUE(WindowUntouched());
}

TEST_F(HeaderTest, OtherEventsAreLeftAlone) {
    for (PF_EventType type : {PF_Event_NEW_CONTEXT, PF_Event_ACTIVATE, PF_Event_DO_CLICK, PF_Event_DRAG,
                              PF_Event_DEACTIVATE, PF_Event_CLOSE_CONTEXT, PF_Event_IDLE, PF_Event_ADJUST_CURSOR,
                              PF_Event_KEYDOWN, PF_Event_MOUSE_EXITED}) {
        PF_EventExtra e = Event(type, kHeader, PF_EA_CONTROL);
        EXPECT_EQ(Send(e).err, PF_Err_NONE) << type;
        EXPECT_EQ(e.evt_out_flags, 0) << type;
    }
    EXPECT_EQ(host().Counts(kDRAWBOT_DrawSuite, 1).acquires, 0);
    EXPECT_TRUE(WindowUntouched());
}

TEST_F(HeaderTest, RepeatedDrawsReleaseEverythingTheyMake) {
    for (int i = 0; i < 6; ++i) {
        PF_EventExtra e = Event(PF_Event_DRAW, kHeader, PF_EA_CONTROL);
        ASSERT_EQ(Send(e).err, PF_Err_NONE);
        EXPECT_EQ(drawbot_->ImagesAlive(), 0);
        EXPECT_EQ(host().Handles().Live(), handlesBefore_);
    }
    EXPECT_EQ(drawbot_->ImagesMade(), 6);
    EXPECT_EQ(host().Counts(kDRAWBOT_SurfaceSuite, 1).acquires, 6);
    // The fixtures check that every suite was released and the transform restored.
}

struct DrawFault {
    const char* call;
    PF_Err err;
    int imagesMade;
};
void PrintTo(const DrawFault& f, std::ostream* os) { *os << "failing " << f.call; }

class HeaderFault : public HeaderTest, public ::testing::WithParamInterface<DrawFault> {};

TEST_P(HeaderFault, LeavesTheEventUntakenAndReleasesEverything) {
    host().Faults().FailCall(GetParam().call);
    PF_EventExtra e = Event(PF_Event_DRAW, kHeader, PF_EA_CONTROL);
    EXPECT_EQ(Send(e).err, GetParam().err);
    EXPECT_EQ(e.evt_out_flags & PF_EO_HANDLED_EVENT, 0);
    EXPECT_EQ(drawbot_->ImagesMade(), GetParam().imagesMade);
    // The fixtures check images, handles, suites and that a halved transform was doubled back.
}

INSTANTIATE_TEST_SUITE_P(Faults, HeaderFault,
                         ::testing::Values(DrawFault{"PF_GetDrawingReference", PF_Err_INTERNAL_STRUCT_DAMAGED, 0},
                                           DrawFault{"GetSupplier", PF_Err_INTERNAL_STRUCT_DAMAGED, 0},
                                           DrawFault{"GetSurface", PF_Err_INTERNAL_STRUCT_DAMAGED, 0},
                                           DrawFault{"host_new_handle", PF_Err_OUT_OF_MEMORY, 0},
                                           DrawFault{"host_lock_handle", PF_Err_OUT_OF_MEMORY, 0},
                                           DrawFault{"NewImageFromBuffer", PF_Err_INTERNAL_STRUCT_DAMAGED, 0},
                                           DrawFault{"Transform", PF_Err_INTERNAL_STRUCT_DAMAGED, 1},
                                           DrawFault{"DrawImage", PF_Err_INTERNAL_STRUCT_DAMAGED, 1},
                                           DrawFault{"ReleaseObject", PF_Err_INTERNAL_STRUCT_DAMAGED, 1}),
                         velloran_test::NameFromPrintTo<DrawFault>);

TEST_F(HeaderTest, AWindowWithoutADrawingReferenceIsNotDrawnNorTaken) {
    drawbot_->SetHasDrawingReference(false);
    PF_EventExtra e = Event(PF_Event_DRAW, kHeader, PF_EA_CONTROL);
    EXPECT_EQ(Send(e).err, PF_Err_NONE);
    EXPECT_EQ(e.evt_out_flags & PF_EO_HANDLED_EVENT, 0);
    EXPECT_TRUE(WindowUntouched());
}

TEST_F(HeaderTest, AMissingDrawingSuiteIsReportedToTheUser) {
    host().SetSuiteMissing(kDRAWBOT_SupplierSuite, 1);
    PF_EventExtra e = Event(PF_Event_DRAW, kHeader, PF_EA_CONTROL);
    const simhost::CommandResult r = Send(e);
    EXPECT_EQ(r.err, 13);
    EXPECT_EQ(r.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_TRUE(WindowUntouched());
}

}  // namespace
