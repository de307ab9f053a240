// Draws the Hi Varnisse program icon -- a blank white window with a cyan title bar,
// seen slightly from the side -- and writes it as a Windows .ico and as the PNG sizes
// of the freedesktop hicolor theme. The images are drawn from the geometry below at
// build time, so no image binaries have to live in the repository.
//
// Usage: mkicon OUTPUT_DIRECTORY
//
// QPainter draws on a QImage and Qt writes the PNGs. Painting on a QImage needs no
// display and no QGuiApplication (nothing here draws text, so no fonts either): the
// tool runs headless at build time. Qt's ICO writer only writes 32-bit images, so
// the 1- and 4-bit palette images of the .ico are put together here.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Drawing

const QRgb black = qRgb(0, 0, 0);
const QRgb white = qRgb(255, 255, 255);
const QRgb cyan = qRgb(0, 255, 255);

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
};

Window windowFor(int size)
{
    const double n = size;
    // Whole-pixel margins and strokes keep the vertical edges on pixel boundaries,
    // so they stay sharp at every size.
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

// Fills the pixels of column x whose centres y + 0.5 lie in [from, to): the same
// half-open rule the window's edges are defined by. (QPainter's own polygon fill
// gives a centre that lies exactly on an edge to the shape above it, which moves a
// handful of pixels at the sizes drawn here.)
void fillColumn(QPainter& painter, int x, double from, double to, QRgb colour)
{
    const int first = static_cast<int>(std::ceil(from - 0.5));
    const int end = static_cast<int>(std::ceil(to - 0.5));
    if (end > first)
        painter.fillRect(x, first, 1, end - first, QColor(colour));
}

// One sample per pixel centre (no antialiasing): hard edges, as the palette images
// need. `scale` draws the icon of `size` pixels that many times larger, with one
// sample per pixel of the larger image.
QImage drawSharp(int size, int scale = 1)
{
    const Window w = windowFor(size);
    const int pixels = size * scale;
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);

    // The window is drawn column by column, each column a black run with the title
    // band and the body inside it. The outline lies inside the shape. Sloped edges
    // are measured vertically: they are shallow, and a vertical width of one pixel
    // puts exactly one pixel centre in every column, which gives gap-free lines
    // without smoothing. Heights are scaled by a power of two, which is exact.
    const double s = w.stroke;
    for (int column = 0; column < pixels; ++column) {
        const double x = (column + 0.5) / scale;
        if (x < w.left || x >= w.right)
            continue;
        const double u = (x - w.left) / (w.right - w.left);
        const double top = w.topLeft + u * (w.topRight - w.topLeft);
        const double bottom = w.bottomLeft + u * (w.bottomRight - w.bottomLeft);
        fillColumn(painter, column, top * scale, bottom * scale, black);
        if (x < w.left + s || x >= w.right - s)
            continue;
        const double titleBottom = top + w.titleFraction * (bottom - top);
        fillColumn(painter, column, (top + s) * scale, std::min(titleBottom, bottom - s) * scale, cyan);
        fillColumn(painter, column, (titleBottom + s) * scale, (bottom - s) * scale, white);
    }
    return image;
}

