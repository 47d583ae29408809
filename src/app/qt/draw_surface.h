#pragma once
// DXDraw: the drawing area of the main window, which shows the game's 16-bit frames. At the
// mode's own size the frame is copied as it is; in a window dragged to another size, or full
// screen, it is scaled to fit by whole source pixels (nearest neighbour), its aspect ratio
// kept, centred on black. Only the part of a frame that changed is converted and repainted, so
// a still picture costs next to nothing. Lines of text can be shown over the picture (paused,
// waiting for a player): they are painted here, on the scaled picture, and never touch the
// game's frame.
#include <QImage>
#include <QStringList>
#include <QWidget>

#include "core/platform/services.h"

namespace app {

class DrawSurface : public QWidget, public kdv::Display {
    Q_OBJECT
  public:
    explicit DrawSurface(QWidget* parent = nullptr);

    bool CanDraw() const override;
    // Copies the frame and schedules a repaint; never waits for the screen.
    void Present(const kdv::WorkBitmap& bitmap) override;

    // The last frame as presented (RGB555 or RGB16), and as shown (RGB32).
    const QImage& Frame() const { return frame_; }
    const QImage& View() const { return view_; }
    long FramesPresented() const { return presented_; }
    // The lines shown over the picture, top first; none for the plain picture.
    void SetOverlay(const QStringList& lines);
    const QStringList& Overlay() const { return overlay_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect Target() const;  // where the frame lands in the widget
    QRect WidgetRect(const struct PixelSpan& span) const;
    void PaintOverlay(class QPainter& painter, const QRect& target) const;

    QImage frame_;
    QImage view_;
    long presented_ = 0;
    QStringList overlay_;
};

}  // namespace app
