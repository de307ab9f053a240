// The icon images as written by hv_mkicon at build time, read back with Qt's own
// decoders: the PNGs against the pixels they have always had, and the hand-written
// .ico against its file layout and against the PNGs of the same size.

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

QString iconPath(const char* name)
{
    return QStringLiteral(HV_ICON_DIR "/") + QLatin1String(name);
}

QImage png(int size)
{
    const QString path = iconPath("hivarnisse-%1.png").arg(size);
    QImage image(path);
    EXPECT_FALSE(image.isNull()) << path.toStdString();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// SHA-256 of the RGBA bytes, rows top to bottom, no padding.
std::string rgbaHash(const QImage& image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < rgba.height(); ++y)
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(rgba.constScanLine(y)), 4 * rgba.width()));
    return hash.result().toHex().toStdString();
}

// The images of the first icon generator, which wrote its PNGs by hand: decoded by
// ImageMagick ("convert hivarnisse-N.png -depth 8 rgba:- | sha256sum"). The icon
// has not changed since; a change of drawing code or of Qt that moves a pixel shows
// here.
struct PngCase {
    int size;
    const char* rgbaSha256;
};
constexpr PngCase pngCases[] = {
    {16, "51cbfcc681a0320ebc2b915ab49680e1a81dbb0b07f68f910cc2b94817aaede9"},
    {32, "d262302e8b8c957445c0837f0612ba6ed7c2138fcf340e1f85b526f6ee8a5c2f"},
    {48, "9ca633059cbe47ba35eddc5bb30587dc160cf87dd33924f9e6d52928b02d8727"},
    {64, "d613b8ba5c29b8b357a29ed3bacf04fbd37ca31ae0c891f178c867cf9de4eb72"},
    {128, "fdbdd35063a5a35ec381a23e9c2c415cff2743197b556b1f8789ac88ac122695"},
    {256, "c6e6732ddcb698c6bdea68407044e398f5c7c2ae5d4964d847a8571c669c30da"},
};

TEST(IconTest, PngsKeepTheirPixels)
{
    for (const PngCase& c : pngCases) {
        SCOPED_TRACE(c.size);
        const QImage image = png(c.size);
        ASSERT_EQ(image.size(), QSize(c.size, c.size));
        EXPECT_EQ(rgbaHash(image), c.rgbaSha256);
    }
}

std::uint32_t le(const QByteArray& b, int at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(b[at + i]);
    return v;
}

// Icon directory and DIB headers. Sizes from the format: a DIB is a 40-byte header,
// a palette of 2^bits colours of 4 bytes, the colour rows and the 1-bit mask rows,
// each row padded to 4 bytes.
struct IcoEntry {
    int size, bits, colours, bytes;
};
constexpr IcoEntry icoEntries[] = {
    {32, 1, 2, 40 + 2 * 4 + 32 * 4 + 32 * 4},   // 304
    {32, 4, 16, 40 + 16 * 4 + 32 * 16 + 32 * 4}, // 744
    {16, 4, 16, 40 + 16 * 4 + 16 * 8 + 16 * 4}, // 296
};

TEST(IconTest, IcoLayout)
{
    QFile file(iconPath("hivarnisse.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    ASSERT_EQ(ico.size(), 6 + 3 * 16 + 304 + 744 + 296);
    EXPECT_EQ(le(ico, 0, 2), 0u); // reserved
    EXPECT_EQ(le(ico, 2, 2), 1u); // an icon, not a cursor
    EXPECT_EQ(le(ico, 4, 2), 3u);

    std::uint32_t offset = 6 + 3 * 16;
    for (int i = 0; i < 3; ++i) {
        const IcoEntry& e = icoEntries[i];
        SCOPED_TRACE(i);
        const int d = 6 + 16 * i;
        EXPECT_EQ(le(ico, d, 1), static_cast<std::uint32_t>(e.size));
        EXPECT_EQ(le(ico, d + 1, 1), static_cast<std::uint32_t>(e.size));
        EXPECT_EQ(le(ico, d + 2, 1), static_cast<std::uint32_t>(e.colours));
        EXPECT_EQ(le(ico, d + 4, 2), 1u); // planes
        EXPECT_EQ(le(ico, d + 6, 2), static_cast<std::uint32_t>(e.bits));
        EXPECT_EQ(le(ico, d + 8, 4), static_cast<std::uint32_t>(e.bytes));
        EXPECT_EQ(le(ico, d + 12, 4), offset);

        const int h = static_cast<int>(offset);
        EXPECT_EQ(le(ico, h, 4), 40u);
        EXPECT_EQ(le(ico, h + 4, 4), static_cast<std::uint32_t>(e.size));
        EXPECT_EQ(le(ico, h + 8, 4), static_cast<std::uint32_t>(2 * e.size)); // colour + mask
        EXPECT_EQ(le(ico, h + 14, 2), static_cast<std::uint32_t>(e.bits));
        EXPECT_EQ(le(ico, h + 20, 4), static_cast<std::uint32_t>(e.bytes - 40 - 4 * e.colours));
        offset += static_cast<std::uint32_t>(e.bytes);
    }
}

QImage icoImage(int index)
{
    QImageReader reader(iconPath("hivarnisse.ico"), "ico");
    EXPECT_EQ(reader.imageCount(), 3);
    EXPECT_TRUE(reader.jumpToImage(index));
    QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << reader.errorString().toStdString();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The sixteen-colour images hold black, white and cyan exactly, so Qt reads them
// back as the sharp PNG of the same size, transparency included.
TEST(IconTest, SixteenColourImagesAreThePngs)
{
    const struct {
        int index, size;
    } cases[] = {{1, 32}, {2, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const QImage ico = icoImage(c.index);
        const QImage expected = png(c.size);
        ASSERT_EQ(ico.size(), expected.size());
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x)
                ASSERT_EQ(ico.pixel(x, y), expected.pixel(x, y)) << "at " << x << "," << y;
    }
}

// Two colours have no cyan: the title bar becomes a checkerboard, black where
// x + y is even; everything else is as in the 32-pixel PNG.
TEST(IconTest, MonochromeImageChecksTheTitleBar)
{
    const QImage ico = icoImage(0);
    const QImage expected = png(32);
    ASSERT_EQ(ico.size(), QSize(32, 32));
    int titlePixels = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            QRgb want = expected.pixel(x, y);
            if (want == qRgb(0, 255, 255)) {
                want = (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
                ++titlePixels;
            }
            ASSERT_EQ(ico.pixel(x, y), want) << "at " << x << "," << y;
        }
    }
    // The title bar is several rows of the 30-pixel-wide window.
    EXPECT_GT(titlePixels, 3 * 28);
}

} // namespace
