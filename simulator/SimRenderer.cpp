// Drawing the view tree with cairo: each view in window coordinates, clipped like the tree.
#include "simulator/SimRenderer.h"

#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

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

// The image's pixels as a cairo surface (premultiplied, native byte order).
cairo_surface_t* surfaceOf(const UIImage& image) {
    const int w = image.pixelWidth(), h = image.pixelHeight();
    if (w <= 0 || h <= 0) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const auto& px = image.rgbaPixels();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
        for (int x = 0; x < w; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * w + x) * 4;
            if (i + 3 >= px.size()) break;
            const std::uint32_t a = px[i + 3];
            const std::uint32_t r = px[i] * a / 255, g = px[i + 1] * a / 255, b = px[i + 2] * a / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

void drawImage(cairo_t* cr, const std::shared_ptr<UIImage>& image, const CGRect& box, UIViewContentMode mode,
               double alpha) {
    if (!image) return;
    cairo_surface_t* s = surfaceOf(*image);
    if (!s) return;
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
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

void drawLines(cairo_t* cr, const std::vector<std::string>& lines, const std::shared_ptr<UIFont>& font,
               const std::shared_ptr<UIColor>& color, const CGRect& box, NSTextAlignment alignment, double alpha) {
    if (lines.empty() || !font) return;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           font->isBold() ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font->pointSize());
    setColor(cr, color ? color : UIColor::blackColor(), alpha);
    const double lineHeight = font->lineHeight();
    double y = box.origin.y + (box.size.height - lineHeight * static_cast<double>(lines.size())) / 2;
    // Cairo's font is wider or narrower than the fixed metrics the layout used, so text is
    // not clipped to its own box (views that clip still clip it).
    cairo_save(cr);
    for (const auto& l : lines) {
        cairo_text_extents_t ext;
        cairo_text_extents(cr, l.c_str(), &ext);
        double x = box.origin.x;
        if (alignment == NSTextAlignmentCenter) x += (box.size.width - ext.x_advance) / 2;
        else if (alignment == NSTextAlignmentRight) x += box.size.width - ext.x_advance;
        cairo_move_to(cr, x, y + font->ascender());
        cairo_show_text(cr, l.c_str());
        y += lineHeight;
    }
    cairo_restore(cr);
}

// Text that is not a label's: up to `lines` lines wrapped to the box (one: not wrapped). Only
// what the box can show is laid out; cairo's glyphs may be narrower than the layout's, so a
// line is read to twice the box's width.
void drawText(cairo_t* cr, const std::string& text, const std::shared_ptr<UIFont>& font,
              const std::shared_ptr<UIColor>& color, const CGRect& box, NSTextAlignment alignment, int lines,
              double alpha) {
    if (text.empty() || !font || lines <= 0) return;
    drawLines(cr,
              NSStringLayoutLines(text, font, lines == 1 ? 0 : box.size.width, NSLineBreakByWordWrapping,
                                  static_cast<std::size_t>(lines), 2 * box.size.width),
              font, color, box, alignment, alpha);
}

void drawView(cairo_t* cr, const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& root, double alpha);

// Segments are drawn by the control itself, not by subviews: an outline in the tint colour,
// the selected segment filled, titles or images centred in each segment.
void drawSegments(cairo_t* cr, const UISegmentedControl& control, const CGRect& r, double alpha) {
    const auto tint = control.tintColor() ? control.tintColor() : UIColor::systemBlueColor();
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
        } else {
            drawText(cr, control.titleForSegmentAtIndex(i), control.titleFont(), on ? UIColor::whiteColor() : tint, seg,
                     NSTextAlignmentCenter, 1, alpha);
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

// A bar item that has no view of its own: its image, else its title, in the tint colour.
void drawBarItem(cairo_t* cr, const UIBarButtonItem& item, const std::shared_ptr<UIColor>& barTint, const CGRect& box,
                 double alpha) {
    if (item.isSpace()) return;
    auto tint = item.tintColor() ? item.tintColor() : barTint;
    if (!tint) tint = UIColor::systemBlueColor();
    if (!item.isEnabled()) tint = UIColor::lightGrayColor();
    if (auto image = item.image()) drawImage(cr, image, box, UIViewContentModeCenter, alpha);
    else drawText(cr, item.displayTitle(), UIFont::systemFontOfSize(17), tint, box, NSTextAlignmentCenter, 1, alpha);
}

// Toolbar items without a custom view are not views, so the bar draws them where it lays them out.
void drawToolbarItems(cairo_t* cr, const UIToolbar& bar, const CGRect& r, double alpha) {
    const auto frames = bar.itemFrames();
    const auto& items = bar.items();
    for (std::size_t i = 0; i < items.size() && i < frames.size(); ++i) {
        if (items[i]->customView()) continue;
        CGRect box = frames[i];
        box.origin = {r.origin.x + box.origin.x - bar.bounds().origin.x, r.origin.y + box.origin.y - bar.bounds().origin.y};
        drawBarItem(cr, *items[i], bar.tintColor(), box, alpha);
    }
}

// The top item's bar buttons: left ones from the left edge, right ones from the right edge.
// Custom views that the bar does not hold as subviews are drawn in their slot.
void drawNavigationItems(cairo_t* cr, const UINavigationBar& bar, const CGRect& r, double alpha) {
    auto top = bar.topItem();
    if (!top) return;
    constexpr double kInset = 8;
    auto place = [&](const std::shared_ptr<UIBarButtonItem>& item, double x) {
        const double w = UIToolbar::naturalWidth(*item);
        double h = r.size.height;
        auto view = item->customView();
        if (view) h = std::min(h, view->frame().size.height);
        const CGRect box = CGRectMake(x, r.origin.y + (r.size.height - h) / 2, w, h);
        if (!view) {
            drawBarItem(cr, *item, bar.tintColor(), box, alpha);
        } else if (!view->isDescendantOfView(&bar)) {
            cairo_save(cr);
            cairo_translate(cr, box.origin.x - view->bounds().origin.x, box.origin.y - view->bounds().origin.y);
            drawView(cr, view, view, alpha);
            cairo_restore(cr);
        }
        return w;
    };
    double x = r.origin.x + kInset;
    for (const auto& item : top->leftBarButtonItems()) x += place(item, x) + kInset;
    double right = r.origin.x + r.size.width - kInset;
    for (const auto& item : top->rightBarButtonItems()) {
        right -= UIToolbar::naturalWidth(*item);
        place(item, right);
        right -= kInset;
    }
}

void drawView(cairo_t* cr, const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& window, double alpha) {
    if (view->isHidden() || view->alpha() < 0.01) return;
    alpha *= view->alpha();
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
        drawLines(cr, label->visibleLines(), font, label->textColor(), r, label->textAlignment(), alpha);
    } else if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
        const bool empty = field->text().empty();
        drawText(cr, empty ? field->placeholder() : field->text(), field->font(),
                 empty ? UIColor::lightGrayColor() : field->textColor(), CGRectInset(r, 4, 0), NSTextAlignmentLeft, 1,
                 alpha);
    }
    if (auto segmented = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
        drawSegments(cr, *segmented, r, alpha);
    } else if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view)) {
        drawToolbarItems(cr, *toolbar, r, alpha);
    } else if (auto navBar = std::dynamic_pointer_cast<UINavigationBar>(view)) {
        drawNavigationItems(cr, *navBar, r, alpha);
    }
    if (auto button = std::dynamic_pointer_cast<UIButton>(view)) {
        // The button's own image and title label are subviews; an image without a view of
        // its own is drawn centred.
        if (button->subviews().empty()) {
            drawImage(cr, button->currentImage(), r, UIViewContentModeCenter, alpha);
            drawText(cr, button->currentTitle(), UIFont::systemFontOfSize(18), button->currentTitleColor(), r,
                     NSTextAlignmentCenter, 1, alpha);
        }
    }
    for (const auto& sub : view->subviews()) drawView(cr, sub, window, alpha);
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

}  // namespace

