// The command entry over a table of recording handlers: which handler each command reaches with what, how a
// result becomes a report line in the log, and that nothing thrown escapes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include "host/EffectMain.h"
#include "support/TempHome.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

enum class Which { None, About, GlobalSetup, GlobalSetdown, ParamsSetup, UserChanged, UpdateUI, Event, PreRender,
                   SmartRender };

// What the last handler saw, and what the next one is to do.
struct Recorder {
    Which called = Which::None;
    int calls = 0;
    PF_InData* in = nullptr;
    PF_OutData* out = nullptr;
    PF_ParamDef** params = nullptr;
    PF_LayerDef* output = nullptr;
    const void* extra = nullptr;
    std::function<PF_Err()> behaviour = [] { return PF_Err_NONE; };
} rec;

PF_Err Note(Which w, PF_InData* in, PF_OutData* out, PF_ParamDef** p, PF_LayerDef* o, const void* extra) {
    rec.called = w;
    ++rec.calls;
    rec.in = in;
    rec.out = out;
    rec.params = p;
    rec.output = o;
    rec.extra = extra;
    return rec.behaviour();
}

const CommandHandlers kRecording = {
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w) { return Note(Which::About, i, o, p, w, nullptr); },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w) { return Note(Which::GlobalSetup, i, o, p, w, nullptr); },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w) { return Note(Which::GlobalSetdown, i, o, p, w, nullptr); },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w) { return Note(Which::ParamsSetup, i, o, p, w, nullptr); },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w, const PF_UserChangedParamExtra* e) {
        return Note(Which::UserChanged, i, o, p, w, e);
    },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w) { return Note(Which::UpdateUI, i, o, p, w, nullptr); },
    [](PF_InData* i, PF_OutData* o, PF_ParamDef* p[], PF_LayerDef* w, PF_EventExtra* e) {
        return Note(Which::Event, i, o, p, w, e);
    },
    [](PF_InData* i, PF_OutData* o, PF_PreRenderExtra* e) { return Note(Which::PreRender, i, o, nullptr, nullptr, e); },
    [](PF_InData* i, PF_OutData* o, PF_SmartRenderExtra* e) { return Note(Which::SmartRender, i, o, nullptr, nullptr, e); },
};

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override { rec = Recorder{}; }
    PF_Err Run(PF_Cmd cmd) { return RunCommand(kRecording, cmd, &in_, &out_, params_, &output_, &extra_); }

    testsupport::ScopedHome home_;
    PF_InData in_{};
    PF_OutData out_{};
    PF_ParamDef* params_[1] = {nullptr};
    PF_LayerDef output_{};
    int extra_ = 0;
};

struct Route {
    PF_Cmd cmd;
    Which handler;
    bool getsParamsAndOutput;
    bool getsExtra;
};

TEST_F(EntryTest, EveryCommandOfTheTableReachesItsHandlerWithItsArguments) {
    const Route routes[] = {
        {PF_Cmd_ABOUT, Which::About, true, false},
        {PF_Cmd_GLOBAL_SETUP, Which::GlobalSetup, true, false},
        {PF_Cmd_GLOBAL_SETDOWN, Which::GlobalSetdown, true, false},
        {PF_Cmd_PARAMS_SETUP, Which::ParamsSetup, true, false},
        {PF_Cmd_USER_CHANGED_PARAM, Which::UserChanged, true, true},
        {PF_Cmd_UPDATE_PARAMS_UI, Which::UpdateUI, true, false},
        {PF_Cmd_EVENT, Which::Event, true, true},
        {PF_Cmd_SMART_PRE_RENDER, Which::PreRender, false, true},
        {PF_Cmd_SMART_RENDER, Which::SmartRender, false, true},
    };
    for (const Route& r : routes) {
        SCOPED_TRACE("command " + std::to_string(r.cmd));
        rec = Recorder{};
        EXPECT_EQ(Run(r.cmd), PF_Err_NONE);
        EXPECT_EQ(rec.called, r.handler);
        EXPECT_EQ(rec.calls, 1);
        EXPECT_EQ(rec.in, &in_);
        EXPECT_EQ(rec.out, &out_);
        EXPECT_EQ(rec.params, r.getsParamsAndOutput ? params_ : nullptr);
        EXPECT_EQ(rec.output, r.getsParamsAndOutput ? &output_ : nullptr);
        EXPECT_EQ(rec.extra, r.getsExtra ? static_cast<const void*>(&extra_) : nullptr);
    }
    EXPECT_EQ(home_.ReadLog(), "");
}

