// The rules that lay a text raster on the output.
//
// Quantities, per raster pixel. Channel c is blue, green or red, indexed 0, 1,
// 2 as the pixel bytes lie. "div" is integer division rounding down; the
// integers are unsigned 32-bit and no term comes near wrapping (the largest,
// in over(), is below 2 × 255³).
//
//   r_c   raster byte of channel c: how much of it the glyphs cover    0..255
//   s     coverage sum, r_blue + r_green + r_red                       0..765
//   cov   coverage, s / 765 in single precision                        0.0..1.0
//   f_c   front colour channel; in gradient mode the gradient's
//         colour at this output pixel                                  0..255
//   a_f   the front (or gradient) colour's alpha                       0..255
//   w_c   channel opacity, r_c × a_f div 255                           0..a_f
//   w     whole opacity, cov × a_f in single precision, truncated      0..a_f
//   w'    whole opacity in integers, s × a_f div 765                   0..a_f
//   b'_c  the back colour's own channel                                0..255
//   b_c   back colour channel as the plot routines hold it: b'_c, but
//         b'_c × a_b (0..65025) where the session premultiplies (the blend
//         modes, whose rule below reads b'_c instead)
//   a_b   back alpha                                                   0..255
//   d_c   output channel before the write                              0..255
//   a_t   output alpha byte before the write (4-byte outputs)          0..255
//   back  paint the back colour where the text is not: mode bit 0x1
//         clear and the text not turned
//
// w and w' are equal for every s and a_f (checked over all 766 × 256 pairs
// with contraction off, as this code is built); each rule keeps the form it
// has always used.
//
// Three compositions recur:
//
//   mix(x, u, y)          = (x × u + y × (255 − u)) div 255
//       x with weight u / 255 over y, y taken as opaque: for 3-byte outputs,
//       and for mixing front and back before either meets the output.
//   over(x, u, y, a)      = y                                            if u = 0
//                         = x                                            if a = 0
//                         = (x × u × 255 + y × (255 − u) × a)
//                             div (u × 255 + (255 − u) × a)              otherwise
//       straight (not premultiplied) colour x of alpha u over colour y of
//       alpha a: y counts as much as it shows through, a × (255 − u), so over
//       a transparent target the colour comes out exact instead of pulled
//       towards a colour nobody sees.
//   overAlpha(u, a)       = (u × 255 + (255 − u) × a) div 255
//       the alpha of that result, u + a × (1 − u / 255).
//
// Several rules choose between w_c and w (or w') by an alpha of 192 or more
// (three quarters opaque) under the text. Separate channel coverage is
// sub-pixel detail that looks right only over an opaque colour; over a mostly
// transparent one its coloured fringes would show against whatever lies
// behind the picture, so there all three channels take the whole opacity.
//
// The rules, the first that applies:
//
//   filter (mode 0x80)   the session's filter gets source w << 24 | f's
//       colour bytes and target the output pixel as 0xAABBGGRR (alpha 0xFF on
//       3-byte outputs); its answer is stored, alpha too on 4-byte outputs.
//   xor (0x2)            d_c ^= f_c where cov > 0.5; elsewhere, with back,
//       d_c ^= b_c. Exclusive-or has no partial coverage, so the pixel is
//       text when more than half of it is covered.
//   all bytes (0x100, 4-byte outputs only), with back: u_c = w_c when
//       a_b ≥ 192, else w; d_c = over(f_c, u_c, b_c, a_b); alpha =
//       overAlpha(w, a_b). The text over its back replaces the pixel.
//       Without back: a pixel with w = 0 and every w_c = 0 stays; any other
//       becomes f_c with alpha w, which is the rule with a transparent back
//       (a_b = 0) kept to the text's pixels.
//   alpha only (0x8)     on 4-byte outputs alpha = (1 − cov) × (back ? a_b :
//       a_t) + a_f × cov in single precision, truncated; colours stay. 3-byte
//       outputs do not change.
//   blend (0x10 writes the alpha, 0x20 alone keeps it):
//       without back, 3-byte: d_c = mix(f_c, w_c, d_c).
//       without back, 4-byte: u_c = w_c when a_t ≥ 192, else w';
//           d_c = over(f_c, u_c, d_c, a_t); with 0x10 alpha =
//           overAlpha(a_t ≥ 192 ? w : w', a_t).
//       with back: front and back are mixed first, m_c = mix(f_c, r_c, b'_c)
//           and m_a = (a_f × s + a_b × (765 − s)) div 765, and the mix is
//           laid on the output once: 3-byte d_c = mix(m_c, m_a, d_c); 4-byte
//           d_c = over(m_c, m_a, d_c, a_t), with 0x10 alpha =
//           overAlpha(m_a, a_t). The mix takes b'_c, not b_c: here b_c is
//           b'_c × a_b, beyond a byte, and a_b enters through m_a.
//   copy (anything else) each channel by its own raster byte, the front alpha
//       unused: with back d_c = ((255 − r_c) × b_c + f_c × r_c) div 255,
//       without back d_c = (f_c × r_c + (255 − r_c) × d_c) div 255. The alpha
//       byte stays.
#include "draw/text_blend.h"

