// The window's two controls on their own: the file-name field with its browse
// button and memory, the glyph button, the arithmetic both draw by, and the
// pictures compiled into the program.
#include <FilenameEdit.h>
#include <GlyphButton.h>
#include <Pictures.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

Q_DECLARE_METATYPE(GlyphButton::Face)

namespace {

// Stands in for the open-file dialog: notes what each browse would open it
// with and answers with the next prepared outcome: a path confirmed, or a
// null text (or none prepared) for a cancel.
class FakeDialog
{
public:
    void answer(const QString &outcome) { answers_.push_back(outcome); }
    const std::vector<BrowseRequest> &requests() const { return requests_; }

    BrowseDialog seam()
    {
        return [this](QWidget *, const BrowseRequest &request) -> std::optional<QString> {
            requests_.push_back(request);
            if (answers_.empty())
                return std::nullopt;
            const QString next = answers_.front();
            answers_.pop_front();
            if (next.isNull())
                return std::nullopt;
            return next;
        };
    }

private:
    std::vector<BrowseRequest> requests_;
    std::deque<QString> answers_;
};

// A window with two fields and a glyph button below them, as a person meets
// such controls: shown, active, and reached through the window's own input.
class Host : public QWidget
{
public:
    Host()
    {
        resize(400, 120);
        first = new FilenameEdit(this);
        first->setObjectName(QStringLiteral("first"));
        first->setGeometry(10, 10, 257, 21);
        second = new FilenameEdit(this);
        second->setObjectName(QStringLiteral("second"));
        second->setGeometry(10, 40, 257, 21);
        button = new GlyphButton(QStringLiteral(u"Начать обработку"), this);
        button->setGeometry(8, 80, 377, 25);
        button->setGlyph(Pictures::startGlyph());
        first->setBrowseDialog(dialog.seam());
        second->setBrowseDialog(dialog.seam());
        QObject::connect(button, &QAbstractButton::clicked, button, [this] { ++clicks; });
    }

    bool showActive()
    {
        show();
        activateWindow();
        return QTest::qWaitForWindowActive(this);
    }

    QWindow *handle() const { return windowHandle(); }
    QPoint at(const QWidget *w, QPoint local) const { return w->mapTo(this, local); }
    QPoint centreOf(const QWidget *w) const { return at(w, w->rect().center()); }

    FilenameEdit *first = nullptr;
    FilenameEdit *second = nullptr;
    GlyphButton *button = nullptr;
    FakeDialog dialog;
    int clicks = 0;
};

QImage rendered(QWidget *w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A glyph that uses every alpha from 0 to 255 once, in colours that differ
// from pixel to pixel, so that any slip in blending or placement shows.
QImage everyAlphaGlyph()
{
    QImage glyph(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            glyph.setPixel(x, y, qRgba(x * 16 + 7, y * 16 + 3, 255 - x * 8 - y * 4, y * 16 + x));
    }
    return glyph;
}

// Records the face state and features the style is asked for, and whether a
// focus rectangle was drawn.
class RecordingStyle : public QProxyStyle
{
public:
    RecordingStyle() : QProxyStyle(QStringLiteral("Fusion")) {}

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (element == CE_PushButtonBevel) {
            faces.push_back(option->state);
            if (auto *button = qstyleoption_cast<const QStyleOptionButton *>(option))
                features.push_back(button->features);
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_FrameFocusRect)
            ++focusRects;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void reset()
    {
        faces.clear();
        features.clear();
        focusRects = 0;
    }

    mutable std::vector<QStyle::State> faces;
    mutable std::vector<QStyleOptionButton::ButtonFeatures> features;
    mutable int focusRects = 0;
};

QSet<QPoint> pixelsOf(const QImage &image, const QRect &area, QRgb colour)
{
    QSet<QPoint> found;
    const QRect within = area.intersected(image.rect());
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                found.insert(QPoint(x, y));
        }
    }
    return found;
}

} // namespace

class tst_Controls : public QObject
{
    Q_OBJECT

private slots:
    // Arithmetic.
    void layout_data();
    void layout();
    void wrapWidth();
    void blend_data();
    void blend();
    void blendPlacesAndClips();
    void fileNameRules_data();
    void fileNameRules();
    void nameFilters_data();
    void nameFilters();
    void inputLimit_data();
    void inputLimit();
    void wrappedCaption_data();
    void wrappedCaption();
    void captionStaysInItsBox_data();
    void captionStaysInItsBox();

    // The file-name field.
    void browseMemory_data();
    void browseMemory();
    void browseMemoryOnDisk_data();
    void browseMemoryOnDisk();
    void eachFieldHasItsOwnMemory();
    void dialogGetsTheFieldsFilter();
    void longPathFromDialog();
    void typingStopsAtLimit();
    void altDown_data();
    void altDown();
    void enterAndEscapeGoToTheWindow_data();
    void enterAndEscapeGoToTheWindow();
    void enterAndEscapePressNoButton_data();
    void enterAndEscapePressNoButton();
    void focusSelectsAll_data();
    void focusSelectsAll();
    void selectionHiddenWhileInactive();
    void buttonSitsInsideTheBorder();
    void buttonClickBrowses();
    void buttonReleasedElsewhere();
    void buttonFrames_data();
    void buttonFrames();
    void dropsAreRefused();
    void fileNameIsTheTextAsIs();

    // The toolkit's dialog.
    void realDialogIsSetUp();
    void realDialogStartsInCurrentFolderWhenToldNone();
    void realDialogConfirmAndCancel();

    // The glyph button.
    void faceForState_data();
    void faceForState();
    void glyphBlendedOverFace_data();
    void glyphBlendedOverFace();
    void disabledCaptionIsEmbossed();
    void buttonKeys_data();
    void buttonKeys();
    void noAccessKey();
    void mouseReleasedOffButton();
    void doubleClickIsTwoClicks();
    void focusLeavesDisabledButton();
    void handCursor();

    // Pictures.
    void picturesLoaded();
    void browseGlyphFrames();
    void startGlyphPicture();
    void programIconFile();
};

// ---------------------------------------------------------------- arithmetic

void tst_Controls::layout_data()
{
    QTest::addColumn<QSize>("button");
    QTest::addColumn<QSize>("caption");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QRect>("glyph");
    QTest::addColumn<QRect>("captionBox");
    // Worked by hand from the 16 by 16 glyph and the 4-pixel gap.
    QTest::newRow("start button") << QSize(377, 25) << QSize(97, 13) << false << QRect(130, 5, 16, 16)
                                  << QRect(150, 6, 97, 13);
    QTest::newRow("start button pressed") << QSize(377, 25) << QSize(97, 13) << true << QRect(131, 6, 16, 16)
                                          << QRect(151, 7, 97, 13);
    QTest::newRow("empty caption: no gap") << QSize(377, 25) << QSize(0, 0) << false << QRect(181, 5, 16, 16)
                                           << QRect(197, 13, 0, 0);
    QTest::newRow("empty caption pressed") << QSize(377, 25) << QSize(0, 0) << true << QRect(182, 6, 16, 16)
                                           << QRect(198, 14, 0, 0);
    QTest::newRow("two caption lines") << QSize(100, 40) << QSize(80, 26) << false << QRect(0, 12, 16, 16)
                                       << QRect(20, 7, 80, 26);
    QTest::newRow("half pixel rounds down") << QSize(24, 24) << QSize(0, 0) << false << QRect(4, 4, 16, 16)
                                            << QRect(20, 12, 0, 0);
    QTest::newRow("odd spare width: the extra pixel goes left") << QSize(120, 23) << QSize(81, 13) << false
                                               << QRect(10, 4, 16, 16) << QRect(30, 5, 81, 13);
    // Too small for its content: halves truncate towards zero, not down.
    QTest::newRow("wider than the button") << QSize(30, 10) << QSize(40, 13) << false << QRect(-14, -2, 16, 16)
                                           << QRect(6, -1, 40, 13);
    QTest::newRow("wider than the button pressed") << QSize(30, 10) << QSize(40, 13) << true
                                                   << QRect(-13, -1, 16, 16) << QRect(7, 0, 40, 13);
}

