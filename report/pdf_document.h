#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

// A PDF drawn page by page on A4, in points from the bottom left, all text in the DejaVu Sans
// that the program carries, embedded and searchable. The same calls give the same bytes: the
// document holds no clock time and no random id.
namespace report {

class PdfDocument {
  public:
    static constexpr float kWidth = 595.276f;
    static constexpr float kHeight = 841.89f;

    // `date`: the journal's "2026-12-08T10:42:05.123Z" that stands as the document's date.
    PdfDocument(const std::string& title, const std::string& date);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    void NewPage();
    void Text(float x, float y, float size, const std::string& text);
    void TextRight(float right, float y, float size, const std::string& text);
    float Width(const std::string& text, float size) const;
    // Cut with "…" to fit `width`.
    std::string Fitted(const std::string& text, float size, float width) const;
    // Broken at blanks into lines of `width`, at most `lines` of them, the last one cut.
    std::vector<std::string> Wrapped(const std::string& text, float size, float width,
                                     std::size_t lines) const;
    void Line(float x1, float y1, float x2, float y2, float width = 0.5f);
    void Box(float x, float y, float width, float height);  // filled
    void Grey(float level);                                 // 0 black, 1 white; text and fills
    // The QR code of `text`, `side` points wide, its bottom left at x, y.
    bool Qr(float x, float y, float side, const std::string& text);

    // The file's bytes; none, with the reason, when libharu failed anywhere.
    std::optional<std::string> Bytes(std::string& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace report
