// Draws the Hi Varnisse program icon -- a blank white window with a cyan title bar,
// seen slightly from the side -- and writes it as a Windows .ico and as the PNG sizes
// of the freedesktop hicolor theme. The images are drawn from the geometry below at
// build time, so no image binaries have to live in the repository.
//
// Usage: mkicon OUTPUT_DIRECTORY
//
// Standard library only: the PNGs use stored (uncompressed) deflate blocks, which
// every decoder reads and which keep this tool free of a zlib dependency.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Drawing

enum class Ink { None, Outline, Title, Body };

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};
constexpr Rgb cyan{0, 255, 255};

Rgb colourOf(Ink ink)
{
    switch (ink) {
    case Ink::Title: return cyan;
    case Ink::Body: return white;
    default: return black;
    }
}

// The window is a quadrilateral with vertical left and right edges; its top and
// bottom edges converge towards a vanishing point on the right, so the right edge
// is the shorter one. Interpolating between the top and bottom edge at a fixed
// fraction gives lines through the same vanishing point, which keeps the title
// band in perspective too. All coordinates are in pixels of the target image.
struct Window {
    double left, right;
    double topLeft, topRight;
    double bottomLeft, bottomRight;
    double titleFraction; // title band height as a fraction of the window height
    double stroke;        // outline width

    Ink at(double x, double y) const
    {
        if (x < left || x >= right)
            return Ink::None;
        const double u = (x - left) / (right - left);
        const double top = topLeft + u * (topRight - topLeft);
        const double bottom = bottomLeft + u * (bottomRight - bottomLeft);
        if (y < top || y >= bottom)
            return Ink::None;
        // The outline lies inside the shape. Sloped edges are measured vertically:
        // they are shallow, and a vertical width of one pixel puts exactly one pixel
        // centre in every column, which gives gap-free lines without smoothing.
        if (x < left + stroke || x >= right - stroke || y < top + stroke || y >= bottom - stroke)
            return Ink::Outline;
        const double titleBottom = top + titleFraction * (bottom - top);
        if (y < titleBottom)
            return Ink::Title;
        if (y < titleBottom + stroke)
            return Ink::Outline;
        return Ink::Body;
    }
};

Window windowFor(int size)
{
    const double n = size;
    // Whole-pixel margins keep the vertical edges on pixel boundaries, so they stay
    // sharp at every size.
    const double margin = std::max(1, size / 16);
    Window w{};
    w.left = margin;
    w.right = n - margin;
    w.topLeft = margin;
    w.bottomLeft = n - margin;
    w.topRight = std::round(n * 0.21);
    w.bottomRight = n - w.topRight;
    // Small images need a relatively taller band or the cyan shrinks to a line.
    w.titleFraction = size <= 16 ? 0.32 : size <= 32 ? 0.28 : 0.25;
    w.stroke = std::max(1.0, std::round(n / 40.0));
    return w;
}

// One sample per pixel centre: hard edges, as the palette images need.
std::vector<Ink> drawSharp(int size)
{
    const Window w = windowFor(size);
    std::vector<Ink> inks(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            inks[static_cast<std::size_t>(y) * size + x] = w.at(x + 0.5, y + 0.5);
    return inks;
}

struct Rgba {
    std::uint8_t r, g, b, a;
};

// The PNG images. Up to 32 pixels the lines are one pixel wide, and smoothing them
// only smears each sloped edge over two grey rows, so small sizes keep hard pixels.
// Larger ones are supersampled: partly covered pixels get blended colour and alpha.
std::vector<Rgba> drawRgba(int size)
{
    if (size <= 32) {
        std::vector<Rgba> pixels;
        for (Ink ink : drawSharp(size)) {
            const Rgb c = colourOf(ink);
            pixels.push_back({c.r, c.g, c.b, static_cast<std::uint8_t>(ink == Ink::None ? 0 : 255)});
        }
        return pixels;
    }
    constexpr int grid = 8; // samples per pixel along each axis
    const Window w = windowFor(size);
    std::vector<Rgba> pixels(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            int covered = 0;
            int r = 0, g = 0, b = 0;
            for (int sy = 0; sy < grid; ++sy) {
                for (int sx = 0; sx < grid; ++sx) {
                    const Ink ink = w.at(x + (sx + 0.5) / grid, y + (sy + 0.5) / grid);
                    if (ink == Ink::None)
                        continue;
                    const Rgb c = colourOf(ink);
                    r += c.r;
                    g += c.g;
                    b += c.b;
                    ++covered;
                }
            }
            Rgba& p = pixels[static_cast<std::size_t>(y) * size + x];
            if (covered == 0) {
                p = {0, 0, 0, 0};
                continue;
            }
            const auto average = [covered](int sum) {
                return static_cast<std::uint8_t>((sum + covered / 2) / covered);
            };
            p = {average(r), average(g), average(b),
                 static_cast<std::uint8_t>((covered * 255 + grid * grid / 2) / (grid * grid))};
        }
    }
    return pixels;
}

