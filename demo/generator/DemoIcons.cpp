// Icons drawn in point coordinates on a supersampled canvas: each shape is an inside test, and
// a pixel's coverage is the share of its 4×4 samples inside.
#include "demo/generator/DemoIcons.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>

namespace {

using Shape = std::function<bool(double, double)>;

struct Colour {
    double r, g, b, a;
};
// The bars' tint (dark grey), so the icons read the same as the tinted titles beside them.
constexpr Colour kInk{85 / 255.0, 85 / 255.0, 85 / 255.0, 1};
constexpr Colour kLight{184 / 255.0, 184 / 255.0, 184 / 255.0, 1};
constexpr Colour kWhite{1, 1, 1, 1};

struct Point {
    double x, y;
};

class Canvas {
public:
    Canvas(int width, int height, int scale)
        : width_(width * scale), height_(height * scale), scale_(scale),
          pixels_(static_cast<std::size_t>(width_) * height_ * 4, 0.0) {}

    // Source-over with the coverage of `shape`; premultiplied while drawing.
    void fill(const Shape& shape, Colour colour) {
        paint(shape, [&](double* px, double coverage) {
            const double a = colour.a * coverage;
            px[0] = colour.r * a + px[0] * (1 - a);
            px[1] = colour.g * a + px[1] * (1 - a);
            px[2] = colour.b * a + px[2] * (1 - a);
            px[3] = a + px[3] * (1 - a);
        });
    }

    // Cuts the shape out, leaving it transparent.
    void erase(const Shape& shape) {
        paint(shape, [](double* px, double coverage) {
            for (int c = 0; c < 4; ++c) px[c] *= 1 - coverage;
        });
    }

    DemoPictures::ImageRGBA image() const {
        DemoPictures::ImageRGBA out{width_, height_, std::vector<std::uint8_t>(pixels_.size())};
        for (std::size_t i = 0; i < pixels_.size(); i += 4) {
            const double a = pixels_[i + 3];
            for (int c = 0; c < 3; ++c)
                out.rgba[i + c] = a > 0 ? static_cast<std::uint8_t>(std::lround(std::clamp(pixels_[i + c] / a, 0.0, 1.0) * 255)) : 0;
            out.rgba[i + 3] = static_cast<std::uint8_t>(std::lround(std::clamp(a, 0.0, 1.0) * 255));
        }
        return out;
    }

private:
    template <typename Blend>
    void paint(const Shape& shape, Blend blend) {
        constexpr int kSamples = 4;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                int inside = 0;
                for (int j = 0; j < kSamples; ++j)
                    for (int i = 0; i < kSamples; ++i)
                        inside += shape((x + (i + 0.5) / kSamples) / scale_, (y + (j + 0.5) / kSamples) / scale_);
                if (inside) blend(&pixels_[(static_cast<std::size_t>(y) * width_ + x) * 4],
                                  static_cast<double>(inside) / (kSamples * kSamples));
            }
    }

    int width_, height_, scale_;
    std::vector<double> pixels_;
};

// --- Shapes, in points ---------------------------------------------------------------------

Shape circle(double cx, double cy, double r) {
    return [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; };
}

Shape ring(double cx, double cy, double r, double width) {
    return [=](double x, double y) { return std::abs(std::hypot(x - cx, y - cy) - r) <= width / 2; };
}

// An ellipse with half-axes a and b turned by `angle` radians.
Shape ellipse(double cx, double cy, double a, double b, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return [=](double x, double y) {
        const double u = (x - cx) * c + (y - cy) * s, v = -(x - cx) * s + (y - cy) * c;
        return (u * u) / (a * a) + (v * v) / (b * b) <= 1;
    };
}

Shape ellipseRing(double cx, double cy, double a, double b, double width) {
    const auto outer = ellipse(cx, cy, a + width / 2, b + width / 2, 0);
    const auto inner = ellipse(cx, cy, a - width / 2, b - width / 2, 0);
    return [=](double x, double y) { return outer(x, y) && !inner(x, y); };
}

