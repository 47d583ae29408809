#pragma once
// Reading of the text sources of pictures and glyphs: statements, rows of a picture taken
// verbatim, a legend of characters for colour indices, and errors that name file and line.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace assetc {

// A fault in a source file; what() reads "file:line: message".
class SourceError : public std::runtime_error {
  public:
    SourceError(const std::string& file, int line, const std::string& message);
};

// Hands out a source file line by line. Blank lines and lines whose first non-blank character
// is '#' are comments between statements; rows of a picture are taken as they stand, so a
// picture may use '#' as one of its characters.
class SourceReader {
  public:
    // Reads the whole file; throws SourceError when it cannot.
    explicit SourceReader(const std::string& path);

    // The next statement, with surrounding blanks removed; false at the end of the file.
    bool NextStatement(std::string& text);
    // The next line with trailing blanks removed; what names the expected row in the error
    // raised at the end of the file.
    std::string NextRow(const std::string& what);

    const std::string& path() const { return path_; }
    // Number of the line returned last (1-based).
    int line() const { return next_; }

    [[noreturn]] void Fail(const std::string& message) const;
    [[noreturn]] void FailAt(int line, const std::string& message) const;

  private:
    std::string path_;
    std::vector<std::string> lines_;
    int next_ = 0;
};

std::vector<std::string> SplitWords(std::string_view text);

// A decimal number within lo..hi, or an error naming what it should have been.
int ParseNumber(const SourceReader& in, const std::string& word, int lo, int hi,
                const std::string& what);

// "a..b" (inclusive, a <= b) or a single number "a".
struct Span {
    int first = 0;
    int last = 0;
};
Span ParseSpan(const SourceReader& in, const std::string& word, int lo, int hi,
               const std::string& what);

// Characters of a picture and the colour index each one stands for.
class Legend {
  public:
    // Reads entries up to the line "end". Each entry is one character, then a colour index
    // 0..255 or the word "transparent" (255), then an optional description.
    void Parse(SourceReader& in);
    bool empty() const { return defined_ == 0; }
    // Reads `height` rows of exactly `width` legend characters into `out` (row by row).
    void ReadPicture(SourceReader& in, int width, int height, const std::string& what,
                     std::vector<uint8_t>& out) const;

  private:
    int colour_[256] = {};
    bool known_[256] = {};
    int defined_ = 0;
};

std::vector<uint8_t> ReadBinaryFile(const std::string& path);
// Writes all bytes or reports false; the build must not leave a half-written data file.
bool WriteBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace assetc
