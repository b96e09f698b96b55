#include "report/pdf_document.h"

#include <hpdf.h>

#include <cstdio>
#include <string>

#include "report/qr_code.h"

namespace report {

// DejaVu Sans cut down at build time to the characters the layouts and the journal's text use
// (report/CMakeLists.txt), compiled into the program so that it needs no font file at run time.
extern const unsigned char kDejaVuSans[];
extern const std::size_t kDejaVuSansSize;

namespace {

struct Failure {
    unsigned long error = 0, detail = 0;
};

void NoteError(HPDF_STATUS error, HPDF_STATUS detail, void* user_data) {
    auto* first = static_cast<Failure*>(user_data);
    if (first->error == 0) *first = Failure{error, detail};
}

// libharu 2.3.0 loads a TrueType font only from a file by its documented calls; its own
// memory stream and font loader, which that call is made of, take the bytes the program holds.
const char* LoadEmbeddedFont(HPDF_Doc doc) {
    HPDF_Stream stream = HPDF_MemStream_New(doc->mmgr, 4096);
    if (stream == nullptr ||
        HPDF_Stream_Write(stream, kDejaVuSans, static_cast<HPDF_UINT>(kDejaVuSansSize)) !=
            HPDF_OK) {
        if (stream != nullptr) HPDF_Stream_Free(stream);
        return nullptr;
    }
    // The font definition owns the stream from here on, and reads glyphs from it when saving.
    HPDF_FontDef definition = HPDF_TTFontDef_Load(doc->mmgr, stream, HPDF_TRUE);
    if (definition == nullptr) return nullptr;
    const char* name = definition->base_font;
    if (HPDF_Doc_RegisterFontDef(doc, definition) != HPDF_OK) return nullptr;
    // The subset's name prefix, as the file-loading call gives the first font it embeds.
    char tag[] = "HPDFAA";
    HPDF_TTFontDef_SetTagName(definition, tag);
    return name;
}

// "2026-12-08T10:42:05.123Z"; none for any other text.
bool DateOf(const std::string& iso, HPDF_Date& date) {
    int year = 0, month = 0, day = 0, hour = 0, minutes = 0, seconds = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minutes,
                    &seconds) != 6) {
        return false;
    }
    date = HPDF_Date{year, month, day, hour, minutes, seconds, 'Z', 0, 0};
    return true;
}

}  // namespace

struct PdfDocument::Impl {
    Failure failure;
    HPDF_Doc doc = nullptr;
    HPDF_Page page = nullptr;
    HPDF_Font font = nullptr;
    float grey = 0;
};

PdfDocument::PdfDocument(const std::string& title, const std::string& date)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.doc = HPDF_New(NoteError, &d.failure);
    if (d.doc == nullptr) {
        d.failure.error = HPDF_FAILD_TO_ALLOC_MEM;
        return;
    }
    HPDF_SetCompressionMode(d.doc, HPDF_COMP_ALL);
    HPDF_UseUTFEncodings(d.doc);
    HPDF_SetCurrentEncoder(d.doc, "UTF-8");
    if (const char* name = LoadEmbeddedFont(d.doc)) {
        d.font = HPDF_GetFont(d.doc, name, "UTF-8");
    }
    if (d.font == nullptr && d.failure.error == 0) d.failure.error = HPDF_INVALID_FONTDEF_DATA;
    HPDF_SetInfoAttr(d.doc, HPDF_INFO_TITLE, title.c_str());
    HPDF_SetInfoAttr(d.doc, HPDF_INFO_CREATOR, "transmitter-cli");
    // The library's release without the suffix a source tree may carry ("2.3.0RC2" in
    // upstream's, "2.3.0" in Debian's), so that the Windows programs, built from the source
    // package, write the bytes the Linux ones do.
    const std::string producer = "Haru Free PDF Library " + std::to_string(HPDF_MAJOR_VERSION) +
                                 "." + std::to_string(HPDF_MINOR_VERSION) + "." +
                                 std::to_string(HPDF_BUGFIX_VERSION);
    HPDF_SetInfoAttr(d.doc, HPDF_INFO_PRODUCER, producer.c_str());
    // The record's own time, never the clock's, so that the same row gives the same bytes.
    HPDF_Date when{};
    if (DateOf(date, when)) HPDF_SetInfoDateAttr(d.doc, HPDF_INFO_CREATION_DATE, when);
}

PdfDocument::~PdfDocument() {
    if (impl_->doc != nullptr) HPDF_Free(impl_->doc);
}

void PdfDocument::NewPage() {
    Impl& d = *impl_;
    if (d.font == nullptr) return;
    d.page = HPDF_AddPage(d.doc);
    HPDF_Page_SetWidth(d.page, kWidth);
    HPDF_Page_SetHeight(d.page, kHeight);
    Grey(0);
}