void tst_Controls::layout()
{
    QFETCH(QSize, button);
    QFETCH(QSize, caption);
    QFETCH(bool, pressed);
    QFETCH(QRect, glyph);
    QFETCH(QRect, captionBox);
    const GlyphButtonLayout layout = GlyphButtonLayout::compute(button, QSize(16, 16), caption, pressed);
    QCOMPARE(layout.glyph(), glyph);
    QCOMPARE(layout.caption(), captionBox);
}

void tst_Controls::wrapWidth()
{
    QCOMPARE(GlyphButtonLayout::wrapWidth(377, 16), 359);
    QCOMPARE(GlyphButtonLayout::wrapWidth(18, 16), 0);
}

void tst_Controls::blend_data()
{
    QTest::addColumn<int>("background");
    QTest::addColumn<int>("glyph");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<bool>("half");
    QTest::addColumn<int>("result");
    // Full alpha does not reach the glyph's value: the sum is divided by 256.
    QTest::newRow("opaque white over black") << 0 << 255 << 255 << false << 254;
    QTest::newRow("opaque black over white") << 255 << 0 << 255 << false << 0;
    QTest::newRow("one step up, remainder dropped") << 10 << 11 << 255 << false << 10;
    QTest::newRow("transparent") << 77 << 200 << 0 << false << 77;
    QTest::newRow("half way down") << 200 << 100 << 128 << false << 150;
    QTest::newRow("alpha 201") << 0 << 255 << 201 << false << 200;
    QTest::newRow("alpha 201 halved to 100") << 0 << 255 << 201 << true << 99;
    QTest::newRow("alpha 255 halved to 127") << 0 << 255 << 255 << true << 126;
    QTest::newRow("alpha 1 halved to nothing") << 90 << 250 << 1 << true << 90;
    QTest::newRow("darker glyph, halved") << 240 << 16 << 180 << true << 161;
}

void tst_Controls::blend()
{
    QFETCH(int, background);
    QFETCH(int, glyph);
    QFETCH(int, alpha);
    QFETCH(bool, half);
    QFETCH(int, result);
    QCOMPARE(GlyphBlend::channel(background, glyph, half ? GlyphBlend::halfAlpha(alpha) : alpha), result);

    // Each channel on its own, in the image routine the controls draw with.
    QImage target(3, 1, QImage::Format_RGB32);
    target.setPixel(0, 0, qRgb(background, 0, 0));
    target.setPixel(1, 0, qRgb(0, background, 0));
    target.setPixel(2, 0, qRgb(0, 0, background));
    QImage source(3, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(glyph, 0, 0, alpha));
    source.setPixel(1, 0, qRgba(0, glyph, 0, alpha));
    source.setPixel(2, 0, qRgba(0, 0, glyph, alpha));
    GlyphBlend::draw(target, QPoint(0, 0), source, source.rect(), half);
    QCOMPARE(qRed(target.pixel(0, 0)), result);
    QCOMPARE(qGreen(target.pixel(1, 0)), result);
    QCOMPARE(qBlue(target.pixel(2, 0)), result);
}

void tst_Controls::blendPlacesAndClips()
{
    // Two 2 by 1 frames: red, green | blue, grey at half alpha.
    QImage frames(4, 1, QImage::Format_ARGB32);
    frames.setPixel(0, 0, qRgba(255, 0, 0, 255));
    frames.setPixel(1, 0, qRgba(0, 255, 0, 255));
    frames.setPixel(2, 0, qRgba(0, 0, 255, 255));
    frames.setPixel(3, 0, qRgba(200, 200, 200, 128));
    {
        const QImage &glyph = frames;
        QImage target(3, 2, QImage::Format_RGB32);
        target.fill(qRgb(0, 0, 0));
        GlyphBlend::draw(target, QPoint(1, 1), glyph, QRect(2, 0, 2, 1), false);
        QCOMPARE(target.pixel(1, 1), qRgb(0, 0, 254));
        QCOMPARE(target.pixel(2, 1), qRgb(100, 100, 100));
        QCOMPARE(target.pixel(0, 1), qRgb(0, 0, 0));
        QCOMPARE(target.pixel(1, 0), qRgb(0, 0, 0));

        // Half off the left edge: only the frame's second pixel lands.
        target.fill(qRgb(0, 0, 0));
        GlyphBlend::draw(target, QPoint(-1, 0), glyph, QRect(0, 0, 2, 1), false);
        QCOMPARE(target.pixel(0, 0), qRgb(0, 254, 0));
        QCOMPARE(target.pixel(1, 0), qRgb(0, 0, 0));

        // Off the right edge: the first pixel lands, the second is dropped.
        target.fill(qRgb(0, 0, 0));
        GlyphBlend::draw(target, QPoint(2, 1), glyph, QRect(0, 0, 2, 1), false);
        QCOMPARE(target.pixel(2, 1), qRgb(254, 0, 0));
    }
}

void tst_Controls::fileNameRules_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plausible");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("full path") << true << R"(E:\data\fr_fr.txt)" << true << R"(E:\data\)" << "fr_fr.txt";
    QTest::newRow("folder alone") << true << R"(E:\data\)" << true << R"(E:\data\)" << "";
    QTest::newRow("name alone") << true << "fr_fr.txt" << true << "" << "fr_fr.txt";
    QTest::newRow("drive and name") << true << "C:fr_fr.txt" << true << "C:" << "fr_fr.txt";
    QTest::newRow("colon after backslash") << true << R"(a\b:c)" << true << R"(a\b:)" << "c";
    QTest::newRow("spaces kept") << true << R"( E:\data\b.txt )" << true << R"( E:\data\)" << "b.txt ";
    QTest::newRow("empty") << true << "" << false << "" << "";
    QTest::newRow("less than") << true << R"(E:\a<b)" << false << R"(E:\)" << "a<b";
    QTest::newRow("greater than") << true << R"(E:\a>b)" << false << R"(E:\)" << "a>b";
    QTest::newRow("quotation mark") << true << R"("E:\a.txt")" << false << R"("E:\)" << "a.txt\"";
    QTest::newRow("bar") << true << R"(E:\a|b)" << false << R"(E:\)" << "a|b";
    QTest::newRow("asterisk") << true << R"(E:\*.txt)" << false << R"(E:\)" << "*.txt";
    QTest::newRow("question mark") << true << R"(E:\a?.txt)" << false << R"(E:\)" << "a?.txt";
    QTest::newRow("slash is no separator") << true << "E:/data/b.txt" << false << "E:" << "/data/b.txt";
    QTest::newRow("posix path") << false << "/home/u/fr_fr.txt" << true << "/home/u/" << "fr_fr.txt";
    QTest::newRow("posix backslash is a character") << false << R"(a\b)" << true << "" << R"(a\b)";
    QTest::newRow("posix colon is a character") << false << "/x/C:y" << true << "/x/" << "C:y";
    QTest::newRow("posix asterisk") << false << "/data/*.txt" << false << "/data/" << "*.txt";
}

void tst_Controls::fileNameRules()
{
    QFETCH(bool, windows);
    QFETCH(QString, text);
    QFETCH(bool, plausible);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    const FileNameRules rules = windows ? FileNameRules::windows() : FileNameRules::posix();
    QCOMPARE(rules.isPlausible(text), plausible);
    QCOMPARE(rules.folderPart(text), folder);
    QCOMPARE(rules.namePart(text), name);
}