Shape roundedRect(double left, double top, double width, double height, double radius) {
    return [=](double x, double y) {
        if (x < left || y < top || x > left + width || y > top + height) return false;
        const double cx = std::clamp(x, left + radius, left + width - radius);
        const double cy = std::clamp(y, top + radius, top + height - radius);
        return std::hypot(x - cx, y - cy) <= radius;
    };
}

double distanceToSegment(double x, double y, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((x - a.x) * dx + (y - a.y) * dy) / length2, 0.0, 1.0) : 0;
    return std::hypot(x - (a.x + t * dx), y - (a.y + t * dy));
}

// A stroked open path with round caps and joins.
Shape polyline(std::vector<Point> points, double width) {
    return [points = std::move(points), width](double x, double y) {
        for (std::size_t i = 1; i < points.size(); ++i)
            if (distanceToSegment(x, y, points[i - 1], points[i]) <= width / 2) return true;
        return false;
    };
}

Shape line(Point a, Point b, double width) { return polyline({a, b}, width); }

// Even-odd filled polygon.
Shape polygon(std::vector<Point> points) {
    return [points = std::move(points)](double x, double y) {
        bool inside = false;
        for (std::size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const Point& p = points[i];
            const Point& q = points[j];
            if ((p.y > y) != (q.y > y) && x < (q.x - p.x) * (y - p.y) / (q.y - p.y) + p.x) inside = !inside;
        }
        return inside;
    };
}

std::vector<Point> starPoints(double cx, double cy, double outer, double inner) {
    std::vector<Point> points;
    for (int k = 0; k < 10; ++k) {
        const double angle = -std::numbers::pi / 2 + k * std::numbers::pi / 5;
        const double r = k % 2 ? inner : outer;
        points.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle)});
    }
    return points;
}

Shape both(Shape a, Shape b) {
    return [=](double x, double y) { return a(x, y) && b(x, y); };
}

Shape without(Shape a, Shape b) {
    return [=](double x, double y) { return a(x, y) && !b(x, y); };
}

// --- The icons -----------------------------------------------------------------------------

struct Icon {
    int width, height;
    std::function<void(Canvas&)> draw;
};

void star(Canvas& c) { c.fill(polygon(starPoints(11, 11.6, 9.6, 4.1)), kInk); }

// The letters "HD" of a 24 x 14 tag whose top-left corner is at (x0, y0).
Shape hdLetters(double x0, double y0) {
    return [=](double x, double y) {
        x -= x0;
        y -= y0;
        return line({5, 4}, {5, 10}, 1.6)(x, y) || line({10, 4}, {10, 10}, 1.6)(x, y) ||
               line({5, 7}, {10, 7}, 1.4)(x, y) || line({13.5, 4}, {13.5, 10}, 1.6)(x, y) ||
               (ring(15.5, 7, 3, 1.6)(x, y) && x >= 15.5) || line({13.5, 4.8}, {15.6, 4.8}, 1.6)(x, y) ||
               line({13.5, 9.2}, {15.6, 9.2}, 1.6)(x, y);
    };
}

// Two arrows chasing each other round a loop; a "1" inside for one track.
void repeat(Canvas& c, Colour colour, bool one) {
    c.fill(polyline({{8, 10}, {22, 10}}, 2.2), colour);
    c.fill(polygon({{20, 6.5}, {25, 10}, {20, 13.5}}), colour);
    c.fill(polyline({{22, 20}, {8, 20}}, 2.2), colour);
    c.fill(polygon({{10, 16.5}, {5, 20}, {10, 23.5}}), colour);
    if (one) c.fill(line({15, 12.5}, {15, 17.5}, 1.8), colour);
}

// Two crossing arrows.
void shuffle(Canvas& c, Colour colour) {
    c.fill(line({5, 9}, {21, 21}, 2.2), colour);
    c.fill(line({5, 21}, {21, 9}, 2.2), colour);
    c.fill(polygon({{20, 5.5}, {25.5, 8}, {21.5, 12.5}}), colour);
    c.fill(polygon({{21.5, 17.5}, {25.5, 22}, {20, 24.5}}), colour);
}