bool SimRenderer::writePNG(const std::string& path, std::string& error) {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const int width = static_cast<int>(std::lround(screen.size.width));
    const int height = static_cast<int>(std::lround(screen.size.height));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    if (auto app = UIApplication::sharedApplication()) {
        auto windows = app->windows();
        std::stable_sort(windows.begin(), windows.end(),
                         [](const auto& a, const auto& b) { return a->windowLevel() < b->windowLevel(); });
        for (const auto& window : windows) {
            if (window->isHidden() || window->screen() != UIScreen::mainScreen()) continue;
            cairo_save(cr);
            const CGRect f = window->frame();
            cairo_translate(cr, f.origin.x, f.origin.y);
            drawView(cr, window, window, 1.0);
            cairo_restore(cr);
        }
    }
    // Older alerts float above everything.
    for (const auto& alert : UIAlertView::visibleAlertViews()) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0.4);
        cairo_paint(cr);
        const CGRect box = CGRectMake((width - 270) / 2.0, height / 2.0 - 70, 270, 140);
        roundedRect(cr, box, 13);
        cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
        cairo_fill(cr);
        drawText(cr, alert->title(), UIFont::boldSystemFontOfSize(17), UIColor::blackColor(),
                 CGRectMake(box.origin.x + 16, box.origin.y + 10, 238, 30), NSTextAlignmentCenter, 1, 1);
        drawText(cr, alert->message(), UIFont::systemFontOfSize(13), UIColor::blackColor(),
                 CGRectMake(box.origin.x + 16, box.origin.y + 40, 238, 50), NSTextAlignmentCenter, 3, 1);
        std::string buttons;
        for (long i = 0; i < alert->numberOfButtons(); ++i) buttons += (i ? "   " : "") + alert->buttonTitleAtIndex(i);
        drawText(cr, buttons, UIFont::systemFontOfSize(17), UIColor::systemBlueColor(),
                 CGRectMake(box.origin.x + 16, box.origin.y + 96, 238, 36), NSTextAlignmentCenter, 1, 1);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = "could not write " + path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}

void SimRenderer::releaseCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}
