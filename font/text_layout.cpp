// Line building, left to right with x from 0 (see text_layout.h).
#include "font/text_layout.h"

#include "font/d3dx_font.h"

#include <algorithm>
#include <new>

namespace font {

HRESULT TextLayout::closeLine(UINT first, UINT end, ReorderRuns reorder)
{
    // Trailing carriage returns and line feeds are not part of the line.
    UINT last = end;
    while (last > first && glyphs[last - 1].lineBreak)
        --last;
    clusterStarts_.clear();
    clusterLevels_.clear();
    bool mixed = false;
    for (UINT i = first; i < last; ++i) {
        if (i > first && glyphs[i].character == glyphs[i - 1].character)
            continue;
        clusterStarts_.push_back(i);
        clusterLevels_.push_back(glyphs[i].level);
        mixed |= glyphs[i].level != glyphs[first].level;
    }
    const UINT clusters = UINT(clusterStarts_.size());
    if (clusters > 1 && (mixed || (clusterLevels_[0] & 1))) {
        visual_.resize(clusters);
        if (reorder) {
            HRESULT hr = reorder(int(clusters), clusterLevels_.data(), visual_.data(), nullptr);
            if (FAILED(hr))
                return hr;
        } else {
            for (UINT v = 0; v < clusters; ++v)
                visual_[v] = int(clusters - 1 - v);
        }
        // Whole clusters move; the glyphs inside one keep their order.
        clusterStarts_.push_back(last);
        reordered_.clear();
        for (UINT v = 0; v < clusters; ++v) {
            const UINT c = UINT(visual_[v]);
            reordered_.insert(reordered_.end(), glyphs.begin() + clusterStarts_[c], glyphs.begin() + clusterStarts_[c + 1]);
        }
        std::copy(reordered_.begin(), reordered_.end(), glyphs.begin() + first);
    }
    int x = 0;
    for (UINT i = first; i < last; ++i) {
        glyphs[i].x = x;
        x += glyphs[i].advance;
    }
    lines.push_back({first, last, x});
    width = std::max(width, x);
    return S_OK;
}

HRESULT TextLayout::layout(const LayoutInput& in)
{
    glyphs.clear();
    lines.clear();
    width = height = 0;
    const DWORD f = in.format;
    const bool single = f & DT_SINGLELINE;
    const bool wrap = (f & DT_WORDBREAK) && in.haveRect && in.rectWidth > 0 && !single;
    const bool limit = in.haveRect && !(f & (DT_NOCLIP | DT_CALCRECT | DT_SINGLELINE));
    const int wrapWidth = wrap ? int(in.rectWidth) : 0;
    const int tab = std::max(8 * in.averageWidth, 1);
    try {
        glyphs.reserve(in.count);
        UINT lineStart = 0;
        UINT lastBreak = 0;  // a new line may start here (0: none on this line)
        int x = 0;
        HRESULT closed = S_OK;
        auto endLine = [&](UINT end) {
            closed = closeLine(lineStart, end, in.reorder);
            height += in.fontHeight;
            lineStart = end;
            lastBreak = 0;
            x = 0;
            for (UINT k = end; k < glyphs.size(); ++k)
                x += glyphs[k].advance;
            return SUCCEEDED(closed) && !(limit && height > in.rectHeight);
        };
        for (UINT i = 0; i < in.count;) {
            UINT end = i + 1;
            while (end < in.count && in.glyphs[end].character == in.glyphs[i].character)
                ++end;
            const WCHAR c = in.text[in.glyphs[i].character];
            const bool lineBreak = (c == 13 || c == 10) && !single;
            const UINT start = UINT(glyphs.size());
            // A line break or a tab is the break glyph: a break of no width, or a tab that is
            // space (never the font's box for a character it lacks).
            const bool blank = lineBreak || c == 9;
            LayoutGlyph g = in.glyphs[i];
            int advance = 0;
            if (blank) {
                g.entry = in.breakEntry;
                g.lineBreak = lineBreak;
                if (lineBreak)
                    g.advance = 0;
                if (c == 9 && (f & DT_EXPANDTABS)) {
                    if (wrap && x >= wrapWidth && glyphs.size() > lineStart && !endLine(start))
                        break;
                    g.advance = tab - (x % tab);
                    if (wrap)
                        g.advance = std::max(0, std::min(g.advance, wrapWidth - x));
                }
                advance = g.advance;
            } else {
                for (UINT k = i; k < end; ++k)
                    advance += in.glyphs[k].advance;
            }
            if (!lineBreak && wrap && x + advance > wrapWidth && glyphs.size() > lineStart) {
                const UINT cut = lastBreak > lineStart ? lastBreak : start;
                if (!endLine(cut))
                    break;
            }
            if (blank) {
                glyphs.push_back(g);
            } else {
                glyphs.insert(glyphs.end(), in.glyphs + i, in.glyphs + end);
                for (UINT k = start; k < glyphs.size(); ++k)
                    glyphs[k].lineBreak = false;
            }
            if (in.breakBefore[in.glyphs[i].character] && start > lineStart)
                lastBreak = start;
            for (UINT k = start; k < glyphs.size(); ++k)
                x += glyphs[k].advance;
            i = end;
            if (c == 10 && !single && !endLine(UINT(glyphs.size())))
                break;
        }
        if (SUCCEEDED(closed) && glyphs.size() > lineStart && !(limit && height > in.rectHeight))
            endLine(UINT(glyphs.size()));
        if (FAILED(closed))
            return closed;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace font