#include <algorithm>

#include "draw/plot.h"

namespace oct {
namespace {

using namespace DrawMode;

// What every rule knows of one raster pixel and the colour laid by it.
struct TextSample {
    const std::uint8_t* rasterBytes;  // r_c: the raster pixel's three bytes
    float coverage;                   // cov
    std::uint32_t coverageSum;        // s
    std::uint32_t front[3];           // f_c
    std::uint32_t frontAlpha;         // a_f
    std::uint32_t channelOpacity[3];  // w_c
    std::uint32_t opacity;            // w
};

// What the rules read of the session, fixed for the call.
struct TextPaint {
    bool paintBack;                // back
    std::uint32_t backPlotted[3];  // b_c
    std::uint32_t backAlpha;       // a_b
    std::uint32_t backStraight[3]; // b'_c
};

// The output pixel as 0xAABBGGRR for the filter, alpha 0xFF on 3-byte pixels.
template <bool kFour>
std::uint32_t outputColour(const std::uint8_t* out) {
    std::uint32_t v = static_cast<std::uint32_t>(out[0]) << 16 | static_cast<std::uint32_t>(out[1]) << 8 | out[2];
    return v | (kFour ? static_cast<std::uint32_t>(out[3]) << 24 : 0xFF000000u);
}

std::uint8_t lowByte(std::uint32_t v) { return static_cast<std::uint8_t>(v); }

// mix(x, u, y) above.
std::uint32_t mix(std::uint32_t fore, std::uint32_t weight, std::uint32_t under) {
    return (fore * weight + under * (255 - weight)) / 255;
}

// over(x, u, y, a) above.
std::uint32_t over(std::uint32_t source, std::uint32_t opacity, std::uint32_t target, std::uint32_t targetAlpha) {
    if (opacity == 0) return target;
    if (targetAlpha == 0) return source;
    return (source * opacity * 255 + target * (255 - opacity) * targetAlpha) /
           (opacity * 255 + (255 - opacity) * targetAlpha);
}

// overAlpha(u, a) above.
std::uint32_t overAlpha(std::uint32_t opacity, std::uint32_t targetAlpha) {
    return (opacity * 255 + (255 - opacity) * targetAlpha) / 255;
}

// Each rule writes the output pixel `out` at area position (x, y); `source`
// is the front or gradient colour, 0xAABBGGRR.

template <bool kFour>
struct FilterRule {
    void operator()(DrawContext& c, const TextPaint&, const TextSample& px, std::uint8_t* out, std::int32_t x,
                    std::int32_t y, std::uint32_t source) const {
        const std::uint32_t v = c.filter(c, x, y, px.opacity << 24 | (source & 0xFFFFFF), outputColour<kFour>(out));
        out[0] = lowByte(v >> 16);
        out[1] = lowByte(v >> 8);
        out[2] = lowByte(v);
        if (kFour) out[3] = lowByte(v >> 24);
    }
};

template <bool kFour>
struct XorRule {
    void operator()(DrawContext&, const TextPaint& paint, const TextSample& px, std::uint8_t* out, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (px.coverage > 0.5f) {
            for (int i = 0; i < 3; ++i) out[i] = lowByte(out[i] ^ px.front[i]);
        } else if (paint.paintBack) {
            for (int i = 0; i < 3; ++i) out[i] = lowByte(out[i] ^ paint.backPlotted[i]);
        }
    }
};

// All four bytes; chosen for 4-byte outputs only.
struct AllBytesRule {
    void operator()(DrawContext&, const TextPaint& paint, const TextSample& px, std::uint8_t* out, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (!paint.paintBack) {
            if (px.opacity == 0 && px.channelOpacity[0] == 0 && px.channelOpacity[1] == 0 && px.channelOpacity[2] == 0)
                return;
            for (int i = 0; i < 3; ++i) out[i] = lowByte(px.front[i]);
            out[3] = lowByte(px.opacity);
            return;
        }
        const std::uint32_t backAlpha = paint.backAlpha;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t opacity = backAlpha >= 192 ? px.channelOpacity[i] : px.opacity;
            out[i] = lowByte(over(px.front[i], opacity, paint.backPlotted[i], backAlpha));
        }
        out[3] = lowByte(overAlpha(px.opacity, backAlpha));
    }
};

template <bool kFour>
struct AlphaOnlyRule {
    void operator()(DrawContext&, const TextPaint& paint, const TextSample& px, std::uint8_t* out, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (!kFour) return;
        const float under = static_cast<float>(paint.paintBack ? paint.backAlpha : out[3]);
        out[3] = lowByte(static_cast<std::uint32_t>((1.0f - px.coverage) * under +
                                                    static_cast<float>(px.frontAlpha) * px.coverage));
    }
};

template <bool kFour>
struct BlendRule {
    bool setAlpha;  // mode 0x10; 0x20 alone keeps the output's alpha