const std::map<std::string, Icon>& icons() {
    static const std::map<std::string, Icon> table = {
        // Navigation-bar buttons, 22 points.
        {"menu", {22, 22, [](Canvas& c) {
             for (double y : {6.0, 11.0, 16.0}) c.fill(line({4, y}, {18, y}, 2.2), kInk);
         }}},
        {"favorite", {22, 22, [](Canvas& c) { star(c); }}},
        {"lupa", {22, 22, [](Canvas& c) {
             c.fill(ring(9, 9, 5.6, 2), kInk);
             c.fill(line({13.3, 13.3}, {18.6, 18.6}, 2.8), kInk);
         }}},
        // The thumbnail screen's filter button: a funnel, filled while a filter is on.
        {"filter_on", {22, 22, [](Canvas& c) {
             c.fill(polygon({{3, 4}, {19, 4}, {13, 11.5}, {13, 18.5}, {9, 16.5}, {9, 11.5}}), kInk);
         }}},
        {"filter_off", {22, 22, [](Canvas& c) {
             c.fill(polyline({{3, 4}, {19, 4}, {13, 11.5}, {13, 18.5}, {9, 16.5}, {9, 11.5}, {3, 4}}, 1.6), kInk);
         }}},
        // The filter screen's check boxes.
        {"cb_dark_on", {22, 22, [](Canvas& c) {
             c.fill(roundedRect(2, 2, 18, 18, 3), kInk);
             c.erase(polyline({{6, 11}, {9.5, 14.5}, {16, 7.5}}, 2.2));
         }}},
        {"cb_dark_off", {22, 22, [](Canvas& c) {
             c.fill(without(roundedRect(2, 2, 18, 18, 3), roundedRect(3.8, 3.8, 14.4, 14.4, 1.8)), kInk);
         }}},
        // The mark of a picked row, in the row's corner.
        {"new_item", {20, 20, [](Canvas& c) {
             c.fill(circle(10, 10, 8.5), kInk);
             c.fill(polyline({{6, 10.2}, {8.8, 13}, {14, 7.2}}, 2), kWhite);
         }}},
        // The sign of a thumbnail whose high-resolution file is on the device: a tag with "HD"
        // cut out of it, so the picture shows through the letters.
        {"hd", {24, 14, [](Canvas& c) {
             c.fill(roundedRect(1, 1, 22, 12, 2.5), kInk);
             c.erase(hdLetters(0, 0));
         }}},
        // The information button over a list row's thumbnail: an "i" cut out of a disc.
        {"info_picture", {22, 22, [](Canvas& c) {
             c.fill(circle(11, 11, 10), kInk);
             c.erase(circle(11, 6.3, 1.7));
             c.erase(line({11, 9.6}, {11, 16.6}, 2.4));
         }}},
        // Main-menu rows, 30 points.
        {"galleryengine", {30, 30, [](Canvas& c) {
             c.fill(without(roundedRect(3, 5, 24, 20, 2), roundedRect(5, 7, 20, 16, 0.5)), kInk);
             c.fill(polygon({{6.5, 21.5}, {12, 13.5}, {16, 18.5}, {19, 15.5}, {23.5, 21.5}}), kInk);
             c.fill(circle(20, 11.3, 2), kInk);
         }}},
        {"music", {30, 30, [](Canvas& c) {
             c.fill(ellipse(9, 22, 3.6, 2.6, -0.35), kInk);
             c.fill(ellipse(21, 20, 3.6, 2.6, -0.35), kInk);
             c.fill(line({11.9, 21}, {11.9, 7.5}, 1.8), kInk);
             c.fill(line({23.9, 19}, {23.9, 5.5}, 1.8), kInk);
             c.fill(polygon({{11, 6.6}, {24.8, 4.4}, {24.8, 8.2}, {11, 10.4}}), kInk);
         }}},
        // An open book with lines of text cut out of its pages.
        {"famous_paintings", {30, 30, [](Canvas& c) {
             c.fill(polygon({{3, 7.5}, {14, 9.5}, {14, 25}, {3, 23}}), kInk);
             c.fill(polygon({{16, 9.5}, {27, 7.5}, {27, 23}, {16, 25}}), kInk);
             for (double y : {12.5, 16.0, 19.5}) {
                 c.erase(line({5.5, y - 1.2}, {11.5, y}, 1.1));
                 c.erase(line({18.5, y}, {24.5, y - 1.2}, 1.1));
             }
         }}},
        {"download", {30, 30, [](Canvas& c) {
             c.fill(line({15, 4}, {15, 14}, 2.4), kInk);
             c.fill(polygon({{9.5, 12.5}, {20.5, 12.5}, {15, 19.5}}), kInk);
             c.fill(polyline({{5, 17}, {5, 25}, {25, 25}, {25, 17}}, 2.4), kInk);
         }}},
        // A gear: a disc with eight teeth and a hole.
        {"settings", {30, 30, [](Canvas& c) {
             const Shape teeth = [](double x, double y) {
                 for (int k = 0; k < 8; ++k) {
                     const double angle = k * std::numbers::pi / 4, dx = x - 15, dy = y - 15;
                     const double u = dx * std::cos(angle) + dy * std::sin(angle);
                     const double v = -dx * std::sin(angle) + dy * std::cos(angle);
                     if (u >= 6 && u <= 12.5 && std::abs(v) <= 2.6 - (u - 6) * 0.12) return true;
                 }
                 return false;
             };
             c.fill(circle(15, 15, 9), kInk);
             c.fill(teeth, kInk);
             c.erase(circle(15, 15, 3.8));
         }}},
        {"support", {30, 30, [](Canvas& c) {
             c.fill(without(roundedRect(3.5, 7.5, 23, 16, 2), roundedRect(5.5, 9.5, 19, 12, 0.5)), kInk);
             c.fill(polyline({{5.5, 9.8}, {15, 17}, {24.5, 9.8}}, 2), kInk);
         }}},
        {"other_apps", {30, 30, [](Canvas& c) {
             for (double x : {5.0, 16.0})
                 for (double y : {5.0, 16.0}) c.fill(roundedRect(x, y, 9, 9, 2), kInk);
         }}},
        // A globe: outline, a meridian, the equator and two parallels.
        {"website", {30, 30, [](Canvas& c) {
             const Shape inside = circle(15, 15, 11);
             c.fill(ring(15, 15, 11, 1.8), kInk);
             c.fill(ellipseRing(15, 15, 4.8, 11, 1.5), kInk);
             c.fill(line({15, 4}, {15, 26}, 1.5), kInk);
             c.fill(both(line({4, 15}, {26, 15}, 1.5), inside), kInk);
             for (double y : {9.5, 20.5}) c.fill(both(line({4, y}, {26, y}, 1.4), inside), kInk);
         }}},
        // The rating banner's answers on a phone (a tick, a cross in a ring) and the pad's
        // button background, stretched from its middle.
        {"rater_yes_message_btn", {30, 30, [](Canvas& c) {
             c.fill(ring(15, 15, 12, 1.8), kInk);
             c.fill(polyline({{9, 15.5}, {13.5, 20}, {21, 10.5}}, 2.4), kInk);
         }}},
        {"rater_no_message_btn", {30, 30, [](Canvas& c) {
             c.fill(ring(15, 15, 12, 1.8), kInk);
             c.fill(line({10.5, 10.5}, {19.5, 19.5}, 2.4), kInk);
             c.fill(line({19.5, 10.5}, {10.5, 19.5}, 2.4), kInk);
         }}},
        {"rater_button_background", {24, 24, [](Canvas& c) { c.fill(roundedRect(1, 1, 22, 22, 6), kLight); }}},
        // The pager's previous and next buttons.
        {"back", {22, 22, [](Canvas& c) { c.fill(polyline({{14, 4}, {7, 11}, {14, 18}}, 2.4), kInk); }}},
        {"forward", {22, 22, [](Canvas& c) { c.fill(polyline({{8, 4}, {15, 11}, {8, 18}}, 2.4), kInk); }}},
        // The pager's menu: a tray with an arrow leaving it.
        {"action", {22, 22, [](Canvas& c) {
             c.fill(polyline({{7, 9}, {4, 9}, {4, 20}, {18, 20}, {18, 9}, {15, 9}}, 1.8), kInk);
             c.fill(line({11, 2.5}, {11, 14}, 1.8), kInk);
             c.fill(polyline({{7.5, 6}, {11, 2.5}, {14.5, 6}}, 1.8), kInk);
         }}},
        // The pager's high-resolution switch: an outlined "HD" tag, filled while the
        // high-resolution picture shows.
        {"button_hd", {30, 22, [](Canvas& c) {
             c.fill(without(roundedRect(3, 4, 24, 14, 2.5), roundedRect(4.6, 5.6, 20.8, 10.8, 1.2)), kInk);
             c.fill(hdLetters(3, 4), kInk);
         }}},
        {"button_hd_up", {30, 22, [](Canvas& c) {
             c.fill(roundedRect(3, 4, 24, 14, 2.5), kInk);
             c.erase(hdLetters(3, 4));
         }}},
        // The slideshow's start and pause.
        {"slide", {22, 22, [](Canvas& c) { c.fill(polygon({{6, 3.5}, {18.5, 11}, {6, 18.5}}), kInk); }}},
        {"pause_slide", {22, 22, [](Canvas& c) {
             c.fill(roundedRect(5, 4, 4.2, 14, 1), kInk);
             c.fill(roundedRect(12.8, 4, 4.2, 14, 1), kInk);
         }}},
        // Information: a ringed "i".
        {"i", {22, 22, [](Canvas& c) {
             c.fill(ring(11, 11, 8.6, 1.8), kInk);
             c.fill(circle(11, 6.8, 1.4), kInk);
             c.fill(line({11, 9.8}, {11, 15.6}, 2.2), kInk);
         }}},
        // The pager's like button: a star, filled for a favourite.
        {"favorite_on", {22, 22, [](Canvas& c) { star(c); }}},
        {"favorite_off", {22, 22, [](Canvas& c) {
             auto points = starPoints(11, 11.6, 9.2, 3.9);
             points.push_back(points.front());
             c.fill(polyline(points, 1.6), kInk);
         }}},
        // The information screen's alignment button: lines flush left, or filling the width.
        {"aleft", {22, 22, [](Canvas& c) {
             const double lengths[] = {16, 10, 16, 8};
             for (int i = 0; i < 4; ++i) c.fill(line({3, 5 + 4.0 * i}, {3 + lengths[i], 5 + 4.0 * i}, 1.6), kInk);
         }}},
        {"ajustify", {22, 22, [](Canvas& c) {
             for (int i = 0; i < 4; ++i) c.fill(line({3, 5 + 4.0 * i}, {19, 5 + 4.0 * i}, 1.6), kInk);
         }}},
        {"acenter", {22, 22, [](Canvas& c) {
             const double lengths[] = {16, 10, 16, 8};
             for (int i = 0; i < 4; ++i)
                 c.fill(line({11 - lengths[i] / 2, 5 + 4.0 * i}, {11 + lengths[i] / 2, 5 + 4.0 * i}, 1.6), kInk);
         }}},
        // The readers' picture button: a framed landscape.
        {"see_picture", {22, 22, [](Canvas& c) {
             c.fill(without(roundedRect(2, 4, 18, 14, 1.5), roundedRect(3.8, 5.8, 14.4, 10.4, 0.5)), kInk);
             c.fill(polygon({{4.5, 15.5}, {9, 9.5}, {12, 13}, {14, 11}, {17.5, 15.5}}), kInk);
             c.fill(circle(15, 8.5, 1.4), kInk);
         }}},
        // The texts row of the main menu: a page with lines of text.
        {"texts", {30, 30, [](Canvas& c) {
             c.fill(without(roundedRect(6, 3, 18, 24, 1.5), roundedRect(8, 5, 14, 20, 0.5)), kInk);
             for (double y : {9.0, 13.0, 17.0, 21.0}) c.fill(line({10.5, y}, {19.5, y}, 1.3), kInk);
         }}},
        // A page whose picture can be neither read nor downloaded: a cloud, crossed out.
        {"offline", {100, 100, [](Canvas& c) {
             const Shape cloud = [](double x, double y) {
                 return circle(36, 52, 16)(x, y) || circle(56, 44, 20)(x, y) || circle(72, 56, 13)(x, y) ||
                        roundedRect(22, 52, 62, 16, 8)(x, y);
             };
             c.fill(cloud, kInk);
             c.erase(line({18, 18}, {82, 82}, 12));
             c.fill(line({20, 20}, {80, 80}, 5), kInk);
         }}},
        // Slider parts: a round thumb and the two tracks, whose ends are the 4-point caps.
        {"handle", {24, 24, [](Canvas& c) {
             c.fill(circle(12, 13, 10), {0, 0, 0, 0.18});
             c.fill(circle(12, 12, 10), {150 / 255.0, 150 / 255.0, 150 / 255.0, 1});
             c.fill(circle(12, 12, 9.2), kWhite);
         }}},
        {"Active", {10, 6, [](Canvas& c) { c.fill(roundedRect(0, 1.5, 10, 3, 1.5), kInk); }}},
        {"Innactive", {10, 6, [](Canvas& c) { c.fill(roundedRect(0, 1.5, 10, 3, 1.5), kLight); }}},
        // The music player's controls, 30 points: play and pause, previous and next, the repeat
        // modes (off, the list, the track) and shuffle (off, on), lit when on.
        {"play", {30, 30, [](Canvas& c) { c.fill(polygon({{9, 5}, {24, 15}, {9, 25}}), kInk); }}},
        {"paused", {30, 30, [](Canvas& c) {
             c.fill(roundedRect(8, 6, 5, 18, 1), kInk);
             c.fill(roundedRect(17, 6, 5, 18, 1), kInk);
         }}},
        {"media_prev", {30, 30, [](Canvas& c) {
             c.fill(roundedRect(5, 8, 3, 14, 1), kInk);
             c.fill(polygon({{25, 8}, {9, 15}, {25, 22}}), kInk);
         }}},
        {"media_next", {30, 30, [](Canvas& c) {
             c.fill(polygon({{5, 8}, {21, 15}, {5, 22}}), kInk);
             c.fill(roundedRect(22, 8, 3, 14, 1), kInk);
         }}},
        {"r", {30, 30, [](Canvas& c) { repeat(c, kLight, false); }}},
        {"r_up", {30, 30, [](Canvas& c) { repeat(c, kInk, false); }}},
        {"r.1", {30, 30, [](Canvas& c) { repeat(c, kInk, true); }}},
        {"s", {30, 30, [](Canvas& c) { shuffle(c, kLight); }}},
        {"s_up", {30, 30, [](Canvas& c) { shuffle(c, kInk); }}},
        // The music screens' bar buttons and row buttons, 22 points.
        {"menu_media", {22, 22, [](Canvas& c) {
             for (double y : {5.0, 11.0, 17.0}) c.fill(line({9, y}, {19, y}, 2), kInk);
             for (double y : {5.0, 11.0, 17.0}) c.fill(circle(4.5, y, 1.6), kInk);
         }}},
        {"media_download", {22, 22, [](Canvas& c) {
             c.fill(ring(11, 11, 9, 1.6), kInk);
             c.fill(line({11, 5.5}, {11, 13}, 1.8), kInk);
             c.fill(polygon({{7, 11.5}, {15, 11.5}, {11, 16}}), kInk);
         }}},
        {"media_cancel", {22, 22, [](Canvas& c) {
             c.fill(ring(11, 11, 9, 1.6), kInk);
             c.fill(roundedRect(7.5, 7.5, 7, 7, 1), kInk);
         }}},
        {"media_download_bar", {22, 22, [](Canvas& c) {
             c.fill(line({11, 3}, {11, 12}, 2), kInk);
             c.fill(polygon({{6.5, 11}, {15.5, 11}, {11, 16.5}}), kInk);
             c.fill(line({4, 19}, {18, 19}, 2), kInk);
         }}},
        {"media_plus", {22, 22, [](Canvas& c) {
             c.fill(line({11, 4}, {11, 18}, 2.2), kInk);
             c.fill(line({4, 11}, {18, 11}, 2.2), kInk);
         }}},
        {"playlist", {22, 22, [](Canvas& c) {
             c.fill(ring(11, 11, 9, 1.6), kInk);
             c.fill(polygon({{9, 6.5}, {16, 11}, {9, 15.5}}), kInk);
         }}},
        // A category without a picture, and the tile that makes a playlist, 60 points.
        {"note", {60, 60, [](Canvas& c) {
             c.fill(ellipse(24, 42, 7, 5, -0.35), kInk);
             c.fill(line({29.5, 41}, {29.5, 14}, 2.6), kInk);
             c.fill(polygon({{28.2, 12.5}, {42, 17}, {42, 22}, {28.2, 18}}), kInk);
         }}},
        {"note_add", {60, 60, [](Canvas& c) {
             c.fill(without(roundedRect(2, 2, 56, 56, 8), roundedRect(4, 4, 52, 52, 6)), kInk);
             c.fill(line({30, 16}, {30, 44}, 3), kInk);
             c.fill(line({16, 30}, {44, 30}, 3), kInk);
         }}},
        // The pad player's header, stretched between caps of a third of its width.
        {"bar_ipad", {60, 96, [](Canvas& c) {
             c.fill(roundedRect(0.5, 0.5, 59, 95, 4), {238 / 255.0, 238 / 255.0, 238 / 255.0, 1});
         }}},
        // The volume control's route button, plain and lit.
        {"airPlayBtn", {22, 22, [](Canvas& c) {
             c.fill(without(roundedRect(2, 3, 18, 12, 2), roundedRect(4, 5, 14, 8, 1)), kLight);
             c.fill(polygon({{6, 20}, {11, 14}, {16, 20}}), kLight);
         }}},
        {"airPlayBtn_up", {22, 22, [](Canvas& c) {
             c.fill(without(roundedRect(2, 3, 18, 12, 2), roundedRect(4, 5, 14, 8, 1)), kInk);
             c.fill(polygon({{6, 20}, {11, 14}, {16, 20}}), kInk);
         }}},
        // The background of light titled buttons, stretched between 20-point caps.
        {"br280x50.png", {280, 50, [](Canvas& c) {
             c.fill(roundedRect(1, 1, 278, 48, 10), {51 / 255.0, 51 / 255.0, 51 / 255.0, 1});
             c.fill(roundedRect(2, 2, 276, 46, 9), kInk);
             // The sheen stays inside the top cap, so the stretched rows are all alike.
             c.fill(roundedRect(2, 2, 276, 18, 9), {1, 1, 1, 0.12});
         }}},
    };
    return table;
}