void tst_Controls::nameFilters_data()
{
    QTest::addColumn<QString>("pairs");
    QTest::addColumn<QStringList>("filters");
    QTest::newRow("section list") << QStringLiteral(u"Файл таблицы разделов|fr_fr.txt")
                                  << QStringList{QStringLiteral(u"Файл таблицы разделов (fr_fr.txt)")};
    QTest::newRow("forum list") << QStringLiteral(u"Файл таблицы тем|forum.txt")
                                << QStringList{QStringLiteral(u"Файл таблицы тем (forum.txt)")};
    QTest::newRow("two pairs, several patterns")
        << "Text|*.txt;*.log|All|*.*" << QStringList{"Text (*.txt *.log)", "All (*.*)"};
    QTest::newRow("none") << "" << QStringList{};
}

void tst_Controls::nameFilters()
{
    QFETCH(QString, pairs);
    QFETCH(QStringList, filters);
    QCOMPARE(FileFilter::toNameFilters(pairs), filters);
}

void tst_Controls::inputLimit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<int>("allowedCursor");
    // A limit of 5 throughout.
    QTest::newRow("typing within the limit") << "abc" << "abcd" << 4 << "abcd" << 4;
    QTest::newRow("typing at the limit") << "abcde" << "abcdeX" << 6 << "abcde" << 5;
    QTest::newRow("paste cut to fit") << "abc" << "abXYZc" << 5 << "abXYc" << 4;
    QTest::newRow("longer text shortened") << "abcdefg" << "abcdfg" << 4 << "abcdfg" << 4;
    QTest::newRow("longer text typed into") << "abcdefg" << "abcdXefg" << 5 << "abcdefg" << 4;
    QTest::newRow("selection replaced, still too long") << "abcdefg" << "abXefg" << 3 << "abefg" << 2;
    QTest::newRow("selection replaced, fits") << "abcdefg" << "aXYfg" << 3 << "aXYfg" << 3;
    QTest::newRow("repeated letters") << "aaaaa" << "aaaaaa" << 3 << "aaaaa" << 2;
}

void tst_Controls::inputLimit()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, cursor);
    QFETCH(QString, allowed);
    QFETCH(int, allowedCursor);
    const auto [text, at] = InputLengthLimit::limited(before, after, cursor, 5);
    QCOMPARE(text, allowed);
    QCOMPARE(at, allowedCursor);
}

void tst_Controls::wrappedCaption_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("width"); // "wide", "between" or "narrow"
    QTest::addColumn<QStringList>("lines");
    const QString caption = QStringLiteral(u"Начать обработку");
    QTest::newRow("fits") << caption << "wide" << QStringList{caption};
    QTest::newRow("one word a line") << caption << "between"
                                     << QStringList{QStringLiteral(u"Начать"), QStringLiteral(u"обработку")};
    QTest::newRow("narrower than a word") << caption << "narrow"
                                          << QStringList{QStringLiteral(u"Начать"), QStringLiteral(u"обработку")};
    QTest::newRow("ampersand is a character") << "&Start now" << "wide" << QStringList{"&Start now"};
    QTest::newRow("empty") << "" << "wide" << QStringList{};
}

void tst_Controls::wrappedCaption()
{
    QFETCH(QString, text);
    QFETCH(QString, width);
    QFETCH(QStringList, lines);
    const QFont font;
    const QFontMetrics metrics(font);
    const int longestWord = metrics.horizontalAdvance(QStringLiteral(u"обработку"));
    const int wrap = width == QLatin1String("wide")      ? 1000
                     : width == QLatin1String("between") ? metrics.horizontalAdvance(text) - 1
                                                         : longestWord / 2;
    const WrappedCaption caption(text, font, wrap);
    QStringList got;
    for (int i = 0; i < caption.lineCount(); ++i)
        got << caption.line(i);
    QCOMPARE(got, lines);
    int widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    QCOMPARE(caption.size(), QSize(widest, metrics.height() * int(lines.size())));
}

void tst_Controls::captionStaysInItsBox_data()
{
    QTest::addColumn<int>("boxWidthPercent");
    QTest::addColumn<int>("boxLines");
    QTest::newRow("whole caption") << 100 << 2;
    QTest::newRow("line wider than the box") << 60 << 2;
    QTest::newRow("second line cut off") << 100 << 1;
}

void tst_Controls::captionStaysInItsBox()
{
    QFETCH(int, boxWidthPercent);
    QFETCH(int, boxLines);
    QFont font;
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    const QString text = QStringLiteral(u"Начать обработку");
    const WrappedCaption caption(text, font, metrics.horizontalAdvance(QStringLiteral(u"обработку")));
    QCOMPARE(caption.lineCount(), 2);
    const QRect box(10, 10, caption.size().width() * boxWidthPercent / 100, metrics.height() * boxLines);

    QImage image(caption.size() + QSize(20, 20 + metrics.height()), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        caption.draw(painter, box);
    }
    const QSet<QPoint> ink = pixelsOf(image, image.rect(), qRgb(0, 0, 0));
    QVERIFY(!ink.isEmpty());
    for (const QPoint &p : ink)
        QVERIFY2(box.contains(p), qPrintable(QStringLiteral("ink at %1,%2").arg(p.x()).arg(p.y())));
    if (boxWidthPercent == 100 && boxLines == 2) {
        // Nothing elided: both lines have ink, each in its own row band.
        const QRect second(box.left(), box.top() + metrics.height(), box.width(), metrics.height());
        QVERIFY(!pixelsOf(image, second, qRgb(0, 0, 0)).isEmpty());
    }
}

// ----------------------------------------------------------- file-name field

void tst_Controls::browseMemory_data()
{
    // One browse per text, answered by the matching outcome ("" cancels);
    // then what each browse opened the dialog with and the text at the end.
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("finalText");
    // E:\data\ and C: exist; nothing else does.
    const QString data = QStringLiteral(R"(E:\data\)");
    QTest::newRow("folder exists") << QStringList{R"(E:\data\fr_fr.txt)"} << QStringList{""} << QStringList{data}
                                   << QStringList{R"(E:\data\fr_fr.txt)"} << R"(E:\data\fr_fr.txt)";
    QTest::newRow("folder alone") << QStringList{data} << QStringList{""} << QStringList{data} << QStringList{""}
                                  << data;
    QTest::newRow("missing folder, first browse") << QStringList{R"(D:\gone\fr_fr.txt)"} << QStringList{""}
                                                  << QStringList{""} << QStringList{R"(D:\gone\fr_fr.txt)"}
                                                  << R"(D:\gone\fr_fr.txt)";
    QTest::newRow("missing folder keeps the last one")
        << QStringList{R"(E:\data\a.txt)", R"(D:\gone\fr_fr.txt)"} << QStringList{"", ""}
        << QStringList{data, data} << QStringList{R"(E:\data\a.txt)", R"(D:\gone\fr_fr.txt)"}
        << R"(D:\gone\fr_fr.txt)";
    QTest::newRow("no folder part, first browse") << QStringList{"fr_fr.txt"} << QStringList{""} << QStringList{""}
                                                  << QStringList{"fr_fr.txt"} << "fr_fr.txt";
    QTest::newRow("no folder part keeps the last one")
        << QStringList{R"(E:\data\a.txt)", "fr_fr.txt"} << QStringList{"", ""} << QStringList{data, data}
        << QStringList{R"(E:\data\a.txt)", "fr_fr.txt"} << "fr_fr.txt";
    QTest::newRow("drive and name") << QStringList{"C:fr_fr.txt"} << QStringList{""} << QStringList{"C:"}
                                    << QStringList{"C:fr_fr.txt"} << "C:fr_fr.txt";
    QTest::newRow("empty, first browse") << QStringList{""} << QStringList{""} << QStringList{""}
                                         << QStringList{""} << "";
    QTest::newRow("cleared after a cancel")
        << QStringList{R"(E:\data\b.txt)", ""} << QStringList{"", ""} << QStringList{data, data}
        << QStringList{R"(E:\data\b.txt)", R"(E:\data\b.txt)"} << "";
    const QStringList implausible{R"(E:\data\*.txt)", R"(E:\data\b?.txt)", R"("E:\data\c.txt")",
                                  R"(E:\data\<d>)", R"(E:\data\e|f)", "E:/data/g.txt"};
    for (const QString &text : implausible) {
        QTest::addRow("implausible %s", qPrintable(text))
            << QStringList{R"(E:\data\b.txt)", text} << QStringList{"", ""} << QStringList{data, data}
            << QStringList{R"(E:\data\b.txt)", R"(E:\data\b.txt)"} << text;
    }
    QTest::newRow("implausible on the first browse") << QStringList{R"(E:\data\*.txt)"} << QStringList{""}
                                                     << QStringList{""} << QStringList{""} << R"(E:\data\*.txt)";
    QTest::newRow("confirmed, then cleared")
        << QStringList{"", ""} << QStringList{R"(F:\picked\forum.txt)", ""}
        << QStringList{"", R"(F:\picked\)"} << QStringList{"", R"(F:\picked\forum.txt)"} << "";
    QTest::newRow("confirmed, then a missing folder")
        << QStringList{R"(E:\data\a.txt)", R"(D:\gone\x.txt)"} << QStringList{R"(F:\picked\forum.txt)", ""}
        << QStringList{data, R"(F:\picked\)"} << QStringList{R"(E:\data\a.txt)", R"(D:\gone\x.txt)"}
        << R"(D:\gone\x.txt)";
    QTest::newRow("confirmed replaces the text") << QStringList{R"(E:\data\a.txt)"}
                                                 << QStringList{R"(F:\picked\forum.txt)"} << QStringList{data}
                                                 << QStringList{R"(E:\data\a.txt)"} << R"(F:\picked\forum.txt)";
    QTest::newRow("spaces around: folder with a space is missing")
        << QStringList{R"( E:\data\b.txt )"} << QStringList{""} << QStringList{""}
        << QStringList{R"( E:\data\b.txt )"} << R"( E:\data\b.txt )";
}

