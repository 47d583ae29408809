#include "assetc/grid_text.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace assetc {

namespace {

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(0, e));
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Shows a character of a row readably in a message.
std::string Quote(char c) {
    if (c >= 33 && c <= 126) return std::string("'") + c + "'";
    char buf[16];
    std::snprintf(buf, sizeof buf, "byte %u", static_cast<unsigned char>(c));
    return buf;
}

}  // namespace

SourceError::SourceError(const std::string& file, int line, const std::string& message)
    : std::runtime_error(line > 0 ? file + ":" + std::to_string(line) + ": " + message
                                  : file + ": " + message) {}

SourceReader::SourceReader(const std::string& path) : path_(path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw SourceError(path, 0, "cannot be read");
    std::ostringstream text;
    text << f.rdbuf();
    lines_ = SplitLines(text.str());
}

bool SourceReader::NextStatement(std::string& text) {
    while (next_ < static_cast<int>(lines_.size())) {
        std::string_view line = Trim(lines_[next_++]);
        if (line.empty() || line[0] == '#') continue;
        text = std::string(line);
        return true;
    }
    return false;
}

std::string SourceReader::NextRow(const std::string& what) {
    if (next_ >= static_cast<int>(lines_.size()))
        FailAt(next_, "the file ends where " + what + " should be");
    return TrimRight(lines_[next_++]);
}

void SourceReader::Fail(const std::string& message) const {
    FailAt(next_, message);
}

void SourceReader::FailAt(int line, const std::string& message) const {
    throw SourceError(path_, line, message);
}

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        // Carriage returns count as blanks, so that files saved with CRLF read the same.
        auto blank = [&](size_t k) { return text[k] == ' ' || text[k] == '\t' || text[k] == '\r'; };
        while (i < text.size() && blank(i)) ++i;
        size_t start = i;
        while (i < text.size() && !blank(i)) ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

int ParseNumber(const SourceReader& in, const std::string& word, int lo, int hi,
                const std::string& what) {
    bool digits = !word.empty() && word.size() <= 9;
    for (char c : word) digits = digits && c >= '0' && c <= '9';
    int value = digits ? std::stoi(word) : -1;
    if (!digits || value < lo || value > hi)
        in.Fail(what + " must be a number " + std::to_string(lo) + ".." + std::to_string(hi) +
                ", not \"" + word + "\"");
    return value;
}

Span ParseSpan(const SourceReader& in, const std::string& word, int lo, int hi,
               const std::string& what) {
    size_t dots = word.find("..");
    if (dots == std::string::npos) {
        int v = ParseNumber(in, word, lo, hi, what);
        return {v, v};
    }
    Span s{ParseNumber(in, word.substr(0, dots), lo, hi, what),
           ParseNumber(in, word.substr(dots + 2), lo, hi, what)};
    if (s.last < s.first) in.Fail(what + " \"" + word + "\" runs backwards");
    return s;
}

void Legend::Parse(SourceReader& in) {
    for (int c = 0; c < 256; ++c) known_[c] = false;
    defined_ = 0;
    for (;;) {
        std::string row = in.NextRow("the legend's \"end\"");
        std::string_view entry = Trim(row);
        if (entry.empty()) continue;
        if (entry == "end") break;
        // The key is taken before anything else, so '#' can be a key here.
        unsigned char key = static_cast<unsigned char>(entry[0]);
        std::vector<std::string> words = SplitWords(entry.substr(1));
        if (entry.size() > 1 && entry[1] != ' ' && entry[1] != '\t')
            in.Fail("a legend entry is one character, a blank, then a colour index");
        if (words.empty()) in.Fail("legend entry " + Quote(key) + " has no colour index");
        if (known_[key]) in.Fail("legend character " + Quote(key) + " is given twice");
        int colour =
            words[0] == "transparent" ? 255 : ParseNumber(in, words[0], 0, 255, "a colour index");
        colour_[key] = colour;
        known_[key] = true;
        ++defined_;
    }
}

void Legend::ReadPicture(SourceReader& in, int width, int height, const std::string& what,
                         std::vector<uint8_t>& out) const {
    out.assign(static_cast<size_t>(width) * height, 255);
    for (int y = 0; y < height; ++y) {
        std::string row = in.NextRow("row " + std::to_string(y + 1) + " of " + what);
        if (static_cast<int>(row.size()) != width)
            in.Fail("row " + std::to_string(y + 1) + " of " + what + " is " +
                    std::to_string(row.size()) + " characters wide, not " + std::to_string(width));
        for (int x = 0; x < width; ++x) {
            unsigned char c = static_cast<unsigned char>(row[x]);
            if (!known_[c])
                in.Fail(Quote(row[x]) + " in column " + std::to_string(x + 1) + " of " + what +
                        " is not in the legend");
            out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(colour_[c]);
        }
    }
}

std::vector<uint8_t> ReadBinaryFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw SourceError(path, 0, "cannot be read");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool WriteBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".part";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
        if (!f.flush()) {
            f.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace assetc