void PdfDocument::Text(float x, float y, float size, const std::string& text) {
    Impl& d = *impl_;
    if (d.page == nullptr || text.empty()) return;
    HPDF_Page_BeginText(d.page);
    HPDF_Page_SetFontAndSize(d.page, d.font, size);
    HPDF_Page_TextOut(d.page, x, y, text.c_str());
    HPDF_Page_EndText(d.page);
}

void PdfDocument::TextRight(float right, float y, float size, const std::string& text) {
    Text(right - Width(text, size), y, size, text);
}

float PdfDocument::Width(const std::string& text, float size) const {
    if (impl_->font == nullptr || text.empty()) return 0;
    const HPDF_TextWidth width =
        HPDF_Font_TextWidth(impl_->font, reinterpret_cast<const HPDF_BYTE*>(text.data()),
                            static_cast<HPDF_UINT>(text.size()));
    return static_cast<float>(width.width) * size / 1000.0f;
}

std::string PdfDocument::Fitted(const std::string& text, float size, float width) const {
    if (Width(text, size) <= width) return text;
    std::string cut = text;
    while (!cut.empty() && Width(cut + "…", size) > width) {
        // Back to the start of the last character.
        do {
            cut.pop_back();
        } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
        if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0xC0) cut.pop_back();
    }
    return cut + "…";
}

std::vector<std::string> PdfDocument::Wrapped(const std::string& text, float size, float width,
                                              std::size_t lines) const {
    std::vector<std::string> out;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t blank = text.find(' ', at);
        const std::string word = text.substr(at, blank == std::string::npos ? blank : blank - at);
        at = blank == std::string::npos ? text.size() : blank + 1;
        const std::string longer = line.empty() ? word : line + " " + word;
        if (line.empty() || Width(longer, size) <= width) {
            line = longer;
            continue;
        }
        out.push_back(line);
        line = word;
        if (out.size() == lines) break;
    }
    if (out.size() < lines && !line.empty()) {
        out.push_back(line);
    } else if (!line.empty() && !out.empty()) {
        out.back() = Fitted(out.back() + " " + line + (at < text.size() ? " …" : ""), size, width);
    }
    for (std::string& shown : out) shown = Fitted(shown, size, width);
    return out;
}

void PdfDocument::Line(float x1, float y1, float x2, float y2, float width) {
    HPDF_Page page = impl_->page;
    if (page == nullptr) return;
    HPDF_Page_SetLineWidth(page, width);
    HPDF_Page_MoveTo(page, x1, y1);
    HPDF_Page_LineTo(page, x2, y2);
    HPDF_Page_Stroke(page);
}

void PdfDocument::Box(float x, float y, float width, float height) {
    HPDF_Page page = impl_->page;
    if (page == nullptr) return;
    HPDF_Page_Rectangle(page, x, y, width, height);
    HPDF_Page_Fill(page);
}

void PdfDocument::Grey(float level) {
    HPDF_Page page = impl_->page;
    if (page == nullptr) return;
    HPDF_Page_SetGrayFill(page, level);
    HPDF_Page_SetGrayStroke(page, level);
}

bool PdfDocument::Qr(float x, float y, float side, const std::string& text) {
    const QrModules qr = QrCodeOf(text);
    if (qr.size == 0 || impl_->page == nullptr) return false;
    // Four modules of quiet zone on every side, as readers expect.
    const float module = side / static_cast<float>(qr.size + 8);
    Grey(0);
    for (int row = 0; row < qr.size; ++row) {
        for (int column = 0; column < qr.size; ++column) {
            if (!qr.dark[static_cast<std::size_t>(row) * qr.size + column]) continue;
            HPDF_Page_Rectangle(impl_->page, x + module * static_cast<float>(column + 4),
                                y + side - module * static_cast<float>(row + 5), module, module);
        }
    }
    HPDF_Page_Fill(impl_->page);
    return true;
}

std::optional<std::string> PdfDocument::Bytes(std::string& error) {
    Impl& d = *impl_;
    if (d.failure.error == 0 && HPDF_SaveToStream(d.doc) != HPDF_OK && d.failure.error == 0) {
        d.failure.error = HPDF_FILE_IO_ERROR;
    }
    std::string bytes;
    if (d.failure.error == 0) {
        bytes.resize(HPDF_GetStreamSize(d.doc));
        HPDF_UINT32 size = static_cast<HPDF_UINT32>(bytes.size());
        if (HPDF_ReadFromStream(d.doc, reinterpret_cast<HPDF_BYTE*>(bytes.data()), &size) !=
                HPDF_OK &&
            size != bytes.size()) {
            d.failure.error = HPDF_FILE_IO_ERROR;
        }
        bytes.resize(size);
    }
    if (d.failure.error != 0) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "the PDF library failed (libharu error 0x%04lX, detail %lu)", d.failure.error,
                      d.failure.detail);
        error = text;
        return std::nullopt;
    }
    return bytes;
}

}  // namespace report