void tst_Controls::browseMemory()
{
    QFETCH(QStringList, texts);
    QFETCH(QStringList, outcomes);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, names);
    QFETCH(QString, finalText);

    const QSet<QString> existing{QStringLiteral(R"(E:\data\)"), QStringLiteral("C:")};
    FakeDialog dialog;
    FilenameEdit field;
    field.setBrowseDialog(dialog.seam());
    field.setBrowseMemory(
        BrowseMemory(FileNameRules::windows(), [&](const QString &folder) { return existing.contains(folder); }));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        field.setText(texts.at(i));
        dialog.answer(outcomes.at(i).isEmpty() ? QString() : outcomes.at(i));
        field.browse();
    }
    QCOMPARE(dialog.requests().size(), size_t(texts.size()));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QCOMPARE(dialog.requests().at(size_t(i)).initialFolder, folders.at(i));
        QCOMPARE(dialog.requests().at(size_t(i)).fileName, names.at(i));
    }
    QCOMPARE(field.FileName(), finalText);
}

void tst_Controls::browseMemoryOnDisk_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    // {dir} is an existing folder; {dir}/gone is not.
    QTest::newRow("existing folder") << "{dir}/fr_fr.txt" << "{dir}/" << "{dir}/fr_fr.txt";
    QTest::newRow("folder alone") << "{dir}/" << "{dir}/" << "";
    QTest::newRow("missing folder") << "{dir}/gone/fr_fr.txt" << "" << "{dir}/gone/fr_fr.txt";
    QTest::newRow("a file is no folder") << "{dir}/file.txt/x.txt" << "" << "{dir}/file.txt/x.txt";
    QTest::newRow("implausible") << "{dir}/*.txt" << "" << "";
}

void tst_Controls::browseMemoryOnDisk()
{
    QFETCH(QString, text);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("file.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    auto place = [&](QString s) {
        return QDir::toNativeSeparators(s.replace(QLatin1String("{dir}"), dir.path()));
    };

    FakeDialog dialog;
    FilenameEdit field;
    field.setBrowseDialog(dialog.seam());
    field.setText(place(text));
    field.browse();
    QCOMPARE(dialog.requests().size(), size_t(1));
    QCOMPARE(dialog.requests().front().initialFolder, place(folder));
    QCOMPARE(dialog.requests().front().fileName, place(name));
}

void tst_Controls::eachFieldHasItsOwnMemory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QDir::toNativeSeparators(dir.path() + QLatin1Char('/'));
    Host host;
    host.dialog.answer(folder + QStringLiteral("fr_fr.txt"));
    host.first->browse();
    QCOMPARE(host.first->FileName(), folder + QStringLiteral("fr_fr.txt"));

    host.second->browse();
    host.first->clear();
    host.first->browse();
    const auto &requests = host.dialog.requests();
    QCOMPARE(requests.size(), size_t(3));
    QCOMPARE(requests.at(1).initialFolder, QString());
    QCOMPARE(requests.at(1).fileName, QString());
    QCOMPARE(requests.at(2).initialFolder, folder);
    QCOMPARE(requests.at(2).fileName, folder + QStringLiteral("fr_fr.txt"));
}

void tst_Controls::dialogGetsTheFieldsFilter()
{
    FakeDialog dialog;
    FilenameEdit field;
    field.setBrowseDialog(dialog.seam());
    field.setFilter(QStringLiteral(u"Файл таблицы разделов|fr_fr.txt"));
    field.browse();
    QCOMPARE(dialog.requests().size(), size_t(1));
    QCOMPARE(dialog.requests().front().nameFilters, QStringList{QStringLiteral(u"Файл таблицы разделов (fr_fr.txt)")});
}

void tst_Controls::longPathFromDialog()
{
    Host host;
    QVERIFY(host.showActive());
    FilenameEdit *field = host.first;
    const QString path = QDir::toNativeSeparators(QStringLiteral("/") + QString(289, QLatin1Char('d'))
                                                  + QStringLiteral("/fr_fr.txt"));
    QCOMPARE(path.size(), 300);
    host.dialog.answer(path);
    QTest::keyClick(field, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(field->text(), path);
    QCOMPARE(field->FileName(), path);
    QCOMPARE(QApplication::focusWidget(), field);

    // Nothing typed or pasted gets in while the text is over the limit.
    field->end(false);
    QTest::keyClick(field, Qt::Key_X);
    QCOMPARE(field->text(), path);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text().size(), 299);
    QTest::keyClick(field, Qt::Key_X);
    QCOMPARE(field->text(), path.left(299));
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), path.left(299));
    // Typing over a selection removes it and adds nothing.
    field->setSelection(10, 5);
    QTest::keyClick(field, Qt::Key_Y);
    QCOMPARE(field->text(), path.left(10) + path.mid(15, 284));

    // Shortened below the limit, it takes characters again up to the limit.
    field->setSelection(0, 40);
    QTest::keyClick(field, Qt::Key_Delete);
    QCOMPARE(field->text().size(), 254);
    QTRY_COMPARE(field->maxLength(), FilenameEdit::typingLimit);
    field->end(false);
    QTest::keyClicks(field, QStringLiteral("xyz"));
    QCOMPARE(field->text().size(), 255);
    QVERIFY(field->text().endsWith(QLatin1Char('x')));
}

void tst_Controls::typingStopsAtLimit()
{
    FilenameEdit field;
    QCOMPARE(field.maxLength(), 255);
    field.setText(QString(250, QLatin1Char('a')));
    field.end(false);
    QTest::keyClicks(&field, QStringLiteral("bcdefgh"));
    QCOMPARE(field.text(), QString(250, QLatin1Char('a')) + QStringLiteral("bcdef"));
    // A paste is cut to what fits.
    field.setSelection(250, 5);
    QApplication::clipboard()->setText(QStringLiteral("123456789"));
    field.paste();
    QCOMPARE(field.text(), QString(250, QLatin1Char('a')) + QStringLiteral("12345"));
    // Setting a longer text the plain way cuts it, as the edit always does;
    // only a path set as a file name is taken whole.
    field.setText(QString(300, QLatin1Char('b')));
    QCOMPARE(field.text().size(), 255);
    field.setFileName(QString(300, QLatin1Char('c')));
    QCOMPARE(field.text(), QString(300, QLatin1Char('c')));
}