TEST_F(EntryTest, CommandsWithoutAHandlerDoNothingAndLogNothing) {
    rec.behaviour = [] { return PF_Err(PF_Err_INTERNAL_STRUCT_DAMAGED); };
    std::vector<PF_Cmd> others = {2, 25, 26, 1000, -1, -24, INT_MIN, INT_MAX};
    for (PF_Cmd c = 5; c <= 12; ++c) others.push_back(c);
    for (PF_Cmd c = 16; c <= 22; ++c) others.push_back(c);
    for (PF_Cmd cmd : others) {
        SCOPED_TRACE("command " + std::to_string(cmd));
        EXPECT_EQ(Run(cmd), PF_Err_NONE);
        EXPECT_EQ(rec.calls, 0);
        EXPECT_EQ(CommandName(cmd), nullptr);
    }
    EXPECT_FALSE(std::filesystem::exists(home_.LogFile())) << home_.ReadLog();
}

struct ReportCase {
    PF_Err err;
    const char* errorText;  // null: nothing is logged
};

TEST_F(EntryTest, AFailureIsLoggedAsCommandNameAndErrorNameWhetherReturnedOrThrown) {
    const ReportCase cases[] = {
        {PF_Err_INTERNAL_STRUCT_DAMAGED, "PF_Err_INTERNAL_STRUCT_DAMAGED"},
        {PF_Err_INVALID_INDEX, "PF_Err_INVALID_INDEX"},
        {PF_Err_UNRECOGNIZED_PARAM_TYPE, "PF_Err_UNRECOGNIZED_PARAM_TYPE"},
        {PF_Err_INVALID_CALLBACK, "PF_Err_INVALID_CALLBACK"},
        {PF_Err_BAD_CALLBACK_PARAM, "PF_Err_BAD_CALLBACK_PARAM"},
        {PF_Err_CANNOT_PARSE_KEYFRAME_TEXT, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT"},
        {13, "unknown error code of 13"},
        {-1, "unknown error code of -1"},
        {1, "unknown error code of 1"},
        {PF_Err_NONE, nullptr},
        {PF_Err_OUT_OF_MEMORY, nullptr},
        {PF_Interrupt_CANCEL, nullptr},
    };
    for (bool thrown : {false, true}) {
        for (const ReportCase& c : cases) {
            SCOPED_TRACE(std::string(thrown ? "thrown " : "returned ") + std::to_string(c.err));
            testsupport::ScopedHome home;  // a fresh log per case
            const PF_Err err = c.err;
            rec.behaviour = thrown ? std::function<PF_Err()>([err]() -> PF_Err { throw int(err); })
                                   : std::function<PF_Err()>([err] { return err; });
            EXPECT_EQ(Run(PF_Cmd_SMART_RENDER), c.err);
            const std::string log = home.ReadLog();
            if (!c.errorText) {
                EXPECT_EQ(log, "");
                continue;
            }
            EXPECT_THAT(log, EndsWith(": PF_Cmd_SMART_RENDER reported err code: " + std::string(c.errorText) + "\n"));
            EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        }
    }
}

TEST_F(EntryTest, TheReportNamesTheCommandThatFailed) {
    const std::pair<PF_Cmd, const char*> names[] = {
        {PF_Cmd_GLOBAL_SETUP, "PF_Cmd_GLOBAL_SETUP"},         {PF_Cmd_GLOBAL_SETDOWN, "PF_Cmd_GLOBAL_SETDOWN"},
        {PF_Cmd_PARAMS_SETUP, "PF_Cmd_PARAMS_SETUP"},         {PF_Cmd_USER_CHANGED_PARAM, "PF_Cmd_USER_CHANGED_PARAM"},
        {PF_Cmd_UPDATE_PARAMS_UI, "PF_Cmd_UPDATE_PARAMS_UI"}, {PF_Cmd_EVENT, "PF_Cmd_EVENT"},
        {PF_Cmd_SMART_PRE_RENDER, "PF_Cmd_SMART_PRE_RENDER"}, {PF_Cmd_SMART_RENDER, "PF_Cmd_SMART_RENDER"},
    };
    rec.behaviour = [] { return PF_Err(PF_Err_INVALID_INDEX); };
    for (const auto& [cmd, name] : names) {
        testsupport::ScopedHome home;
        EXPECT_EQ(Run(cmd), PF_Err_INVALID_INDEX);
        EXPECT_THAT(home.ReadLog(), EndsWith(std::string(": ") + name + " reported err code: PF_Err_INVALID_INDEX\n"));
    }
}

TEST_F(EntryTest, AboutSucceedsWhenItsHandlerReturnsButNotWhenItThrows) {
    rec.behaviour = [] { return PF_Err(PF_Err_INVALID_CALLBACK); };
    EXPECT_EQ(Run(PF_Cmd_ABOUT), PF_Err_NONE);
    EXPECT_EQ(home_.ReadLog(), "");

    rec.behaviour = []() -> PF_Err { throw int(PF_Err_BAD_CALLBACK_PARAM); };
    EXPECT_EQ(Run(PF_Cmd_ABOUT), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_THAT(home_.ReadLog(), EndsWith(": PF_Cmd_ABOUT reported err code: PF_Err_BAD_CALLBACK_PARAM\n"));
}

TEST_F(EntryTest, AHandlerLeavesTheReturnMessageAndFlagsAsItSetThem) {
    rec.behaviour = [this] {
        out_.out_flags = PF_OutFlag_CUSTOM_UI;
        std::strcpy(out_.return_msg, "handler text");
        return PF_Err(PF_Err_INVALID_INDEX);
    };
    EXPECT_EQ(Run(PF_Cmd_PARAMS_SETUP), PF_Err_INVALID_INDEX);
    EXPECT_STREQ(out_.return_msg, "handler text");
    EXPECT_EQ(out_.out_flags, PF_OutFlag_CUSTOM_UI);
}

struct ExceptionCase {
    const char* what;
    std::function<void()> raise;
    PF_Err expected;
    const char* logged;  // part of the log's text
};

TEST_F(EntryTest, NothingThrownLeavesTheEntry) {
    struct NotAnException {};
    const ExceptionCase cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, PF_Err_OUT_OF_MEMORY, "PF_Cmd_SMART_RENDER stopped by an exception: std::bad_alloc"},
        {"runtime_error", [] { throw std::runtime_error("disk on fire"); }, PF_Err_INTERNAL_STRUCT_DAMAGED,
         "PF_Cmd_SMART_RENDER stopped by an exception: disk on fire"},
        {"filesystem_error",
         [] {
             throw std::filesystem::filesystem_error("create_directories", "/nowhere",
                                                     std::make_error_code(std::errc::permission_denied));
         },
         PF_Err_INTERNAL_STRUCT_DAMAGED, "create_directories"},
        {"a thrown non-exception", [] { throw NotAnException{}; }, PF_Err_INTERNAL_STRUCT_DAMAGED,
         "an exception of unknown type"},
        {"a thrown long", [] { throw 7L; }, PF_Err_INTERNAL_STRUCT_DAMAGED, "an exception of unknown type"},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScopedHome home;
        auto raise = c.raise;
        rec.behaviour = [raise]() -> PF_Err {
            raise();
            return PF_Err_NONE;
        };
        PF_Err err = PF_Err_NONE;
        EXPECT_NO_THROW(err = Run(PF_Cmd_SMART_RENDER));
        EXPECT_EQ(err, c.expected);
        const std::string log = home.ReadLog();
        EXPECT_THAT(log, HasSubstr(c.logged));
        // Memory is not a failure worth a report line; everything else reports as the internal error.
        EXPECT_EQ(log.find("reported err code: PF_Err_INTERNAL_STRUCT_DAMAGED") != std::string::npos,
                  c.expected == PF_Err_INTERNAL_STRUCT_DAMAGED)
            << log;
    }
}

TEST_F(EntryTest, ALogThatCannotBeWrittenChangesNothingInTheResult) {
    auto noHome = testsupport::ScopedHome::Unset();
    rec.behaviour = [] { return PF_Err(PF_Err_INVALID_CALLBACK); };
    EXPECT_EQ(Run(PF_Cmd_SMART_RENDER), PF_Err_INVALID_CALLBACK);
    rec.behaviour = []() -> PF_Err { throw std::runtime_error("x"); };
    EXPECT_EQ(Run(PF_Cmd_SMART_RENDER), PF_Err_INTERNAL_STRUCT_DAMAGED);
}

TEST(AboutText, IsTitleEmptyLineAndDescription) {
    EXPECT_EQ(AboutText(), "Velloran 2 v1.0.2\n\nSimulates a physically accurate glow.\n");
}

}  // namespace
