// The parameter set as the host receives it, checked against the table of parameters written out row by row
// as users and stored projects know it (kind, disk ID, name, default, ranges, flags), independent of the
// effect's own table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/CaseNames.h"
#include "host/ParamIndex.h"
#include "host/ParamsSetup.h"
#include "render/ThreadState.h"
#include "sdk/AE_CustomUI.h"

namespace {

// index | disk ID | kind | name | default | valid range | slider range | precision | choices, button or label |
// flags | UI flags | popup choice string
const char* const kExpectedRows[] = {
    R"row(1 | 1 | group start | "About & Support" |  |  |  |  |  | SC |  | )row",
    R"row(2 | 2 | no data (custom UI) | product name and version (see Algorithms) |  |  |  |  | custom UI, width 192, height 100 |  | CONTROL DONT_ERASE_CONTROL | )row",
    R"row(3 | 3 | button | host API version text (see Algorithms) |  |  |  |  | button "Product Page" | SUP |  | )row",
    R"row(4 | 4 | button | operating-system version text (see Algorithms) |  |  |  |  | button "Free Plugins" | SUP |  | )row",
    R"row(5 | 5 | button | GL renderer text (see Algorithms) |  |  |  |  | button "Get Support" | SUP |  | )row",
    R"row(6 | 157 | group start | GL version text (see Algorithms) |  |  |  |  |  | SC |  | )row",
    R"row(7 | 158 | group end | (no name; closes group 6) |  |  |  |  |  |  |  | )row",
    R"row(8 | 141 | group start | "Error Log" |  |  |  |  |  | SC | DIS | )row",
    R"row(9 | 138 | button | (no name) |  |  |  |  | button "Open Error Log" | SUP |  | )row",
    R"row(10 | 140 | button | (no name) |  |  |  |  | button "Open Log Directory" | SUP |  | )row",
    R"row(11 | 139 | button | (no name) |  |  |  |  | button "Create Test Error" | SUP |  | )row",
    R"row(12 | 142 | group end | (no name; closes group 8) |  |  |  |  |  |  |  | )row",
    R"row(13 | 10 | group start | (no name) |  |  |  |  |  |  | DIS | )row",
    R"row(14 | 11 | group end | (no name; closes group 13) |  |  |  |  |  |  |  | )row",
    R"row(15 | 12 | group end | (no name; closes group 1) |  |  |  |  |  |  |  | )row",
    R"row(16 | 128 | group start | "Main" |  |  |  |  |  |  |  | )row",
    R"row(17 | 103 | popup | "Glow Mode" | 1 |  |  |  | 2 choices (list below) | SUP |  | Exponential|Lens Iris)row",
    R"row(18 | 24 | popup | "Blend Mode" | 1 |  |  |  | 2 choices (list below) |  |  | Screen|Add)row",
    R"row(19 | 17 | float slider | "Radius" | 1000 | 0 to 2000 | 0 to 500 | 2 |  | SC SR |  | )row",
    R"row(20 | 18 | float slider | "Exposure" | 1 | 0 to 20 | 0.9 to 1.1 | 2 |  | SC SR |  | )row",
    R"row(21 | 129 | button | (no name) |  |  |  |  | button "Reset Main" | SUP |  | )row",
    R"row(22 | 130 | group end | (no name; closes group 16) |  |  |  |  |  |  |  | )row",
    R"row(23 | 19 | group start | "Input" |  |  |  |  |  | SC |  | )row",
    R"row(24 | 20 | float slider | "Threshold" | 0 | 0 to 500 | 0 to 200 | 2, percent |  | SC SR |  | )row",
    R"row(25 | 21 | float slider | "Threshold Smooth" | 0 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(26 | 96 | float slider | "Saturation Bias" | 0 | -100 to 100 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(27 | 149 | group start | "Input Masking" |  |  |  |  |  | SC |  | )row",
    R"row(28 | 74 | group start | "Warning: enable cont. raster" |  |  |  |  |  | SR | DIS | )row",
    R"row(29 | 75 | group end | (no name; closes group 28) |  |  |  |  |  |  |  | )row",
    R"row(30 | 76 | group start | "for correct behavior" |  |  |  |  |  | SR | DIS | )row",
    R"row(31 | 77 | group end | (no name; closes group 30) |  |  |  |  |  |  |  | )row",
    R"row(32 | 150 | layer | "Mask Layer" | none (PF_LayerDefault_NONE) |  |  |  |  |  |  | )row",
    R"row(33 | 151 | popup | "Mask Mode" | 1 |  |  |  | 2 choices (list below) | SR |  | Alpha|Luminance)row",
    R"row(34 | 152 | checkbox | "Mask Invert" | off |  |  |  |  | SR |  | )row",
    R"row(35 | 153 | group end | (no name; closes group 27) |  |  |  |  |  |  |  | )row",
    R"row(36 | 121 | button | (no name) |  |  |  |  | button "Reset Input" | SUP |  | )row",
    R"row(37 | 22 | group end | (no name; closes group 23) |  |  |  |  |  |  |  | )row",
    R"row(38 | 104 | group start | "Iris" |  |  |  |  |  | SR |  | )row",
    R"row(39 | 105 | layer | "Iris Layer" | the effect's own layer (PF_LayerDefault_MYSELF) |  |  |  |  | SR |  | )row",
    R"row(40 | 110 | group start | "Warning Iris Layer not supplied" |  |  |  |  |  | SC SR | DIS | )row",
    R"row(41 | 111 | group end | (no name; closes group 40) |  |  |  |  |  |  |  | )row",
    R"row(42 | 112 | group start | "Output will be blank" |  |  |  |  |  | SC SR | DIS | )row",
    R"row(43 | 113 | group end | (no name; closes group 42) |  |  |  |  |  |  |  | )row",
    R"row(44 | 107 | popup | "Iris Sampling Quality" | 3 |  |  |  | 5 choices (list below) | SR |  | Lowest|Modest|Standard|Fine|Extreme)row",
    R"row(45 | 118 | integer slider | "Iris Iterations" | 10 | 1 to 20 | 1 to 2 |  |  | SC SR |  | )row",
    R"row(46 | 119 | float slider | "Radii Easing" | 90 | -100 to 100 | 0 to 50 | 2, percent |  | SC SR |  | )row",
    R"row(47 | 122 | button | (no name) |  |  |  |  | button "Reset Iris" | SUP SR |  | )row",
    R"row(48 | 106 | group end | (no name; closes group 38) |  |  |  |  |  |  |  | )row",
    R"row(49 | 23 | group start | "Style" |  |  |  |  |  |  |  | )row",
    R"row(50 | 25 | group start | "Gamma Correction" |  |  |  |  |  | SC |  | )row",
    R"row(51 | 116 | group start | "Scene Gamma: " |  |  |  |  |  | SC |  | )row",
    R"row(52 | 117 | group end | (no name; closes group 51) |  |  |  |  |  |  |  | )row",
    R"row(53 | 26 | checkbox | "Auto Detect Gamma" | on |  |  |  |  | SUP |  | )row",
    R"row(54 | 154 | float slider | "Gamma Correction" | 100 | 0 to 300 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(55 | 28 | button | (no name) |  |  |  |  | button "Gamma Info" | SUP SR |  | )row",
    R"row(56 | 156 | button | (no name) |  |  |  |  | button "Reset Gamma" | SUP SR |  | )row",
    R"row(57 | 29 | group end | (no name; closes group 50) |  |  |  |  |  |  |  | )row",
    R"row(58 | 30 | group start | "Aspect Ratio" |  |  |  |  |  | SC SR |  | )row",
    R"row(59 | 31 | float slider | "Aspect Ratio" | 1 | 0 to 2 | 0 to 2 | 2 |  | SC SR |  | )row",
    R"row(60 | 32 | checkbox | "Enable Angle" | off |  |  |  |  | SR |  | )row",
    R"row(61 | 33 | angle | "Aspect Angle" | 0 degrees |  |  |  |  | SR |  | )row",
    R"row(62 | 123 | button | (no name) |  |  |  |  | button "Reset Aspect Ratio" | SUP SR |  | )row",
    R"row(63 | 34 | group end | (no name; closes group 58) |  |  |  |  |  |  |  | )row",
    R"row(64 | 35 | group start | "Chromatic Aberration" |  |  |  |  |  | SC SR |  | )row",
    R"row(65 | 36 | checkbox | "Enable Pixel Aberration" | off |  |  |  |  | SR |  | )row",
    R"row(66 | 37 | popup | "Aberration Channels" | 2 |  |  |  | 3 choices (list below) | SR |  | Red & Green|Red & Blue|Green & Blue)row",
    R"row(67 | 38 | float slider | "Pixel Offset" | 1 | -1000 to 1000 | -5 to 5 | 2 |  | SC SR |  | )row",
    R"row(68 | 36 | checkbox | "Enable Glow Aberration" | off |  |  |  |  | SR |  | )row",
    R"row(69 | 97 | float slider | "Multiply Red" | 80 | 0 to 200 | 50 to 150 | 2, percent |  | SC SR |  | )row",
    R"row(70 | 98 | float slider | "Multiply Green" | 100 | 0 to 200 | 50 to 150 | 2, percent |  | SC SR |  | )row",
    R"row(71 | 99 | float slider | "Multiply Blue" | 120 | 0 to 200 | 50 to 150 | 2, percent |  | SC SR |  | )row",
    R"row(72 | 100 | button | (no name) |  |  |  |  | button "Shuffle Channels" | SUP SR |  | )row",
    R"row(73 | 101 | button | (no name) |  |  |  |  | button "Reset Aberration" | SUP SR |  | )row",
    R"row(74 | 39 | group end | (no name; closes group 64) |  |  |  |  |  |  |  | )row",
    R"row(75 | 40 | group start | "Tint" |  |  |  |  |  | SC |  | )row",
    R"row(76 | 43 | popup | "Tint Mode" | 1 |  |  |  | 4 choices (list below) |  |  | Off|(-|Monocolor|Duocolor)row",
    R"row(77 | 67 | popup | "Tint Blend Mode" | 1 |  |  |  | 3 choices (list below) |  |  | Multiply|Overlay|Soft Light)row",
    R"row(78 | 42 | colour | "Color" | alpha 255, red 255, green 0, blue 0 |  |  |  |  |  |  | )row",
    R"row(79 | 66 | colour | "Color Outer" | alpha 255, red 255, green 128, blue 0 |  |  |  |  |  |  | )row",
    R"row(80 | 69 | button | (no name) |  |  |  |  | button "Swap Colors" | SUP SR |  | )row",
    R"row(81 | 44 | float slider | "Tint Strength" | 100 | 0 to 200 | 0 to 200 | 2, percent |  | SC SR |  | )row",
    R"row(82 | 124 | button | (no name) |  |  |  |  | button "Reset Tint" | SUP SR |  | )row",
    R"row(83 | 45 | group end | (no name; closes group 75) |  |  |  |  |  |  |  | )row",
    R"row(84 | 81 | group start | "Tone Mapping" |  |  |  |  |  | SC |  | )row",
    R"row(85 | 93 | popup | "Operation" | 1 |  |  |  | 9 choices (list below) |  |  | None|(-|ACES Filmic|Filmic|Hable Filmic|Reinhard|Reinhard 2|(-|Clamp Chroma)row",
    R"row(86 | 82 | float slider | "Mix" | 100 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(87 | 125 | button | (no name) |  |  |  |  | button "Reset Tone Mapping" | SUP SR |  | )row",
    R"row(88 | 83 | group end | (no name; closes group 84) |  |  |  |  |  |  |  | )row",
    R"row(89 | 85 | group start | "Lens Dirt Texture" |  |  |  |  |  | SC |  | )row",
    R"row(90 | 86 | layer | "Texture" | none (PF_LayerDefault_NONE) |  |  |  |  | SUP |  | )row",
    R"row(91 | 88 | float slider | "Opacity" | 100 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(92 | 148 | float slider | "Inherit Glow Color" | 0 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR |  | )row",
    R"row(93 | 89 | float slider | "Matte Exposure" | 0 | -10 to 10 | -2 to 2 | 2 |  | SC SR |  | )row",
    R"row(94 | 90 | float slider | "Matte Gamma" | 1 | 0.1 to 5 | 0.1 to 2 | 2 |  | SC SR |  | )row",
    R"row(95 | 120 | checkbox | "Repeat Edges" | on |  |  |  |  | SR |  | )row",
    R"row(96 | 126 | button | (no name) |  |  |  |  | button "Reset Lens Dirt" | SUP SR |  | )row",
    R"row(97 | 92 | group end | (no name; closes group 89) |  |  |  |  |  |  |  | )row",
    R"row(98 | 46 | group end | (no name; closes group 49) |  |  |  |  |  |  |  | )row",
    R"row(99 | 47 | group start | "Quality" |  |  |  |  |  | SC |  | )row",
    R"row(100 | 48 | popup | "Quality Preset" | 3 |  |  |  | 8 choices (list below) | SUP SR |  | Draft|Low|Medium|Standard|High|Extreme|(-|Custom)row",
    R"row(101 | 48 | popup | "Quality Preset Iris" | 3 |  |  |  | 6 choices (list below) | SUP SR |  | Draft|Low|Medium|Standard|High|Extreme)row",
    R"row(102 | 94 | checkbox | "Half Float" | on |  |  |  |  | SR |  | )row",
    R"row(103 | 49 | float slider | "Resolution" | 75 | 25 to 100 | 25 to 100 | 0, percent |  | SC SR |  | )row",
    R"row(104 | 50 | float slider | "Steps Multiplier" | 0.5 | 0.01 to 3 | 0.01 to 1 | 2 |  | SC SR |  | )row",
    R"row(105 | 51 | float slider | "Glow Iterations" | 8 | 6 to 10 | 6 to 10 | 0 |  | SC SR |  | )row",
    R"row(106 | 64 | popup | "Buffer Expansion Mode" | 1 |  |  |  | 2 choices (list below) | SR |  | Auto|Comp Size)row",
    R"row(107 | 65 | integer slider | "Aux Buffer Expansion" | 0 | 0 to 2000 | 0 to 500 |  |  | SC SR |  | )row",
    R"row(108 | 127 | button | (no name) |  |  |  |  | button "Reset Quality" | SUP SR |  | )row",
    R"row(109 | 52 | group end | (no name; closes group 99) |  |  |  |  |  |  |  | )row",
    R"row(110 | 53 | popup | "View" | 1 |  |  |  | 8 choices (list below) | SUP SR |  | Final Result|Glow Input|(-|View Iris|(-|Lens Dirt Input|Lens Dirt Matte|Lens Dirt Matted)row",
    R"row(111 | 135 | popup | "View" | 1 |  |  |  | 6 choices (list below) | SUP SR |  | Final Result|Glow Input|(-|Lens Dirt Input|Lens Dirt Matte|Lens Dirt Matted)row",
    R"row(112 | 54 | float slider | "Source Opacity" | 100 | 0 to 100 | 0 to 100 | 2, percent |  |  |  | )row",
    R"row(113 | 55 | checkbox | "Unmult" | on |  |  |  | label "(Required for Alpha)" |  |  | )row",
    R"row(114 | 56 | group start | "Debug" |  |  |  |  |  |  |  | )row",
    R"row(115 | 155 | checkbox | "Pre Proc Solid Fill" | off |  |  |  |  |  |  | )row",
    R"row(116 | 131 | float slider | "Iris Sample Quality" | 50 | 0 to 100 | 20 to 80 | 0, percent |  | SC SR |  | )row",
    R"row(117 | 136 | popup | "Debug View" | 3 |  |  |  | 3 choices (list below) | SR |  | Blur W|Blur H|None)row",
    R"row(118 | 132 | checkbox | "Draw Dimensions Comp UI" | off |  |  |  |  | SR |  | )row",
    R"row(119 | 57 | checkbox | "Show Buffers" | off |  |  |  |  | SR |  | )row",
    R"row(120 | 114 | checkbox | "cout PreRender Rects" | off |  |  |  |  | SR |  | )row",
    R"row(121 | 115 | checkbox | "cout Buffer Dims" | off |  |  |  |  | SR |  | )row",
    R"row(122 | 137 | checkbox | "Shaders Per Frame" | off |  |  |  |  | SR |  | )row",
    R"row(123 | 58 | popup | "Edge Behaviour (Deprecated)" | 2 |  |  |  | 4 choices (list below) | SR |  | Repeat|Mirror Repeat|Clamp to Edge|None)row",
    R"row(124 | 102 | popup | "Renderer (Deprecated)" | 1 |  |  |  | 2 choices (list below) | SR |  | OpenGL|Metal)row",
    R"row(125 | 109 | checkbox | "Metal GPU Capture" | off |  |  |  |  | SR |  | )row",
    R"row(126 | 143 | checkbox | "Simplified Exposure" | on |  |  |  |  | SR |  | )row",
    R"row(127 | 146 | checkbox | "Iris Cull Small Values" | on |  |  |  |  | SR |  | )row",
    R"row(128 | 59 | float slider | "Left" | 0 | -5000 to 5000 | 0 to 100 | 4 |  | SC SR |  | )row",
    R"row(129 | 60 | float slider | "Top" | 0 | -5000 to 5000 | 0 to 100 | 4 |  | SC SR |  | )row",
    R"row(130 | 61 | float slider | "Right" | 0 | -5000 to 5000 | 0 to 100 | 4 |  | SC SR |  | )row",
    R"row(131 | 62 | float slider | "Bottom" | 0 | -5000 to 5000 | 0 to 100 | 4 |  | SC SR |  | )row",
    R"row(132 | 63 | group end | (no name; closes group 114) |  |  |  |  |  |  |  | )row",
    R"row(133 | 133 | group start | "Deprecated" |  |  |  |  |  | SC | DIS INV | )row",
    R"row(134 | 27 | checkbox | "Gamma Correction" | off |  |  |  |  |  |  | )row",
    R"row(135 | 78 | group start | "Astigmatism" |  |  |  |  |  | SC | DIS INV | )row",
    R"row(136 | 70 | checkbox | "Enable Astigmatism" | off |  |  |  |  | CTV SR | DIS INV | )row",
    R"row(137 | 79 | checkbox | "Force Square Ratio" | off |  |  |  |  | CTV SR | DIS INV | )row",
    R"row(138 | 71 | checkbox | "View Focal Point" | off |  |  |  |  | CTV SR | DIS INV | )row",
    R"row(139 | 72 | float slider | "Focal Length" | 50 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR | DIS INV | )row",
    R"row(140 | 73 | float slider | "Focal Falloff" | 50 | 0 to 200 | 0 to 100 | 2, percent |  | SC SR | DIS INV | )row",
    R"row(141 | 80 | group end | (no name; closes group 135) |  |  |  |  |  |  |  | )row",
    R"row(142 | 91 | popup | "Lens View" | 1 |  |  |  | 1 choice (list below) | CTV | DIS INV | Deprecated)row",
    R"row(143 | 108 | checkbox | (no name) | off |  |  |  | label "View Iris" | SR | DIS INV | )row",
    R"row(144 | 41 | checkbox | "Enable" | off |  |  |  |  | SR | DIS INV | )row",
    R"row(145 | 87 | popup | "Blend Mode" | 1 |  |  |  | 2 choices (list below) |  | DIS INV | Screen|Add)row",
    R"row(146 | 84 | checkbox | "Enable" | off |  |  |  |  |  | DIS INV | )row",
    R"row(147 | 68 | float slider | "Inner/Outer Bias" | 50 | 0 to 100 | 0 to 100 | 2, percent |  | SC SR | DIS INV | )row",
    R"row(148 | 95 | popup | "Threshold Mode" | 1 |  |  |  | 3 choices (list below) | SR | DIS INV | Standard (Per Channel)|Saturation|Luminance)row",
    R"row(149 | 6 | popup | "Deprecated" | 1 |  |  |  | 1 choice (list below) | CTV | DIS INV | Deprecated)row",
    R"row(150 | 7 | popup | "Deprecated" | 1 |  |  |  | 1 choice (list below) | CTV | DIS INV | Deprecated)row",
    R"row(151 | 8 | popup | "Deprecated" | 1 |  |  |  | 1 choice (list below) | CTV | DIS INV | Deprecated)row",
    R"row(152 | 9 | popup | "Deprecated" | 1 |  |  |  | 1 choice (list below) | CTV | DIS INV | Deprecated)row",
    R"row(153 | 107 | popup | "Render Quality (Quantization)" | 6 |  |  |  | 8 choices (list below) | SR |  | 1x (8px) |2x (16px) |3x (32px) |4x (64px) |5x (128px) |6x (256px)|7x (512px)|8x (1024px))row",
    R"row(154 | 134 | group end | (no name; closes group 133) |  |  |  |  |  |  |  | )row",
};

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

struct ExpectedRow {
    int index = 0;
    int disk = 0;
    std::string kind, name, dephault, valid, slider, precision, text, flags, uiFlags, choices;
};

ExpectedRow ParseRow(const std::string& line) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (int i = 0; i < 11; ++i) {
        const size_t bar = line.find('|', start);
        cells.push_back(Trim(line.substr(start, bar - start)));
        start = bar + 1;
    }
    ExpectedRow r;
    r.index = std::stoi(cells[0]);
    r.disk = std::stoi(cells[1]);
    r.kind = cells[2];
    r.name = cells[3];
    r.dephault = cells[4];
    r.valid = cells[5];
    r.slider = cells[6];
    r.precision = cells[7];
    r.text = cells[8];
    r.flags = cells[9];
    r.uiFlags = cells[10];
    r.choices = start < line.size() ? line.substr(start + 1) : "";
    return r;
}