    void operator()(DrawContext&, const TextPaint& paint, const TextSample& px, std::uint8_t* out, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (paint.paintBack) {
            std::uint32_t mixed[3];
            for (int i = 0; i < 3; ++i) mixed[i] = mix(px.front[i], px.rasterBytes[i], paint.backStraight[i]);
            const std::uint32_t mixedAlpha =
                (px.frontAlpha * px.coverageSum + paint.backAlpha * (765 - px.coverageSum)) / 765;
            if (!kFour) {
                for (int i = 0; i < 3; ++i) out[i] = lowByte(mix(mixed[i], mixedAlpha, out[i]));
                return;
            }
            const std::uint32_t targetAlpha = out[3];
            for (int i = 0; i < 3; ++i) out[i] = lowByte(over(mixed[i], mixedAlpha, out[i], targetAlpha));
            if (setAlpha) out[3] = lowByte(overAlpha(mixedAlpha, targetAlpha));
            return;
        }
        if (!kFour) {
            for (int i = 0; i < 3; ++i) out[i] = lowByte(mix(px.front[i], px.channelOpacity[i], out[i]));
            return;
        }
        const std::uint32_t targetAlpha = out[3];
        const bool opaqueUnder = targetAlpha >= 192;
        const std::uint32_t opacityInIntegers = (px.coverageSum * px.frontAlpha) / 765;  // w'
        for (int i = 0; i < 3; ++i)
            out[i] = lowByte(over(px.front[i], opaqueUnder ? px.channelOpacity[i] : opacityInIntegers, out[i],
                                  targetAlpha));
        if (setAlpha) out[3] = lowByte(overAlpha(opaqueUnder ? px.opacity : opacityInIntegers, targetAlpha));
    }
};

template <bool kFour>
struct CopyRule {
    void operator()(DrawContext&, const TextPaint& paint, const TextSample& px, std::uint8_t* out, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t cover = px.rasterBytes[i];
            out[i] = lowByte(paint.paintBack ? ((255 - cover) * paint.backPlotted[i] + px.front[i] * cover) / 255
                                             : (px.front[i] * cover + (255 - cover) * out[i]) / 255);
        }
    }
};

// The clipped rectangle of a raster on the drawing area.
struct TextSpan {
    std::int32_t x, y;  // area position of raster pixel (0, 0)
    std::int32_t firstColumn, firstRow, columns, rows;
};

