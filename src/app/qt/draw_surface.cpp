#include "app/qt/draw_surface.h"

#include <QPaintEvent>
#include <QPainter>

#include "app/qt/frame_copy.h"
#include "core/screen/screen.h"

namespace app {
namespace {

size_t PixelStride(const QImage& image, size_t bytesPerPixel) {
    return size_t(image.bytesPerLine()) / bytesPerPixel;
}

}  // namespace

DrawSurface::DrawSurface(QWidget* parent) : QWidget(parent) {
    setObjectName("DXDraw");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
}

bool DrawSurface::CanDraw() const {
    return isVisible() && !(window()->windowState() & Qt::WindowMinimized);
}

void DrawSurface::Present(const kdv::WorkBitmap& bitmap) {
    const int width = bitmap.width, height = bitmap.height;
    if (width <= 0 || height <= 0 || bitmap.pixels.size() < size_t(width) * size_t(height)) return;
    const QImage::Format format = bitmap.rgb565 ? QImage::Format_RGB16 : QImage::Format_RGB555;
    PixelSpan changed;
    if (frame_.width() != width || frame_.height() != height || frame_.format() != format) {
        frame_ = QImage(width, height, format);
        frame_.fill(0);
        view_ = QImage(width, height, QImage::Format_RGB32);
        changed = PixelSpan{0, 0, width - 1, height - 1};
    }
    auto* pixels = reinterpret_cast<uint16_t*>(frame_.bits());
    const PixelSpan copied = CopyChanged(bitmap.pixels.data(), size_t(width), pixels,
                                         PixelStride(frame_, 2), width, height);
    if (changed.Empty()) changed = copied;
    ++presented_;
    if (changed.Empty()) return;
    ExpandSpan(pixels, PixelStride(frame_, 2), reinterpret_cast<uint32_t*>(view_.bits()),
               PixelStride(view_, 4), changed, bitmap.rgb565);
    update(WidgetRect(changed));
}

QRect DrawSurface::FitRect(QSize frame, QSize area) {
    if (frame.isEmpty() || area.isEmpty()) return {};
    const QSize size = frame.scaled(area, Qt::KeepAspectRatio);
    return {QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size};
}

QRect DrawSurface::WidgetRect(const PixelSpan& span) const {
    const QRect target = FitRect(view_.size(), size());
    if (target.isEmpty()) return {};
    if (target.size() == view_.size())
        return QRect(QPoint(span.left, span.top), QPoint(span.right, span.bottom))
            .translated(target.topLeft());
    // Scaled: the widget pixels that the frame pixels land on, a pixel more on each side.
    auto scale = [](int v, int to, int from) { return int(int64_t(v) * to / from); };
    const int w = view_.width(), h = view_.height();
    const int left = target.x() + scale(span.left, target.width(), w);
    const int right = target.x() + scale(span.right + 1, target.width(), w);
    const int top = target.y() + scale(span.top, target.height(), h);
    const int bottom = target.y() + scale(span.bottom + 1, target.height(), h);
    return QRect(left, top, right - left, bottom - top).adjusted(-1, -1, 1, 1) & rect();
}

void DrawSurface::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect target = FitRect(view_.size(), size());
    if (target != rect()) {
        // Black around the picture, or everywhere before the first frame.
        for (const QRect& r : event->region().subtracted(QRegion(target)))
            painter.fillRect(r, Qt::black);
    }
    const QRect exposed = event->rect() & target;
    if (exposed.isEmpty()) return;
    if (target.size() == view_.size())
        painter.drawImage(exposed.topLeft(), view_, exposed.translated(-target.topLeft()));
    else
        painter.drawImage(target, view_);  // nearest pixel, clipped to what is exposed
}

}  // namespace app
