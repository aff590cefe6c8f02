// Stand-in for the host's effect SDK: the records, constants and callback tables that the effect and
// the simulated host share. Written for this project from what the effect needs; numeric values that the
// host protocol fixes are given here once and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---------------------------------------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------------------------------------
typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef unsigned char A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef int32_t PF_Fixed;  // 16.16 fixed point
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_Err;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_u_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_u_long PF_OutFlags;
typedef A_u_long PF_OutFlags2;
typedef A_long PF_Cmd;
typedef void* PF_ProgPtr;
typedef void** PF_Handle;
typedef A_u_char PF_Boolean;

// Four-character codes as the host packs them: first character in the highest byte.
constexpr A_u_long PF_FourCharCode(const char (&code)[5]) {
    return (A_u_long(A_u_char(code[0])) << 24) | (A_u_long(A_u_char(code[1])) << 16) |
           (A_u_long(A_u_char(code[2])) << 8) | A_u_long(A_u_char(code[3]));
}

// ---------------------------------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------------------------------
enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
};
// The host's "missing suite" code, thrown by the single-suite scoper.
constexpr PF_Err kPF_Err_MissingSuite = 13;

// ---------------------------------------------------------------------------------------------------------
// Commands (only those the effect answers have names here; the rest of the numbering is the host's)
// ---------------------------------------------------------------------------------------------------------
enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_USER_CHANGED_PARAM = 13,
    PF_Cmd_UPDATE_PARAMS_UI = 14,
    PF_Cmd_EVENT = 15,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
    PF_Cmd_NUM_CMDS = 25,
};

// ---------------------------------------------------------------------------------------------------------
// Out flags
// ---------------------------------------------------------------------------------------------------------
enum : A_u_long {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1u << 4,
    PF_OutFlag_CUSTOM_UI = 1u << 15,
    PF_OutFlag_I_AM_OBSOLETE = 1u << 21,
    PF_OutFlag_DEEP_COLOR_AWARE = 1u << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1u << 26,
};
enum : A_u_long {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1u << 3,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1u << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1u << 12,
    PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 1u << 21,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1u << 27,
};

// Packed version word: major << 19 | minor << 15 | bug << 11 | stage << 9 | build.
enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };
constexpr A_u_long PF_VERSION(A_u_long major, A_u_long minor, A_u_long bug, A_u_long stage, A_u_long build) {
    return (major << 19) | (minor << 15) | (bug << 11) | (stage << 9) | build;
}

// ---------------------------------------------------------------------------------------------------------
// Geometry and pixels
// ---------------------------------------------------------------------------------------------------------
typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;

typedef struct {
    A_long h, v;
} PF_Point;

typedef struct {
    A_FpLong x, y;
} A_FloatPoint;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

