// The icon provider and the drawn icons: symbols tinted from the palette of the moment (and
// re-tinted when it changes), at the pixel ratio painted on; the file tiles' colours, glyphs,
// badge and selected state; the account badge; the usage meter's limits.
#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/UsageMeter.h"
#include "StorageCore/Activity/ActivityLog.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace tw;

namespace {

const QColor lightInk(30, 30, 30);
const QColor lightDisabled(160, 160, 160);
const QColor darkInk(235, 235, 235);
const QColor darkDisabled(100, 100, 100);
const QColor selectedInk(255, 255, 250);

QPalette paletteWith(const QColor& ink, const QColor& disabled, const QColor& window) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, ink);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, ink);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::Active, QPalette::HighlightedText, selectedInk);
    return palette;
}

/// The colour of the fully opaque pixels (the ink of a one-colour symbol).
QColor inkOf(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255)
                return QColor(image.pixel(x, y));
    return QColor();
}

bool near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

std::string describe(const QColor& color) {
    return color.name(QColor::HexArgb).toStdString();
}

bool themeHasSymbolicIcons() {
    SymbolIcons::folder(); // sets the search path and theme
    return QIcon::hasThemeIcon(QStringLiteral("go-previous-symbolic"));
}

class Icons : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        QApplication::setPalette(paletteWith(lightInk, lightDisabled, QColor(250, 250, 250)));
    }
    void TearDown() override { QApplication::setPalette(saved_); }

private:
    QPalette saved_;
};

QImage tileImage(FileKind kind, const QString& extension, int size,
                 QIcon::Mode mode = QIcon::Normal, const QColor& background = Qt::transparent) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.drawPixmap(0, 0, FileIcons::tile(kind, extension).pixmap(QSize(size, size), 1.0, mode));
    return image;
}

StorageAccount account(ProviderKind provider, int colorIndex) {
    StorageAccount result;
    result.id = QUuid::createUuid();
    result.provider = provider;
    result.colorIndex = colorIndex;
    return result;
}

} // namespace

// The meanings the screens rely on, and the theme names that used to show the wrong thing.
TEST_F(Icons, SymbolsMapToFittingSymbolicThemeIcons) {
    const std::pair<const char*, const char*> table[] = {
        {"chevron.left", "go-previous"},
        {"house", "go-home"},
        {"arrow.clockwise", "view-refresh"},
        {"hand.raised", "user-not-tracked"},     // "Nothing is tracked": not a shield
        {"megaphone", "notifications-disabled"}, // "No advertising": not a muted speaker
        {"link", "network-transmit-receive"},    // a connected account: not a broken chain
        {"link.badge.minus", "network-offline"},
        {"wifi.slash", "network-wireless-offline"},
        {"folder.badge.plus", "folder-new"},
        {"plus.magnifyingglass", "zoom-in"},
        {"play.fill", "media-playback-start"},
    };
    for (const auto& [symbol, name] : table)
        EXPECT_EQ(SymbolIcons::themeName(QString::fromLatin1(symbol)), QString::fromLatin1(name))
            << symbol;

    // Every symbol the data names (activities, file categories, tile glyphs) has a mapping, and
    // with the theme the set-up installs each one is drawn from a symbolic icon.
    QStringList symbols;
    for (const ActivityEvent::Kind kind : ActivityEventKinds::allCases()) {
        ActivityEvent event;
        event.kind = kind;
        symbols.append(event.symbolName());
    }
    for (const FileCategory category : FileCategories::allCases())
        symbols.append(FileCategories::symbolName(category));
    for (const FileKind kind : FileKinds::allCases())
        symbols.append(FileTypeIcon::glyph(kind));
    const bool themed = themeHasSymbolicIcons();
    for (const QString& symbol : symbols) {
        SCOPED_TRACE(symbol.toStdString());
        const QString name = SymbolIcons::themeName(symbol);
        ASSERT_FALSE(name.isEmpty());
        if (themed) {
            EXPECT_TRUE(QIcon::hasThemeIcon(name + QStringLiteral("-symbolic")))
                << name.toStdString();
        }
    }
}

