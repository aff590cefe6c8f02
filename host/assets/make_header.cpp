// Draws the effect-controls header picture (384 by 200, shown at 192 by 100) into header.png. Run once by
// hand when the picture changes; the build only reads the PNG it wrote:
//   c++ -std=c++17 make_header.cpp $(pkg-config --cflags --libs cairo) -o make_header && ./make_header header.png
#include <cairo.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 200;

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// A soft light: a radial falloff of the colour, strongest at the centre.
void Glow(cairo_t* cr, double x, double y, double radius, double r, double g, double b, double a) {
    cairo_pattern_t* p = cairo_pattern_create_radial(x, y, 0, x, y, radius);
    cairo_pattern_add_color_stop_rgba(p, 0.0, r, g, b, a);
    cairo_pattern_add_color_stop_rgba(p, 0.25, r, g, b, a * 0.45);
    cairo_pattern_add_color_stop_rgba(p, 0.6, r, g, b, a * 0.12);
    cairo_pattern_add_color_stop_rgba(p, 1.0, r, g, b, 0);
    cairo_set_source(cr, p);
    cairo_arc(cr, x, y, radius, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

// A horizontal streak through a light, as an anamorphic lens spreads it.
void Streak(cairo_t* cr, double x, double y, double halfLength, double thickness, double a) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, halfLength, thickness);
    cairo_pattern_t* p = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
    cairo_pattern_add_color_stop_rgba(p, 0.0, 1.0, 0.92, 0.8, a);
    cairo_pattern_add_color_stop_rgba(p, 0.3, 1.0, 0.6, 0.25, a * 0.35);
    cairo_pattern_add_color_stop_rgba(p, 1.0, 1.0, 0.45, 0.1, 0);
    cairo_set_source(cr, p);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_restore(cr);
}

// Text with a halo: wide faint strokes under narrower brighter ones, then the letters themselves.
void GlowingText(cairo_t* cr, const char* text, double x, double y) {
    cairo_move_to(cr, x, y);
    cairo_text_path(cr, text);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (int i = 8; i >= 1; --i) {
        cairo_set_source_rgba(cr, 1.0, 0.55, 0.18, 0.05);
        cairo_set_line_width(cr, i * 3.0);
        cairo_stroke_preserve(cr);
    }
    cairo_set_source_rgba(cr, 1.0, 0.85, 0.6, 0.5);
    cairo_set_line_width(cr, 2.5);
    cairo_stroke_preserve(cr);
    cairo_pattern_t* fill = cairo_pattern_create_linear(0, y - 50, 0, y);
    cairo_pattern_add_color_stop_rgb(fill, 0.0, 1.0, 1.0, 1.0);
    cairo_pattern_add_color_stop_rgb(fill, 1.0, 1.0, 0.9, 0.75);
    cairo_set_source(cr, fill);
    cairo_fill(cr);
    cairo_pattern_destroy(fill);
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "header.png";
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);

    // Night-blue card with rounded corners; outside them the picture is transparent.
    RoundedRect(cr, 0, 0, kWidth, kHeight, 18);
    cairo_pattern_t* bg = cairo_pattern_create_linear(0, 0, 0, kHeight);
    cairo_pattern_add_color_stop_rgb(bg, 0.0, 0.05, 0.06, 0.12);
    cairo_pattern_add_color_stop_rgb(bg, 1.0, 0.01, 0.01, 0.03);
    cairo_set_source(cr, bg);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(bg);
    cairo_clip(cr);

    // The light the effect is about: a warm core bleeding into a wide bloom, with a lens streak.
    cairo_set_operator(cr, CAIRO_OPERATOR_ADD);
    Glow(cr, 300, 62, 190, 0.95, 0.35, 0.08, 0.55);
    Glow(cr, 300, 62, 70, 1.0, 0.7, 0.35, 0.8);
    Glow(cr, 300, 62, 16, 1.0, 0.97, 0.9, 1.0);
    Streak(cr, 300, 62, 230, 5, 0.9);
    Glow(cr, 70, 170, 90, 0.2, 0.35, 0.95, 0.35);  // a cool counter-light
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 58);
    GlowingText(cr, "Velloran 2", 26, 128);

    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 17);
    cairo_set_source_rgba(cr, 0.78, 0.84, 1.0, 0.85);
    cairo_move_to(cr, 30, 162);
    cairo_show_text(cr, "physically accurate glow");
    cairo_set_font_size(cr, 14);
    cairo_set_source_rgba(cr, 1.0, 0.75, 0.5, 0.8);
    cairo_move_to(cr, 30, 42);
    cairo_show_text(cr, "QUENHOLT");

    cairo_reset_clip(cr);
    RoundedRect(cr, 1, 1, kWidth - 2, kHeight - 2, 17);
    cairo_set_source_rgba(cr, 1.0, 0.7, 0.4, 0.25);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);

    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png(surface, out);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "make_header: %s\n", cairo_status_to_string(status));
        return 1;
    }
    return 0;
}