std::string Quoted(const std::string& cell) {
    const size_t a = cell.find('"');
    if (a == std::string::npos) return "";
    return cell.substr(a + 1, cell.rfind('"') - a - 1);
}

bool Has(const std::string& tokens, const std::string& token) {
    std::istringstream in(tokens);
    std::string t;
    while (in >> t)
        if (t == token) return true;
    return false;
}

void Range(const std::string& cell, double* lo, double* hi) {
    const size_t to = cell.find(" to ");
    *lo = std::stod(cell.substr(0, to));
    *hi = std::stod(cell.substr(to + 4));
}

// One definition as the host received it; texts are copied, since the effect's pointers are its own.
struct Received {
    PF_ParamDef def;
    PF_ParamIndex where;
    std::string text;
};

struct Recorder {
    std::vector<Received> params;
    std::vector<PF_CustomUIInfo> ui;
    size_t uiAfterParams = 0;
    int failAddAt = 0;  // 1-based call that fails, 0 none
    PF_Err addErr = PF_Err_OUT_OF_MEMORY;
    PF_Err uiErr = PF_Err_NONE;
    int addCalls = 0;
};

PF_Err RecordAdd(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    Recorder* r = static_cast<Recorder*>(ref);
    if (++r->addCalls == r->failAddAt) return r->addErr;
    Received rec{*def, index, ""};
    const char* text = nullptr;
    if (def->param_type == PF_Param_POPUP) text = def->u.pd.u.namesptr;
    if (def->param_type == PF_Param_BUTTON) text = def->u.button_d.u.namesptr;
    if (def->param_type == PF_Param_CHECKBOX) text = def->u.bd.u.nameptr;
    if (text) rec.text = text;
    r->params.push_back(rec);
    return PF_Err_NONE;
}