typedef struct {
    A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef struct {
    A_FpLong mat[3][3];
} PF_FloatMatrix;

// ---------------------------------------------------------------------------------------------------------
// Worlds
// ---------------------------------------------------------------------------------------------------------
enum : A_long {
    PF_WorldFlag_DEEP = 1 << 0,       // 16 bits per channel
    PF_WorldFlag_WRITEABLE = 1 << 1,
    PF_WorldFlag_FLOAT = 1 << 2,      // stand-in: 32-bit float per channel
};

typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    A_long world_flags;
    void* data;         // first pixel of the first row
    A_long rowbytes;    // bytes from one row to the next
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;    // position of the world's pixel (0, 0) in layer coordinates
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

enum : A_long { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };

typedef A_u_long PF_PixelFormat;
constexpr PF_PixelFormat PF_PixelFormat_ARGB32 = PF_FourCharCode("argb");
constexpr PF_PixelFormat PF_PixelFormat_ARGB64 = PF_FourCharCode("ar16");
constexpr PF_PixelFormat PF_PixelFormat_ARGB128 = PF_FourCharCode("ar32");
constexpr PF_PixelFormat PF_PixelFormat_INVALID = PF_FourCharCode("badf");

// Masks and transfer modes of the world transform suite.
enum : A_long {
    PF_MaskFlag_NONE = 0,
    PF_MaskFlag_INVERTED = 1 << 0,
    PF_MaskFlag_LUMINANCE = 1 << 1,
};
typedef struct {
    PF_EffectWorld mask;
    PF_Point offset;
    A_long what_is_mask;
} PF_MaskWorld;

typedef A_long PF_TransferMode;
enum : A_long {
    PF_Xfer_NONE = -1,
    PF_Xfer_COPY = 0,
    PF_Xfer_BEHIND = 1,
    PF_Xfer_IN_FRONT = 2,
    PF_Xfer_DISSOLVE = 3,
    PF_Xfer_ADD = 4,
    PF_Xfer_MULTIPLY = 5,
    PF_Xfer_SCREEN = 6,
};
typedef A_long PF_XferMode;

typedef struct {
    PF_TransferMode xfer;
    A_long rand_seed;
    A_u_char opacity;   // 0 .. 255
    PF_Boolean rgb_only;
    A_u_short opacitySu;
} PF_CompositeMode;

typedef A_long PF_Field;
enum : A_long { PF_Field_FRAME = 0, PF_Field_UPPER = 1, PF_Field_LOWER = 2 };
typedef A_long PF_Quality;
enum : A_long { PF_Quality_LO = 0, PF_Quality_HI = 1 };

// ---------------------------------------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------------------------------------
typedef A_long PF_ParamType;
enum : A_long {
    PF_Param_RESERVED = -1,
    PF_Param_LAYER = 0,
    PF_Param_SLIDER = 1,
    PF_Param_FIX_SLIDER = 2,
    PF_Param_ANGLE = 3,
    PF_Param_CHECKBOX = 4,
    PF_Param_COLOR = 5,
    PF_Param_POINT = 6,
    PF_Param_POPUP = 7,
    PF_Param_CUSTOM = 8,
    PF_Param_NO_DATA = 9,
    PF_Param_FLOAT_SLIDER = 10,
    PF_Param_ARBITRARY_DATA = 11,
    PF_Param_PATH = 12,
    PF_Param_GROUP_START = 13,
    PF_Param_GROUP_END = 14,
    PF_Param_BUTTON = 15,
};

enum : A_u_long {
    PF_ParamFlag_NONE = 0,
    PF_ParamFlag_CANNOT_TIME_VARY = 1u << 1,
    PF_ParamFlag_CANNOT_INTERP = 1u << 2,
    PF_ParamFlag_COLLAPSE_TWIRLY = 1u << 5,
    PF_ParamFlag_SUPERVISE = 1u << 6,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1u << 9,
};

enum : A_long {
    PF_PUI_NONE = 0,
    PF_PUI_TOPIC = 1 << 0,
    PF_PUI_CONTROL = 1 << 1,
    PF_PUI_STD_CONTROL_ONLY = 1 << 2,
    PF_PUI_NO_ECW_UI = 1 << 3,
    PF_PUI_ECW_SEPARATOR = 1 << 4,
    PF_PUI_DISABLED = 1 << 5,
    PF_PUI_DONT_ERASE_TOPIC = 1 << 6,
    PF_PUI_DONT_ERASE_CONTROL = 1 << 7,
    PF_PUI_RADIO_BUTTON = 1 << 8,
    PF_PUI_INVISIBLE = 1 << 9,
};

enum : A_long { PF_ValueDisplayFlag_NONE = 0, PF_ValueDisplayFlag_PERCENT = 1 << 0, PF_ValueDisplayFlag_PIXEL = 1 << 1 };
enum : A_long { PF_ChangeFlag_NONE = 0, PF_ChangeFlag_CHANGED_VALUE = 1 << 0 };

enum { PF_MAX_EFFECT_NAME_LEN = 31, PF_MAX_EFFECT_PARAM_NAME_LEN = 31, PF_MAX_PARAM_DESCRIPTION_LEN = 31 };

typedef struct {
    PF_ParamValue value;
    const A_char* value_str;    // unused by the effect
    const A_char* value_desc;
    PF_ParamValue valid_min, valid_max;
    PF_ParamValue slider_min, slider_max;
    PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    const A_char* value_desc;
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    A_short display_flags;
    A_long fs_flags;
    PF_FpShort curve_tolerance;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved, reserved1, reserved2;
    union {
        const A_char* nameptr;
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_Pixel value;
    PF_Pixel dephault;
} PF_ColorDef;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr;
    } u;
} PF_PopupDef;