void tst_Controls::altDown_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("browses");
    QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier) << 1;
    QTest::newRow("Alt+Down on the keypad") << int(Qt::Key_Down) << int(Qt::AltModifier | Qt::KeypadModifier) << 1;
    QTest::newRow("Ctrl+Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier | Qt::ControlModifier) << 0;
    QTest::newRow("Shift+Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier | Qt::ShiftModifier) << 0;
    QTest::newRow("Down") << int(Qt::Key_Down) << int(Qt::NoModifier) << 0;
    QTest::newRow("Alt+Up") << int(Qt::Key_Up) << int(Qt::AltModifier) << 0;
}

void tst_Controls::altDown()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, browses);
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("abc"));
    host.first->setFocus();
    QTest::keyClick(host.handle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(int(host.dialog.requests().size()), browses);
    QCOMPARE(host.first->text(), QStringLiteral("abc"));
}

void tst_Controls::enterAndEscapeGoToTheWindow_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void tst_Controls::enterAndEscapeGoToTheWindow()
{
    // In a dialog, Enter reaches its default button and Escape cancels it:
    // the field offers both keys to the window and keeps nothing of them.
    QFETCH(int, key);
    QDialog dialog;
    auto *field = new FilenameEdit(&dialog);
    field->setGeometry(10, 10, 257, 21);
    auto *ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setGeometry(10, 40, 80, 25);
    ok->setDefault(true);
    int defaultPresses = 0;
    connect(ok, &QPushButton::clicked, &dialog, [&] { ++defaultPresses; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    field->setFocus();
    field->setText(QStringLiteral("E:/data/fr_fr.txt"));
    field->setCursorPosition(3);
    bool rejected = false;
    connect(&dialog, &QDialog::rejected, &dialog, [&] { rejected = true; });

    QTest::keyClick(dialog.windowHandle(), Qt::Key(key));
    QCOMPARE(field->text(), QStringLiteral("E:/data/fr_fr.txt"));
    QCOMPARE(field->cursorPosition(), 3);
    QCOMPARE(defaultPresses, key == Qt::Key_Escape ? 0 : 1);
    QCOMPARE(rejected, key == Qt::Key_Escape);
}

void tst_Controls::enterAndEscapePressNoButton_data()
{
    enterAndEscapeGoToTheWindow_data();
}

void tst_Controls::enterAndEscapePressNoButton()
{
    QFETCH(int, key);
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("E:/data/fr_fr.txt"));
    host.first->setFocus();
    host.first->setCursorPosition(5);
    QTest::keyClick(host.handle(), Qt::Key(key));
    QCOMPARE(host.first->text(), QStringLiteral("E:/data/fr_fr.txt"));
    QCOMPARE(host.first->cursorPosition(), 5);
    QCOMPARE(host.clicks, 0);
    QVERIFY(host.dialog.requests().empty());
}

void tst_Controls::focusSelectsAll_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("selectsAll");
    QTest::newRow("Tab") << int(Qt::TabFocusReason) << true;
    QTest::newRow("Shift+Tab") << int(Qt::BacktabFocusReason) << true;
    QTest::newRow("mouse") << int(Qt::MouseFocusReason) << true;
    QTest::newRow("window activated") << int(Qt::ActiveWindowFocusReason) << true;
    QTest::newRow("other") << int(Qt::OtherFocusReason) << true;
    QTest::newRow("own context menu closed") << int(Qt::PopupFocusReason) << false;
}

void tst_Controls::focusSelectsAll()
{
    QFETCH(int, reason);
    QFETCH(bool, selectsAll);
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("E:/data/fr_fr.txt"));
    host.second->setFocus();
    host.first->setFocus(Qt::FocusReason(reason));
    QCOMPARE(QApplication::focusWidget(), host.first);
    QCOMPARE(host.first->selectedText(), selectsAll ? QStringLiteral("E:/data/fr_fr.txt") : QString());

    // An empty text selects nothing.
    host.first->clear();
    host.second->setFocus();
    host.first->setFocus(Qt::FocusReason(reason));
    QVERIFY(!host.first->hasSelectedText());
}

void tst_Controls::selectionHiddenWhileInactive()
{
    Host host;
    QVERIFY(host.showActive());
    FilenameEdit *field = host.first;
    field->setText(QStringLiteral("E:/data/fr_fr.txt"));
    field->setFocus();
    field->selectAll();
    const QImage activeSelected = rendered(field);

    // Another window takes over; the field keeps its selection but shows none.
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!host.isActiveWindow());
    QCOMPARE(field->selectedText(), QStringLiteral("E:/data/fr_fr.txt"));
    const QImage inactiveSelected = rendered(field);
    field->deselect();
    const QImage inactivePlain = rendered(field);
    QCOMPARE(inactiveSelected, inactivePlain);
    QVERIFY(activeSelected != inactivePlain);
}

void tst_Controls::buttonSitsInsideTheBorder()
{
    Host host;
    QVERIFY(host.showActive());
    FilenameEdit *field = host.first;
    BrowseButton *button = field->browseButton();
    QVERIFY(button);
    QCOMPARE(button->parentWidget(), field);
    QCOMPARE(button->width(), 18);
    QCOMPARE(BrowseButton::fixedWidth, 18);
    // Within the border, against its right side, as tall as the inside.
    const int border = button->y();
    QVERIFY(border > 0);
    QCOMPARE(field->width() - 1 - button->geometry().right(), border);
    QCOMPARE(field->height() - 1 - button->geometry().bottom(), border);
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);

    QCOMPARE(field->cursor().shape(), Qt::IBeamCursor);
    QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);

    // A long text scrolls within the text area and never runs under it: with
    // the button out of the way, the field looks there as it does empty.
    field->end(false);
    button->hide();
    const QImage empty = rendered(field);
    field->setText(QString(80, QLatin1Char('W')));
    field->end(false);
    const QImage full = rendered(field);
    button->show();
    const QRect under = button->geometry();
    QCOMPARE(full.copy(under), empty.copy(under));
    // ... while the text reaches right up to it.
    const QRect before(under.left() - 12, under.top(), 12, under.height());
    QVERIFY(full.copy(before) != empty.copy(before));
}

void tst_Controls::buttonClickBrowses()
{
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("E:/data/fr_fr.txt"));
    host.second->setFocus();
    BrowseButton *button = host.first->browseButton();
    const QPoint spot = host.centreOf(button);

    QTest::mouseMove(host.handle(), spot);
    QTRY_COMPARE(button->frame(), BrowseButton::Hot);
    QTest::mousePress(host.handle(), Qt::LeftButton, {}, spot);
    QCOMPARE(button->frame(), BrowseButton::Pressed);
    // The press leaves the keyboard focus where it was.
    QCOMPARE(QApplication::focusWidget(), host.second);
    QVERIFY(host.dialog.requests().empty());

    QTest::mouseRelease(host.handle(), Qt::LeftButton, {}, spot);
    QCOMPARE(host.dialog.requests().size(), size_t(1));
    // After the (cancelled) dialog the field has the focus, all selected.
    QCOMPARE(QApplication::focusWidget(), host.first);
    QCOMPARE(host.first->selectedText(), QStringLiteral("E:/data/fr_fr.txt"));

    // Pressing on the text itself still focuses the field the usual way.
    host.second->setFocus();
    QTest::mouseMove(host.handle(), host.at(host.first, QPoint(20, 10)));
    QTest::mouseClick(host.handle(), Qt::LeftButton, {}, host.at(host.first, QPoint(20, 10)));
    QCOMPARE(QApplication::focusWidget(), host.first);
    QCOMPARE(host.first->focusPolicy(), Qt::StrongFocus);
    QCOMPARE(host.dialog.requests().size(), size_t(1));
}