PF_Err RecordUI(PF_ProgPtr ref, void* info) {
    Recorder* r = static_cast<Recorder*>(ref);
    r->ui.push_back(*static_cast<PF_CustomUIInfo*>(info));
    r->uiAfterParams = r->params.size();
    return r->uiErr;
}

struct ParamSetupRun {
    Recorder rec;
    PF_InData in{};
    PF_OutData out{};
    PF_Err err = PF_Err_NONE;

    explicit ParamSetupRun(const ParamRuntimeNames& names, int failAddAt = 0, PF_Err uiErr = PF_Err_NONE) {
        rec.failAddAt = failAddAt;
        rec.uiErr = uiErr;
        in.effect_ref = &rec;
        in.inter.add_param = &RecordAdd;
        in.inter.register_ui = &RecordUI;
        out.num_params = -7;
        err = AddParams(&in, &out, names);
    }
};

ParamRuntimeNames SomeNames() {
    GlobalGLTexts gl;
    gl.hasBlock = true;
    gl.renderer = "llvmpipe";
    gl.version = "3.3 (Core Profile)";
    return MakeRuntimeNames(13, 28, "12", gl);
}

A_long Flags(const std::string& tokens) {
    A_long f = 0;
    if (Has(tokens, "SC")) f |= PF_ParamFlag_START_COLLAPSED;
    if (Has(tokens, "SUP")) f |= PF_ParamFlag_SUPERVISE;
    if (Has(tokens, "SR")) f |= PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
    if (Has(tokens, "CTV")) f |= PF_ParamFlag_CANNOT_TIME_VARY;
    return f;
}
A_long UIFlags(const std::string& tokens) {
    A_long f = 0;
    if (Has(tokens, "DIS")) f |= PF_PUI_DISABLED;
    if (Has(tokens, "INV")) f |= PF_PUI_INVISIBLE;
    if (Has(tokens, "CONTROL")) f |= PF_PUI_CONTROL;
    if (Has(tokens, "DONT_ERASE_CONTROL")) f |= PF_PUI_DONT_ERASE_CONTROL;
    return f;
}