// The same icon object follows the palette: after a change at run time it paints in the new
// ink, disabled in the disabled text colour and selected in the highlighted text colour.
TEST_F(Icons, SymbolsTakeTheirInkFromThePaletteOfTheMoment) {
    for (const char* symbol : {"chevron.left", "no.such.symbol", "xmark.circle.fill"}) {
        SCOPED_TRACE(symbol);
        const QIcon icon = SymbolIcons::icon(QString::fromLatin1(symbol));
        EXPECT_FALSE(icon.isNull());
        EXPECT_EQ(describe(inkOf(icon.pixmap(QSize(24, 24), 1.0, QIcon::Normal))),
                  describe(lightInk));
        EXPECT_EQ(describe(inkOf(icon.pixmap(QSize(24, 24), 1.0, QIcon::Disabled))),
                  describe(lightDisabled));
        EXPECT_EQ(describe(inkOf(icon.pixmap(QSize(24, 24), 1.0, QIcon::Selected))),
                  describe(selectedInk));

        QApplication::setPalette(paletteWith(darkInk, darkDisabled, QColor(40, 40, 40)));
        EXPECT_EQ(describe(inkOf(icon.pixmap(QSize(24, 24), 1.0, QIcon::Normal))),
                  describe(darkInk));
        EXPECT_EQ(describe(inkOf(icon.pixmap(QSize(24, 24), 1.0, QIcon::Disabled))),
                  describe(darkDisabled));
        QApplication::setPalette(paletteWith(lightInk, lightDisabled, QColor(250, 250, 250)));
    }
    // A palette whose disabled text is its normal text still shows a disabled symbol fainter.
    QApplication::setPalette(paletteWith(lightInk, lightInk, QColor(250, 250, 250)));
    const QPixmap disabled = SymbolIcons::icon(QStringLiteral("chevron.left"))
                                 .pixmap(QSize(24, 24), 1.0, QIcon::Disabled);
    EXPECT_FALSE(inkOf(disabled).isValid()) << "no pixel of the disabled symbol is fully opaque";
}

// Tool buttons paint their action's symbol: a disabled Back looks disabled, in the palette's
// disabled text colour.
TEST_F(Icons, ADisabledToolButtonPaintsItsSymbolInTheDisabledInk) {
    const auto pixelsOf = [](const QImage& image, const QColor& color) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y).rgb() == color.rgb();
        return count;
    };
    QAction back(SymbolIcons::icon(QStringLiteral("chevron.left")), QStringLiteral("Back"));
    QToolButton button;
    button.setDefaultAction(&back);
    button.setIconSize(QSize(24, 24));
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    QImage image = button.grab().toImage();
    EXPECT_GT(pixelsOf(image, lightInk), 10);
    EXPECT_EQ(pixelsOf(image, lightDisabled), 0);
    back.setEnabled(false);
    image = button.grab().toImage();
    EXPECT_EQ(pixelsOf(image, lightInk), 0);
    EXPECT_GT(pixelsOf(image, lightDisabled), 10);
}

