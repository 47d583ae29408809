#include "web/web_devices.h"

#include <emscripten.h>

namespace web {

// page.js answers every call by name; the bytes, if any, are copied out at once.
EM_JS(void, page_call, (const char* what, const char* text, const uint8_t* bytes, int size), {
    Kordavel.call(UTF8ToString(what), UTF8ToString(text),
                  bytes ? HEAPU8.slice(bytes, bytes + size) : null);
});
EM_JS(double, page_now, (), { return performance.now(); });

void PageCall(const char* what, const std::string& text, const uint8_t* bytes, size_t size) {
    page_call(what, text.c_str(), bytes, int(size));
}

void CanvasDisplay::Present(const kdv::WorkBitmap& bitmap) {
    // A doubled bitmap holds each pixel four times; the canvas is scaled by the page.
    const int step = bitmap.width >= 2 * kdv::kScreenWidth ? 2 : 1;
    for (int y = 0; y < kdv::kScreenHeight; ++y)
        for (int x = 0; x < kdv::kScreenWidth; ++x) {
            const uint16_t pixel =
                bitmap.pixels[size_t(y * step) * size_t(bitmap.width) + size_t(x * step)];
            uint8_t* out = &rgba_[size_t(y * kdv::kScreenWidth + x) * 4];
            kdv::PixelToRgb(pixel, bitmap.rgb565, out);
            out[3] = 255;
        }
    presented = true;
}

void WebAudioSound::Initialise() {
    if (!EM_ASM_INT({ return Kordavel.audioAvailable() ? 1 : 0; }))
        throw std::runtime_error("no WebAudio");
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
    adapters::MemoryFiles::Append(path, bytes);
    if (keep) PageCall("file", path, files[path].data(), files[path].size());
}

bool PageFiles::Replace(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (!adapters::MemoryFiles::Replace(path, bytes)) return false;
    if (keep) PageCall("file", path, bytes.data(), bytes.size());
    return true;
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
