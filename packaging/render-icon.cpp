// SPDX-License-Identifier: MIT
// Renders an SVG icon into a square PNG at build time:
//   tavro_render_icon INPUT.svg SIZE OUTPUT.png
// Exits 1 with a message on standard error when the SVG cannot be read or the PNG written.

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <charconv>
#include <cstdio>
#include <string_view>

namespace {

constexpr int minimumSize = 16;
constexpr int maximumSize = 1024;

int fail(const char* what, const char* name) {
    std::fprintf(stderr, "tavro_render_icon: %s '%s'\n", what, name);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: tavro_render_icon INPUT.svg SIZE OUTPUT.png\n");
        return 1;
    }
    const std::string_view sizeText = argv[2];
    int size = 0;
    const auto [end, error] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    if (error != std::errc() || end != sizeText.data() + sizeText.size() || size < minimumSize || size > maximumSize)
        return fail("size must be a whole number from 16 to 1024, not", argv[2]);

    // No QGuiApplication: shapes render without one, so the build never needs a platform
    // plugin. An icon with text would need fonts, and Qt then stops with a message.
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid())
        return fail("cannot read the SVG", argv[1]);

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();

    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG"))
        return fail("cannot write the PNG", argv[3]);
    return 0;
}
