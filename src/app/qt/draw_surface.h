#pragma once
// DXDraw: the drawing area of the main window. It takes the game's frame as the runs of colour
// indices that changed and turns them straight into 32-bit pixels through a 256-entry table, at
// the mode's size (320 x 200 or doubled). In a window dragged to another size, or full screen,
// the picture is kept scaled to fit (nearest neighbour, aspect ratio kept, centred on black)
// and only its changed rows are rescaled. Only the rows that changed are repainted, so a still
// picture costs next to nothing. Lines of text can be shown over the picture (paused,
// waiting for a player): they are painted here, on the scaled picture, and never touch the
// game's frame.
#include <QImage>
#include <QRegion>
#include <QStringList>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "app/qt/frame_copy.h"
#include "core/platform/services.h"

namespace app {

// To be called before QApplication is made (it sets the environment). With MIT-SHM, Qt's X11
// backing store waits for a round trip to the X server before painting over any area it sent
// before, which a game's frame always does; the few kilobytes a frame repaints then go as plain
// image requests instead. Left alone where the player's environment already says.
void PreferPlainImageRequests();

class DrawSurface : public QWidget, public kdv::Display {
    Q_OBJECT
  public:
    explicit DrawSurface(QWidget* parent = nullptr);

    bool CanDraw() const override;
    // Converts the frame and paints the part of the widget that changed.
    void Present(const kdv::WorkBitmap& bitmap) override;
    bool TakesRuns() const override { return true; }
    void PresentRuns(const kdv::FrameChange& change) override;

    // The last frame at the mode's size (RGB32), and as painted at the widget's size: the same
    // image at the mode's own size, else its scaled copy.
    const QImage& View() const { return view_; }
    const QImage& Shown() const;
    // When a game frame was first painted; the epoch until then.
    std::chrono::steady_clock::time_point FirstPainted() const { return firstPainted_; }
    // The lines shown over the picture, top first; none for the plain picture.
    void SetOverlay(const QStringList& lines);
    const QStringList& Overlay() const { return overlay_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    // The picture shows no focus, so taking or losing it repaints nothing (QWidget's own
    // handlers repaint the whole picture, and the window takes the focus just before its
    // first frame).
    void focusInEvent(QFocusEvent*) override {}
    void focusOutEvent(QFocusEvent*) override {}
    void resizeEvent(QResizeEvent* event) override;

  private:
    QRect Target() const;  // where the frame lands in the widget
    void PaintOverlay(class QPainter& painter, const QRect& target) const;
    // Brings the scaled copy up to date over the view's pixels of span (all when it is stale)
    // and notes the widget's pixels that show them for repainting.
    void Changed(const struct PixelSpan& span);
    // Paints the noted pixels now.
    void RepaintChanged();
    // The plain picture copied into the window's backing store; false where it cannot be.
    bool CopyToBackingStore(const QRegion& region);
    // The same outside a paint event, flushed to the screen at once; false where it cannot be.
    bool PaintStraight(const QRegion& region);
    bool Covered() const;

    QImage view_;
    std::chrono::steady_clock::time_point firstPainted_;
    QImage scaled_;  // empty while the picture is shown at the mode's own size
    bool scaledStale_ = true;
    std::array<uint32_t, 256> colours_{};
    long presented_ = 0;
    QStringList overlay_;
    QRegion changed_;               // widget pixels to repaint at the end of the frame
    std::vector<PixelSpan> boxes_;  // kept from frame to frame for its storage
};

}  // namespace app
