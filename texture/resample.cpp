// Resampling steps: crop or pad, point, box halving (packed integers or floats), linear and
// triangle, in 2D and 3D. Each step owns its row buffers and weight tables for its duration;
// nothing is kept between calls. Source rows are read once per step where the filter allows
// (point and linear reuse rows already read; triangle streams them into accumulators of the
// destination rows still receiving contributions).
#include "texture/resample.h"

#include "texture/packed_box.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

DWORD kindOf(DWORD filter) { return filter & 0xFF; }

template <class T>
bool allocate(std::vector<T>& v, std::size_t n)
{
    try {
        v.assign(n, T{});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool is2D(const PixelCodec& d, const PixelCodec& s) { return d.depth() == 1 && s.depth() == 1; }

// ---- Crop or pad ---------------------------------------------------------------------------

}  // namespace

HRESULT CropOrPad(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_NONE)
        return E_FAIL;
    std::vector<float> row, zero;
    const std::size_t width = std::max(dst.width(), src.width());
    if (!allocate(row, width * 4) || !allocate(zero, width * 4))
        return E_OUTOFMEMORY;
    for (UINT z = 0; z < dst.depth(); ++z)
        for (UINT y = 0; y < dst.height(); ++y) {
            if (z < src.depth() && y < src.height()) {
                src.readRow(y, z, row.data());  // the part past the source width stays zero
                dst.writeRow(y, z, row.data());
            } else {
                dst.writeRow(y, z, zero.data());
            }
        }
    return S_OK;
}

// ---- Point -----------------------------------------------------------------------------------

HRESULT PointFilter(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_POINT)
        return E_FAIL;
    const auto step = [](UINT s, UINT d) { return (std::uint64_t(s) << 16) / d; };
    const std::uint64_t stepX = step(src.width(), dst.width());
    const std::uint64_t stepY = step(src.height(), dst.height());
    const std::uint64_t stepZ = step(src.depth(), dst.depth());
    std::vector<float> in, out;
    std::vector<UINT> columns;
    if (!allocate(in, std::size_t(src.width()) * 4) || !allocate(out, std::size_t(dst.width()) * 4) ||
        !allocate(columns, dst.width()))
        return E_OUTOFMEMORY;
    std::uint64_t fx = 0;
    for (UINT x = 0; x < dst.width(); ++x, fx += stepX)
        columns[x] = static_cast<UINT>(fx >> 16);
    UINT heldY = ~0u, heldZ = ~0u;
    std::uint64_t fz = 0;
    for (UINT z = 0; z < dst.depth(); ++z, fz += stepZ) {
        const UINT sz = static_cast<UINT>(fz >> 16);
        std::uint64_t fy = 0;
        for (UINT y = 0; y < dst.height(); ++y, fy += stepY) {
            const UINT sy = static_cast<UINT>(fy >> 16);
            if (sy != heldY || sz != heldZ) {
                src.readRow(sy, sz, in.data());
                heldY = sy;
                heldZ = sz;
                for (UINT x = 0; x < dst.width(); ++x)
                    std::memcpy(out.data() + x * 4, in.data() + std::size_t(columns[x]) * 4, sizeof(float) * 4);
            }
            dst.writeRow(y, z, out.data());
        }
    }
    return S_OK;
}

// ---- Box -------------------------------------------------------------------------------------

namespace {

bool halves(UINT s, UINT d) { return d == s / 2 || (s == 1 && d == 1); }

}  // namespace

