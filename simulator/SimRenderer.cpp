// Drawing the view tree with cairo: each view in window coordinates, clipped like the tree.
#include "simulator/SimRenderer.h"

#include "simulator/SimCommand.h"
#include "simulator/SimScreen.h"
#include "simulator/SimSeen.h"

#include "platform/ui/CGContext.h"
#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIWindow.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <cmath>
#include <string>
#include <vector>

namespace {

// Where a picture is drawn, and the list of what it shows.
struct Canvas {
    cairo_t* cr;
    std::vector<SimDrawnElement>* drawn;
    // The view of the alert controller drawn in front, once the screen under it is drawn; the
    // views of the other alert controllers up are not drawn.
    const UIView* alertInFront = nullptr;

    void note(std::string kind, const CGRect& frame, std::string text = "") const {
        if (drawn) drawn->push_back({std::move(kind), frame, std::move(text)});
    }
    // A line of text as drawn, where its glyphs went (screen points).
    void noteLine(const std::string& line, const CGRect& frame) const {
        if (!drawn) return;
        CGRect screen = frame;
        const double x = frame.origin.x, y = frame.origin.y;
        double x0 = x, y0 = y, x1 = x + frame.size.width, y1 = y + frame.size.height;
        cairo_user_to_device(cr, &x0, &y0);
        cairo_user_to_device(cr, &x1, &y1);
        screen = CGRectMake(x0, y0, x1 - x0, y1 - y0);
        drawn->push_back({"line", screen, line});
    }
};

void setColor(cairo_t* cr, const std::shared_ptr<UIColor>& color, double alpha) {
    cairo_set_source_rgba(cr, color->red(), color->green(), color->blue(), color->alpha() * alpha);
}

void roundedRect(cairo_t* cr, const CGRect& r, double radius) {
    radius = std::min({radius, r.size.width / 2, r.size.height / 2});
    if (radius <= 0) {
        cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
        return;
    }
    const double x = r.origin.x, y = r.origin.y, w = r.size.width, h = r.size.height;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - radius, y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, x + w - radius, y + h - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x + radius, y + h - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// A premultiplied cairo pixel (native byte order) of the RGBA pixel at p.
std::uint32_t premultiplied(const std::uint8_t* p) {
    const std::uint32_t a = p[3];
    const std::uint32_t r = p[0] * a / 255, g = p[1] * a / 255, b = p[2] * a / 255;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// cairo refuses an image surface with a side longer than this many pixels.
constexpr int kLongestSurfaceSide = 32767;

// A new image surface, or null where cairo refuses it: a refused one has no pixels to write.
cairo_surface_t* newSurface(int width, int height) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

// The image's pixels as a cairo surface (premultiplied, native byte order).
cairo_surface_t* surfaceOf(const UIImage& image) {
    const int w = image.pixelWidth(), h = image.pixelHeight();
    // A picture whose body does not decode is transparent: there is nothing to draw, and its empty
    // pixels, as many as its header claims, are not made.
    if (w <= 0 || h <= 0 || !image.decodes()) return nullptr;
    cairo_surface_t* s = newSurface(w, h);
    if (!s) return nullptr;
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const auto& px = image.rgbaPixels();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
        for (int x = 0; x < w; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * w + x) * 4;
            if (i + 3 >= px.size()) break;
            row[x] = premultiplied(&px[i]);
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

// A picture larger than this many pixels, or longer on a side than cairo's surfaces go, is drawn
// from the part of it in sight alone, at no more pixels than the shot gives that part: a
// whole-size copy of a page's picture would take as much memory again as the picture.
constexpr std::int64_t kLargestWholeSurface = 4 * 1024 * 1024;

// The pixels x0..x1, y0..y1 of the image, reduced to width x height by their means, as a surface.
cairo_surface_t* reducedSurfaceOf(const UIImage& image, int x0, int y0, int x1, int y1, int width, int height) {
    cairo_surface_t* s = newSurface(width, height);
    if (!s) return nullptr;
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const auto& px = image.rgbaPixels();
    const auto at = [&](int x, int y) { return &px[(static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4]; };
    for (int y = 0; y < height; ++y) {
        const int top = y0 + static_cast<int>(static_cast<std::int64_t>(y) * (y1 - y0) / height);
        const int bottom = std::max(top + 1, y0 + static_cast<int>(static_cast<std::int64_t>(y + 1) * (y1 - y0) / height));
        auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            const int left = x0 + static_cast<int>(static_cast<std::int64_t>(x) * (x1 - x0) / width);
            const int right = std::max(left + 1, x0 + static_cast<int>(static_cast<std::int64_t>(x + 1) * (x1 - x0) / width));
            std::uint64_t sum[4] = {};
            for (int sy = top; sy < bottom; ++sy)
                for (int sx = left; sx < right; ++sx)
                    for (int c = 0; c < 4; ++c) sum[c] += at(sx, sy)[c];
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * static_cast<std::uint64_t>(right - left);
            std::uint8_t mean[4];
            for (int c = 0; c < 4; ++c) mean[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
            row[x] = premultiplied(mean);
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

// Paints the image, whose pixels are the current user space, within the clip: a large one from
// the part in sight, reduced to the device pixels it covers.
void paintImage(cairo_t* cr, const UIImage& image, double alpha) {
    const int w = image.pixelWidth(), h = image.pixelHeight();
    if (static_cast<std::int64_t>(w) * h <= kLargestWholeSurface && w <= kLongestSurfaceSide &&
        h <= kLongestSurfaceSide) {
        cairo_surface_t* s = surfaceOf(image);
        if (!s) return;
        cairo_set_source_surface(cr, s, 0, 0);
        cairo_paint_with_alpha(cr, alpha);
        cairo_surface_destroy(s);
        return;
    }
    if (w <= 0 || h <= 0 || !image.decodes()) return;
    double cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
    cairo_clip_extents(cr, &cx0, &cy0, &cx1, &cy1);
    const int x0 = std::clamp(static_cast<int>(std::floor(cx0)), 0, w), y0 = std::clamp(static_cast<int>(std::floor(cy0)), 0, h);
    const int x1 = std::clamp(static_cast<int>(std::ceil(cx1)), 0, w), y1 = std::clamp(static_cast<int>(std::ceil(cy1)), 0, h);
    if (x1 <= x0 || y1 <= y0) return;
    double dx = 1, dy = 0, ex = 0, ey = 1;
    cairo_user_to_device_distance(cr, &dx, &dy);
    cairo_user_to_device_distance(cr, &ex, &ey);
    const double perPixelX = std::min(1.0, std::hypot(dx, dy)), perPixelY = std::min(1.0, std::hypot(ex, ey));
    const int width = std::clamp(static_cast<int>(std::ceil((x1 - x0) * perPixelX)), 1, kLongestSurfaceSide);
    const int height = std::clamp(static_cast<int>(std::ceil((y1 - y0) * perPixelY)), 1, kLongestSurfaceSide);
    cairo_surface_t* s = reducedSurfaceOf(image, x0, y0, x1, y1, width, height);
    if (!s) return;
    cairo_save(cr);
    cairo_translate(cr, x0, y0);
    cairo_scale(cr, static_cast<double>(x1 - x0) / width, static_cast<double>(y1 - y0) / height);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

void drawImage(cairo_t* cr, const std::shared_ptr<UIImage>& image, const CGRect& box, UIViewContentMode mode,
               double alpha) {
    if (!image || image->pixelWidth() <= 0 || image->pixelHeight() <= 0) return;
    const CGSize size = image->size();
    double sx = box.size.width / std::max(1.0, size.width), sy = box.size.height / std::max(1.0, size.height);
    CGRect target = box;
    switch (mode) {
        case UIViewContentModeScaleToFill: break;
        case UIViewContentModeScaleAspectFit:
        case UIViewContentModeScaleAspectFill: {
            const double k = mode == UIViewContentModeScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
            sx = sy = k;
            target.size = {size.width * k, size.height * k};
            target.origin = {box.origin.x + (box.size.width - target.size.width) / 2,
                             box.origin.y + (box.size.height - target.size.height) / 2};
            break;
        }
        default:
            sx = sy = 1;
            target.size = size;
            target.origin = {box.origin.x + (box.size.width - size.width) / 2,
                             box.origin.y + (box.size.height - size.height) / 2};
    }
    cairo_save(cr);
    cairo_rectangle(cr, box.origin.x, box.origin.y, box.size.width, box.size.height);
    cairo_clip(cr);
    cairo_translate(cr, target.origin.x, target.origin.y);
    // Pixels to points, then to the target size.
    cairo_scale(cr, sx * size.width / image->pixelWidth(), sy * size.height / image->pixelHeight());
    paintImage(cr, *image, alpha);
    cairo_restore(cr);
}

// The words of a line and the spaces between them.
std::vector<std::string> wordsOf(const std::string& line) {
    std::vector<std::string> words;
    std::size_t from = 0;
    while (from < line.size()) {
        const std::size_t space = line.find(' ', from);
        const std::size_t end = space == std::string::npos ? line.size() : space;
        if (end > from) words.push_back(line.substr(from, end - from));
        from = end + 1;
    }
    return words;
}

// One line at `x` on the baseline `baseline`, `width` points wide at most: cairo's glyphs are
// wider or narrower than the fixed metrics the layout broke the lines with, so a line that
// would run past its box is condensed into it, and a justified one is spread to fill it.
void showLine(const Canvas& canvas, const std::string& line, double x, double baseline, double width, bool justify) {
    cairo_t* cr = canvas.cr;
    cairo_text_extents_t ext;
    cairo_text_extents(cr, line.c_str(), &ext);
    const auto words = justify ? wordsOf(line) : std::vector<std::string>{};
    if (words.size() > 1) {
        double inked = 0;
        std::vector<double> advances;
        for (const auto& word : words) {
            cairo_text_extents_t w;
            cairo_text_extents(cr, word.c_str(), &w);
            advances.push_back(w.x_advance);
            inked += w.x_advance;
        }
        cairo_text_extents_t space;
        cairo_text_extents(cr, " ", &space);
        const double gaps = static_cast<double>(words.size() - 1);
        // Spread to the width; where the words alone are wider, condensed with plain spaces.
        const double gap = std::max(space.x_advance, (width - inked) / gaps);
        const double scale = std::min(1.0, width / std::max(1e-9, inked + gap * gaps));
        cairo_save(cr);
        cairo_translate(cr, x, baseline);
        cairo_scale(cr, scale, 1);
        double at = 0;
        for (std::size_t i = 0; i < words.size(); ++i) {
            cairo_move_to(cr, at, 0);
            cairo_show_text(cr, words[i].c_str());
            at += advances[i] + gap;
        }
        cairo_restore(cr);
        canvas.noteLine(line, CGRectMake(x, baseline - ext.height, std::min(width, (at - gap) * scale), ext.height));
        return;
    }
    const double scale = ext.x_advance > width && ext.x_advance > 0 ? width / ext.x_advance : 1.0;
    cairo_save(cr);
    cairo_translate(cr, x, baseline);
    cairo_scale(cr, scale, 1);
    cairo_move_to(cr, 0, 0);
    cairo_show_text(cr, line.c_str());
    cairo_restore(cr);
    canvas.noteLine(line, CGRectMake(x, baseline - ext.height, ext.x_advance * scale, ext.height));
}

// `spreadLast`: a justified last line is spread too (a view that draws itself says which of its
// lines end a paragraph).
void drawLines(const Canvas& canvas, const std::vector<std::string>& lines, const std::shared_ptr<UIFont>& font,
               const std::shared_ptr<UIColor>& color, const CGRect& box, NSTextAlignment alignment, double alpha,
               bool spreadLast = false) {
    if (lines.empty() || !font) return;
    cairo_t* cr = canvas.cr;
    // A font named by family (a page's) is looked up by that family; the system font is sans-serif.
    const std::string& family = font->familyName();
    cairo_select_font_face(cr, family.empty() || family[0] == '.' ? "sans-serif" : family.c_str(),
                           CAIRO_FONT_SLANT_NORMAL, font->isBold() ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font->pointSize());
    setColor(cr, color ? color : UIColor::blackColor(), alpha);
    const double lineHeight = font->lineHeight();
    double y = box.origin.y + (box.size.height - lineHeight * static_cast<double>(lines.size())) / 2;
    cairo_save(cr);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        cairo_text_extents_t ext;
        cairo_text_extents(cr, l.c_str(), &ext);
        const double advance = std::min(ext.x_advance, box.size.width);
        double x = box.origin.x;
        if (alignment == NSTextAlignmentCenter) x += (box.size.width - advance) / 2;
        else if (alignment == NSTextAlignmentRight) x += box.size.width - advance;
        // The last line of a justified paragraph keeps its spaces.
        const bool justify = alignment == NSTextAlignmentJustified && (i + 1 < lines.size() || spreadLast);
        showLine(canvas, l, x, y + font->ascender(), box.size.width, justify);
        y += lineHeight;
    }
    cairo_restore(cr);
}

// Text that is not a label's: up to `lines` lines wrapped to the box (one: not wrapped). Only
// what the box can show is laid out; cairo's glyphs may be narrower than the layout's, so a
// line is read to twice the box's width.
void drawText(const Canvas& canvas, const std::string& text, const std::shared_ptr<UIFont>& font,
              const std::shared_ptr<UIColor>& color, const CGRect& box, NSTextAlignment alignment, int lines,
              double alpha) {
    if (text.empty() || !font || lines <= 0) return;
    drawLines(canvas,
              NSStringLayoutLines(text, font, lines == 1 ? 0 : box.size.width, NSLineBreakByWordWrapping,
                                  static_cast<std::size_t>(lines), 2 * box.size.width),
              font, color, box, alignment, alpha);
}

void drawView(const Canvas& canvas, const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& window,
              double alpha);

std::shared_ptr<UIColor> tintOf(const UIView& view) {
    auto tint = view.tintColor();
    return tint ? tint : UIColor::systemBlueColor();
}

// Text drawn and listed as drawn.
void drawCaption(const Canvas& canvas, const std::string& kind, const std::string& text,
                 const std::shared_ptr<UIFont>& font, const std::shared_ptr<UIColor>& color, const CGRect& box,
                 NSTextAlignment alignment, double alpha) {
    drawText(canvas, text, font, color, box, alignment, 1, alpha);
    canvas.note(kind, box, text);
}

// Segments are drawn by the control itself, not by subviews: an outline in the tint colour,
// the selected segment filled, titles or images centred in each segment.
void drawSegments(const Canvas& canvas, const UISegmentedControl& control, const CGRect& r, double alpha) {
    cairo_t* cr = canvas.cr;
    const auto tint = tintOf(control);
    cairo_save(cr);
    cairo_set_line_width(cr, 1);
    for (std::size_t i = 0; i < control.numberOfSegments(); ++i) {
        CGRect seg = control.frameForSegmentAtIndex(i);
        seg.origin = {r.origin.x + seg.origin.x - control.bounds().origin.x,
                      r.origin.y + seg.origin.y - control.bounds().origin.y};
        const bool on = static_cast<int>(i) == control.selectedSegmentIndex();
        if (on) {
            cairo_rectangle(cr, seg.origin.x, seg.origin.y, seg.size.width, seg.size.height);
            setColor(cr, tint, alpha);
            cairo_fill(cr);
        }
        if (auto image = control.imageForSegmentAtIndex(i)) {
            drawImage(cr, image, seg, UIViewContentModeCenter, alpha);
            canvas.note("segment", seg);
        } else {
            drawCaption(canvas, "segment", control.titleForSegmentAtIndex(i), control.titleFont(),
                        on ? UIColor::whiteColor() : tint, seg, NSTextAlignmentCenter, alpha);
        }
        if (i > 0) {
            cairo_move_to(cr, seg.origin.x, seg.origin.y);
            cairo_line_to(cr, seg.origin.x, seg.origin.y + seg.size.height);
        }
    }
    roundedRect(cr, CGRectInset(r, 0.5, 0.5), 4);
    setColor(cr, tint, alpha);
    cairo_stroke(cr);
    cairo_restore(cr);
}

// A track with the part up to the value in the tint colour, and a round white thumb there.
void drawSlider(const Canvas& canvas, const UISlider& slider, const CGRect& r, double alpha) {
    cairo_t* cr = canvas.cr;
    constexpr double kThumb = 28;
    const double range = slider.maximumValue() - slider.minimumValue();
    const double fraction = range > 0 ? (slider.value() - slider.minimumValue()) / range : 0;
    const double left = r.origin.x + kThumb / 2, right = CGRectGetMaxX(r) - kThumb / 2;
    const double x = left + (right - left) * std::clamp(fraction, 0.0, 1.0);
    const double y = CGRectGetMidY(r);
    cairo_save(cr);
    const auto minTint = slider.minimumTrackTintColor() ? slider.minimumTrackTintColor() : tintOf(slider);
    const auto maxTint = slider.maximumTrackTintColor() ? slider.maximumTrackTintColor() : UIColor::lightGrayColor();
    roundedRect(cr, CGRectMake(left, y - 2, std::max(0.0, x - left), 4), 2);
    setColor(cr, minTint, alpha);
    cairo_fill(cr);
    roundedRect(cr, CGRectMake(x, y - 2, std::max(0.0, right - x), 4), 2);
    setColor(cr, maxTint, alpha);
    cairo_fill(cr);
    if (auto thumb = slider.thumbImageForState(slider.state())) {
        const CGRect box = CGRectMake(x - kThumb / 2, y - kThumb / 2, kThumb, kThumb);
        drawImage(cr, thumb, box, UIViewContentModeCenter, alpha);
    } else {
        cairo_arc(cr, x, y, kThumb / 2 - 0.5, 0, 2 * M_PI);
        cairo_set_source_rgba(cr, 1, 1, 1, alpha);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 0.6, 0.6, 0.6, alpha);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
    canvas.note("slider", r);
}

// A pill, filled in the on colour when on and outlined when off, with its knob at that end.
void drawSwitch(const Canvas& canvas, const UISwitch& control, const CGRect& r, double alpha) {
    cairo_t* cr = canvas.cr;
    const auto onTint = control.onTintColor() ? control.onTintColor() : UIColor::colorWithRed(0.2, 0.78, 0.35, 1);
    const double radius = r.size.height / 2;
    cairo_save(cr);
    roundedRect(cr, CGRectInset(r, 0.5, 0.5), radius);
    if (control.isOn()) {
        setColor(cr, onTint, alpha);
        cairo_fill(cr);
    } else {
        cairo_set_source_rgba(cr, 0.85, 0.85, 0.85, alpha);
        cairo_set_line_width(cr, 1.5);
        cairo_stroke(cr);
    }
    const double knobX = control.isOn() ? CGRectGetMaxX(r) - radius : r.origin.x + radius;
    cairo_arc(cr, knobX, CGRectGetMidY(r), radius - 2, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, 1, 1, 1, alpha);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 0.7, 0.7, 0.7, alpha);
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
    cairo_restore(cr);
    canvas.note("switch", r, control.isOn() ? "on" : "off");
}

// The bar behind, and the rounded field with the typed text or the placeholder, left of the
// Cancel button when the bar shows it.
void drawSearchBar(const Canvas& canvas, const UISearchBar& bar, const CGRect& r, double alpha) {
    cairo_t* cr = canvas.cr;
    cairo_save(cr);
    if (!bar.backgroundColor()) {
        cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
        if (auto tint = bar.barTintColor()) setColor(cr, tint, alpha);
        else cairo_set_source_rgba(cr, 0.97, 0.97, 0.97, alpha);
        cairo_fill(cr);
    }
    const auto font = UIFont::systemFontOfSize(17);
    double fieldRight = CGRectGetMaxX(r) - 8;
    if (auto cancel = bar.cancelButton()) fieldRight = r.origin.x + cancel->frame().origin.x - bar.bounds().origin.x - 8;
    const CGRect field =
        CGRectMake(r.origin.x + 8, CGRectGetMidY(r) - 18, std::max(0.0, fieldRight - r.origin.x - 8), 36);
    roundedRect(cr, field, 10);
    cairo_set_source_rgba(cr, 0.89, 0.89, 0.91, alpha);
    cairo_fill(cr);
    // The magnifier.
    cairo_set_source_rgba(cr, 0.55, 0.55, 0.58, alpha);
    cairo_set_line_width(cr, 1.5);
    cairo_arc(cr, field.origin.x + 16, CGRectGetMidY(field) - 1, 5, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_move_to(cr, field.origin.x + 19.5, CGRectGetMidY(field) + 2.5);
    cairo_line_to(cr, field.origin.x + 23, CGRectGetMidY(field) + 6);
    cairo_stroke(cr);
    cairo_restore(cr);
    const bool empty = bar.text().empty();
    const std::string shown = empty ? (bar.placeholder().empty() ? "Search" : bar.placeholder()) : bar.text();
    drawText(canvas, shown, font, empty ? UIColor::grayColor() : UIColor::blackColor(),
             CGRectMake(field.origin.x + 30, field.origin.y, std::max(0.0, field.size.width - 36), field.size.height),
             NSTextAlignmentLeft, 1, alpha);
    canvas.note("search bar", r, bar.text());
}

// A path of the recording context as a cairo path.
void addPath(cairo_t* cr, const CGPath& path) {
    for (const auto& e : path.elements) {
        switch (e.kind) {
            case CGPathElement::Kind::MoveTo: cairo_move_to(cr, e.point.x, e.point.y); break;
            case CGPathElement::Kind::LineTo:
                if (cairo_has_current_point(cr)) cairo_line_to(cr, e.point.x, e.point.y);
                else cairo_move_to(cr, e.point.x, e.point.y);
                break;
            case CGPathElement::Kind::Arc:
                // Not clockwise in the platform's flipped coordinates is clockwise on the screen,
                // which is cairo's positive direction.
                if (e.clockwise) cairo_arc_negative(cr, e.point.x, e.point.y, e.radius, e.startAngle, e.endAngle);
                else cairo_arc(cr, e.point.x, e.point.y, e.radius, e.startAngle, e.endAngle);
                break;
            case CGPathElement::Kind::Rect:
                cairo_rectangle(cr, e.rect.origin.x, e.rect.origin.y, e.rect.size.width, e.rect.size.height);
                break;
            case CGPathElement::Kind::Ellipse:
                if (e.rect.size.width <= 0 || e.rect.size.height <= 0) break;
                cairo_new_sub_path(cr);
                cairo_save(cr);
                cairo_translate(cr, CGRectGetMidX(e.rect), CGRectGetMidY(e.rect));
                cairo_scale(cr, e.rect.size.width / 2, e.rect.size.height / 2);
                cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
                cairo_restore(cr);
                break;
            case CGPathElement::Kind::RoundedRect:
                roundedRect(cr, e.rect, e.radius);
                break;
            case CGPathElement::Kind::Close: cairo_close_path(cr); break;
        }
    }
}

// What a view drew itself in its drawRect (a badge, a close button), replayed from the
// recording its last display made, in the view's own coordinates.
void drawRecorded(const Canvas& canvas, const UIView& view, const CGRect& r, double alpha) {
    const auto drawing = view.lastDrawing();
    if (!drawing || drawing->operations().empty()) return;
    cairo_t* cr = canvas.cr;
    using Kind = CGContext::Operation::Kind;
    struct Paint {
        std::shared_ptr<UIColor> fill = UIColor::blackColor(), stroke = UIColor::blackColor();
        double alpha = 1;
    };
    Paint paint;
    std::vector<Paint> saved;
    auto fillWith = [&](const std::shared_ptr<UIColor>& color) {
        setColor(cr, color ? color : paint.fill, alpha * paint.alpha);
    };
    cairo_save(cr);
    cairo_translate(cr, r.origin.x - view.bounds().origin.x, r.origin.y - view.bounds().origin.y);
    bool drewAny = false;
    for (const auto& op : drawing->operations()) {
        switch (op.kind) {
            case Kind::SetFillColor: paint.fill = op.color; break;
            case Kind::SetStrokeColor: paint.stroke = op.color; break;
            case Kind::SetLineWidth: cairo_set_line_width(cr, op.value); break;
            case Kind::SetLineCap: {
                const auto cap = static_cast<CGLineCap>(static_cast<int>(op.value));
                cairo_set_line_cap(cr, cap == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                                       : cap == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                                 : CAIRO_LINE_CAP_BUTT);
                break;
            }
            case Kind::SetAlpha: paint.alpha = op.value; break;
            case Kind::FillPath:
            case Kind::StrokePath:
            case Kind::DrawPath: {
                cairo_new_path(cr);
                addPath(cr, op.path);
                cairo_set_line_width(cr, op.value > 0 ? op.value : 1);
                const bool fill = op.mode != kCGPathStroke;
                const bool stroke = op.mode == kCGPathStroke || op.mode == kCGPathFillStroke || op.mode == kCGPathEOFillStroke;
                cairo_set_fill_rule(cr, op.mode == kCGPathEOFill || op.mode == kCGPathEOFillStroke
                                            ? CAIRO_FILL_RULE_EVEN_ODD
                                            : CAIRO_FILL_RULE_WINDING);
                if (fill) {
                    fillWith(op.kind == Kind::StrokePath ? paint.fill : op.color);
                    cairo_fill_preserve(cr);
                }
                if (stroke) {
                    setColor(cr, op.mode == kCGPathStroke && op.color ? op.color : paint.stroke, alpha * paint.alpha);
                    cairo_stroke_preserve(cr);
                }
                cairo_new_path(cr);
                drewAny = true;
                break;
            }
            case Kind::FillRect:
            case Kind::StrokeRect:
                cairo_new_path(cr);
                cairo_rectangle(cr, op.rect.origin.x, op.rect.origin.y, op.rect.size.width, op.rect.size.height);
                if (op.kind == Kind::FillRect) {
                    fillWith(op.color);
                    cairo_fill(cr);
                } else {
                    setColor(cr, op.color ? op.color : paint.stroke, alpha * paint.alpha);
                    cairo_set_line_width(cr, op.value > 0 ? op.value : 1);
                    cairo_stroke(cr);
                }
                drewAny = true;
                break;
            case Kind::DrawImage:
                drawImage(cr, op.image, op.rect, UIViewContentModeScaleToFill, alpha * paint.alpha);
                drewAny = true;
                break;
            case Kind::DrawText:
                drawLines(canvas, {op.text}, op.font, op.color, op.rect, op.alignment, alpha * paint.alpha, true);
                drewAny = true;
                break;
            case Kind::SaveState:
                cairo_save(cr);
                saved.push_back(paint);
                break;
            case Kind::RestoreState:
                if (saved.empty()) break;
                cairo_restore(cr);
                paint = saved.back();
                saved.pop_back();
                break;
            case Kind::TranslateCTM: cairo_translate(cr, op.point.x, op.point.y); break;
            case Kind::ScaleCTM:
                if (op.point.x != 0 && op.point.y != 0) cairo_scale(cr, op.point.x, op.point.y);
                break;
            case Kind::ClipToRect:
                cairo_new_path(cr);
                cairo_rectangle(cr, op.rect.origin.x, op.rect.origin.y, op.rect.size.width, op.rect.size.height);
                cairo_clip(cr);
                break;
            // The path is taken from the paint that uses it; a cleared area shows what is behind.
            default: break;
        }
    }
    while (!saved.empty()) {
        cairo_restore(cr);
        saved.pop_back();
    }
    cairo_restore(cr);
    if (drewAny) canvas.note("drawing", r);
}

// The box a field's border style asks for: a white rounded box with a thin grey edge, a dark
// line round it, or a grey bezel; none draws nothing.
void drawFieldBox(cairo_t* cr, UITextBorderStyle style, const CGRect& r, double alpha) {
    if (style == UITextBorderStyleNone) return;
    cairo_save(cr);
    const bool rounded = style == UITextBorderStyleRoundedRect;
    if (rounded) {
        roundedRect(cr, r, 5);
        cairo_set_source_rgba(cr, 1, 1, 1, alpha);
        cairo_fill(cr);
    }
    roundedRect(cr, CGRectInset(r, 0.5, 0.5), rounded ? 5 : 0);
    const double grey = style == UITextBorderStyleLine ? 0.2 : rounded ? 0.75 : 0.55;
    cairo_set_source_rgba(cr, grey, grey, grey, alpha);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void drawView(const Canvas& canvas, const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& window,
              double alpha) {
    cairo_t* cr = canvas.cr;
    if (!simSeen(*view)) return;
    if (auto alert = std::dynamic_pointer_cast<UIAlertController>(view->viewController());
        alert && alert->viewIfLoaded() == view && view.get() != canvas.alertInFront)
        return;
    // A view fading out is drawn as far as its fade has gone; one coming in as it ends, as the
    // text lists it from the start.
    alpha *= std::max(view->alpha(), view->presentationAlpha());
    // A disabled button is drawn faded, as the platform dims its image (a pager's arrow at an end).
    if (auto button = std::dynamic_pointer_cast<UIButton>(view); button && !button->isEnabled()) alpha *= 0.35;
    const CGRect r = view->convertRectToView(view->bounds(), window);
    const auto layer = view->layer();
    const double radius = layer->cornerRadius();
    cairo_save(cr);
    if (auto bg = view->backgroundColor()) {
        roundedRect(cr, r, radius);
        setColor(cr, bg, alpha);
        cairo_fill(cr);
    }
    if (view->clipsToBounds() || layer->masksToBounds()) {
        roundedRect(cr, r, radius);
        cairo_clip(cr);
    }
    if (auto iv = std::dynamic_pointer_cast<UIImageView>(view)) {
        drawImage(cr, iv->currentImage(), r, view->contentMode(), alpha);
    } else if (auto label = std::dynamic_pointer_cast<UILabel>(view)) {
        // As the label lays itself out: the lines that fit, the last one truncated.
        auto font = label->font();
        if (label->effectiveFontSize() != font->pointSize()) font = font->fontWithSize(label->effectiveFontSize());
        const auto lines = label->visibleLines();
        drawLines(canvas, lines, font, label->textColor(), r, label->textAlignment(), alpha);
        if (!lines.empty()) canvas.note("text", r, label->text());
    } else if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
        drawFieldBox(cr, field->borderStyle(), r, alpha);
        const bool empty = field->text().empty();
        const std::string shown = empty ? field->placeholder() : field->text();
        drawText(canvas, shown, field->font(), empty ? UIColor::lightGrayColor() : field->textColor(),
                 CGRectInset(r, field->borderStyle() == UITextBorderStyleNone ? 4 : 7, 0), NSTextAlignmentLeft, 1,
                 alpha);
        canvas.note("field", r, shown);
    }
    // Labels and fields are drawn from their text above; any other view's own drawing is replayed.
    if (!std::dynamic_pointer_cast<UILabel>(view) && !std::dynamic_pointer_cast<UITextField>(view))
        drawRecorded(canvas, *view, r, alpha);
    if (auto segmented = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
        drawSegments(canvas, *segmented, r, alpha);
    } else if (auto slider = std::dynamic_pointer_cast<UISlider>(view)) {
        drawSlider(canvas, *slider, r, alpha);
    } else if (auto control = std::dynamic_pointer_cast<UISwitch>(view)) {
        drawSwitch(canvas, *control, r, alpha);
    } else if (auto search = std::dynamic_pointer_cast<UISearchBar>(view)) {
        drawSearchBar(canvas, *search, r, alpha);
    }
    if (auto button = std::dynamic_pointer_cast<UIButton>(view)) {
        // The button's own image and title label are subviews; an image without a view of
        // its own is drawn centred.
        if (button->subviews().empty()) {
            drawImage(cr, button->currentImage(), r, UIViewContentModeCenter, alpha);
            drawText(canvas, button->currentTitle(), UIFont::systemFontOfSize(18), button->currentTitleColor(), r,
                     NSTextAlignmentCenter, 1, alpha);
        }
    }
    for (const auto& sub : view->subviews()) drawView(canvas, sub, window, alpha);
    cairo_restore(cr);
    if (layer->borderWidth() > 0) {
        cairo_save(cr);
        roundedRect(cr, CGRectInset(r, layer->borderWidth() / 2, layer->borderWidth() / 2), radius);
        setColor(cr, layer->borderColor(), alpha);
        cairo_set_line_width(cr, layer->borderWidth());
        cairo_stroke(cr);
        cairo_restore(cr);
    }
}

// An alert view over the dimmed screen, in its window: the box where the alert laid it out (as
// tall as what it holds: no title, no room for one), the title and message at its top, and its
// buttons where they are, each under a rule.
void drawAlertView(const Canvas& canvas, const UIAlertView& alert) {
    cairo_t* cr = canvas.cr;
    auto alertWindow = alert.window();
    if (!alertWindow || alertWindow->subviews().empty()) return;
    cairo_set_source_rgba(cr, 0, 0, 0, 0.4);
    cairo_paint(cr);
    const auto boxView = alertWindow->subviews().front();
    const CGRect box = boxView->convertRectToView(boxView->bounds(), alertWindow);
    constexpr double kInner = 238;
    const auto titleFont = UIFont::boldSystemFontOfSize(17), messageFont = UIFont::systemFontOfSize(13);
    const auto titleLines = alert.title().empty() ? std::vector<std::string>{}
                                                  : NSStringLayoutLines(alert.title(), titleFont, kInner,
                                                                        NSLineBreakByWordWrapping, 3);
    const auto messageLines = alert.message().empty() ? std::vector<std::string>{}
                                                      : NSStringLayoutLines(alert.message(), messageFont, kInner,
                                                                            NSLineBreakByWordWrapping, 8);
    const double titleHeight = titleFont->lineHeight() * static_cast<double>(titleLines.size());
    const double messageHeight = messageFont->lineHeight() * static_cast<double>(messageLines.size());
    roundedRect(cr, box, 13);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
    cairo_fill(cr);
    double y = box.origin.y + 20;
    if (!titleLines.empty()) {
        drawLines(canvas, titleLines, titleFont, UIColor::blackColor(),
                  CGRectMake(box.origin.x + 16, y, kInner, titleHeight), NSTextAlignmentCenter, 1);
        canvas.note("text", CGRectMake(box.origin.x + 16, y, kInner, titleHeight), alert.title());
        y += titleHeight + 6;
    }
    if (!messageLines.empty())
        drawLines(canvas, messageLines, messageFont, UIColor::blackColor(),
                  CGRectMake(box.origin.x + 16, y, kInner, messageHeight), NSTextAlignmentCenter, 1);
    for (long i = 0; i < alert.numberOfButtons(); ++i) {
        auto button = alert.buttonAtIndex(i);
        if (!button || button->isHidden()) continue;
        const CGRect frame = button->convertRectToView(button->bounds(), alertWindow);
        cairo_set_source_rgba(cr, 0.75, 0.75, 0.78, 1);
        cairo_rectangle(cr, frame.origin.x, frame.origin.y, frame.size.width, 0.5);
        if (frame.origin.x > box.origin.x) cairo_rectangle(cr, frame.origin.x, frame.origin.y, 0.5, frame.size.height);
        cairo_fill(cr);
        drawCaption(canvas, "bar button", alert.buttonTitleAtIndex(i), UIFont::systemFontOfSize(17),
                    UIColor::systemBlueColor(), frame, NSTextAlignmentCenter, 1);
    }
}

// A window's views, where the window is on the screen.
void drawWindow(const Canvas& canvas, const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view) {
    cairo_save(canvas.cr);
    const CGRect f = window->frame();
    cairo_translate(canvas.cr, f.origin.x, f.origin.y);
    drawView(canvas, view, window, 1.0);
    cairo_restore(canvas.cr);
}

// The screen as it is now, drawn into a new surface, with one alert in front of it: the one
// the listing showed in front while that is up, else the one in front now. Those waiting
// behind it are not seen.
cairo_surface_t* drawScreen(std::vector<SimDrawnElement>* drawn, const std::shared_ptr<NSObject>& listedInFront) {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const int width = static_cast<int>(std::lround(screen.size.width));
    const int height = static_cast<int>(std::lround(screen.size.height));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    const auto up = SimScreen::alertsUp();
    const bool listedUp = listedInFront && std::find(up.begin(), up.end(), listedInFront) != up.end();
    const auto front = listedUp ? listedInFront : up.empty() ? nullptr : up.back();
    Canvas canvas{cr, drawn};
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    // An application in the background has nothing on the screen, as its text screen says.
    const auto app = UIApplication::sharedApplication();
    if (app && app->applicationState() == UIApplicationState::Background) {
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        return surface;
    }
    if (app) {
        auto windows = app->windows();
        std::stable_sort(windows.begin(), windows.end(),
                         [](const auto& a, const auto& b) { return a->windowLevel() < b->windowLevel(); });
        for (const auto& window : windows) {
            if (window->isHidden() || window->screen() != UIScreen::mainScreen()) continue;
            drawWindow(canvas, window, window);
        }
    }
    if (auto controller = std::dynamic_pointer_cast<UIAlertController>(front)) {
        // Its own view dims the screen under its box.
        const auto view = controller->view();
        canvas.alertInFront = view.get();
        if (auto window = view->window()) drawWindow(canvas, window, view);
    } else if (auto alert = std::dynamic_pointer_cast<UIAlertView>(front)) {
        drawAlertView(canvas, *alert);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
}

// The surface's pixels as straight RGBA, for the JPEG encoder.
std::vector<std::uint8_t> rgbaOf(cairo_surface_t* surface) {
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            auto straight = [a](std::uint32_t c) {
                return static_cast<std::uint8_t>(a ? std::min(255u, c * 255 / a) : 0);
            };
            std::uint8_t* o = &out[(static_cast<std::size_t>(y) * w + x) * 4];
            o[0] = straight((p >> 16) & 0xff);
            o[1] = straight((p >> 8) & 0xff);
            o[2] = straight(p & 0xff);
            o[3] = static_cast<std::uint8_t>(a);
        }
    }
    return out;
}

bool writeSurface(cairo_surface_t* surface, const std::string& path, bool jpeg, std::string& error) {
    if (!jpeg) {
        const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
        if (status != CAIRO_STATUS_SUCCESS) {
            error = "could not write " + simPrintable(path) + ": " + cairo_status_to_string(status);
            return false;
        }
        return true;
    }
    const auto image = UIImage::imageWithPixels(rgbaOf(surface), cairo_image_surface_get_width(surface),
                                                cairo_image_surface_get_height(surface), 1);
    const NSData bytes = image ? UIImageJPEGRepresentation(image, 0.9) : NSData();
    if (bytes.empty()) {
        error = "could not encode the picture as JPEG for " + simPrintable(path);
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "could not write " + simPrintable(path);
        return false;
    }
    return true;
}

bool render(const std::string& path, bool jpeg, std::string& error, std::vector<SimDrawnElement>* drawn,
            const std::shared_ptr<NSObject>& listedInFront) {
    if (drawn) drawn->clear();
    cairo_surface_t* surface = drawScreen(drawn, listedInFront);
    const bool ok = writeSurface(surface, path, jpeg, error);
    cairo_surface_destroy(surface);
    return ok;
}

}  // namespace

bool SimRenderer::write(const std::string& path, std::string& error, std::vector<SimDrawnElement>* drawn,
                        const std::shared_ptr<NSObject>& listedInFront) {
    const std::string format = SimCommand::shotFormat(path);
    if (format.empty()) {
        error = "a shot is written as PNG or JPEG: name the file .png, .jpg or .jpeg (not " + simPrintable(path) + ")";
        return false;
    }
    return render(path, format == "jpeg", error, drawn, listedInFront);
}

bool SimRenderer::writePNG(const std::string& path, std::string& error, std::vector<SimDrawnElement>* drawn,
                           const std::shared_ptr<NSObject>& listedInFront) {
    return render(path, false, error, drawn, listedInFront);
}

void SimRenderer::releaseCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}
