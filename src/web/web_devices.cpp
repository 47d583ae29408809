#include "web/web_devices.h"

#include <emscripten.h>

#include <algorithm>

namespace web {

// page.js answers every call by name; the bytes, if any, are copied out at once.
EM_JS(void, page_call, (const char* what, const char* text, const uint8_t* bytes, int size), {
    Kordavel.call(UTF8ToString(what), UTF8ToString(text),
                  bytes ? HEAPU8.slice(bytes, bytes + size) : null);
});
EM_JS(double, page_now, (), { return performance.now(); });
EM_JS(int, page_keep, (const char* path, const uint8_t* bytes, int size),
      { return Kordavel.keep(UTF8ToString(path), HEAPU8.subarray(bytes, bytes + size)) ? 1 : 0; });

void PageCall(const char* what, const std::string& text, const uint8_t* bytes, size_t size) {
    page_call(what, text.c_str(), bytes, int(size));
}

namespace {

uint32_t Rgba(uint16_t pixel, bool rgb565) {
    uint8_t rgb[3];
    kdv::PixelToRgb(pixel, rgb565, rgb);
    // The canvas's bytes are R, G, B, A in memory: little-endian, A is the top byte.
    return uint32_t(rgb[0]) | uint32_t(rgb[1]) << 8 | uint32_t(rgb[2]) << 16 | 0xff000000u;
}

// Changes this close (frame pixels) go into one rectangle: an upload more is dearer than a few
// unchanged pixels.
constexpr int kBoxGap = 8;

}  // namespace

void CanvasDisplay::Present(const kdv::WorkBitmap& bitmap) {
    // A doubled bitmap holds each pixel four times; the canvas is scaled by the page.
    const int step = bitmap.width >= 2 * kdv::kScreenWidth ? 2 : 1;
    for (int y = 0; y < kdv::kScreenHeight; ++y)
        for (int x = 0; x < kdv::kScreenWidth; ++x)
            rgba_[size_t(y * kdv::kScreenWidth + x)] =
                Rgba(bitmap.pixels[size_t(y * step) * size_t(bitmap.width) + size_t(x * step)],
                     bitmap.rgb565);
    Changed(0, 0, kdv::kScreenWidth - 1, kdv::kScreenHeight - 1);
    presented = true;
}

void CanvasDisplay::PresentRuns(const kdv::FrameChange& change) {
    presented = true;
    if (!change.pixels || !change.table || !change.runs) return;
    if (change.whole)
        for (size_t i = 0; i < colours_.size(); ++i)
            colours_[i] = Rgba(change.table[i], change.rgb565);
    for (const kdv::PixelRun& run : *change.runs) {
        const int y = run.first / kdv::kScreenWidth, x = run.first % kdv::kScreenWidth;
        const int count = std::min<int>(run.count, kdv::kScreenWidth - x);
        for (int k = 0; k < count; ++k)
            rgba_[size_t(run.first + k)] = colours_[change.pixels[run.first + k]];
        Changed(x, y, x + count - 1, y);
    }
}

void CanvasDisplay::Changed(int left, int top, int right, int bottom) {
    // Into the first box it comes near, else a box of its own; with none left, the last grows.
    for (int i = 0; i < boxCount_; ++i) {
        Box& b = boxes_[size_t(i)];
        if (left > b.left + b.width + kBoxGap || right + kBoxGap < b.left ||
            top > b.top + b.height + kBoxGap || bottom + kBoxGap < b.top)
            continue;
        const int r = std::max(right, b.left + b.width - 1);
        const int d = std::max(bottom, b.top + b.height - 1);
        b.left = std::min(left, b.left);
        b.top = std::min(top, b.top);
        b.width = r - b.left + 1;
        b.height = d - b.top + 1;
        return;
    }
    if (boxCount_ < kMaxBoxes) {
        boxes_[size_t(boxCount_++)] = {left, top, right - left + 1, bottom - top + 1};
        return;
    }
    Box& last = boxes_[size_t(kMaxBoxes - 1)];
    const int r = std::max(right, last.left + last.width - 1);
    const int d = std::max(bottom, last.top + last.height - 1);
    last.left = std::min(left, last.left);
    last.top = std::min(top, last.top);
    last.width = r - last.left + 1;
    last.height = d - last.top + 1;
}

const int32_t* CanvasDisplay::TakeChanges() {
    taken_[0] = boxCount_;
    for (int i = 0; i < boxCount_; ++i) {
        const Box& b = boxes_[size_t(i)];
        taken_[size_t(1 + 4 * i)] = b.left;
        taken_[size_t(2 + 4 * i)] = b.top;
        taken_[size_t(3 + 4 * i)] = b.width;
        taken_[size_t(4 + 4 * i)] = b.height;
    }
    boxCount_ = 0;
    return taken_.data();
}

void WebAudioSound::Initialise() {
    if (!EM_ASM_INT({ return Kordavel.audioAvailable() ? 1 : 0; }))
        throw std::runtime_error("no WebAudio");
    // The page's context renders as many frames at a time as the window's mixer: a shorter
    // buffer would wake the browser's sound threads more often for no sound effect's sake.
    PageCall("sound-buffer",
             std::to_string(kdv::kSoundBufferFrames) + " " + std::to_string(kdv::kSoundFrequency));
}

void WebAudioSound::LoadBank(std::vector<std::vector<uint8_t>> waves) {
    PageCall("soundbank-clear");
    for (const auto& wave : waves) PageCall("soundbank-add", "", wave.data(), wave.size());
    count_ = int(waves.size());
}

void WebAudioSound::Play(int item, int volume, bool) {
    // Waiting is the exit sound's, at close; a page never blocks for it.
    PageCall("play", std::to_string(item) + " " + std::to_string(volume));
}

void PageFiles::Append(const std::string& path, const std::vector<uint8_t>& bytes) {
    const auto before = files.find(path);
    const size_t size = before == files.end() ? 0 : before->second.size();
    adapters::MemoryFiles::Append(path, bytes);
    std::vector<uint8_t>& now = files[path];
    if (!keep || page_keep(path.c_str(), now.data(), int(now.size()))) return;
    now.resize(size);
    throw kdv::FileError("\"" + path + "\" cannot be written");
}

bool PageFiles::Replace(const std::string& path, const std::vector<uint8_t>& bytes) {
    // What the browser did not keep is not written here either: the game tells the player.
    if (readOnly.count(path)) return false;
    if (keep && !page_keep(path.c_str(), bytes.data(), int(bytes.size()))) return false;
    return adapters::MemoryFiles::Replace(path, bytes);
}

uint32_t PageClock::TickCount() {
    return manual ? now : uint32_t(uint64_t(page_now()));
}

void PageWindow::ShowMessage(const std::string& text) {
    PageCall("message", text);
}

void PageWindow::Close() {
    PageCall("close");
}

void PageWindow::Fail(const std::string& text) {
    failed = true;
    PageCall("fail", text);
}

void PageWindow::ApplyMode(int width, int height, bool fullScreen) {
    width_ = width;
    height_ = height;
    fullScreen_ = fullScreen;
    PageCall("mode",
             std::to_string(width) + " " + std::to_string(height) + " " + (fullScreen ? "1" : "0"));
}

void PageWindow::ToggleFullScreen() {
    ApplyMode(width_, height_, !fullScreen_);
}

void PageWindow::SetPaletteChecked(bool checked) {
    PageCall("palette", checked ? "1" : "0");
}

void PageWindow::SetLanguageChecked(int lang) {
    language = lang;
    PageCall("language", std::to_string(lang));
}

void PageWindow::ShowOptions() {
    PageCall("dialog", "options");
}

void PageWindow::ShowAbout() {
    PageCall("dialog", "about");
}

void PageWindow::ShowSelectLevel() {
    PageCall("dialog", "select");
}

}  // namespace web
