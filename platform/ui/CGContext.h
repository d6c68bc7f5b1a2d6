// A graphics context that records what is drawn into it, in order, so drawing can be
// asserted (and rendered later by the simulator).
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/CGPath.h"
#include "platform/ui/NSAttributedString.h"

#include <memory>
#include <string>
#include <vector>

class UIColor;
class UIFont;
class UIImage;

enum CGPathDrawingMode : int {
    kCGPathFill = 0,
    kCGPathEOFill = 1,
    kCGPathStroke = 2,
    kCGPathFillStroke = 3,
    kCGPathEOFillStroke = 4,
};

enum CGLineCap : int { kCGLineCapButt = 0, kCGLineCapRound = 1, kCGLineCapSquare = 2 };

class CGContext : public NSObject {
public:
    struct Operation {
        enum class Kind {
            SetFillColor, SetStrokeColor, SetLineWidth, SetLineCap, SetAlpha,
            BeginPath, MoveTo, AddLineTo, AddArc, AddRect, AddEllipse, AddPath, ClosePath,
            FillPath, StrokePath, DrawPath, FillRect, StrokeRect, ClearRect,
            DrawImage, DrawText, SaveState, RestoreState, TranslateCTM, ScaleCTM, ClipToRect,
        };
        explicit Operation(Kind k) : kind(k) {}
        Kind kind;
        std::shared_ptr<UIColor> color;  // colour settings
        CGFloat value = 0;                // line width, alpha, cap
        CGPoint point;                    // MoveTo, AddLineTo, arc centre, CTM offsets/scales
        CGRect rect;                      // rects, ellipses, images, text
        CGFloat radius = 0;
        CGFloat startAngle = 0;
        CGFloat endAngle = 0;
        bool clockwise = false;
        CGPathDrawingMode mode = kCGPathFill;
        CGPath path;                      // what a fill/stroke/draw consumed, AddPath's path
        std::shared_ptr<UIImage> image;
        std::string text;
        std::shared_ptr<UIFont> font;
        // DrawText: where the line sits across its rect, as the glyphs drawn measure it.
        NSTextAlignment alignment = NSTextAlignmentLeft;
    };

    // The graphics state at the time of an operation.
    struct State {
        std::shared_ptr<UIColor> fillColor;
        std::shared_ptr<UIColor> strokeColor;
        CGFloat lineWidth = 1.0;
        CGFloat alpha = 1.0;
        CGAffineTransform ctm;
    };

    explicit CGContext(CGRect bounds);

    const std::vector<Operation>& operations() const { return operations_; }
    CGRect bounds() const { return bounds_; }
    const State& state() const { return state_; }

    void record(Operation op);

    // Used by the free functions below.
    void setFillColor(const std::shared_ptr<UIColor>& color);
    void setStrokeColor(const std::shared_ptr<UIColor>& color);
    void setLineWidth(CGFloat width);
    void addElement(const CGPathElement& element, Operation op);
    void paintPath(Operation::Kind kind, CGPathDrawingMode mode);
    void saveState();
    void restoreState();
    void concatCTM(const CGAffineTransform& t);

private:
    CGRect bounds_;
    std::vector<Operation> operations_;
    State state_;
    std::vector<State> saved_;
    CGPath path_;
};

using CGContextRef = std::shared_ptr<CGContext>;

void CGContextSetFillColorWithColor(const CGContextRef& c, const std::shared_ptr<UIColor>& color);
void CGContextSetStrokeColorWithColor(const CGContextRef& c, const std::shared_ptr<UIColor>& color);
void CGContextSetLineWidth(const CGContextRef& c, CGFloat width);
void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap);
void CGContextBeginPath(const CGContextRef& c);
void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
// clockwise is 1 or 0, as the platform's int argument.
void CGContextAddArc(const CGContextRef& c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise);
void CGContextAddEllipseInRect(const CGContextRef& c, const CGRect& rect);
void CGContextClosePath(const CGContextRef& c);
void CGContextFillPath(const CGContextRef& c);
void CGContextStrokePath(const CGContextRef& c);
void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode);
void CGContextFillRect(const CGContextRef& c, const CGRect& rect);
void CGContextFillEllipseInRect(const CGContextRef& c, const CGRect& rect);
void CGContextSaveGState(const CGContextRef& c);
void CGContextRestoreGState(const CGContextRef& c);
void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty);

// The context drawing goes into on this thread (the one of the drawRect pass running); empty
// outside drawing.
CGContextRef UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(const CGContextRef& context);
void UIGraphicsPopContext();
