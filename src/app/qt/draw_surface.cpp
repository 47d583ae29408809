#include "app/qt/draw_surface.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "app/qt/frame_copy.h"
#include "core/screen/screen.h"

namespace app {
namespace {

size_t PixelStride(const QImage& image, size_t bytesPerPixel) {
    return size_t(image.bytesPerLine()) / bytesPerPixel;
}

QRect ToRect(const PixelSpan& span) {
    return span.Empty() ? QRect()
                        : QRect(QPoint(span.left, span.top), QPoint(span.right, span.bottom));
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

QRect DrawSurface::Target() const {
    return ToRect(FitFrame(view_.width(), view_.height(), width(), height()));
}

QRect DrawSurface::WidgetRect(const PixelSpan& span) const {
    const PixelSpan target = FitFrame(view_.width(), view_.height(), width(), height());
    if (target.Empty()) return {};
    const QRect targetRect = ToRect(target);
    if (targetRect.size() == view_.size()) return ToRect(span).translated(targetRect.topLeft());
    return ToRect(ScaleSpan(span, view_.width(), view_.height(), target, width(), height()));
}

void DrawSurface::SetOverlay(const QStringList& lines) {
    if (lines == overlay_) return;
    overlay_ = lines;
    update();
}

// Light text on a dark band across the top of the picture, sized to the picture so that it reads
// the same at 320 x 200, at 640 x 400 and full screen. It is painted over whatever part of the
// picture is repainted, so a frame that changes beneath it never wipes it.
void DrawSurface::PaintOverlay(QPainter& painter, const QRect& target) const {
    if (overlay_.isEmpty()) return;
    const QRect area = target.isEmpty() ? rect() : target;
    QFont font = painter.font();
    font.setPixelSize(std::max(10, area.height() / 24));
    font.setBold(true);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int margin = metrics.height() / 3;
    const QRect band(area.left(), area.top(), area.width(),
                     margin * 2 + metrics.height() * int(overlay_.size()));
    painter.fillRect(band, QColor(0, 0, 0, 170));
    painter.setPen(QColor(255, 255, 160));
    int y = band.top() + margin;
    for (const QString& line : overlay_) {
        painter.drawText(
            QRect(band.left() + margin, y, band.width() - 2 * margin, metrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            metrics.elidedText(line, Qt::ElideRight, band.width() - 2 * margin));
        y += metrics.height();
    }
}

void DrawSurface::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect target = Target();
    if (target != rect()) {
        // Black around the picture, or everywhere before the first frame.
        for (const QRect& r : event->region().subtracted(QRegion(target)))
            painter.fillRect(r, Qt::black);
    }
    const QRect exposed = event->rect() & target;
    if (!exposed.isEmpty()) {
        if (target.size() == view_.size())
            painter.drawImage(exposed.topLeft(), view_, exposed.translated(-target.topLeft()));
        else
            painter.drawImage(target, view_);  // nearest pixel, clipped to what is exposed
    }
    PaintOverlay(painter, target);
}

}  // namespace app