void tst_Controls::buttonReleasedElsewhere()
{
    Host host;
    QVERIFY(host.showActive());
    host.second->setFocus();
    BrowseButton *button = host.first->browseButton();
    const QPoint spot = host.centreOf(button);
    const QPoint text = host.at(host.first, QPoint(20, 10));

    QTest::mouseMove(host.handle(), spot);
    QTest::mousePress(host.handle(), Qt::LeftButton, {}, spot);
    QCOMPARE(button->frame(), BrowseButton::Pressed);
    QTest::mouseMove(host.handle(), text);
    QCOMPARE(button->frame(), BrowseButton::Hot);
    QTest::mouseMove(host.handle(), spot);
    QCOMPARE(button->frame(), BrowseButton::Pressed);
    QTest::mouseMove(host.handle(), text);
    QTest::mouseRelease(host.handle(), Qt::LeftButton, {}, text);
    QVERIFY(host.dialog.requests().empty());
    QCOMPARE(QApplication::focusWidget(), host.second);
    QTRY_COMPARE(button->frame(), BrowseButton::Normal);
}

void tst_Controls::buttonFrames_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("shift");
    QTest::newRow("normal") << "normal" << 0 << 0;
    QTest::newRow("hot") << "hot" << 1 << 0;
    QTest::newRow("pressed") << "pressed" << 2 << 1;
    QTest::newRow("held off the button") << "held off" << 1 << 0;
}

void tst_Controls::buttonFrames()
{
    QFETCH(QString, state);
    QFETCH(int, frame);
    QFETCH(int, shift);
    Host host;
    QVERIFY(host.showActive());
    BrowseButton *button = host.first->browseButton();
    QVERIFY(!button->glyph().isNull());
    const QPoint spot = host.centreOf(button);
    const QPoint away = host.at(host.first, QPoint(20, 10));
    if (state != QLatin1String("normal"))
        QTest::mouseMove(host.handle(), spot);
    if (state == QLatin1String("pressed") || state == QLatin1String("held off"))
        QTest::mousePress(host.handle(), Qt::LeftButton, {}, spot);
    if (state == QLatin1String("held off"))
        QTest::mouseMove(host.handle(), away);
    QCOMPARE(int(button->frame()), frame);

    // The frame alone, blended over what the field shows there.
    const QImage frames = button->glyph();
    QImage clear(frames.size(), QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    button->setGlyph(clear);
    QImage expected = rendered(button);
    button->setGlyph(frames);
    const QPoint place((button->width() - 16) / 2 + shift, (button->height() - 16) / 2 + shift);
    GlyphBlend::draw(expected, place, Pictures::browseGlyph(), QRect(16 * frame, 0, 16, 16), false);
    QCOMPARE(rendered(button), expected);

    if (state == QLatin1String("pressed") || state == QLatin1String("held off"))
        QTest::mouseRelease(host.handle(), Qt::LeftButton, {}, state == QLatin1String("pressed") ? spot : away);
}

void tst_Controls::dropsAreRefused()
{
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("keep"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/fr_fr.txt"))});
    mime.setText(QStringLiteral("/tmp/fr_fr.txt"));
    const QPoint spot = host.at(host.first, QPoint(30, 10));

    // A plain line edit in the same window shows that such a drag would be
    // taken by a control that accepts drops.
    auto *plain = new QLineEdit(&host);
    plain->setGeometry(280, 10, 100, 21);
    plain->show();
    QDragEnterEvent control(host.centreOf(plain), Qt::CopyAction | Qt::LinkAction, &mime, Qt::NoButton,
                            Qt::NoModifier);
    QApplication::sendEvent(host.handle(), &control);
    QVERIFY(control.isAccepted());
    QDragLeaveEvent left;
    QApplication::sendEvent(host.handle(), &left);

    QDragEnterEvent enter(spot, Qt::CopyAction | Qt::LinkAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(host.handle(), &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(spot, Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No drag target set")));
    QApplication::sendEvent(host.handle(), &drop);
    QVERIFY(!drop.isAccepted());
    QCOMPARE(host.first->text(), QStringLiteral("keep"));
}

void tst_Controls::fileNameIsTheTextAsIs()
{
    FakeDialog dialog;
    FilenameEdit field;
    field.setBrowseDialog(dialog.seam());
    const QString padded = QStringLiteral(" /data/fr_fr.txt ");
    dialog.answer(padded);
    field.browse();
    QCOMPARE(field.FileName(), padded);
    QTest::keyClicks(&field, QStringLiteral("\"x"));
    QCOMPARE(field.FileName(), padded + QStringLiteral("\"x"));
}

// ------------------------------------------------------------ real dialog

void tst_Controls::realDialogIsSetUp()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QDir::toNativeSeparators(dir.path() + QLatin1Char('/'));
    // A folder part that does not exist: the name box shows it all the same,
    // and the dialog stays in the remembered folder.
    const QString name = QDir::toNativeSeparators(QStringLiteral("/gone-folder/fr_fr.txt"));
    const QStringList filters{QStringLiteral(u"Файл таблицы разделов (fr_fr.txt)")};
    QFileDialog dialog;
    OpenFileDialog::configure(dialog, BrowseRequest{folder, name, filters});

    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog.fileMode(), QFileDialog::AnyFile);
    QCOMPARE(dialog.nameFilters(), filters);
    QCOMPARE(dialog.selectedNameFilter(), filters.front());
    QCOMPARE(QDir(dialog.directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    QVERIFY(dialog.isSizeGripEnabled());

    QFileDialog plain;
    plain.setAcceptMode(QFileDialog::AcceptOpen);
    plain.setFileMode(QFileDialog::AnyFile);
    QCOMPARE(dialog.windowTitle(), plain.windowTitle());

    auto *box = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!box)
        QSKIP("the platform's own dialog is in use; its name box cannot be read");
    QCOMPARE(box->text(), name);
}

void tst_Controls::realDialogStartsInCurrentFolderWhenToldNone()
{
    // A dialog used before (by another field, say) must not decide where an
    // untold one opens.
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    {
        QFileDialog used;
        OpenFileDialog::configure(used, BrowseRequest{elsewhere.path() + QLatin1Char('/'), QString(), {}});
        QTimer::singleShot(0, &used, [&used] { used.selectFile(QStringLiteral("picked.txt")); static_cast<QDialog &>(used).accept(); });
        used.exec();
    }
    QFileDialog fresh;
    OpenFileDialog::configure(fresh, BrowseRequest{});
    QCOMPARE(QDir(fresh.directory()).canonicalPath(), QDir::current().canonicalPath());
}

void tst_Controls::realDialogConfirmAndCancel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QDir::toNativeSeparators(dir.path() + QLatin1Char('/'));

    // Answers the next modal open-file dialog: types a name and confirms, or
    // cancels.
    auto answerDialog = [](std::optional<QString> typed, BrowseRequest *seen) {
        auto *poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, typed, seen] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            if (seen) {
                seen->initialFolder = dialog->directory().path();
                seen->nameFilters = dialog->nameFilters();
                if (auto *box = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    seen->fileName = box->text();
            }
            if (!typed) {
                dialog->reject();
                return;
            }
            if (auto *box = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                box->setText(*typed);
            else
                dialog->selectFile(*typed);
            static_cast<QDialog *>(dialog)->accept();
        });
        poll->start();
    };

    // Through the field, as Alt+Down opens it: the field's text is where it
    // starts, the name typed (a file that does not exist yet) is taken whole.
    FilenameEdit field;
    field.setFilter(QStringLiteral(u"Файл таблицы тем|forum.txt"));
    field.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field));
    field.setText(folder + QStringLiteral("old.txt"));
    BrowseRequest seen;
    answerDialog(QStringLiteral("new.txt"), &seen);
    QTest::keyClick(&field, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(field.text(), folder + QStringLiteral("new.txt"));
    QCOMPARE(QDir(seen.initialFolder).canonicalPath(), QDir(dir.path()).canonicalPath());
    QCOMPARE(seen.nameFilters, QStringList{QStringLiteral(u"Файл таблицы тем (forum.txt)")});
    if (!seen.fileName.isNull())
        QCOMPARE(seen.fileName, folder + QStringLiteral("old.txt"));

    // Cancelled: nothing changes.
    answerDialog(std::nullopt, nullptr);
    QTest::keyClick(&field, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(field.text(), folder + QStringLiteral("new.txt"));
    QCOMPARE(field.browseMemory().fileName(), folder + QStringLiteral("new.txt"));
    QCOMPARE(field.browseMemory().initialFolder(), folder);
}

// ------------------------------------------------------------- glyph button

void tst_Controls::faceForState_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("hover");
    QTest::addColumn<bool>("focus");
    QTest::addColumn<GlyphButton::Face>("face");
    QTest::addColumn<int>("state"); // of Enabled, Sunken, MouseOver
    QTest::addColumn<bool>("defaultFace");
    using F = GlyphButton::Face;
    const int enabled = QStyle::State_Enabled;
    QTest::newRow("normal") << true << false << false << false << F::Normal << enabled << false;
    QTest::newRow("hot") << true << false << true << false << F::Hot << (enabled | QStyle::State_MouseOver) << false;
    QTest::newRow("focused") << true << false << false << true << F::Default << enabled << true;
    QTest::newRow("hot wins over focused") << true << false << true << true << F::Hot
                                           << (enabled | QStyle::State_MouseOver) << false;
    QTest::newRow("pressed wins over hot") << true << true << true << true << F::Pressed
                                           << (enabled | QStyle::State_Sunken) << false;
    QTest::newRow("disabled wins over all") << false << false << true << false << F::Disabled << 0 << false;
}

void tst_Controls::faceForState()
{
    QFETCH(bool, enabled);
    QFETCH(bool, down);
    QFETCH(bool, hover);
    QFETCH(bool, focus);
    QFETCH(GlyphButton::Face, face);
    QFETCH(int, state);
    QFETCH(bool, defaultFace);

    RecordingStyle style;
    Host host;
    host.button->setStyle(&style);
    QVERIFY(host.showActive());
    if (focus)
        host.button->setFocus();
    host.button->setAttribute(Qt::WA_UnderMouse, hover);
    host.button->setDown(down);
    host.button->setEnabled(enabled);
    QCOMPARE(host.button->face(), face);

    style.reset();
    host.button->repaint();
    QCOMPARE(style.faces.size(), size_t(1));
    const int relevant = QStyle::State_Enabled | QStyle::State_Sunken | QStyle::State_MouseOver;
    QCOMPARE(int(style.faces.front() & relevant), state);
    QCOMPARE(style.features.front().testFlag(QStyleOptionButton::DefaultButton), defaultFace);
    // A focused button shows its focus rectangle whatever its face.
    QCOMPARE(style.focusRects, focus ? 1 : 0);
    host.button->setStyle(nullptr);
}

void tst_Controls::glyphBlendedOverFace_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("caption");
    QTest::newRow("normal") << "normal" << QStringLiteral(u"Начать обработку");
    QTest::newRow("pressed") << "pressed" << QStringLiteral(u"Начать обработку");
    QTest::newRow("disabled: half alpha") << "disabled" << QStringLiteral(u"Начать обработку");
    QTest::newRow("empty caption") << "normal" << QString();
}