// ---------------------------------------------------------------------------
// Byte helpers

void put16le(Bytes& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32le(Bytes& out, std::uint32_t v)
{
    put16le(out, v & 0xFFFFu);
    put16le(out, v >> 16);
}

void put32be(Bytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// ---------------------------------------------------------------------------
// Windows icon

// The sixteen colours of the standard VGA palette in the order Windows uses for
// 4-bit images, where cyan is exactly (0,255,255).
constexpr std::array<Rgb, 16> vga16{{
    {0, 0, 0}, {128, 0, 0}, {0, 128, 0}, {128, 128, 0},
    {0, 0, 128}, {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
}};
constexpr std::uint8_t vgaBlack = 0;
constexpr std::uint8_t vgaCyan = 14;
constexpr std::uint8_t vgaWhite = 15;
static_assert(vga16[vgaCyan].r == 0 && vga16[vgaCyan].g == 255 && vga16[vgaCyan].b == 255);

constexpr std::array<Rgb, 2> mono{{{0, 0, 0}, {255, 255, 255}}};

struct IconImage {
    int size;
    int bitsPerPixel; // 1 or 4
    Bytes dib;        // BITMAPINFOHEADER, palette, XOR bitmap, AND mask
};

std::size_t rowBytes(int width, int bitsPerPixel)
{
    // DIB rows are padded to whole 32-bit words.
    return static_cast<std::size_t>((width * bitsPerPixel + 31) / 32 * 4);
}

// One icon entry as a DIB: 1 bit per pixel in black and white, or 4 bits in the
// sixteen-colour palette.
IconImage makeIconImage(int size, int bitsPerPixel)
{
    const std::vector<Ink> inks = drawSharp(size);
    const std::size_t xorRow = rowBytes(size, bitsPerPixel);
    const std::size_t andRow = rowBytes(size, 1);
    Bytes xorBits(xorRow * size, 0);
    Bytes andBits(andRow * size, 0);

    for (int y = 0; y < size; ++y) {
        // DIBs are stored bottom row first.
        const std::size_t row = static_cast<std::size_t>(size - 1 - y);
        for (int x = 0; x < size; ++x) {
            const Ink ink = inks[static_cast<std::size_t>(y) * size + x];
            std::uint8_t index = 0;
            bool transparent = false;
            switch (ink) {
            case Ink::None: transparent = true; break;
            case Ink::Outline: index = vgaBlack; break;
            case Ink::Body: index = bitsPerPixel == 1 ? 1 : vgaWhite; break;
            case Ink::Title:
                // Two colours have no cyan: a checkerboard reads as a grey bar,
                // clearly apart from the white body and the black outline.
                index = bitsPerPixel == 1 ? static_cast<std::uint8_t>((x + y) & 1) : vgaCyan;
                break;
            }
            if (transparent) {
                // AND bit set and XOR colour black leaves the screen untouched.
                andBits[row * andRow + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                continue;
            }
            if (bitsPerPixel == 1)
                xorBits[row * xorRow + x / 8] |= static_cast<std::uint8_t>(index << (7 - x % 8));
            else
                xorBits[row * xorRow + x / 2] |= static_cast<std::uint8_t>(x % 2 ? index : index << 4);
        }
    }

    IconImage image{size, bitsPerPixel, {}};
    Bytes& d = image.dib;
    put32le(d, 40);                 // biSize
    put32le(d, size);               // biWidth
    put32le(d, 2 * size);           // biHeight: XOR and AND bitmaps together
    put16le(d, 1);                  // biPlanes
    put16le(d, bitsPerPixel);       // biBitCount
    put32le(d, 0);                  // biCompression: BI_RGB
    put32le(d, static_cast<std::uint32_t>(xorBits.size() + andBits.size())); // biSizeImage
    put32le(d, 0);                  // biXPelsPerMeter
    put32le(d, 0);                  // biYPelsPerMeter
    put32le(d, 0);                  // biClrUsed: the full palette
    put32le(d, 0);                  // biClrImportant
    const auto putPalette = [&d](const auto& palette) {
        for (const Rgb& c : palette) {
            d.push_back(c.b); // RGBQUAD order
            d.push_back(c.g);
            d.push_back(c.r);
            d.push_back(0);
        }
    };
    if (bitsPerPixel == 1)
        putPalette(mono);
    else
        putPalette(vga16);
    d.insert(d.end(), xorBits.begin(), xorBits.end());
    d.insert(d.end(), andBits.begin(), andBits.end());
    return image;
}

Bytes encodeIco(const std::vector<IconImage>& images)
{
    Bytes out;
    put16le(out, 0); // reserved
    put16le(out, 1); // type: icon
    put16le(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const IconImage& image : images) {
        out.push_back(static_cast<std::uint8_t>(image.size)); // 256 would be written as 0
        out.push_back(static_cast<std::uint8_t>(image.size));
        out.push_back(static_cast<std::uint8_t>(1u << image.bitsPerPixel)); // colour count
        out.push_back(0);                                                    // reserved
        put16le(out, 1);                                                     // planes
        put16le(out, static_cast<std::uint32_t>(image.bitsPerPixel));
        put32le(out, static_cast<std::uint32_t>(image.dib.size()));
        put32le(out, offset);
        offset += static_cast<std::uint32_t>(image.dib.size());
    }
    for (const IconImage& image : images)
        out.insert(out.end(), image.dib.begin(), image.dib.end());
    return out;
}

// ---------------------------------------------------------------------------
// PNG

constexpr std::array<std::uint32_t, 256> crcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

std::uint32_t crc32(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i)
        c = crcTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(const Bytes& data)
{
    constexpr std::uint32_t mod = 65521;
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % mod;
        b = (b + a) % mod;
    }
    return (b << 16) | a;
}

void putChunk(Bytes& out, const char (&type)[5], const Bytes& data)
{
    put32be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, crc32(out.data() + start, out.size() - start)); // type and data
}

// zlib stream made of stored deflate blocks
Bytes zlibStored(const Bytes& raw)
{
    Bytes out{0x78, 0x01}; // deflate, 32 KiB window, no preset dictionary; header % 31 == 0
    constexpr std::size_t maxBlock = 65535;
    std::size_t pos = 0;
    do {
        const std::size_t length = std::min(maxBlock, raw.size() - pos);
        const bool last = pos + length == raw.size();
        out.push_back(last ? 1 : 0); // BFINAL, BTYPE 00; the header ends on a byte boundary
        put16le(out, static_cast<std::uint32_t>(length));
        put16le(out, static_cast<std::uint32_t>(~length & 0xFFFFu));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                   raw.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;
    } while (pos < raw.size());
    put32be(out, adler32(raw));
    return out;
}

Bytes encodePng(int size, const std::vector<Rgba>& pixels)
{
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    Bytes header;
    put32be(header, static_cast<std::uint32_t>(size)); // width
    put32be(header, static_cast<std::uint32_t>(size)); // height
    header.push_back(8);                               // bits per channel
    header.push_back(6);                               // colour type: RGBA
    header.push_back(0);                               // compression: deflate
    header.push_back(0);                               // filter method 0
    header.push_back(0);                               // no interlace
    putChunk(out, "IHDR", header);

    Bytes raw;
    raw.reserve(static_cast<std::size_t>(size) * (1 + 4 * static_cast<std::size_t>(size)));
    for (int y = 0; y < size; ++y) {
        raw.push_back(0); // filter type None
        for (int x = 0; x < size; ++x) {
            const Rgba& p = pixels[static_cast<std::size_t>(y) * size + x];
            raw.insert(raw.end(), {p.r, p.g, p.b, p.a});
        }
    }
    putChunk(out, "IDAT", zlibStored(raw));
    putChunk(out, "IEND", {});
    return out;
}

// ---------------------------------------------------------------------------

// Written beside the target and renamed into place, so an interrupted run never
// leaves a truncated image that a later build would take as up to date.
void writeFile(const fs::path& path, const Bytes& data)
{
    fs::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, path);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << (argc > 0 ? argv[0] : "mkicon") << " OUTPUT_DIRECTORY\n";
        return 2;
    }
    try {
        const fs::path dir = argv[1];
        fs::create_directories(dir);

        writeFile(dir / "hivarnisse.ico",
                  encodeIco({makeIconImage(32, 1), makeIconImage(32, 4), makeIconImage(16, 4)}));

        for (int size : {16, 32, 48, 64, 128, 256})
            writeFile(dir / ("hivarnisse-" + std::to_string(size) + ".png"),
                      encodePng(size, drawRgba(size)));
    } catch (const std::exception& e) {
        std::cerr << "mkicon: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