std::string stemOf(const std::string& name) {
    const std::string png = ".png";
    if (name.size() > png.size() && name.compare(name.size() - png.size(), png.size(), png) == 0)
        return name.substr(0, name.size() - png.size());
    return name;
}

}  // namespace

const std::vector<std::string>& DemoIcons::names() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        for (const auto& [name, icon] : icons()) out.push_back(name);
        return out;
    }();
    return list;
}

std::pair<int, int> DemoIcons::pointSize(const std::string& name) {
    const auto it = icons().find(name);
    if (it == icons().end()) return {0, 0};
    return {it->second.width, it->second.height};
}

DemoPictures::ImageRGBA DemoIcons::draw(const std::string& name, int scale) {
    const auto it = icons().find(name);
    if (it == icons().end() || scale < 1) return {};
    Canvas canvas(it->second.width, it->second.height, scale);
    it->second.draw(canvas);
    return canvas.image();
}

bool DemoIcons::writeIcons(const std::string& folder, std::string* error) {
    for (const auto& name : names()) {
        const std::string stem = folder + "/" + stemOf(name);
        if (!DemoPictures::writeFile(stem + ".png", DemoPictures::encodePNG(draw(name, 1)), error) ||
            !DemoPictures::writeFile(stem + "@2x.png", DemoPictures::encodePNG(draw(name, 2)), error))
            return false;
    }
    return true;
}