void CheckRow(const ExpectedRow& e, const PF_ParamDef& d, const std::string& text) {
    SCOPED_TRACE("index " + std::to_string(e.index) + " " + e.name);
    EXPECT_EQ(d.uu.id, e.disk);
    EXPECT_EQ(A_long(d.flags), Flags(e.flags));
    EXPECT_EQ(d.ui_flags, UIFlags(e.uiFlags));
    if (e.name.find("(see Algorithms)") == std::string::npos) {
        EXPECT_STREQ(d.name, Quoted(e.name).c_str());
    }
    const bool on = e.dephault == "on";
    if (e.kind == "group start") {
        EXPECT_EQ(d.param_type, PF_Param_GROUP_START);
    } else if (e.kind == "group end") {
        EXPECT_EQ(d.param_type, PF_Param_GROUP_END);
    } else if (e.kind == "no data (custom UI)") {
        EXPECT_EQ(d.param_type, PF_Param_NO_DATA);
        EXPECT_EQ(d.ui_width, 192);
        EXPECT_EQ(d.ui_height, 100);
    } else if (e.kind == "button") {
        EXPECT_EQ(d.param_type, PF_Param_BUTTON);
        EXPECT_EQ(d.u.button_d.value, 0);
        EXPECT_EQ(text, Quoted(e.text));
    } else if (e.kind == "popup") {
        EXPECT_EQ(d.param_type, PF_Param_POPUP);
        EXPECT_EQ(d.u.pd.value, std::stoi(e.dephault));
        EXPECT_EQ(d.u.pd.dephault, std::stoi(e.dephault));
        EXPECT_EQ(d.u.pd.num_choices, std::stoi(e.text));  // "N choices (list below)"
        EXPECT_EQ(text, e.choices);
        int count = 1;
        for (char c : text) count += c == '|';
        EXPECT_EQ(d.u.pd.num_choices, count);
    } else if (e.kind == "float slider") {
        EXPECT_EQ(d.param_type, PF_Param_FLOAT_SLIDER);
        const PF_FloatSliderDef& f = d.u.fs_d;
        EXPECT_DOUBLE_EQ(f.value, std::stod(e.dephault));
        EXPECT_FLOAT_EQ(f.dephault, std::stof(e.dephault));
        double lo, hi;
        Range(e.valid, &lo, &hi);
        EXPECT_FLOAT_EQ(f.valid_min, float(lo));
        EXPECT_FLOAT_EQ(f.valid_max, float(hi));
        Range(e.slider, &lo, &hi);
        EXPECT_FLOAT_EQ(f.slider_min, float(lo));
        EXPECT_FLOAT_EQ(f.slider_max, float(hi));
        EXPECT_EQ(f.precision, std::stoi(e.precision));
        EXPECT_EQ(f.display_flags,
                  e.precision.find("percent") != std::string::npos ? PF_ValueDisplayFlag_PERCENT : 0);
        EXPECT_FLOAT_EQ(f.curve_tolerance, 0.05f);
        EXPECT_EQ(f.exponent, 0.0f);
        EXPECT_EQ(f.fs_flags, 0);
        ASSERT_NE(f.value_desc, nullptr);
        EXPECT_STREQ(f.value_desc, "");
    } else if (e.kind == "integer slider") {
        EXPECT_EQ(d.param_type, PF_Param_SLIDER);
        EXPECT_EQ(d.u.sd.value, std::stoi(e.dephault));
        EXPECT_EQ(d.u.sd.dephault, std::stoi(e.dephault));
        double lo, hi;
        Range(e.valid, &lo, &hi);
        EXPECT_EQ(d.u.sd.valid_min, int(lo));
        EXPECT_EQ(d.u.sd.valid_max, int(hi));
        Range(e.slider, &lo, &hi);
        EXPECT_EQ(d.u.sd.slider_min, int(lo));
        EXPECT_EQ(d.u.sd.slider_max, int(hi));
    } else if (e.kind == "checkbox") {
        EXPECT_EQ(d.param_type, PF_Param_CHECKBOX);
        EXPECT_EQ(d.u.bd.value, on ? 1 : 0);
        EXPECT_EQ(d.u.bd.dephault, on ? 1 : 0);
        EXPECT_EQ(text, Quoted(e.text));  // empty unless a label is given
    } else if (e.kind == "colour") {
        EXPECT_EQ(d.param_type, PF_Param_COLOR);
        int a, r, g, b;
        ASSERT_EQ(std::sscanf(e.dephault.c_str(), "alpha %d, red %d, green %d, blue %d", &a, &r, &g, &b), 4);
        for (const PF_Pixel& p : {d.u.cd.value, d.u.cd.dephault}) {
            EXPECT_EQ(p.alpha, a);
            EXPECT_EQ(p.red, r);
            EXPECT_EQ(p.green, g);
            EXPECT_EQ(p.blue, b);
        }
    } else if (e.kind == "angle") {
        EXPECT_EQ(d.param_type, PF_Param_ANGLE);
        const int degrees = std::stoi(e.dephault);
        EXPECT_EQ(d.u.ad.value, degrees * 65536);
        EXPECT_EQ(d.u.ad.dephault, degrees * 65536);
        EXPECT_EQ(d.u.ad.valid_min, 0);
        EXPECT_EQ(d.u.ad.valid_max, 0);
    } else if (e.kind == "layer") {
        EXPECT_EQ(d.param_type, PF_Param_LAYER);
        EXPECT_EQ(d.u.ld.dephault,
                  e.dephault.find("MYSELF") != std::string::npos ? PF_LayerDefault_MYSELF : PF_LayerDefault_NONE);
    } else {
        ADD_FAILURE() << "unknown kind " << e.kind;
    }
}