// The PNG images. Up to 32 pixels the lines are one pixel wide, and smoothing them
// only smears each sloped edge over two grey rows, so small sizes keep hard pixels.
// Larger ones are supersampled: drawn sharp on a grid x grid finer raster and
// averaged, so partly covered pixels get blended colour and alpha.
QImage drawSmooth(int size)
{
    if (size <= 32)
        return drawSharp(size);
    constexpr int grid = 8; // samples per pixel along each axis
    const QImage fine = drawSharp(size, grid);
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size; ++x) {
            int covered = 0;
            int r = 0, g = 0, b = 0;
            for (int sy = 0; sy < grid; ++sy) {
                const auto* row = reinterpret_cast<const QRgb*>(fine.constScanLine(y * grid + sy));
                for (int sx = 0; sx < grid; ++sx) {
                    const QRgb c = row[x * grid + sx];
                    if (qAlpha(c) == 0)
                        continue;
                    r += qRed(c);
                    g += qGreen(c);
                    b += qBlue(c);
                    ++covered;
                }
            }
            if (covered == 0) {
                out[x] = qRgba(0, 0, 0, 0);
                continue;
            }
            // The colour is that of the covered samples alone; coverage goes to alpha.
            const auto average = [covered](int sum) { return (sum + covered / 2) / covered; };
            out[x] = qRgba(average(r), average(g), average(b),
                           (covered * 255 + grid * grid / 2) / (grid * grid));
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Windows icon

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

// The sixteen colours of the standard VGA palette in the order Windows uses for
// 4-bit images, where cyan is exactly (0,255,255).
constexpr std::array<QRgb, 16> vga16{{
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000,
    0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
    0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
}};
constexpr std::uint8_t vgaBlack = 0;
constexpr std::uint8_t vgaCyan = 14;
constexpr std::uint8_t vgaWhite = 15;

constexpr std::array<QRgb, 2> mono{{0xFF000000, 0xFFFFFFFF}};

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
    const QImage sharp = drawSharp(size);
    const std::size_t xorRow = rowBytes(size, bitsPerPixel);
    const std::size_t andRow = rowBytes(size, 1);
    Bytes xorBits(xorRow * size, 0);
    Bytes andBits(andRow * size, 0);

    for (int y = 0; y < size; ++y) {
        // DIBs are stored bottom row first.
        const std::size_t row = static_cast<std::size_t>(size - 1 - y);
        for (int x = 0; x < size; ++x) {
            const QRgb c = sharp.pixel(x, y);
            if (qAlpha(c) == 0) {
                // AND bit set and XOR colour black leaves the screen untouched.
                andBits[row * andRow + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                continue;
            }
            std::uint8_t index = vgaBlack;
            if (qRgb(qRed(c), qGreen(c), qBlue(c)) == white)
                index = bitsPerPixel == 1 ? 1 : vgaWhite;
            else if (qRgb(qRed(c), qGreen(c), qBlue(c)) == cyan)
                // Two colours have no cyan: a checkerboard reads as a grey bar,
                // clearly apart from the white body and the black outline.
                index = bitsPerPixel == 1 ? static_cast<std::uint8_t>((x + y) & 1) : vgaCyan;
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
        for (QRgb c : palette) {
            d.push_back(static_cast<std::uint8_t>(qBlue(c))); // RGBQUAD order
            d.push_back(static_cast<std::uint8_t>(qGreen(c)));
            d.push_back(static_cast<std::uint8_t>(qRed(c)));
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

// QSaveFile writes beside the target and renames into place, so an interrupted run
// never leaves a truncated image that a later build would take as up to date.
bool writeIco(const QString& path, const Bytes& data)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()))
               == static_cast<qint64>(data.size())
        && file.commit();
}

bool writePng(const QString& path, const QImage& image)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    return writer.write(image) && file.commit();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << (argc > 0 ? argv[0] : "mkicon") << " OUTPUT_DIRECTORY\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::cerr << "mkicon: cannot create " << argv[1] << '\n';
        return 1;
    }

    const QString ico = dir.filePath(QStringLiteral("hivarnisse.ico"));
    if (!writeIco(ico, encodeIco({makeIconImage(32, 1), makeIconImage(32, 4), makeIconImage(16, 4)}))) {
        std::cerr << "mkicon: cannot write " << ico.toStdString() << '\n';
        return 1;
    }
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString png = dir.filePath(QStringLiteral("hivarnisse-%1.png").arg(size));
        if (!writePng(png, drawSmooth(size))) {
            std::cerr << "mkicon: cannot write " << png.toStdString() << '\n';
            return 1;
        }
    }
    return 0;
}