void tst_Controls::glyphBlendedOverFace()
{
    QFETCH(QString, state);
    QFETCH(QString, caption);
    QWidget window;
    window.resize(400, 40);
    GlyphButton button(caption, &window);
    button.setGeometry(8, 8, 377, 25);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (state == QLatin1String("pressed"))
        button.setDown(true);
    if (state == QLatin1String("disabled"))
        button.setEnabled(false);

    // What lies under the glyph: the same button with a clear glyph.
    QImage clear(16, 16, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    button.setGlyph(clear);
    const QImage under = rendered(&button);
    const QImage glyph = everyAlphaGlyph();
    button.setGlyph(glyph);
    const QImage drawn = rendered(&button);

    // Worked out from the button's size and its measured caption.
    const WrappedCaption measured(caption, button.font(), 377 + 2 - 20);
    const int gap = caption.isEmpty() ? 0 : 4;
    const int shift = state == QLatin1String("pressed") ? 1 : 0;
    const QPoint place((377 - (16 + gap + measured.size().width()) + 1) / 2 + shift, 5 + shift);
    QCOMPARE(button.currentLayout().glyph().topLeft(), place);

    QImage expected = under;
    GlyphBlend::draw(expected, place, glyph, glyph.rect(), state == QLatin1String("disabled"));
    QCOMPARE(drawn, expected);
}

void tst_Controls::disabledCaptionIsEmbossed()
{
    QWidget window;
    window.resize(400, 40);
    QPalette colours = window.palette();
    // Colours no face is drawn in, so that the caption's pixels stand out.
    const QColor light(250, 10, 200), dark(10, 200, 250), text(200, 120, 10);
    colours.setColor(QPalette::Light, light);
    colours.setColor(QPalette::Dark, dark);
    colours.setColor(QPalette::WindowText, text);
    window.setPalette(colours);
    QFont font = window.font();
    font.setStyleStrategy(QFont::NoAntialias);
    window.setFont(font);
    GlyphButton button(QStringLiteral(u"Начать обработку"), &window);
    button.setGeometry(8, 8, 377, 25);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QRect area = button.currentLayout().caption().adjusted(0, 0, 1, 1);
    const QSet<QPoint> enabledInk = pixelsOf(rendered(&button), area, text.rgb());
    QVERIFY(!enabledInk.isEmpty());
    QVERIFY(pixelsOf(rendered(&button), area, light.rgb()).isEmpty());

    button.setEnabled(false);
    const QImage disabled = rendered(&button);
    const QSet<QPoint> shadow = pixelsOf(disabled, area, dark.rgb());
    const QSet<QPoint> highlight = pixelsOf(disabled, area, light.rgb());
    // The shadow colour exactly where the enabled caption was; the highlight
    // one pixel right and down of it, wherever the shadow does not cover it.
    QCOMPARE(shadow, enabledInk);
    QSet<QPoint> expectedHighlight;
    for (const QPoint &p : shadow) {
        if (!shadow.contains(p + QPoint(1, 1)))
            expectedHighlight.insert(p + QPoint(1, 1));
    }
    QCOMPARE(highlight, expectedHighlight);
}

void tst_Controls::buttonKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("clicks");
    QTest::newRow("Space") << int(Qt::Key_Space) << true << 1;
    QTest::newRow("Return") << int(Qt::Key_Return) << true << 1;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << true << 1;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true << 0;
    QTest::newRow("Space after being switched off") << int(Qt::Key_Space) << false << 0;
    QTest::newRow("Return after being switched off") << int(Qt::Key_Return) << false << 0;
}

void tst_Controls::buttonKeys()
{
    QFETCH(int, key);
    QFETCH(bool, enabled);
    QFETCH(int, clicks);
    Host host;
    QVERIFY(host.showActive());
    host.button->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), host.button);
    if (!enabled) {
        host.button->setEnabled(false);
        host.button->setEnabled(true);
    }
    QTest::keyClick(host.handle(), Qt::Key(key));
    QCOMPARE(host.clicks, clicks);
}

