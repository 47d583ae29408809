#include "app/qt/draw_surface.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/qt/frame_copy.h"
#include "core/screen/screen.h"

namespace app {
namespace {

// Changed pixels this close (frame pixels) are repainted in one rectangle.
constexpr int kBoxGap = 8;

size_t PixelStride(const QImage& image, size_t bytesPerPixel) {
    return size_t(image.bytesPerLine()) / bytesPerPixel;
}

QRect ToRect(const PixelSpan& span) {
    return span.Empty() ? QRect()
                        : QRect(QPoint(span.left, span.top), QPoint(span.right, span.bottom));
}

// A backing store image the picture's rows can be copied into as they are.
bool PlainStore(const QImage& store, const QSize& size) {
    return store.devicePixelRatio() == 1.0 && store.size() == size &&
           (store.format() == QImage::Format_RGB32 ||
            store.format() == QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

void PreferPlainImageRequests() {
    ::setenv("QT_XCB_NO_MITSHM", "1", 0);
}

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
    // Only a display that does not take runs gets the 16-bit bitmap; expanded whole.
    const int width = bitmap.width, height = bitmap.height;
    if (width <= 0 || height <= 0 || bitmap.pixels.size() < size_t(width) * size_t(height)) return;
    if (view_.width() != width || view_.height() != height) {
        view_ = QImage(width, height, QImage::Format_RGB32);
        scaledStale_ = true;
    }
    const PixelSpan all{0, 0, width - 1, height - 1};
    ExpandSpan(bitmap.pixels.data(), size_t(width), reinterpret_cast<uint32_t*>(view_.bits()),
               PixelStride(view_, 4), all, bitmap.rgb565);
    ++presented_;
    Changed(all);
    RepaintChanged();
}

void DrawSurface::PresentRuns(const kdv::FrameChange& change) {
    if (!change.pixels || !change.table || !change.runs || change.scale < 1) return;
    const int width = kdv::kScreenWidth * change.scale, height = kdv::kScreenHeight * change.scale;
    if (view_.width() != width || view_.height() != height) {
        view_ = QImage(width, height, QImage::Format_RGB32);
        view_.fill(Qt::black);
        scaledStale_ = true;
    }
    if (change.whole) BuildColourTable(change.table, change.rgb565, colours_);
    ++presented_;
    const auto& runs = *change.runs;
    if (runs.empty()) return;
    auto* image = reinterpret_cast<uint32_t*>(view_.bits());
    const size_t stride = PixelStride(view_, 4);
    ConvertRuns(change.pixels, runs, colours_, change.scale, image, stride);
    // Repainted as the small rectangles around what changed, not the rows' full breadth: a
    // pixel repainted is a pixel sent to the display server.
    ChangedBoxes(runs, kBoxGap, boxes_);
    const int s = change.scale;
    for (const PixelSpan& box : boxes_)
        Changed({box.left * s, box.top * s, (box.right + 1) * s - 1, (box.bottom + 1) * s - 1});
    RepaintChanged();
}

const QImage& DrawSurface::Shown() const {
    return scaled_.isNull() ? view_ : scaled_;
}

void DrawSurface::Changed(const PixelSpan& span) {
    const PixelSpan target = FitFrame(view_.width(), view_.height(), width(), height());
    if (target.Empty()) return;
    const int tw = target.right - target.left + 1, th = target.bottom - target.top + 1;
    if (tw == view_.width() && th == view_.height()) {
        scaled_ = QImage();
        scaledStale_ = false;
        changed_ += ToRect(span).translated(target.left, target.top);
        return;
    }
    const auto* image = reinterpret_cast<const uint32_t*>(view_.constBits());
    if (scaledStale_ || scaled_.width() != tw || scaled_.height() != th) {
        scaled_ = QImage(tw, th, QImage::Format_RGB32);
        ScaleInto(image, PixelStride(view_, 4), view_.width(), view_.height(),
                  reinterpret_cast<uint32_t*>(scaled_.bits()), PixelStride(scaled_, 4), tw, th,
                  PixelSpan{0, 0, tw - 1, th - 1});
        scaledStale_ = false;
        changed_ += ToRect(target);
        return;
    }
    PixelSpan area = ScaleSpan(span, view_.width(), view_.height(), target, width(), height());
    area = {area.left - target.left, area.top - target.top, area.right - target.left,
            area.bottom - target.top};
    ScaleInto(image, PixelStride(view_, 4), view_.width(), view_.height(),
              reinterpret_cast<uint32_t*>(scaled_.bits()), PixelStride(scaled_, 4), tw, th, area);
    changed_ += ToRect(area).translated(target.left, target.top);
}

// The frame's changed rectangles are painted and sent to the screen in one go, before the tick
// returns: through update() each frame would cost a further turn of the event loop (the posted
// request, its wake-up and poll) and Qt's merging of the rectangles into one region anyway.
void DrawSurface::RepaintChanged() {
    if (changed_.isEmpty()) return;
    const QRegion region = std::exchange(changed_, QRegion());
    if (!isVisible() || !updatesEnabled()) {
        update(region);
        return;
    }
    if (!PaintStraight(region)) repaint(region);
}

void DrawSurface::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scaledStale_ = true;
    if (!view_.isNull()) Changed(PixelSpan{0, 0, view_.width() - 1, view_.height() - 1});
    update(std::exchange(changed_, QRegion()));  // painted with the rest of the new size
}

QRect DrawSurface::Target() const {
    return ToRect(FitFrame(view_.width(), view_.height(), width(), height()));
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

// The common case, the picture filling the widget with nothing over it, is copied row by row
// straight into the window's backing store when that is a plain 32-bit image: a painter's
// set-up costs more than the copy of a frame's changed rows.
bool DrawSurface::CopyToBackingStore(const QRegion& region) {
    if (!overlay_.isEmpty() || view_.isNull() || Shown().size() != size() || Target() != rect())
        return false;
    QPoint offset;
    QPaintDevice* device = redirected(&offset);
    if (!device || device->devType() != QInternal::Image) return false;
    auto* store = static_cast<QImage*>(device);
    if (!PlainStore(*store, store->size())) return false;
    const QImage& shown = Shown();
    // A store pixel is the widget pixel less the offset.
    const QRegion area = region.intersected(rect() & store->rect().translated(offset));
    for (const QRect& r : area) {
        const size_t bytes = size_t(r.width()) * 4;
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(store->scanLine(y - offset.y()) + size_t(r.left() - offset.x()) * 4,
                        shown.constScanLine(y) + size_t(r.left()) * 4, bytes);
    }
    return true;
}

// The plain picture's changed rows go into the window's backing store and to the screen without
// the widgets' repaint machinery (the dirty region's bookkeeping, the paint event, the search for
// widgets to paint): that cost more than the copy and the flush together. Anything Qt paints
// later over this area it paints from the same picture.
bool DrawSurface::PaintStraight(const QRegion& region) {
    if (!overlay_.isEmpty() || view_.isNull() || Shown().size() != size() || Target() != rect())
        return false;
    QWidget* top = window();
    QWindow* handle = top->windowHandle();
    QBackingStore* store = backingStore();
    if (!handle || !handle->isExposed() || !store || store->size() != top->size() ||
        parentWidget() != top || testAttribute(Qt::WA_NativeWindow) || Covered())
        return false;
    const QPoint offset = mapTo(top, QPoint());
    const QRegion area = region.intersected(rect()).translated(offset);
    if (area.isEmpty()) return true;
    store->beginPaint(area);
    QPaintDevice* device = store->paintDevice();
    const bool plain = device && device->devType() == QInternal::Image &&
                       PlainStore(*static_cast<QImage*>(device), top->size());
    if (plain) {
        auto* image = static_cast<QImage*>(device);
        const QImage& shown = Shown();
        for (const QRect& r : area) {
            const size_t bytes = size_t(r.width()) * 4;
            for (int y = r.top(); y <= r.bottom(); ++y)
                std::memcpy(image->scanLine(y) + size_t(r.left()) * 4,
                            shown.constScanLine(y - offset.y()) + size_t(r.left() - offset.x()) * 4,
                            bytes);
        }
    }
    store->endPaint();
    if (!plain) return false;
    store->flush(area);
    if (presented_ > 0 && firstPainted_ == std::chrono::steady_clock::time_point{})
        firstPainted_ = std::chrono::steady_clock::now();
    return true;
}

// Whether a widget of the window lies over this one (children later in the list are on top).
bool DrawSurface::Covered() const {
    const QObjectList& siblings = parentWidget()->children();
    const QRect here = geometry();
    bool after = false;
    for (const QObject* object : siblings) {
        if (object == this) {
            after = true;
            continue;
        }
        if (!after || !object->isWidgetType()) continue;
        const auto* widget = static_cast<const QWidget*>(object);
        if (!widget->isWindow() && widget->isVisible() && widget->geometry().intersects(here))
            return true;
    }
    return false;
}

void DrawSurface::paintEvent(QPaintEvent* event) {
    if (CopyToBackingStore(event->region())) {
        if (presented_ > 0 && firstPainted_ == std::chrono::steady_clock::time_point{})
            firstPainted_ = std::chrono::steady_clock::now();
        return;
    }
    QPainter painter(this);
    const QRect target = Target();
    if (target != rect()) {
        // Black around the picture, or everywhere before the first frame.
        for (const QRect& r : event->region().subtracted(QRegion(target)))
            painter.fillRect(r, Qt::black);
    }
    const QImage& shown = Shown();
    if (shown.size() == target.size()) {
        // One blit per repainted rectangle, never a rescale.
        for (const QRect& r : event->region() & QRegion(target))
            painter.drawImage(r.topLeft(), shown, r.translated(-target.topLeft()));
        if (presented_ > 0 && firstPainted_ == std::chrono::steady_clock::time_point{})
            firstPainted_ = std::chrono::steady_clock::now();
    }
    PaintOverlay(painter, target);
}

}  // namespace app