TEST(ParamsSetup, EveryRowReachesTheHostAsListed) {
    ParamSetupRun s(SomeNames());
    ASSERT_EQ(s.err, PF_Err_NONE);
    EXPECT_EQ(s.out.num_params, 155);
    ASSERT_EQ(s.rec.params.size(), std::size(kExpectedRows));
    for (size_t i = 0; i < s.rec.params.size(); ++i) {
        const ExpectedRow e = ParseRow(kExpectedRows[i]);
        ASSERT_EQ(e.index, int(i) + 1);
        EXPECT_EQ(s.rec.params[i].where, -1) << "every parameter is appended";
        CheckRow(e, s.rec.params[i].def, s.rec.params[i].text);
    }
}

TEST(ParamsSetup, ExactlyThreeDiskIdsAreShared) {
    ParamSetupRun s(SomeNames());
    std::map<A_long, std::vector<int>> byDisk;
    for (size_t i = 0; i < s.rec.params.size(); ++i) byDisk[s.rec.params[i].def.uu.id].push_back(int(i) + 1);
    const std::map<A_long, std::vector<int>> shared = {{36, {65, 68}}, {48, {100, 101}}, {107, {44, 153}}};
    for (const auto& [disk, indices] : byDisk) {
        EXPECT_GE(disk, 1);
        EXPECT_LE(disk, 158);
        EXPECT_TRUE(disk < 13 || disk > 16) << "disk IDs 13 to 16 are not used";
        const auto it = shared.find(disk);
        if (it != shared.end()) {
            EXPECT_EQ(indices, it->second) << "disk ID " << disk;
        } else {
            EXPECT_EQ(indices.size(), 1u) << "disk ID " << disk;
        }
    }
    EXPECT_EQ(byDisk.size(), 154u - 3u);
}