typedef struct {
    PF_ParamValue value;
    union {
        const A_char* namesptr;
    } u;
} PF_ButtonDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FloatSliderDef fs_d;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PopupDef pd;
    PF_ButtonDef button_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;              // the layer's id in a checked-out layer parameter
        A_long change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[32];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef** PF_ParamList;

// ---------------------------------------------------------------------------------------------------------
// Callbacks handed to the effect in the in data
// ---------------------------------------------------------------------------------------------------------
typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
typedef PF_Err (*PF_IteratePixelFloatFunc)(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

typedef struct {
    A_long (*sprintf)(A_char* buffer, const A_char* format, ...);
    A_long (*strcpy)(A_char* dst, const A_char* src);
} PF_ANSICallbacks;

typedef struct {
    PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* src_r,
                   const PF_Rect* dst_r);
    PF_Handle (*host_new_handle)(A_u_long size);
    void* (*host_lock_handle)(PF_Handle h);
    void (*host_unlock_handle)(PF_Handle h);
    void (*host_dispose_handle)(PF_Handle h);
    PF_ANSICallbacks ansi;
} PF_UtilCallbacks;

struct PF_InData;
struct PF_OutData;

typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, void* custom_ui_info);
} PF_InteractCallbacks;

struct SPBasicSuite;

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    A_u_long version_major;     // the host's effect API version
    A_u_long version_minor;
    A_u_long serial_num;
    A_u_long appl_id;           // four-character code of the host application
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    A_long in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    A_long reserved_pad;
    struct SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

enum { PF_MAX_RETURN_MSG_LEN = 256 };

typedef struct PF_OutData {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_RETURN_MSG_LEN];
    A_long start_sampL;
    A_long dur_sampL;
    A_long dest_snd_reserved;
    PF_OutFlags2 out_flags2;
} PF_OutData;

// ---------------------------------------------------------------------------------------------------------
// Smart pre-render and render
// ---------------------------------------------------------------------------------------------------------
typedef A_long PF_ChannelMask;
enum : A_long { PF_ChannelMask_ALPHA = 1, PF_ChannelMask_RED = 2, PF_ChannelMask_GREEN = 4, PF_ChannelMask_BLUE = 8,
                PF_ChannelMask_ARGB = 15 };

typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    A_char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;       // the layer's pixels the host will give for the request
    PF_LRect max_result_rect;   // all the layer could give
    PF_RationalScale par;
    A_long solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef A_short PF_RenderOutputFlags;
enum : A_short { PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1, PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 0x2 };

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;
    const void* gpu_data;
    A_long what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                             PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    A_long what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---------------------------------------------------------------------------------------------------------
// Parameter changes and events
// ---------------------------------------------------------------------------------------------------------
typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

// Event records: filled in by the effect-controls work; declared here so the entry can name them.
struct PF_EventExtra;

// ---------------------------------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------------------------------
typedef PF_Err (*PF_PluginRegisterFunc)(void* registration_ref, const A_char* effect_name, const A_char* match_name,
                                        const A_char* category, const A_char* entry_point_name, A_u_long kind,
                                        A_long api_version_major, A_long api_version_minor, A_long reserved_info);

typedef PF_Err (*PF_PluginDataEntryFunc)(void* registration_ref, PF_PluginRegisterFunc register_func,
                                         struct SPBasicSuite* pica_basicP, const A_char* host_name,
                                         const A_char* host_version);

typedef PF_Err (*PF_EffectMainFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                    PF_LayerDef* output, void* extra);

}  // extern "C"