// A label showing a symbol is re-drawn when the application palette changes, and when its own
// palette does.
TEST_F(Icons, LabelsAreRetintedWhenThePaletteChanges) {
    QLabel label;
    SymbolIcons::setSymbol(&label, QStringLiteral("folder"), 24);
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    EXPECT_EQ(describe(inkOf(label.pixmap())), describe(lightInk));

    QApplication::setPalette(paletteWith(darkInk, darkDisabled, QColor(40, 40, 40)));
    QCoreApplication::processEvents(); // the palette reaches widgets through posted events
    EXPECT_EQ(describe(inkOf(label.pixmap())), describe(darkInk));

    QPalette own = label.palette();
    own.setColor(QPalette::WindowText, QColor(200, 20, 20));
    label.setPalette(own);
    EXPECT_EQ(describe(inkOf(label.pixmap())), describe(QColor(200, 20, 20)));

    // Setting another symbol keeps one keeper: the new symbol is what a palette change redraws.
    SymbolIcons::setSymbol(&label, QStringLiteral("chevron.left"), 16);
    QApplication::setPalette(paletteWith(lightInk, lightDisabled, QColor(250, 250, 250)));
    QCoreApplication::processEvents();
    EXPECT_EQ(label.pixmap().deviceIndependentSize().toSize(), QSize(16, 16));
    EXPECT_EQ(describe(inkOf(label.pixmap())),
              describe(QColor(200, 20, 20))); // its own palette still
}

// Symbols are drawn at the pixel ratio of the device: a 16-point icon on a 2× surface has 32
// pixels a side, drawn at that size rather than scaled up.
TEST_F(Icons, SymbolsAreDrawnAtTheDevicePixelRatio) {
    const QIcon icon = SymbolIcons::icon(QStringLiteral("chevron.left"));
    const QPixmap sharp = icon.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);

    // Painting on a 2× image gives the same pixels as the 32-pixel drawing.
    QImage surface(32, 32, QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(2.0);
    surface.fill(Qt::transparent);
    QPainter painter(&surface);
    icon.paint(&painter, QRect(0, 0, 16, 16));
    painter.end();
    QImage expected = SymbolIcons::pixmap(QStringLiteral("chevron.left"), 16, 2.0, lightInk)
                          .toImage()
                          .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(2.0);
    EXPECT_EQ(surface, expected);
    // Not the 1× drawing scaled up.
    const QImage upscaled = icon.pixmap(QSize(16, 16), 1.0)
                                .toImage()
                                .scaled(32, 32)
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_NE(surface.copy(), upscaled);
}

// The tile colours per kind (video orange, audio pink), sampled at the bottom of the gradient.
TEST_F(Icons, TilesHaveTheirKindsColours) {
    const std::tuple<FileKind, float, float, float> table[] = {
        {FileKind::document, 0.23f, 0.48f, 0.93f},     {FileKind::spreadsheet, 0.18f, 0.62f, 0.36f},
        {FileKind::presentation, 0.93f, 0.60f, 0.13f}, {FileKind::pdf, 0.88f, 0.27f, 0.27f},
        {FileKind::image, 0.58f, 0.38f, 0.85f},        {FileKind::video, 0.93f, 0.45f, 0.20f},
        {FileKind::audio, 0.88f, 0.29f, 0.50f},        {FileKind::archive, 0.52f, 0.48f, 0.43f},
        {FileKind::other, 0.55f, 0.58f, 0.64f},
    };
    for (const auto& [kind, r, g, b] : table) {
        SCOPED_TRACE(FileKinds::rawValue(kind).toStdString());
        const QColor expected = QColor::fromRgbF(r, g, b);
        EXPECT_EQ(FileTypeIcon::color(kind), expected);
        const QImage tile = tileImage(kind, QStringLiteral("bin"), 48);
        EXPECT_TRUE(near(tile.pixelColor(24, 46), expected, 8))
            << describe(tile.pixelColor(24, 46));
        // The gradient is lighter at the top.
        EXPECT_GT(tile.pixelColor(24, 2).lightness(), tile.pixelColor(24, 46).lightness());
    }
}