TEST(ParamsSetup, GroupsNestAndEachEndClosesTheListedGroup) {
    ParamSetupRun s(SomeNames());
    std::vector<int> open;
    for (size_t i = 0; i < s.rec.params.size(); ++i) {
        const int index = int(i) + 1;
        const ExpectedRow e = ParseRow(kExpectedRows[i]);
        if (s.rec.params[i].def.param_type == PF_Param_GROUP_START) open.push_back(index);
        if (s.rec.params[i].def.param_type == PF_Param_GROUP_END) {
            ASSERT_FALSE(open.empty()) << "group end " << index << " with no open group";
            int closes = 0;
            ASSERT_EQ(std::sscanf(e.name.c_str(), "(no name; closes group %d)", &closes), 1);
            EXPECT_EQ(open.back(), closes) << "group end " << index;
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty());
}

TEST(ParamsSetup, CustomUIIsRegisteredOnceRightAfterTheHeader) {
    ParamSetupRun s(SomeNames());
    ASSERT_EQ(s.rec.ui.size(), 1u);
    EXPECT_EQ(s.rec.uiAfterParams, size_t(PARAM_HEADER));
    PF_CustomUIInfo expected{};
    expected.events = PF_CustomEFlag_COMP | PF_CustomEFlag_LAYER | PF_CustomEFlag_EFFECT;
    EXPECT_EQ(std::memcmp(&s.rec.ui[0], &expected, sizeof expected), 0);
}

struct RuntimeNameCase {
    const char* what;
    bool hasBlock;
    std::string renderer, version, os;
    std::string rendererName, glVersionName, osName;
};
void PrintTo(const RuntimeNameCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class ParamsSetupRuntimeNames : public testing::TestWithParam<RuntimeNameCase> {};

TEST_P(ParamsSetupRuntimeNames, AboutEntriesAreNamedAtRunTime) {
    const RuntimeNameCase& c = GetParam();
    GlobalGLTexts gl;
    gl.hasBlock = c.hasBlock;
    gl.renderer = c.renderer;
    gl.version = c.version;
    ParamSetupRun s(MakeRuntimeNames(13, 28, c.os, gl));
    ASSERT_EQ(s.err, PF_Err_NONE);
    EXPECT_STREQ(s.rec.params[PARAM_HEADER - 1].def.name, "Velloran 2 v1.0.2");
    EXPECT_STREQ(s.rec.params[PARAM_HOST_VERSION_BUTTON - 1].def.name, "AE 13.28");
    EXPECT_STREQ(s.rec.params[PARAM_OS_VERSION_BUTTON - 1].def.name, c.osName.c_str());
    EXPECT_STREQ(s.rec.params[PARAM_GL_RENDERER_BUTTON - 1].def.name, c.rendererName.c_str());
    EXPECT_STREQ(s.rec.params[PARAM_GL_VERSION_GROUP - 1].def.name, c.glVersionName.c_str());
}

const std::string k40 = "Mesa llvmpipe (LLVM 15.0.6, 256 bits) xx";
INSTANTIATE_TEST_SUITE_P(
    Cases, ParamsSetupRuntimeNames,
    testing::Values(
        RuntimeNameCase{"no global block", false, "", "", "12", "NULL", "", "OS 12"},
        RuntimeNameCase{"block without texts", true, "", "", "12", "NULL", "", "OS 12"},
        RuntimeNameCase{"block with texts", true, "llvmpipe", "4.5 (Core Profile) Mesa", "12", "llvmpipe",
                        "4.5 (Core Profile) Mesa", "OS 12"},
        RuntimeNameCase{"40-character renderer", true, k40, "3.3", "12", k40.substr(0, 31), "3.3", "OS 12"},
        RuntimeNameCase{"empty system version", true, "r", "v", "", "r", "v", "OS "},
        RuntimeNameCase{"system version kept as read", false, "", "", "14.2.1\n", "NULL", "", "OS 14.2.1\n"}),
    velloran_test::NameFromWhat<RuntimeNameCase>);

TEST(ParamsSetup, RealSetupNamesTheSystemAndFindsNoBlockInAnEmptyHandle) {
    Recorder rec;
    PF_InData in{};
    PF_OutData out{};
    in.effect_ref = &rec;
    in.inter.add_param = &RecordAdd;
    in.inter.register_ui = &RecordUI;
    in.version_major = 13;
    in.version_minor = 28;
    void* nullBlock = nullptr;
    out.global_data = &nullBlock;  // a handle whose block is null counts as no block
    ASSERT_EQ(ParamsSetup(&in, &out, nullptr, nullptr), PF_Err_NONE);
    ASSERT_EQ(rec.params.size(), 154u);
    EXPECT_STREQ(rec.params[PARAM_HOST_VERSION_BUTTON - 1].def.name, "AE 13.28");
    EXPECT_EQ(std::string(rec.params[PARAM_OS_VERSION_BUTTON - 1].def.name).rfind("OS ", 0), 0u);
    EXPECT_STREQ(rec.params[PARAM_GL_RENDERER_BUTTON - 1].def.name, "NULL");
    EXPECT_STREQ(rec.params[PARAM_GL_VERSION_GROUP - 1].def.name, "");
}

TEST(ParamsSetup, RealSetupReadsTheGlobalBlocksTexts) {
    auto block = std::make_unique<GlobalRenderData>();
    const std::string renderer(40, 'r');
    std::memcpy(block->glRenderer, renderer.c_str(), renderer.size() + 1);
    std::strcpy(block->glVersion, "3.3 (Core Profile) Mesa 22.3.6");
    void* pointer = block.get();
    Recorder rec;
    PF_InData in{};
    PF_OutData out{};
    in.effect_ref = &rec;
    in.inter.add_param = &RecordAdd;
    in.inter.register_ui = &RecordUI;
    out.global_data = &pointer;
    ASSERT_EQ(ParamsSetup(&in, &out, nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(rec.params[PARAM_GL_RENDERER_BUTTON - 1].def.name, renderer.substr(0, 31));
    EXPECT_STREQ(rec.params[PARAM_GL_VERSION_GROUP - 1].def.name, "3.3 (Core Profile) Mesa 22.3.6");
}

TEST(ParamsSetup, FailedAdditionStopsTheSetupAndLeavesNumParams) {
    ParamSetupRun s(SomeNames(), /*failAddAt=*/50);
    EXPECT_EQ(s.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(s.rec.addCalls, 50) << "the 104 later parameters are not added";
    EXPECT_EQ(s.rec.params.size(), 49u);
    EXPECT_EQ(s.out.num_params, -7);
}

TEST(ParamsSetup, RefusedCustomUIIsReportedAfterEveryParameterIsIn) {
    ParamSetupRun s(SomeNames(), 0, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(s.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(s.rec.params.size(), 154u);
    EXPECT_EQ(s.out.num_params, 155);
}

}  // namespace