HRESULT BoxFilter2D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_BOX || !is2D(dst, src) || !halves(src.width(), dst.width()) ||
        !halves(src.height(), dst.height()))
        return E_FAIL;
    // The packed path skips the float rows, so it is only taken when they would change
    // nothing: no dithering, same format, no gamma, and no colour key to apply.
    if (!(filter & D3DX_FILTER_DITHER) && dst.format() == src.format() && src.width() >= 2 && src.height() >= 2 &&
        !src.gamma() && !dst.gamma() && !src.hasColorKey() && PackedBoxSupports(src.format())) {
        PackedBoxHalve(src.format(), src.regionBase(), src.rowPitch(), dst.regionBase(), dst.rowPitch(), dst.width(),
                       dst.height());
        return S_OK;
    }
    std::vector<float> row0, row1, out;
    if (!allocate(row0, std::size_t(src.width()) * 4) || !allocate(row1, std::size_t(src.width()) * 4) ||
        !allocate(out, std::size_t(dst.width()) * 4))
        return E_OUTOFMEMORY;
    const bool narrow = src.width() == 1;
    for (UINT y = 0; y < dst.height(); ++y) {
        src.readRow(2 * y, 0, row0.data());
        if (src.height() > 1)
            src.readRow(2 * y + 1, 0, row1.data());
        else
            row1 = row0;
        for (UINT x = 0; x < dst.width(); ++x) {
            const std::size_t a = std::size_t(2 * x) * 4, b = narrow ? a : a + 4;
            for (int ch = 0; ch < 4; ++ch)
                out[x * 4 + ch] = (row0[a + ch] + row0[b + ch] + row1[a + ch] + row1[b + ch]) * 0.25f;
        }
        dst.writeRow(y, 0, out.data());
    }
    return S_OK;
}

HRESULT BoxFilter3D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_BOX || !halves(src.width(), dst.width()) || !halves(src.height(), dst.height()) ||
        dst.depth() != src.depth() / 2 || dst.depth() == 0)
        return E_FAIL;
    std::vector<float> rows[4], out;
    for (auto& r : rows)
        if (!allocate(r, std::size_t(src.width()) * 4))
            return E_OUTOFMEMORY;
    if (!allocate(out, std::size_t(dst.width()) * 4))
        return E_OUTOFMEMORY;
    const bool narrow = src.width() == 1;
    for (UINT z = 0; z < dst.depth(); ++z)
        for (UINT y = 0; y < dst.height(); ++y) {
            for (UINT k = 0; k < 4; ++k) {
                const UINT sz = 2 * z + (k >> 1);
                const UINT sy = src.height() > 1 ? 2 * y + (k & 1) : 0;
                src.readRow(sy, sz, rows[k].data());
            }
            for (UINT x = 0; x < dst.width(); ++x) {
                const std::size_t a = std::size_t(2 * x) * 4, b = narrow ? a : a + 4;
                for (int ch = 0; ch < 4; ++ch) {
                    float sum = 0.0f;
                    for (const auto& r : rows)
                        sum += r[a + ch] + r[b + ch];
                    out[x * 4 + ch] = sum * 0.125f;
                }
            }
            dst.writeRow(y, z, out.data());
        }
    return S_OK;
}

// ---- Linear ----------------------------------------------------------------------------------

namespace {

struct LinearEntry {
    std::int32_t i0, i1;
    float w0, w1;
};

bool linearTable(UINT s, UINT d, bool mirror, std::vector<LinearEntry>& table)
{
    if (!s || !d || !allocate(table, d))
        return false;
    const float scale = static_cast<float>(s) / static_cast<float>(d);
    const auto fix = [&](std::int64_t i) -> std::int32_t {
        if (i < 0)
            return mirror ? 0 : std::int32_t(s - 1);
        if (i >= std::int64_t(s))
            return mirror ? std::int32_t(s - 1) : 0;
        return std::int32_t(i);
    };
    for (UINT k = 0; k < d; ++k) {
        const float pos = (static_cast<float>(k) + 0.5f) * scale + 0.5f;
        const std::int64_t i = static_cast<std::int64_t>(pos);
        const float w = static_cast<float>(i + 1) - pos;
        table[k] = {fix(i - 1), fix(i), w, 1.0f - w};
    }
    return true;
}

// Source rows kept between destination rows, looked up by (row, slice).
class RowCache {
public:
    bool init(UINT width, int count)
    {
        try {
            rows_.resize(count);
        } catch (const std::bad_alloc&) {
            return false;
        }
        keys_.assign(count, {~0u, ~0u});
        used_.assign(count, 0);
        for (auto& r : rows_)
            if (!allocate(r, std::size_t(width) * 4))
                return false;
        return true;
    }
    // The row, read unless held; the row unused longest makes room, so the rows one
    // destination row needs (at most as many as there are slots) stay valid together.
    const float* get(PixelCodec& src, UINT y, UINT z)
    {
        ++clock_;
        std::size_t slot = 0;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (keys_[i].first == y && keys_[i].second == z) {
                used_[i] = clock_;
                return rows_[i].data();
            }
            if (used_[i] < used_[slot])
                slot = i;
        }
        src.readRow(y, z, rows_[slot].data());
        keys_[slot] = {y, z};
        used_[slot] = clock_;
        return rows_[slot].data();
    }

private:
    std::vector<std::vector<float>> rows_;
    std::vector<std::pair<UINT, UINT>> keys_;
    std::vector<std::uint64_t> used_;
    std::uint64_t clock_ = 0;
};

