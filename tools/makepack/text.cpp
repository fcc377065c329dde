// text.cpp -- UTF-8 lines rendered into coverage masks with FreeType.
#include "makepack/draw.h"

#include <ft2build.h>
#include FT_FREETYPE_H

namespace makepack {

const char* const kFontDirectory = "/usr/share/fonts/truetype/dejavu/";

std::string fontPath(std::string_view file) {
    return std::string(kFontDirectory) + std::string(file);
}

struct Font::Library {
    FT_Library handle = nullptr;
};

namespace {
FT_Face asFace(void* face) {
    return static_cast<FT_Face>(face);
}

// Decodes one code point and advances; bad bytes become U+FFFD.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i++);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0) return 0xfffd;
    char32_t cp = extra == 0 ? c : c & (0x3f >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (byte(i) & 0xc0) != 0x80) return 0xfffd;
        cp = (cp << 6) | (byte(i++) & 0x3f);
    }
    return cp;
}

// Walks the line glyph by glyph with kerning; visit(glyphIndex, penX).
template <typename Visit> int walk(FT_Face face, std::string_view utf8, Visit visit) {
    long pen = 0; // 26.6 fixed point
    FT_UInt previous = 0;
    for (size_t i = 0; i < utf8.size();) {
        FT_UInt glyph = FT_Get_Char_Index(face, nextCodePoint(utf8, i));
        if (previous && glyph && FT_HAS_KERNING(face)) {
            FT_Vector k;
            FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &k);
            pen += k.x;
        }
        if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) != 0) continue;
        visit(glyph, pen);
        pen += face->glyph->advance.x;
        previous = glyph;
    }
    return static_cast<int>((pen + 63) >> 6);
}
} // namespace

Font::Font(const std::string& path, int pixelSize) : library_(std::make_unique<Library>()) {
    if (FT_Init_FreeType(&library_->handle) != 0) return;
    FT_Face face = nullptr;
    if (FT_New_Face(library_->handle, path.c_str(), 0, &face) != 0) return;
    FT_Set_Pixel_Sizes(face, 0, pixelSize);
    face_ = face;
}

Font::~Font() {
    if (face_) FT_Done_Face(asFace(face_));
    if (library_->handle) FT_Done_FreeType(library_->handle);
}

int Font::ascent() const {
    return static_cast<int>(asFace(face_)->size->metrics.ascender >> 6);
}

int Font::lineHeight() const {
    return static_cast<int>(asFace(face_)->size->metrics.height >> 6);
}

int Font::measure(std::string_view utf8) const {
    return walk(asFace(face_), utf8, [](FT_UInt, long) {});
}

void Font::draw(Mask& m, std::string_view utf8, int x, int baseline) const {
    FT_Face face = asFace(face_);
    walk(face, utf8, [&](FT_UInt, long pen) {
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) return;
        const FT_Bitmap& bm = face->glyph->bitmap;
        int left = x + static_cast<int>(pen >> 6) + face->glyph->bitmap_left;
        int top = baseline - face->glyph->bitmap_top;
        for (unsigned row = 0; row < bm.rows; ++row) {
            for (unsigned col = 0; col < bm.width; ++col) {
                int px = left + static_cast<int>(col), py = top + static_cast<int>(row);
                if (px < 0 || py < 0 || px >= m.width || py >= m.height) continue;
                float v = bm.buffer[row * bm.pitch + col] / 255.0f;
                m.at(px, py) = std::min(1.0f, m.at(px, py) + v);
            }
        }
    });
}

namespace {
Mask shifted(const Mask& m, int dx, int dy) {
    Mask out = makeMask(m.width, m.height);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) out.at(x, y) = m.sample(x - dx, y - dy);
    return out;
}
} // namespace

void paintText(Raster& r, const Mask& mask, const TextStyle& st, int inkTop, int inkBottom) {
    Mask outline = st.outline.a > 0 ? dilate(mask, st.outlineRadius) : Mask{};
    const Mask& body = st.outline.a > 0 ? outline : mask;
    if (st.shadow.a > 0) {
        Mask shadow = shifted(body, st.shadowDx, st.shadowDy);
        if (st.shadowBlur > 0) boxBlur(shadow, st.shadowBlur, 3);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) blendOver(r.at(x, y), st.shadow, shadow.at(x, y));
    }
    float span = std::max(1, inkBottom - inkTop);
    for (int y = 0; y < r.height; ++y) {
        Rgba fill = mix(st.top, st.bottom, smoothstep(0, 1, (y - inkTop) / span));
        for (int x = 0; x < r.width; ++x) {
            if (st.outline.a > 0) blendOver(r.at(x, y), st.outline, outline.at(x, y));
            blendOver(r.at(x, y), fill, mask.at(x, y));
        }
    }
}

} // namespace makepack