// Each kind carries its own white glyph: the white pixels of two kinds' tiles never coincide.
TEST_F(Icons, EachKindHasItsOwnWhiteGlyph) {
    if (!themeHasSymbolicIcons())
        GTEST_SKIP() << "no symbolic icon theme installed";
    QMap<FileKind, QImage> glyphs;
    for (const FileKind kind : FileKinds::allCases()) {
        if (kind == FileKind::folder)
            continue;
        const QImage tile = tileImage(kind, QString(), 32);
        QImage mask(32, 32, QImage::Format_Mono);
        mask.fill(0);
        int white = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (near(tile.pixelColor(x, y), Qt::white, 30) &&
                    tile.pixelColor(x, y).alpha() == 255) {
                    mask.setPixel(x, y, 1);
                    ++white;
                }
        EXPECT_GT(white, 20) << FileKinds::rawValue(kind).toStdString();
        for (auto it = glyphs.cbegin(); it != glyphs.cend(); ++it)
            EXPECT_NE(it.value(), mask)
                << FileKinds::rawValue(kind).toStdString() << " draws the glyph of "
                << FileKinds::rawValue(it.key()).toStdString();
        glyphs.insert(kind, mask);
    }
}

TEST_F(Icons, TheBadgeIsTheExtensionFromTwentyFourPixels) {
    const std::tuple<const char*, int, const char*> table[] = {
        {"jpeg", 23, ""}, {"jpeg", 24, "JPEG"}, {"markdown", 24, "MARK"},
        {"", 24, ""},     {"Pdf", 64, "PDF"},
    };
    for (const auto& [extension, size, badge] : table)
        EXPECT_EQ(FileTypeIcon::badge(QString::fromLatin1(extension), size),
                  QString::fromLatin1(badge))
            << extension << " at " << size;
    // The size counts in device-independent pixels: a 16-pixel tile on a 2× screen is drawn
    // with 32 pixels a side and still has no badge; at 24 it has one.
    const auto image = [](const QString& extension, int size, qreal ratio) {
        return FileIcons::tile(FileKind::image, extension)
            .pixmap(QSize(size, size), ratio)
            .toImage();
    };
    const QImage sharp = image(QStringLiteral("jpeg"), 16, 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp, image(QString(), 16, 2.0));
    EXPECT_NE(image(QStringLiteral("jpeg"), 24, 1.0), image(QString(), 24, 1.0));
}

// On a highlight of the tile's own hue a selected tile keeps a ring in the highlighted text
// colour; unselected, its edge would melt into the highlight.
TEST_F(Icons, ASelectedTileStaysVisibleOnTheHighlight) {
    const QColor highlight = FileTypeIcon::color(FileKind::document);
    const QImage normal =
        tileImage(FileKind::document, QStringLiteral("docx"), 32, QIcon::Normal, highlight);
    const QImage selected =
        tileImage(FileKind::document, QStringLiteral("docx"), 32, QIcon::Selected, highlight);
    const int edge = qRound(32 * 0.06); // the tile's left edge
    const QColor normalEdge = normal.pixelColor(edge, 16);
    const QColor selectedEdge = selected.pixelColor(edge, 16);
    EXPECT_TRUE(near(normalEdge, highlight, 12)) << describe(normalEdge);
    EXPECT_TRUE(near(selectedEdge, selectedInk, 40)) << describe(selectedEdge);
}

// The icon of an item: a file sent as application/octet-stream takes its extension's tile (the
// Kind column's classification); a folder is the theme's folder icon, never a tile.
TEST_F(Icons, ItemIconsFollowTheKindColumnsClassification) {
    FileItem movie;
    movie.name = QStringLiteral("holiday.mp4");
    movie.mimeType = QStringLiteral("application/octet-stream");
    ASSERT_EQ(movie.kind(), FileKind::video);
    const auto image = [](const QIcon& icon) { return icon.pixmap(QSize(32, 32), 1.0).toImage(); };
    EXPECT_EQ(image(FileIcons::icon(movie)),
              image(FileIcons::tile(FileKind::video, QStringLiteral("mp4"))));
    EXPECT_NE(image(FileIcons::icon(movie)),
              image(FileIcons::tile(FileKind::other, QStringLiteral("mp4"))));

    FileItem folder;
    folder.name = QStringLiteral("Photos.zip");
    folder.mimeType = FileItem::folderMimeType;
    EXPECT_EQ(image(FileIcons::icon(folder)), image(SymbolIcons::folder()));
    EXPECT_EQ(image(FileIcons::tile(FileKind::folder, QString())), image(SymbolIcons::folder()));
}