void blendRow(const float* row, const std::vector<LinearEntry>& h, float weight, float* out)
{
    for (std::size_t x = 0; x < h.size(); ++x) {
        const float* a = row + std::size_t(h[x].i0) * 4;
        const float* b = row + std::size_t(h[x].i1) * 4;
        for (int ch = 0; ch < 4; ++ch)
            out[x * 4 + ch] += weight * (h[x].w0 * a[ch] + h[x].w1 * b[ch]);
    }
}

}  // namespace

HRESULT LinearFilter2D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_LINEAR || !is2D(dst, src))
        return E_FAIL;
    std::vector<LinearEntry> h, v;
    if (!linearTable(src.width(), dst.width(), filter & D3DX_FILTER_MIRROR_U, h) ||
        !linearTable(src.height(), dst.height(), filter & D3DX_FILTER_MIRROR_V, v))
        return E_OUTOFMEMORY;
    RowCache cache;
    std::vector<float> out;
    if (!cache.init(src.width(), 2) || !allocate(out, std::size_t(dst.width()) * 4))
        return E_OUTOFMEMORY;
    for (UINT y = 0; y < dst.height(); ++y) {
        const float* row0 = cache.get(src, UINT(v[y].i0), 0);
        const float* row1 = cache.get(src, UINT(v[y].i1), 0);
        std::fill(out.begin(), out.end(), 0.0f);
        blendRow(row0, h, v[y].w0, out.data());
        blendRow(row1, h, v[y].w1, out.data());
        dst.writeRow(y, 0, out.data());
    }
    return S_OK;
}

HRESULT LinearFilter3D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    if (kindOf(filter) != D3DX_FILTER_LINEAR)
        return E_FAIL;
    std::vector<LinearEntry> h, v, d;
    if (!linearTable(src.width(), dst.width(), filter & D3DX_FILTER_MIRROR_U, h) ||
        !linearTable(src.height(), dst.height(), filter & D3DX_FILTER_MIRROR_V, v) ||
        !linearTable(src.depth(), dst.depth(), filter & D3DX_FILTER_MIRROR_W, d))
        return E_OUTOFMEMORY;
    RowCache cache;
    std::vector<float> out;
    if (!cache.init(src.width(), 4) || !allocate(out, std::size_t(dst.width()) * 4))
        return E_OUTOFMEMORY;
    for (UINT z = 0; z < dst.depth(); ++z)
        for (UINT y = 0; y < dst.height(); ++y) {
            std::fill(out.begin(), out.end(), 0.0f);
            const std::pair<UINT, float> slices[2] = {{UINT(d[z].i0), d[z].w0}, {UINT(d[z].i1), d[z].w1}};
            const std::pair<UINT, float> rows[2] = {{UINT(v[y].i0), v[y].w0}, {UINT(v[y].i1), v[y].w1}};
            for (const auto& [sz, wz] : slices)
                for (const auto& [sy, wy] : rows)
                    blendRow(cache.get(src, sy, sz), h, wz * wy, out.data());
            dst.writeRow(y, z, out.data());
        }
    return S_OK;
}

// ---- Triangle --------------------------------------------------------------------------------