template <typename Rule>
void blendRaster(DrawContext& c, const TextPaint& paint, const std::uint8_t* raster, std::int64_t rowBytes,
                 const TextSpan& span, Rule rule) {
    TextSample px{};
    // The front colour is read per pixel only in gradient mode.
    const auto setSource = [&px](std::uint32_t source) {
        px.frontAlpha = source >> 24;
        px.front[0] = (source >> 16) & 0xFF;
        px.front[1] = (source >> 8) & 0xFF;
        px.front[2] = source & 0xFF;
    };
    std::uint32_t source = c.frontColor;
    setSource(source);
    for (std::int32_t row = span.firstRow; row < span.rows; ++row) {
        const std::uint8_t* r =
            raster + static_cast<std::int64_t>(row) * rowBytes + 3 * static_cast<std::int64_t>(span.firstColumn);
        const std::int32_t y = span.y + row;
        std::uint8_t* out = drwPixel(c, span.x + span.firstColumn, y);
        for (std::int32_t column = span.firstColumn; column < span.columns; ++column, r += 3, out += c.bytesPerPixel) {
            const std::int32_t x = span.x + column;
            if (c.gradientMode) {
                source = drwGradientColour(c, x, y);
                setSource(source);
            }
            px.rasterBytes = r;
            px.coverageSum = static_cast<std::uint32_t>(r[0]) + r[1] + r[2];
            px.coverage = static_cast<float>(px.coverageSum) / 765.0f;
            for (int ch = 0; ch < 3; ++ch) px.channelOpacity[ch] = r[ch] * px.frontAlpha / 255;
            px.opacity = static_cast<std::uint32_t>(px.coverage * static_cast<float>(px.frontAlpha));
            rule(c, paint, px, out, x, y, source);
        }
    }
}

template <bool kFour>
void blendByMode(DrawContext& c, const TextPaint& paint, const std::uint8_t* raster, std::int64_t rowBytes,
                 const TextSpan& span) {
    const std::uint32_t mode = c.mode;
    if (c.filterMode) return blendRaster(c, paint, raster, rowBytes, span, FilterRule<kFour>{});
    if (mode & kXor) return blendRaster(c, paint, raster, rowBytes, span, XorRule<kFour>{});
    if (kFour && (mode & kAllBytes)) return blendRaster(c, paint, raster, rowBytes, span, AllBytesRule{});
    if (mode & kAlphaOnly) return blendRaster(c, paint, raster, rowBytes, span, AlphaOnlyRule<kFour>{});
    if (mode & (kBlend | kBlendKeepAlpha))
        return blendRaster(c, paint, raster, rowBytes, span, BlendRule<kFour>{(mode & kBlend) != 0});
    blendRaster(c, paint, raster, rowBytes, span, CopyRule<kFour>{});
}

}  // namespace

void drwBlendText(DrawContext& c, const std::uint8_t* raster, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
                  std::int32_t width, std::int32_t height, bool rotated) {
    if (!raster || !c.topRow) return;
    // 64-bit bounds: x + width may pass 2^31.
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + width, c.width);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + height, c.height);
    if (width <= 0 || height <= 0 || right <= 0 || bottom <= 0 || x >= c.width || y >= c.height) return;
    const TextSpan span{x, y, x < 0 ? -x : 0, y < 0 ? -y : 0, static_cast<std::int32_t>(right - x),
                        static_cast<std::int32_t>(bottom - y)};
    TextPaint paint{};
    paint.paintBack = (c.mode & kTransparentText) == 0 && !rotated;
    paint.backPlotted[0] = c.back.blue;
    paint.backPlotted[1] = c.back.green;
    paint.backPlotted[2] = c.back.red;
    paint.backAlpha = c.back.alpha;
    paint.backStraight[0] = (c.backColor >> 16) & 0xFF;
    paint.backStraight[1] = (c.backColor >> 8) & 0xFF;
    paint.backStraight[2] = c.backColor & 0xFF;
    if (c.bytesPerPixel == 4) blendByMode<true>(c, paint, raster, rowBytes, span);
    else blendByMode<false>(c, paint, raster, rowBytes, span);
}

}  // namespace oct