// Two Drive accounts differ by their badge, in their palette colours; the avatar is named by
// its service for assistive technologies.
TEST_F(Icons, AccountIconsCarryTheirPaletteBadgeAndServiceName) {
    const StorageAccount work = account(ProviderKind::googleDrive, 0);
    const StorageAccount home = account(ProviderKind::googleDrive, 3);
    const auto draw = [](const StorageAccount& account) {
        AccountIcon icon(account, 40);
        return icon.grab().toImage();
    };
    const QImage workImage = draw(work);
    const QImage homeImage = draw(home);
    EXPECT_NE(workImage, homeImage);
    const QPoint badge = AccountIcon::badgeRect(QRectF(0, 0, 40, 40)).center().toPoint();
    EXPECT_TRUE(near(workImage.pixelColor(badge), DS::AccountPalette::color(0), 3));
    EXPECT_TRUE(near(homeImage.pixelColor(badge), DS::AccountPalette::color(3), 3));
    // The badge sticks out of the avatar's square, and the widget has room for it.
    EXPECT_GT(AccountIcon::badgeRect(QRectF(0, 0, 40, 40)).right(), 40);
    EXPECT_TRUE(near(workImage.pixelColor(40, 35), DS::AccountPalette::color(0), 3));

    AccountIcon drive(work, 24);
    AccountIcon telegram(account(ProviderKind::telegram, 0), 24);
    EXPECT_EQ(drive.accessibleName(), QStringLiteral("Google Drive"));
    EXPECT_EQ(telegram.accessibleName(), QStringLiteral("Telegram"));
    telegram.setAccount(home);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&telegram);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Google Drive"));
}

// The meter shows only for a limit above zero; from 90 % it is orange, and over the limit it is
// a full orange bar.
TEST_F(Icons, UsageMeterShowsTheUsedShareOfALimit) {
    const QColor tint(0, 120, 255);
    const QColor orange = DS::AccountPalette::color(1);
    struct Case {
        const char* name;
        std::optional<StorageQuota> quota;
        std::optional<double> fraction;
        QColor bar;
    };
    const Case cases[] = {
        {"no quota", std::nullopt, std::nullopt, {}},
        {"no limit", StorageQuota(10), std::nullopt, {}},
        {"limit 0", StorageQuota(10, 0), std::nullopt, {}},
        {"limit -1", StorageQuota(10, -1), std::nullopt, {}},
        {"50 %", StorageQuota(50, 100), 0.5, tint},
        {"90 %", StorageQuota(90, 100), 0.9, orange},
        {"95 %", StorageQuota(95, 100), 0.95, orange},
        {"130 %", StorageQuota(130, 100), 1.0, orange},
    };
    QWidget window;
    auto* meter = new UsageMeter(&window);
    meter->setFixedWidth(200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(meter->accessibleName(), QStringLiteral("Storage used"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        meter->setQuota(c.quota, tint);
        EXPECT_EQ(UsageMeter::fraction(c.quota), c.fraction);
        EXPECT_EQ(meter->isVisibleTo(&window), c.fraction.has_value());
        if (!c.fraction)
            continue;
        const QImage bar = meter->grab().toImage();
        const int filledTo = int(200 * *c.fraction);
        EXPECT_TRUE(near(bar.pixelColor(filledTo / 2, 3), c.bar, 3))
            << describe(bar.pixelColor(filledTo / 2, 3));
        // The bar reaches as far as the share: a full bar is coloured at its right end too.
        EXPECT_EQ(near(bar.pixelColor(196, 3), c.bar, 3), *c.fraction == 1.0);
    }
}