namespace {

struct TriangleWeight {
    UINT index;
    float weight;
};

// Per source coordinate, the destination coordinates its tent reaches and with what weight.
struct TriangleTable {
    std::vector<UINT> start;  // entries of source j: [start[j], start[j + 1])
    std::vector<TriangleWeight> entries;
};

bool triangleTable(UINT s, UINT d, bool mirror, TriangleTable& table)
{
    if (!s || !d)
        return false;
    try {
        table.start.assign(std::size_t(s) + 1, 0);
        table.entries.clear();
        table.entries.reserve(std::size_t(s) * (std::size_t(2 * d / s) + 4));
        const float b = static_cast<float>(d) / static_cast<float>(s);
        const float fd = static_cast<float>(d);
        std::vector<TriangleWeight> pending;
        for (UINT j = 0; j < s; ++j) {
            pending.clear();
            for (int l = 0; l < 2; ++l) {
                const float e = static_cast<float>(j) - 0.5f + static_cast<float>(l);
                float lo = e * b, hi = (e + 1.0f) * b;
                if (mirror) {
                    lo = std::max(lo, 0.0f);
                    hi = std::min(hi, fd);
                }
                if (!(hi > lo))
                    continue;
                for (long m = static_cast<long>(std::floor(lo)); static_cast<float>(m) < hi; ++m) {
                    const float v = std::max(lo, static_cast<float>(m));
                    const float w = std::min(hi, static_cast<float>(m + 1));
                    if (!(w > v))
                        continue;
                    float a = ((v + w) / 2.0f) / b - e;
                    if (mirror && l == 0 && j == 0)
                        a = 1.0f;
                    if (mirror && l == 1 && j == s - 1)
                        a = 0.0f;
                    const float contribution = (l == 0 ? a : 1.0f - a) * (w - v);
                    long target = m;
                    if (target < 0)
                        target += long(d);
                    else if (target >= long(d))
                        target -= long(d);
                    if (target < 0 || target >= long(d))
                        continue;  // a tent wider than the destination wraps only once
                    auto it = std::find_if(pending.begin(), pending.end(),
                                           [&](const TriangleWeight& t) { return t.index == UINT(target); });
                    if (it == pending.end())
                        pending.push_back({UINT(target), contribution});
                    else
                        it->weight += contribution;
                }
            }
            for (const TriangleWeight& t : pending)
                if (t.weight > 0.00001f)
                    table.entries.push_back(t);
            table.start[j + 1] = static_cast<UINT>(table.entries.size());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void clampByKind(float* row, UINT width, PixelKind kind)
{
    if (kind == PixelKind::Float)
        return;
    for (UINT x = 0; x < width; ++x) {
        float* p = row + std::size_t(x) * 4;
        for (int ch = 0; ch < 4; ++ch) {
            const float lo = (kind == PixelKind::Unsigned || (kind == PixelKind::SignedThree && ch == 3)) ? 0.0f : -1.0f;
            p[ch] = p[ch] > lo ? (p[ch] < 1.0f ? p[ch] : 1.0f) : lo;
        }
    }
}

// Accumulator rows for destination rows still receiving contributions; finished rows go to
// a free list and are reused, so the rows in use follow the filter's reach.
class Accumulators {
public:
    explicit Accumulators(std::size_t floats) : floats_(floats) {}
    float* take()
    {
        if (!free_.empty()) {
            float* row = free_.back();
            free_.pop_back();
            std::fill(row, row + floats_, 0.0f);
            return row;
        }
        try {
            owned_.emplace_back(floats_, 0.0f);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return owned_.back().data();
    }
    void give(float* row) { free_.push_back(row); }

private:
    std::size_t floats_;
    std::vector<std::vector<float>> owned_;
    std::vector<float*> free_;
};

// The horizontal pass of one source row: its contribution to every destination column.
void horizontalPass(const float* __restrict in, UINT width, const TriangleTable& h, float* __restrict out, UINT outWidth)
{
    std::fill(out, out + std::size_t(outWidth) * 4, 0.0f);
    for (UINT x = 0; x < width; ++x) {
        const float* p = in + std::size_t(x) * 4;
        for (UINT k = h.start[x]; k < h.start[x + 1]; ++k) {
            float* o = out + std::size_t(h.entries[k].index) * 4;
            const float w = h.entries[k].weight;
            o[0] += p[0] * w;
            o[1] += p[1] * w;
            o[2] += p[2] * w;
            o[3] += p[3] * w;
        }
    }
}

void addScaled(float* __restrict acc, const float* __restrict row, float w, std::size_t floats)
{
    for (std::size_t i = 0; i < floats; ++i)
        acc[i] += row[i] * w;
}

// The shared body of the 2D and 3D steps: destination "lines" are (slice, row) pairs, source
// lines likewise; a source line contributes to the destination lines of the product of the
// vertical and depth tables.
HRESULT triangle(PixelCodec& dst, PixelCodec& src, const TriangleTable& h, const TriangleTable& v, const TriangleTable& d)
{
    const UINT dw = dst.width(), dh = dst.height(), dd = dst.depth();
    const std::size_t floats = std::size_t(dw) * 4;
    std::vector<UINT> remaining;
    std::vector<float*> line;
    std::vector<float> in, across;
    if (!allocate(remaining, std::size_t(dh) * dd) || !allocate(line, std::size_t(dh) * dd) ||
        !allocate(in, std::size_t(src.width()) * 4) || !allocate(across, floats))
        return E_OUTOFMEMORY;
    // How many source lines reach each destination line.
    std::vector<UINT> rowCount, sliceCount;
    if (!allocate(rowCount, dh) || !allocate(sliceCount, dd))
        return E_OUTOFMEMORY;
    for (const TriangleWeight& t : v.entries)
        ++rowCount[t.index];
    for (const TriangleWeight& t : d.entries)
        ++sliceCount[t.index];
    for (UINT z = 0; z < dd; ++z)
        for (UINT y = 0; y < dh; ++y)
            remaining[std::size_t(z) * dh + y] = rowCount[y] * sliceCount[z];
    Accumulators pool(floats);
    for (UINT sz = 0; sz < src.depth(); ++sz)
        for (UINT sy = 0; sy < src.height(); ++sy) {
            src.readRow(sy, sz, in.data());
            horizontalPass(in.data(), src.width(), h, across.data(), dw);
            for (UINT kz = d.start[sz]; kz < d.start[sz + 1]; ++kz)
                for (UINT ky = v.start[sy]; ky < v.start[sy + 1]; ++ky) {
                    const std::size_t target = std::size_t(d.entries[kz].index) * dh + v.entries[ky].index;
                    if (!line[target] && !(line[target] = pool.take()))
                        return E_OUTOFMEMORY;
                    addScaled(line[target], across.data(), v.entries[ky].weight * d.entries[kz].weight, floats);
                    if (--remaining[target] == 0) {
                        clampByKind(line[target], dw, src.kind());
                        dst.writeRow(v.entries[ky].index, d.entries[kz].index, line[target]);
                        pool.give(line[target]);
                        line[target] = nullptr;
                    }
                }
        }
    // Destination lines no source line reached (possible only through the weight threshold)
    // are written as transparent black rather than left as they were.
    std::vector<float> zero;
    for (std::size_t i = 0; i < remaining.size(); ++i)
        if (rowCount[i % dh] == 0 || sliceCount[i / dh] == 0) {
            if (zero.empty() && !allocate(zero, floats))
                return E_OUTOFMEMORY;
            dst.writeRow(UINT(i % dh), UINT(i / dh), zero.data());
        }
    return S_OK;
}

}  // namespace

HRESULT TriangleFilter2D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    const DWORD kind = kindOf(filter);
    if ((kind != D3DX_FILTER_TRIANGLE && kind != D3DX_FILTER_BOX) || !is2D(dst, src))
        return E_FAIL;
    TriangleTable h, v, d;
    if (!triangleTable(src.width(), dst.width(), filter & D3DX_FILTER_MIRROR_U, h) ||
        !triangleTable(src.height(), dst.height(), filter & D3DX_FILTER_MIRROR_V, v) || !triangleTable(1, 1, false, d))
        return E_FAIL;
    return triangle(dst, src, h, v, d);
}

HRESULT TriangleFilter3D(PixelCodec& dst, PixelCodec& src, DWORD filter)
{
    const DWORD kind = kindOf(filter);
    if (kind != D3DX_FILTER_TRIANGLE && kind != D3DX_FILTER_BOX)
        return E_FAIL;
    TriangleTable h, v, d;
    if (!triangleTable(src.width(), dst.width(), filter & D3DX_FILTER_MIRROR_U, h) ||
        !triangleTable(src.height(), dst.height(), filter & D3DX_FILTER_MIRROR_V, v) ||
        !triangleTable(src.depth(), dst.depth(), filter & D3DX_FILTER_MIRROR_W, d))
        return E_FAIL;
    return triangle(dst, src, h, v, d);
}