void tst_Controls::noAccessKey()
{
    Host host;
    host.button->setCaption(QStringLiteral("&Start"));
    // A plain button beside it shows that Alt+G would reach a mnemonic.
    auto *plain = new QPushButton(QStringLiteral("&Go"), &host);
    plain->setGeometry(300, 10, 60, 25);
    int plainClicks = 0;
    connect(plain, &QPushButton::clicked, plain, [&] { ++plainClicks; });
    QVERIFY(host.showActive());
    host.first->setFocus();

    QTest::keyClick(host.handle(), Qt::Key_S, Qt::AltModifier);
    QTest::keyClick(host.handle(), Qt::Key_G, Qt::AltModifier);
    QTRY_COMPARE(plainClicks, 1);
    QCOMPARE(host.clicks, 0);
    QCOMPARE(host.button->text(), QStringLiteral("&Start"));
}

void tst_Controls::mouseReleasedOffButton()
{
    Host host;
    QVERIFY(host.showActive());
    const QPoint on = host.centreOf(host.button);
    const QPoint off = host.at(host.button, QPoint(20, -10));
    QTest::mouseMove(host.handle(), on);
    QTest::mousePress(host.handle(), Qt::LeftButton, {}, on);
    QCOMPARE(host.button->face(), GlyphButton::Face::Pressed);
    QTest::mouseMove(host.handle(), off);
    QVERIFY(host.button->face() != GlyphButton::Face::Pressed);
    QTest::mouseRelease(host.handle(), Qt::LeftButton, {}, off);
    QCOMPARE(host.clicks, 0);

    QTest::mouseMove(host.handle(), on);
    QTest::mouseClick(host.handle(), Qt::LeftButton, {}, on);
    QCOMPARE(host.clicks, 1);
    // A press with the right button is no click.
    QTest::mouseClick(host.handle(), Qt::RightButton, {}, on);
    QCOMPARE(host.clicks, 1);
}

void tst_Controls::doubleClickIsTwoClicks()
{
    Host host;
    QVERIFY(host.showActive());
    const QPoint on = host.centreOf(host.button);
    QTest::mouseMove(host.handle(), on);
    QTest::mouseDClick(host.handle(), Qt::LeftButton, {}, on);
    QCOMPARE(host.clicks, 2);
}

void tst_Controls::focusLeavesDisabledButton()
{
    Host host;
    QVERIFY(host.showActive());
    host.first->setText(QStringLiteral("E:/data/fr_fr.txt"));
    host.second->setText(QStringLiteral("E:/data/forum.txt"));
    const QPoint on = host.centreOf(host.button);
    QTest::mouseMove(host.handle(), on);
    QTest::mouseClick(host.handle(), Qt::LeftButton, {}, on);
    QCOMPARE(QApplication::focusWidget(), host.button);

    host.button->setEnabled(false);
    QCOMPARE(QApplication::focusWidget(), nullptr);
    QVERIFY(host.isActiveWindow());
    QCOMPARE(host.first->selectedText(), QString());
    QCOMPARE(host.second->selectedText(), QString());
    host.button->setEnabled(true);
    QCOMPARE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(host.handle(), Qt::Key_Space);
    QCOMPARE(host.clicks, 1);

    // Tab brings the focus back into the window's controls.
    QTest::keyClick(host.handle(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != nullptr);
}

void tst_Controls::handCursor()
{
    GlyphButton button(QStringLiteral("x"));
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!button.autoDefault());
    QVERIFY(!button.isDefault());
    QCOMPARE(button.focusPolicy(), Qt::StrongFocus);
}

// ------------------------------------------------------------------ pictures

void tst_Controls::picturesLoaded()
{
    const QImage browse = Pictures::browseGlyph();
    QVERIFY2(!browse.isNull(), "the pictures are not compiled into this program");
    QCOMPARE(browse.size(), QSize(48, 16));
    QCOMPARE(browse.format(), QImage::Format_ARGB32);
    QVERIFY(browse.hasAlphaChannel());
    const QImage start = Pictures::startGlyph();
    QVERIFY(!start.isNull());
    QCOMPARE(start.size(), QSize(16, 16));
    for (const int size : Pictures::programIconSizes()) {
        const QImage icon = Pictures::programIcon(size);
        QVERIFY2(!icon.isNull(), qPrintable(QString::number(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
    }
    QCOMPARE(Pictures::programIcon().availableSizes().size(), Pictures::programIconSizes().size());

    // A field and a button pick their glyphs up without being told.
    FilenameEdit field;
    QCOMPARE(field.browseButton()->glyph(), browse);
}

void tst_Controls::browseGlyphFrames()
{
    const QImage strip = Pictures::browseGlyph();
    QVERIFY(!strip.isNull());
    const QImage normal = strip.copy(0, 0, 16, 16), hot = strip.copy(16, 0, 16, 16), pressed = strip.copy(32, 0, 16, 16);
    // The sheet covers columns 3 to 13 and rows 1 to 14; the magnifier's
    // handle reaches out to columns 1 and 2 in rows 11 to 14.
    bool handle = false;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            if (qAlpha(normal.pixel(x, y)) != 0)
                QVERIFY(x >= 3 && x <= 13 && y >= 1 && y <= 14);
            if (qAlpha(hot.pixel(x, y)) != 0 && x < 3) {
                QVERIFY(x >= 1 && y >= 11 && y <= 14);
                handle = true;
            }
        }
    }
    QVERIFY(handle);
    QVERIFY(hot != normal);
    // Pressed: the hot picture, darker and greyer, pixel by pixel.
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QColor h = QColor::fromRgba(hot.pixel(x, y)), p = QColor::fromRgba(pressed.pixel(x, y));
            QCOMPARE(p.alpha(), h.alpha());
            if (h.alpha() == 0)
                continue;
            QVERIFY(p.value() < h.value() || h.value() == 0);
            QVERIFY(p.hsvSaturation() <= h.hsvSaturation());
        }
    }
}

void tst_Controls::startGlyphPicture()
{
    const QImage glyph = Pictures::startGlyph();
    QVERIFY(!glyph.isNull());
    int opaque = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb p = glyph.pixel(x, y);
            if (qAlpha(p) == 255) {
                ++opaque;
                continue;
            }
            // Anything not solid is shadow: black at 8 to 20 percent.
            if (qAlpha(p) != 0) {
                QCOMPARE(p & 0xFFFFFF, 0u);
                QVERIFY(qAlpha(p) >= 20 && qAlpha(p) <= 51);
            }
        }
    }
    QVERIFY(opaque > 0);
    // The upper arrow's tip; the lower arrow's shaft at the right edge and its tip.
    QCOMPARE(qAlpha(glyph.pixel(13, 3)), 255);
    for (int y = 7; y <= 9; ++y)
        QCOMPARE(qAlpha(glyph.pixel(15, y)), 255);
    QCOMPARE(qAlpha(glyph.pixel(3, 11)), 255);
    for (int y = 0; y < 16; ++y)
        QVERIFY(qAlpha(glyph.pixel(0, y)) < 255);
}

void tst_Controls::programIconFile()
{
    // The Windows icon: 16, 32 and 48 pixels in 256 colours, and 16, 24, 32,
    // 48 and 128 in 32-bit colour.
    QFile file(QStringLiteral(REINDEX_SOURCE_DIR "/resources/reindex.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() > 6);
    auto word = [&](qsizetype at) { return int(quint8(ico[at]) | quint8(ico[at + 1]) << 8); };
    QCOMPARE(word(0), 0);
    QCOMPARE(word(2), 1);
    QList<QPair<int, int>> entries;
    for (int i = 0; i < word(4); ++i) {
        const qsizetype at = 6 + 16 * i;
        QVERIFY(ico.size() >= at + 16);
        const int side = quint8(ico[at]) == 0 ? 256 : quint8(ico[at]);
        entries.append({side, word(at + 6)});
    }
    const QList<QPair<int, int>> expected{{16, 8}, {32, 8}, {48, 8}, {16, 32}, {24, 32}, {32, 32}, {48, 32}, {128, 32}};
    QCOMPARE(entries, expected);
}

QTEST_MAIN(tst_Controls)
#include "tst_Controls.moc"
